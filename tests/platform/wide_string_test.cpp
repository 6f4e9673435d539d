// The char16_t string functions: copying and searching, case mapping and classes,
// number reading and writing, and swprintf with the device's %s / %S meaning.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <functional>
#include <limits>
#include <string>

#include "platform/kernel/memory.h"
#include "platform/kernel/wide_string.h"

namespace {

std::string show(const std::u16string& text) {
  std::string out;
  for (char16_t unit : text) {
    if (unit >= 0x20 && unit < 0x7F) {
      out += static_cast<char>(unit);
    } else {
      char code[12];
      std::snprintf(code, sizeof code, "\\u%04X", static_cast<unsigned>(unit));
      out += code;
    }
  }
  return out;
}

int sign(int value) { return (value > 0) - (value < 0); }

TEST(WideString, CopyConcatenateAndLength) {
  WCHAR buffer[16];
  EXPECT_EQ(crt::wcslen(u"hello"), 5u);
  EXPECT_EQ(crt::wcslen(u""), 0u);
  EXPECT_EQ(crt::wcslen(nullptr), 0u);
  EXPECT_EQ(crt::wcscpy(buffer, u"ab"), buffer);
  EXPECT_EQ(crt::wcscat(buffer, u"cd"), buffer);
  EXPECT_EQ(std::u16string(buffer), u"abcd");
  crt::wcsncat(buffer, u"efgh", 2);
  EXPECT_EQ(std::u16string(buffer), u"abcdef");

  // wcsncpy pads with nulls up to the count and adds none when the source fills it.
  for (WCHAR& unit : buffer) unit = u'#';
  crt::wcsncpy(buffer, u"xy", 5);
  EXPECT_EQ(std::u16string(buffer, 6), std::u16string(u"xy\0\0\0#", 6));
  crt::wcsncpy(buffer, u"long text", 3);
  EXPECT_EQ(std::u16string(buffer, 4), std::u16string(u"lon\0", 4));
}

TEST(WideString, Comparisons) {
  struct Case {
    const WCHAR* left;
    const WCHAR* right;
    int exact;     // sign of wcscmp
    int folded;    // sign of _wcsicmp
  };
  const Case cases[] = {
      {u"abc", u"abc", 0, 0},
      {u"abc", u"ABC", 1, 0},
      {u"\u00C9cole", u"\u00E9COLE", -1, 0},  // Latin-1 letters fold too
      {u"\u0160\u017D", u"\u0161\u017E", -1, 0},
      {u"ab", u"abc", -1, -1},
      {u"\uFFFF", u"a", 1, 1},  // units compare unsigned
      {u"_", u"A", 1, -1},      // folded to lower case: '_' sorts before 'a'
      {u"", u"", 0, 0},
  };
  for (const Case& row : cases) {
    std::string name = show(row.left) + " / " + show(row.right);
    EXPECT_EQ(sign(crt::wcscmp(row.left, row.right)), row.exact) << name;
    EXPECT_EQ(sign(crt::wcscmp(row.right, row.left)), -row.exact) << name;
    EXPECT_EQ(sign(crt::_wcsicmp(row.left, row.right)), row.folded) << name;
    EXPECT_EQ(sign(crt::_wcsicmp(row.right, row.left)), -row.folded) << name;
  }
  EXPECT_EQ(crt::wcsncmp(u"abcX", u"abcY", 3), 0);
  EXPECT_LT(crt::wcsncmp(u"abcX", u"abcY", 4), 0);
  EXPECT_EQ(crt::_wcsnicmp(u"abcX", u"ABCy", 3), 0);
  EXPECT_NE(crt::_wcsnicmp(u"abcX", u"ABCy", 4), 0);
}

TEST(WideString, Searching) {
  const WCHAR* text = u"one two one";
  EXPECT_EQ(crt::wcschr(text, u'o'), text);
  EXPECT_EQ(crt::wcsrchr(text, u'o'), text + 8);
  EXPECT_EQ(crt::wcschr(text, u'z'), nullptr);
  EXPECT_EQ(crt::wcsrchr(text, u'z'), nullptr);
  EXPECT_EQ(crt::wcschr(text, u'\0'), text + 11);  // the terminator can be found
  EXPECT_EQ(crt::wcsrchr(text, u'\0'), text + 11);
  EXPECT_EQ(crt::wcsstr(text, u"one"), text);
  EXPECT_EQ(crt::wcsstr(text, u"two"), text + 4);
  EXPECT_EQ(crt::wcsstr(text, u"ones"), nullptr);
  EXPECT_EQ(crt::wcsstr(text, u""), text);
  EXPECT_EQ(crt::wcsstr(u"", u""), crt::wcsstr(u"", u""));
  EXPECT_NE(crt::wcsstr(u"", u""), nullptr);
  EXPECT_EQ(crt::wcsstr(u"", u"a"), nullptr);
  WCHAR writable[] = u"a-b";
  *crt::wcschr(writable, u'-') = u'+';
  EXPECT_EQ(std::u16string(writable), u"a+b");
}

TEST(WideString, DuplicateHasTheExactSize) {
  const std::u16string texts[] = {u"", u"x", u"caf\u00E9 \U0001F600"};
  for (const std::u16string& text : texts) {
    WCHAR* copy = crt::_wcsdup(text.c_str());
    ASSERT_NE(copy, nullptr) << show(text);
    EXPECT_EQ(std::u16string(copy), text);
    EXPECT_EQ(crt::_msize(copy), (text.size() + 1) * sizeof(WCHAR)) << show(text);
    crt::free(copy);
  }
  EXPECT_EQ(crt::_wcsdup(nullptr), nullptr);
}

TEST(WideString, CaseMappingTable) {
  struct Case {
    WCHAR lower;
    WCHAR upper;
  };
  const Case pairs[] = {
      {u'a', u'A'},           {u'z', u'Z'},           {0x00E0, 0x00C0}, {0x00FE, 0x00DE}, {0x00FF, 0x0178},
      {0x0161, 0x0160},       {0x0153, 0x0152},       {0x017E, 0x017D}, {0x0192, 0x0191}, {0x0101, 0x0100},
      {0x013A, 0x0139},       {0x0148, 0x0147},       {0x0177, 0x0176}, {0x01CE, 0x01CD}, {0x03B1, 0x0391},
      {0x03AC, 0x0386},       {0x03CE, 0x038F},       {0x0430, 0x0410}, {0x0450, 0x0400}, {0x04CF, 0x04C0},
      {0x04C2, 0x04C1},       {0x0561, 0x0531},       {0x1EFF, 0x1EFE}, {0xFF41, 0xFF21},
  };
  for (const Case& row : pairs) {
    EXPECT_EQ(int{crt::towupper(row.lower)}, int{row.upper}) << std::hex << int{row.lower};
    EXPECT_EQ(int{crt::towlower(row.upper)}, int{row.lower}) << std::hex << int{row.upper};
  }
  // Characters with no single-unit partner on the device stay as they are.
  for (WCHAR unchanged : {u'1', u'_', WCHAR{0x00DF}, WCHAR{0x00B5}, WCHAR{0x00D7}, WCHAR{0x00F7}, WCHAR{0x0138},
                          WCHAR{0x4E2D}, WCHAR{0x20AC}}) {
    EXPECT_EQ(int{crt::towupper(unchanged)}, int{unchanged}) << std::hex << int{unchanged};
    EXPECT_EQ(int{crt::towlower(unchanged)}, int{unchanged}) << std::hex << int{unchanged};
  }
  EXPECT_EQ(int{crt::towupper(0x03C2)}, 0x03A3);  // final sigma
  EXPECT_EQ(int{crt::towlower(0x03A3)}, 0x03C3);
}

TEST(WideString, CaseMappingIsConsistentEverywhere) {
  // Over every unit: a mapped character maps back, and the case classes agree with the
  // mapping. A misaligned range in the tables breaks one of these.
  for (unsigned code = 0; code <= 0xFFFF; ++code) {
    auto c = static_cast<WCHAR>(code);
    WCHAR lower = crt::towlower(c), upper = crt::towupper(c);
    if (lower != c) {
      ASSERT_EQ(int{crt::towupper(lower)}, int{c}) << std::hex << code;
      ASSERT_NE(crt::iswctype(c, crt::_UPPER), 0) << std::hex << code;
      ASSERT_EQ(upper, c) << std::hex << code;
    }
    if (upper != c && c != 0x03C2) {
      ASSERT_EQ(int{crt::towlower(upper)}, int{c}) << std::hex << code;
      ASSERT_NE(crt::iswctype(c, crt::_LOWER), 0) << std::hex << code;
    }
    ASSERT_FALSE(crt::iswctype(c, crt::_UPPER) && crt::iswctype(c, crt::_LOWER)) << std::hex << code;
  }
}

TEST(WideString, UpperAndLowerInPlace) {
  WCHAR text[] = u"Stra\u00DFe \u00E9t\u00E9 \u0153uvre \u00FF \u0161\u017E abc 123 \u4E2D";
  EXPECT_EQ(crt::_wcsupr(text), text);
  EXPECT_EQ(std::u16string(text), u"STRA\u00DFE \u00C9T\u00C9 \u0152UVRE \u0178 \u0160\u017D ABC 123 \u4E2D");
  EXPECT_EQ(crt::_wcslwr(text), text);
  EXPECT_EQ(std::u16string(text), u"stra\u00DFe \u00E9t\u00E9 \u0153uvre \u00FF \u0161\u017E abc 123 \u4E2D");
  EXPECT_EQ(crt::_wcsupr(nullptr), nullptr);
}

TEST(WideString, CharacterClasses) {
  using namespace crt;
  struct Case {
    WCHAR unit;
    int classes;  // every class bit the unit has
  };
  const Case cases[] = {
      {u'A', 0x100 | _UPPER | _HEX},
      {u'g', 0x100 | _LOWER},
      {u'f', 0x100 | _LOWER | _HEX},
      {u'7', _DIGIT | _HEX},
      {u' ', _SPACE | _BLANK},
      {u'\t', _CONTROL | _SPACE | _BLANK},
      {u'\n', _CONTROL | _SPACE},
      {u'\0', _CONTROL},
      {0x7F, _CONTROL},
      {u'!', _PUNCT},
      {u'~', _PUNCT},
      {0x0081, _CONTROL},
      {0x00A0, _SPACE | _BLANK},
      {0x00A9, _PUNCT},
      {0x00C4, 0x100 | _UPPER},
      {0x00E4, 0x100 | _LOWER},
      {0x00DF, 0x100 | _LOWER},
      {0x00D7, _PUNCT},
      {0x0160, 0x100 | _UPPER},
      {0x0153, 0x100 | _LOWER},
      {0x20AC, _PUNCT},
      {0x2014, _PUNCT},
      {0x03A9, 0x100 | _UPPER},
      {0x4E2D, 0x100},
      {0x0661, _DIGIT},
      {0x3000, _SPACE | _BLANK},
      {0x0301, 0},
      {0xFFFF, 0},
  };
  const int every_class = 0x1FF;
  for (const Case& row : cases) {
    EXPECT_EQ(iswctype(row.unit, every_class), row.classes) << "unit 0x" << std::hex << int{row.unit};
    EXPECT_EQ(iswctype(row.unit, _ALPHA) != 0, (row.classes & 0x100) != 0) << "unit 0x" << std::hex << int{row.unit};
  }
}

TEST(WideString, IsctypeTakesCodePageBytesSignedOrNot) {
  using namespace crt;
  struct Case {
    int code;
    int classes;
  };
  const Case cases[] = {
      {'A', 0x100 | _UPPER | _HEX},
      {'5', _DIGIT | _HEX},
      {' ', _SPACE | _BLANK},
      {0xC4, 0x100 | _UPPER},                             // Ä
      {static_cast<signed char>(0xC4), 0x100 | _UPPER},  // the same byte read as a signed char
      {static_cast<signed char>(0xE9), 0x100 | _LOWER},  // é
      {0x8A, 0x100 | _UPPER},                             // Š in Windows-1252
      {0x80, _PUNCT},                                     // €
      {0x81, _CONTROL},                                   // unassigned byte
      {-1, 0},                                            // EOF
      {256, 0},
      {-129, 0},
  };
  for (const Case& row : cases) {
    EXPECT_EQ(_isctype(row.code, 0x1FF), row.classes) << "code " << row.code;
  }
  EXPECT_EQ(_isctype('a', _DIGIT), 0);
  EXPECT_EQ(_isctype('a', _ALPHA), 0x102);  // only the bits asked for
}

TEST(WideString, WcstolBasesAndEnds) {
  struct Case {
    const WCHAR* text;
    int base;
    long value;
    int consumed;
    int error;
  };
  const Case cases[] = {
      {u"  123abc", 10, 123, 5, 0},
      {u"-0x1F", 16, -31, 5, 0},
      {u"0x1F", 0, 31, 4, 0},
      {u"017", 0, 15, 3, 0},
      {u"019", 0, 1, 2, 0},
      {u"0x", 16, 0, 1, 0},      // the prefix needs a digit after it
      {u"0xg", 0, 0, 1, 0},
      {u"zz", 36, 1295, 2, 0},
      {u"ff", 10, 0, 0, 0},
      {u"", 10, 0, 0, 0},
      {u" +", 10, 0, 0, 0},
      {u"2147483647", 10, LONG_MAX, 10, 0},
      {u"-2147483648", 10, LONG_MIN, 11, 0},
      {u"2147483648", 10, LONG_MAX, 10, ERANGE},
      {u"-2147483649", 10, LONG_MIN, 11, ERANGE},
      {u"99999999999999999999999", 10, LONG_MAX, 23, ERANGE},
      {u"12", 1, 0, 0, EINVAL},
      {u"12", 37, 0, 0, EINVAL},
  };
  for (const Case& row : cases) {
    WCHAR* end = nullptr;
    errno = 0;
    EXPECT_EQ(crt::wcstol(row.text, &end, row.base), row.value) << show(row.text) << " base " << row.base;
    EXPECT_EQ(end - row.text, row.consumed) << show(row.text) << " base " << row.base;
    EXPECT_EQ(errno, row.error) << show(row.text) << " base " << row.base;
  }
  WCHAR* end = nullptr;
  EXPECT_EQ(crt::wcstoul(u"-1", &end, 10), 4294967295ul);
  EXPECT_EQ(crt::wcstoul(u"4294967295", &end, 10), 4294967295ul);
  errno = 0;
  EXPECT_EQ(crt::wcstoul(u"4294967296", &end, 10), 4294967295ul);
  EXPECT_EQ(errno, ERANGE);
  EXPECT_EQ(crt::wcstoul(u"FFFFFFFF", &end, 16), 4294967295ul);
  EXPECT_EQ(*end, u'\0');
}

TEST(WideString, DecimalReadingAndIntegerText) {
  struct Case {
    const WCHAR* text;
    double value;
    int consumed;
  };
  const Case cases[] = {
      {u"1.5", 1.5, 3},   {u"  -2e3x", -2000.0, 6}, {u"0x10", 0.0, 1}, {u"inf", 0.0, 0},
      {u".5", 0.5, 2},    {u"5.", 5.0, 2},          {u"1e400", std::numeric_limits<double>::infinity(), 5},
      {u"0.1", 0.1, 3},   {u"\u0661", 0.0, 0},      // only ASCII digits count
  };
  for (const Case& row : cases) {
    WCHAR* end = nullptr;
    EXPECT_EQ(crt::wcstod(row.text, &end), row.value) << show(row.text);
    EXPECT_EQ(end - row.text, row.consumed) << show(row.text);
    EXPECT_EQ(crt::_wtof(row.text), row.value) << show(row.text);
  }
  EXPECT_EQ(crt::_wtoi(u" -42z"), -42);
  EXPECT_EQ(crt::_wtoi(u"4294967297"), 1);  // wraps like atoi
  EXPECT_EQ(crt::_wtol(u"+7"), 7);

  WCHAR buffer[40];
  EXPECT_EQ(std::u16string(crt::_itow(-255, buffer, 10)), u"-255");
  EXPECT_EQ(std::u16string(crt::_itow(-1, buffer, 16)), u"ffffffff");
  EXPECT_EQ(std::u16string(crt::_ltow(1295, buffer, 36)), u"zz");
  EXPECT_EQ(std::u16string(crt::_ultow(4294967295ul, buffer, 10)), u"4294967295");
  EXPECT_EQ(std::u16string(crt::_itow(5, buffer, 0)), u"");
}

TEST(WideString, SwprintfFormats) {
  struct Case {
    const char* name;
    std::function<int(WCHAR*, size_t)> format;
    std::u16string expected;
  };
  const Case cases[] = {
      {"%s is UTF-16", [](WCHAR* b, size_t n) { return crt::swprintf(b, n, u"<%s>", u"caf\u00E9 \u4E2D"); },
       u"<caf\u00E9 \u4E2D>"},
      {"%S is 8-bit", [](WCHAR* b, size_t n) { return crt::swprintf(b, n, u"<%S>", "caf\xE9 \x80"); },
       u"<caf\u00E9 \u20AC>"},
      {"%hs and %ls", [](WCHAR* b, size_t n) { return crt::swprintf(b, n, u"%hs%ls", "a", u"b"); }, u"ab"},
      {"%d and %5.2f", [](WCHAR* b, size_t n) { return crt::swprintf(b, n, u"%d|%5.2f|", -12, 3.14159); },
       u"-12| 3.14|"},
      {"%c and %C", [](WCHAR* b, size_t n) { return crt::swprintf(b, n, u"%c%C", u'\u20AC', '\xE9'); },
       u"\u20AC\u00E9"},
      {"widths on text", [](WCHAR* b, size_t n) { return crt::swprintf(b, n, u"%-4s|%4s|%.1s", u"ab", u"cd", u"xyz"); },
       u"ab  |  cd|x"},
      {"%I64d", [](WCHAR* b, size_t n) { return crt::swprintf(b, n, u"%I64d %I64x", -5000000000ll, 0xABCDEF012ll); },
       u"-5000000000 abcdef012"},
      {"unsigned, octal, hex, e, g",
       [](WCHAR* b, size_t n) { return crt::swprintf(b, n, u"%u %o %X %.2e %g", 7u, 8u, 255u, 12345.678, 0.5); },
       u"7 10 FF 1.23e+04 0.5"},
      {"%p and %%", [](WCHAR* b, size_t n) { return crt::swprintf(b, n, u"%p %%", reinterpret_cast<void*>(0x12AB)); },
       u"000012AB %"},
      {"null text", [](WCHAR* b, size_t n) { return crt::swprintf(b, n, u"%s", static_cast<const WCHAR*>(nullptr)); },
       u"(null)"},
  };
  for (const Case& row : cases) {
    WCHAR buffer[64];
    EXPECT_EQ(row.format(buffer, 64), static_cast<int>(row.expected.size())) << row.name;
    EXPECT_EQ(std::u16string(buffer), row.expected) << row.name << ": " << show(buffer);
  }
}

TEST(WideString, SwprintfBufferLimits) {
  WCHAR buffer[8];
  for (WCHAR& unit : buffer) unit = u'#';
  // swprintf cuts and still terminates; _snwprintf cuts without a terminator.
  EXPECT_EQ(crt::swprintf(buffer, 4, u"%s", u"abcdef"), -1);
  EXPECT_EQ(std::u16string(buffer, 5), std::u16string(u"abc\0#", 5));
  EXPECT_EQ(crt::swprintf(buffer, 4, u"%s", u"abc"), 3);
  EXPECT_EQ(std::u16string(buffer), u"abc");
  for (WCHAR& unit : buffer) unit = u'#';
  EXPECT_EQ(crt::_snwprintf(buffer, 4, u"%s", u"abcdef"), -1);
  EXPECT_EQ(std::u16string(buffer, 5), u"abcd#");
  EXPECT_EQ(crt::_snwprintf(buffer, 4, u"%d", 1234), 4);
  EXPECT_EQ(std::u16string(buffer, 5), u"1234#");
  EXPECT_EQ(crt::_snwprintf(buffer, 8, u"%d", 12), 2);
  EXPECT_EQ(std::u16string(buffer), u"12");
  EXPECT_EQ(crt::swprintf(buffer, 8, nullptr), -1);
  EXPECT_EQ(crt::swprintf(buffer, 0, u"x"), -1);
}

}  // namespace
