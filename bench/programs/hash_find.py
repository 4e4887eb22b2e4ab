# The twin of a hash!: a list with a dict from value to first position.
b = []
index = {}
for i in range(1, 100001):
    index.setdefault(i * 3, len(b))
    b.append(i * 3)
n = 0
for i in range(1, 2001):
    if index.get(i * 150) is not None:
        n += 1
