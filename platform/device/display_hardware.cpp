// The simulated display hardware: frame memory shared between the host and the program's
// mappings of it, the game API and the vendor libraries over that memory, the display
// escapes, the LCD controllers' registers and the processor's ID register.
#include "platform/device/display_hardware.h"

#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <strings.h>
#include <vector>

#include "platform/kernel/clock.h"
#include "platform/kernel/config.h"
#include "platform/kernel/fault_guard.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/modules.h"
#include "platform/kernel/system_info.h"

namespace platform {
namespace {

enum class Lcd { none, strongarm, xscale };

// What a device profile's display consists of. The panel scans frame rows that are
// turned panel_turn quarter turns against the screen the user sees.
struct HardwareProfile {
  const char* name;
  int panel_turn;
  bool gx;          // gx.dll
  bool gx_dram;     // gx.dll draws into ordinary memory copied to the panel at GXEndDraw
  bool gx_fault;    // GXBeginDraw faults
  bool gx_info;     // escape GETGXINFO
  bool gxdma;       // gxdma.dll copies GETGXINFO's buffer to the panel
  bool raw;         // escape GETRAWFRAMEBUFFER
  Lcd lcd;
  bool lcd_enabled;
  bool imageon;     // CoreLinkLib.dll with an overlay in front of the panel
  bool mediaq;      // frame memory behind a slow MediaQ chip
  uint32_t frame_physical;  // page-aligned: palette, then the frame rows
  uint32_t palette_bytes;
  uint32_t fixed_virtual;   // where the kernel maps frame memory (and its alias with bit 29 flipped), or 0
};

const HardwareProfile kHardware[] = {
    {"pocketpc", 0, true, false, false, false, false, false, Lcd::xscale, true, false, false, 0xA3F00000, 0, 0},
    {"ipaq3800", 3, true, false, false, false, false, false, Lcd::strongarm, true, false, false, 0xC0050000, 32,
     0xAC050000},
    {"vga", 0, false, false, false, false, false, true, Lcd::none, false, false, false, 0x5C000000, 0, 0},
    {"gapi-o1", 1, true, false, false, false, false, false, Lcd::none, false, false, false, 0x0C000000, 0, 0},
    {"gapi-o2", 2, true, false, false, false, false, false, Lcd::none, false, false, false, 0x0C000000, 0, 0},
    {"gapi-dram", 0, true, true, false, false, false, false, Lcd::none, false, false, false, 0x0C000000, 0, 0},
    {"gapi-fault", 0, true, false, true, false, false, false, Lcd::none, false, false, false, 0x0C000000, 0, 0},
    {"gxinfo", 0, false, false, false, true, true, false, Lcd::none, false, false, false, 0x0C000000, 0, 0},
    {"raw-o1", 1, false, false, false, false, false, true, Lcd::none, false, false, false, 0x5C000000, 0, 0},
    {"raw-o2", 2, false, false, false, false, false, true, Lcd::none, false, false, false, 0x5C000000, 0, 0},
    {"raw-o3", 3, false, false, false, false, false, true, Lcd::none, false, false, false, 0x5C000000, 0, 0},
    {"imageon", 0, false, false, false, false, false, false, Lcd::xscale, false, true, false, 0xA3F00000, 0, 0},
    {"mediaq", 0, true, false, false, false, false, false, Lcd::none, false, false, true, 0x0C000000, 0, 0},
    {"gdi", 0, false, false, false, false, false, false, Lcd::none, false, false, false, 0, 0, 0},
};
const char* const kProfileNames[] = {"pocketpc", "ipaq3800", "vga",    "gapi-o1", "gapi-o2", "gapi-dram", "gapi-fault",
                                     "gxinfo",   "raw-o1",   "raw-o2", "raw-o3",  "imageon", "mediaq",    "gdi",
                                     nullptr};

constexpr uint32_t kPage = 4096;
constexpr uint32_t kStrongArmRegisters = 0xB0100000;
constexpr uint32_t kXScaleRegisters = 0x44000000;
// MediaQ frame memory lies at this offset of a 512 KiB window.
constexpr uintptr_t kMediaQWindow = 0x80000;
constexpr uintptr_t kMediaQOffset = 0x42000;
// Clearing the MediaQ's memory once costs this much time.
constexpr uint64_t kMediaQClearMicroseconds = 15000;

uint32_t round_up(uint32_t value, uint32_t step) { return (value + step - 1) / step * step; }

// Device memory at a physical address, shared by every mapping of it.
struct PhysicalRange {
  uint32_t base = 0;
  uint32_t size = 0;
  int fd = -1;
  uint8_t* host = nullptr;

  bool make(uint32_t physical, uint32_t bytes, const char* name) {
    base = physical;
    size = round_up(bytes, kPage);
    fd = memfd_create(name, MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, size) != 0) return false;
    void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    host = view == MAP_FAILED ? nullptr : static_cast<uint8_t*>(view);
    return host != nullptr;
  }
  void drop() {
    if (host) munmap(host, size);
    if (fd >= 0) close(fd);
    *this = PhysicalRange{};
  }
  bool holds(uint32_t address, uint32_t bytes) const {
    return host && address >= base && uint64_t(address) + bytes <= uint64_t(base) + size;
  }
};

struct Hardware {
  HardwareProfile profile{};
  int32_t screen_width = 0;
  int32_t screen_height = 0;
  int32_t frame_width = 0;  // as the panel scans
  int32_t frame_height = 0;
  int32_t pitch = 0;
  PhysicalRange frame;
  PhysicalRange registers;
  uint8_t* frame_view = nullptr;  // where the program finds the frame rows
  std::vector<std::pair<void*, size_t>> fixed_mappings;
  std::vector<uint8_t> shadow;    // GAPI's DRAM buffer, or the DMA library's source

  bool gx_open = false;
  bool gx_suspended = false;
  DWORD viewport_top = 0;
  DWORD viewport_count = 0;
  int dma_busy = 0;

  bool imageon_attached = false;
  uint8_t* overlay_surface = nullptr;
  DWORD overlay_bytes = 0;
  bool overlay_allocated = false;
  bool overlay_on = false;
  AtiOverlaySetup overlay{};
};

std::mutex hardware_lock;
Hardware* current_hardware = nullptr;
std::atomic<int> dma_busy_polls{3};
std::atomic<bool> kernel_mode{false};
std::atomic<BOOL> all_keys{FALSE};

const HardwareProfile& profile_for(const char* name) {
  for (const HardwareProfile& candidate : kHardware) {
    if (strcasecmp(candidate.name, name) == 0) return candidate;
  }
  return kHardware[0];  // the default device, as the kernel's profile table has it
}

// Byte offset in the frame rows of the screen's top-left pixel and the strides that
// walk the screen, for a panel turned by turn.
void screen_walk(const Hardware& hw, int32_t* origin, int32_t* x_stride, int32_t* y_stride) {
  int32_t w = hw.screen_width, h = hw.screen_height, pitch = hw.pitch;
  switch (hw.profile.panel_turn) {
    case 1: *origin = 2 * (h - 1); *x_stride = pitch; *y_stride = -2; break;
    case 2: *origin = (h - 1) * pitch + 2 * (w - 1); *x_stride = -2; *y_stride = -pitch; break;
    case 3: *origin = (w - 1) * pitch; *x_stride = -pitch; *y_stride = 2; break;
    default: *origin = 0; *x_stride = 2; *y_stride = pitch; break;
  }
}

void slow_memory_touched(void* begin, size_t size) {
  mprotect(begin, size, PROT_READ | PROT_WRITE);
  if (clock_is_virtual()) {
    clock_advance_microseconds(kMediaQClearMicroseconds);
  } else {
    timespec pause{0, long(kMediaQClearMicroseconds * 1000)};
    nanosleep(&pause, nullptr);
  }
}

// The next write to the MediaQ's memory is slow.
void arm_slow_memory(Hardware& hw) {
  if (!hw.profile.mediaq || !hw.frame_view) return;
  size_t size = round_up(uint32_t(hw.pitch * hw.frame_height), kPage);
  fault_trap_disarm(hw.frame_view);
  if (mprotect(hw.frame_view, size, PROT_READ) == 0) fault_trap_arm(hw.frame_view, size, slow_memory_touched);
}

bool map_fixed(Hardware& hw, uintptr_t address) {
  void* view = mmap(reinterpret_cast<void*>(address), hw.frame.size, PROT_READ | PROT_WRITE,
                    MAP_SHARED | MAP_FIXED_NOREPLACE, hw.frame.fd, 0);
  if (view == MAP_FAILED) return false;
  if (view != reinterpret_cast<void*>(address)) {
    munmap(view, hw.frame.size);
    return false;
  }
  hw.fixed_mappings.emplace_back(view, hw.frame.size);
  return true;
}

// Where the program sees the frame memory: where the kernel maps it on this device.
uint8_t* program_view(Hardware& hw) {
  const HardwareProfile& p = hw.profile;
  if (p.fixed_virtual) {
    if (!map_fixed(hw, p.fixed_virtual) || !map_fixed(hw, p.fixed_virtual ^ 0x20000000u)) return nullptr;
    return reinterpret_cast<uint8_t*>(uintptr_t(p.fixed_virtual));
  }
  if (p.mediaq) {
    size_t span = 2 * kMediaQWindow;
    void* reserved = mmap(nullptr, span, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (reserved == MAP_FAILED) return nullptr;
    uintptr_t window = (reinterpret_cast<uintptr_t>(reserved) + kMediaQWindow - 1) & ~(kMediaQWindow - 1);
    void* view = mmap(reinterpret_cast<void*>(window + kMediaQOffset), hw.frame.size, PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_FIXED, hw.frame.fd, 0);
    if (view == MAP_FAILED) {
      munmap(reserved, span);
      return nullptr;
    }
    hw.fixed_mappings.emplace_back(reserved, span);
    return static_cast<uint8_t*>(view);
  }
  return hw.frame.host;
}

void put32(uint8_t* block, uint32_t offset, uint32_t value) { std::memcpy(block + offset, &value, 4); }

void build_registers(Hardware& hw) {
  const HardwareProfile& p = hw.profile;
  if (p.lcd == Lcd::none || !hw.registers.make(p.lcd == Lcd::strongarm ? kStrongArmRegisters : kXScaleRegisters,
                                               kPage, "zrk-lcd"))
    return;
  uint8_t* r = hw.registers.host;
  uint32_t rows_base = p.frame_physical + p.palette_bytes;
  if (p.lcd == Lcd::strongarm) {
    put32(r, 0x00, p.lcd_enabled ? 0x81 : 0);  // enabled, active colour panel
    put32(r, 0x04, uint32_t(hw.frame_width - 16) & 0x3FF);
    put32(r, 0x08, uint32_t(hw.frame_height - 1) & 0x3FF);
    put32(r, 0x10, p.frame_physical);          // DMA base of the upper panel: palette first
    // The DMA reading rows 27 from the bottom: inside the window WaitSync waits for.
    put32(r, 0x14, rows_base + uint32_t(hw.frame_height - 27) * uint32_t(hw.pitch));
    uint16_t depth16 = 0x2000;
    std::memcpy(hw.frame.host, &depth16, 2);
  } else {
    put32(r, 0x00, p.lcd_enabled ? 0x1 : 0);
    put32(r, 0x04, uint32_t(hw.frame_width - 1) & 0x3FF);
    put32(r, 0x08, uint32_t(hw.frame_height - 1) & 0x3FF);
    put32(r, 0x0C, 4u << 24);                  // 16 bits per pixel
    put32(r, 0x204, rows_base);                // frame source address of channel 0
    put32(r, 0x20C, 27u * uint32_t(hw.pitch)); // bytes left of the frame, end-of-frame bit clear
  }
}

Hardware* build_hardware() {
  auto* hw = new Hardware;
  DeviceProfile device = device_profile();
  hw->profile = profile_for(device.name);
  const HardwareProfile& p = hw->profile;
  hw->screen_width = device.screen_width;
  hw->screen_height = device.screen_height;
  bool turned = p.panel_turn & 1;
  hw->frame_width = turned ? device.screen_height : device.screen_width;
  hw->frame_height = turned ? device.screen_width : device.screen_height;
  uint32_t row_pixels = uint32_t(hw->frame_width);
  if (p.lcd == Lcd::strongarm) row_pixels = round_up(row_pixels, 16);
  hw->pitch = int32_t(round_up(row_pixels * 2, 4));
  if (p.frame_physical == 0) return hw;
  uint32_t bytes = p.palette_bytes + uint32_t(hw->pitch * hw->frame_height);
  if (!hw->frame.make(p.frame_physical, bytes, "zrk-frame")) return hw;
  uint8_t* view = program_view(*hw);
  hw->frame_view = view ? view + p.palette_bytes : nullptr;
  if (p.gx_dram || p.gxdma) hw->shadow.assign(size_t(hw->pitch) * size_t(hw->frame_height), 0);
  build_registers(*hw);
  arm_slow_memory(*hw);
  return hw;
}

// The hardware of the profile in force; the caller holds hardware_lock.
Hardware& hardware() {
  if (!current_hardware) current_hardware = build_hardware();
  return *current_hardware;
}

const HardwareProfile& current_profile() {
  std::lock_guard hold(hardware_lock);
  return hardware().profile;
}

bool has_gx() { return current_profile().gx; }
bool has_gxdma() { return current_profile().gxdma; }
bool has_imageon() { return current_profile().imageon; }

// ---- gx.dll ----

int gx_open_display(HWND, DWORD) {
  std::lock_guard hold(hardware_lock);
  Hardware& hw = hardware();
  if (!hw.frame_view) return 0;
  hw.gx_open = true;
  return 1;
}

int gx_close_display() {
  std::lock_guard hold(hardware_lock);
  Hardware& hw = hardware();
  bool was_open = hw.gx_open;
  hw.gx_open = false;
  arm_slow_memory(hw);
  return was_open ? 1 : 0;
}

void* gx_begin_draw() {
  uint8_t* rows;
  int32_t origin, x_stride, y_stride;
  {
    std::lock_guard hold(hardware_lock);
    Hardware& hw = hardware();
    if (!hw.gx_open || hw.gx_suspended) return nullptr;
    if (hw.profile.gx_fault) rows = nullptr;
    else rows = hw.profile.gx_dram ? hw.shadow.data() : hw.frame_view;
    screen_walk(hw, &origin, &x_stride, &y_stride);
  }
  if (!rows) {
    // This device's driver hands out an address that cannot be used.
    ULONG_PTR access[2] = {kAccessRead, 0x10};
    RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 2, access);
  }
  return rows + origin;
}

int gx_end_draw() {
  std::lock_guard hold(hardware_lock);
  Hardware& hw = hardware();
  if (!hw.gx_open) return 0;
  if (hw.profile.gx_dram && !hw.gx_suspended) {
    // The viewport counts frame rows; no viewport sends all of them.
    DWORD top = hw.viewport_top, count = hw.viewport_count;
    if (count == 0 || top >= DWORD(hw.frame_height)) top = 0, count = DWORD(hw.frame_height);
    if (count > DWORD(hw.frame_height) - top) count = DWORD(hw.frame_height) - top;
    std::memcpy(hw.frame_view + top * hw.pitch, hw.shadow.data() + top * hw.pitch, count * DWORD(hw.pitch));
  }
  return 1;
}

int gx_simple() { return 1; }

GXDisplayProperties gx_get_display_properties() {
  std::lock_guard hold(hardware_lock);
  Hardware& hw = hardware();
  int32_t origin, x_stride, y_stride;
  screen_walk(hw, &origin, &x_stride, &y_stride);
  return {DWORD(hw.screen_width), DWORD(hw.screen_height), x_stride, y_stride, 16, kfDirect | kfDirect565};
}

GXKeyList key_list(short up, short down, short left, short right, short a, short b, short c, short start) {
  GXKeyList list{};
  list.vkUp = up, list.vkDown = down, list.vkLeft = left, list.vkRight = right;
  list.vkA = a, list.vkB = b, list.vkC = c, list.vkStart = start;
  return list;
}

GXKeyList gx_get_default_keys(int which) {
  if (which == GX_LANDSCAPEKEYS) return key_list(0x25, 0x27, 0x28, 0x26, 0xC4, 0xC5, 0xC6, 0x87);
  return key_list(0x26, 0x28, 0x25, 0x27, 0xC1, 0xC2, 0xC3, 0x86);
}

int gx_suspend() {
  std::lock_guard hold(hardware_lock);
  hardware().gx_suspended = true;
  return 1;
}

int gx_resume() {
  std::lock_guard hold(hardware_lock);
  hardware().gx_suspended = false;
  return 1;
}

int gx_set_viewport(DWORD top, DWORD height, DWORD, DWORD) {
  std::lock_guard hold(hardware_lock);
  Hardware& hw = hardware();
  hw.viewport_top = top;
  hw.viewport_count = height;
  return 1;
}

int gx_is_display_dram_buffer() {
  std::lock_guard hold(hardware_lock);
  return hardware().profile.gx_dram ? 1 : 0;
}

// ---- gxdma.dll: copies between GETGXINFO's buffer (DRAM) and the panel (VRAM) ----

BOOL dma_copy(DWORD x, DWORD y, DWORD width, DWORD height, bool to_panel) {
  std::lock_guard hold(hardware_lock);
  Hardware& hw = hardware();
  if (!hw.frame_view || hw.shadow.empty()) return FALSE;
  DWORD fw = DWORD(hw.frame_width), fh = DWORD(hw.frame_height);
  if (x >= fw || y >= fh) return FALSE;
  width = width > fw - x ? fw - x : width;
  height = height > fh - y ? fh - y : height;
  for (DWORD row = y; row < y + height; ++row) {
    uint8_t* panel = hw.frame_view + row * DWORD(hw.pitch) + 2 * x;
    uint8_t* dram = hw.shadow.data() + row * DWORD(hw.pitch) + 2 * x;
    if (to_panel) std::memcpy(panel, dram, 2 * width);
    else std::memcpy(dram, panel, 2 * width);
  }
  hw.dma_busy = dma_busy_polls.load();
  return TRUE;
}

BOOL dma_dram_to_vram(DWORD x, DWORD y, DWORD width, DWORD height) { return dma_copy(x, y, width, height, true); }
BOOL dma_vram_to_dram(DWORD x, DWORD y, DWORD width, DWORD height) { return dma_copy(x, y, width, height, false); }

BOOL dma_is_ready() {
  std::lock_guard hold(hardware_lock);
  Hardware& hw = hardware();
  if (dma_busy_polls.load() < 0) return FALSE;
  if (hw.dma_busy > 0) {
    --hw.dma_busy;
    return FALSE;
  }
  return TRUE;
}

// ---- CoreLinkLib.dll: one surface shown through one overlay ----

BOOL ati_attach() {
  std::lock_guard hold(hardware_lock);
  hardware().imageon_attached = true;
  return TRUE;
}

BOOL ati_detach() {
  std::lock_guard hold(hardware_lock);
  hardware().imageon_attached = false;
  return TRUE;
}

BOOL ati_nothing() { return FALSE; }
BOOL ati_done() { return TRUE; }

// The size counts 16-bit pixels.
BOOL ati_allocate_surface(DWORD* surface, void** address, DWORD pixels, DWORD) {
  std::lock_guard hold(hardware_lock);
  Hardware& hw = hardware();
  if (!surface || !address || hw.overlay_surface || pixels == 0 || pixels > 0x800000) return FALSE;
  DWORD bytes = 2 * pixels;
  hw.overlay_surface = static_cast<uint8_t*>(std::calloc(bytes, 1));
  if (!hw.overlay_surface) return FALSE;
  hw.overlay_bytes = bytes;
  *surface = 1;
  *address = hw.overlay_surface;
  return TRUE;
}

BOOL ati_destroy_surface(DWORD surface) {
  std::lock_guard hold(hardware_lock);
  Hardware& hw = hardware();
  if (surface != 1 || !hw.overlay_surface) return FALSE;
  std::free(hw.overlay_surface);
  hw.overlay_surface = nullptr;
  hw.overlay_bytes = 0;
  return TRUE;
}

BOOL ati_alloc_overlay(DWORD* overlay) {
  std::lock_guard hold(hardware_lock);
  Hardware& hw = hardware();
  if (!overlay || hw.overlay_allocated) return FALSE;
  hw.overlay_allocated = true;
  *overlay = 1;
  return TRUE;
}

BOOL ati_release_overlay(DWORD overlay) {
  std::lock_guard hold(hardware_lock);
  Hardware& hw = hardware();
  if (overlay != 1 || !hw.overlay_allocated) return FALSE;
  hw.overlay_allocated = hw.overlay_on = false;
  return TRUE;
}

BOOL ati_setup_overlay(DWORD overlay, const AtiOverlaySetup* setup) {
  std::lock_guard hold(hardware_lock);
  Hardware& hw = hardware();
  if (overlay != 1 || !hw.overlay_allocated || !setup) return FALSE;
  hw.overlay = *setup;
  return TRUE;
}

BOOL ati_set_overlay_pos(DWORD overlay, DWORD, DWORD) { return overlay == 1 ? TRUE : FALSE; }

BOOL ati_set_overlay_on_off(DWORD overlay, BOOL on) {
  std::lock_guard hold(hardware_lock);
  Hardware& hw = hardware();
  if (overlay != 1 || !hw.overlay_allocated) return FALSE;
  hw.overlay_on = on != FALSE;
  return TRUE;
}

BOOL ati_setup_memory_transfer(DWORD surface, void** address) {
  std::lock_guard hold(hardware_lock);
  Hardware& hw = hardware();
  if (surface != 1 || !hw.overlay_surface || !address) return FALSE;
  *address = hw.overlay_surface;
  return TRUE;
}

BOOL ati_terminate_memory_transfer(DWORD surface) { return surface == 1 ? TRUE : FALSE; }

template <typename F>
void* entry(F function) {
  return reinterpret_cast<void*>(function);
}

const bool registered = [] {
  struct Export {
    const char* name;
    void* address;
  };
  const Export gx[] = {
      {"?GXOpenDisplay@@YAHPAUHWND__@@K@Z", entry(&gx_open_display)},
      {"?GXCloseDisplay@@YAHXZ", entry(&gx_close_display)},
      {"?GXBeginDraw@@YAPAXXZ", entry(&gx_begin_draw)},
      {"?GXEndDraw@@YAHXZ", entry(&gx_end_draw)},
      {"?GXOpenInput@@YAHXZ", entry(&gx_simple)},
      {"?GXCloseInput@@YAHXZ", entry(&gx_simple)},
      {"?GXGetDisplayProperties@@YA?AUGXDisplayProperties@@XZ", entry(&gx_get_display_properties)},
      {"?GXGetDefaultKeys@@YA?AUGXKeyList@@H@Z", entry(&gx_get_default_keys)},
      {"?GXSuspend@@YAHXZ", entry(&gx_suspend)},
      {"?GXResume@@YAHXZ", entry(&gx_resume)},
      {"?GXSetViewport@@YAHKKKK@Z", entry(&gx_set_viewport)},
      {"?GXIsDisplayDRAMBuffer@@YAHXZ", entry(&gx_is_display_dram_buffer)},
  };
  for (const Export& e : gx) register_builtin_module_function("gx.dll", e.name, e.address);
  register_builtin_module_presence("gx.dll", has_gx);

  register_builtin_module_function("gxdma.dll", "DmaDRAMtoVRAM", entry(&dma_dram_to_vram));
  register_builtin_module_function("gxdma.dll", "DmaVRAMtoDRAM", entry(&dma_vram_to_dram));
  register_builtin_module_function("gxdma.dll", "IsDMAReady", entry(&dma_is_ready));
  register_builtin_module_presence("gxdma.dll", has_gxdma);

  const Export ati[] = {
      {"AtiCore_ProcessAttach", entry(&ati_attach)},
      {"AtiCore_ProcessDetach", entry(&ati_detach)},
      {"AtiCore_ProcessAttachMinimal", entry(&ati_attach)},
      {"AtiCore_ProcessDetachMinimal", entry(&ati_detach)},
      {"AtiCore_AllocOverlay", entry(&ati_alloc_overlay)},
      {"AtiCore_SetOverlayOnOff", entry(&ati_set_overlay_on_off)},
      {"AtiCore_SetupOverlay", entry(&ati_setup_overlay)},
      {"AtiCore_SetupOverlayExtended", entry(&ati_setup_overlay)},
      {"AtiCore_SetOverlayPos", entry(&ati_set_overlay_pos)},
      {"AtiCore_ReleaseOverlay", entry(&ati_release_overlay)},
      {"AtiCore_AllocateSurface", entry(&ati_allocate_surface)},
      {"AtiCore_DestroySurface", entry(&ati_destroy_surface)},
      {"AtiCore_SetupMemoryTransfer", entry(&ati_setup_memory_transfer)},
      {"AtiCore_TerminateMemoryTransfer", entry(&ati_terminate_memory_transfer)},
      {"AtiCore_WaitComplete", entry(&ati_done)},
  };
  // The chip's drawing engine is not used by the display library: those calls do nothing.
  for (const char* name :
       {"AtiCore_SetupGraphicWindow", "AtiCore_GetFrontBufferPitchOffset", "AtiCore_BitBlt",
        "AtiCore_BitBltFilpRotate", "AtiCore_DrawPixel", "AtiCore_ReadMem", "AtiCore_ReadReg", "AtiCore_SetFrontBuffer",
        "AtiCore_SetSrcPitchOffset", "AtiCore_SetDstPitchOffset", "AtiCore_SetRopOperation", "AtiCore_SetSrcType",
        "AtiCore_SetDstType"})
    register_builtin_module_function("CoreLinkLib.dll", name, entry(&ati_nothing));
  for (const Export& e : ati) register_builtin_module_function("CoreLinkLib.dll", e.name, e.address);
  register_builtin_module_presence("CoreLinkLib.dll", has_imageon);

  register_builtin_module_function("coredll", "SetKMode", entry(&SetKMode));
  register_builtin_module_function("coredll", "VirtualCopy", entry(&VirtualCopy));
  register_builtin_module_function("coredll", "AllKeys", entry(&AllKeys));
  register_builtin_module_function("coredll", "ChangeDisplaySettingsEx", entry(&ChangeDisplaySettingsEx));
  return true;
}();

std::atomic<DWORD> display_orientation{DMDO_0};

}  // namespace

bool display_panel(PanelView* view) {
  std::lock_guard hold(hardware_lock);
  Hardware& hw = hardware();
  view->width = hw.screen_width;
  view->height = hw.screen_height;
  if (hw.profile.imageon) {
    if (!hw.overlay_on || !hw.overlay_surface) return false;
    if (uint64_t(hw.overlay.width) * hw.overlay.height * 2 > hw.overlay_bytes) return false;
    view->width = int32_t(hw.overlay.width) < view->width ? int32_t(hw.overlay.width) : view->width;
    view->height = int32_t(hw.overlay.height) < view->height ? int32_t(hw.overlay.height) : view->height;
    view->origin = hw.overlay_surface;
    view->x_stride = 2;
    view->y_stride = int32_t(2 * hw.overlay.width);
    return true;
  }
  if (!hw.frame.host) return false;
  int32_t origin;
  screen_walk(hw, &origin, &view->x_stride, &view->y_stride);
  view->origin = hw.frame.host + hw.profile.palette_bytes + origin;
  return true;
}

int display_escape(int code, int input_size, const void* input, int output_size, void* output) {
  std::lock_guard hold(hardware_lock);
  Hardware& hw = hardware();
  const HardwareProfile& p = hw.profile;
  switch (code) {
    case QUERYESCSUPPORT: {
      if (!input || input_size < 4) return 0;
      DWORD asked;
      std::memcpy(&asked, input, 4);
      if (asked == QUERYESCSUPPORT) return 1;
      if (asked == DWORD(GETGXINFO)) return p.gx_info && hw.frame_view ? 1 : 0;
      if (asked == DWORD(GETRAWFRAMEBUFFER)) return p.raw && hw.frame_view ? 1 : 0;
      return 0;
    }
    case GETGXINFO: {
      if (!p.gx_info || !hw.frame_view || !output || output_size < int(sizeof(GXDeviceInfo))) return 0;
      auto* info = static_cast<GXDeviceInfo*>(output);
      if (info->Version != 100) return 0;
      info->pvFrameBuffer = p.gxdma ? static_cast<void*>(hw.shadow.data()) : hw.frame_view;
      info->cbStride = DWORD(hw.pitch);
      info->cxWidth = DWORD(hw.frame_width);
      info->cyHeight = DWORD(hw.frame_height);
      info->cBPP = 16;
      info->ffFormat = kfDirect | kfDirect565;
      GXKeyList portrait = gx_get_default_keys(GX_NORMALKEYS), landscape = gx_get_default_keys(GX_LANDSCAPEKEYS);
      info->vkButtonUpPortrait = portrait.vkUp, info->vkButtonUpLandscape = landscape.vkUp;
      info->vkButtonDownPortrait = portrait.vkDown, info->vkButtonDownLandscape = landscape.vkDown;
      info->vkButtonLeftPortrait = portrait.vkLeft, info->vkButtonLeftLandscape = landscape.vkLeft;
      info->vkButtonRightPortrait = portrait.vkRight, info->vkButtonRightLandscape = landscape.vkRight;
      info->vkButtonAPortrait = portrait.vkA, info->vkButtonALandscape = landscape.vkA;
      info->vkButtonBPortrait = portrait.vkB, info->vkButtonBLandscape = landscape.vkB;
      info->vkButtonCPortrait = portrait.vkC, info->vkButtonCLandscape = landscape.vkC;
      info->vkButtonStartPortrait = portrait.vkStart, info->vkButtonStartLandscape = landscape.vkStart;
      return 1;
    }
    case GETRAWFRAMEBUFFER: {
      if (!p.raw || !hw.frame_view || !output || output_size < int(sizeof(RawFrameBufferInfo))) return 0;
      auto* info = static_cast<RawFrameBufferInfo*>(output);
      int32_t origin;
      screen_walk(hw, &origin, &info->cxStride, &info->cyStride);
      info->wFormat = FORMAT_565;
      info->wBPP = 16;
      info->pFramePointer = hw.frame_view + origin;
      info->cxPixels = hw.screen_width;
      info->cyPixels = hw.screen_height;
      return 1;
    }
    default:
      return 0;
  }
}

DWORD processor_main_id() {
  if (!kernel_mode.load()) RaiseException(EXCEPTION_PRIV_INSTRUCTION, 0, 0, nullptr);
  return device_profile().processor_id;
}

const char* const* display_profile_names() { return kProfileNames; }

void display_hardware_reset() {
  std::lock_guard hold(hardware_lock);
  Hardware* hw = current_hardware;
  current_hardware = nullptr;
  if (!hw) return;
  if (hw->frame_view) fault_trap_disarm(hw->frame_view - hw->profile.palette_bytes);
  for (auto [address, size] : hw->fixed_mappings) munmap(address, size);
  std::free(hw->overlay_surface);
  hw->frame.drop();
  hw->registers.drop();
  delete hw;
}

uint8_t* physical_memory(uint32_t address, uint32_t size) {
  std::lock_guard hold(hardware_lock);
  Hardware& hw = hardware();
  for (PhysicalRange* range : {&hw.frame, &hw.registers}) {
    if (range->holds(address, size)) return range->host + (address - range->base);
  }
  return nullptr;
}

void gxdma_set_busy_polls(int polls) { dma_busy_polls.store(polls); }

uint32_t lcd_register_base() {
  std::lock_guard hold(hardware_lock);
  return hardware().registers.base;
}

void display_set_orientation(DWORD dmdo) { display_orientation.store(dmdo); }

}  // namespace platform

using namespace platform;

LONG ChangeDisplaySettingsEx(LPCWSTR, DEVMODEW* mode, HWND, DWORD flags, void*) {
  if (!mode || mode->dmSize < sizeof(DEVMODEW) || !(flags & CDS_TEST) || !(mode->dmFields & DM_DISPLAYORIENTATION))
    return DISP_CHANGE_BADMODE;
  mode->dmDisplayOrientation = display_orientation.load();
  return DISP_CHANGE_SUCCESSFUL;
}

BOOL AllKeys(BOOL all) { return all_keys.exchange(all ? TRUE : FALSE); }

BOOL SetKMode(BOOL kernel) { return kernel_mode.exchange(kernel != FALSE) ? TRUE : FALSE; }

BOOL VirtualCopy(void* destination, void* source, DWORD size, DWORD protect) {
  uint32_t physical = uint32_t(reinterpret_cast<uintptr_t>(source));
  if (protect & PAGE_PHYSICAL) physical <<= 8;
  uintptr_t target = reinterpret_cast<uintptr_t>(destination);
  MEMORY_BASIC_INFORMATION region{};
  bool reserved = size != 0 && (target % kPage) == 0 && (physical % kPage) == 0 &&
                  VirtualQuery(destination, &region, sizeof(region)) == sizeof(region) &&
                  region.State == MEM_RESERVE && reinterpret_cast<uintptr_t>(region.BaseAddress) == target &&
                  region.RegionSize >= round_up(size, kPage);
  int fd = -1;
  uint32_t offset = 0;
  if (reserved) {
    std::lock_guard hold(hardware_lock);
    Hardware& hw = hardware();
    for (PhysicalRange* range : {&hw.frame, &hw.registers}) {
      if (range->holds(physical, round_up(size, kPage))) {
        fd = range->fd;
        offset = physical - range->base;
      }
    }
  }
  if (fd < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  void* view = mmap(destination, round_up(size, kPage), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, offset);
  if (view == MAP_FAILED) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}
