import sys


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        text = f.read()
    words = text.split()
    len(words)


main()
