// What the device says about itself: processor, OS version, screen metrics and shell
// parameters, all answered from the device profile chosen by ZRK_DEVICE.
#pragma once

#include "platform/kernel/types.h"

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};
using LPRECT = RECT*;

namespace platform {

// A simulated handheld. Profiles (ZRK_DEVICE, matched without regard to case; an unknown
// or empty name gives the default):
//   "pocketpc"  (default) QVGA Pocket PC 2003: 240x320, Windows CE 4.20, XScale PXA255
//   "ipaq3800"  Compaq iPAQ H3800: 240x320, Windows CE 3.0, StrongARM SA-1110
//   "vga"       VGA Windows Mobile 5 device: 480x640 at double density, Windows CE 5.1, XScale PXA270
//   "gapi-o1", "gapi-o2", "gapi-dram", "gapi-fault", "gxinfo", "raw-o1", "raw-o2", "raw-o3",
//   "imageon", "mediaq", "gdi": 240x320 devices that differ in their display hardware
//               (platform/device/display_hardware.h says what each carries)
// ZRK_SCREEN ("WIDTHxHEIGHT", e.g. "240x320") replaces the profile's screen size.
struct DeviceProfile {
  const char* name;
  int screen_width;
  int screen_height;
  int bits_per_pixel;
  int dots_per_inch;  // 96, or 192 on double-density screens: scales the system metrics
  DWORD os_major;
  DWORD os_minor;
  DWORD os_build;
  const WCHAR* platform_type;  // SPI_GETPLATFORMTYPE
  const WCHAR* oem_info;       // SPI_GETOEMINFO
  DWORD processor_type;        // PROCESSOR_STRONGARM ...
  WORD processor_level;        // ARM architecture version
  WORD processor_revision;
  uint32_t processor_id;       // the processor's main ID register
  const WCHAR* processor_core;
  const WCHAR* processor_name;
  const WCHAR* processor_vendor;
  DWORD processor_clock_mhz;
};

// The profile in force, read from the environment on every call.
DeviceProfile device_profile();

}  // namespace platform

// ---- Processor and memory layout ----

constexpr WORD PROCESSOR_ARCHITECTURE_ARM = 5;
constexpr DWORD PROCESSOR_STRONGARM = 2577;
constexpr DWORD PROCESSOR_ARM720 = 1824;

struct SYSTEM_INFO {
  union {
    DWORD dwOemId;
    struct {
      WORD wProcessorArchitecture;
      WORD wReserved;
    };
  };
  DWORD dwPageSize;
  LPVOID lpMinimumApplicationAddress;
  LPVOID lpMaximumApplicationAddress;
  DWORD dwActiveProcessorMask;
  DWORD dwNumberOfProcessors;
  DWORD dwProcessorType;
  DWORD dwAllocationGranularity;
  WORD wProcessorLevel;
  WORD wProcessorRevision;
};
using LPSYSTEM_INFO = SYSTEM_INFO*;

// One ARM processor of the profile's type, 4 KiB pages, 64 KiB allocation granularity
// and the address range a program may use.
void GetSystemInfo(LPSYSTEM_INFO info);

// ---- OS version ----

constexpr DWORD VER_PLATFORM_WIN32_CE = 3;

struct OSVERSIONINFOW {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  WCHAR szCSDVersion[128];
};
using LPOSVERSIONINFOW = OSVERSIONINFOW*;

// The profile's Windows CE version. dwOSVersionInfoSize must be set to the record's size;
// FALSE with ERROR_INSUFFICIENT_BUFFER when it is smaller.
BOOL GetVersionExW(LPOSVERSIONINFOW info);

// ---- Screen metrics ----

constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;
constexpr int SM_CXVSCROLL = 2;
constexpr int SM_CYHSCROLL = 3;
constexpr int SM_CYCAPTION = 4;
constexpr int SM_CXBORDER = 5;
constexpr int SM_CYBORDER = 6;
constexpr int SM_CXDLGFRAME = 7;
constexpr int SM_CYDLGFRAME = 8;
constexpr int SM_CXICON = 11;
constexpr int SM_CYICON = 12;
constexpr int SM_CYMENU = 15;
constexpr int SM_CXFULLSCREEN = 16;
constexpr int SM_CYFULLSCREEN = 17;
constexpr int SM_CYVSCROLL = 20;
constexpr int SM_CXHSCROLL = 21;
constexpr int SM_DEBUG = 22;
constexpr int SM_CXDOUBLECLK = 36;
constexpr int SM_CYDOUBLECLK = 37;
constexpr int SM_CXEDGE = 45;
constexpr int SM_CYEDGE = 46;
constexpr int SM_CXSMICON = 49;
constexpr int SM_CYSMICON = 50;

// A size of the screen or of a standard window part, in pixels of the profile's screen;
// 0 for an index it does not know.
int GetSystemMetrics(int index);

// ---- Shell parameters ----

constexpr UINT SPI_GETWORKAREA = 48;
constexpr UINT SPI_GETPLATFORMTYPE = 257;
constexpr UINT SPI_GETOEMINFO = 258;

// SPI_GETWORKAREA fills the RECT at data with the screen below the shell's top bar;
// SPI_GETPLATFORMTYPE and SPI_GETOEMINFO copy the profile's text into data, whose size
// in bytes is param (FALSE with ERROR_INSUFFICIENT_BUFFER when it does not fit). Other
// actions give FALSE with ERROR_INVALID_PARAMETER.
BOOL SystemParametersInfoW(UINT action, UINT param, PVOID data, UINT update);
