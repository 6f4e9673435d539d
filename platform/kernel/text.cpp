// MultiByteToWideChar and WideCharToMultiByte over Windows-1252 and UTF-8.
// Each call converts the whole source into a string first, then applies the size rules.
#include "platform/kernel/text.h"

#include <algorithm>
#include <string>

#include "platform/kernel/utf.h"

namespace {

constexpr char16_t kReplacement = 0xFFFD;

enum class CodePage { Ansi, Utf8, Unsupported };

CodePage code_page_kind(UINT code_page) {
  switch (code_page) {
    case CP_ACP:
    case CP_OEMCP:
    case CP_THREAD_ACP:
    case CP_WINDOWS_1252:
      return CodePage::Ansi;
    case CP_UTF8:
      return CodePage::Utf8;
    default:
      return CodePage::Unsupported;
  }
}

// Accented letters of Windows-1252 as letter + combining mark, for MB_COMPOSITE and
// WC_COMPOSITECHECK.
struct Composition {
  char16_t letter;
  char16_t base;
  char16_t mark;
};

constexpr char16_t kGrave = 0x300, kAcute = 0x301, kCircumflex = 0x302, kTilde = 0x303, kDiaeresis = 0x308,
                   kRing = 0x30A, kCaron = 0x30C, kCedilla = 0x327;

// Upper-case letters of Latin-1; each lower-case form is 0x20 above, with base + 0x20.
constexpr Composition kUpperLatin1[] = {
    {0xC0, 'A', kGrave},     {0xC1, 'A', kAcute},      {0xC2, 'A', kCircumflex}, {0xC3, 'A', kTilde},
    {0xC4, 'A', kDiaeresis}, {0xC5, 'A', kRing},       {0xC7, 'C', kCedilla},    {0xC8, 'E', kGrave},
    {0xC9, 'E', kAcute},     {0xCA, 'E', kCircumflex}, {0xCB, 'E', kDiaeresis},  {0xCC, 'I', kGrave},
    {0xCD, 'I', kAcute},     {0xCE, 'I', kCircumflex}, {0xCF, 'I', kDiaeresis},  {0xD1, 'N', kTilde},
    {0xD2, 'O', kGrave},     {0xD3, 'O', kAcute},      {0xD4, 'O', kCircumflex}, {0xD5, 'O', kTilde},
    {0xD6, 'O', kDiaeresis}, {0xD9, 'U', kGrave},      {0xDA, 'U', kAcute},      {0xDB, 'U', kCircumflex},
    {0xDC, 'U', kDiaeresis}, {0xDD, 'Y', kAcute}};
constexpr Composition kOtherLetters[] = {
    {0xFF, 'y', kDiaeresis}, {0x178, 'Y', kDiaeresis}, {0x160, 'S', kCaron},
    {0x161, 's', kCaron},    {0x17D, 'Z', kCaron},     {0x17E, 'z', kCaron}};

template <typename Visit>
bool for_each_composition(Visit visit) {
  for (const Composition& upper : kUpperLatin1) {
    if (visit(upper)) return true;
    Composition lower{static_cast<char16_t>(upper.letter + 0x20), static_cast<char16_t>(upper.base + 0x20),
                      upper.mark};
    if (visit(lower)) return true;
  }
  for (const Composition& other : kOtherLetters) {
    if (visit(other)) return true;
  }
  return false;
}

// The accented letter for base + mark, or 0.
char16_t compose(char16_t base, char16_t mark) {
  char16_t found = 0;
  for_each_composition([&](const Composition& entry) {
    if (entry.base != base || entry.mark != mark) return false;
    found = entry.letter;
    return true;
  });
  return found;
}

// The decomposition of an accented letter, or false.
bool decompose(char16_t letter, Composition* result) {
  return for_each_composition([&](const Composition& entry) {
    if (entry.letter != letter) return false;
    *result = entry;
    return true;
  });
}

bool is_combining_mark(char16_t unit) { return unit >= 0x300 && unit <= 0x36F; }

std::u16string decode_ansi(const char* bytes, size_t length, bool composite) {
  std::u16string out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    char16_t unit = platform::utf16_from_ansi_byte(static_cast<uint8_t>(bytes[i]));
    Composition parts;
    if (composite && decompose(unit, &parts)) {
      out += parts.base;
      out += parts.mark;
    } else {
      out += unit;
    }
  }
  return out;
}

std::string encode_ansi(const char16_t* units, size_t length, DWORD flags, char default_char, bool* used_default) {
  std::string out;
  out.reserve(length);
  auto append = [&](char16_t unit) {
    int byte = platform::ansi_byte_from_utf16(unit);
    if (byte < 0) {
      *used_default = true;
      out += default_char;
    } else {
      out += static_cast<char>(byte);
    }
  };
  bool composite_check = (flags & WC_COMPOSITECHECK) != 0;
  for (size_t i = 0; i < length; ++i) {
    char16_t unit = units[i];
    if (composite_check && i + 1 < length && is_combining_mark(units[i + 1])) {
      char16_t letter = compose(unit, units[i + 1]);
      if (letter != 0 && platform::ansi_byte_from_utf16(letter) >= 0) {
        append(letter);
      } else if (flags & WC_DISCARDNS) {
        append(unit);
      } else if (flags & WC_DEFAULTCHAR) {
        *used_default = true;
        out += default_char;
      } else {
        append(unit);
        append(units[i + 1]);
      }
      ++i;
      continue;
    }
    append(unit);
  }
  return out;
}

// Copies a converted text into the caller's buffer under the size rules shared by both
// directions.
template <typename Unit>
int deliver(const std::basic_string<Unit>& converted, Unit* target, int capacity) {
  if (converted.size() > 0x7FFFFFFFu) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  int needed = static_cast<int>(converted.size());
  if (capacity == 0) return needed;
  if (needed > capacity) {
    std::copy_n(converted.data(), capacity, target);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::copy_n(converted.data(), needed, target);
  return needed;
}

bool buffers_overlap(const void* source, size_t source_size, const void* target, size_t target_size) {
  auto source_start = reinterpret_cast<uintptr_t>(source), target_start = reinterpret_cast<uintptr_t>(target);
  return target && source_start < target_start + target_size && target_start < source_start + source_size;
}

// The kind of the code page when the arguments both directions share are usable, else
// Unsupported with ERROR_INVALID_PARAMETER set.
CodePage checked_code_page(UINT code_page, const void* source, int source_count, const void* target, int capacity) {
  if (!source || source_count == 0 || source_count < -1 || capacity < 0 || (!target && capacity != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return CodePage::Unsupported;
  }
  CodePage kind = code_page_kind(code_page);
  if (kind == CodePage::Unsupported) SetLastError(ERROR_INVALID_PARAMETER);
  return kind;
}

// Sets *length to the units of source to convert (with its terminator when source_count
// is -1); false with ERROR_INVALID_PARAMETER set when they overlap the target.
template <typename From, typename To>
bool source_units(const From* source, int source_count, const To* target, int capacity, size_t* length) {
  if (source_count == -1) {
    *length = 0;
    while (source[*length]) ++*length;
    ++*length;
  } else {
    *length = static_cast<size_t>(source_count);
  }
  if (buffers_overlap(source, *length * sizeof(From), target, static_cast<size_t>(capacity) * sizeof(To))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return true;
}

}  // namespace

int MultiByteToWideChar(UINT code_page, DWORD flags, const char* source, int source_bytes, WCHAR* target,
                        int target_chars) {
  CodePage kind = checked_code_page(code_page, source, source_bytes, target, target_chars);
  if (kind == CodePage::Unsupported) return 0;
  DWORD allowed = kind == CodePage::Utf8 ? MB_ERR_INVALID_CHARS
                                         : MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS;
  if ((flags & ~allowed) != 0 || (flags & (MB_PRECOMPOSED | MB_COMPOSITE)) == (MB_PRECOMPOSED | MB_COMPOSITE)) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  size_t length = 0;
  if (!source_units(source, source_bytes, target, target_chars, &length)) return 0;
  std::u16string converted;
  if (kind == CodePage::Utf8) {
    bool invalid = false;
    converted = platform::utf16_from_utf8(std::string_view(source, length), &invalid);
    if (invalid && (flags & MB_ERR_INVALID_CHARS)) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
  } else {
    // Every byte of Windows-1252 has a character, so MB_ERR_INVALID_CHARS never fires.
    converted = decode_ansi(source, length, (flags & MB_COMPOSITE) != 0);
  }
  return deliver(converted, target, target_chars);
}

int WideCharToMultiByte(UINT code_page, DWORD flags, const WCHAR* source, int source_chars, char* target,
                        int target_bytes, const char* default_char, BOOL* used_default) {
  CodePage kind = checked_code_page(code_page, source, source_chars, target, target_bytes);
  if (kind == CodePage::Unsupported) return 0;
  DWORD allowed = kind == CodePage::Utf8 ? WC_ERR_INVALID_CHARS
                                         : WC_COMPOSITECHECK | WC_DISCARDNS | WC_SEPCHARS | WC_DEFAULTCHAR |
                                               WC_NO_BEST_FIT_CHARS;
  if ((flags & ~allowed) != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  if (kind == CodePage::Utf8 && (default_char || used_default)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t length = 0;
  if (!source_units(source, source_chars, target, target_bytes, &length)) return 0;
  std::string converted;
  if (kind == CodePage::Utf8) {
    bool invalid = false;
    converted = platform::utf8_from_utf16(std::u16string_view(source, length), &invalid);
    if (invalid && (flags & WC_ERR_INVALID_CHARS)) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
  } else {
    bool defaulted = false;
    converted = encode_ansi(source, length, flags, default_char ? *default_char : '?', &defaulted);
    if (used_default) *used_default = defaulted ? TRUE : FALSE;
  }
  return deliver(converted, target, target_bytes);
}
