// Tiltwick.dll: each export opens "ACS1:", sends one request and closes it again, so the
// library keeps no state. No entry-point function is needed: loading and unloading do
// no work.

#include "tiltwick/tiltwick.h"

#include <cstring>

#include "platform/device/accelerometer.h"
#include "platform/kernel/device_io.h"
#include "platform/kernel/files.h"

namespace {

HANDLE open_sensor() { return CreateFileW(u"ACS1:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr); }

// Sends one request with the driver's usual 4-byte input holding 0; true when it succeeded.
bool request(HANDLE sensor, DWORD code, void* output, DWORD output_size) {
  DWORD input = 0;
  DWORD returned = 0;
  return DeviceIoControl(sensor, code, &input, sizeof input, output, output_size, &returned, nullptr) != FALSE;
}

}  // namespace

int32_t QyvSensorOpen() {
  HANDLE sensor = open_sensor();
  if (sensor != INVALID_HANDLE_VALUE) {
    DWORD output = 0;
    request(sensor, platform::ACCELEROMETER_START, &output, sizeof output);
    CloseHandle(sensor);
  }
  return 1;
}

int32_t QyvSensorClose() {
  HANDLE sensor = open_sensor();
  if (sensor == INVALID_HANDLE_VALUE) return -1;
  DWORD output = 0;
  request(sensor, platform::ACCELEROMETER_STOP, &output, sizeof output);
  return CloseHandle(sensor);
}

int32_t QyvSensorGetDataOutput(int32_t unused, SensorData* data) {
  HANDLE sensor = open_sensor();
  if (sensor == INVALID_HANDLE_VALUE) return 1;
  int32_t values[3] = {0, 0, 0};
  // A failed read still fills the record, with zeros rather than whatever the driver
  // left in the buffer.
  if (!request(sensor, platform::ACCELEROMETER_READ, values, sizeof values)) std::memset(values, 0, sizeof values);
  CloseHandle(sensor);
  // A null record is a caller's mistake that would only crash the script: skip it.
  if (data) {
    std::memset(data, 0, sizeof *data);
    data->x = static_cast<int16_t>(values[0]);
    data->y = static_cast<int16_t>(values[1]);
    data->z = static_cast<int16_t>(values[2]);
  }
  return 1;
}
