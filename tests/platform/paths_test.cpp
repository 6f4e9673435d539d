// Device and host paths: case-insensitive resolution under ZRK_ROOT, missing
// components kept as written, host paths with backslashes.
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/kernel/paths.h"
#include "platform/kernel/utf.h"
#include "temporary_root.h"

namespace {

using Paths = TemporaryRoot;

TEST_F(Paths, DevicePathsResolveWithoutRegardToCase) {
  make_file("Program Files/Game/Data.TXT", "x");
  make_file("Program Files/Game/\xC3\x89t\xC3\xA9.txt", "x");  // \u00C9t\u00E9.txt in UTF-8
  struct Case {
    std::u16string device;
    std::string expected;  // under the root
  };
  const Case cases[] = {
      {u"\\Program Files\\Game\\Data.TXT", "/Program Files/Game/Data.TXT"},
      {u"\\PROGRAM FILES\\game\\data.txt", "/Program Files/Game/Data.TXT"},
      {u"\\program files\\GAME\\", "/Program Files/Game/"},
      {u"\\PROGRAM FILES\\GAME\\\u00C9T\u00C9.TXT", "/Program Files/Game/\xC3\x89t\xC3\xA9.txt"},
      // Only the last name in another case, in a folder named as it is.
      {u"\\Program Files\\Game\\DATA.txt", "/Program Files/Game/Data.TXT"},
      {u"\\Program Files\\Game\\..\\Game\\DATA.txt", "/Program Files/Game/../Game/Data.TXT"},
      {u"\\Program Files\\\\Game\\data.txt", "/Program Files/Game/Data.TXT"},
      // Once a component is missing, it and the rest stay as written.
      {u"\\program files\\game\\New.Txt", "/Program Files/Game/New.Txt"},
      {u"\\Program Files\\Game\\New.Txt", "/Program Files/Game/New.Txt"},
      {u"\\PROGRAM FILES\\Missing\\GAME\\data.txt", "/Program Files/Missing/GAME/data.txt"},
      {u"\\Nowhere\\Game\\Data.TXT", "/Nowhere/Game/Data.TXT"},
  };
  for (const Case& row : cases) {
    EXPECT_EQ(platform::host_path(row.device), root_ + row.expected) << platform::utf8_from_utf16(row.device);
  }
}

TEST_F(Paths, HostPathsTakeBackslashesAsSeparators) {
  make_file("Program Files/Game/Data.TXT", "x");
  std::u16string root = platform::utf16_from_utf8(root_);
  struct Case {
    std::u16string host;
    std::string expected;
  };
  const Case cases[] = {
      {root + u"\\Program Files\\Game\\Data.TXT", root_ + "/Program Files/Game/Data.TXT"},
      {root + u"/PROGRAM FILES\\GAME/DATA.txt", root_ + "/Program Files/Game/Data.TXT"},
      {root + u"\\Program Files\\Other.txt", root_ + "/Program Files/Other.txt"},
  };
  for (const Case& row : cases) {
    EXPECT_EQ(platform::host_path(row.host), row.expected) << platform::utf8_from_utf16(row.host);
  }
}

}  // namespace

namespace {

// A program named relative to the shell keeps naming the same file once made whole.
TEST(AbsoluteHostPath, JoinsOnlyRelativeHostPathsToTheWorkingFolder) {
  char folder[4096];
  ASSERT_NE(getcwd(folder, sizeof folder), nullptr);
  const std::string here = std::string(folder) + "/";
  struct Case {
    std::string given;
    std::string expected;
  };
  const Case cases[] = {
      {"game.zrk", here + "game.zrk"},
      {"examples/game.zrk", here + "examples/game.zrk"},
      {"./././game.zrk", here + "game.zrk"},
      {"../game.zrk", here + "../game.zrk"},
      {"/srv/game.zrk", "/srv/game.zrk"},
      {"\\Program Files\\game.zrk", "\\Program Files\\game.zrk"},
      {"", ""},
  };
  for (const Case& row : cases) EXPECT_EQ(platform::absolute_host_path(row.given), row.expected) << row.given;
}

}  // namespace
