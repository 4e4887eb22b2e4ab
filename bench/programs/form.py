def main():
    parts = []
    for i in range(1, 1000001):
        parts.append(str(i))
    s = "".join(parts)
    len(s)


main()
