-- A counting loop with integer arithmetic and MOD: the run loop and simple assignments.
local sum = 0
for i = 1, 30000000 do
  sum = (sum + i * 2) % 1000003
end
print(sum)
