-- table.sort on 200,000 pseudo-random numbers.
local numbers = {}
local seed = 12345
for i = 1, 200000 do
  seed = (seed * 75 + 74) % 65537
  numbers[i] = seed
end
table.sort(numbers)
print(numbers[1] .. " " .. numbers[#numbers])
