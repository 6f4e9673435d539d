// The runtime's main routine end to end: the exit status of a run, a missing program
// reported, the start scripts' folder, and the end-of-run values and reports.
#include <gtest/gtest.h>
#include <link.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "compiler/asm/assembler.h"
#include "compiler/codegen/code_generator.h"
#include "compiler/driver/compile_and_run.h"
#include "compiler/frontend/statement_compiler.h"
#include "foundation/file_helpers.h"
#include "foundation/machine_state.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "platform/platform.h"
#include "vm/builtin_registry.h"
#include "vm/debugger_values.h"
#include "app/startup.h"

namespace {

// What the message loop does in a case; the driver cannot run scripts here, so the loop
// stands for the run.
void (*loop_action)() = nullptr;

class RuntimeMainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "zrk-main-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    std::filesystem::create_directories(folder_ + "/root");
    setenv("ZRK_ROOT", (folder_ + "/root").c_str(), 1);
    setenv("ZRK_PROGRAM", (folder_ + "/zrk").c_str(), 1);
    setenv("ZRK_MSGBOX_LOG", (folder_ + "/boxes.log").c_str(), 1);
    setenv("ZRK_CLOCK", "virtual", 1);
    startup_services = {};
    startup_services.run_message_loop = [] {
      if (loop_action) loop_action();
    };
    loop_action = nullptr;
  }
  void TearDown() override {
    startup_services = {};
    for (const char* name : {"ZRK_ROOT", "ZRK_PROGRAM", "ZRK_MSGBOX_LOG"}) unsetenv(name);
    run_switches = RunSwitches{};
    run_switches.error_display = run_switches.status_window = 1;
    run_switches.link_level = 1;
    profile_mode = memory_tracking = debug_mode = debugger_enabled = 0;
    assembler_profiler_mode = assembler_debugger_mode = 0;
    try_depth = 0;
    std::filesystem::remove_all(folder_);
  }

  int run(const char16_t* command_line) { return runtime_main(nullptr, nullptr, command_line, 1); }

  std::string content(const std::string& name) const {
    std::ifstream in(folder_ + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool exists(const std::string& name) const { return std::filesystem::exists(folder_ + "/" + name); }
  void make_file(const std::string& name, const std::string& text) const {
    std::ofstream(folder_ + "/" + name, std::ios::binary) << text;
  }

  std::string folder_;
};

TEST_F(RuntimeMainTest, MissingProgramIsReportedAndFails) {
  EXPECT_EQ(run(u"no-such-program.zrk|ND"), kExitProgramMissing);
  std::string boxes = content("boxes.log");
  EXPECT_NE(boxes.find("ZRK\tCannot find the program file no-such-program.zrk"), std::string::npos) << boxes;
  EXPECT_NE(content("debuglog.txt").find("Cannot find the program file no-such-program.zrk"), std::string::npos);
}

TEST_F(RuntimeMainTest, ExitStatusFollowsUnhandledErrors) {
  struct Case {
    const char* name;
    void (*action)();
    int status;
  };
  const Case cases[] = {
      {"nothing goes wrong", [] {}, kExitSuccess},
      {"an error outside TRY", [] { runtime_error("boom"); }, kExitRunFailed},
      {"an error handled by TRY",
       [] {
         try_depth = 1;
         runtime_error("caught");
         try_depth = 0;
       },
       kExitSuccess},
      {"a warning", [] { runtime_error("only a warning", true); }, kExitSuccess},
  };
  for (const Case& row : cases) {
    loop_action = row.action;
    EXPECT_EQ(run(u""), row.status) << row.name;
  }
}

TEST_F(RuntimeMainTest, ProgramFileIsFoundInItsZrkForm) {
  // The driver's compile is not the subject here: only that the name resolves and no
  // "missing program" is reported for it.
  make_file("present.zrk", "proc main\nend;\n");
  std::string line = folder_ + "/present|ND";
  std::u16string wide(line.begin(), line.end());
  EXPECT_EQ(run(wide.c_str()), kExitSuccess);
  EXPECT_EQ(content("boxes.log").find("Cannot find"), std::string::npos);
}

TEST_F(RuntimeMainTest, EndOfRunLeavesNoDebuggerValuesAndNoRegistry) {
  debugger_set_value("RUNNING", "1");
  debugger_set_value("RUNTIME", "x");
  EXPECT_EQ(run(u""), kExitSuccess);
  for (const char* value : {"RUNNING", "IDE", "RUNTIME"}) {
    EXPECT_EQ(debugger_read_value(kDebuggerKey, value), nullptr) << value;
  }
  EXPECT_EQ(builtin_registry.count, 0);
  EXPECT_EQ(percent_variables, nullptr);
  EXPECT_EQ(program_folder, nullptr);
}

// The names of the shared objects loaded into the process, one per line.
std::string loaded_objects() {
  std::string names;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        *static_cast<std::string*>(data) += std::string(info->dlpi_name ? info->dlpi_name : "") + "\n";
        return 0;
      },
      &names);
  return names;
}

TEST_F(RuntimeMainTest, RunWithoutSoundOrDeclaredCallsLoadsNeitherLibrary) {
  EXPECT_EQ(run(u""), kExitSuccess);
  std::string names = loaded_objects();
  EXPECT_EQ(names.find("libvorbisidec"), std::string::npos) << names;
  EXPECT_EQ(names.find("libffi"), std::string::npos) << names;
}

TEST_F(RuntimeMainTest, ReportsOnlyWithTheirSwitches) {
  EXPECT_EQ(run(u""), kExitSuccess);
  EXPECT_FALSE(exists("profile.txt"));
  EXPECT_FALSE(exists("memory.txt"));
  // A missing program still ends in the reports its switches ask for.
  run(u"absent.zrk|P|Y|ND");
  EXPECT_NE(content("profile.txt").find("totals\t\t0\t0\t0\t0\t0.00%"), std::string::npos);
  EXPECT_NE(content("memory.txt").find("totals\t\t\t\t"), std::string::npos);
}

TEST_F(RuntimeMainTest, WordListSwitchDeletesTheOldList) {
  make_file("CC.TXT", "old names\n");
  make_file("prog.zrk", "proc main\nend;\n");
  std::string line = folder_ + "/prog.zrk|CC|ND";
  std::u16string wide(line.begin(), line.end());
  run(wide.c_str());
  // The compile writes a new list: the program's names and the registry's.
  EXPECT_EQ(content("CC.TXT").find("old names"), std::string::npos);
  EXPECT_NE(content("CC.TXT").find("MAIN"), std::string::npos);
  EXPECT_EQ(run_switches.compile_only, 1);
}

}  // namespace
