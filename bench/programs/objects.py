class O:
    def __init__(self):
        self.x = 0
        self.y = 1
o = O()
for _ in range(3000000):
    o.x = o.x + o.y
