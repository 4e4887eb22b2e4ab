def main():
    n = 0
    for i in range(1, 3001):
        for j in range(1, 3001):
            n = n + j


main()
