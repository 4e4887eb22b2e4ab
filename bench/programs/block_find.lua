local b = {}
for i = 1, 100000 do b[#b + 1] = i * 3 end
local n = 0
for i = 1, 2000 do
  local v = i * 150
  for j = 1, #b do if b[j] == v then n = n + 1 break end end
end
