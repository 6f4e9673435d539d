// Tick count and performance counter over the platform clock; calendar arithmetic for
// SYSTEMTIME and FILETIME; date and time pictures for the English (United States) locale.
#include "platform/kernel/time.h"

#include <time.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/kernel/clock.h"
#include "platform/kernel/filetime.h"

namespace {

constexpr int64_t kTicksPerMillisecond = 10000;
constexpr int64_t kMillisecondsPerDay = 86400000;
// Days from 1601-01-01 to 1970-01-01.
constexpr int64_t kDaysFrom1601To1970 = 134774;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t days_from_civil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned year_of_era = static_cast<unsigned>(year - era * 400);
  const unsigned day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + static_cast<int64_t>(day_of_era) - 719468;
}

void civil_from_days(int64_t days, int64_t& year, unsigned& month, unsigned& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned day_of_era = static_cast<unsigned>(days - era * 146097);
  const unsigned year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const unsigned shifted_month = (5 * day_of_year + 2) / 153;
  day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
  month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
  year = static_cast<int64_t>(year_of_era) + era * 400 + (month <= 2);
}

bool is_leap_year(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned days_in_month(unsigned year, unsigned month) {
  static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap_year(year) ? 29 : days[month - 1];
}

bool valid_date(const SYSTEMTIME& time) {
  return time.wYear >= 1601 && time.wYear <= 30827 && time.wMonth >= 1 && time.wMonth <= 12 && time.wDay >= 1 &&
         time.wDay <= days_in_month(time.wYear, time.wMonth);
}

bool valid_time(const SYSTEMTIME& time) {
  return time.wHour < 24 && time.wMinute < 60 && time.wSecond < 60 && time.wMilliseconds < 1000;
}

// Sunday is 0; 1970-01-01 was a Thursday.
WORD day_of_week(int64_t days_since_1970) { return static_cast<WORD>(((days_since_1970 + 4) % 7 + 7) % 7); }

SYSTEMTIME system_time_from_tm(const tm& fields, long nanoseconds) {
  SYSTEMTIME time{};
  time.wYear = static_cast<WORD>(fields.tm_year + 1900);
  time.wMonth = static_cast<WORD>(fields.tm_mon + 1);
  time.wDayOfWeek = static_cast<WORD>(fields.tm_wday);
  time.wDay = static_cast<WORD>(fields.tm_mday);
  time.wHour = static_cast<WORD>(fields.tm_hour);
  time.wMinute = static_cast<WORD>(fields.tm_min);
  time.wSecond = static_cast<WORD>(fields.tm_sec > 59 ? 59 : fields.tm_sec);  // a leap second reads as :59
  time.wMilliseconds = static_cast<WORD>(nanoseconds / 1000000);
  return time;
}

SYSTEMTIME wall_clock(bool local) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm fields{};
  if (local)
    localtime_r(&now.tv_sec, &fields);
  else
    gmtime_r(&now.tv_sec, &fields);
  return system_time_from_tm(fields, now.tv_nsec);
}

// The host's current offset of local time from UTC, in FILETIME ticks.
int64_t local_offset_ticks() {
  time_t now = time(nullptr);
  tm fields{};
  localtime_r(&now, &fields);
  return static_cast<int64_t>(fields.tm_gmtoff) * 1000 * kTicksPerMillisecond;
}

bool shift_file_time(const FILETIME* from, FILETIME* to, int64_t ticks) {
  if (!from || !to) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const int64_t shifted = static_cast<int64_t>(platform::ticks_from_filetime(*from)) + ticks;
  if (shifted < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  *to = platform::filetime_from_ticks(static_cast<uint64_t>(shifted));
  return true;
}

// --- Pictures -------------------------------------------------------------------------

const char16_t* const kDayNames[] = {u"Sunday", u"Monday", u"Tuesday", u"Wednesday", u"Thursday", u"Friday", u"Saturday"};
const char16_t* const kMonthNames[] = {u"January", u"February", u"March",     u"April",   u"May",      u"June",
                                       u"July",    u"August",   u"September", u"October", u"November", u"December"};

// One piece of a picture: an element (a run of one picture letter) or literal text.
struct PictureToken {
  char16_t letter;  // 0 for literal text
  int count;
  std::u16string text;
};

std::vector<PictureToken> tokenize(std::u16string_view picture, std::u16string_view letters) {
  std::vector<PictureToken> tokens;
  auto add_literal = [&](char16_t unit) {
    if (tokens.empty() || tokens.back().letter != 0) tokens.push_back({0, 0, {}});
    tokens.back().text += unit;
  };
  size_t at = 0;
  while (at < picture.size()) {
    char16_t unit = picture[at];
    if (unit == u'\'') {
      // '' is a quote; otherwise everything up to the next quote is literal ('' inside too).
      if (at + 1 < picture.size() && picture[at + 1] == u'\'') {
        add_literal(u'\'');
        at += 2;
        continue;
      }
      ++at;
      while (at < picture.size()) {
        if (picture[at] == u'\'') {
          if (at + 1 < picture.size() && picture[at + 1] == u'\'') {
            add_literal(u'\'');
            at += 2;
            continue;
          }
          ++at;
          break;
        }
        add_literal(picture[at++]);
      }
    } else if (letters.find(unit) != std::u16string_view::npos) {
      size_t end = at;
      while (end < picture.size() && picture[end] == unit) ++end;
      tokens.push_back({unit, static_cast<int>(end - at), {}});
      at = end;
    } else {
      add_literal(unit);
      ++at;
    }
  }
  return tokens;
}

// Removes the elements drop() names, each with the literal text that separates it from the
// element before it (or, for a leading element, from the element after it).
template <typename Drop>
void drop_elements(std::vector<PictureToken>& tokens, Drop drop) {
  std::vector<PictureToken> kept;
  bool skip_following_literal = false;
  for (auto& token : tokens) {
    if (token.letter == 0) {
      if (!skip_following_literal) kept.push_back(std::move(token));
      continue;
    }
    if (!drop(token.letter)) {
      kept.push_back(std::move(token));
      skip_following_literal = false;
      continue;
    }
    bool has_element_before = false;
    for (const auto& earlier : kept) has_element_before |= earlier.letter != 0;
    if (has_element_before) {
      while (!kept.empty() && kept.back().letter == 0) kept.pop_back();
    } else {
      skip_following_literal = true;
    }
  }
  tokens = std::move(kept);
}

void append_number(std::u16string& out, unsigned value, int minimum_digits) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
    value /= 10;
  } while (value != 0);
  while (static_cast<int>(digits.size()) < minimum_digits) digits.insert(digits.begin(), u'0');
  out += digits;
}

std::u16string render(const std::vector<PictureToken>& tokens, const SYSTEMTIME& time, bool force_24_hour) {
  std::u16string out;
  for (const auto& token : tokens) {
    const int pad = token.count >= 2 ? 2 : 1;
    switch (token.letter) {
      case 0:
        out += token.text;
        break;
      case u'd':
        if (token.count <= 2) {
          append_number(out, time.wDay, pad);
        } else {
          std::u16string_view name = kDayNames[time.wDayOfWeek];
          out += token.count == 3 ? name.substr(0, 3) : name;
        }
        break;
      case u'M':
        if (token.count <= 2) {
          append_number(out, time.wMonth, pad);
        } else {
          std::u16string_view name = kMonthNames[time.wMonth - 1];
          out += token.count == 3 ? name.substr(0, 3) : name;
        }
        break;
      case u'y':
        if (token.count <= 2)
          append_number(out, time.wYear % 100, pad);
        else
          append_number(out, time.wYear, 4);
        break;
      case u'g':
        out += u"A.D.";
        break;
      case u'h':
        if (!force_24_hour) {
          append_number(out, time.wHour % 12 == 0 ? 12 : time.wHour % 12, pad);
          break;
        }
        [[fallthrough]];
      case u'H':
        append_number(out, time.wHour, pad);
        break;
      case u'm':
        append_number(out, time.wMinute, pad);
        break;
      case u's':
        append_number(out, time.wSecond, pad);
        break;
      case u't':
        out += time.wHour < 12 ? (token.count == 1 ? u"A" : u"AM") : (token.count == 1 ? u"P" : u"PM");
        break;
    }
  }
  return out;
}

bool known_locale(LCID locale) {
  const DWORD primary_language = locale & 0x3FF;
  return primary_language == 0 || primary_language == 0x09;  // the defaults, or English
}

// Checks what both format functions check before formatting; false with the error set.
bool check_request(LCID locale, LPWSTR buffer, int chars) {
  if (!known_locale(locale) || chars < 0 || (chars > 0 && !buffer)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return true;
}

int deliver(const std::u16string& text, LPWSTR buffer, int chars) {
  const int needed = static_cast<int>(text.size()) + 1;
  if (chars == 0) return needed;
  if (chars < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  text.copy(buffer, text.size());
  buffer[text.size()] = u'\0';
  return needed;
}

}  // namespace

DWORD GetTickCount() { return static_cast<DWORD>(platform::clock_now_microseconds() / 1000u); }

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
  if (!frequency) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  frequency->QuadPart = 1000000;
  return TRUE;
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
  if (!count) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  count->QuadPart = static_cast<LONGLONG>(platform::clock_now_microseconds());
  return TRUE;
}

void GetLocalTime(SYSTEMTIME* time) {
  if (time) *time = wall_clock(true);
}

void GetSystemTime(SYSTEMTIME* time) {
  if (time) *time = wall_clock(false);
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* system_time, FILETIME* file_time) {
  if (!system_time || !file_time || !valid_date(*system_time) || !valid_time(*system_time)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const SYSTEMTIME& time = *system_time;
  const int64_t days = days_from_civil(time.wYear, time.wMonth, time.wDay) + kDaysFrom1601To1970;
  const int64_t milliseconds =
      days * kMillisecondsPerDay + ((time.wHour * 60 + time.wMinute) * 60 + time.wSecond) * 1000LL + time.wMilliseconds;
  *file_time = platform::filetime_from_ticks(static_cast<uint64_t>(milliseconds * kTicksPerMillisecond));
  return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* file_time, SYSTEMTIME* system_time) {
  if (!file_time || !system_time || (file_time->dwHighDateTime & 0x80000000u)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const int64_t milliseconds = static_cast<int64_t>(platform::ticks_from_filetime(*file_time)) / kTicksPerMillisecond;
  const int64_t days_since_1970 = milliseconds / kMillisecondsPerDay - kDaysFrom1601To1970;
  int64_t of_day = milliseconds % kMillisecondsPerDay;
  int64_t year;
  unsigned month, day;
  civil_from_days(days_since_1970, year, month, day);
  SYSTEMTIME& time = *system_time;
  time.wYear = static_cast<WORD>(year);
  time.wMonth = static_cast<WORD>(month);
  time.wDayOfWeek = day_of_week(days_since_1970);
  time.wDay = static_cast<WORD>(day);
  time.wMilliseconds = static_cast<WORD>(of_day % 1000);
  of_day /= 1000;
  time.wSecond = static_cast<WORD>(of_day % 60);
  of_day /= 60;
  time.wMinute = static_cast<WORD>(of_day % 60);
  time.wHour = static_cast<WORD>(of_day / 60);
  return TRUE;
}

BOOL FileTimeToLocalFileTime(const FILETIME* file_time, FILETIME* local_file_time) {
  return shift_file_time(file_time, local_file_time, local_offset_ticks()) ? TRUE : FALSE;
}

BOOL LocalFileTimeToFileTime(const FILETIME* local_file_time, FILETIME* file_time) {
  return shift_file_time(local_file_time, file_time, -local_offset_ticks()) ? TRUE : FALSE;
}

int GetDateFormatW(LCID locale, DWORD flags, const SYSTEMTIME* date, LPCWSTR format, LPWSTR buffer, int chars) {
  if (!check_request(locale, buffer, chars)) return 0;
  const DWORD known = DATE_SHORTDATE | DATE_LONGDATE | DATE_USE_ALT_CALENDAR | DATE_YEARMONTH | DATE_LTRREADING |
                      DATE_RTLREADING | LOCALE_NOUSEROVERRIDE | LOCALE_USE_CP_ACP;
  const DWORD picture_flags = flags & (DATE_SHORTDATE | DATE_LONGDATE | DATE_YEARMONTH);
  const bool several_pictures = (picture_flags & (picture_flags - 1)) != 0;
  if ((flags & ~known) || several_pictures || (format && picture_flags)) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  SYSTEMTIME time;
  if (date) {
    if (!valid_date(*date)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    time = *date;
    time.wDayOfWeek = day_of_week(days_from_civil(time.wYear, time.wMonth, time.wDay));
  } else {
    GetLocalTime(&time);
  }
  std::u16string_view picture = u"M/d/yyyy";
  if (format)
    picture = format;
  else if (flags & DATE_LONGDATE)
    picture = u"dddd, MMMM dd, yyyy";
  else if (flags & DATE_YEARMONTH)
    picture = u"MMMM, yyyy";
  return deliver(render(tokenize(picture, u"dMyg"), time, false), buffer, chars);
}

int GetTimeFormatW(LCID locale, DWORD flags, const SYSTEMTIME* time_of_day, LPCWSTR format, LPWSTR buffer, int chars) {
  if (!check_request(locale, buffer, chars)) return 0;
  const DWORD known = TIME_NOMINUTESORSECONDS | TIME_NOSECONDS | TIME_NOTIMEMARKER | TIME_FORCE24HOURFORMAT |
                      LOCALE_NOUSEROVERRIDE | LOCALE_USE_CP_ACP;
  if (flags & ~known) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  SYSTEMTIME time;
  if (time_of_day) {
    if (!valid_time(*time_of_day)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    time = *time_of_day;
  } else {
    GetLocalTime(&time);
  }
  auto tokens = tokenize(format ? std::u16string_view(format) : u"h:mm:ss tt", u"hHmst");
  drop_elements(tokens, [flags](char16_t letter) {
    if (letter == u't') return (flags & TIME_NOTIMEMARKER) != 0;
    if (letter == u'm') return (flags & TIME_NOMINUTESORSECONDS) != 0;
    if (letter == u's') return (flags & (TIME_NOMINUTESORSECONDS | TIME_NOSECONDS)) != 0;
    return false;
  });
  return deliver(render(tokens, time, (flags & TIME_FORCE24HOURFORMAT) != 0), buffer, chars);
}
