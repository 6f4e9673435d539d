-- One million table appends, an ipairs over them and indexing of an array of that size.
local items = {}
for i = 0, 999999 do
  items[#items + 1] = i
end
local sum = 0
for _, e in ipairs(items) do
  sum = sum + e
end
local cells = {}
for i = 0, 999999 do
  cells[i] = i * 2
end
for i = 0, 999999 do
  sum = sum + cells[i]
end
print(sum)
