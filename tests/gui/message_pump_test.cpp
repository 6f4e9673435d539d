// The main loop and translate-and-dispatch: the end-of-program message ends exactly the
// program it names, WM_QUIT does not end the loop, and an empty program list does.
#include <gtest/gtest.h>

#include "compiler/driver/program_end.h"
#include "foundation/program_context.h"
#include "gui/message_pump.h"
#include "platform/platform.h"
#include "vm/applications.h"

namespace {

bool loaded(ProgramContext* program) { return program_is_loaded(program); }

class MessagePumpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    application_instance_end = app_instance_end;
    quit_flag = 0;
    // Dispatched, not only taken: a paint message taken without painting comes again.
    MSG drained{};
    while (PeekMessageW(&drained, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&drained);
  }
  void TearDown() override {
    quit_flag = 0;
    application_instance_end = nullptr;
  }
};

TEST_F(MessagePumpTest, WithNoProgramTheLoopEndsAtOnce) {
  ASSERT_EQ(program_list, nullptr);
  run_message_loop();
  EXPECT_EQ(quit_flag, 1);
}

TEST_F(MessagePumpTest, TheEndMessageEndsExactlyItsProgram) {
  ProgramContext* first = create_program_context();
  ProgramContext* second = create_program_context();
  post_end_of_program(nullptr, second);
  PostMessageW(nullptr, kEndProgramMessage, 0, 0x1234);  // names no program: nothing ends
  EXPECT_EQ(pump_one_message(), 1);
  EXPECT_TRUE(loaded(first));
  EXPECT_FALSE(loaded(second));
  EXPECT_EQ(pump_one_message(), 1);
  EXPECT_TRUE(loaded(first));
  EXPECT_EQ(pump_one_message(), 0) << "the queue is empty";
  // A second end message for a program that has gone ends nothing.
  post_end_of_program(nullptr, second);
  EXPECT_EQ(pump_one_message(), 1);
  EXPECT_TRUE(loaded(first));
  post_end_of_program(nullptr, first);
  pump_one_message();
  EXPECT_EQ(program_list, nullptr);
}

TEST_F(MessagePumpTest, QuitDoesNotEndTheLoopTheLastProgramDoes) {
  ProgramContext* only = create_program_context();
  PostQuitMessage(0);
  post_end_of_program(nullptr, only);
  run_message_loop();
  EXPECT_EQ(program_list, nullptr);
  EXPECT_EQ(quit_flag, 1);
}

}  // namespace
