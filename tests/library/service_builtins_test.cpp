// Compression round trips through script-sized blocks, pool allocation sizes, the quiet
// switch and text on the clipboard: what each built-in takes and what it gives back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "builtin_fixture.h"
#include "compiler/driver/compile_and_run.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "library/core/service_builtins.h"
#include "platform/platform.h"

namespace {

class ServiceBuiltins : public BuiltinTest {
 protected:
  ServiceBuiltins() : BuiltinTest(register_service_builtins) {}

  void TearDown() override {
    for (void* block : blocks_) crt::free(block);
    BuiltinTest::TearDown();
  }

  // A heap block as malloc gives scripts one: its size is known to the runtime.
  uint8_t* block(size_t size) {
    auto* bytes = static_cast<uint8_t*>(crt::calloc(size ? size : 1, 1));
    blocks_.push_back(bytes);
    return bytes;
  }
  void push_address(const void* pointer) { push(platform::address_of(pointer)); }

  // compress(method, source, destination, size): the result.
  double compress(double method, const void* source, const void* destination, double size) {
    push(method);
    push_address(source);
    push_address(destination);
    push(size);
    call("compress");
    return pop_number();
  }
  void uncompress(double method, const void* source, const void* destination, double size) {
    push(method);
    push_address(source);
    push_address(destination);
    push(size);
    call("uncompress");
  }

 private:
  std::vector<void*> blocks_;
};

std::vector<uint8_t> sample_bytes() {
  std::vector<uint8_t> bytes;
  const std::string text = "the quick brown fox jumps over the lazy dog; ";
  for (int repeat = 0; repeat < 20; ++repeat) bytes.insert(bytes.end(), text.begin(), text.end());
  bytes.insert(bytes.end(), 200, 0);  // a long run
  for (int value = 0; value < 256; ++value) bytes.push_back(static_cast<uint8_t>(value));  // every byte value
  return bytes;
}

TEST_F(ServiceBuiltins, EveryMethodRoundTripsIntoABlockOfTheOriginalSize) {
  const std::vector<uint8_t> input = sample_bytes();
  for (int method : {0, 1, 2}) {
    uint8_t* source = block(input.size());
    std::memcpy(source, input.data(), input.size());
    uint8_t* packed = block(input.size() * 2 + 1024);
    double length = compress(method, source, packed, static_cast<double>(input.size()));
    ASSERT_GT(length, 0) << "method " << method;
    EXPECT_LT(length, static_cast<double>(input.size())) << "method " << method << " shrinks repetitive data";

    uint8_t* restored = block(input.size());
    unsigned errors = runtime_error_count();
    uncompress(method, packed, restored, length);
    EXPECT_EQ(runtime_error_count(), errors) << "method " << method;
    EXPECT_EQ(std::memcmp(restored, input.data(), input.size()), 0) << "method " << method;
    EXPECT_EQ(context->stack_top, nullptr) << "uncompress pushes nothing";
  }
}

TEST_F(ServiceBuiltins, CompressRefusesWhatItCannotDo) {
  const std::vector<uint8_t> input = sample_bytes();
  uint8_t* source = block(input.size());
  std::memcpy(source, input.data(), input.size());
  struct Case {
    const char* what;
    double method;
    size_t destination_size;
    double size;
  };
  const Case cases[] = {
      {"unknown method", 3, 4096, 100},
      {"negative method", -1, 4096, 100},
      {"destination block too small", 1, 8, static_cast<double>(input.size())},
      {"negative size", 0, 4096, -5},
      {"size beyond the source block", 0, 8192, static_cast<double>(input.size() + 1)},
  };
  for (const Case& row : cases) {
    uint8_t* destination = block(row.destination_size);
    EXPECT_EQ(compress(row.method, source, destination, row.size), -1) << row.what;
    EXPECT_EQ(context->stack_top, nullptr) << row.what;
  }
}

TEST_F(ServiceBuiltins, UncompressReportsDamagedDataAndLeavesOtherMethodsAlone) {
  const uint8_t input[] = "aaaaaaaaaaaaaaaaaaaaaaaabbbbbbbbbbbbbbbbbbbbbbbbbbbbcccccccccccccccccc";
  uint8_t* source = block(sizeof input);
  std::memcpy(source, input, sizeof input);
  uint8_t* packed = block(512);
  double length = compress(2, source, packed, sizeof input);
  ASSERT_GT(length, 0);

  uint8_t* small = block(sizeof input / 2);
  unsigned errors = runtime_error_count();
  uncompress(2, packed, small, length);
  EXPECT_EQ(runtime_error_count(), errors + 1) << "a destination too small is no success";

  uint8_t* restored = block(sizeof input);
  errors = runtime_error_count();
  uncompress(7, packed, restored, length);
  EXPECT_EQ(runtime_error_count(), errors) << "an unknown method does nothing";
  EXPECT_EQ(restored[0], 0);

  uint8_t on_stack[16] = {};
  uncompress(0, packed, on_stack, length);
  EXPECT_EQ(runtime_error_count(), errors + 1) << "a destination of unknown size has no bound to decode into";
  EXPECT_EQ(context->stack_top, nullptr);
}

TEST_F(ServiceBuiltins, PoolsHandOutRoundedPiecesOfTheirBlocks) {
  push(64);
  call("mmcreate");
  auto pool = static_cast<uint32_t>(pop_number());
  ASSERT_NE(pool, 0u);

  auto allocate = [&](double size) {
    push(pool);
    push(size);
    call("mmalloc");
    return static_cast<uint32_t>(pop_number());
  };
  uint32_t first = allocate(5);
  uint32_t second = allocate(4);
  ASSERT_NE(first, 0u);
  EXPECT_EQ(second - first, 8u) << "5 bytes take 8 of the block";
  EXPECT_EQ(allocate(65), 0u) << "larger than the block size";
  EXPECT_EQ(allocate(-1), 0u) << "a negative size is no size";

  // Freeing both pieces of the block gives its memory back.
  auto* record = platform::pointer_from<Pool>(pool);
  ASSERT_NE(record->current, nullptr);
  for (uint32_t piece : {first, second}) {
    push(pool);
    push(piece);
    call("mmfree");
  }
  EXPECT_EQ(record->current->data, nullptr);
  EXPECT_NE(allocate(60), 0u) << "a new block after the freed one";

  push(0);
  push(8);
  call("mmalloc");
  EXPECT_EQ(pop_number(), 0) << "no pool";
  push(0);
  push(first);
  call("mmfree");

  push(pool);
  call("mmdestroy");
  EXPECT_EQ(context->stack_top, nullptr);
}

TEST_F(ServiceBuiltins, QuietModeSetsTheSwitch) {
  uint32_t before = run_switches.quiet_mode;
  for (double value : {1.0, 0.0, 7.9}) {
    push(value);
    call("QuietMode");
    EXPECT_EQ(run_switches.quiet_mode, static_cast<uint32_t>(value));
  }
  run_switches.quiet_mode = before;
  EXPECT_EQ(context->stack_top, nullptr);
}

TEST_F(ServiceBuiltins, SetclipPutsShortestTextThatGetclipGivesBack) {
  struct Case {
    const char* what;
    const char* text;
    const char16_t* wide;
    double number;
    const char* expected;
  };
  const Case cases[] = {
      {"text", "hello clipboard", nullptr, 0, "hello clipboard"},
      {"fraction", nullptr, nullptr, 3.5, "3.5"},
      {"whole number", nullptr, nullptr, 2, "2"},
      {"negative", nullptr, nullptr, -0.25, "-0.25"},
      {"UTF-16 text as 8-bit", nullptr, u"caf\u00e9", 0, "caf\xe9"},
      {"empty text", "", nullptr, 0, ""},
  };
  for (const Case& row : cases) {
    if (row.text) {
      push_text(row.text);
    } else if (row.wide) {
      push_wide_text(row.wide);
    } else {
      push(row.number);
    }
    call("setclip");
    EXPECT_EQ(context->stack_top, nullptr) << row.what;
    call("getclip");
    EXPECT_EQ(pop_text(), row.expected) << row.what;
  }
}

TEST_F(ServiceBuiltins, GetclipKeepsItsTextWhenTheClipboardChanges) {
  push_text("first");
  call("setclip");
  call("getclip");
  ValueCell* read = stack_pop(context);
  const char* first = static_cast<const char*>(read->text);
  push_text("second");
  call("setclip");
  EXPECT_STREQ(first, "first") << "the read text is the program's own copy";
}

TEST_F(ServiceBuiltins, GetclipOfAnEmptyClipboardGivesNoText) {
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  CloseClipboard();
  call("getclip");
  ValueCell* cell = stack_pop(context);
  EXPECT_EQ(cell->text, nullptr);
  EXPECT_EQ(cell->number, 0);
}

}  // namespace
