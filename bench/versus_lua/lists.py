# One million list appends, a loop over them and indexing of an array of that size.
def main():
    items = []
    for i in range(1000000):
        items.append(i)
    total = 0
    for e in items:
        total += e
    cells = [0] * 1000000
    for i in range(1000000):
        cells[i] = i * 2
    for i in range(1000000):
        total += cells[i]
    print(total)
main()
