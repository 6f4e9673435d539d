// System information: device profiles chosen by ZRK_DEVICE and ZRK_SCREEN, and the
// processor, version, metrics and shell parameters answered from them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/kernel/system_info.h"
#include "platform/kernel/utf.h"

namespace {

// Sets the two device settings for one test and puts the former values back after it.
class SystemInfo : public ::testing::Test {
 protected:
  void SetUp() override {
    save("ZRK_DEVICE", device_);
    save("ZRK_SCREEN", screen_);
  }
  void TearDown() override {
    restore("ZRK_DEVICE", device_);
    restore("ZRK_SCREEN", screen_);
  }
  static void use(const char* device, const char* screen) {
    setenv("ZRK_DEVICE", device, 1);
    setenv("ZRK_SCREEN", screen, 1);
  }

 private:
  struct Saved {
    bool set = false;
    std::string value;
  };
  static void save(const char* name, Saved& saved) {
    const char* value = std::getenv(name);
    saved.set = value != nullptr;
    if (value) saved.value = value;
  }
  static void restore(const char* name, const Saved& saved) {
    if (saved.set) setenv(name, saved.value.c_str(), 1);
    else unsetenv(name);
  }
  Saved device_, screen_;
};

std::string oem_info() {
  char16_t buffer[128] = {};
  if (!SystemParametersInfoW(SPI_GETOEMINFO, sizeof buffer, buffer, 0)) return "<failed>";
  return platform::utf8_from_utf16(buffer);
}

TEST_F(SystemInfo, ProfileIsChosenByDeviceAndScreenSettings) {
  struct Case {
    const char* device;
    const char* screen;
    const char* profile;
    int width, height;
    DWORD major, minor;
    const char* oem;
  } cases[] = {
      {"", "", "pocketpc", 240, 320, 4, 20, "ZRK Pocket PC"},
      {"pocketpc", "", "pocketpc", 240, 320, 4, 20, "ZRK Pocket PC"},
      {"VGA", "", "vga", 480, 640, 5, 1, "ZRK VGA Pocket PC"},
      {"ipaq3800", "", "ipaq3800", 240, 320, 3, 0, "Compaq iPAQ H3800"},
      {"no such device", "", "pocketpc", 240, 320, 4, 20, "ZRK Pocket PC"},
      {"vga", "320x240", "vga", 320, 240, 5, 1, "ZRK VGA Pocket PC"},
      {"", "640X480", "pocketpc", 640, 480, 4, 20, "ZRK Pocket PC"},
      {"", "800x", "pocketpc", 240, 320, 4, 20, "ZRK Pocket PC"},
      {"", "0x100", "pocketpc", 240, 320, 4, 20, "ZRK Pocket PC"},
      {"", "240x320x16", "pocketpc", 240, 320, 4, 20, "ZRK Pocket PC"},
      {"", "99999x320", "pocketpc", 240, 320, 4, 20, "ZRK Pocket PC"},
  };
  for (const Case& c : cases) {
    use(c.device, c.screen);
    std::string row = std::string("device '") + c.device + "' screen '" + c.screen + "'";
    EXPECT_STREQ(platform::device_profile().name, c.profile) << row;
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), c.width) << row;
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), c.height) << row;
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_TRUE(GetVersionExW(&version)) << row;
    EXPECT_EQ(version.dwMajorVersion, c.major) << row;
    EXPECT_EQ(version.dwMinorVersion, c.minor) << row;
    EXPECT_EQ(version.dwPlatformId, VER_PLATFORM_WIN32_CE) << row;
    EXPECT_EQ(oem_info(), c.oem) << row;
  }
}

TEST_F(SystemInfo, SystemInfoDescribesOneArmProcessorAndThePageLayout) {
  use("ipaq3800", "");
  SYSTEM_INFO info;
  std::memset(&info, 0xEE, sizeof info);
  GetSystemInfo(&info);
  EXPECT_EQ(sizeof info, 36u);
  EXPECT_EQ(info.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_ARM);
  EXPECT_EQ(info.wReserved, 0);
  EXPECT_EQ(info.dwPageSize, 4096u);
  EXPECT_EQ(info.dwAllocationGranularity, 65536u);
  EXPECT_EQ(info.dwNumberOfProcessors, 1u);
  EXPECT_EQ(info.dwActiveProcessorMask, 1u);
  EXPECT_EQ(info.dwProcessorType, PROCESSOR_STRONGARM);
  EXPECT_EQ(info.wProcessorLevel, 4);
  EXPECT_EQ(platform::address_of(info.lpMinimumApplicationAddress), 0x10000u);
  // Every address this process may be given lies in the range.
  int local = 0;
  EXPECT_LE(platform::address_of(info.lpMinimumApplicationAddress), platform::address_of(&local));
  EXPECT_GE(platform::address_of(info.lpMaximumApplicationAddress), platform::address_of(&local));
}

TEST_F(SystemInfo, VersionNeedsTheRecordSize) {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version - 4;
  SetLastError(0);
  EXPECT_FALSE(GetVersionExW(&version));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(version.dwMajorVersion, 0u);
  EXPECT_FALSE(GetVersionExW(nullptr));
  EXPECT_EQ(sizeof(OSVERSIONINFOW), 276u);
}

TEST_F(SystemInfo, MetricsScaleWithTheScreenDensity) {
  struct Case {
    int index;
    int qvga;
    int vga;
  } cases[] = {
      {SM_CYCAPTION, 26, 52}, {SM_CXVSCROLL, 13, 26}, {SM_CYHSCROLL, 13, 26}, {SM_CXBORDER, 1, 1},
      {SM_CXICON, 32, 64},    {SM_CXSMICON, 16, 32},  {SM_CYFULLSCREEN, 294, 588}, {SM_CXFULLSCREEN, 240, 480},
      {-1, 0, 0},             {9999, 0, 0},
  };
  for (const Case& c : cases) {
    use("pocketpc", "");
    EXPECT_EQ(GetSystemMetrics(c.index), c.qvga) << "index " << c.index << " on QVGA";
    use("vga", "");
    EXPECT_EQ(GetSystemMetrics(c.index), c.vga) << "index " << c.index << " on VGA";
  }
}

TEST_F(SystemInfo, WorkAreaIsTheScreenBelowTheTopBar) {
  use("vga", "");
  RECT area{-1, -1, -1, -1};
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0));
  EXPECT_EQ(area.left, 0);
  EXPECT_EQ(area.top, GetSystemMetrics(SM_CYCAPTION));
  EXPECT_EQ(area.right, 480);
  EXPECT_EQ(area.bottom, 640);
  EXPECT_EQ(area.bottom - area.top, GetSystemMetrics(SM_CYFULLSCREEN));
  // A screen shorter than the bar still gives a sane area.
  use("vga", "100x20");
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0));
  EXPECT_LE(area.top, area.bottom);
  EXPECT_GE(GetSystemMetrics(SM_CYFULLSCREEN), 0);
}

TEST_F(SystemInfo, TextParametersFitTheBufferOrFail) {
  use("", "");
  struct Case {
    const char* name;
    UINT action;
    UINT bytes;
    bool succeeds;
    DWORD error;
    const char16_t* text;
  } cases[] = {
      {"platform type", SPI_GETPLATFORMTYPE, 256, true, 0, u"PocketPC"},
      {"platform type, exact fit", SPI_GETPLATFORMTYPE, 18, true, 0, u"PocketPC"},
      {"platform type, no room for the terminator", SPI_GETPLATFORMTYPE, 16, false, ERROR_INSUFFICIENT_BUFFER, nullptr},
      {"OEM information", SPI_GETOEMINFO, 260, true, 0, u"ZRK Pocket PC"},
      {"OEM information, no room", SPI_GETOEMINFO, 0, false, ERROR_INSUFFICIENT_BUFFER, nullptr},
      {"unknown action", 12345, 256, false, ERROR_INVALID_PARAMETER, nullptr},
  };
  for (const Case& c : cases) {
    char16_t buffer[130];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    SetLastError(0);
    EXPECT_EQ(SystemParametersInfoW(c.action, c.bytes, buffer, 0) != FALSE, c.succeeds) << c.name;
    if (c.succeeds) {
      EXPECT_EQ(std::u16string(buffer), c.text) << c.name;
    } else {
      EXPECT_EQ(GetLastError(), c.error) << c.name;
      EXPECT_EQ(buffer[0], u'#') << c.name;  // nothing written
    }
  }
  for (UINT action : {SPI_GETWORKAREA, SPI_GETPLATFORMTYPE, SPI_GETOEMINFO})
    EXPECT_FALSE(SystemParametersInfoW(action, 256, nullptr, 0)) << "action " << action << " without a buffer";
}

}  // namespace
