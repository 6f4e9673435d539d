// The display hardware of the simulated device: the game API (gx.dll), the display
// driver's escapes, physical memory and kernel mode, the processor's ID register, the
// StrongARM and XScale LCD controllers, the Imageon overlay library (CoreLinkLib.dll),
// the DMA library (gxdma.dll) and a MediaQ frame buffer. Which of them a device has is
// chosen by its profile (ZRK_DEVICE); each answers only what a display driver reads.
#pragma once

#include <cstdint>

#include "platform/gdi/dib_section.h"
#include "platform/kernel/types.h"

// ---- The game API (gx.dll) ----

constexpr DWORD GX_FULLSCREEN = 1;
constexpr int GX_NORMALKEYS = 2;
constexpr int GX_LANDSCAPEKEYS = 3;
// GXDisplayProperties::ffFormat bits.
constexpr DWORD kfLandscape = 0x8;
constexpr DWORD kfPalette = 0x10;
constexpr DWORD kfDirect = 0x20;
constexpr DWORD kfDirect565 = 0x80;

struct GXDisplayProperties {
  DWORD cxWidth;
  DWORD cyHeight;
  LONG cbxPitch;  // bytes from a pixel to its right neighbour
  LONG cbyPitch;  // bytes from a pixel to the one below
  LONG cBPP;
  DWORD ffFormat;
};

struct GXKeyPoint {
  LONG x;
  LONG y;
};
struct GXKeyList {
  short vkUp;
  GXKeyPoint ptUp;
  short vkDown;
  GXKeyPoint ptDown;
  short vkLeft;
  GXKeyPoint ptLeft;
  short vkRight;
  GXKeyPoint ptRight;
  short vkA;
  GXKeyPoint ptA;
  short vkB;
  GXKeyPoint ptB;
  short vkC;
  GXKeyPoint ptC;
  short vkStart;
  GXKeyPoint ptStart;
};
static_assert(sizeof(GXKeyList) == 96, "GXKeyList layout");

// The exports of gx.dll, under their decorated names.
using GxOpenDisplayFn = int (*)(HWND window, DWORD flags);
using GxIntFn = int (*)();
using GxBeginDrawFn = void* (*)();
using GxGetDisplayPropertiesFn = GXDisplayProperties (*)();
using GxGetDefaultKeysFn = GXKeyList (*)(int which);
using GxSetViewportFn = int (*)(DWORD top, DWORD height, DWORD reserved1, DWORD reserved2);

// ---- Display driver escapes (ExtEscape) ----

constexpr int QUERYESCSUPPORT = 8;
constexpr int GETGXINFO = 0x20000;
constexpr int GETRAWFRAMEBUFFER = 0x20001;

struct GXDeviceInfo {
  LONG Version;  // 100 on input
  void* pvFrameBuffer;
  DWORD cbStride;
  DWORD cxWidth;
  DWORD cyHeight;
  DWORD cBPP;
  DWORD ffFormat;
  short vkButtonUpPortrait;
  short vkButtonUpLandscape;
  short vkButtonDownPortrait;
  short vkButtonDownLandscape;
  short vkButtonLeftPortrait;
  short vkButtonLeftLandscape;
  short vkButtonRightPortrait;
  short vkButtonRightLandscape;
  short vkButtonAPortrait;
  short vkButtonALandscape;
  short vkButtonBPortrait;
  short vkButtonBLandscape;
  short vkButtonCPortrait;
  short vkButtonCLandscape;
  short vkButtonStartPortrait;
  short vkButtonStartLandscape;
  DWORD reserved[18];
};
static_assert(sizeof(GXDeviceInfo) == 132, "GXDeviceInfo layout");

constexpr WORD FORMAT_565 = 1;
struct RawFrameBufferInfo {
  WORD wFormat;
  WORD wBPP;
  void* pFramePointer;  // the pixel at the screen's top left
  int cxStride;         // bytes to the right neighbour
  int cyStride;         // bytes to the pixel below
  int cxPixels;
  int cyPixels;
};
static_assert(sizeof(RawFrameBufferInfo) == 24, "RawFrameBufferInfo layout");

// ---- Screen rotation (ChangeDisplaySettingsEx) ----

constexpr DWORD DM_DISPLAYORIENTATION = 0x800000;
constexpr DWORD CDS_TEST = 2;
constexpr DWORD DMDO_0 = 0;
constexpr DWORD DMDO_90 = 1;
constexpr DWORD DMDO_180 = 2;
constexpr DWORD DMDO_270 = 4;
constexpr LONG DISP_CHANGE_SUCCESSFUL = 0;
constexpr LONG DISP_CHANGE_BADMODE = -2;

struct DEVMODEW {
  WCHAR dmDeviceName[32];
  WORD dmSpecVersion;
  WORD dmDriverVersion;
  WORD dmSize;
  WORD dmDriverExtra;
  DWORD dmFields;
  short dmPrinterFields[13];
  WCHAR dmFormName[32];
  WORD dmLogPixels;
  DWORD dmBitsPerPel;
  DWORD dmPelsWidth;
  DWORD dmPelsHeight;
  DWORD dmDisplayFlags;
  DWORD dmDisplayFrequency;
  DWORD dmDisplayOrientation;
};
static_assert(sizeof(DEVMODEW) == 192, "DEVMODEW layout");

// With CDS_TEST and DM_DISPLAYORIENTATION: the current orientation (DMDO_*) in the
// record. Other requests: DISP_CHANGE_BADMODE.
LONG ChangeDisplaySettingsEx(LPCWSTR device, DEVMODEW* mode, HWND window, DWORD flags, void* parameter);

// The hardware buttons' own key messages on (TRUE) or off; gives the previous setting.
BOOL AllKeys(BOOL all);

// ---- Kernel mode and physical memory ----

// Enters (TRUE) or leaves kernel mode; gives the previous mode.
BOOL SetKMode(BOOL kernel);

// Maps physical memory over a region reserved by VirtualAlloc. With PAGE_PHYSICAL the
// source is the physical address shifted right by 8, else the physical address itself;
// both it and destination must be page-aligned. FALSE (ERROR_INVALID_PARAMETER) when the
// range is not wholly inside the destination's reservation or inside one device.
BOOL VirtualCopy(void* destination, void* source, DWORD size, DWORD protect);

// ---- gxdma.dll ----

using DmaCopyFn = BOOL (*)(DWORD x, DWORD y, DWORD width, DWORD height);
using IsDmaReadyFn = BOOL (*)();

// ---- CoreLinkLib.dll (Imageon) ----

struct AtiOverlaySetup {
  DWORD surface;
  DWORD source_width;
  DWORD source_height;
  DWORD width;
  DWORD height;
  DWORD format;  // 8: RGB565
};
using AtiSimpleFn = BOOL (*)();
using AtiAllocateSurfaceFn = BOOL (*)(DWORD* surface, void** address, DWORD pixels, DWORD flags);
using AtiDestroySurfaceFn = BOOL (*)(DWORD surface);
using AtiAllocOverlayFn = BOOL (*)(DWORD* overlay);
using AtiReleaseOverlayFn = BOOL (*)(DWORD overlay);
using AtiSetupOverlayFn = BOOL (*)(DWORD overlay, const AtiOverlaySetup* setup);
using AtiSetOverlayPosFn = BOOL (*)(DWORD overlay, DWORD x, DWORD y);
using AtiSetOverlayOnOffFn = BOOL (*)(DWORD overlay, BOOL on);
using AtiSetupMemoryTransferFn = BOOL (*)(DWORD surface, void** address);
using AtiTerminateMemoryTransferFn = BOOL (*)(DWORD surface);

namespace platform {

// What the panel shows, as the user sees it: the screen pixel (x, y) is the 16-bit
// value at origin + x * x_stride + y * y_stride. False when the profile's panel shows
// nothing (no frame memory, or an Imageon overlay switched off).
struct PanelView {
  const uint8_t* origin;
  int32_t x_stride;
  int32_t y_stride;
  int32_t width;
  int32_t height;
};
bool display_panel(PanelView* view);

// Answers ExtEscape for the screen's device context: 0 when the escape is unsupported.
int display_escape(int code, int input_size, const void* input, int output_size, void* output);

// The processor's main ID register; a privileged-instruction exception outside kernel mode.
DWORD processor_main_id();

// Names of the profiles that carry display hardware, null-terminated.
const char* const* display_profile_names();

// Test hooks. Drops the simulated display hardware, so the next use builds it for the
// profile then in force (mappings the program made of it stay valid until released).
void display_hardware_reset();
// The host's view of physical device memory, or null outside every device.
uint8_t* physical_memory(uint32_t address, uint32_t size);
// How many IsDMAReady calls answer FALSE after each transfer (-1: for ever).
void gxdma_set_busy_polls(int polls);
// The orientation ChangeDisplaySettingsEx reports (DMDO_*; DMDO_0 at start).
void display_set_orientation(DWORD dmdo);
// Registers and frame base the simulated LCD controller shows (physical addresses).
uint32_t lcd_register_base();

}  // namespace platform
