-- A text of about 228 KB built by appending, then read back with sub and searched with find.
local text = ""
for i = 1, 35000 do
  text = text .. "ab" .. i
end
local found = 0
for i = 0, 199999 do
  local piece = string.sub(text, (i * 7) % 200000 + 1, (i * 7) % 200000 + 8)
  if string.find(piece, "b1", 1, true) then found = found + 1 end
end
print(#text .. " " .. found .. " " .. (string.find(text, "ab34999", 1, true) - 1))
