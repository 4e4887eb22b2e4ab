local f = assert(io.open(arg[1], "rb"))
local text = f:read("a")
f:close()
local words = {}
for w in text:gmatch("%S+") do words[#words + 1] = w end
local n = #words
