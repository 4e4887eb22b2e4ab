local o = {n = 0, step = 1}
for _ = 1, 3000000 do o.n = o.n + o.step end
