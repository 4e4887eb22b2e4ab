local sqrt, sin = math.sqrt, math.sin
local x = 0.0
for i = 1, 2000000 do x = x + sqrt(i) + sin(i) end
