from array import array

v = array("i", range(1, 1000001))
s = 0
for e in v:
    s = s + e
