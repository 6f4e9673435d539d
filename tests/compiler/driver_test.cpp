// The compile-and-run driver: its log, the road it takes, compile errors and where they
// are shown, the compiled files it leaves, the run modes' programs, the status window's
// progress and loader calls, and the run built-ins.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <list>
#include <sstream>
#include <string>
#include <vector>

#include "compiler/codegen/code_generator.h"
#include "compiler/driver/compile_and_run.h"
#include "compiler/driver/run_builtins.h"
#include "compiler/ui/status_window.h"
#include "foundation/file_helpers.h"
#include "foundation/hashes.h"
#include "foundation/machine_state.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_ownership.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "program_folder_fixture.h"
#include "platform/gdi/screen.h"
#include "platform/platform.h"
#include "app/builtin_table.h"
#include "vm/instruction_list.h"
#include "vm/machine.h"
#include "tests/foundation/scope_lists.h"

namespace fs = std::filesystem;

namespace {

int32_t compiled_is_current(const char*, const char*) { return 1; }

void fail_builtin() { runtime_error("boom"); }

class DriverTest : public ProgramFolderTest {
 protected:
  void SetUp() override {
    ProgramFolderTest::SetUp();
    saved_check = compiled_file_check;
    builtin_register_arity("FAIL", fail_builtin, 0, 0);
  }
  void TearDown() override {
    compiled_file_check = saved_check;
    ProgramFolderTest::TearDown();
  }
  // Programs the driver kept, shared ones before the ones whose heap they use.
  void release_kept_programs() override {
    for (bool shared : {true, false}) {
      for (ProgramContext* program = program_list; program;) {
        ProgramContext* next = program->next;
        bool is_shared = program->run_mode != 0 && program->run_mode != kRunModeKeep;
        if (is_shared == shared) {
          if (program->run_mode == kRunModeKeep) program->run_mode = 0;
          free_instruction_list(program, program->code);
          program->code = nullptr;
          for (uint32_t index = 0; index < program->procedure_count; ++index) {
            crt::free(program->procedures[index]->signature);
            crt::free(program->procedures[index]);
          }
          program->procedure_count = 0;
          program_context_release(program);
        }
        program = next;
      }
    }
  }

  std::string error_log() const { return read_file(folder / "errorlog.txt"); }

  ProgramContext* run_file(const fs::path& path, uint32_t mode = kRunNewProgram, uint8_t compile_only = 0) {
    return compile_and_run_file(path.string().c_str(), nullptr, compile_only, mode);
  }

  // A caller program with its own stack, globals and a local scope, made current.
  ProgramContext* make_caller() {
    ProgramContext* caller = create_program_context();
    caller->pool = pool_create(64 * 1024);
    caller->stack_top = stack_alloc_cell(caller);
    caller->globals = variable_record_allocate(caller, false);
    caller_scope = variable_record_allocate(caller, false);
    current_program = caller;
    current_scope = caller_scope;
    return caller;
  }

  // Whether the code generator has landed: a statement in the caller's scope gives code.
  bool code_generator_ready() {
    ProgramContext* probe_caller = make_caller();
    ProgramContext* probe = compile_and_run_file(nullptr, "x% = 1;", 0, kRunInCallerScope);
    bool ready = probe != nullptr && probe->code != nullptr;
    current_program = nullptr;
    current_scope = nullptr;
    (void)probe_caller;
    return ready;
  }

  int32_t (*saved_check)(const char*, const char*) = nullptr;
  Variable* caller_scope = nullptr;
};

constexpr const char* kSyntaxError = "x% = 1;\nx% = 1 y% = 2;\n";
constexpr const char* kCleanSource = "proc main\n  x% = 1;\nend;\n";

TEST_F(DriverTest, CompileErrorsAreLoggedBoxedAndLeaveNoCompiledFile) {
  fs::path source = write_source("bad.zrk", kSyntaxError);
  write_source("bad.zrc", "stale");
  EXPECT_EQ(run_file(source), nullptr);

  const std::string log = error_log();
  std::string lower = source.string();
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string header =
      "ZRK compiler v." + std::string(runtime_version_text) + "\n\nFilename : " + lower + "\n\nParsing...\n";
  EXPECT_EQ(log.rfind(header, 0), 0u) << log;
  EXPECT_NE(log.find("Syntax error"), std::string::npos) << log;
  EXPECT_NE(log.find("Completion time ("), std::string::npos) << log;
  // The counts line closes the log and counts every error line above it.
  size_t error_lines = 0;
  for (size_t at = log.find("** error **"); at != std::string::npos; at = log.find("** error **", at + 1)) ++error_lines;
  EXPECT_GE(error_lines, 2u) << "the syntax error and the missing entry";
  const std::string counts = "\n** " + std::to_string(error_lines) + " error(s), 0 warning(s)\n";
  ASSERT_GE(log.size(), counts.size());
  EXPECT_EQ(log.substr(log.size() - counts.size()), counts) << log;
  EXPECT_FALSE(fs::exists(folder / "bad.zrc"));
  EXPECT_TRUE(fs::exists(source));

  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "ERROR");
  EXPECT_NE(boxes[0].text.find("Syntax error"), std::string::npos) << boxes[0].text;
  EXPECT_EQ(compile_error_text, nullptr) << "the error text is the run's";
}

TEST_F(DriverTest, AProgramWithoutEntryIsAnErrorInModeZeroOnly) {
  // A program whose only procedure is not MAIN has no entry. Linking without passes keeps
  // the unused procedure: removed, it would leave a program without procedures, whose
  // first instruction is its entry.
  run_switches.link_level = 0;
  fs::path source = write_source("noentry.zrk", "proc helper\n  x% = 1;\nend;\n");
  EXPECT_EQ(run_file(source), nullptr);
  EXPECT_NE(error_log().find("No main entry point defined"), std::string::npos) << error_log();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].text.find("No main entry point defined"), std::string::npos);

  boxes.clear();
  make_caller();
  compile_and_run_file(nullptr, "proc helper\nend;\n", 0, kRunInCallerScope);
  EXPECT_TRUE(boxes.empty()) << boxes[0].text;
}

TEST_F(DriverTest, TheRoadFollowsTheCompiledFileAndTheSwitches) {
  compiled_file_check = compiled_is_current;
  struct Row {
    const char* name;
    uint8_t RunSwitches::*run_switch;
    uint8_t* global;
    const char* expected_line;
  };
  const Row rows[] = {
      {"current file", nullptr, nullptr, "Loading zrc file..."},
      {"RC", &RunSwitches::recompile, nullptr, "Parsing...\n"},
      {"C", &RunSwitches::compile_only, nullptr, "Parsing...\n"},
      {"D", nullptr, &debug_mode, "Parsing...\n"},
      {"P", nullptr, &profile_mode, "Parsing...\n"},
      {"Y", nullptr, &memory_tracking, "Parsing...\n"},
  };
  fs::path source = write_source("road.zrk", kCleanSource);
  for (const Row& row : rows) {
    if (row.run_switch) run_switches.*row.run_switch = 1;
    if (row.global) *row.global = 1;
    run_file(source);
    if (row.run_switch) run_switches.*row.run_switch = 0;
    if (row.global) *row.global = 0;
    const std::string log = error_log();
    EXPECT_NE(log.find(row.expected_line), std::string::npos) << row.name << "\n" << log;
    const char* other = std::string(row.expected_line) == "Parsing...\n" ? "Loading zrc file..." : "Parsing...";
    EXPECT_EQ(log.find(other), std::string::npos) << row.name << "\n" << log;
  }
}

TEST_F(DriverTest, SavingFollowsTheDirectivesAndTheSwitches) {
  struct Row {
    const char* name;
    const char* prefix;
    bool debug;
    bool makeexe;
    bool as_text;
    bool saves;
  };
  const Row rows[] = {
      {"plain source", "", false, false, false, true},
      {"#LIBRARY", "#LIBRARY\n", false, false, false, false},
      {"#NOZRC", "#NOZRC\n", false, false, false, false},
      {"#NOZRC under makeexe", "#NOZRC\n", false, true, false, true},
      {"debug mode", "", true, false, false, false},
      {"source text", "", false, false, true, false},
  };
  for (const Row& row : rows) {
    const std::string text = std::string(row.prefix) + kCleanSource;
    fs::path source = write_source("save.zrk", text);
    debug_mode = row.debug ? 1 : 0;
    run_switches.makeexe_mode = row.makeexe ? 1 : 0;
    if (row.as_text) compile_and_run_file(nullptr, text.c_str(), 0, kRunNewProgram);
    else run_file(source);
    debug_mode = 0;
    run_switches.makeexe_mode = 0;
    const std::string log = error_log();
    EXPECT_EQ(log.find("Saving zrc file...") != std::string::npos, row.saves) << row.name << "\n" << log;
  }
}

TEST_F(DriverTest, LibrarySourcesKeepTheirCompiledFile) {
  struct Row {
    const char* prefix;
    bool compiled_kept;
  };
  for (const Row& row : {Row{"", false}, Row{"#LIBRARY\n", true}}) {
    fs::path source = write_source("lib.zrk", std::string(row.prefix) + kSyntaxError);
    write_source("lib.zrc", "old");
    run_file(source);
    EXPECT_EQ(fs::exists(folder / "lib.zrc"), row.compiled_kept) << row.prefix;
  }
}

TEST_F(DriverTest, ErrorsAreShownOnlyWhenDisplayIsWanted) {
  struct Row {
    const char* name;
    uint8_t error_display;
    uint8_t no_error_script;
    uint8_t compile_only;
    size_t boxes;
  };
  const Row rows[] = {
      {"default", 1, 0, 0, 1},
      {"display off", 0, 0, 0, 0},
      {"DM", 1, 1, 0, 0},
      {"compile only", 1, 0, 1, 0},
  };
  fs::path source = write_source("shown.zrk", kSyntaxError);
  for (const Row& row : rows) {
    boxes.clear();
    run_switches.error_display = row.error_display;
    run_switches.no_error_script = row.no_error_script;
    EXPECT_EQ(run_file(source, kRunNewProgram, row.compile_only), nullptr) << row.name;
    EXPECT_EQ(boxes.size(), row.boxes) << row.name;
  }
}

TEST_F(DriverTest, AnErrorProgramThatFailsItselfGetsTheBoxOnce) {
  write_source("ShowError.zrk", kSyntaxError);
  fs::path source = write_source("main.zrk", kSyntaxError);
  EXPECT_EQ(run_file(source), nullptr);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "ERROR");
  // The box is the error program's: its own file is named.
  EXPECT_NE(boxes[0].text.find("showerror.zrk"), std::string::npos) << boxes[0].text;
}

TEST_F(DriverTest, TheCallersProgramAndScopeComeBackOnEveryPath) {
  struct Row {
    const char* name;
    const char* text;
    uint32_t mode;
  };
  ProgramContext* caller = make_caller();
  Variable* other_scope = variable_record_allocate(caller, false);
  const Row rows[] = {
      {"mode 0, compile error", kSyntaxError, kRunNewProgram},
      {"mode 0, no entry", "x% = 1;", kRunNewProgram},
      {"mode -1", "x% = 1;", kRunInCallerScope},
      {"mode -1, compile error", kSyntaxError, kRunInCallerScope},
      {"mode -2", "x% = 1;", kRunCallerGlobalsAsLocal},
      {"mode -3", "x% = 1;", kRunFreshLocalScope},
      {"mode -4", "x% = 1;", kRunNewProgramKept},
      {"scope address", "x% = 1;", static_cast<uint32_t>(reinterpret_cast<uintptr_t>(other_scope))},
  };
  for (const Row& row : rows) {
    compile_and_run_file(nullptr, row.text, 0, row.mode);
    EXPECT_EQ(current_program, caller) << row.name;
    EXPECT_EQ(current_scope, caller_scope) << row.name;
  }
}

TEST_F(DriverTest, SharedModesUseTheCallersStackGlobalsAndHeap) {
  struct Row {
    uint32_t mode;
    bool has_parent;
  };
  ProgramContext* caller = make_caller();
  NameNode* second = name_node_push(&caller->classes);
  second->name = crt::_strdup("BASE");
  NameNode* first = name_node_push(&caller->classes);
  first->name = crt::_strdup("SHAPE");
  first->parent_name = crt::_strdup("BASE");
  for (Row row : {Row{kRunInCallerScope, true}, Row{kRunCallerGlobalsAsLocal, true}, Row{kRunFreshLocalScope, false}}) {
    ProgramContext* program = compile_and_run_file(nullptr, "x% = 1;", 0, row.mode);
    ASSERT_NE(program, nullptr) << static_cast<int32_t>(row.mode);
    EXPECT_EQ(program->run_mode, static_cast<int32_t>(row.mode));
    EXPECT_EQ(program->globals, caller->globals);
    EXPECT_EQ(program->stack_top, caller->stack_top);
    EXPECT_EQ(program->heap, caller->heap);
    EXPECT_EQ(program->parent == caller, row.has_parent);
    if (row.has_parent) {
      // The program has its own copy: ending it leaves the caller's list whole.
      ASSERT_NE(program->classes, nullptr);
      EXPECT_NE(program->classes, caller->classes);
      EXPECT_STREQ(program->classes->name, "SHAPE");
      EXPECT_STREQ(program->classes->parent_name, "BASE");
      ASSERT_NE(program->classes->next, nullptr);
      EXPECT_STREQ(program->classes->next->name, "BASE");
    }
    // The record goes, with the instructions whose texts it does not free itself.
    free_instruction_list(program, program->code);
    program->code = nullptr;
    program_context_release(program);
    ASSERT_EQ(caller->classes, first);
    EXPECT_STREQ(caller->classes->name, "SHAPE");
    EXPECT_STREQ(caller->classes->next->name, "BASE");
  }
  ProgramContext* own = compile_and_run_file(nullptr, "x% = 1;", 0, kRunNewProgramKept);
  ASSERT_NE(own, nullptr);
  EXPECT_NE(own->heap, caller->heap);
  EXPECT_NE(own->globals, caller->globals);
  EXPECT_NE(own->globals, nullptr);
}

TEST_F(DriverTest, CompileFileWithModeDeletesOnlyTheStaleCompiledFile) {
  struct Row {
    const char* source;
    const char* compiled;
  };
  const Row rows[] = {
      {"prog.zrk", "prog.zrc"},
      {"toolc", "toolc.zrc"},
      {"data.abc", "data.zrc"},
      {"dir.v2/tool", "dir.v2/tool.zrc"},
  };
  fs::create_directories(folder / "dir.v2");
  for (const Row& row : rows) {
    fs::path source = write_source(row.source, kCleanSource);
    write_source(row.compiled, "stale");
    compile_file_with_mode(source.string().c_str(), 0);
    EXPECT_TRUE(fs::exists(source)) << row.source;
    // The stale file is gone; the compile wrote a fresh one in its place.
    ASSERT_TRUE(fs::exists(folder / row.compiled)) << row.source;
    std::ifstream compiled(folder / row.compiled, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(compiled)), std::istreambuf_iterator<char>());
    EXPECT_NE(bytes, "stale") << row.source;
    EXPECT_EQ(run_switches.makeexe_mode, 0) << row.source;
  }
}

TEST_F(DriverTest, CompiledFileNamesReplaceTheExtension) {
  struct Row {
    const char* source;
    const char* compiled;
  };
  const Row rows[] = {
      {"game.zrk", "game.zrc"},     {"GAME.ZRK", "GAME.zrc"},   {"game.zrc", "game.zrc"},
      {"game", "game.zrc"},         {"a.b", "a.zrc"},           {"\\My.Dir\\game", "\\My.Dir\\game.zrc"},
      {"x/y.z/prog.zrk", "x/y.z/prog.zrc"},
  };
  for (const Row& row : rows) {
    char* name = compiled_file_name(row.source);
    EXPECT_STREQ(name, row.compiled) << row.source;
    crt::free(name);
  }
}

// ---- The status window ----

struct UpdateCall {
  double kind;
  std::string text;
  double position;
  double total;
};
std::vector<UpdateCall> updates;

// UPDATE's body: takes its four arguments off the loader's stack.
void record_update() {
  ValueCell* total = stack_pop(current_program);
  double total_value = total->number;
  double position = stack_pop(current_program)->number;
  ValueCell* text_cell = stack_pop(current_program);
  std::string text = text_cell->text ? static_cast<const char*>(text_cell->text) : "<number>";
  double kind = stack_pop(current_program)->number;
  updates.push_back({kind, text, position, total_value});
}
void end_procedure() { stop_flag = 1; }

class StatusWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_switches = run_switches;
    updates.clear();
    current_program = nullptr;
    stop_flag = 0;
    try_depth = 0;
  }
  void TearDown() override {
    status_window_close();
    run_switches = saved_switches;
    if (loader) {
      InstructionNode* last = tail;
      free_instruction_list(loader, last);
      loader->run_mode = 0;
      crt::free(entry.signature);
      program_context_release(loader);
    }
    emit_pool = nullptr;
    current_program = nullptr;
  }

  // A loader program whose UPDATE records its calls; kept (mode -4) until the test ends it.
  void make_loader() {
    loader = create_program_context();
    loader->run_mode = kRunModeKeep;
    loader->pool = pool_create(16 * 1024);
    loader->stack_top = stack_alloc_cell(loader);
    loader->globals = variable_record_allocate(loader, false);
    emit_pool = loader->pool;
    emit_instruction_node(&tail, end_procedure, "\xE9   UPDATE", 0, nullptr, 0, nullptr, 0, 0);
    InstructionNode* head = tail;
    emit_instruction_node(&tail, record_update, nullptr, 0, nullptr, 0, nullptr, 0, 0);
    emit_instruction_node(&tail, end_procedure, nullptr, 0, nullptr, 0, nullptr, 0, 0);
    loader->code = tail;
    entry.signature = crt::_strdup("UPDATE");
    entry.procedure = head;
    loader->procedures[0] = &entry;
    loader->procedure_count = 1;
    loader_program = loader;
  }

  RunSwitches saved_switches{};
  ProgramContext* loader = nullptr;
  InstructionNode* tail = nullptr;
  ProcedureTableEntry entry{};
};

TEST_F(StatusWindowTest, ProgressStepsAreTenthsOfTheTotal) {
  struct Row {
    int32_t position, total, step;
  };
  const Row rows[] = {{0, 0, 0},    {5, 0, 0},     {0, 10, 1},    {5, 10, 6},      {10, 10, 11},
                      {1, 10, 2},   {99, 1000, 1}, {250, 1000, 3}, {999, 1000, 10}, {7, 7, 11}};
  for (const Row& row : rows) {
    EXPECT_EQ(status_progress_step(row.position, row.total), row.step) << row.position << "/" << row.total;
  }
  struct Fill {
    int32_t width, step, total, filled;
  };
  const Fill fills[] = {{142, 0, 10, 0}, {142, 6, 10, 85}, {142, 11, 10, 156}, {142, 6, 0, 0}, {142, 6, -1, 0}};
  for (const Fill& fill : fills) {
    EXPECT_EQ(status_bar_fill_width(fill.width, fill.step, fill.total), fill.filled) << fill.step << "/" << fill.total;
  }
}

TEST_F(StatusWindowTest, OnlyNewTextsAndHigherStepsRepaint) {
  run_switches.status_window = 1;
  run_switches.quiet_mode = 0;
  status_window_open();
  const StatusDisplay& display = status_display();
  ASSERT_TRUE(display.open);
  EXPECT_FALSE(display.visible);

  struct Step {
    const char* text;
    int32_t position, total;
    uint32_t full, bar;
  };
  const Step steps[] = {
      {"Parsing (a.zrk)...", 0, 100, 1, 0},  // a text always repaints the whole window
      {nullptr, 5, 100, 1, 0},               // under a tenth more: nothing
      {nullptr, 10, 100, 1, 1},              // the next tenth: the bar only
      {nullptr, 10, 100, 1, 1},
      {nullptr, 55, 100, 1, 2},
      {"Linking...", 0, 100, 2, 2},          // a text with a lower step still repaints
  };
  for (const Step& step : steps) {
    status_update(step.text, step.position, step.total);
    EXPECT_EQ(display.full_repaints, step.full) << step.position;
    EXPECT_EQ(display.bar_repaints, step.bar) << step.position;
  }
  EXPECT_TRUE(display.visible);
  EXPECT_EQ(narrow(display.text), "Linking...");
  EXPECT_EQ(display.step, 1);

  run_switches.quiet_mode = 1;
  status_update("Quiet", 100, 100);
  EXPECT_EQ(display.full_repaints, 2u);
  EXPECT_EQ(narrow(display.text), "Linking...");

  status_window_close();
  EXPECT_FALSE(display.open);
  EXPECT_EQ(display.text, nullptr);
}

// The screen pixel under a client point of the window.
uint16_t screen_pixel(HWND window, int x, int y) {
  POINT point{x, y};
  ClientToScreen(window, &point);
  platform::ScreenFrame frame = platform::screen_frame();
  if (point.x < 0 || point.y < 0 || point.x >= frame.width || point.y >= frame.height) return 0;
  return frame.pixels[point.y * frame.width + point.x];
}

TEST_F(StatusWindowTest, TheWindowAppearsInTheCornerWithItsBarAndGoes) {
  run_switches.status_window = 1;
  run_switches.quiet_mode = 0;
  status_window_open();
  HWND window = FindWindowW(u"StatusWindowClass", u"ZRK");
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window, status_display().window);
  EXPECT_FALSE(IsWindowVisible(window)) << "the first report shows it";
  RECT rect{};
  GetWindowRect(window, &rect);
  EXPECT_EQ(rect.left, GetSystemMetrics(SM_CXSCREEN) - 154);
  EXPECT_EQ(rect.top, GetSystemMetrics(SM_CYSCREEN) - 34);
  EXPECT_EQ(rect.right - rect.left, 150);

  constexpr uint16_t kLightBlue = 0x841F;  // 0xFF8080 in RGB565
  constexpr uint16_t kOrange = 0xFC00;     // 0x0080FF
  status_update("Parsing (a.zrk)...", 0, 10);
  EXPECT_TRUE(IsWindowVisible(window));
  UpdateWindow(window);
  RECT client{};
  GetClientRect(window, &client);
  int bar_y = client.top + 20;
  EXPECT_EQ(screen_pixel(window, client.left + 10, bar_y), kLightBlue) << "an empty bar";
  status_update(nullptr, 10, 10);
  UpdateWindow(window);
  EXPECT_EQ(screen_pixel(window, client.left + 10, bar_y), kOrange) << "a full bar";

  status_window_close();
  EXPECT_EQ(FindWindowW(u"StatusWindowClass", nullptr), nullptr);
  EXPECT_FALSE(IsWindow(window));
  status_window_open();
  EXPECT_NE(FindWindowW(u"StatusWindowClass", nullptr), nullptr) << "the class registers again";
}

TEST_F(StatusWindowTest, TheLoaderHearsEveryPhaseInOrderEvenWithoutTheWindow) {
  run_switches.status_window = 0;
  make_loader();
  status_window_open();
  EXPECT_FALSE(status_display().open);

  status_loader_update(1.0, "c:/prog.zrk", 0, 0);
  status_update("Parsing (prog.zrk)...", 0, 40);
  status_update(nullptr, 20, 40);
  status_window_close();

  const std::vector<UpdateCall> expected = {
      {1, "c:/prog.zrk", 0, 0}, {3, "Parsing (prog.zrk)...", 0, 40}, {3, "<number>", 20, 40}, {2, "<number>", 0, 0}};
  ASSERT_EQ(updates.size(), expected.size());
  for (size_t index = 0; index < expected.size(); ++index) {
    EXPECT_EQ(updates[index].kind, expected[index].kind) << index;
    EXPECT_EQ(updates[index].text, expected[index].text) << index;
    EXPECT_EQ(updates[index].position, expected[index].position) << index;
    EXPECT_EQ(updates[index].total, expected[index].total) << index;
  }
  EXPECT_EQ(loader_program, nullptr) << "closing ends the loader";
  EXPECT_EQ(current_program, nullptr) << "the caller's program comes back";
  EXPECT_EQ(loader->stack_top->below, nullptr) << "UPDATE took its arguments";
}

// ---- The run built-ins ----

class RunBuiltinsTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    register_run_builtins();
  }
  static void call(const char* name) {
    int32_t index = find_builtin_by_hash(hash_name_text(name));
    ASSERT_GE(index, 0) << name;
    builtin_entry(index)->handler();
  }
  // Pushes a text that stays alive until the test ends.
  void push_text(const std::string& text) {
    texts.push_back(text);
    stack_push_value(texts.back().data(), 0, nullptr, 0);
  }
  std::list<std::string> texts;
  double pop_number() { return stack_pop(current_program)->number; }
};

TEST_F(RunBuiltinsTest, EveryRunBuiltinHasItsHandler) {
  builtin_registry_clear();
  register_all_builtins();
  for (const char* name : {"runfile", "runfileex", "run", "runex", "eval", "compile", "makeexe", "import"}) {
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    int32_t index = find_builtin_by_hash(hash_name_text(upper.c_str()));
    ASSERT_GE(index, 0) << name;
    EXPECT_FALSE(builtin_is_placeholder(builtin_entry(index)->handler)) << name;
  }
}

TEST_F(RunBuiltinsTest, RunfileReportsAMissingFileAndPushesZero) {
  ProgramContext* caller = make_caller();
  const std::string missing = (folder / "nothing.zrk").string();
  push_text(missing);
  call("RUNFILE");
  EXPECT_EQ(pop_number(), 0.0);
  EXPECT_EQ(current_program, caller);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Run error");
  EXPECT_EQ(boxes[0].text, "Syntax error of file not found!\n\"" + missing + "\"");
  EXPECT_FALSE(fs::exists(folder / "errorlog.txt")) << "nothing was compiled";
}

TEST_F(RunBuiltinsTest, RunFindsTheFileWithItsExtensionOrRunsTheText) {
  make_caller();
  fs::path source = write_source("prog.zrk", kSyntaxError);
  push_text((folder / "prog").string());
  call("RUNFILE");
  EXPECT_EQ(pop_number(), 0.0);
  // The driver lower-cases the name; paths are found without regard to case.
  std::string lower = source.string();
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_NE(error_log().find("Filename : " + lower + "\n"), std::string::npos) << error_log();
  EXPECT_EQ(run_switches.run_loader, 0);

  // No such file: the argument is source text, named by its first line.
  push_text("y% = 2;");
  call("RUN");
  EXPECT_EQ(pop_number(), 0.0);
  EXPECT_NE(error_log().find("Filename : y% = 2\n"), std::string::npos) << error_log();
}

TEST_F(RunBuiltinsTest, EvalKeepsOrEndsTheProgramAndTheScope) {
  ProgramContext* caller = make_caller();
  struct Row {
    double mode;
    double end;
    bool handle;
  };
  for (Row row : {Row{-1, 0, true}, Row{-1, 1, false}, Row{-3, 0, true}, Row{0, 0, false}}) {
    push_text("x% = 1;");
    stack_push_number(caller, row.mode);
    stack_push_number(caller, row.end);
    call("EVAL");
    double handle = pop_number();
    EXPECT_EQ(handle != 0.0, row.handle) << row.mode << " " << row.end;
    EXPECT_EQ(current_program, caller);
    EXPECT_EQ(current_scope, caller_scope);
    if (handle != 0.0) {
      bool listed = false;
      for (ProgramContext* program = program_list; program; program = program->next) {
        listed = listed || static_cast<double>(reinterpret_cast<uintptr_t>(program)) == handle;
      }
      EXPECT_TRUE(listed) << "the handle is a live program";
    }
  }
}

TEST_F(RunBuiltinsTest, CompileLeavesNoCompiledFileForASourceWithErrors) {
  make_caller();
  fs::path source = write_source("broken.zrk", kSyntaxError);
  write_source("broken.zrc", "stale");
  push_text(source.string());
  call("COMPILE");
  EXPECT_TRUE(fs::exists(source));
  EXPECT_FALSE(fs::exists(folder / "broken.zrc"));
  EXPECT_TRUE(boxes.empty()) << "a compile shows no errors";
  EXPECT_NE(error_log().find(" error(s), 0 warning(s)\n"), std::string::npos) << error_log();
}

TEST_F(RunBuiltinsTest, MakeexeClearsItsFlagsAndDeletesTheExecutableOfAFailedBuild) {
  make_caller();
  fs::path source = write_source("app.zrk", kSyntaxError);
  write_source("app.exe", "old build");
  push_text(source.string());
  push_text("app.exe");
  stack_push_number(current_program, 1);
  call("MAKEEXE");
  EXPECT_FALSE(fs::exists(folder / "app.exe"));
  EXPECT_TRUE(fs::exists(source));
  EXPECT_EQ(run_switches.makeexe_mode, 0);
  EXPECT_EQ(run_switches.makeexe_mode1, 0);
  EXPECT_EQ(run_switches.executable_name, nullptr);
}

// ---- Whole runs (once the code generator gives code) ----

TEST_F(DriverTest, AMainProgramRunsAndEnds) {
  if (!code_generator_ready()) GTEST_SKIP() << "the code generator gives no instructions yet";
  fs::path source = write_source("sum.zrk", "proc main\n  total% = 6 * 7;\nend;\n");
  EXPECT_EQ(run_file(source), nullptr) << "a MAIN program ends when MAIN returns";
  void* text = nullptr;
  double number = 0;
  get_value_by_name("TOTAL%", &text, &number, nullptr);
  EXPECT_EQ(number, 42.0);
  const std::string log = error_log();
  EXPECT_NE(log.find("\n** 0 error(s), 0 warning(s)\n"), std::string::npos) << log;
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(run_failed, 0);
}

TEST_F(DriverTest, WinmainsParameterLeavesTheStackItsBaseCell) {
  if (!code_generator_ready()) GTEST_SKIP() << "the code generator gives no instructions yet";
  fs::path source = write_source("stays.zrk", "func winmain(unused%)\n  x% = unused% + 1;\n  return(1);\nend;\n");
  ProgramContext* program = run_file(source);
  ASSERT_NE(program, nullptr) << "a WINMAIN program that returns non-zero stays";
  // Events push onto the program's stack and put its top back: their cells must be the same
  // ones each time, or every event costs memory until the program ends.
  ValueCell* base = program->stack_top;
  ASSERT_NE(base, nullptr);
  ValueCell* pushed = stack_push_cell(program, true);
  program->stack_top = base;
  EXPECT_EQ(stack_push_cell(program, true), pushed);
  program->stack_top = base;
}

TEST_F(DriverTest, EvalInTheCallersScopeGivesItsValue) {
  if (!code_generator_ready()) GTEST_SKIP() << "the code generator gives no instructions yet";
  ProgramContext* caller = make_caller();
  ProgramContext* program = compile_and_run_file(nullptr, "answer% = 40 + 2;", 0, kRunInCallerScope);
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(current_program, caller);
  void* text = nullptr;
  double number = 0;
  get_value_by_name("ANSWER%", &text, &number, nullptr);
  EXPECT_EQ(number, 42.0);
}

TEST_F(DriverTest, AnUnhandledRunTimeErrorMarksTheRunFailed) {
  if (!code_generator_ready()) GTEST_SKIP() << "the code generator gives no instructions yet";
  error_box_enabled = 1;
  fs::path source = write_source("fails.zrk", "proc main\n  fail();\nend;\n");
  run_file(source);
  EXPECT_EQ(run_failed, 1);
}

}  // namespace

namespace {

TEST_F(DriverTest, OnlyFaultsOutsideTryCountAsUnhandled) {
  struct Row {
    const char* name;
    int32_t try_depth;
    bool is_warning;
    uint32_t counted;
  };
  const Row rows[] = {
      {"fault", 0, false, 1},
      {"fault inside TRY", 1, false, 0},
      {"warning", 0, true, 0},
  };
  for (const Row& row : rows) {
    const uint32_t before = runtime_errors_unhandled;
    try_depth = row.try_depth;
    runtime_error("boom", row.is_warning);
    try_depth = 0;
    stop_flag = 0;
    EXPECT_EQ(runtime_errors_unhandled - before, row.counted) << row.name;
  }
}

}  // namespace

// The status window shows each phase's text once and moves its bar by tenths: a long
// program must not repaint the whole window per word (that made compiling 100,000 lines
// take over a minute).
TEST_F(DriverTest, CompilingALongProgramRepaintsTheStatusWindowPerPhaseOnly) {
  if (!code_generator_ready()) GTEST_SKIP() << "the code generator gives no instructions yet";
  std::string text = "proc main\n";
  for (int line = 0; line < 3000; ++line) text += "  x% = x% + " + std::to_string(line) + ";\n";
  text += "end;\n";
  fs::path source = write_source("long.zrk", text);
  run_switches.status_window = 1;
  run_switches.quiet_mode = 0;
  run_file(source, kRunNewProgram, 1);
  const StatusDisplay& display = status_display();
  EXPECT_GE(display.full_repaints, 3u) << "parsing, compiling and linking each show their text";
  EXPECT_LE(display.full_repaints, 8u);
  EXPECT_LE(display.bar_repaints, 8u * 11u);
  EXPECT_EQ(compile_error_count, 0);
}

// Past the procedure table's 4,096 slots the linker names the first procedure left out
// by its name, without the word's kind bytes.
TEST_F(DriverTest, TooManyProceduresNamesTheFirstOneLeftOut) {
  if (!code_generator_ready()) GTEST_SKIP() << "the code generator gives no instructions yet";
  std::string text;
  for (int index = 0; index < 4100; ++index) text += "proc p" + std::to_string(index) + "\nend;\n";
  text += "proc main\nend;\n";
  fs::path source = write_source("many.zrk", text);
  run_file(source, kRunNewProgram, 1);
  const std::string log = error_log();
  const std::string expected = "Too many procedures to link at 'P4096(0,0)'";
  size_t at = log.find(expected);
  ASSERT_NE(at, std::string::npos) << log.substr(0, 400);
  EXPECT_EQ(log.find("Too many procedures to link"), at) << "the first message names P4096";
}
