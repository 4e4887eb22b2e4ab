b = []
for i in range(1, 100001):
    b.append(i * 3)
n = 0
for i in range(1, 2001):
    if (i * 150) in b:
        n += 1
