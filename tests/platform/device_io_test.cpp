// Stream drivers: registered names open through CreateFileW, DeviceIoControl reaches
// the driver's instance, CloseHandle ends it, and bad calls fail with clear errors.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/kernel/device_io.h"
#include "temporary_root.h"

namespace {

// What a recording driver saw, shared by all its instances.
struct Journal {
  int opens = 0;
  int closes = 0;
  std::vector<DWORD> codes;
  DWORD last_access = 0;
};

// Echoes its input to its output and says it returned `claimed` bytes.
class Echo : public platform::StreamDevice {
 public:
  Echo(Journal* journal, DWORD claimed) : journal_(journal), claimed_(claimed) {}
  ~Echo() override { ++journal_->closes; }
  BOOL control(DWORD code, const void* input, DWORD input_size, void* output, DWORD output_size,
               DWORD& returned) override {
    journal_->codes.push_back(code);
    if (code == 99) {
      SetLastError(ERROR_NOT_SUPPORTED);
      return FALSE;
    }
    if (output && input) std::memcpy(output, input, std::min(input_size, output_size));
    returned = claimed_;
    return TRUE;
  }

 private:
  Journal* journal_;
  DWORD claimed_;
};

class DeviceIo : public TemporaryRoot {
 protected:
  void SetUp() override {
    TemporaryRoot::SetUp();
    platform::use_registered_stream_drivers();
    register_echo(u"TST1:", 4);
  }
  void TearDown() override {
    platform::register_stream_driver(u"TST1:", nullptr);
    TemporaryRoot::TearDown();
  }

  void register_echo(std::u16string_view name, DWORD claimed) {
    platform::register_stream_driver(name, [this, claimed](DWORD access, DWORD share) {
      ++journal_.opens;
      journal_.last_access = access;
      return std::make_shared<Echo>(&journal_, claimed);
    });
  }

  static HANDLE open(const char16_t* name, DWORD access = 0) {
    return CreateFileW(name, access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  }

  Journal journal_;
};

TEST_F(DeviceIo, ARegisteredDriverAnswersThroughItsHandle) {
  HANDLE device = open(u"tst1:", GENERIC_READ);  // names match without regard to case
  ASSERT_NE(device, INVALID_HANDLE_VALUE);
  EXPECT_EQ(journal_.opens, 1);
  EXPECT_EQ(journal_.last_access, GENERIC_READ);
  DWORD input = 0x11223344, output = 0, returned = 77;
  EXPECT_TRUE(DeviceIoControl(device, 1234, &input, 4, &output, 4, &returned, nullptr));
  EXPECT_EQ(output, 0x11223344u);
  EXPECT_EQ(returned, 4u);
  EXPECT_TRUE(DeviceIoControl(device, 1235, &input, 4, &output, 4, nullptr, nullptr)) << "no count wanted";
  EXPECT_EQ(journal_.codes, (std::vector<DWORD>{1234, 1235}));
  EXPECT_EQ(journal_.closes, 0);
  EXPECT_TRUE(CloseHandle(device));
  EXPECT_EQ(journal_.closes, 1);
  EXPECT_FALSE(DeviceIoControl(device, 1234, &input, 4, &output, 4, &returned, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(DeviceIo, EachOpenGetsItsOwnInstance) {
  HANDLE first = open(u"TST1:");
  HANDLE second = open(u"TST1:");
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  ASSERT_NE(second, INVALID_HANDLE_VALUE);
  EXPECT_NE(first, second);
  EXPECT_EQ(journal_.opens, 2);
  CloseHandle(first);
  EXPECT_EQ(journal_.closes, 1);
  CloseHandle(second);
  EXPECT_EQ(journal_.closes, 2);
}

TEST_F(DeviceIo, MissingAndRefusingDriversFailToOpen) {
  SetLastError(0);
  EXPECT_EQ(open(u"ZZZ9:"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  platform::register_stream_driver(u"BAD1:", [](DWORD, DWORD) {
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return std::shared_ptr<platform::StreamDevice>();
  });
  EXPECT_EQ(open(u"BAD1:"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED) << "the driver's own reason";
  platform::register_stream_driver(u"BAD1:", nullptr);
  EXPECT_EQ(open(u"BAD1:"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND) << "a removed driver is missing";
}

TEST_F(DeviceIo, RegisteringAgainReplacesAndGivesBackThePrevious) {
  HANDLE old_instance = open(u"TST1:");
  ASSERT_NE(old_instance, INVALID_HANDLE_VALUE);
  auto previous = platform::register_stream_driver(u"Tst1:", [](DWORD, DWORD) {
    SetLastError(ERROR_GEN_FAILURE);
    return std::shared_ptr<platform::StreamDevice>();
  });
  ASSERT_TRUE(previous) << "the echo factory comes back";
  EXPECT_EQ(open(u"TST1:"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
  DWORD input = 5, output = 0;
  EXPECT_TRUE(DeviceIoControl(old_instance, 1, &input, 4, &output, 4, nullptr, nullptr)) << "open handles stay";
  EXPECT_EQ(output, 5u);
  CloseHandle(old_instance);
  platform::register_stream_driver(u"TST1:", previous);
  HANDLE again = open(u"TST1:");
  EXPECT_NE(again, INVALID_HANDLE_VALUE);
  CloseHandle(again);
}

TEST_F(DeviceIo, BadRequestsFailWithoutReachingTheDriver) {
  make_file("plain.txt", "text");
  HANDLE file = CreateFileW(u"\\plain.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  HANDLE device = open(u"TST1:");
  ASSERT_NE(device, INVALID_HANDLE_VALUE);
  DWORD input = 1, output = 0;
  alignas(8) char overlapped[32] = {};
  struct Case {
    const char* row;
    HANDLE handle;
    void* input;
    DWORD input_size;
    void* output;
    DWORD output_size;
    LPOVERLAPPED overlapped;
    DWORD error;
  };
  const Case cases[] = {
      {"null handle", nullptr, &input, 4, &output, 4, nullptr, ERROR_INVALID_HANDLE},
      {"invalid handle value", INVALID_HANDLE_VALUE, &input, 4, &output, 4, nullptr, ERROR_INVALID_HANDLE},
      {"a file is no device", file, &input, 4, &output, 4, nullptr, ERROR_INVALID_FUNCTION},
      {"missing input", device, nullptr, 4, &output, 4, nullptr, ERROR_INVALID_PARAMETER},
      {"missing output", device, &input, 4, nullptr, 4, nullptr, ERROR_INVALID_PARAMETER},
      {"overlapped", device, &input, 4, &output, 4, reinterpret_cast<LPOVERLAPPED>(overlapped),
       ERROR_INVALID_PARAMETER},
  };
  for (const Case& row : cases) {
    DWORD returned = 99;
    SetLastError(0);
    EXPECT_FALSE(DeviceIoControl(row.handle, 7, row.input, row.input_size, row.output, row.output_size, &returned,
                                 row.overlapped))
        << row.row;
    EXPECT_EQ(GetLastError(), row.error) << row.row;
    EXPECT_EQ(returned, 0u) << row.row;
  }
  EXPECT_TRUE(journal_.codes.empty()) << "the driver saw none of them";

  DWORD returned = 99;
  EXPECT_FALSE(DeviceIoControl(device, 99, &input, 4, &output, 4, &returned, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED) << "the driver's own failure";
  EXPECT_EQ(returned, 0u);
  EXPECT_TRUE(DeviceIoControl(device, 8, nullptr, 0, nullptr, 0, &returned, nullptr)) << "no buffers at all";
  CloseHandle(device);
  CloseHandle(file);
}

TEST_F(DeviceIo, ACountBeyondTheOutputIsCut) {
  register_echo(u"TST1:", 1000);
  HANDLE device = open(u"TST1:");
  ASSERT_NE(device, INVALID_HANDLE_VALUE);
  DWORD input = 3, output = 0, returned = 0;
  EXPECT_TRUE(DeviceIoControl(device, 1, &input, 4, &output, 4, &returned, nullptr));
  EXPECT_EQ(returned, 4u);
  CloseHandle(device);
}

}  // namespace
