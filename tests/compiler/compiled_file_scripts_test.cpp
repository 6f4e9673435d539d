// Every program of the script tests, compiled as the driver compiles it, written to a
// compiled file and read back: the checks of the reader never refuse what the compiler
// writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "codegen_fixture.h"
#include "compiler/codegen/optimiser.h"
#include "compiler/zrc/compiled_file.h"

namespace {

namespace fs = std::filesystem;

class CompiledScriptsTest : public CodegenTest {};

TEST_F(CompiledScriptsTest, EveryScriptTestProgramLoadsFromItsCompiledFile) {
  std::vector<fs::path> scripts;
  for (const auto& entry : fs::recursive_directory_iterator(fs::path(ZRK_TEST_SOURCE_DIR) / ".." / "scripts")) {
    if (entry.path().extension() == ".zrk") scripts.push_back(entry.path());
  }
  std::sort(scripts.begin(), scripts.end());
  const std::string file = (fs::temp_directory_path() / ("zrc_scripts_" + std::to_string(::getpid()) + ".zrc")).string();
  optimize = 1;
  int loaded = 0;
  for (const fs::path& script : scripts) {
    std::ifstream in(script, std::ios::binary);
    std::string source((std::istreambuf_iterator<char>(in)), {});
    crt::free(compile_error_text);
    compile_error_text = nullptr;
    compile_error_count = 0;
    compile(source);
    // A script made to fail compiling (or one that includes a file beside it) has no file.
    if (compile_error_text || !tail) continue;
    write_compiled_file(file.c_str(), instruction_list_first(tail));
    drop_program();
    program = create_program_context();
    InstructionNode* first = read_compiled_file(file.c_str(), nullptr, 0, program, procedures, &procedure_count, &winmain);
    tail = first;
    while (tail && tail->next) tail = tail->next;
    EXPECT_NE(first, nullptr) << script << ": " << errors();
    if (first) ++loaded;
  }
  std::remove(file.c_str());
  // Most of them compile alone: a change that refused them all would not pass unseen.
  EXPECT_GT(loaded, static_cast<int>(scripts.size()) / 2) << "of " << scripts.size();
}

}  // namespace
