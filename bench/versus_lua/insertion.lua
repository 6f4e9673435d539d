-- Insertion sort of 12,000 pseudo-random integers held in a table.
local count = 12000
local items = {}
local seed = 12345
for i = 0, count - 1 do
  seed = (seed * 75 + 74) % 65537
  items[i] = seed % 10000
end
for i = 1, count - 1 do
  local key = items[i]
  local j = i - 1
  while j >= 0 do
    if items[j] <= key then break end
    items[j + 1] = items[j]
    j = j - 1
  end
  items[j + 1] = key
end
print(items[0] .. " " .. items[count - 1])
