// The breakpoint table: toggles, one-shot entries, free slots reused, a full table.
#include "vm/breakpoints.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class Breakpoints : public ::testing::Test {
 protected:
  void SetUp() override { breakpoints_clear(); }
  void TearDown() override { breakpoints_clear(); }
  static int32_t used() {
    int32_t count = 0;
    for (int32_t index = 0; index < breakpoint_table.count; ++index) count += breakpoint_table.entries[index].file != nullptr;
    return count;
  }
};

TEST_F(Breakpoints, ToggleAddsThenRemovesAPermanentBreakpoint) {
  ASSERT_TRUE(breakpoint_toggle("main.zrk", 12, 0));
  ASSERT_NE(breakpoint_find("main.zrk", 12), nullptr);
  EXPECT_EQ(breakpoint_find("main.zrk", 12)->flag, 0);
  EXPECT_EQ(breakpoint_find("main.zrk", 13), nullptr);
  EXPECT_EQ(breakpoint_find("other.zrk", 12), nullptr);
  breakpoint_toggle("main.zrk", 12, 0);
  EXPECT_EQ(breakpoint_find("main.zrk", 12), nullptr);
  EXPECT_EQ(used(), 0);
}

TEST_F(Breakpoints, OneShotEntriesAreLeftByTogglesAndRemovedPerFile) {
  breakpoint_toggle("main.zrk", 30, 1);
  breakpoint_toggle("main.zrk", 30, 1);  // a second one-shot at the same place is another entry
  breakpoint_toggle("lib.zrk", 30, 1);
  breakpoint_toggle("main.zrk", 31, 0);
  EXPECT_EQ(used(), 4);
  breakpoints_remove_flagged("main.zrk");
  EXPECT_EQ(used(), 2);
  EXPECT_EQ(breakpoint_find("main.zrk", 30), nullptr);
  EXPECT_NE(breakpoint_find("lib.zrk", 30), nullptr);
  EXPECT_NE(breakpoint_find("main.zrk", 31), nullptr);
}

TEST_F(Breakpoints, RemovingTheLastSlotShrinksTheCountByOneAndFreeSlotsAreReused) {
  breakpoint_toggle("a.zrk", 1, 1);
  breakpoint_toggle("a.zrk", 2, 1);
  breakpoint_toggle("b.zrk", 3, 0);
  breakpoint_toggle("a.zrk", 4, 1);
  ASSERT_EQ(breakpoint_table.count, 4);
  breakpoints_remove_flagged("a.zrk");
  EXPECT_EQ(breakpoint_table.count, 3);  // slot 3 was the last; slots 0 and 1 stay free below
  breakpoint_toggle("c.zrk", 5, 0);
  EXPECT_EQ(breakpoint_table.count, 3);
  EXPECT_STREQ(breakpoint_table.entries[0].file, "c.zrk");
}

TEST_F(Breakpoints, TheSearchPrefersTheLastEntry) {
  breakpoint_toggle("main.zrk", 7, 0);
  breakpoint_toggle("main.zrk", 7, 1);
  EXPECT_EQ(breakpoint_find("main.zrk", 7)->flag, 1);
}

TEST_F(Breakpoints, AFullTableRefusesFurtherAddsAndKeepsItsEntries) {
  for (uint32_t line = 0; line < kBreakpointSlots; ++line) ASSERT_TRUE(breakpoint_toggle("full.zrk", line, 1));
  EXPECT_FALSE(breakpoint_toggle("full.zrk", 5000, 1));
  EXPECT_EQ(breakpoint_table.count, kBreakpointSlots);
  EXPECT_EQ(breakpoint_find("full.zrk", 5000), nullptr);
  // Toggling one off frees a slot that the next add takes.
  breakpoint_toggle("other.zrk", 1, 0);
  EXPECT_EQ(breakpoint_find("other.zrk", 1), nullptr);
  breakpoints_remove_flagged("full.zrk");
  EXPECT_EQ(used(), 0);
}

}  // namespace
