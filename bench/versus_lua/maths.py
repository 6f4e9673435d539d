# sin, cos and sqrt in a ten-million-pass loop.
from math import sin, cos, sqrt
def main():
    total = 0.0
    for i in range(1, 10000001):
        total += sin(i) * cos(i) + sqrt(i)
    print(int(total))
main()
