import math


def main():
    x = 0.0
    for i in range(1, 2000001):
        x = x + math.sqrt(i) + math.sin(i)


main()
