// Programs compiled and run through the driver from a temporary folder of their own, with
// the language's whole vocabulary registered and their message boxes captured.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/builtin_table.h"
#include "compiler/driver/compile_and_run.h"
#include "compiler/driver/run_builtins.h"
#include "foundation/machine_state.h"
#include "foundation/program_context.h"
#include "parser_fixture.h"
#include "platform/platform.h"
#include "tests/foundation/scope_lists.h"

struct CapturedBox {
  std::string caption;
  std::string text;
};
inline std::vector<CapturedBox> boxes;

inline std::string narrow(const char16_t* text) {
  std::string result;
  for (; text && *text; ++text) result += static_cast<char>(*text);
  return result;
}

inline int capture_box(HWND, LPCWSTR text, LPCWSTR caption, UINT) {
  boxes.push_back({narrow(caption), narrow(text)});
  return IDOK;
}

class ProgramFolderTest : public ParserTest {
 protected:
  void SetUp() override {
    ParserTest::SetUp();
    std::string pattern = (std::filesystem::temp_directory_path() / "zrk-programs-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder = pattern;
    saved_folder = program_folder;
    program_folder = crt::_strdup((folder.string() + "/").c_str());
    saved_switches = run_switches;
    platform::set_message_box_handler(capture_box);
    boxes.clear();
    current_program = nullptr;
    current_scope = nullptr;
    run_failed = 0;
    register_all_builtins();
  }
  void TearDown() override {
    platform::set_message_box_handler(nullptr);
    run_switches = saved_switches;
    current_program = nullptr;
    current_scope = nullptr;
    free_percent_variables(nullptr);
    release_kept_programs();
    crt::free(program_folder);
    program_folder = saved_folder;
    std::filesystem::remove_all(folder);
    ParserTest::TearDown();
  }
  // Gives back what the programs a test ran left loaded, before the folder goes.
  virtual void release_kept_programs() {}

  std::filesystem::path write_source(const std::string& name, const std::string& text) {
    std::filesystem::path path = folder / name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  std::filesystem::path folder;
  char* saved_folder = nullptr;
  RunSwitches saved_switches{};
};
