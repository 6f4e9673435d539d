// KernelIoControl: the HAL's answers about the device, from the host's machine
// identifier and the device profile.
#include "platform/device/hal_io_control.h"

#include <atomic>
#include <cctype>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/kernel/system_info.h"
#include "platform/user/messages.h"

namespace {

constexpr DWORD kPresetIdBytes = 8;
constexpr DWORD kPlatformIdBytes = 16;

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The 16 bytes of the host's machine identifier (32 hex digits); false when there is none.
bool read_machine_id(BYTE (&id)[kPlatformIdBytes]) {
  for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
    std::ifstream file(path);
    std::string text;
    if (!file || !std::getline(file, text) || text.size() < 2 * kPlatformIdBytes) continue;
    bool valid = true;
    for (DWORD index = 0; index < kPlatformIdBytes && valid; ++index) {
      int high = hex_digit(text[2 * index]);
      int low = hex_digit(text[2 * index + 1]);
      valid = high >= 0 && low >= 0;
      id[index] = static_cast<BYTE>(high * 16 + low);
    }
    if (valid) return true;
  }
  return false;
}

BOOL fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

BOOL device_id(LPVOID output, DWORD output_size, LPDWORD returned) {
  BYTE machine[kPlatformIdBytes];
  if (!read_machine_id(machine)) return fail(ERROR_NOT_SUPPORTED);
  const DEVICE_ID header{sizeof(DEVICE_ID) + kPresetIdBytes + kPlatformIdBytes, sizeof(DEVICE_ID), kPresetIdBytes,
                         sizeof(DEVICE_ID) + kPresetIdBytes, kPlatformIdBytes};
  if (!output || output_size < header.dwSize) {
    // The caller learns how much room the identifier needs.
    if (output && output_size >= sizeof(DWORD)) std::memcpy(output, &header.dwSize, sizeof(DWORD));
    return fail(ERROR_INSUFFICIENT_BUFFER);
  }
  auto* bytes = static_cast<BYTE*>(output);
  std::memcpy(bytes, &header, sizeof header);
  std::memcpy(bytes + header.dwPresetIDOffset, machine, kPresetIdBytes);
  std::memcpy(bytes + header.dwPlatformIDOffset, machine, kPlatformIdBytes);
  if (returned) *returned = header.dwSize;
  return TRUE;
}

template <size_t N>
void copy_text(WCHAR (&field)[N], const WCHAR* text) {
  size_t length = 0;
  while (text && text[length] && length + 1 < N) {
    field[length] = text[length];
    ++length;
  }
  field[length] = 0;
}

BOOL processor_information(LPVOID output, DWORD output_size, LPDWORD returned) {
  if (!output || output_size < sizeof(PROCESSOR_INFO)) return fail(ERROR_INSUFFICIENT_BUFFER);
  const platform::DeviceProfile profile = platform::device_profile();
  PROCESSOR_INFO info{};
  info.wVersion = 1;
  copy_text(info.szProcessCore, profile.processor_core);
  // The core's revision is its ARM architecture version.
  info.wCoreRevision = profile.processor_level;
  copy_text(info.szProcessorName, profile.processor_name);
  info.wProcessorRevision = profile.processor_revision;
  // The profile knows no catalogue number: the field stays empty.
  copy_text(info.szVendor, profile.processor_vendor);
  // ARMv5 cores (XScale) have Thumb and the DSP extensions; none of the profiles' cores
  // has a floating-point unit.
  info.dwInstructionSet = profile.processor_level >= 5 ? (PROCESSOR_DSP | PROCESSOR_16BITINSTRUCTION) : 0;
  // In hertz.
  info.dwClockSpeed = profile.processor_clock_mhz * 1000000u;
  std::memcpy(output, &info, sizeof info);
  if (returned) *returned = sizeof info;
  return TRUE;
}

std::atomic<bool> clean_reboot{false};

}  // namespace

BOOL KernelIoControl(DWORD code, LPVOID input, DWORD input_size, LPVOID output, DWORD output_size, LPDWORD returned) {
  (void)input;
  (void)input_size;
  if (returned) *returned = 0;
  switch (code) {
    case IOCTL_HAL_GET_DEVICEID: return device_id(output, output_size, returned);
    case IOCTL_PROCESSOR_INFORMATION: return processor_information(output, output_size, returned);
    case IOCTL_HAL_REBOOT: platform::end_run(clean_reboot ? "zrk: the device restarts clean" : "zrk: the device restarts", 0);
  }
  return fail(ERROR_NOT_SUPPORTED);
}

void SetCleanRebootFlag() { clean_reboot = true; }

namespace platform {
bool clean_reboot_requested() { return clean_reboot; }
}  // namespace platform
