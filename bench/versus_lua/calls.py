# 20 million calls of a procedure with three and four parameters.
def mix3(a, b, c):
    return a + b - c
def mix4(a, b, c, d):
    return a - b + c - d
def main():
    total = 0
    for i in range(1, 10000001):
        total = total + mix3(i, 2, 3) + mix4(i, 1, 2, 3)
    print(total)
main()
