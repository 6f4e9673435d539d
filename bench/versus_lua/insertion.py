# Insertion sort of 12,000 pseudo-random integers held in a list.
def main():
    count = 12000
    items = [0] * count
    seed = 12345
    for i in range(count):
        seed = (seed * 75 + 74) % 65537
        items[i] = seed % 10000
    for i in range(1, count):
        key = items[i]
        j = i - 1
        while j >= 0:
            if items[j] <= key:
                break
            items[j + 1] = items[j]
            j -= 1
        items[j + 1] = key
    print(items[0], items[count - 1])
main()
