// The stream-driver registry behind CreateFileW's device names, and DeviceIoControl.

#include "platform/kernel/device_io.h"

#include <map>
#include <mutex>
#include <string>

namespace platform {
namespace {

// Device names are case-insensitive; keys are kept upper-cased.
std::u16string driver_key(std::u16string_view name) {
  std::u16string key(name);
  for (char16_t& c : key) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  return key;
}

struct DriverRegistry {
  std::mutex lock;
  std::map<std::u16string, StreamDriverFactory> drivers;
};

// Made on first use: drivers register from static initialisers of other files.
DriverRegistry& registry() {
  static DriverRegistry instance;
  return instance;
}

std::shared_ptr<KernelObject> open_registered_driver(std::u16string_view name, DWORD access, DWORD share) {
  StreamDriverFactory factory;
  {
    DriverRegistry& drivers = registry();
    std::lock_guard<std::mutex> guard(drivers.lock);
    auto found = drivers.drivers.find(driver_key(name));
    if (found != drivers.drivers.end()) factory = found->second;
  }
  // The factory runs outside the lock: it may touch files and take its time.
  if (!factory) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  return factory(access, share);
}

}  // namespace

void use_registered_stream_drivers() { set_stream_driver_opener(open_registered_driver); }

StreamDriverFactory register_stream_driver(std::u16string_view name, StreamDriverFactory factory) {
  use_registered_stream_drivers();
  DriverRegistry& drivers = registry();
  std::lock_guard<std::mutex> guard(drivers.lock);
  std::u16string key = driver_key(name);
  StreamDriverFactory previous;
  auto found = drivers.drivers.find(key);
  if (found != drivers.drivers.end()) {
    previous = std::move(found->second);
    drivers.drivers.erase(found);
  }
  if (factory) drivers.drivers.emplace(std::move(key), std::move(factory));
  return previous;
}

}  // namespace platform

BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID input, DWORD input_size, LPVOID output, DWORD output_size,
                     LPDWORD bytes_returned, LPOVERLAPPED overlapped) {
  if (bytes_returned) *bytes_returned = 0;
  auto object = platform::handle_object(device);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  auto driver = std::dynamic_pointer_cast<platform::StreamDevice>(object);
  if (!driver) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
  }
  if (overlapped || (!input && input_size != 0) || (!output && output_size != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD returned = 0;
  BOOL result = driver->control(code, input, input_size, output, output_size, returned);
  if (!result) {
    returned = 0;
  } else {
    if (returned > output_size) returned = output_size;
    SetLastError(ERROR_SUCCESS);
  }
  if (bytes_returned) *bytes_returned = returned;
  return result;
}
