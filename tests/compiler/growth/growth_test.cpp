// Long-running shapes of scripts keep to the memory their first passes took: the bytes in
// use after N passes of a shape and after 10N passes are the same. Programs run through the
// driver with the whole vocabulary and a probe built-in that reads the allocator's count
// of bytes in use (glibc's, with its per-thread cache off, or the sanitizer's); no timing
// is involved.
#include <gtest/gtest.h>
#include <malloc.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZRK_GROWTH_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ZRK_GROWTH_ASAN 1
#endif
#ifdef ZRK_GROWTH_ASAN
// The sanitizer runtime's count (its header is not installed everywhere).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

#include <string>
#include <vector>

#include "tests/compiler/program_folder_fixture.h"
#include "vm/builtin_registry.h"

namespace {

std::vector<size_t> probes;

size_t bytes_in_use() {
#ifdef ZRK_GROWTH_ASAN
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

// PROBE(): records the bytes in use at this point of the script.
void probe_builtin() { probes.push_back(bytes_in_use()); }

class GrowthTest : public ProgramFolderTest {
 protected:
  void SetUp() override {
    ProgramFolderTest::SetUp();
    probes.clear();
    builtin_register_arity("PROBE", probe_builtin, 0, 0);
  }

  // Runs the source as a new program from a file of the test's folder.
  void run_program(const std::string& source) {
    compile_and_run_file(write_source("growth.zrk", source).string().c_str(), nullptr, 0, kRunNewProgram);
  }
};

// A shape: procedures of its own and the body of one pass (the pass number is i%). The
// program runs rounds of N passes and probes after the first and after the tenth; every
// text a pass makes has the same length in every pass, so equal counts mean no growth.
struct Shape {
  const char* name;
  const char* procedures;
  const char* setup;
  const char* pass;
  int passes;  // N
};

std::string program_of(const Shape& shape) {
  std::string source = shape.procedures;
  source += "\nproc main\n";
  source += shape.setup;
  source += "\n  for (round%, 1, 10)\n    for (i%, 1, " + std::to_string(shape.passes) + ")\n      ";
  source += shape.pass;
  source += "\n    end;\n    if (round% == 1) probe(); end;\n    if (round% == 10) probe(); end;\n  end;\n";
  source += "  showmessage(\"done \", check%);\nend;\n";
  return source;
}

TEST_F(GrowthTest, LongRunningShapesKeepToTheMemoryOfTheirFirstPasses) {
  const Shape shapes[] = {
      // A join reads a '%' name that the call to its right replaces.
      {"join over a store in the call",
       "func advance(i%)\n  status% = \"state-\" % (i% mod 10);\n  return(\"+\");\nend;\n",
       "  status% = \"start\";", "x% = status% % advance(i%); check% = length(x%);", 200},
      // The same read waiting in a built-in's arguments and twice in one join.
      {"arguments and a longer join",
       "func advance(i%)\n  status% = \"state-\" % (i% mod 10);\n  return(\"+\");\nend;\n",
       "  status% = \"start\";",
       "x% = status% % advance(i%) % status% % advance(i% + 1); check% = pos(status%, advance(i%));", 200},
      // A '$' global read by the join, replaced by a function.
      {"a global replaced by a function",
       "func renew(i%)\n  gl$ = \"fresh\" % (i% mod 10);\n  return(1);\nend;\n",
       "  gl$ = \"g\" % 1;\n  global(gl$);", "y$ = gl$ % renew(i%); check% = length(y$);", 200},
      // Another program started by eval stores into the joined name.
      {"eval as a new program",
       "", "  g% = \"old\" % 1;",
       "x% = g% % eval(\"g% = \\\"new\\\" % 1;\", 0, 1); check% = length(x%);", 10},
      {"eval in the caller's scope",
       "", "  g% = \"old\" % 1;",
       "x% = g% % eval(\"g% = \\\"new\\\" % 1;\", -1, 1); check% = length(x%);", 10},
      // A game loop: a WHILE storing texts and joining them, with a function for the score.
      {"game loop",
       "func score_text(n%)\n  score% = \"score \" % (n% mod 7);\n  return(score%);\nend;\n",
       "  score% = \"\";\n  lives% = \"3\";",
       "n% = 0;\n      while (n% < 3)\n        line% = score% % \" lives \" % lives% % score_text(n%);\n"
       "        title% = line% % \"!\";\n        n%++;\n      end;\n      check% = length(title%);",
       100},
      // A window procedure: called through call() as native code would call it, storing
      // texts in shared names and returning a joined one.
      {"window procedure through call()",
       "forcelink func window_procedure(message%)\n  status% = \"message \" % (message% mod 10);\n"
       "  caption% = caption% % \"\";\n  return(length(status% % caption%));\nend;\n",
       "  status% = \"\";\n  caption% = \"caption\";",
       "check% = call(0, \"window_procedure\", i%) + length(status% % call(0, \"window_procedure\", i% + 1));",
       200},
      // A search that returns from inside FOREACH, then a removal from the list.
      {"search returning from FOREACH",
       "func look_up(items$, wanted%)\n  foreach (e%, items$)\n    if (e% == wanted%) return(1); end;\n  end;\n"
       "  return(0);\nend;\n",
       "  list(items$);\n  add(items$, 1, 2, 3, 4, 5);",
       "check% = look_up(items$, 2) + look_up(items$, 9);\n      add(items$, 6);\n      goto(items$, 6);\n"
       "      del(items$);",
       200},
      // BREAK out of FOREACH inside a loop, and a nested FOREACH left by RETURN.
      {"break and nested return",
       "func first_pair(items$)\n  foreach (a%, items$)\n    foreach (b%, items$)\n"
       "      if (a% + b% == 5) return(a% * 10 + b%); end;\n    end;\n  end;\n  return(0);\nend;\n",
       "  list(items$);\n  add(items$, 1, 2, 3, 4);",
       "foreach (e%, items$)\n        if (e% == 2) break; end;\n      end;\n      check% = first_pair(items$);",
       200},
      // A TRY left by a fault inside FOREACH, in the loop and in a called function.
      {"TRY left by a fault in FOREACH",
       "func faulting(items$)\n  foreach (e%, items$)\n    if (e% == 2) v% = peek(16, -4); end;\n  end;\n"
       "  return(0);\nend;\n",
       "  list(items$);\n  add(items$, 1, 2, 3);",
       "try\n        foreach (e%, items$)\n          if (e% == 2) v% = peek(16, -4); end;\n        end;\n"
       "      except\n        check% = 1;\n      end;\n      try\n        v% = faulting(items$);\n"
       "      except\n        check% = 2;\n      end;",
       50},
  };
  for (const Shape& shape : shapes) {
    probes.clear();
    probes.reserve(64);
    boxes.clear();
    run_program(program_of(shape));
    ASSERT_EQ(probes.size(), 2u) << shape.name << "\n" << program_of(shape);
    EXPECT_EQ(probes[1], probes[0]) << shape.name << ": " << static_cast<long>(probes[1] - probes[0])
                                    << " more bytes after ten times the passes";
    EXPECT_EQ(boxes.size(), 1u) << shape.name;
  }
}

}  // namespace
