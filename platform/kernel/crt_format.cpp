// The printf engine: walks the format, takes each argument by its conversion and lets
// glibc's snprintf print the numbers, so digits and rounding are C's own.
#include "platform/kernel/crt_format.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <exception>

#include "platform/kernel/utf.h"

namespace platform {
namespace {

// Widths and number precisions past this fail the call instead of making a text of
// gigabytes from one bad format.
constexpr int kLargestWidth = 1 << 20;

enum class Size { Default, Byte, Short, Long, LongLong, LongDouble, Wide, Pointer };

struct Conversion {
  std::string flags;  // as written, for snprintf
  bool left = false;  // '-'
  bool zero = false;  // '0'
  int width = -1;
  int precision = -1;
  Size size = Size::Default;
  char letter = 0;
};

template <typename Char>
int read_count(const Char*& cursor) {
  long long value = 0;
  while (*cursor >= '0' && *cursor <= '9') {
    value = value * 10 + (*cursor++ - '0');
    if (value > INT_MAX) value = INT_MAX;
  }
  return static_cast<int>(value);
}

// Appends snprintf's output for one conversion; false when snprintf fails.
template <typename Value>
bool append_printed(std::string& out, const std::string& single_format, Value value) {
  char small[256];
  int length = std::snprintf(small, sizeof small, single_format.c_str(), value);
  if (length < 0) return false;
  if (static_cast<size_t>(length) < sizeof small) {
    out.append(small, static_cast<size_t>(length));
    return true;
  }
  std::string large(static_cast<size_t>(length) + 1, '\0');
  std::snprintf(large.data(), large.size(), single_format.c_str(), value);
  out.append(large.data(), static_cast<size_t>(length));
  return true;
}

std::string number_format(const Conversion& conversion, const char* size) {
  std::string single_format = "%" + conversion.flags;
  if (conversion.width >= 0) single_format += std::to_string(conversion.width);
  if (conversion.precision >= 0) single_format += "." + std::to_string(conversion.precision);
  single_format += size;
  single_format += conversion.letter;
  return single_format;
}

// Appends an 8-bit or UTF-16 text as Char units, reading at most limit units of it.
void append_text(std::string& out, const char* text, size_t limit) {
  for (size_t i = 0; i < limit && text[i]; ++i) out += text[i];
}
void append_text(std::string& out, const char16_t* text, size_t limit) {
  for (size_t i = 0; i < limit && text[i]; ++i) {
    int byte = ansi_byte_from_utf16(text[i]);
    out += byte < 0 ? '?' : static_cast<char>(byte);
  }
}
void append_text(std::u16string& out, const char* text, size_t limit) {
  for (size_t i = 0; i < limit && text[i]; ++i) out += utf16_from_ansi_byte(static_cast<uint8_t>(text[i]));
}
void append_text(std::u16string& out, const char16_t* text, size_t limit) {
  for (size_t i = 0; i < limit && text[i]; ++i) out += text[i];
}

template <typename Char>
void append_padded(std::basic_string<Char>& out, const std::basic_string<Char>& text, const Conversion& conversion) {
  size_t width = conversion.width > 0 ? static_cast<size_t>(conversion.width) : 0;
  size_t padding = text.size() < width ? width - text.size() : 0;
  if (conversion.left) {
    out += text;
    out.append(padding, static_cast<Char>(' '));
  } else {
    // The device's runtime pads text with zeros too when the 0 flag is given.
    out.append(padding, static_cast<Char>(conversion.zero ? '0' : ' '));
    out += text;
  }
}

// The conversions that take text: wide tells whether the argument is UTF-16.
template <typename Char>
bool takes_wide_argument(const Conversion& conversion) {
  bool upper = conversion.letter == 'S' || conversion.letter == 'C';
  if (conversion.size == Size::Short) return false;
  if (conversion.size == Size::Long || conversion.size == Size::Wide) return true;
  bool native_wide = sizeof(Char) == 2;
  return upper ? !native_wide : native_wide;
}

template <typename Char>
bool format_any(std::basic_string<Char>& out, const Char* format, va_list arguments) {
  if (!format) return false;
  const Char* cursor = format;
  while (*cursor) {
    if (*cursor != '%') {
      out += *cursor++;
      continue;
    }
    const Char* start = cursor++;
    Conversion conversion;
    while (*cursor == '-' || *cursor == '+' || *cursor == ' ' || *cursor == '#' || *cursor == '0') {
      if (*cursor == '-') conversion.left = true;
      if (*cursor == '0') conversion.zero = true;
      conversion.flags += static_cast<char>(*cursor++);
    }
    if (*cursor == '*') {
      ++cursor;
      int width = va_arg(arguments, int);
      if (width < 0) {
        conversion.left = true;
        conversion.flags += '-';
        width = width == INT_MIN ? INT_MAX : -width;
      }
      conversion.width = width;
    } else if (*cursor >= '0' && *cursor <= '9') {
      conversion.width = read_count(cursor);
    }
    if (*cursor == '.') {
      ++cursor;
      if (*cursor == '*') {
        ++cursor;
        int precision = va_arg(arguments, int);
        conversion.precision = precision < 0 ? -1 : precision;
      } else {
        conversion.precision = read_count(cursor);
      }
    }
    if (cursor[0] == 'h' && cursor[1] == 'h') {
      conversion.size = Size::Byte;
      cursor += 2;
    } else if (cursor[0] == 'l' && cursor[1] == 'l') {
      conversion.size = Size::LongLong;
      cursor += 2;
    } else if (cursor[0] == 'I' && cursor[1] == '6' && cursor[2] == '4') {
      conversion.size = Size::LongLong;
      cursor += 3;
    } else if (cursor[0] == 'I' && cursor[1] == '3' && cursor[2] == '2') {
      conversion.size = Size::Pointer;
      cursor += 3;
    } else if (*cursor == 'I' || *cursor == 'z' || *cursor == 't') {
      conversion.size = Size::Pointer;
      ++cursor;
    } else if (*cursor == 'j') {
      conversion.size = Size::LongLong;
      ++cursor;
    } else if (*cursor == 'h') {
      conversion.size = Size::Short;
      ++cursor;
    } else if (*cursor == 'l') {
      conversion.size = Size::Long;
      ++cursor;
    } else if (*cursor == 'L') {
      conversion.size = Size::LongDouble;
      ++cursor;
    } else if (*cursor == 'w') {
      conversion.size = Size::Wide;
      ++cursor;
    }
    Char letter = *cursor;
    bool limits_text = letter == 's' || letter == 'S';
    if (conversion.width > kLargestWidth || (conversion.precision > kLargestWidth && !limits_text)) return false;
    if (letter == 0) {
      out.append(start, cursor);  // an unfinished conversion stays as written
      break;
    }
    ++cursor;
    conversion.letter = letter < 0x80 ? static_cast<char>(letter) : '?';
    std::string printed;
    switch (letter) {
      case 'd':
      case 'i': {
        long long value;
        if (conversion.size == Size::LongLong) {
          value = va_arg(arguments, long long);
        } else {
          int word = va_arg(arguments, int);
          value = conversion.size == Size::Short  ? static_cast<short>(word)
                  : conversion.size == Size::Byte ? static_cast<signed char>(word)
                                                  : word;
        }
        if (!append_printed(printed, number_format(conversion, "ll"), value)) return false;
        break;
      }
      case 'u':
      case 'o':
      case 'x':
      case 'X': {
        unsigned long long value;
        if (conversion.size == Size::LongLong) {
          value = va_arg(arguments, unsigned long long);
        } else {
          unsigned word = va_arg(arguments, unsigned);
          value = conversion.size == Size::Short  ? static_cast<unsigned short>(word)
                  : conversion.size == Size::Byte ? static_cast<unsigned char>(word)
                                                  : word;
        }
        if (!append_printed(printed, number_format(conversion, "ll"), value)) return false;
        break;
      }
      case 'e':
      case 'E':
      case 'f':
      case 'F':
      case 'g':
      case 'G':
      case 'a':
      case 'A': {
        double value = va_arg(arguments, double);
        if (!append_printed(printed, number_format(conversion, ""), value)) return false;
        break;
      }
      case 'c':
      case 'C': {
        int unit = va_arg(arguments, int);
        std::basic_string<Char> text;
        if (takes_wide_argument<Char>(conversion)) {
          char16_t wide[2] = {static_cast<char16_t>(unit), 0};
          append_text(text, wide, 1);
          if (wide[0] == 0) text += Char(0);
        } else {
          char narrow[2] = {static_cast<char>(unit), 0};
          append_text(text, narrow, 1);
          if (narrow[0] == 0) text += Char(0);
        }
        append_padded(out, text, conversion);
        continue;
      }
      case 's':
      case 'S': {
        const void* pointer = va_arg(arguments, const void*);
        size_t limit = conversion.precision >= 0 ? static_cast<size_t>(conversion.precision) : SIZE_MAX;
        std::basic_string<Char> text;
        if (!pointer) {
          append_text(text, "(null)", limit);
        } else if (takes_wide_argument<Char>(conversion)) {
          append_text(text, static_cast<const char16_t*>(pointer), limit);
        } else {
          append_text(text, static_cast<const char*>(pointer), limit);
        }
        append_padded(out, text, conversion);
        continue;
      }
      case 'p': {
        const void* pointer = va_arg(arguments, const void*);
        char digits[16];
        std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(pointer)));
        std::basic_string<Char> text;
        append_text(text, digits, SIZE_MAX);
        Conversion spaces = conversion;
        spaces.zero = false;
        append_padded(out, text, spaces);
        continue;
      }
      case 'n':
        // Writing the count through a pointer taken from script data could hit any
        // address, so the count is not stored.
        (void)va_arg(arguments, void*);
        continue;
      case '%':
        out += static_cast<Char>('%');
        continue;
      default:
        out.append(start, cursor);
        continue;
    }
    for (char c : printed) out += static_cast<Char>(static_cast<unsigned char>(c));
  }
  return true;
}

}  // namespace

bool format_text(std::string& out, const char* format, va_list arguments) {
  try {
    return format_any(out, format, arguments);
  } catch (const std::exception&) {  // out of memory, or a length past max_size
    return false;
  }
}

bool format_text(std::u16string& out, const char16_t* format, va_list arguments) {
  try {
    return format_any(out, format, arguments);
  } catch (const std::exception&) {  // out of memory, or a length past max_size
    return false;
  }
}

}  // namespace platform
