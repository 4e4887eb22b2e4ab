import re
import sys


def main():
    with open(sys.argv[1], encoding="utf-8", newline="") as f:
        text = f.read()
    if re.fullmatch(r"(?:[^,\n]*+(?:,[^,\n]*+)*+\n)++", text) is None:
        sys.exit(1)


main()
