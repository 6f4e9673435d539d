// Editing of heap texts, digit grouping, biased truncation, random integers, message
// boxes and the Soundex code.
#include "foundation/string_helpers.h"

#include <cstdarg>
#include <cstdio>

#include <cmath>
#include <cstring>

#include "foundation/conversion.h"
#include "foundation/numbers.h"
#include "platform/kernel/crt.h"
#include "platform/kernel/memory.h"
#include "platform/user/message_box.h"

namespace {

template <typename Char>
size_t text_length(const Char* text) {
  if (!text) return 0;
  size_t length = 0;
  while (text[length]) ++length;
  return length;
}

// A new crt::malloc text of exactly length + 1 characters, terminated; null when memory
// runs out.
template <typename Char>
Char* new_text(size_t length) {
  auto* text = static_cast<Char*>(crt::malloc((length + 1) * sizeof(Char)));
  if (text) text[length] = 0;
  return text;
}

template <typename Char>
Char* copy_of(const Char* text, size_t length) {
  Char* copy = new_text<Char>(length);
  if (copy && length) std::memcpy(copy, text, length * sizeof(Char));
  return copy;
}

// Position clamped to 0..length.
size_t clamp_position(int32_t position, size_t length) {
  if (position < 0) return 0;
  return static_cast<size_t>(position) > length ? length : static_cast<size_t>(position);
}

// Builds head + middle + tail of the old text into a new block and swaps it in.
template <typename Char>
void splice(Char** text, size_t at, size_t removed, const Char* insertion, size_t inserted) {
  const Char* old = *text;
  size_t length = text_length(old);
  Char* result = new_text<Char>(length - removed + inserted);
  if (!result) return;
  if (at) std::memcpy(result, old, at * sizeof(Char));
  if (inserted) std::memcpy(result + at, insertion, inserted * sizeof(Char));
  size_t tail = length - at - removed;
  if (tail) std::memcpy(result + at + inserted, old + at + removed, tail * sizeof(Char));
  crt::free(*text);
  *text = result;
}

// Index of the first occurrence of search in text at or after from; -1 when none.
template <typename Char>
ptrdiff_t find_from(const Char* text, size_t length, const Char* search, size_t search_length, size_t from) {
  for (size_t at = from; at + search_length <= length; ++at) {
    if (std::memcmp(text + at, search, search_length * sizeof(Char)) == 0) return static_cast<ptrdiff_t>(at);
  }
  return -1;
}

char* padded(const char* text, char fill, int32_t count, bool fill_first) {
  size_t length = text_length(text);
  size_t filled = count < 1 ? 0 : static_cast<size_t>(count);
  char* result = new_text<char>(length + filled);
  if (!result) return nullptr;
  char* fill_at = fill_first ? result : result + length;
  char* text_at = fill_first ? result + filled : result;
  std::memset(fill_at, fill, filled);
  if (length) std::memcpy(text_at, text, length);
  return result;
}

bool is_blank(char c) { return c == ' '; }

}  // namespace

template <typename Char>
void text_delete_range(Char** text, int32_t position, int32_t count) {
  if (!text || count < 1) return;
  size_t length = text_length(*text);
  size_t at = clamp_position(position, length);
  size_t removed = static_cast<size_t>(count) < length - at ? static_cast<size_t>(count) : length - at;
  if (removed) splice<Char>(text, at, removed, nullptr, 0);
}

template <typename Char>
void text_insert_at(const Char* insertion, Char** text, int32_t position) {
  if (!text) return;
  size_t inserted = text_length(insertion);
  size_t at = clamp_position(position, text_length(*text));
  if (inserted || !*text) splice<Char>(text, at, 0, insertion, inserted);
}

// One pass that builds the whole result: the same text as deleting and inserting at each
// occurrence in turn, without copying the text once per occurrence.
template <typename Char>
void text_replace_all(Char** text, const Char* search, const Char* replacement) {
  if (!text || !*text) return;
  size_t search_length = text_length(search);
  if (search_length == 0) return;
  size_t replacement_length = text_length(replacement);
  const Char* old = *text;
  size_t length = text_length(old);
  size_t occurrences = 0;
  for (ptrdiff_t at = find_from(old, length, search, search_length, 0); at >= 0;
       at = find_from(old, length, search, search_length, static_cast<size_t>(at) + search_length)) {
    ++occurrences;
  }
  if (occurrences == 0) return;
  Char* result = new_text<Char>(length - occurrences * search_length + occurrences * replacement_length);
  if (!result) return;
  size_t read = 0, written = 0;
  for (ptrdiff_t at = find_from(old, length, search, search_length, 0); at >= 0;
       at = find_from(old, length, search, search_length, read)) {
    size_t kept = static_cast<size_t>(at) - read;
    std::memcpy(result + written, old + read, kept * sizeof(Char));
    written += kept;
    if (replacement_length) std::memcpy(result + written, replacement, replacement_length * sizeof(Char));
    written += replacement_length;
    read = static_cast<size_t>(at) + search_length;
  }
  std::memcpy(result + written, old + read, (length - read) * sizeof(Char));
  crt::free(*text);
  *text = result;
}

template void text_delete_range(char**, int32_t, int32_t);
template void text_delete_range(char16_t**, int32_t, int32_t);
template void text_insert_at(const char*, char**, int32_t);
template void text_insert_at(const char16_t*, char16_t**, int32_t);
template void text_replace_all(char**, const char*, const char*);
template void text_replace_all(char16_t**, const char16_t*, const char16_t*);

void string_delete_range(char** text, int32_t position, int32_t count) { text_delete_range(text, position, count); }
void wide_string_delete_range(char16_t** text, int32_t position, int32_t count) {
  text_delete_range(text, position, count);
}

void string_insert_at(const char* insertion, char** text, int32_t position) {
  text_insert_at(insertion, text, position);
}
void wide_string_insert_at(const char16_t* insertion, char16_t** text, int32_t position) {
  text_insert_at(insertion, text, position);
}

void string_replace_all(char** text, const char* search, const char* replacement) {
  text_replace_all(text, search, replacement);
}
void wide_string_replace_all(char16_t** text, const char16_t* search, const char16_t* replacement) {
  text_replace_all(text, search, replacement);
}

char* heap_strdup(HANDLE heap, const char* text) {
  size_t length = text_length(text);
  auto* copy = static_cast<char*>(HeapAlloc(heap, 0, length + 1));
  if (!copy) return nullptr;
  if (length) std::memcpy(copy, text, length);
  copy[length] = 0;
  return copy;
}

char* insert_thousands_separators(const char* number_text) {
  size_t length = text_length(number_text);
  const char* point = number_text ? std::strchr(number_text, '.') : nullptr;
  size_t integer_end = point ? static_cast<size_t>(point - number_text) : length;
  // A sign stays outside the groups, so "-123" does not become "-,123".
  size_t digits_start = (length && (number_text[0] == '-' || number_text[0] == '+')) ? 1 : 0;
  size_t digits = integer_end > digits_start ? integer_end - digits_start : 0;
  size_t separators = digits ? (digits - 1) / 3 : 0;
  char* result = new_text<char>(length + separators);
  if (!result) return nullptr;
  char* out = result + length + separators;
  // Right to left: the fraction unchanged, then a ',' before every fourth counted digit.
  for (size_t at = length; at > integer_end;) *--out = number_text[--at];
  size_t counted = 0;
  for (size_t at = integer_end; at > digits_start;) {
    if (counted && counted % 3 == 0) *--out = ',';
    *--out = number_text[--at];
    ++counted;
  }
  if (digits_start) *--out = number_text[0];
  return result;
}

char* number_to_grouped_text(double value) {
  char* plain = number_to_text(value);
  if (!plain) return nullptr;
  char* grouped = insert_thousands_separators(plain);
  crt::free(plain);
  return grouped;
}

char* trim_right_spaces(const char* text) {
  size_t length = text_length(text);
  while (length && is_blank(text[length - 1])) --length;
  return copy_of(text, length);
}

char* trim_left_spaces(const char* text) {
  size_t length = text_length(text);
  size_t start = 0;
  while (start < length && is_blank(text[start])) ++start;
  return copy_of(text + start, length - start);
}

char* pad_left(const char* text, char fill, int32_t count) { return padded(text, fill, count, true); }
char* pad_right(const char* text, char fill, int32_t count) { return padded(text, fill, count, false); }

double truncate_double(double value) {
  if (std::isnan(value)) return value;
  return value >= 0 ? std::floor(value + 1e-12) : std::ceil(value - 1e-12);
}

int64_t truncate_to_int64(double value) {
  double truncated = truncate_double(value);
  // The SSE conversion where it reaches (the 64-bit one goes through the x87 unit).
  if (std::fabs(truncated) < 2147483648.0) return static_cast<int32_t>(truncated);
  if (!(std::fabs(truncated) < 9223372036854775808.0)) return 0;
  return static_cast<int64_t>(truncated);
}

int32_t truncate_biased_to_int(double value) { return truncate_to_int(truncate_double(value)); }

int32_t random_int(int32_t limit) {
  return truncate_to_int(static_cast<double>(crt::rand()) * (1.0 / 32768.0) * static_cast<double>(limit));
}

int message_box(const char* text, const char* caption, UINT type) {
  char16_t* wide_text = to_wide(text);
  char16_t* wide_caption = to_wide(caption);
  // No window system yet, so no foreground window to own the box.
  int answer = MessageBoxW(nullptr, wide_text, wide_caption, type);
  crt::free(wide_text);
  crt::free(wide_caption);
  return answer;
}

int is_bad_write_pointer(void* pointer) { return IsBadWritePtr(pointer, 1) ? 1 : 0; }

// ---- Soundex ----

namespace {

constexpr size_t kSoundexInput = 31;
constexpr char kRemoved = '.';  // a letter a spelling rule took out

char soundex_digit(char letter) {
  //                       ABCDEFGHIJKLMNOPQRSTUVWXYZ
  static const char* const digits = "01230120022455012623010202";
  return digits[letter - 'A'];
}

bool starts_with(const char* at, const char* end, const char* pattern) {
  for (; *pattern; ++pattern, ++at) {
    if (at >= end || *at != *pattern) return false;
  }
  return true;
}

// The spelling rules, scanned once from the start; the letters of a rule that fired
// are not looked at again.
void apply_spelling_rules(char* letters, size_t length) {
  char* end = letters + length;
  if (starts_with(letters, end, "PS") || starts_with(letters, end, "PF")) letters[0] = kRemoved;
  for (char* at = letters; at < end;) {
    if (starts_with(at, end, "DG") || starts_with(at, end, "GH") || starts_with(at, end, "KN") ||
        starts_with(at, end, "GN") || starts_with(at, end, "MB")) {
      at[at[0] == 'M' ? 1 : 0] = kRemoved;  // DG keeps G, GH keeps H ... MB keeps M
      at += 2;
    } else if (starts_with(at, end, "PH")) {
      at[0] = 'F';
      at[1] = kRemoved;
      at += 2;
    } else if (starts_with(at, end, "TCH")) {
      at[0] = kRemoved;
      at += 3;
    } else if (starts_with(at, end, "MP") && at + 2 < end && (at[2] == 'S' || at[2] == 'T' || at[2] == 'Z')) {
      at[1] = kRemoved;
      at += 2;
    } else {
      ++at;
    }
  }
}

}  // namespace

int32_t soundex_code(char* output, const char* text, int32_t code_length, int census) {
  int32_t length = census ? 4 : (code_length == 0 ? 4 : code_length);
  if (length < 4) length = 4;
  if (length > 10) length = 10;
  output[0] = 0;
  if (!text) return 0;

  // Upper-case letters; everything else a blank; blanks trimmed at both ends.
  char letters[kSoundexInput + 1];
  size_t count = 0;
  for (; count < kSoundexInput && text[count]; ++count) {
    char c = text[count];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    letters[count] = (c >= 'A' && c <= 'Z') ? c : ' ';
  }
  size_t start = 0;
  while (start < count && letters[start] == ' ') ++start;
  while (count > start && letters[count - 1] == ' ') --count;
  if (start == count) return 0;
  char* word = letters + start;
  size_t word_length = count - start;

  if (!census) apply_spelling_rules(word, word_length);
  // Drop what the rules removed (and H, W after the first letter in census mode).
  size_t kept = 0;
  for (size_t at = 0; at < word_length; ++at) {
    char c = word[at];
    if (c == kRemoved) continue;
    if (census && kept > 0 && (c == 'H' || c == 'W')) continue;
    word[kept++] = c;
  }
  if (kept == 0) return 0;

  // Digits: a digit equal to the one before it (the first letter's included) is a run;
  // blanks and zeros separate runs and are then dropped.
  char first = word[0];
  int32_t written = 0;
  output[written++] = first;
  char previous = soundex_digit(first);
  for (size_t at = 1; at < kept && written < length; ++at) {
    char digit = word[at] == ' ' ? ' ' : soundex_digit(word[at]);
    if (digit == previous) continue;
    previous = digit;
    if (digit != ' ' && digit != '0') output[written++] = digit;
  }
  while (written < length) output[written++] = '0';
  output[written] = 0;
  return written;
}

std::string format_text(const char* pattern, ...) {
  va_list arguments;
  va_start(arguments, pattern);
  va_list copy;
  va_copy(copy, arguments);
  int length = std::vsnprintf(nullptr, 0, pattern, copy);
  va_end(copy);
  std::string text(length > 0 ? length : 0, '\0');
  if (length > 0) std::vsnprintf(text.data(), length + 1, pattern, arguments);
  va_end(arguments);
  return text;
}

std::string number_string(double value) {
  char* text = number_to_text(value);
  std::string result = text ? text : "";
  crt::free(text);
  return result;
}

std::string grouped_number_string(double value) {
  char* text = number_to_grouped_text(value);
  std::string result = text ? text : "";
  crt::free(text);
  return result;
}

