// The "ACS1:" accelerometer driver against simulated industrial-I/O devices: folders of
// attribute files under ZRK_IIO_ROOT, as the kernel's sysfs shows them.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <map>
#include <string>

#include "platform/device/accelerometer.h"
#include "platform/kernel/device_io.h"
#include "temporary_root.h"

namespace {

using Reading = std::array<int32_t, 3>;
using Attributes = std::map<std::string, std::string>;

class AcsDriver : public TemporaryRoot {
 protected:
  void SetUp() override {
    TemporaryRoot::SetUp();
    if (const char* previous = std::getenv(platform::IIO_ROOT_VARIABLE)) previous_ = previous;
    iio_ = host("iio");
    std::filesystem::create_directories(iio_);
    setenv(platform::IIO_ROOT_VARIABLE, iio_.c_str(), 1);
    platform::use_registered_stream_drivers();
  }
  void TearDown() override {
    if (previous_) setenv(platform::IIO_ROOT_VARIABLE, previous_->c_str(), 1);
    else unsetenv(platform::IIO_ROOT_VARIABLE);
    TemporaryRoot::TearDown();
  }

  // Writes a device folder "iio/<device>" with one file per attribute, each ending in a
  // newline as sysfs gives them.
  void make_device(const std::string& device, const Attributes& attributes) const {
    for (const auto& [name, value] : attributes) make_file("iio/" + device + "/" + name, value + "\n");
  }

  static Attributes accel(const std::string& x, const std::string& y, const std::string& z) {
    return {{"in_accel_x_raw", x}, {"in_accel_y_raw", y}, {"in_accel_z_raw", z}};
  }

  static HANDLE open_sensor() { return CreateFileW(u"ACS1:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr); }

  // Opens, reads once and closes; false when the driver does not open or read.
  static bool read_once(Reading& reading) {
    HANDLE sensor = open_sensor();
    if (sensor == INVALID_HANDLE_VALUE) return false;
    DWORD input = 0, returned = 0;
    BOOL done = DeviceIoControl(sensor, platform::ACCELEROMETER_READ, &input, 4, reading.data(), 12, &returned,
                                nullptr);
    CloseHandle(sensor);
    return done && returned == 12;
  }

  std::string iio_;

 private:
  std::optional<std::string> previous_;
};

// Expected values worked out apart: (raw + offset) * scale / 9.80665 * 1000, rounded.
TEST_F(AcsDriver, ScaleAndOffsetGiveMilliG) {
  struct Case {
    const char* row;
    Attributes attributes;
    Reading expected;
  };
  auto with = [](Attributes base, const Attributes& more) {
    for (const auto& [name, value] : more) base[name] = value;
    return base;
  };
  const Case cases[] = {
      {"shared scale", with(accel("1000", "-500", "2"), {{"in_accel_scale", "0.009806650"}}), {1000, -500, 2}},
      {"2 g range of a phone", with(accel("16384", "-16384", "0"), {{"in_accel_scale", "0.000598"}}), {999, -999, 0}},
      {"per-axis scale over the shared one",
       with(accel("100", "1", "-1"), {{"in_accel_scale", "1"}, {"in_accel_x_scale", "0.0196133"}}),
       {200, 102, -102}},
      {"shared offset", with(accel("10", "20", "0"), {{"in_accel_scale", "0.0980665"}, {"in_accel_offset", "-10"}}),
       {0, 100, -100}},
      {"per-axis offset",
       with(accel("5", "5", "5"),
            {{"in_accel_scale", "0.0980665"}, {"in_accel_offset", "0"}, {"in_accel_y_offset", "5"}}),
       {50, 100, 50}},
      {"no scale or offset: raw is m/s^2", accel("9", "-9", "0"), {918, -918, 0}},
      {"values beyond 16 bits stay whole", with(accel("400", "-40", "1"), {{"in_accel_scale", "9.80665"}}),
       {400000, -40000, 1000}},
      {"white space around numbers", with(accel(" 1000", "-500\t", "2 "), {{"in_accel_scale", "0.00980665 "}}),
       {1000, -500, 2}},
  };
  for (const Case& row : cases) {
    std::filesystem::remove_all(iio_);
    make_device("iio:device0", row.attributes);
    Reading reading{};
    ASSERT_TRUE(read_once(reading)) << row.row;
    EXPECT_EQ(reading, row.expected) << row.row;
  }
}

TEST_F(AcsDriver, TheFirstDeviceWhoseAccelerationReadsIsTheSensor) {
  make_device("iio:device0", {{"in_temp_raw", "250"}, {"name", "thermometer"}});
  make_device("iio:device1", {{"in_accel_x_raw", "1"}, {"in_accel_y_raw", "1"}});  // no z
  make_device("iio:device10", accel("10", "10", "10"));  // after device 2: numbers, not text
  make_device("iio:device2", accel("2", "2", "2"));
  make_device("trigger0", accel("7", "7", "7"));  // not a device
  Reading reading{};
  ASSERT_TRUE(read_once(reading));
  EXPECT_EQ(reading, (Reading{204, 204, 204})) << "iio:device2";

  // A candidate that does not read is passed over at the next open.
  make_file("iio/iio:device2/in_accel_y_raw", "busy\n");
  ASSERT_TRUE(read_once(reading));
  EXPECT_EQ(reading, (Reading{1020, 1020, 1020})) << "iio:device10";
}

TEST_F(AcsDriver, WithoutAReadableDeviceTheDriverIsMissing) {
  struct Case {
    const char* row;
    std::map<std::string, Attributes> devices;
  };
  auto accel_with = [](const std::string& name, const std::string& value) {
    Attributes attributes = accel("1", "2", "3");
    attributes[name] = value;
    return attributes;
  };
  const Case cases[] = {
      {"empty folder", {}},
      {"other sensors only", {{"iio:device0", {{"in_anglvel_x_raw", "3"}, {"in_temp_raw", "1"}}}}},
      {"raw value not a number", {{"iio:device0", accel("12", "x", "3")}}},
      {"raw value empty", {{"iio:device0", accel("12", "", "3")}}},
      {"scale not a number", {{"iio:device0", accel_with("in_accel_scale", "fast")}}},
      {"offset trailing text", {{"iio:device0", accel_with("in_accel_z_offset", "1x")}}},
      {"per-axis scale not a number", {{"iio:device0", accel_with("in_accel_y_scale", "nan")}}},
  };
  for (const Case& row : cases) {
    std::filesystem::remove_all(iio_);
    std::filesystem::create_directories(iio_);
    for (const auto& [device, attributes] : row.devices) make_device(device, attributes);
    SetLastError(0);
    HANDLE sensor = open_sensor();
    EXPECT_EQ(sensor, INVALID_HANDLE_VALUE) << row.row;
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND) << row.row;
    if (sensor != INVALID_HANDLE_VALUE) CloseHandle(sensor);
  }
  setenv(platform::IIO_ROOT_VARIABLE, host("no such folder").c_str(), 1);
  EXPECT_EQ(open_sensor(), INVALID_HANDLE_VALUE) << "missing root";
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(AcsDriver, RequestsOnAnOpenSensor) {
  make_device("iio:device0", accel("1", "2", "3"));
  HANDLE sensor = open_sensor();
  ASSERT_NE(sensor, INVALID_HANDLE_VALUE);
  DWORD input = 0, output = 0xABCD, returned = 0;
  EXPECT_TRUE(DeviceIoControl(sensor, platform::ACCELEROMETER_START, &input, 4, &output, 4, &returned, nullptr));
  EXPECT_TRUE(DeviceIoControl(sensor, platform::ACCELEROMETER_STOP, &input, 4, &output, 4, &returned, nullptr));

  Reading reading{};
  EXPECT_FALSE(DeviceIoControl(sensor, platform::ACCELEROMETER_READ, &input, 4, reading.data(), 8, &returned,
                               nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER) << "three values need 12 bytes";
  EXPECT_FALSE(DeviceIoControl(sensor, 1016, &input, 4, reading.data(), 12, &returned, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);

  // Every read asks the device again (stopping does not freeze it).
  make_file("iio/iio:device0/in_accel_x_raw", "-98\n");
  EXPECT_TRUE(DeviceIoControl(sensor, platform::ACCELEROMETER_READ, &input, 4, reading.data(), 12, &returned,
                              nullptr));
  EXPECT_EQ(reading, (Reading{-9993, 204, 306}));

  // A device unplugged after the open fails the read.
  std::filesystem::remove_all(iio_ + "/iio:device0");
  EXPECT_FALSE(DeviceIoControl(sensor, platform::ACCELEROMETER_READ, &input, 4, reading.data(), 12, &returned,
                               nullptr));
  EXPECT_EQ(GetLastError(), ERROR_READ_FAULT);
  EXPECT_EQ(returned, 0u);
  EXPECT_TRUE(CloseHandle(sensor));
}

}  // namespace
