-- A text built by appending one piece at a time.
local text = ""
for i = 1, 20000 do
  text = text .. "x" .. i
end
print(#text)
