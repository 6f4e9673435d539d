// The "ACS1:" accelerometer stream driver over a Linux industrial-I/O device: the
// request codes it answers and the unit of its readings.
#pragma once

#include "platform/kernel/types.h"

namespace platform {

// Control codes of "ACS1:". Every request takes a 4-byte input holding 0.
// Start and stop are accepted (4-byte output, left as it is) and change nothing:
// the device's raw channels read at any time, and callers open the driver afresh for
// each request. Read fills 12 bytes: x, y and z as signed 32-bit milli-g
// (thousandths of standard gravity, 9.80665 m/s^2, rounded to nearest).
constexpr DWORD ACCELEROMETER_START = 1102;
constexpr DWORD ACCELEROMETER_STOP = 1103;
constexpr DWORD ACCELEROMETER_READ = 1015;

// The environment variable that moves the folder of industrial-I/O devices
// (default "/sys/bus/iio/devices"), so tests can give a folder of plain files.
constexpr const char* IIO_ROOT_VARIABLE = "ZRK_IIO_ROOT";

}  // namespace platform
