import random
random.seed(1)
b = []
for i in range(1000000):
    b.append(random.randint(1, 1000000))
b.sort()
