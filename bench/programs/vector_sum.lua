local v = {}
for i = 1, 1000000 do v[i] = i end
local s = 0
for _, e in ipairs(v) do s = s + e end
