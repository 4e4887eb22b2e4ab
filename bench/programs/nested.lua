local n = 0
for i = 1, 3000 do
  for j = 1, 3000 do n = n + j end
end
