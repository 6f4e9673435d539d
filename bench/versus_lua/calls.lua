-- 20 million calls of a procedure with three and four parameters.
local function mix3(a, b, c) return a + b - c end
local function mix4(a, b, c, d) return a - b + c - d end
local total = 0
for i = 1, 10000000 do
  total = total + mix3(i, 2, 3) + mix4(i, 1, 2, 3)
end
print(total)
