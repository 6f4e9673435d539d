// Stream drivers: devices opened by a name such as "ACS1:" through CreateFileW and
// driven with DeviceIoControl. Drivers register by name; the platform's own register
// when it loads, and a test may put its own in their place.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "platform/kernel/files.h"
#include "platform/kernel/handles.h"
#include "platform/kernel/types.h"

namespace platform {

// One open instance of a stream driver: the object behind the handle CreateFileW gives.
// The driver ends (its destructor runs) when the last handle to it is closed.
class StreamDevice : public KernelObject {
 public:
  StreamDevice() : KernelObject(ObjectKind::Device) {}

  // Answers one control request. input/output are the caller's buffers, checked by
  // DeviceIoControl only for being present when their size is not 0; returned is 0 on
  // entry. FALSE with the last error set on failure.
  virtual BOOL control(DWORD code, const void* input, DWORD input_size, void* output, DWORD output_size,
                       DWORD& returned) = 0;
};

// Makes a new instance of a driver for one CreateFileW, or returns null with the last
// error set when the device cannot be used (no hardware, for instance).
using StreamDriverFactory = std::function<std::shared_ptr<StreamDevice>(DWORD access, DWORD share)>;

// Registers a driver under a stream-driver name ("ACS1:"; letters match without regard
// to case) and returns the factory it replaces, if any; a null factory removes the
// name. Handles already open keep the instance they have.
StreamDriverFactory register_stream_driver(std::u16string_view name, StreamDriverFactory factory);

// Makes CreateFileW open stream drivers through this registry. Every registration does
// it; needed again only after something else was installed with set_stream_driver_opener.
void use_registered_stream_drivers();

}  // namespace platform

// Sends a control request to an open stream driver. An unknown name fails at
// CreateFileW with ERROR_FILE_NOT_FOUND. Here: FALSE with ERROR_INVALID_HANDLE for a
// handle that is not live, ERROR_INVALID_FUNCTION for a live handle that is not a
// device (or a request the driver does not know), ERROR_INVALID_PARAMETER for a
// missing buffer of non-zero size or an overlapped request (the device has none).
// *bytes_returned (may be null) gets the bytes written to output, 0 on failure.
BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID input, DWORD input_size, LPVOID output, DWORD output_size,
                     LPDWORD bytes_returned, LPOVERLAPPED overlapped);
