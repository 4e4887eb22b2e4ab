local m = {}
for i = 1, 1000000 do m[tostring(1000000000 + i)] = i end
local s = 0
for i = 1, 1000000 do s = s + m[tostring(1000000000 + i)] end
