m = {}
for i in range(1, 1000001):
    m[str(1000000000 + i)] = i
s = 0
for i in range(1, 1000001):
    s += m.get(str(1000000000 + i))
