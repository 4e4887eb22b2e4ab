class O:
    def __init__(self):
        self.n = 0
        self.step = 1


def main():
    o = O()
    for _ in range(3000000):
        o.n = o.n + o.step


main()
