// Device information: serial numbers from the asset file and the HAL, the owner's
// details from the registry, the processor record and the shell's platform texts.
#include "library/files/device_builtins.h"

#include <cstring>
#include <string>
#include <vector>

#include "foundation/conversion.h"
#include "foundation/program_context.h"
#include "foundation/value_stack.h"
#include "platform/platform.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

constexpr int32_t kAssetSerial = 2000;
constexpr int32_t kHalDeviceId = 2002;

// The asset file the maker's "CreateAssetFile.exe" writes; its serial is 32 UTF-16
// characters at byte 976.
constexpr const char16_t* kAssetFile = u"\\windows\\cpqAssetData.dat";
constexpr LONG kAssetSerialOffset = 976;
constexpr DWORD kAssetSerialBytes = 64;

constexpr DWORD kDeviceIdBuffer = 4096;
// The serial is the hexadecimal digits 40-41, 45-53 and 70-75 of the identifier.
constexpr size_t kDeviceIdDigitsNeeded = 76;

constexpr DWORD kOwnerBytes = 768;
constexpr DWORD kNotesBytes = 512;
// Byte offsets of name, company, address, telephone and e-mail in the "Owner" value.
constexpr DWORD kOwnerFields[] = {0, 72, 144, 516, 566};

constexpr DWORD kShellTextBytes = 256;

// The UTF-16 text at byte offset of a zeroed buffer, ending at its terminator or at the
// buffer's end, as 8-bit text.
std::string narrow_field(const BYTE* buffer, DWORD buffer_bytes, DWORD offset, DWORD max_chars) {
  std::u16string text;
  for (DWORD at = offset; at + 1 < buffer_bytes && text.size() < max_chars; at += 2) {
    char16_t c = static_cast<char16_t>(buffer[at] | (buffer[at + 1] << 8));
    if (!c) break;
    text += c;
  }
  char* narrow = to_narrow(text.c_str());
  std::string result = narrow ? narrow : "";
  crt::free(narrow);
  return result;
}

void push_text(const std::string& text) { push_owned_text(crt::_strdup(text.c_str())); }

// The serial the maker's asset tool leaves in its file. The tool is a device program
// that cannot run here: a device folder may still carry the file it wrote.
std::string asset_serial() {
  HANDLE file = CreateFileW(kAssetFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return "";
  BYTE buffer[kAssetSerialBytes] = {};
  DWORD read = 0;
  if (SetFilePointer(file, kAssetSerialOffset, nullptr, FILE_BEGIN) != 0xFFFFFFFFu) {
    ReadFile(file, buffer, kAssetSerialBytes, &read, nullptr);
  }
  CloseHandle(file);
  return narrow_field(buffer, sizeof buffer, 0, kAssetSerialBytes / 2);
}

std::string hal_serial() {
  std::vector<BYTE> buffer(kDeviceIdBuffer);
  DWORD returned = 0;
  if (!KernelIoControl(IOCTL_HAL_GET_DEVICEID, nullptr, 0, buffer.data(), kDeviceIdBuffer, &returned)) return "";
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (DWORD index = 0; index < returned && index < kDeviceIdBuffer; ++index) {
    hex += kDigits[buffer[index] >> 4];
    hex += kDigits[buffer[index] & 0xF];
  }
  // A shorter identifier has no digits where the serial is taken from.
  if (hex.size() < kDeviceIdDigitsNeeded) return "";
  return hex.substr(40, 2) + hex.substr(45, 9) + hex.substr(70, 6);
}

// The registry value's bytes in a zeroed buffer of that size; all zero when it is absent.
std::vector<BYTE> read_value(HKEY key, const char16_t* name, DWORD bytes) {
  std::vector<BYTE> buffer(bytes);
  DWORD size = bytes;
  DWORD type = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, buffer.data(), &size) != ERROR_SUCCESS) {
    std::fill(buffer.begin(), buffer.end(), 0);
  }
  return buffer;
}

}  // namespace

void builtin_deviceserial() {
  const int32_t kind = pop_integer();
  if (kind == kAssetSerial) push_text(asset_serial());
  else if (kind == kHalDeviceId) push_text(hal_serial());
  else push_text("");
}

void builtin_deviceowner() {
  Variable* variable = pop_variable();
  if (!variable) return;
  HKEY key = nullptr;
  std::vector<BYTE> owner(kOwnerBytes);
  std::vector<BYTE> notes(kNotesBytes);
  if (RegCreateKeyExW(HKEY_CURRENT_USER, u"\\ControlPanel\\Owner", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ,
                      nullptr, &key, nullptr) == ERROR_SUCCESS) {
    owner = read_value(key, u"Owner", kOwnerBytes);
    notes = read_value(key, u"Notes", kNotesBytes);
    RegCloseKey(key);
  }
  // An owner never entered leaves six empty texts, as on a new device.
  std::vector<std::string> texts;
  for (DWORD offset : kOwnerFields) texts.push_back(narrow_field(owner.data(), kOwnerBytes, offset, kOwnerBytes / 2));
  texts.push_back(narrow_field(notes.data(), kNotesBytes, 0, kNotesBytes / 2));
  fill_text_list(variable, texts);
}

void builtin_device() {
  const int32_t item = pop_integer();
  ProgramContext* context = current_program;
  PROCESSOR_INFO info{};
  DWORD returned = 0;
  if (!KernelIoControl(IOCTL_PROCESSOR_INFORMATION, nullptr, 0, &info, sizeof info, &returned)) {
    stack_push_number(context, 0);
    return;
  }
  const auto* bytes = reinterpret_cast<const BYTE*>(&info);
  auto field = [bytes](const WCHAR* start, DWORD chars) {
    return narrow_field(bytes, sizeof(PROCESSOR_INFO), static_cast<DWORD>(reinterpret_cast<const BYTE*>(start) - bytes),
                        chars);
  };
  auto shell_text = [](UINT action) {
    BYTE buffer[kShellTextBytes] = {};
    if (!SystemParametersInfoW(action, kShellTextBytes, buffer, 0)) return std::string();
    return narrow_field(buffer, kShellTextBytes, 0, kShellTextBytes / 2);
  };
  switch (item) {
    case 0: stack_push_number(context, info.wVersion); return;
    case 1: push_text(field(info.szProcessCore, 40)); return;
    case 2: stack_push_number(context, info.wCoreRevision); return;
    case 3: push_text(field(info.szProcessorName, 40)); return;
    case 4: stack_push_number(context, info.wProcessorRevision); return;
    case 5: push_text(field(info.szCatalogNumber, 100)); return;
    case 6: push_text(field(info.szVendor, 100)); return;
    case 7: stack_push_number(context, info.dwInstructionSet); return;
    case 8: stack_push_number(context, info.dwClockSpeed); return;
    case 9: push_text(shell_text(SPI_GETPLATFORMTYPE)); return;
    case 10: push_text(shell_text(SPI_GETOEMINFO)); return;
  }
  stack_push_number(context, 0);
}

void register_device_builtins() {
  builtin_register("deviceserial", builtin_deviceserial);
  builtin_register("deviceowner", builtin_deviceowner);
  builtin_register("device", builtin_device);
}
