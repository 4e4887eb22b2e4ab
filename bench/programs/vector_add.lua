local n = 1000000
local a, b = {}, {}
for i = 1, n do a[i] = i * 0.5; b[i] = i * 0.25 end
for _ = 1, 100 do
    local c = {}
    for i = 1, n do c[i] = a[i] + b[i] end
end
