-- A counting loop with a running sum: the run loop and simple assignments.
local sum = 0
for i = 1, 3000000 do
  sum = sum + i * 2
end
print(sum)
