math.randomseed(1)
local b = {}
for i = 1, 1000000 do b[#b + 1] = math.random(1, 1000000) end
table.sort(b)
