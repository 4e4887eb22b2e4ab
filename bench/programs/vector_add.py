from array import array

n = 1000000
a = array("d", (i * 0.5 for i in range(1, n + 1)))
b = array("d", (i * 0.25 for i in range(1, n + 1)))
for _ in range(100):
    c = array("d", [x + y for x, y in zip(a, b)])
