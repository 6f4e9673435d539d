// The HAL's I/O controls (KernelIoControl): the device identifier and the processor
// information record.
#pragma once

#include "platform/kernel/types.h"

constexpr DWORD IOCTL_HAL_GET_DEVICEID = 0x01010054;
constexpr DWORD IOCTL_PROCESSOR_INFORMATION = 0x01010064;
constexpr DWORD IOCTL_HAL_REBOOT = 0x0101003C;

// The device identifier: this header, then the preset and the platform identifier
// bytes at the offsets it names.
struct DEVICE_ID {
  DWORD dwSize;  // bytes of the whole identifier, header included
  DWORD dwPresetIDOffset;
  DWORD dwPresetIDBytes;
  DWORD dwPlatformIDOffset;
  DWORD dwPlatformIDBytes;
};

// Bits of PROCESSOR_INFO::dwInstructionSet.
constexpr DWORD PROCESSOR_FLOATINGPOINT = 0x1;
constexpr DWORD PROCESSOR_DSP = 0x2;
constexpr DWORD PROCESSOR_16BITINSTRUCTION = 0x4;

struct PROCESSOR_INFO {
  WORD wVersion;
  WCHAR szProcessCore[40];
  WORD wCoreRevision;
  WCHAR szProcessorName[40];
  WORD wProcessorRevision;
  WCHAR szCatalogNumber[100];
  WCHAR szVendor[100];
  DWORD dwInstructionSet;
  DWORD dwClockSpeed;
};
static_assert(sizeof(PROCESSOR_INFO) == 576, "processor information layout");

// IOCTL_HAL_GET_DEVICEID: a DEVICE_ID built from the host's machine identifier
// (/etc/machine-id, else /var/lib/dbus/machine-id), so it is stable for the machine: its
// first 8 bytes as the preset identifier, all 16 as the platform identifier. Fails with
// ERROR_NOT_SUPPORTED when the host has none; with ERROR_INSUFFICIENT_BUFFER (only
// dwSize written, when 4 bytes fit) when output is too small.
// IOCTL_PROCESSOR_INFORMATION: the PROCESSOR_INFO of the device profile's processor.
// IOCTL_HAL_REBOOT: the device restarts, which ends the run (platform::end_run, status 0).
// Other codes fail with ERROR_NOT_SUPPORTED. *returned (may be null) gets the bytes
// written.
BOOL KernelIoControl(DWORD code, LPVOID input, DWORD input_size, LPVOID output, DWORD output_size, LPDWORD returned);

// Asks the next restart to start with a clean object store; the flag is kept for
// clean_reboot_requested (this device keeps no object store of its own to wipe).
void SetCleanRebootFlag();
namespace platform {
bool clean_reboot_requested();
}  // namespace platform
