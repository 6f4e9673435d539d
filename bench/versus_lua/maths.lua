-- sin, cos and sqrt in a ten-million-pass loop.
local sin, cos, sqrt = math.sin, math.cos, math.sqrt
local sum = 0
for i = 1, 10000000 do
  sum = sum + sin(i) * cos(i) + sqrt(i)
end
print(math.floor(sum))
