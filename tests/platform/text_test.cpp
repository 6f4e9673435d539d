// MultiByteToWideChar and WideCharToMultiByte: the Windows-1252 table against Python's
// codec, UTF-8, the size rules and the argument errors.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/kernel/text.h"

namespace {

// Made by make_cp1252_table.py from Python's cp1252 codec. Python leaves 0x81, 0x8D,
// 0x8F, 0x90 and 0x9D undefined; the device maps them to the C1 controls of the same
// value, so the script writes those five as U+0081 ... U+009D.
constexpr char16_t kCp1252Reference[256] = {
    0x0000, 0x0001, 0x0002, 0x0003, 0x0004, 0x0005, 0x0006, 0x0007,
    0x0008, 0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x000E, 0x000F,
    0x0010, 0x0011, 0x0012, 0x0013, 0x0014, 0x0015, 0x0016, 0x0017,
    0x0018, 0x0019, 0x001A, 0x001B, 0x001C, 0x001D, 0x001E, 0x001F,
    0x0020, 0x0021, 0x0022, 0x0023, 0x0024, 0x0025, 0x0026, 0x0027,
    0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F,
    0x0040, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F,
    0x0050, 0x0051, 0x0052, 0x0053, 0x0054, 0x0055, 0x0056, 0x0057,
    0x0058, 0x0059, 0x005A, 0x005B, 0x005C, 0x005D, 0x005E, 0x005F,
    0x0060, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067,
    0x0068, 0x0069, 0x006A, 0x006B, 0x006C, 0x006D, 0x006E, 0x006F,
    0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,
    0x0078, 0x0079, 0x007A, 0x007B, 0x007C, 0x007D, 0x007E, 0x007F,
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,
    0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,
    0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,
    0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7,
    0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7,
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF,
    0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF,
};

std::u16string to_wide(UINT code_page, const std::string& text, DWORD flags = 0) {
  int needed = MultiByteToWideChar(code_page, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::u16string out(static_cast<size_t>(needed), u'\0');
  if (needed > 0) {
    int written = MultiByteToWideChar(code_page, flags, text.data(), static_cast<int>(text.size()), out.data(), needed);
    EXPECT_EQ(written, needed);
  }
  return out;
}

std::string to_narrow(UINT code_page, const std::u16string& text, DWORD flags = 0, const char* default_char = nullptr,
                      BOOL* used_default = nullptr) {
  int needed = WideCharToMultiByte(code_page, flags, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                   default_char, used_default);
  std::string out(static_cast<size_t>(needed), '\0');
  if (needed > 0) {
    int written = WideCharToMultiByte(code_page, flags, text.data(), static_cast<int>(text.size()), out.data(), needed,
                                      default_char, used_default);
    EXPECT_EQ(written, needed);
  }
  return out;
}

TEST(Text, EveryByteOfTheAnsiCodePageMatchesTheReference) {
  for (UINT code_page : {CP_ACP, CP_OEMCP, CP_WINDOWS_1252}) {
    for (int byte = 0; byte < 256; ++byte) {
      char source = static_cast<char>(byte);
      WCHAR unit = 0xBEEF;
      ASSERT_EQ(MultiByteToWideChar(code_page, 0, &source, 1, &unit, 1), 1) << "code page " << code_page;
      EXPECT_EQ(unit, kCp1252Reference[byte]) << "byte 0x" << std::hex << byte << " code page " << std::dec << code_page;
      char back = 0;
      BOOL used_default = TRUE;
      ASSERT_EQ(WideCharToMultiByte(code_page, 0, &unit, 1, &back, 1, nullptr, &used_default), 1);
      EXPECT_EQ(static_cast<unsigned char>(back), byte) << "unit 0x" << std::hex << int{unit};
      EXPECT_FALSE(used_default) << "unit 0x" << std::hex << int{unit};
    }
  }
}

TEST(Text, CharactersTheCodePageLacksBecomeTheDefaultCharacter) {
  struct Case {
    std::u16string source;
    const char* default_char;
    std::string expected;
    BOOL used_default;
  };
  const Case cases[] = {
      {u"abc\u20AC", nullptr, "abc\x80", FALSE},
      {u"a\u0100b", nullptr, "a?b", TRUE},       // no best-fit mapping: Ā is not A
      {u"\u4E2D\u6587", "#", "##", TRUE},
      {u"\U0001F600", nullptr, "??", TRUE},      // each half of the pair
      {u"x\u0301", nullptr, "x?", TRUE},         // a combining mark on its own
  };
  for (const Case& row : cases) {
    BOOL used_default = 7;
    EXPECT_EQ(to_narrow(CP_ACP, row.source, 0, row.default_char, &used_default), row.expected)
        << "expected " << row.expected;
    EXPECT_EQ(used_default, row.used_default) << "expected " << row.expected;
  }
}

TEST(Text, CompositeCheckJoinsLetterAndMark) {
  struct Case {
    DWORD flags;
    std::u16string source;
    std::string expected;
  };
  const Case cases[] = {
      {WC_COMPOSITECHECK | WC_DISCARDNS, u"e\u0301t\u00E9", "\xE9t\xE9"},
      {WC_COMPOSITECHECK | WC_DISCARDNS, u"S\u030Cu\u0308", "\x8A\xFC"},
      {WC_COMPOSITECHECK | WC_DISCARDNS, u"q\u0301!", "q!"},
      {WC_COMPOSITECHECK | WC_DEFAULTCHAR, u"q\u0301!", "?!"},
      {WC_COMPOSITECHECK | WC_SEPCHARS, u"q\u0301!", "q?!"},
      {WC_COMPOSITECHECK, u"q\u0301!", "q?!"},
      {0, u"e\u0301", "e?"},
  };
  for (const Case& row : cases) {
    EXPECT_EQ(to_narrow(CP_ACP, row.source, row.flags), row.expected) << "flags 0x" << std::hex << row.flags;
  }
  EXPECT_EQ(to_wide(CP_ACP, "\xE9\x8A!", MB_COMPOSITE), u"e\u0301S\u030C!");
  EXPECT_EQ(to_wide(CP_ACP, "\xE9\x8A!", MB_PRECOMPOSED | MB_USEGLYPHCHARS), u"\u00E9\u0160!");
}

TEST(Text, Utf8RoundTrips) {
  const std::u16string texts[] = {
      u"plain ASCII",
      u"caf\u00E9 \u20AC \u00FF",
      u"\u4E2D\u6587\uFFFD\uFFFF",
      u"\U0001F600 and \U0010FFFF",
      std::u16string(u"nul\0inside", 10),
  };
  for (const std::u16string& text : texts) {
    std::string utf8 = to_narrow(CP_UTF8, text);
    EXPECT_EQ(to_wide(CP_UTF8, utf8), text) << utf8;
  }
  EXPECT_EQ(to_narrow(CP_UTF8, u"\u00E9\u20AC\U0001F600"), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
}

TEST(Text, BadUtf8BecomesReplacementCharacters) {
  // One U+FFFD for each maximal ill-formed sequence, as Python's "replace" decoding.
  struct Case {
    std::string source;
    std::u16string expected;
  };
  const Case cases[] = {
      {"\x80", u"\uFFFD"},
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                    // overlong
      {"a\xE2\x82", u"a\uFFFD"},                        // cut short at the end
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},          // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xE2(\xA1", u"\uFFFD(\uFFFD"},
  };
  for (const Case& row : cases) {
    EXPECT_EQ(to_wide(CP_UTF8, row.source), row.expected) << "row " << &row - cases;
    WCHAR buffer[8];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, row.source.data(),
                                  static_cast<int>(row.source.size()), buffer, 8),
              0)
        << "row " << &row - cases;
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION) << "row " << &row - cases;
  }
  EXPECT_EQ(to_narrow(CP_UTF8, u"a\xD800z\xDC00"), "a\xEF\xBF\xBDz\xEF\xBF\xBD");
  char buffer[16];
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, u"a\xD800", 2, buffer, 16, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
}

TEST(Text, LengthMinusOneCountsTheTerminator) {
  WCHAR wide[8];
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, wide, 8), 4);
  EXPECT_EQ(std::u16string(wide, 4), std::u16string(u"abc", 4));
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xC3\xA9", -1, nullptr, 0), 2);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "", -1, nullptr, 0), 1);

  char narrow[8];
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u00E9", -1, nullptr, 0, nullptr, nullptr), 3);
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, u"ab", -1, narrow, 8, nullptr, nullptr), 3);
  EXPECT_EQ(std::string(narrow, 3), std::string("ab", 3));
}

TEST(Text, TooSmallTargetFailsWithInsufficientBuffer) {
  WCHAR wide[4];
  char narrow[4];
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abcd", -1, wide, 4), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abcd", 4, wide, 4), 4);  // exactly fits without terminator
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xF0\x9F\x98\x80", 4, wide, 1), 0);  // a pair needs two units
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u20AC\u20AC", 2, narrow, 4, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\u20AC\u20AC", 2, narrow, 4, nullptr, nullptr), 2);
}

TEST(Text, BadArgumentsAreRefused) {
  WCHAR wide[8];
  char narrow[8];
  char default_char = '?';
  BOOL used_default = FALSE;
  struct Case {
    const char* name;
    std::function<int()> call;
    DWORD error;
  };
  const Case cases[] = {
      {"code page 437", [&] { return MultiByteToWideChar(437, 0, "a", 1, wide, 8); }, ERROR_INVALID_PARAMETER},
      {"code page 65000", [&] { return WideCharToMultiByte(65000, 0, u"a", 1, narrow, 8, nullptr, nullptr); },
       ERROR_INVALID_PARAMETER},
      {"null source", [&] { return MultiByteToWideChar(CP_ACP, 0, nullptr, 1, wide, 8); }, ERROR_INVALID_PARAMETER},
      {"empty source", [&] { return MultiByteToWideChar(CP_ACP, 0, "a", 0, wide, 8); }, ERROR_INVALID_PARAMETER},
      {"length -2", [&] { return MultiByteToWideChar(CP_ACP, 0, "a", -2, wide, 8); }, ERROR_INVALID_PARAMETER},
      {"negative target", [&] { return MultiByteToWideChar(CP_ACP, 0, "a", 1, wide, -1); }, ERROR_INVALID_PARAMETER},
      {"null target", [&] { return MultiByteToWideChar(CP_ACP, 0, "a", 1, nullptr, 8); }, ERROR_INVALID_PARAMETER},
      {"same buffer", [&] { return WideCharToMultiByte(CP_ACP, 0, wide, 2, reinterpret_cast<char*>(wide), 8, nullptr, nullptr); },
       ERROR_INVALID_PARAMETER},
      {"null wide source", [&] { return WideCharToMultiByte(CP_ACP, 0, nullptr, -1, narrow, 8, nullptr, nullptr); },
       ERROR_INVALID_PARAMETER},
      {"null narrow target", [&] { return WideCharToMultiByte(CP_ACP, 0, u"a", 1, nullptr, 8, nullptr, nullptr); },
       ERROR_INVALID_PARAMETER},
      {"UTF-8 with default",
       [&] { return WideCharToMultiByte(CP_UTF8, 0, u"a", 1, narrow, 8, &default_char, nullptr); },
       ERROR_INVALID_PARAMETER},
      {"UTF-8 with used flag",
       [&] { return WideCharToMultiByte(CP_UTF8, 0, u"a", 1, narrow, 8, nullptr, &used_default); },
       ERROR_INVALID_PARAMETER},
      {"UTF-8 with composite", [&] { return MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "a", 1, wide, 8); },
       ERROR_INVALID_FLAGS},
      {"both compositions",
       [&] { return MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED | MB_COMPOSITE, "a", 1, wide, 8); },
       ERROR_INVALID_FLAGS},
      {"unknown flag", [&] { return WideCharToMultiByte(CP_ACP, 0x8000, u"a", 1, narrow, 8, nullptr, nullptr); },
       ERROR_INVALID_FLAGS},
  };
  for (const Case& row : cases) {
    SetLastError(0);
    EXPECT_EQ(row.call(), 0) << row.name;
    EXPECT_EQ(GetLastError(), row.error) << row.name;
  }
}

}  // namespace
