local m = {}
for i = 1, 1000000 do m[i] = i end
local s = 0
for i = 1, 1000000 do s = s + m[i] end
