// A fresh device root for each test: ZRK_ROOT points at a new temporary folder that
// is removed afterwards, and a test must leave no kernel handle open.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "platform/kernel/handles.h"

class TemporaryRoot : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "zrk-root-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    if (const char* previous = std::getenv("ZRK_ROOT")) previous_root_ = previous;
    setenv("ZRK_ROOT", root_.c_str(), 1);
    // No accelerometer either, whatever the host has: "ACS1:" is a missing driver.
    if (const char* previous = std::getenv("ZRK_IIO_ROOT")) previous_iio_root_ = previous;
    setenv("ZRK_IIO_ROOT", (root_ + "/no-iio").c_str(), 1);
    handles_ = platform::handle_count();
  }

  void TearDown() override {
    EXPECT_EQ(platform::handle_count(), handles_) << "the test left a handle open";
    if (previous_iio_root_) {
      setenv("ZRK_IIO_ROOT", previous_iio_root_->c_str(), 1);
    } else {
      unsetenv("ZRK_IIO_ROOT");
    }
    if (previous_root_) {
      setenv("ZRK_ROOT", previous_root_->c_str(), 1);
    } else {
      unsetenv("ZRK_ROOT");
    }
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  // The host path of a name under the root ("Program Files/Game/Data.TXT").
  std::string host(const std::string& relative) const { return root_ + "/" + relative; }

  // Creates a host file under the root, with its folders, holding content.
  void make_file(const std::string& relative, const std::string& content = "") const {
    std::filesystem::create_directories(std::filesystem::path(host(relative)).parent_path());
    std::ofstream(host(relative), std::ios::binary) << content;
  }

  // The whole content of a host file under the root.
  std::string file_content(const std::string& relative) const {
    std::ifstream in(host(relative), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  bool exists(const std::string& relative) const { return std::filesystem::exists(host(relative)); }

  // Takes write permission away, as the device's read-only attribute.
  void make_read_only(const std::string& relative) const {
    using std::filesystem::perms;
    std::filesystem::permissions(host(relative), perms::owner_write | perms::group_write | perms::others_write,
                                 std::filesystem::perm_options::remove);
  }

  std::string root_;

 private:
  std::optional<std::string> previous_root_;
  std::optional<std::string> previous_iio_root_;
  size_t handles_ = 0;
};
