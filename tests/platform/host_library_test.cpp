// Host libraries opened on first use: a bound function is the library's own, and a missing
// library or function is refused with a message that names it.
#include <gtest/gtest.h>

#include <string>

#include "platform/backend/host_library.h"

namespace {

const std::string kProbe = std::string(ZRK_TEST_BINARY_DIR) + "/libmodule_probe.so";

TEST(HostLibrary, ABoundFunctionIsTheLibrarysOwn) {
  std::string error;
  void* library = platform::open_host_library(kProbe.c_str(), error);
  ASSERT_NE(library, nullptr) << error;
  int (*add)(int, int) = nullptr;
  ASSERT_TRUE(platform::bind_host_function(library, kProbe.c_str(), "module_probe_add", add, error)) << error;
  EXPECT_EQ(add(40, 2), 42);
  EXPECT_EQ(error, "");
}

TEST(HostLibrary, WhatIsMissingIsNamed) {
  struct Case {
    std::string file;
    const char* function;
    std::string message;
  };
  const Case cases[] = {
      {"libzrk-absent.so.9", "anything", "cannot load libzrk-absent.so.9"},
      {kProbe, "module_probe_absent", kProbe + " lacks module_probe_absent"},
  };
  for (const Case& test : cases) {
    std::string error;
    void* library = platform::open_host_library(test.file.c_str(), error);
    void (*function)() = reinterpret_cast<void (*)()>(1);
    bool bound = platform::bind_host_function(library, test.file.c_str(), test.function, function, error);
    EXPECT_FALSE(bound) << test.file;
    EXPECT_EQ(function, nullptr) << test.file;
    EXPECT_EQ(error, test.message) << test.file;
  }
}

}  // namespace
