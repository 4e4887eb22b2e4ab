local o = {x = 0, y = 1}
for _ = 1, 3000000 do o.x = o.x + o.y end
