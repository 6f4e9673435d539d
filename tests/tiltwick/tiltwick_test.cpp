// Tiltwick.dll loaded as a script loads it: each export opens "ACS1:" once, sends one
// request and closes it; the reading fills the record; without a driver the fixed results.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/device/accelerometer.h"
#include "platform/kernel/device_io.h"
#include "platform/kernel/modules.h"
#include "platform/kernel/utf.h"
#include "tiltwick/tiltwick.h"

namespace {

using NoArgumentFunction = int32_t (*)();
using ReadFunction = int32_t (*)(int32_t, SensorData*);

// One control request as the driver saw it.
struct Request {
  DWORD code;
  DWORD input_size;
  DWORD input_value;
  DWORD output_size;
  bool operator==(const Request&) const = default;
};

struct Journal {
  int opens = 0;
  int closes = 0;
  std::vector<Request> requests;
  std::array<int32_t, 3> values{};
  bool fail_reads = false;
};

// Stands in for the accelerometer and writes down everything it is asked.
class RecordingSensor : public platform::StreamDevice {
 public:
  explicit RecordingSensor(Journal* journal) : journal_(journal) { ++journal_->opens; }
  ~RecordingSensor() override { ++journal_->closes; }
  BOOL control(DWORD code, const void* input, DWORD input_size, void* output, DWORD output_size,
               DWORD& returned) override {
    DWORD value = 0xFFFFFFFF;
    if (input && input_size >= 4) std::memcpy(&value, input, 4);
    journal_->requests.push_back({code, input_size, value, output_size});
    if (code == platform::ACCELEROMETER_READ) {
      if (journal_->fail_reads) {
        std::memset(output, 0x5A, output_size);  // a failing driver may leave anything
        SetLastError(ERROR_READ_FAULT);
        return FALSE;
      }
      std::memcpy(output, journal_->values.data(), 12);
      returned = 12;
    }
    return TRUE;
  }

 private:
  Journal* journal_;
};

class Tiltwick : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    library_ = LoadLibraryW(platform::utf16_from_utf8(ZRK_TILTWICK_PATH).c_str());
    ASSERT_NE(library_, nullptr) << platform::module_load_error();
    open_ = reinterpret_cast<NoArgumentFunction>(GetProcAddress(library_, "QyvSensorOpen"));
    close_ = reinterpret_cast<NoArgumentFunction>(GetProcAddress(library_, "QyvSensorClose"));
    read_ = reinterpret_cast<ReadFunction>(GetProcAddress(library_, "QyvSensorGetDataOutput"));
  }
  static void TearDownTestSuite() { FreeLibrary(library_); }

  void SetUp() override {
    ASSERT_TRUE(open_ && close_ && read_) << "the three exports under their own names";
    handles_ = platform::handle_count();
    real_driver_ = platform::register_stream_driver(
        u"ACS1:", [this](DWORD, DWORD) { return std::make_shared<RecordingSensor>(&journal_); });
  }
  void TearDown() override {
    platform::register_stream_driver(u"ACS1:", real_driver_);
    EXPECT_EQ(platform::handle_count(), handles_) << "a handle was left open";
  }

  static SensorData prefilled() {
    SensorData data;
    std::memset(&data, 0xAA, sizeof data);
    return data;
  }

  static HMODULE library_;
  static NoArgumentFunction open_;
  static NoArgumentFunction close_;
  static ReadFunction read_;
  Journal journal_;
  platform::StreamDriverFactory real_driver_;
  size_t handles_ = 0;
};

HMODULE Tiltwick::library_ = nullptr;
NoArgumentFunction Tiltwick::open_ = nullptr;
NoArgumentFunction Tiltwick::close_ = nullptr;
ReadFunction Tiltwick::read_ = nullptr;

TEST_F(Tiltwick, EachExportOpensRequestsOnceAndCloses) {
  SensorData data{};
  struct Case {
    const char* row;
    std::function<int32_t()> call;
    Request request;
    int32_t result;
  };
  const Case cases[] = {
      {"QyvSensorOpen", [] { return open_(); }, {1102, 4, 0, 4}, 1},
      {"QyvSensorClose", [] { return close_(); }, {1103, 4, 0, 4}, TRUE},
      {"QyvSensorGetDataOutput", [&] { return read_(12345, &data); }, {1015, 4, 0, 12}, 1},
  };
  for (const Case& row : cases) {
    journal_ = Journal{};
    EXPECT_EQ(row.call(), row.result) << row.row;
    EXPECT_EQ(journal_.opens, 1) << row.row;
    EXPECT_EQ(journal_.requests, std::vector<Request>{row.request}) << row.row;
    EXPECT_EQ(journal_.closes, 1) << row.row;
  }
}

TEST_F(Tiltwick, TheReadingFillsTheRecord) {
  journal_.values = {0x00012345, -2, 300};
  SensorData data = prefilled();
  EXPECT_EQ(read_(0, &data), 1);
  EXPECT_EQ(data.x, 0x2345);
  EXPECT_EQ(data.y, -2);
  EXPECT_EQ(data.z, 300);
  const auto* bytes = reinterpret_cast<const uint8_t*>(&data);
  for (size_t at = 6; at < sizeof data; ++at) EXPECT_EQ(bytes[at], 0) << "byte " << at;
  // The low 16 bits as raw little-endian bytes, apart from the field types.
  const uint8_t expected_front[6] = {0x45, 0x23, 0xFE, 0xFF, 0x2C, 0x01};
  EXPECT_EQ(std::memcmp(bytes, expected_front, 6), 0);
}

TEST_F(Tiltwick, WithoutADriverTheResultsAreFixed) {
  platform::register_stream_driver(u"ACS1:", nullptr);
  SensorData data = prefilled();
  const SensorData before = data;
  EXPECT_EQ(open_(), 1);
  EXPECT_EQ(close_(), -1);
  EXPECT_EQ(read_(0, &data), 1);
  EXPECT_EQ(std::memcmp(&data, &before, sizeof data), 0) << "the caller's record is untouched";
  EXPECT_EQ(journal_.opens, 0);
}

// Sound behaviour where the driver fails: the record reads zero rather than whatever the
// driver left in the buffer, and a null record is skipped rather than written through.
TEST_F(Tiltwick, AFailedReadGivesZerosAndANullRecordIsSkipped) {
  journal_.fail_reads = true;
  SensorData data = prefilled();
  EXPECT_EQ(read_(0, &data), 1);
  const SensorData zero{};
  EXPECT_EQ(std::memcmp(&data, &zero, sizeof data), 0);

  journal_ = Journal{};
  journal_.values = {1, 2, 3};
  EXPECT_EQ(read_(0, nullptr), 1);
  EXPECT_EQ(journal_.closes, 1);
}

// The library and the platform share one driver registry: with the platform's own driver
// back in place, a simulated industrial-I/O device reaches the script's record.
TEST_F(Tiltwick, ThePlatformDriverReadsASimulatedDevice) {
  platform::register_stream_driver(u"ACS1:", real_driver_);
  namespace fs = std::filesystem;
  fs::path root = fs::temp_directory_path() / ("zrk-tiltwick-" + std::to_string(getpid()));
  fs::create_directories(root / "iio:device0");
  const char* previous = getenv(platform::IIO_ROOT_VARIABLE);
  std::optional<std::string> saved = previous ? std::optional<std::string>(previous) : std::nullopt;
  setenv(platform::IIO_ROOT_VARIABLE, root.c_str(), 1);

  SensorData data = prefilled();
  EXPECT_EQ(close_(), -1) << "no device yet: a missing driver";
  EXPECT_EQ(read_(0, &data), 1);
  EXPECT_EQ(static_cast<uint16_t>(data.x), 0xAAAA) << "untouched";

  const char* raw[3] = {"-1000", "0", "500"};  // in 0.0980665 m/s^2 steps: -10 g, 0, 5 g
  const char* axes[3] = {"x", "y", "z"};
  for (int axis = 0; axis < 3; ++axis) {
    std::ofstream(root / "iio:device0" / (std::string("in_accel_") + axes[axis] + "_raw")) << raw[axis] << "\n";
  }
  std::ofstream(root / "iio:device0" / "in_accel_scale") << "0.0980665\n";
  EXPECT_EQ(open_(), 1);
  EXPECT_EQ(read_(0, &data), 1);
  EXPECT_EQ(data.x, -10000);
  EXPECT_EQ(data.y, 0);
  EXPECT_EQ(data.z, 5000);
  EXPECT_EQ(close_(), TRUE);

  if (saved) setenv(platform::IIO_ROOT_VARIABLE, saved->c_str(), 1);
  else unsetenv(platform::IIO_ROOT_VARIABLE);
  fs::remove_all(root);
}

}  // namespace
