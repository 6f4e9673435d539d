// Teardown's reports: "profile.txt" and "memory.txt" rows and totals, no division by
// zero without ticks, and a report that cannot be created skipped without harm.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/runtime_memory.h"
#include "platform/platform.h"
#include "vm/profiler.h"
#include "app/teardown.h"

namespace {

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "zrk-reports-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    profile_records = nullptr;
    tracked_allocations = nullptr;
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  // Adds a record as the profiler does: newest at the head.
  static void add_profile(const char* name, int32_t key, uint32_t count, uint64_t ticks) {
    auto* record = static_cast<ProfileRecord*>(crt::calloc(1, sizeof(ProfileRecord)));
    record->name = crt::_strdup(name);
    record->key = key;
    record->count = count;
    record->total_ticks = ticks;
    record->next = profile_records;
    if (profile_records) profile_records->previous = record;
    profile_records = record;
  }

  // The report's lines after its date and time header.
  std::vector<std::string> lines_after_header(const std::string& path) const {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    EXPECT_FALSE(lines.empty()) << path;
    if (!lines.empty()) lines.erase(lines.begin());
    return lines;
  }

  std::string path(const char* name) const { return folder_ + "/" + name; }
  std::string folder_;
};

TEST_F(ReportTest, ProfileRowsOldestFirstWithShares) {
  struct Case {
    const char* name;
    std::vector<std::tuple<const char*, int32_t, uint32_t, uint64_t>> records;  // oldest first
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"no profiled call", {}, {"totals\t\t0\t0\t0\t0\t0.00%"}},
      {"points that took no ticks",
       {{"MAIN", 1, 3, 0}, {"MAIN", 2, 1, 0}},
       {"MAIN\t\t1\t3\t0\t0\t0.00%", "MAIN\t\t2\t1\t0\t0\t0.00%", "totals\t\t2\t4\t0\t0\t0.00%"}},
      {"grouped numbers and shares",
       {{"LOOP", 7, 1000, 2500}, {"DRAW", 0, 1, 7500}},
       {"LOOP\t\t7\t1,000\t2,500\t2\t25.00%", "DRAW\t\t0\t1\t7,500\t7,500\t75.00%",
        "totals\t\t2\t1,001\t10,000\t7,502\t100.00%"}},
  };
  for (const Case& row : cases) {
    for (const auto& [name, key, count, ticks] : row.records) add_profile(name, key, count, ticks);
    ASSERT_TRUE(write_profile_report(path("profile.txt").c_str())) << row.name;
    EXPECT_EQ(lines_after_header(path("profile.txt")), row.lines) << row.name;
    EXPECT_EQ(profile_records, nullptr) << row.name;
  }
}

TEST_F(ReportTest, MemoryRowsAndTotal) {
  int block_a = 0, block_b = 0;
  EXPECT_TRUE(write_memory_report(path("memory.txt").c_str()));
  EXPECT_EQ(lines_after_header(path("memory.txt")), std::vector<std::string>{"totals\t\t\t\t0"});

  track_allocation("first", 3, &block_a, 1500);
  track_allocation("second", 4, &block_b, 20);
  ASSERT_TRUE(write_memory_report(path("memory.txt").c_str()));
  char first[64], second[64];
  std::snprintf(first, sizeof first, "first\t\t3\t0x%x\t1,500", platform::address_of(&block_a));
  std::snprintf(second, sizeof second, "second\t\t4\t0x%x\t20", platform::address_of(&block_b));
  EXPECT_EQ(lines_after_header(path("memory.txt")), (std::vector<std::string>{first, second, "totals\t\t\t\t1,520"}));
  EXPECT_EQ(tracked_allocations, nullptr);
}

TEST_F(ReportTest, ReportThatCannotBeCreatedIsSkipped) {
  add_profile("MAIN", 0, 1, 10);
  int block = 0;
  track_allocation("kept", 1, &block, 8);
  std::string missing = folder_ + "/no such folder/";
  EXPECT_FALSE(write_profile_report((missing + "profile.txt").c_str()));
  EXPECT_FALSE(write_memory_report((missing + "memory.txt").c_str()));
  // The records are gone all the same: teardown ends the run either way.
  EXPECT_EQ(profile_records, nullptr);
  EXPECT_EQ(tracked_allocations, nullptr);
  EXPECT_FALSE(std::filesystem::exists(missing));
}

}  // namespace
