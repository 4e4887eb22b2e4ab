-- The twin of a hash!: an array with a table from value to first position.
local b, index = {}, {}
for i = 1, 100000 do
  b[#b + 1] = i * 3
  if index[i * 3] == nil then index[i * 3] = #b end
end
local n = 0
for i = 1, 2000 do if index[i * 150] then n = n + 1 end end
