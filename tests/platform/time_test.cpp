// Time: the real and the virtual clock, SYSTEMTIME <-> FILETIME, date and time pictures.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/platform.h"

namespace {

using Clock = std::chrono::steady_clock;

uint64_t counter_now() {
  LARGE_INTEGER count{};
  EXPECT_TRUE(QueryPerformanceCounter(&count));
  return static_cast<uint64_t>(count.QuadPart);
}

uint64_t ticks_of(const FILETIME& time) { return platform::ticks_from_filetime(time); }

SYSTEMTIME make_time(WORD year, WORD month, WORD day, WORD hour = 0, WORD minute = 0, WORD second = 0,
                     WORD milliseconds = 0, WORD day_of_week = 0) {
  return SYSTEMTIME{year, month, day_of_week, day, hour, minute, second, milliseconds};
}

// --- The clock ----------------------------------------------------------------------------

TEST(Time, RealClockFollowsTheHost) {
  platform::clock_select_virtual(false);
  LARGE_INTEGER frequency{};
  ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
  EXPECT_EQ(frequency.QuadPart, 1000000);
  // The host's interval encloses the others, so a pause of this thread between two reads
  // can only lengthen the host's.
  auto host_before = Clock::now();
  DWORD ticks_before = GetTickCount();
  uint64_t counter_before = counter_now();
  Sleep(60);
  uint64_t counter_elapsed = counter_now() - counter_before;
  DWORD ticks_elapsed = GetTickCount() - ticks_before;
  auto host_elapsed_us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - host_before).count();
  EXPECT_GE(ticks_elapsed, 59u);
  EXPECT_LE(ticks_elapsed, static_cast<DWORD>(host_elapsed_us / 1000 + 2));
  EXPECT_GE(counter_elapsed, 60000u);
  EXPECT_LE(counter_elapsed, static_cast<uint64_t>(host_elapsed_us) + 2000);
  EXPECT_FALSE(QueryPerformanceCounter(nullptr));
  EXPECT_FALSE(QueryPerformanceFrequency(nullptr));
}

class VirtualClock : public ::testing::Test {
 protected:
  void SetUp() override { platform::clock_select_virtual(true); }
  void TearDown() override { platform::clock_select_virtual(false); }
};

TEST_F(VirtualClock, StandsStillWhileCodeRuns) {
  ASSERT_TRUE(platform::clock_is_virtual());
  DWORD ticks = GetTickCount();
  uint64_t counter = counter_now();
  auto until = Clock::now() + std::chrono::milliseconds(30);
  volatile uint64_t spins = 0;
  while (Clock::now() < until) spins = spins + 1;
  EXPECT_EQ(GetTickCount(), ticks);
  EXPECT_EQ(counter_now(), counter);
}

TEST_F(VirtualClock, SleepMovesItByExactlyItsLength) {
  DWORD ticks = GetTickCount();
  uint64_t counter = counter_now();
  uint64_t microseconds = platform::clock_now_microseconds();
  auto host_before = Clock::now();
  Sleep(250);
  EXPECT_LT(Clock::now() - host_before, std::chrono::milliseconds(200)) << "a virtual sleep really slept";
  EXPECT_EQ(GetTickCount() - ticks, 250u);
  EXPECT_EQ(counter_now() - counter, 250000u);
  EXPECT_EQ(platform::clock_now_microseconds() - microseconds, 250000u);
}

TEST_F(VirtualClock, TimedOutWaitMovesItByItsTimeout) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  uint64_t counter = counter_now();
  EXPECT_EQ(WaitForSingleObject(event, 30), WAIT_TIMEOUT);
  EXPECT_EQ(counter_now() - counter, 30000u);
  SetEvent(event);
  counter = counter_now();
  EXPECT_EQ(WaitForSingleObject(event, 30), WAIT_OBJECT_0);
  EXPECT_EQ(counter_now() - counter, 0u) << "a wait that ended on its object moved the clock";
  CloseHandle(event);
}

DWORD set_event_later(LPVOID parameter) {
  auto until = Clock::now() + std::chrono::milliseconds(50);
  while (Clock::now() < until) {
  }
  SetEvent(static_cast<HANDLE>(parameter));
  return 0;
}

TEST_F(VirtualClock, WaitsStillEndOnSignalsFromOtherThreads) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE thread = CreateThread(nullptr, 0, set_event_later, event, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  uint64_t counter = counter_now();
  EXPECT_EQ(WaitForSingleObject(event, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(counter_now(), counter);
  WaitForSingleObject(thread, 5000);
  CloseHandle(thread);
  CloseHandle(event);
}

TEST_F(VirtualClock, AdvanceMovesEveryReading) {
  DWORD ticks = GetTickCount();
  uint64_t counter = counter_now();
  platform::clock_advance_microseconds(1500);
  EXPECT_EQ(counter_now() - counter, 1500u);
  EXPECT_GE(GetTickCount() - ticks, 1u);
  EXPECT_LE(GetTickCount() - ticks, 2u);
}

// --- SYSTEMTIME and FILETIME -------------------------------------------------------------

TEST(Time, SystemTimeAndFileTimeConvertBothWays) {
  struct Row {
    SYSTEMTIME time;  // with its true day of week
    uint64_t ticks;
  };
  const Row rows[] = {
      {make_time(1601, 1, 1, 0, 0, 0, 0, 1), 0},
      {make_time(1970, 1, 1, 0, 0, 0, 0, 4), 116444736000000000ULL},
      {make_time(2000, 1, 1, 0, 0, 0, 0, 6), 125911584000000000ULL},
      {make_time(2000, 2, 29, 12, 34, 56, 789, 2), 125963012967890000ULL},
      {make_time(2009, 3, 7, 14, 5, 9, 123, 6), 128809083091230000ULL},
      {make_time(9999, 12, 31, 23, 59, 59, 999, 5), 2650467743999990000ULL},
  };
  for (const auto& row : rows) {
    SYSTEMTIME given = row.time;
    given.wDayOfWeek = 3;  // ignored
    FILETIME file_time{};
    ASSERT_TRUE(SystemTimeToFileTime(&given, &file_time)) << row.ticks;
    EXPECT_EQ(ticks_of(file_time), row.ticks);
    SYSTEMTIME back{};
    file_time = platform::filetime_from_ticks(row.ticks);
    ASSERT_TRUE(FileTimeToSystemTime(&file_time, &back)) << row.ticks;
    EXPECT_EQ(memcmp(&back, &row.time, sizeof back), 0)
        << row.ticks << ": " << back.wYear << "-" << back.wMonth << "-" << back.wDay << " dow " << back.wDayOfWeek
        << " " << back.wHour << ":" << back.wMinute << ":" << back.wSecond << "." << back.wMilliseconds;
  }
  // The largest FILETIME there is.
  FILETIME largest{0xFFFFFFFFu, 0x7FFFFFFFu};
  SYSTEMTIME far{};
  ASSERT_TRUE(FileTimeToSystemTime(&largest, &far));
  SYSTEMTIME expected = make_time(30828, 9, 14, 2, 48, 5, 477, 4);
  EXPECT_EQ(memcmp(&far, &expected, sizeof far), 0);
}

TEST(Time, InvalidTimesAreRefused) {
  const SYSTEMTIME rows[] = {
      make_time(1600, 12, 31), make_time(2001, 0, 1),         make_time(2001, 13, 1),
      make_time(2001, 2, 29),  make_time(1900, 2, 29),        make_time(2001, 4, 31),
      make_time(2001, 1, 0),   make_time(2001, 1, 1, 24),     make_time(2001, 1, 1, 0, 60),
      make_time(2001, 1, 1, 0, 0, 60), make_time(2001, 1, 1, 0, 0, 0, 1000),
  };
  int index = 0;
  for (const auto& row : rows) {
    FILETIME file_time{};
    SetLastError(0);
    EXPECT_FALSE(SystemTimeToFileTime(&row, &file_time)) << "row " << index;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << "row " << index;
    ++index;
  }
  SYSTEMTIME leap_day = make_time(2000, 2, 29);
  EXPECT_FALSE(SystemTimeToFileTime(&leap_day, nullptr));
  FILETIME too_far{0, 0x80000000u};
  SYSTEMTIME out{};
  EXPECT_FALSE(FileTimeToSystemTime(&too_far, &out));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

// Runs the body with the host's time zone set to zone, then restores it.
class TimeZone : public ::testing::Test {
 protected:
  void use_zone(const char* zone) {
    const char* old = std::getenv("TZ");
    had_zone_ = old != nullptr;
    if (old) old_zone_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  void TearDown() override {
    if (had_zone_)
      setenv("TZ", old_zone_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  bool had_zone_ = false;
  std::string old_zone_;
};

TEST_F(TimeZone, LocalFileTimesShiftByTheCurrentOffset) {
  use_zone("EST5");  // five hours behind UTC, no daylight saving
  const uint64_t hour = 36000000000ULL;
  FILETIME utc = platform::filetime_from_ticks(125911584000000000ULL);
  FILETIME local{}, back{};
  ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
  EXPECT_EQ(ticks_of(local), 125911584000000000ULL - 5 * hour);
  ASSERT_TRUE(LocalFileTimeToFileTime(&local, &back));
  EXPECT_EQ(ticks_of(back), ticks_of(utc));
  FILETIME start{0, 0};
  EXPECT_FALSE(FileTimeToLocalFileTime(&start, &local)) << "before 1601 in local time";
  EXPECT_FALSE(FileTimeToLocalFileTime(nullptr, &local));
}

TEST_F(TimeZone, WallClockIsLocalOrUtc) {
  use_zone("EST5");
  SYSTEMTIME utc{}, local{};
  GetSystemTime(&utc);
  GetLocalTime(&local);
  FILETIME utc_file{}, local_file{};
  ASSERT_TRUE(SystemTimeToFileTime(&utc, &utc_file));
  ASSERT_TRUE(SystemTimeToFileTime(&local, &local_file));
  int64_t offset_seconds = (static_cast<int64_t>(ticks_of(local_file)) - static_cast<int64_t>(ticks_of(utc_file))) / 10000000;
  EXPECT_NEAR(offset_seconds, -5 * 3600, 2);
  int64_t host_seconds = static_cast<int64_t>(std::time(nullptr));
  int64_t utc_seconds = static_cast<int64_t>(ticks_of(utc_file) / 10000000) - platform::kUnixEpochInFiletimeSeconds;
  EXPECT_NEAR(utc_seconds, host_seconds, 2);
  SYSTEMTIME decoded{};
  ASSERT_TRUE(FileTimeToSystemTime(&utc_file, &decoded));
  EXPECT_EQ(decoded.wDayOfWeek, utc.wDayOfWeek);
}

// --- Date and time pictures ---------------------------------------------------------------

std::u16string date_text(DWORD flags, const char16_t* format, const SYSTEMTIME& time, LCID locale = LOCALE_SYSTEM_DEFAULT) {
  WCHAR buffer[128];
  int written = GetDateFormatW(locale, flags, &time, format, buffer, 128);
  if (written <= 0) return u"<error>";
  return std::u16string(buffer, static_cast<size_t>(written - 1));
}

std::u16string time_text(DWORD flags, const char16_t* format, const SYSTEMTIME& time) {
  WCHAR buffer[128];
  int written = GetTimeFormatW(LOCALE_SYSTEM_DEFAULT, flags, &time, format, buffer, 128);
  if (written <= 0) return u"<error>";
  return std::u16string(buffer, static_cast<size_t>(written - 1));
}

std::string narrow(const std::u16string& text) { return platform::utf8_from_utf16(text); }

// A Saturday afternoon; its day of week is given wrong on purpose.
const SYSTEMTIME kAfternoon = make_time(2009, 3, 7, 14, 5, 9, 123, 2);

TEST(Time, DatePictures) {
  struct Row {
    DWORD flags;
    const char16_t* format;
    const char16_t* expected;
  };
  const Row rows[] = {
      {DATE_SHORTDATE, nullptr, u"3/7/2009"},
      {0, nullptr, u"3/7/2009"},
      {DATE_LONGDATE, nullptr, u"Saturday, March 07, 2009"},
      {DATE_YEARMONTH, nullptr, u"March, 2009"},
      {DATE_LONGDATE | LOCALE_NOUSEROVERRIDE, nullptr, u"Saturday, March 07, 2009"},
      {0, u"d dd ddd dddd ddddd", u"7 07 Sat Saturday Saturday"},
      {0, u"M MM MMM MMMM", u"3 03 Mar March"},
      {0, u"y yy yyyy", u"9 09 2009"},
      {0, u"gg", u"A.D."},
      {0, u"'Today is' dddd", u"Today is Saturday"},
      {0, u"dd''MM", u"07'03"},
      {0, u"'it''s the' d'th'", u"it's the 7th"},
      {0, u"yyyy-MM-dd hh:mm", u"2009-03-07 hh:mm"},
      {0, u"'unclosed d", u"unclosed d"},
      {0, u"", u""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(narrow(date_text(row.flags, row.format, kAfternoon)), narrow(row.expected))
        << "flags " << row.flags << " picture " << (row.format ? narrow(row.format) : "(none)");
  }
  EXPECT_EQ(narrow(date_text(0, u"d/M/y", make_time(2010, 12, 25))), "25/12/10");
}

TEST(Time, TimePictures) {
  const SYSTEMTIME after_midnight = make_time(2009, 3, 7, 0, 7, 3);
  const SYSTEMTIME noon = make_time(2009, 3, 7, 12, 0, 0);
  struct Row {
    const SYSTEMTIME* time;
    DWORD flags;
    const char16_t* format;
    const char16_t* expected;
  };
  const Row rows[] = {
      {&kAfternoon, 0, nullptr, u"2:05:09 PM"},
      {&kAfternoon, 0, u"hh:mm:ss tt", u"02:05:09 PM"},
      {&kAfternoon, 0, u"H HH h hh hhh", u"14 14 2 02 02"},
      {&kAfternoon, 0, u"m mm s ss", u"5 05 9 09"},
      {&kAfternoon, 0, u"t tt", u"P PM"},
      {&kAfternoon, 0, u"'at' h 'o''clock'", u"at 2 o'clock"},
      {&kAfternoon, 0, u"d M y", u"d M y"},
      {&kAfternoon, TIME_NOSECONDS, nullptr, u"2:05 PM"},
      {&kAfternoon, TIME_NOMINUTESORSECONDS, nullptr, u"2 PM"},
      {&kAfternoon, TIME_NOTIMEMARKER, nullptr, u"2:05:09"},
      {&kAfternoon, TIME_FORCE24HOURFORMAT, nullptr, u"14:05:09 PM"},
      {&kAfternoon, TIME_FORCE24HOURFORMAT | TIME_NOTIMEMARKER, nullptr, u"14:05:09"},
      {&kAfternoon, TIME_NOSECONDS, u"hh:mm:ss tt", u"02:05 PM"},
      {&kAfternoon, TIME_NOTIMEMARKER, u"tt hh:mm", u"02:05"},
      {&after_midnight, 0, nullptr, u"12:07:03 AM"},
      {&after_midnight, 0, u"HH:mm t", u"00:07 A"},
      {&noon, 0, nullptr, u"12:00:00 PM"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(narrow(time_text(row.flags, row.format, *row.time)), narrow(row.expected))
        << "flags " << row.flags << " picture " << (row.format ? narrow(row.format) : "(none)");
  }
}

TEST(Time, FormatBufferSizes) {
  WCHAR buffer[16];
  struct Row {
    bool date;
    LPWSTR buffer;
    int chars;
    int result;
    DWORD error;  // when result is 0
  };
  // "3/7/2009" and "2:05:09 PM" need 9 and 11 characters with the terminator.
  const Row rows[] = {
      {true, buffer, 0, 9, 0},          {true, nullptr, 0, 9, 0},
      {true, buffer, 9, 9, 0},          {true, buffer, 8, 0, ERROR_INSUFFICIENT_BUFFER},
      {true, buffer, -1, 0, ERROR_INVALID_PARAMETER}, {true, nullptr, 5, 0, ERROR_INVALID_PARAMETER},
      {false, buffer, 0, 11, 0},        {false, buffer, 11, 11, 0},
      {false, buffer, 10, 0, ERROR_INSUFFICIENT_BUFFER},
  };
  int index = 0;
  for (const auto& row : rows) {
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    SetLastError(0);
    int result = row.date ? GetDateFormatW(LOCALE_USER_DEFAULT, 0, &kAfternoon, nullptr, row.buffer, row.chars)
                          : GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &kAfternoon, nullptr, row.buffer, row.chars);
    EXPECT_EQ(result, row.result) << "row " << index;
    if (row.result == 0) {
      EXPECT_EQ(GetLastError(), row.error) << "row " << index;
    }
    if (row.chars == 0) {
      EXPECT_EQ(buffer[0], u'#') << "row " << index << " wrote with no room given";
    }
    if (row.result > 0 && row.chars > 0) {
      EXPECT_EQ(buffer[row.result - 1], u'\0') << "row " << index;
    }
    ++index;
  }
}

TEST(Time, FormatRefusesBadRequests) {
  WCHAR buffer[64];
  struct Row {
    const char* name;
    bool date;
    LCID locale;
    DWORD flags;
    const char16_t* format;
    SYSTEMTIME time;
    DWORD error;
  };
  const Row rows[] = {
      {"short and long", true, LOCALE_SYSTEM_DEFAULT, DATE_SHORTDATE | DATE_LONGDATE, nullptr, kAfternoon, ERROR_INVALID_FLAGS},
      {"picture and flag", true, LOCALE_SYSTEM_DEFAULT, DATE_LONGDATE, u"d", kAfternoon, ERROR_INVALID_FLAGS},
      {"unknown date flag", true, LOCALE_SYSTEM_DEFAULT, 0x100, nullptr, kAfternoon, ERROR_INVALID_FLAGS},
      {"unknown time flag", false, LOCALE_SYSTEM_DEFAULT, 0x100, nullptr, kAfternoon, ERROR_INVALID_FLAGS},
      {"German", true, 0x0407, 0, nullptr, kAfternoon, ERROR_INVALID_PARAMETER},
      {"30 February", true, LOCALE_SYSTEM_DEFAULT, 0, nullptr, make_time(2009, 2, 30), ERROR_INVALID_PARAMETER},
      {"month 13", true, LOCALE_SYSTEM_DEFAULT, 0, nullptr, make_time(2009, 13, 1), ERROR_INVALID_PARAMETER},
      {"hour 24", false, LOCALE_SYSTEM_DEFAULT, 0, nullptr, make_time(2009, 1, 1, 24), ERROR_INVALID_PARAMETER},
      {"second 60", false, LOCALE_SYSTEM_DEFAULT, 0, nullptr, make_time(2009, 1, 1, 0, 0, 60), ERROR_INVALID_PARAMETER},
  };
  for (const auto& row : rows) {
    SetLastError(0);
    int result = row.date ? GetDateFormatW(row.locale, row.flags, &row.time, row.format, buffer, 64)
                          : GetTimeFormatW(row.locale, row.flags, &row.time, row.format, buffer, 64);
    EXPECT_EQ(result, 0) << row.name;
    EXPECT_EQ(GetLastError(), row.error) << row.name;
  }
  for (LCID english : {LCID{0}, LOCALE_USER_DEFAULT, LOCALE_SYSTEM_DEFAULT, LCID{0x409}, LCID{0x809}}) {
    EXPECT_EQ(narrow(date_text(0, nullptr, kAfternoon, english)), "3/7/2009") << std::hex << english;
  }
}

TEST(Time, FormatWithoutATimeUsesNow) {
  SYSTEMTIME before{}, after{};
  WCHAR date[64], clock[64];
  GetLocalTime(&before);
  ASSERT_GT(GetDateFormatW(LOCALE_SYSTEM_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, 64), 0);
  ASSERT_GT(GetTimeFormatW(LOCALE_SYSTEM_DEFAULT, 0, nullptr, u"HH:mm", clock, 64), 0);
  GetLocalTime(&after);
  std::string date_now = narrow(date), clock_now = narrow(clock);
  EXPECT_TRUE(date_now == narrow(date_text(0, nullptr, before)) || date_now == narrow(date_text(0, nullptr, after)))
      << date_now;
  EXPECT_TRUE(clock_now == narrow(time_text(0, u"HH:mm", before)) || clock_now == narrow(time_text(0, u"HH:mm", after)))
      << clock_now;
}

}  // namespace
