// The "ACS1:" driver: the first industrial-I/O device under the IIO root whose x, y and
// z acceleration channels read is the sensor; each read scales its raw values to milli-g.
//
// Opening fails with ERROR_FILE_NOT_FOUND, as for a missing driver, when no such device
// reads (none there, or every candidate unreadable): callers cannot tell the two apart.
// A device that stops reading after the open fails the read request with ERROR_READ_FAULT.

#include "platform/device/accelerometer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/kernel/device_io.h"

namespace platform {
namespace {

constexpr double STANDARD_GRAVITY = 9.80665;  // m/s^2 per g
constexpr const char* AXES[3] = {"x", "y", "z"};

std::string iio_root() {
  const char* root = std::getenv(IIO_ROOT_VARIABLE);
  return root && *root ? root : "/sys/bus/iio/devices";
}

// The text of a small attribute file without surrounding white space, or nothing when
// it cannot be read. Attributes are short; anything longer than the buffer is refused.
std::optional<std::string> read_attribute(const std::string& path) {
  int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return std::nullopt;
  char buffer[128];
  ssize_t length = read(descriptor, buffer, sizeof buffer);
  close(descriptor);
  if (length <= 0 || length == static_cast<ssize_t>(sizeof buffer)) return std::nullopt;
  std::string text(buffer, static_cast<size_t>(length));
  auto space = [](char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; };
  while (!text.empty() && space(text.back())) text.pop_back();
  size_t start = 0;
  while (start < text.size() && space(text[start])) ++start;
  return text.substr(start);
}

// Parses the whole text as a number of type T (locale-independent).
template <typename T>
std::optional<T> parse_whole(const std::string& text) {
  T value{};
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

// A per-axis attribute ("in_accel_x_scale") over the shared one ("in_accel_scale"),
// else the fallback when neither exists. Nothing when a present file does not parse.
std::optional<double> channel_factor(const std::string& folder, const char* axis, const char* attribute,
                                     double fallback) {
  for (std::string name : {std::string("in_accel_") + axis + "_" + attribute, std::string("in_accel_") + attribute}) {
    std::string path = folder + "/" + name;
    std::error_code error;
    if (!std::filesystem::exists(path, error)) continue;
    auto text = read_attribute(path);
    if (!text) return std::nullopt;
    auto value = parse_whole<double>(*text);
    if (!value || !std::isfinite(*value)) return std::nullopt;
    return value;
  }
  return fallback;
}

// Reads x, y and z of a device in milli-g; nothing when any part cannot be read.
std::optional<std::array<int32_t, 3>> read_acceleration(const std::string& folder) {
  std::array<int32_t, 3> result{};
  for (int axis = 0; axis < 3; ++axis) {
    auto text = read_attribute(folder + "/in_accel_" + AXES[axis] + "_raw");
    if (!text) return std::nullopt;
    auto raw = parse_whole<int64_t>(*text);
    auto scale = channel_factor(folder, AXES[axis], "scale", 1.0);
    auto offset = channel_factor(folder, AXES[axis], "offset", 0.0);
    if (!raw || !scale || !offset) return std::nullopt;
    double metres_per_second_squared = (static_cast<double>(*raw) + *offset) * *scale;
    double milli_g = std::round(metres_per_second_squared / STANDARD_GRAVITY * 1000.0);
    if (!std::isfinite(milli_g)) return std::nullopt;
    result[axis] = static_cast<int32_t>(std::clamp(milli_g, -2147483648.0, 2147483647.0));
  }
  return result;
}

// The device number of an "iio:deviceN" folder name, or -1 for any other entry.
long device_number(const std::string& name) {
  static const std::string prefix = "iio:device";
  if (name.compare(0, prefix.size(), prefix) != 0) return -1;
  auto number = parse_whole<long>(name.substr(prefix.size()));
  return number && *number >= 0 ? *number : -1;
}

// The folder of the first device, by number, whose acceleration channels read.
std::optional<std::string> find_accelerometer() {
  std::vector<std::pair<long, std::string>> devices;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(iio_root(), error)) {
    long number = device_number(entry.path().filename().string());
    if (number >= 0) devices.emplace_back(number, entry.path().string());
  }
  std::sort(devices.begin(), devices.end());
  for (const auto& [number, folder] : devices) {
    if (read_acceleration(folder)) return folder;
  }
  return std::nullopt;
}

class Accelerometer : public StreamDevice {
 public:
  explicit Accelerometer(std::string folder) : folder_(std::move(folder)) {}

  BOOL control(DWORD code, const void* input, DWORD input_size, void* output, DWORD output_size,
               DWORD& returned) override {
    switch (code) {
      case ACCELEROMETER_START:
      case ACCELEROMETER_STOP:
        return TRUE;
      case ACCELEROMETER_READ: {
        std::array<int32_t, 3> values;
        if (output_size < sizeof values) return fail(ERROR_INSUFFICIENT_BUFFER);
        auto reading = read_acceleration(folder_);
        if (!reading) return fail(ERROR_READ_FAULT);
        values = *reading;
        std::memcpy(output, values.data(), sizeof values);
        returned = sizeof values;
        return TRUE;
      }
      default:
        return fail(ERROR_INVALID_FUNCTION);
    }
  }

 private:
  static BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
  }

  std::string folder_;
};

std::shared_ptr<StreamDevice> open_accelerometer(DWORD access, DWORD share) {
  auto folder = find_accelerometer();
  if (!folder) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  return std::make_shared<Accelerometer>(std::move(*folder));
}

// The driver is part of the device from the moment the platform loads.
[[maybe_unused]] const bool registered = (register_stream_driver(u"ACS1:", open_accelerometer), true);

}  // namespace
}  // namespace platform
