// Tiltwick.dll's interface: the tilt sensor's three exports and the record one fills.
// Scripts load the library by name; the exports are C functions, undecorated.
#pragma once

#include <cstddef>
#include <cstdint>

#define TILTWICK_EXPORT extern "C" __attribute__((visibility("default")))

// One reading of the sensor: x, y and z in milli-g (the low 16 bits of the driver's
// 32-bit values); the rest is always zero.
struct SensorData {
  int16_t x;
  int16_t y;
  int16_t z;
  int16_t reserved_short;
  uint32_t reserved[3];
};
static_assert(sizeof(SensorData) == 20);
static_assert(offsetof(SensorData, reserved) == 8);

// Starts the sensor through "ACS1:". Always 1, with or without a driver.
TILTWICK_EXPORT int32_t QyvSensorOpen();

// Stops the sensor through "ACS1:": the result of closing the driver (non-zero when it
// closed), or -1 when the driver cannot be opened.
TILTWICK_EXPORT int32_t QyvSensorClose();

// Reads the sensor through "ACS1:" into *data and returns 1. Without a driver the record
// is left as it was; the first argument is not used.
TILTWICK_EXPORT int32_t QyvSensorGetDataOutput(int32_t unused, SensorData* data);
