# A text of about 228 KB built by appending, then read back with slices and searched with find.
def main():
    text = ""
    for i in range(1, 35001):
        text = text + "ab" + str(i)
    found = 0
    for i in range(200000):
        start = (i * 7) % 200000
        piece = text[start:start + 8]
        if piece.find("b1") >= 0:
            found += 1
    print(len(text), found, text.find("ab34999"))
main()
