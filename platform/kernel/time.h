// Time: tick count, performance counter, wall-clock time, SYSTEMTIME <-> FILETIME and
// date and time text in the device's one locale, English (United States).
#pragma once

#include "platform/kernel/types.h"

using LCID = DWORD;

constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
constexpr DWORD LOCALE_NOUSEROVERRIDE = 0x80000000u;
constexpr DWORD LOCALE_USE_CP_ACP = 0x40000000u;

constexpr DWORD DATE_SHORTDATE = 0x1;
constexpr DWORD DATE_LONGDATE = 0x2;
constexpr DWORD DATE_USE_ALT_CALENDAR = 0x4;
constexpr DWORD DATE_YEARMONTH = 0x8;
constexpr DWORD DATE_LTRREADING = 0x10;
constexpr DWORD DATE_RTLREADING = 0x20;

constexpr DWORD TIME_NOMINUTESORSECONDS = 0x1;
constexpr DWORD TIME_NOSECONDS = 0x2;
constexpr DWORD TIME_NOTIMEMARKER = 0x4;
constexpr DWORD TIME_FORCE24HOURFORMAT = 0x8;


// Milliseconds since the program started, wrapping at 2^32. Reads the platform clock
// (virtual with ZRK_CLOCK=virtual).
DWORD GetTickCount();

// The performance counter counts microseconds of the platform clock: the frequency is 1,000,000.
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
BOOL QueryPerformanceCounter(LARGE_INTEGER* count);

// The host's wall-clock time, local or UTC, with day of week (0 = Sunday) and milliseconds.
void GetLocalTime(SYSTEMTIME* time);
void GetSystemTime(SYSTEMTIME* time);

// Converts a valid date and time (years 1601..30827; the day of week is ignored) to a FILETIME.
BOOL SystemTimeToFileTime(const SYSTEMTIME* system_time, FILETIME* file_time);
// Converts a FILETIME below 2^63 to its date and time, day of week included.
BOOL FileTimeToSystemTime(const FILETIME* file_time, SYSTEMTIME* system_time);

// UTC <-> local time with the host's current offset from UTC (daylight saving as it is now,
// whatever the date converted), so each is the exact inverse of the other.
BOOL FileTimeToLocalFileTime(const FILETIME* file_time, FILETIME* local_file_time);
BOOL LocalFileTimeToFileTime(const FILETIME* local_file_time, FILETIME* file_time);

// Writes a date (null: today, local) as the picture format (null: the locale's picture chosen
// by DATE_SHORTDATE "M/d/yyyy", DATE_LONGDATE "dddd, MMMM dd, yyyy" or DATE_YEARMONTH
// "MMMM, yyyy"; short by default). Picture elements: d dd ddd dddd, M MM MMM MMMM, y yy yyyy,
// g gg; text in single quotes is literal ('' is a quote); other characters are copied.
// Returns the characters written with the terminator, the count needed when chars is 0, or
// 0 with ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_PARAMETER or ERROR_INVALID_FLAGS.
// Any English locale and the default locales are accepted.
int GetDateFormatW(LCID locale, DWORD flags, const SYSTEMTIME* date, LPCWSTR format, LPWSTR buffer, int chars);

// Writes a time (null: now, local) as the picture format (null: "h:mm:ss tt"). Elements:
// h hh (12-hour), H HH (24-hour), m mm, s ss, t tt (A/P, AM/PM). The flags also apply to a
// given picture: TIME_NOMINUTESORSECONDS, TIME_NOSECONDS and TIME_NOTIMEMARKER drop those
// elements with the separator before them, TIME_FORCE24HOURFORMAT reads h as H.
// Returns as GetDateFormatW does.
int GetTimeFormatW(LCID locale, DWORD flags, const SYSTEMTIME* time, LPCWSTR format, LPWSTR buffer, int chars);
