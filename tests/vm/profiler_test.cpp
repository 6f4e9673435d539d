// The profiler: intervals charged between a program's points (the first from its start),
// records per name and key, and the profile and memory reports.
#include "vm/profiler.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "foundation/runtime_memory.h"
#include "machine_fixture.h"
#include "platform/platform.h"

namespace {

std::string read_file(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Everything after the header line, which holds the date and time.
std::string body_of(const std::string& report) {
  EXPECT_TRUE(std::regex_search(report, std::regex("^\\d+/\\d+/\\d{4} \\d\\d:\\d\\d:\\d\\d [AP]M\n"))) << report;
  return report.substr(report.find('\n') + 1);
}

uint64_t counter_per_millisecond() {
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  return static_cast<uint64_t>(frequency.QuadPart) / 1000u;
}

class Profiler : public MachineTest {
 protected:
  void TearDown() override {
    write_profile_report(scratch().c_str());
    MachineTest::TearDown();
  }
  static std::string scratch() { return std::string(ZRK_TEST_BINARY_DIR) + "/profile_scratch.txt"; }
};

TEST_F(Profiler, TheFirstPointIsChargedFromTheProgramStart) {
  context->start_ticks = 5000;
  uint64_t start = 5000 * counter_per_millisecond();
  ProfileRecord* first = profile_account(context, "LOOP", 1, start + 700);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->total_ticks, 700u);
  context->last_profile_ticks = start + 700;
  ProfileRecord* again = profile_account(context, "LOOP", 1, start + 1000);
  EXPECT_EQ(again, first);
  EXPECT_EQ(first->count, 2u);
  EXPECT_EQ(first->total_ticks, 1000u);
  EXPECT_NE(profile_account(context, "LOOP", 2, start + 1000), first);  // another key, another record
}

TEST_F(Profiler, APointAtCounterZeroStillStartsTheNextInterval) {
  // A clock that starts with the program: the start stamp and the first point are both 0.
  context->start_ticks = 0;
  context->last_profile_ticks = 0;
  EXPECT_EQ(profile_account(context, "FIRST", 1, 0)->total_ticks, 0u);
  context->last_profile_ticks = 0;
  EXPECT_EQ(profile_account(context, "SECOND", 1, 700)->total_ticks, 700u);
}

TEST_F(Profiler, ThePointBuiltInChargesTheIntervalThatEndsAtIt) {
  uint64_t before = profile_counter_now();
  context->last_profile_ticks = before;
  Sleep(20);
  stack_push_value(const_cast<char*>("DRAW"), 0, nullptr, 0);
  stack_push_number(context, 3);
  builtin_profile_point();
  ASSERT_NE(profile_records, nullptr);
  EXPECT_STREQ(profile_records->name, "DRAW");
  EXPECT_EQ(profile_records->key, 3);
  EXPECT_GE(profile_records->total_ticks, 20 * counter_per_millisecond());
  // The next interval starts where this one was measured to end.
  EXPECT_EQ(context->last_profile_ticks, before + profile_records->total_ticks);
}

TEST_F(Profiler, TheProfileReportListsRecordsOldestFirstWithTotals) {
  context->last_profile_ticks = 1;
  tracking_label = crt::_strdup("phase1");
  ProfileRecord* loop = profile_account(context, "LOOP", 1, 1);
  loop->count = 1000;
  loop->total_ticks = 2500;
  crt::free(tracking_label);
  tracking_label = nullptr;
  ProfileRecord* draw = profile_account(context, "DRAW", 2, 1);
  draw->count = 4;
  draw->total_ticks = 7500;
  std::string path = std::string(ZRK_TEST_BINARY_DIR) + "/profile.txt";
  ASSERT_TRUE(write_profile_report(path.c_str()));
  EXPECT_EQ(body_of(read_file(path)),
            "LOOP\tphase1\t1\t1,000\t2,500\t2\t25.00%\n"
            "DRAW\t\t2\t4\t7,500\t1,875\t75.00%\n"
            "totals\t\t2\t1,004\t10,000\t1,877\t100.00%\n");
  EXPECT_EQ(profile_records, nullptr);
  ASSERT_TRUE(write_profile_report(path.c_str()));
  EXPECT_EQ(body_of(read_file(path)), "totals\t\t0\t0\t0\t0\t0.00%\n");
}

TEST_F(Profiler, TheMemoryReportListsTheBlocksNeverFreed) {
  void* kept = crt::malloc(2048);
  void* freed = crt::malloc(16);
  track_allocation("MAIN.ZRK", 7, kept, 2048);
  track_allocation("MAIN.ZRK", 8, freed, 16);
  untrack_allocation(freed);
  std::string path = std::string(ZRK_TEST_BINARY_DIR) + "/memory.txt";
  ASSERT_TRUE(write_memory_report(path.c_str()));
  char pointer[16];
  std::snprintf(pointer, sizeof pointer, "0x%x", platform::address_of(kept));
  EXPECT_EQ(body_of(read_file(path)), std::string("MAIN.ZRK\t\t7\t") + pointer + "\t2,048\ntotals\t\t\t\t2,048\n");
  EXPECT_EQ(tracked_allocations, nullptr);
  crt::free(kept);
  crt::free(freed);
}

}  // namespace
