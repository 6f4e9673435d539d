// Fault texts: every code's text, the two message forms, and where each is delivered.
#include <gtest/gtest.h>

#include <string>

#include "foundation/compile_messages.h"
#include "foundation/runtime_error.h"
#include "machine_fixture.h"
#include "platform/kernel/memory.h"
#include "vm/fault_text.h"

namespace {

using FaultText = MachineTest;

EXCEPTION_RECORD record_at(DWORD code, uint32_t address) {
  EXCEPTION_RECORD record{};
  record.ExceptionCode = code;
  record.ExceptionAddress = platform::pointer_from<void>(address);
  return record;
}

TEST_F(FaultText, EveryCodeHasItsText) {
  struct Case {
    DWORD code;
    const char* text;
  };
  const Case cases[] = {
      {0x80000002u, "Address misaligned"},
      {0x80000003u, "Breakpoint"},
      {0x80000004u, "Single step"},
      {0xC0000005u, "Access violation"},
      {0xC000001Du, "Illegal instruction"},
      {0xC0000094u, "Integer divide by 0"},
      {0xC0000095u, "Integer overflow"},
      {0xC0000096u, "Priviledged instruction"},
      {0xC000008Eu, "Floating point, or software exception"},
      {0xE06D7363u, "Floating point, or software exception"},
      {0u, "Floating point, or software exception"},
  };
  for (const Case& row : cases) {
    EXCEPTION_RECORD record = record_at(row.code, 0xBEEF0);
    EXCEPTION_POINTERS pointers{&record, nullptr};
    char* text = nullptr;
    EXPECT_EQ(exception_text(&text, row.code, &pointers), 1);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), std::string(row.text) + " at 0xbeef0") << std::hex << row.code;
    crt::free(text);
  }
}

TEST_F(FaultText, DeliveredToTheReporterOrToErrorVariable) {
  struct Case {
    const char* name;
    const char* procedure;
    int32_t open_tries;
    int32_t run_mode;
    bool exiting;
    const char* reported;  // null: not reported
    const char* kept;      // ERROR% text, null: unchanged
  };
  const Case cases[] = {
      {"with procedure", "DRAW", 0, 0, false, "(DRAW)\nAccess violation at 0x400", nullptr},
      {"without procedure", nullptr, 0, 0, false, "Access violation at 0x400", nullptr},
      {"inside TRY", "DRAW", 1, 0, false, nullptr, "Access violation at 0x400"},
      {"kept program", "DRAW", 0, -3, false, nullptr, "Access violation at 0x400"},
      {"while EXIT ends it", "DRAW", 0, 0, true, nullptr, nullptr},
  };
  for (const Case& row : cases) {
    EXCEPTION_RECORD record = record_at(EXCEPTION_ACCESS_VIOLATION, 0x400);
    EXCEPTION_POINTERS pointers{&record, nullptr};
    // A text that no row produces, to see whether ERROR% was written.
    EXCEPTION_RECORD marker = record_at(0x1234, 1);
    EXCEPTION_POINTERS marker_pointers{&marker, nullptr};
    try_depth = 1;
    exception_message_with_context(context, nullptr, 0x1234, &marker_pointers);
    try_depth = row.open_tries;
    context->run_mode = row.run_mode;
    exiting_program = row.exiting ? context : nullptr;

    unsigned errors = runtime_error_count();
    EXPECT_EQ(exception_message_with_context(context, row.procedure, EXCEPTION_ACCESS_VIOLATION, &pointers), 1)
        << row.name;
    EXPECT_EQ(runtime_error_count(), errors + (row.reported ? 1 : 0)) << row.name;
    if (row.reported) {
      EXPECT_STREQ(runtime_error_last_text(), row.reported) << row.name;
    }
    EXPECT_STREQ(last_fault_text(), row.kept ? row.kept : "Floating point, or software exception at 0x1")
        << row.name;
  }
  try_depth = 0;
  context->run_mode = 0;
}

TEST_F(FaultText, ErrorVariableTextGoesToItsOwner) {
  static std::string received;
  static uint32_t received_size;
  auto saved = set_error_variable_text;
  set_error_variable_text = [](const char* text, uint32_t size) {
    received = text;
    received_size = size;
  };
  EXCEPTION_RECORD record = record_at(EXCEPTION_INT_DIVIDE_BY_ZERO, 0x10);
  EXCEPTION_POINTERS pointers{&record, nullptr};
  try_depth = 1;
  exception_message_with_context(context, "P", record.ExceptionCode, &pointers);
  set_error_variable_text = saved;
  EXPECT_EQ(received, "Integer divide by 0 at 0x10");
  EXPECT_EQ(received_size, received.size() + 1);
}

}  // namespace
