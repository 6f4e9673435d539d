// UTF-16 <-> UTF-8 conversion.
#include "platform/kernel/utf.h"

namespace platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void append_utf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

void append_utf16(std::u16string& out, char32_t code) {
  if (code < 0x10000) {
    out += static_cast<char16_t>(code);
  } else {
    code -= 0x10000;
    out += static_cast<char16_t>(0xD800 | (code >> 10));
    out += static_cast<char16_t>(0xDC00 | (code & 0x3FF));
  }
}

}  // namespace

// Encodes UTF-16; an unpaired surrogate becomes U+FFFD.
std::string utf8_from_utf16(std::u16string_view units, bool* invalid) {
  bool ignored = false;
  if (!invalid) invalid = &ignored;
  std::string out;
  out.reserve(units.size());
  for (size_t i = 0; i < units.size(); ++i) {
    char32_t unit = units[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (units[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      *invalid = true;
      append_utf8(out, kReplacement);
    } else {
      append_utf8(out, unit);
    }
  }
  return out;
}

// Decodes UTF-8; each maximal ill-formed sequence becomes one U+FFFD.
std::u16string utf16_from_utf8(std::string_view text, bool* invalid) {
  auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  size_t length = text.size();
  bool ignored = false;
  if (!invalid) invalid = &ignored;
  std::u16string out;
  out.reserve(length);
  size_t i = 0;
  while (i < length) {
    unsigned char lead = bytes[i];
    if (lead < 0x80) {
      out += static_cast<char16_t>(lead);
      ++i;
      continue;
    }
    int extra = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    char32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1;
      code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2;
      code = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;   // no overlong forms
      if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3;
      code = lead & 0x07;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
      *invalid = true;
      out += static_cast<char16_t>(kReplacement);
      ++i;
      continue;
    }
    size_t taken = 1;
    bool complete = true;
    for (int k = 0; k < extra; ++k) {
      if (i + taken >= length) {
        complete = false;
        break;
      }
      unsigned char next = bytes[i + taken];
      unsigned char minimum = k == 0 ? low : 0x80, maximum = k == 0 ? high : 0xBF;
      if (next < minimum || next > maximum) {
        complete = false;
        break;
      }
      code = (code << 6) | (next & 0x3F);
      ++taken;
    }
    i += taken;
    if (!complete) {
      *invalid = true;
      out += static_cast<char16_t>(kReplacement);
    } else {
      append_utf16(out, code);
    }
  }
  return out;
}

std::string utf8_from_utf16(const WCHAR* text) {
  if (!text) return {};
  size_t length = 0;
  while (text[length]) ++length;
  return utf8_from_utf16(std::u16string_view(text, length));
}

namespace {
// Bytes 0x80-0x9F of Windows-1252; the rest of the page is Latin-1.
constexpr char16_t kAnsiHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
}  // namespace

char16_t utf16_from_ansi_byte(uint8_t byte) {
  return (byte >= 0x80 && byte < 0xA0) ? kAnsiHigh[byte - 0x80] : static_cast<char16_t>(byte);
}

int ansi_byte_from_utf16(char16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return unit;
  for (int i = 0; i < 32; ++i) {
    if (kAnsiHigh[i] == unit) return 0x80 + i;
  }
  return -1;
}

std::u16string utf16_from_ansi(std::string_view text) {
  std::u16string out(text.size(), u'\0');
  for (size_t i = 0; i < text.size(); ++i) out[i] = utf16_from_ansi_byte(static_cast<uint8_t>(text[i]));
  return out;
}

std::string ansi_from_utf16(std::u16string_view text, char fallback) {
  std::string out(text.size(), '\0');
  for (size_t i = 0; i < text.size(); ++i) {
    int byte = ansi_byte_from_utf16(text[i]);
    out[i] = byte < 0 ? fallback : static_cast<char>(byte);
  }
  return out;
}

}  // namespace platform
