// The input timeline's parser: every command, and the line a bad one names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/backend/display/input_timeline.h"

namespace {

using platform::display::InputKind;
using platform::display::parse_input_timeline;
using platform::display::TimedEvent;

TEST(InputTimeline, ReadsEveryCommand) {
  std::vector<TimedEvent> events;
  std::string error;
  ASSERT_TRUE(parse_input_timeline("# a comment\r\n"
                                   "\n"
                                   "100 tap 10 20\n"
                                   "200 key left\n"
                                   "200 keydown a\n"
                                   "210 keyup 0x41\n"
                                   "300 text \"h\\\"i\"\n"
                                   "400 menu 101\n"
                                   "500 ok\n"
                                   "510 close\n"
                                   "600 screenshot out dir/shot.bmp\n"
                                   "700 end\n",
                                   events, error))
      << error;
  struct Expected {
    uint64_t time;
    InputKind kind;
    int x, y, key;
  };
  const Expected expected[] = {
      {100, InputKind::StylusDown, 10, 20, 0}, {100, InputKind::StylusUp, 10, 20, 0},
      {200, InputKind::KeyDown, 0, 0, 0x25},   {200, InputKind::KeyUp, 0, 0, 0x25},
      {200, InputKind::KeyDown, 0, 0, 'A'},    {210, InputKind::KeyUp, 0, 0, 'A'},
      {300, InputKind::Text, 0, 0, 0},         {400, InputKind::Menu, 0, 0, 101},
      {500, InputKind::CaptionOk, 0, 0, 0},    {510, InputKind::CaptionClose, 0, 0, 0},
      {600, InputKind::Screenshot, 0, 0, 0},   {700, InputKind::End, 0, 0, 0},
  };
  ASSERT_EQ(events.size(), std::size(expected));
  for (size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(events[i].time_ms, expected[i].time) << "event " << i;
    EXPECT_EQ(events[i].event.kind, expected[i].kind) << "event " << i;
    EXPECT_EQ(events[i].event.x, expected[i].x) << "event " << i;
    EXPECT_EQ(events[i].event.y, expected[i].y) << "event " << i;
    EXPECT_EQ(events[i].event.key, expected[i].key) << "event " << i;
  }
  EXPECT_EQ(events[6].event.text, u"h\"i");
  EXPECT_EQ(events[10].event.path, "out dir/shot.bmp");
}

TEST(InputTimeline, DragMovesInStepsAndEndsLater) {
  std::vector<TimedEvent> events;
  std::string error;
  ASSERT_TRUE(parse_input_timeline("0 drag 0 0 100 50 200\n150 tap 1 1\n", events, error)) << error;
  ASSERT_EQ(events.size(), 14u);
  EXPECT_EQ(events.front().event.kind, InputKind::StylusDown);
  // Sorted by time: the tap at 150 comes between the drag's moves.
  for (size_t i = 1; i < events.size(); ++i) EXPECT_LE(events[i - 1].time_ms, events[i].time_ms);
  EXPECT_EQ(events.back().event.kind, InputKind::StylusUp);
  EXPECT_EQ(events.back().time_ms, 200u);
  EXPECT_EQ(events.back().event.x, 100);
  EXPECT_EQ(events.back().event.y, 50);
}

TEST(InputTimeline, ABadLineIsNamed) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"10 tap 1 2\nsoon tap 1 2\n", "line 2: expected a time in milliseconds, found \"soon\""},
      {"10 tap 1\n", "line 1: tap needs X Y"},
      {"10 tap 1 2 3\n", "line 1: tap needs X Y"},
      {"20 tap 1 2\n10 tap 1 2\n", "line 2: the time 10 is earlier than the line before"},
      {"#\n\n10 wave\n", "line 3: unknown command \"wave\""},
      {"10 key hyper\n", "line 1: unknown key \"hyper\""},
      {"10 text hello\n", "line 1: text needs a quoted text"},
      {"10 text \"open\n", "line 1: text needs a quoted text"},
      {"10 menu 70000\n", "line 1: menu needs a command id (0 to 65535)"},
      {"10 ok now\n", "line 1: ok takes nothing more"},
      {"10 screenshot\n", "line 1: screenshot needs a file path"},
      {"10\n", "line 1: a command must follow the time"},
      {"10 drag 1 2 3\n", "line 1: drag needs X1 Y1 X2 Y2 [MS]"},
  };
  for (const Case& row : cases) {
    std::vector<TimedEvent> events;
    std::string error;
    EXPECT_FALSE(parse_input_timeline(row.text, events, error)) << row.text;
    EXPECT_EQ(error, row.error) << row.text;
  }
}

}  // namespace
