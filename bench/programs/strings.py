parts = []
for i in range(1000000):
    parts.append("ab")
s = "".join(parts)
len(s)
