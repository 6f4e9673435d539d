// The device profiles and the system information answered from them.
#include "platform/kernel/system_info.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>

#include "platform/kernel/config.h"
#include "platform/kernel/memory.h"

namespace platform {
namespace {

const DeviceProfile kProfiles[] = {
    {"pocketpc", 240, 320, 16, 96, 4, 20, 1081, u"PocketPC", u"ZRK Pocket PC", PROCESSOR_STRONGARM, 5, 6,
     0x69052D06, u"XScale", u"PXA255", u"Intel", 400},
    {"ipaq3800", 240, 320, 16, 96, 3, 0, 11171, u"PocketPC", u"Compaq iPAQ H3800", PROCESSOR_STRONGARM, 4, 9,
     0x6901B119, u"StrongARM", u"SA-1110", u"Intel", 206},
    {"vga", 480, 640, 16, 192, 5, 1, 1700, u"PocketPC", u"ZRK VGA Pocket PC", PROCESSOR_STRONGARM, 5, 7,
     0x69054117, u"XScale", u"PXA270", u"Intel", 624},
    // Devices that differ in their display hardware (see platform/device/display_hardware).
    {"gapi-o1", 240, 320, 16, 96, 4, 20, 1081, u"PocketPC", u"ZRK GAPI Pocket PC", PROCESSOR_STRONGARM, 4, 0,
     0x41129200, u"ARM920T", u"ARM920T", u"ARM", 200},
    {"gapi-o2", 240, 320, 16, 96, 4, 20, 1081, u"PocketPC", u"ZRK GAPI Pocket PC", PROCESSOR_STRONGARM, 4, 0,
     0x41129200, u"ARM920T", u"ARM920T", u"ARM", 200},
    {"gapi-dram", 240, 320, 16, 96, 4, 20, 1081, u"PocketPC", u"ZRK GAPI Pocket PC", PROCESSOR_STRONGARM, 4, 0,
     0x41129200, u"ARM920T", u"ARM920T", u"ARM", 200},
    {"gapi-fault", 240, 320, 16, 96, 4, 20, 1081, u"PocketPC", u"ZRK GAPI Pocket PC", PROCESSOR_STRONGARM, 4, 0,
     0x41129200, u"ARM920T", u"ARM920T", u"ARM", 200},
    {"gxinfo", 240, 320, 16, 96, 4, 20, 1081, u"PocketPC", u"ZRK DMA Pocket PC", PROCESSOR_STRONGARM, 4, 0,
     0x41129200, u"ARM920T", u"ARM920T", u"ARM", 200},
    {"raw-o1", 240, 320, 16, 96, 5, 0, 1400, u"PocketPC", u"ZRK WM5 Pocket PC", PROCESSOR_STRONGARM, 5, 7,
     0x69054117, u"XScale", u"PXA270", u"Intel", 416},
    {"raw-o2", 240, 320, 16, 96, 5, 0, 1400, u"PocketPC", u"ZRK WM5 Pocket PC", PROCESSOR_STRONGARM, 5, 7,
     0x69054117, u"XScale", u"PXA270", u"Intel", 416},
    {"raw-o3", 240, 320, 16, 96, 5, 0, 1400, u"PocketPC", u"ZRK WM5 Pocket PC", PROCESSOR_STRONGARM, 5, 7,
     0x69054117, u"XScale", u"PXA270", u"Intel", 416},
    {"imageon", 240, 320, 16, 96, 4, 20, 1081, u"PocketPC", u"Toshiba e740", PROCESSOR_STRONGARM, 5, 6,
     0x69052D06, u"XScale", u"PXA250", u"Intel", 400},
    {"mediaq", 240, 320, 16, 96, 4, 20, 1081, u"PocketPC", u"ZRK MediaQ Pocket PC", PROCESSOR_STRONGARM, 4, 0,
     0x41129200, u"ARM920T", u"ARM920T", u"ARM", 200},
    {"gdi", 240, 320, 16, 96, 4, 20, 1081, u"PocketPC", u"ZRK Plain Pocket PC", PROCESSOR_STRONGARM, 4, 0,
     0x41129200, u"ARM920T", u"ARM920T", u"ARM", 200},
};

constexpr int kLargestScreenSide = 4096;

// Height of the shell's bar at the top of the screen at 96 dots per inch; the caption
// and the menu bar share it.
constexpr int kBarHeight = 26;

int scaled(const DeviceProfile& profile, int pixels) { return pixels * profile.dots_per_inch / 96; }

// The shell's top bar, never taller than the screen.
int bar_height(const DeviceProfile& profile) {
  int bar = scaled(profile, kBarHeight);
  return bar < profile.screen_height ? bar : profile.screen_height;
}

struct Metric {
  int index;
  int pixels;   // at 96 dots per inch
  bool scales;  // with the screen's density; single-pixel lines do not
};

const Metric kMetrics[] = {
    {SM_CXVSCROLL, 13, true},  {SM_CYHSCROLL, 13, true},  {SM_CYCAPTION, kBarHeight, true},
    {SM_CXBORDER, 1, false},   {SM_CYBORDER, 1, false},   {SM_CXDLGFRAME, 3, true},
    {SM_CYDLGFRAME, 3, true},  {SM_CXICON, 32, true},     {SM_CYICON, 32, true},
    {SM_CYMENU, kBarHeight, true}, {SM_CYVSCROLL, 13, true}, {SM_CXHSCROLL, 13, true},
    {SM_DEBUG, 0, false},      {SM_CXDOUBLECLK, 4, true}, {SM_CYDOUBLECLK, 4, true},
    {SM_CXEDGE, 2, true},      {SM_CYEDGE, 2, true},      {SM_CXSMICON, 16, true},
    {SM_CYSMICON, 16, true},
};

// Copies a text with its terminator into a buffer of capacity bytes.
BOOL copy_text(const WCHAR* text, UINT capacity, PVOID data) {
  if (!data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  size_t length = std::char_traits<char16_t>::length(text);
  size_t bytes = (length + 1) * sizeof(WCHAR);
  if (capacity < bytes) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(data, text, bytes);
  return TRUE;
}

}  // namespace

DeviceProfile device_profile() {
  std::string name = setting("ZRK_DEVICE");
  DeviceProfile profile = kProfiles[0];
  for (const DeviceProfile& candidate : kProfiles)
    if (strcasecmp(candidate.name, name.c_str()) == 0) profile = candidate;

  std::string screen = setting("ZRK_SCREEN");
  int width = 0, height = 0;
  char separator = 0, rest = 0;
  if (std::sscanf(screen.c_str(), "%d%c%d%c", &width, &separator, &height, &rest) == 3 &&
      (separator == 'x' || separator == 'X') && width > 0 && height > 0 && width <= kLargestScreenSide &&
      height <= kLargestScreenSide) {
    profile.screen_width = width;
    profile.screen_height = height;
  }
  return profile;
}

}  // namespace platform

void GetSystemInfo(LPSYSTEM_INFO info) {
  if (!info) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return;
  }
  platform::DeviceProfile profile = platform::device_profile();
  *info = {};
  info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_ARM;
  info->dwPageSize = 4096;
  info->lpMinimumApplicationAddress = platform::pointer_from(0x00010000);
  info->lpMaximumApplicationAddress = platform::pointer_from(platform::kHighestProgramAddress);
  info->dwActiveProcessorMask = 1;
  info->dwNumberOfProcessors = 1;
  info->dwProcessorType = profile.processor_type;
  info->dwAllocationGranularity = 65536;
  info->wProcessorLevel = profile.processor_level;
  info->wProcessorRevision = profile.processor_revision;
}

BOOL GetVersionExW(LPOSVERSIONINFOW info) {
  if (!info) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOW)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  platform::DeviceProfile profile = platform::device_profile();
  info->dwMajorVersion = profile.os_major;
  info->dwMinorVersion = profile.os_minor;
  info->dwBuildNumber = profile.os_build;
  info->dwPlatformId = VER_PLATFORM_WIN32_CE;
  std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  return TRUE;
}

int GetSystemMetrics(int index) {
  platform::DeviceProfile profile = platform::device_profile();
  switch (index) {
    case SM_CXSCREEN:
    case SM_CXFULLSCREEN: return profile.screen_width;
    case SM_CYSCREEN: return profile.screen_height;
    case SM_CYFULLSCREEN: return profile.screen_height - platform::bar_height(profile);
  }
  for (const platform::Metric& metric : platform::kMetrics)
    if (metric.index == index) return metric.scales ? platform::scaled(profile, metric.pixels) : metric.pixels;
  return 0;
}

BOOL SystemParametersInfoW(UINT action, UINT param, PVOID data, UINT update) {
  platform::DeviceProfile profile = platform::device_profile();
  switch (action) {
    case SPI_GETWORKAREA: {
      if (!data) break;
      auto* area = static_cast<RECT*>(data);
      *area = {0, platform::bar_height(profile), profile.screen_width, profile.screen_height};
      return TRUE;
    }
    case SPI_GETPLATFORMTYPE: return platform::copy_text(profile.platform_type, param, data);
    case SPI_GETOEMINFO: return platform::copy_text(profile.oem_info, param, data);
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}
