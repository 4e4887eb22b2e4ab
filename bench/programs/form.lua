local parts = {}
for i = 1, 1000000 do parts[#parts + 1] = tostring(i) end
local s = table.concat(parts)
local n = #s
