# A counting loop with integer arithmetic and MOD: the run loop and simple assignments.
def main():
    total = 0
    for i in range(1, 30000001):
        total = (total + i * 2) % 1000003
    print(total)
main()
