# list.sort on 200,000 pseudo-random numbers.
def main():
    numbers = []
    seed = 12345
    for i in range(200000):
        seed = (seed * 75 + 74) % 65537
        numbers.append(seed)
    numbers.sort()
    print(numbers[0], numbers[-1])
main()
