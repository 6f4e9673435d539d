// Compiled program files: a program written and read back runs the same nodes; damaged
// and foreign files are refused without reading past their end; procedure addresses are
// found by name; and the test whether a compiled file may stand in for its source.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "compiler/codegen/code_generator.h"
#include "compiler/linker.h"
#include "foundation/opcodes.h"
#include "compiler/zrc/compiled_file.h"
#include "compiler/zrc/compiled_file_format.h"
#include "foundation/compile_messages.h"
#include "foundation/conversion.h"
#include "foundation/file_helpers.h"
#include "foundation/hashes.h"
#include "foundation/program_context.h"
#include "foundation/scrambler.h"
#include "platform/platform.h"
#include "vm/builtin_registry.h"
#include "app/builtin_table.h"
#include "vm/instruction_list.h"
#include "vm/listing.h"
#include "vm/machine.h"

namespace {

namespace fs = std::filesystem;

uint32_t builtin_hash(const char* upper_name) { return hash_name_text(upper_name); }
BuiltinHandler builtin_handler(const char* upper_name) {
  BuiltinEntry* entry = builtin_entry(find_builtin_by_hash(builtin_hash(upper_name)));
  return entry ? entry->handler : nullptr;
}

// A ProcedureWord: kind, mark, parameter count + 0x20, keep byte, name.
std::string procedure_word(uint8_t kind, char mark, int parameters, const char* name) {
  std::string word;
  word += static_cast<char>(kind);
  word += mark;
  word += static_cast<char>(0x20 + parameters);
  word += static_cast<char>(0xA2);
  return word + name;
}

std::vector<std::string> message_boxes;
int capture_message_box(HWND, LPCWSTR text, LPCWSTR caption, UINT) {
  char* narrow_caption = to_narrow(caption);
  char* narrow_text = to_narrow(text);
  message_boxes.push_back(std::string(narrow_caption) + "|" + narrow_text);
  crt::free(narrow_caption);
  crt::free(narrow_text);
  return IDOK;
}

std::vector<uint8_t> file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}
void put_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class CompiledFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_log = log_enabled;
    log_enabled = 0;
    register_all_builtins();
    opcode_names_fill();
    platform::set_message_box_handler(capture_message_box);
    message_boxes.clear();
    folder = fs::temp_directory_path() / ("zrc_test_" + std::to_string(::getpid()) + "_" +
                                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(folder);
    compile_error_count = 0;
    crt::free(compile_error_text);
    compile_error_text = nullptr;
    compiled_file_makeexe_mode1 = 0;
    saved_error_store = set_error_variable_text;
    set_error_variable_text = [](const char*, uint32_t) {};
  }
  void TearDown() override {
    for (Program* program : programs) end_program(program);
    platform::set_message_box_handler(nullptr);
    set_error_variable_text = saved_error_store;
    crt::free(compile_error_text);
    compile_error_text = nullptr;
    compile_error_count = 0;
    emit_pool = nullptr;
    main_entry = nullptr;
    opcode_names_free();
    builtin_registry_clear();
    log_enabled = saved_log;
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }

  struct Program {
    ProgramContext* context = nullptr;
    ProcedureRecord* procedures[kLinkProcedureSlots] = {};
    int32_t procedure_count = 0;
    InstructionNode* tail = nullptr;
  };

  Program* new_program() {
    auto* program = new Program;
    program->context = create_program_context();
    program->context->pool = pool_create(0x10000);
    emit_pool = program->context->pool;
    programs.push_back(program);
    return program;
  }
  void end_program(Program* program) {
    InstructionNode* tail = program->tail;
    if (!tail) {
      for (tail = program->context->first_instruction; tail && tail->next;) tail = tail->next;
    }
    while (tail) free_instruction_node(program->context->pool, &tail, tail, 0);
    free_record_array(reinterpret_cast<void**>(program->procedures), &program->procedure_count);
    program_context_release(program->context);
    delete program;
  }

  InstructionNode* emit(Program* program, BuiltinHandler handler, uint32_t opcode, const char* text = nullptr,
                        double number = 0, InstructionNode* link = nullptr) {
    emit_instruction_node(&program->tail, handler, text, number, link, opcode, nullptr, 0, 0);
    return program->tail;
  }
  InstructionNode* emit_head(Program* program, uint32_t opcode, const std::string& word, bool function,
                             int parameters) {
    InstructionNode* head = emit(program, OpcodeHandlerTable[1], opcode, word.c_str(), parameters);
    head->work = function ? 1 : 0;
    head->extension = static_cast<InstructionExtension*>(pool_alloc(emit_pool, 0, sizeof(InstructionExtension)));
    head->extension->is_jump_target = 1;
    if (word[1] == '_') head->extension->method_flag = 1;
    return head;
  }
  ProcedureRecord* add_record(Program* program, const char* name, int parameters, bool function, bool underscore) {
    auto* record = static_cast<ProcedureRecord*>(crt::calloc(1, sizeof(ProcedureRecord)));
    record->name = crt::_strdup(name);
    record->parameter_count = static_cast<uint8_t>(parameters);
    record->returns_value = function ? 1 : 0;
    record->underscore = underscore ? 1 : 0;
    program->procedures[program->procedure_count++] = record;
    return record;
  }

  // A program with a node of every kind the file has a record for, as the code generator
  // leaves it: class and declaration data nodes, a forward declaration, two procedures,
  // fused nodes, built-in and declared-function calls, jumps, a call and a procedure address.
  Program* build_sample() {
    Program* program = new_program();
    InstructionNode* first = emit(program, OpcodeHandlerTable[1], 0, "sample.zrk");
    program->context->first_instruction = first;
    emit(program, nullptr, zrc::kOpClass, "BASE");
    emit(program, nullptr, 0, "SHAPE");
    emit(program, nullptr, 177, "MULTIPLY");
    emit(program, nullptr, 0, "MulDiv");
    emit(program, nullptr, 0, "coredll.dll");
    emit(program, nullptr, 0, nullptr, 2);
    emit(program, nullptr, 0, nullptr, 1);
    emit(program, nullptr, 0, nullptr, 0);
    emit(program, nullptr, 0, nullptr, 1);
    int32_t declared = external_function_declare("MULTIPLY", "MulDiv", "coredll.dll", 2, 1, 0, 1);
    emit(program, nullptr, zrc::kOpForwardProc, procedure_word(0xEF, '_', 2, "HELPER").c_str());
    ProcedureRecord* helper = add_record(program, "HELPER", 2, true, true);

    InstructionNode* main_head = emit_head(program, 1, procedure_word(0xE9, ' ', 0, "MAIN"), false, 0);
    add_record(program, "MAIN", 0, false, false)->start = main_head;
    emit(program, OpcodeHandlerTable[4], 4, nullptr, 5);
    emit(program, OpcodeHandlerTable[5], 5, "hello");
    emit_scope_key = 0x1234;
    emit(program, OpcodeHandlerTable[6], 6, "COUNT%");
    emit_scope_key = 0;
    InstructionNode* pair = emit(program, OpcodeHandlerTable[47], 47, nullptr, 8);
    auto* block = static_cast<double*>(crt::malloc(sizeof(double)));
    *block = 7.5;
    pair->text = reinterpret_cast<char*>(block);
    emit(program, OpcodeHandlerTable[54], 54, "right",
         static_cast<double>(platform::address_of(crt::_strdup("left"))));
    InstructionNode* condition = emit(program, OpcodeHandlerTable[14], 65, nullptr, 3);
    condition->inner_handler = OpcodeHandlerTable[65];
    emit(program, builtin_handler("LENGTH"), zrc::kOpInternalCall);
    InstructionNode* saved = emit(program, OpcodeHandlerTable[181], zrc::kOpInternalCall);
    saved->inner_handler = builtin_handler("PRINTF");
    emit(program, OpcodeHandlerTable[128], 128, nullptr, declared);
    InstructionNode* call = emit(program, OpcodeHandlerTable[25], 25, "HELPER");
    InstructionNode* address = emit(program, OpcodeHandlerTable[20], 20, "HELPER");
    InstructionNode* branch = emit(program, OpcodeHandlerTable[3], 3);
    InstructionNode* loop = emit(program, OpcodeHandlerTable[185], 185);
    emit(program, OpcodeHandlerTable[3], 3, nullptr, 0, loop);
    InstructionNode* end_main = emit(program, OpcodeHandlerTable[2], 2, procedure_word(0xE9, ' ', 0, "MAIN").c_str());
    auto link = [](InstructionNode* from, InstructionNode* to) {
      from->extension = from->extension ? from->extension
                                        : static_cast<InstructionExtension*>(
                                              pool_alloc(emit_pool, 0, sizeof(InstructionExtension)));
      from->extension->link = to;
      to->extension->is_jump_target = 1;
    };
    link(condition, end_main->previous);
    link(branch, end_main->previous);

    std::string helper_word = procedure_word(0xC4, '_', 2, "HELPER");
    InstructionNode* helper_head = emit_head(program, 1, helper_word, true, 2);
    helper->start = helper_head;
    emit(program, OpcodeHandlerTable[10], 10, "A%");
    emit(program, OpcodeHandlerTable[10], 10, "B%");
    emit(program, OpcodeHandlerTable[24], 24, helper_word.c_str());
    emit(program, OpcodeHandlerTable[2], 2, helper_word.c_str());
    emit(program, OpcodeHandlerTable[2], 2, "sample.zrk");
    link(call, helper_head);
    address->operand = static_cast<double>(platform::address_of(helper_head));
    main_entry = main_head;
    return program;
  }

  std::string path(const char* name) const { return (folder / name).string(); }

  Program* load(const std::string& file, InstructionNode** first) {
    Program* program = new_program();
    uint8_t winmain = 9;
    *first = read_compiled_file(file.c_str(), nullptr, 0, program->context, program->procedures,
                                &program->procedure_count, &winmain);
    program->context->first_instruction = *first;
    EXPECT_EQ(winmain, 0);
    return program;
  }

  // The listing with node addresses replaced by list positions.
  static std::vector<std::string> listing(InstructionNode* first, bool skip_data) {
    std::vector<InstructionNode*> listed;
    bool after_class = false;
    for (InstructionNode* node = first; node; node = node->next) {
      bool data = node->opcode == zrc::kOpClass || node->opcode == zrc::kOpForwardProc || after_class;
      after_class = node->opcode == zrc::kOpClass;
      if (!skip_data || !data) listed.push_back(node);
    }
    std::map<uint32_t, int> position;
    for (size_t index = 0; index < listed.size(); ++index) {
      position[platform::address_of(listed[index])] = static_cast<int>(index);
    }
    std::vector<std::string> lines;
    for (InstructionNode* node : listed) {
      char* raw = instruction_listing_line(node);
      std::string line = raw;
      crt::free(raw);
      std::string normalized;
      for (size_t at = 0; at < line.size();) {
        // Addresses appear as 0x... and, in branch labels, as 0X....
        if (line.compare(at, 2, "0x") == 0 || line.compare(at, 2, "0X") == 0) {
          size_t end = at + 2;
          while (end < line.size() && std::isxdigit(static_cast<unsigned char>(line[end]))) ++end;
          uint32_t value = static_cast<uint32_t>(std::stoul(line.substr(at + 2, end - at - 2), nullptr, 16));
          auto found = position.find(value);
          normalized += found != position.end() ? "#" + std::to_string(found->second) : "#none";
          at = end;
        } else {
          normalized += line[at++];
        }
      }
      // Each node's own handlers, which the listing shows only by name.
      normalized += " [" + std::to_string(node->inner_handler != nullptr) + "]";
      lines.push_back(normalized);
    }
    return lines;
  }

  static InstructionNode* last_of(InstructionNode* first) {
    while (first && first->next) first = first->next;
    return first;
  }

  fs::path folder;
  std::vector<Program*> programs;
  uint8_t saved_log = 0;
  void (*saved_error_store)(const char*, uint32_t) = nullptr;
};

TEST_F(CompiledFileTest, RoundTripGivesTheSameProgram) {
  Program* original = build_sample();
  InstructionNode* original_first = original->context->first_instruction;
  std::string file = path("sample.zrc");
  write_compiled_file(file.c_str(), original->tail);
  ASSERT_TRUE(fs::exists(file));

  // The declaration's seven data nodes left the program; the function stays declared.
  for (InstructionNode* node = original_first; node; node = node->next) {
    EXPECT_FALSE(node->opcode >= 177 && node->opcode <= 180) << node->opcode;
  }
  std::vector<std::string> expected = listing(original_first, true);
  std::vector<InstructionNode*> expected_nodes;
  for (InstructionNode* node = original_first; node; node = node->next) {
    if (node->opcode != zrc::kOpClass && node->opcode != zrc::kOpForwardProc &&
        !(node->previous && node->previous->opcode == zrc::kOpClass)) {
      expected_nodes.push_back(node);
    }
  }
  builtin_registry_clear();
  register_all_builtins();  // the declared function is made again by the reader

  InstructionNode* first = nullptr;
  Program* loaded = load(file, &first);
  ASSERT_NE(first, nullptr) << (compile_error_text ? compile_error_text : "");
  EXPECT_EQ(compile_error_count, 0);
  EXPECT_EQ(listing(first, false), expected);

  std::vector<InstructionNode*> nodes;
  for (InstructionNode* node = first; node; node = node->next) nodes.push_back(node);
  ASSERT_EQ(nodes.size(), expected_nodes.size());
  auto position = [&](const std::vector<InstructionNode*>& list, const InstructionNode* node) {
    for (size_t index = 0; index < list.size(); ++index) {
      if (list[index] == node) return static_cast<int>(index);
    }
    return -1;
  };
  for (size_t index = 0; index < nodes.size(); ++index) {
    const InstructionNode* got = nodes[index];
    const InstructionNode* want = expected_nodes[index];
    SCOPED_TRACE("node " + std::to_string(index) + " opcode " + std::to_string(want->opcode));
    EXPECT_EQ(got->opcode, want->opcode);
    EXPECT_EQ(got->handler, want->handler);
    EXPECT_EQ(got->inner_handler, want->inner_handler);
    EXPECT_EQ(got->work, want->work);
    const InstructionNode* want_link = want->extension ? want->extension->link : nullptr;
    const InstructionNode* got_link = got->extension ? got->extension->link : nullptr;
    EXPECT_EQ(position(nodes, got_link), position(expected_nodes, want_link));
    EXPECT_EQ(got->extension && got->extension->is_jump_target, want->extension && want->extension->is_jump_target);
    EXPECT_EQ(got->extension ? got->extension->method_flag : 0, want->extension ? want->extension->method_flag : 0);
    EXPECT_EQ(got->extension ? got->extension->scope_key : 0, want->extension ? want->extension->scope_key : 0);
    if (want->opcode == 20) {
      // The procedure's new head, whatever address the written program had.
      auto* want_target = platform::pointer_from<InstructionNode>(static_cast<uint32_t>(want->operand));
      int target = position(expected_nodes, want_target);
      ASSERT_GE(target, 0);
      EXPECT_EQ(got->operand, static_cast<double>(platform::address_of(nodes[target])));
    } else if (want->opcode == 54) {
      EXPECT_STREQ(platform::pointer_from<char>(static_cast<uint32_t>(got->operand)), "left");
      EXPECT_NE(got->operand, want->operand);
    } else if (want->opcode == 128) {
      EXPECT_EQ(got->operand, find_builtin_by_hash(builtin_hash("MULTIPLY")));
    } else {
      EXPECT_EQ(got->operand, want->operand);
    }
    if (want->opcode == 47) {
      EXPECT_EQ(*reinterpret_cast<double*>(got->text), 7.5);
    } else if (want->text) {
      ASSERT_NE(got->text, nullptr);
      EXPECT_STREQ(got->text, want->text);
    } else {
      EXPECT_EQ(got->text, nullptr);
    }
  }

  // The procedure table in the same order with the same settings and starts.
  ASSERT_EQ(loaded->procedure_count, original->procedure_count);
  for (int32_t index = 0; index < loaded->procedure_count; ++index) {
    const ProcedureRecord* got = loaded->procedures[index];
    const ProcedureRecord* want = original->procedures[index];
    EXPECT_STREQ(got->name, want->name);
    EXPECT_EQ(got->parameter_count, want->parameter_count) << want->name;
    EXPECT_EQ(got->returns_value, want->returns_value) << want->name;
    EXPECT_EQ(got->underscore, want->underscore) << want->name;
    EXPECT_EQ(position(nodes, got->start), position(expected_nodes, want->start)) << want->name;
  }
  ASSERT_NE(main_entry, nullptr);
  EXPECT_STREQ(main_entry->text + 4, "MAIN");
  NameNode* shape = name_node_find(loaded->context->classes, "SHAPE");
  ASSERT_NE(shape, nullptr);
  EXPECT_STREQ(shape->parent_name, "BASE");
  BuiltinEntry* declared = builtin_entry(find_builtin_by_hash(builtin_hash("MULTIPLY")));
  ASSERT_NE(declared, nullptr);
  EXPECT_STREQ(declared->function, "MulDiv");
  EXPECT_EQ(declared->param_count, 2);
  EXPECT_TRUE(message_boxes.empty());
}

TEST_F(CompiledFileTest, TheSameProgramAlwaysGivesTheSameBytes) {
  std::string first_file = path("first.zrc");
  std::string second_file = path("second.zrc");
  Program* first = build_sample();
  write_compiled_file(first_file.c_str(), first->tail);
  // Another copy of the program at other addresses.
  Program* second = build_sample();
  write_compiled_file(second_file.c_str(), second->tail);
  EXPECT_EQ(file_bytes(first_file), file_bytes(second_file));

  // A loaded program written twice is byte for byte itself.
  InstructionNode* loaded_first = nullptr;
  Program* loaded = load(first_file, &loaded_first);
  ASSERT_NE(loaded_first, nullptr);
  std::string again = path("again.zrc");
  std::string once_more = path("once_more.zrc");
  write_compiled_file(again.c_str(), loaded_first);
  write_compiled_file(once_more.c_str(), loaded_first);
  EXPECT_FALSE(file_bytes(again).empty());
  EXPECT_EQ(file_bytes(again), file_bytes(once_more));
}

TEST_F(CompiledFileTest, InMemoryImageLoadsLikeTheFile) {
  Program* original = build_sample();
  std::string file = path("image.zrc");
  write_compiled_file(file.c_str(), original->tail);
  std::vector<uint8_t> bytes = file_bytes(file);
  Program* program = new_program();
  uint8_t winmain = 0;
  InstructionNode* first = read_compiled_file(nullptr, bytes.data(), static_cast<uint32_t>(bytes.size()),
                                              program->context, program->procedures, &program->procedure_count,
                                              &winmain);
  program->context->first_instruction = first;
  ASSERT_NE(first, nullptr);
  InstructionNode* from_file = nullptr;
  Program* loaded = load(file, &from_file);
  EXPECT_EQ(listing(first, false).size(), listing(from_file, false).size());
  EXPECT_EQ(program->procedure_count, loaded->procedure_count);
}

// ---- Hand-made images ----

struct Record {
  uint8_t opcode;
  std::optional<double> number;
  std::optional<std::string> text;
  std::optional<std::string> second;
  std::optional<double> hash;
  std::optional<uint8_t> outer;
  std::optional<uint32_t> work;
  std::optional<uint32_t> link;
  std::optional<uint32_t> identity;
  uint16_t extra_flags = 0;
  std::optional<uint32_t> stated_text_length;  // a length other than the text's own

  explicit Record(uint8_t code) : opcode(code) {}
  Record& with_number(double value) { number = value; return *this; }
  Record& with_text(std::string value) { text = std::move(value); return *this; }
  Record& with_second(std::string value) { second = std::move(value); return *this; }
  Record& with_hash(double value) { hash = value; return *this; }
  Record& with_link(uint32_t value) { link = value; return *this; }
  Record& with_identity(uint32_t value) { identity = value; return *this; }

  std::vector<uint8_t> bytes() const {
    std::vector<uint8_t> out;
    auto put = [&out](const void* data, size_t size) {
      auto* raw = static_cast<const uint8_t*>(data);
      out.insert(out.end(), raw, raw + size);
    };
    auto put_text = [&](const std::string& value, std::optional<uint32_t> stated) {
      uint32_t length = stated ? *stated : static_cast<uint32_t>(value.size() + 1);
      put(&length, 4);
      put(value.data(), value.size());
    };
    uint16_t flags = extra_flags;
    if (number) flags |= zrc::kHasNumber;
    if (text) flags |= zrc::kHasText;
    if (second) flags |= zrc::kHasSecondText;
    if (hash) flags |= zrc::kHasHash;
    if (outer) flags |= zrc::kHasOuterHandler;
    if (work) flags |= zrc::kHasWork;
    if (link) flags |= zrc::kHasLink;
    if (identity) flags |= zrc::kHasIdentity;
    put(&flags, 2);
    put(&opcode, 1);
    if (number) put(&*number, 8);
    if (text) put_text(*text, stated_text_length);
    if (second) put_text(*second, std::nullopt);
    if (hash) put(&*hash, 8);
    if (outer) put(&*outer, 1);
    if (work) put(&*work, 4);
    if (link) put(&*link, 4);
    if (identity) put(&*identity, 4);
    return out;
  }
};

struct Image {
  std::vector<uint8_t> header = {zrc::kVersionA, zrc::kVersionB, zrc::kVersionC, 0, 1, 3};
  std::vector<Record> records;

  std::vector<uint8_t> bytes() const {
    std::vector<uint8_t> out = header;
    for (const Record& record : records) {
      std::vector<uint8_t> more = record.bytes();
      out.insert(out.end(), more.begin(), more.end());
    }
    return out;
  }
  // The offsets where records end: a cut anywhere else falls inside a record.
  std::vector<size_t> record_ends() const {
    std::vector<size_t> ends = {header.size()};
    for (const Record& record : records) ends.push_back(ends.back() + record.bytes().size());
    return ends;
  }
};

std::vector<uint8_t> packed(const std::vector<uint8_t>& image) {
  std::vector<uint8_t> out;
  EXPECT_TRUE(zrc::pack_image(image, &out));
  return out;
}

// MAIN calling HELPER, which is defined after it, and taking its address.
Image small_program() {
  Image image;
  image.records = {
      Record(0).with_text("small.zrk"),
      Record(1).with_text(procedure_word(0xE9, ' ', 0, "MAIN")).with_identity(1),
      Record(4).with_number(42),
      Record(34).with_hash(static_cast<double>(builtin_hash("LENGTH"))),
      Record(25).with_text("HELPER").with_link(9),
      Record(20).with_number(305419896.0).with_text("HELPER"),
      Record(3).with_link(3).with_identity(3),
      Record(2).with_text("MAIN").with_identity(2),
      Record(1).with_text(procedure_word(0xEA, ' ', 0, "HELPER")).with_identity(9),
      Record(2).with_text("HELPER"),
  };
  return image;
}

class DamagedFileTest : public CompiledFileTest {
 protected:
  // Reads the bytes as a file; checks that a refusal leaves nothing behind.
  InstructionNode* read_bytes(const std::vector<uint8_t>& bytes, Program** out = nullptr) {
    Program* program = new_program();
    uint8_t winmain = 0;
    InstructionNode* first = read_compiled_file(nullptr, bytes.data(), static_cast<uint32_t>(bytes.size()),
                                                program->context, program->procedures, &program->procedure_count,
                                                &winmain);
    program->context->first_instruction = first;
    if (!first) {
      EXPECT_EQ(program->procedure_count, 0);
      EXPECT_EQ(program->context->classes, nullptr);
      EXPECT_EQ(main_entry, nullptr);
    }
    if (out) *out = program;
    return first;
  }
};

TEST_F(DamagedFileTest, TheSmallProgramLoadsAndFindsItsProcedureByName) {
  Program* program = nullptr;
  InstructionNode* first = read_bytes(packed(small_program().bytes()), &program);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(compile_error_count, 0);
  ASSERT_EQ(program->procedure_count, 2);
  InstructionNode* helper = program->procedures[1]->start;
  ASSERT_NE(helper, nullptr);
  EXPECT_EQ(helper->opcode, 84u);  // a function head new to the table
  InstructionNode* call = first->next->next->next->next;
  ASSERT_EQ(call->opcode, 25u);
  EXPECT_EQ(call->extension->link, helper);
  // The stale address of the file is replaced, although HELPER comes after it.
  EXPECT_EQ(call->next->operand, static_cast<double>(platform::address_of(helper)));
  EXPECT_EQ(main_entry, program->procedures[0]->start);
}

TEST_F(DamagedFileTest, EveryTruncatedFileIsRefused) {
  std::vector<uint8_t> bytes = packed(small_program().bytes());
  for (size_t length = 0; length < bytes.size(); ++length) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(length));
    EXPECT_EQ(read_bytes(cut), nullptr) << "file cut to " << length << " bytes";
  }
}

TEST_F(DamagedFileTest, EveryImageCutInsideARecordIsRefused) {
  Image image = small_program();
  image.records.insert(image.records.begin() + 2, Record(54).with_text("two").with_second("one"));
  std::vector<uint8_t> whole = image.bytes();
  std::vector<size_t> ends = image.record_ends();
  for (size_t length = 0; length < whole.size(); ++length) {
    if (std::find(ends.begin(), ends.end(), length) != ends.end()) continue;
    std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<long>(length));
    EXPECT_EQ(read_bytes(packed(cut)), nullptr) << "image cut to " << length << " bytes";
  }
}

TEST_F(DamagedFileTest, CorruptedFieldsAreRefused) {
  struct Case {
    const char* name;
    void (*damage)(Image* image);
  };
  const Case cases[] = {
      {"format byte", [](Image* image) { image->header[5] = 2; }},
      {"platform byte", [](Image* image) { image->header[4] = 7; }},
      {"text longer than the image", [](Image* image) { image->records[0].stated_text_length = 0x7FFFFFF0u; }},
      {"text length 0", [](Image* image) { image->records[0].stated_text_length = 0; }},
      {"text length past the end by one",
       [](Image* image) { image->records.back().stated_text_length = 8; }},
      {"unknown flag", [](Image* image) { image->records[2].extra_flags = 0x0008; }},
      {"opcode without a handler", [](Image* image) { image->records[2].opcode = 250; }},
      {"unnamed opcode", [](Image* image) { image->records[2].opcode = 11; }},
      {"data opcode inside the code", [](Image* image) { image->records[2].opcode = 0; }},
      {"unknown built-in hash", [](Image* image) { image->records[3].hash = 12345.0; }},
      {"built-in call without a hash", [](Image* image) { image->records[3].hash.reset(); }},
      {"built-in hash that is no whole number", [](Image* image) { image->records[3].hash = 1e300; }},
      {"jump to an identity the file lacks", [](Image* image) { image->records[6].link = 77; }},
      {"unknown outer handler code", [](Image* image) { image->records[2].outer = 99; }},
      {"procedure head shorter than its header", [](Image* image) { image->records[1].text = "\xE9 "; }},
      {"procedure head without text", [](Image* image) { image->records[1].text.reset(); }},
      {"declared-function call of an unknown name",
       [](Image* image) { image->records.insert(image->records.begin() + 2, Record(111).with_hash(4242.0)); }},
      {"declaration cut short",
       [](Image* image) {
         image->records.push_back(Record(177).with_text("F"));
         image->records.push_back(Record(0).with_text("f"));
       }},
      {"class without its name", [](Image* image) { image->records.push_back(Record(183).with_text("B")); }},
      {"second text on a node without one", [](Image* image) { image->records[2].second = "x"; }},
      {"number block given as text",
       [](Image* image) { image->records.insert(image->records.begin() + 2, Record(47).with_text("ab")); }},
      // Records that each pass, in an order no compiler writes.
      {"instruction list ending without its procedure end", [](Image* image) { image->records.pop_back(); }},
      {"procedure head inside a procedure",
       [](Image* image) {
         image->records.insert(image->records.begin() + 2, Record(1).with_text(procedure_word(0xE9, ' ', 0, "INNER")));
       }},
      {"FOREACH with a work field",
       [](Image* image) {
         Record foreach_head(16);
         foreach_head.work = 3;
         image->records.insert(image->records.begin() + 2, foreach_head);
       }},
      {"TRY with a work field",
       [](Image* image) {
         Record try_head(17);
         try_head.work = 1;
         image->records.insert(image->records.begin() + 2, try_head);
       }},
      // Operands the handlers use as they stand: a variable's name, a drop's count.
      {"variable push naming its variable by a number",
       [](Image* image) { image->records.insert(image->records.begin() + 2, Record(6).with_number(3)); }},
      {"variable push with an empty name",
       [](Image* image) { image->records.insert(image->records.begin() + 2, Record(6).with_text("")); }},
      {"assignment naming its variable by a number",
       [](Image* image) { image->records.insert(image->records.begin() + 3, Record(33).with_number(1)); }},
      {"variable push wrapped in a stack mark saver, without its name",
       [](Image* image) {
         Record push(6);
         push.number = 2;
         push.outer = 181;
         image->records.insert(image->records.begin() + 2, push);
       }},
      // A string push turned into a decrement keeps its text: " " names no variable.
      {"decrement naming a text without a type character",
       [](Image* image) { image->records.insert(image->records.begin() + 2, Record(36).with_text(" ")); }},
      {"push of two variables whose second name has no type character",
       [](Image* image) { image->records.insert(image->records.begin() + 2, Record(106).with_text("A%").with_second("B")); }},
      {"push of two variables without the second name",
       [](Image* image) { image->records.insert(image->records.begin() + 2, Record(106).with_text("A%")); }},
      {"drop after a call without its count", [](Image* image) { image->records[2] = Record(43); }},
      {"drop of all results without its count",
       [](Image* image) { image->records.insert(image->records.begin() + 3, Record(44)); }},
      {"drop count that is no whole number", [](Image* image) { image->records[2] = Record(44).with_number(0.5); }},
      // Taking back a file whose forward declaration got its start must not touch the
      // declaration's record after freeing it.
      {"record after a forward-declared procedure's definition",
       [](Image* image) {
         image->records.insert(image->records.begin() + 1, Record(184).with_text(procedure_word(0xEB, ' ', 0, "HELPER")));
         image->records.push_back(Record(250));
       }},
  };
  for (const Case& test_case : cases) {
    Image image = small_program();
    test_case.damage(&image);
    EXPECT_EQ(read_bytes(packed(image.bytes())), nullptr) << test_case.name;
  }
}

// The same operands, well formed, load: the refusals above are for the damage alone.
TEST_F(DamagedFileTest, NamedVariablesAndCountedDropsAreTaken) {
  const std::vector<Record> inserted[] = {
      {Record(6).with_text("A%")},
      {Record(4).with_number(1), Record(33).with_text("A%")},
      {Record(106).with_text("A%").with_second("B%")},
      {Record(181), Record(43).with_number(1)},
      {Record(181), Record(4).with_number(1), Record(4).with_number(2), Record(44).with_number(2)},
  };
  for (const std::vector<Record>& records : inserted) {
    Image image = small_program();
    image.records.insert(image.records.begin() + 2, records.begin(), records.end());
    EXPECT_NE(read_bytes(packed(image.bytes())), nullptr) << "opcode " << static_cast<int>(records.back().opcode);
  }
}

// Records that each pass their own checks but make a list whose instructions take cells,
// marks or jumps their procedure does not have: the handlers would take the caller's
// cells or run past the procedure. Each is refused as damaged and nothing of it runs.
TEST_F(DamagedFileTest, ListsThatMisuseTheStackAreRefusedAsDamaged) {
  auto insert = [](std::vector<Record> records) {
    return [records](Image* image) { image->records.insert(image->records.begin() + 2, records.begin(), records.end()); };
  };
  struct Case {
    const char* name;
    std::function<void(Image*)> damage;
  };
  Record case_labels(22);
  case_labels.work = 0xFFFF;
  Record int_case_labels(51);
  int_case_labels.work = 0xFFFE;
  int_case_labels.hash = 3.0;
  const Case cases[] = {
      // Counts near 0xFFFF: as many cells taken as the number says.
      {"case with 0xFFFF labels", insert({Record(4).with_number(1), case_labels})},
      {"number case with 0xFFFE labels", insert({Record(4).with_number(1), int_case_labels})},
      {"drop keeping 0xFFFF results", insert({Record(181), Record(43).with_number(65535)})},
      // An instruction swapped for another whose operands are as valid.
      {"number push swapped for a parameter", [](Image* image) { image->records[2] = Record(10).with_text("A%"); }},
      {"number push swapped for a store", [](Image* image) { image->records[2] = Record(33).with_text("A%"); }},
      {"one-argument built-in swapped for a two-argument one",
       [](Image* image) { image->records[3].hash = static_cast<double>(builtin_hash("PEEK")); }},
      {"built-in swapped for the operator that stores through the stack",
       [](Image* image) { image->records[3].hash = static_cast<double>(builtin_hash("=")); }},
      {"condition without its value", insert({Record(12)})},
      {"FOREACH without its stack mark", insert({Record(6).with_text("L%"), Record(16)})},
      {"result drop without its stack mark", insert({Record(43).with_number(1)})},
      {"procedure taking two cells its caller does not push",
       [](Image* image) { image->records.insert(image->records.begin() + 9, Record(107).with_text("A%").with_second("B%")); }},
      // Jumps and links out of their procedure.
      {"jump into another procedure", [](Image* image) { image->records[6].link = 9; }},
      {"jump to its procedure's end, running past it", [](Image* image) { image->records[6].link = 2; }},
      {"link on an instruction that uses none", [](Image* image) { image->records[2].link = 1; }},
  };
  for (const Case& test_case : cases) {
    compile_error_count = 0;
    crt::free(compile_error_text);
    compile_error_text = nullptr;
    Image image = small_program();
    test_case.damage(&image);
    EXPECT_EQ(read_bytes(packed(image.bytes())), nullptr) << test_case.name;
    EXPECT_NE(compile_error_text ? std::strstr(compile_error_text, "Damaged compiled file") : nullptr, nullptr)
        << test_case.name;
  }
}

// The same kinds of instruction where their procedure holds what they take: loops,
// conditions, cases, calls with their arguments and drops of results over a mark.
TEST_F(DamagedFileTest, ListsThatHoldWhatTheyTakeAreLoaded) {
  Record labels(22);
  labels.work = 2;
  const std::vector<Record> inserted[] = {
      {Record(4).with_number(1), Record(12).with_link(3)},
      {Record(4).with_number(1), Record(21), Record(4).with_number(2), Record(4).with_number(3), labels},
      {Record(181), Record(6).with_text("E%"), Record(6).with_text("L%"), Record(16).with_link(3)},
      {Record(4).with_number(7), Record(4).with_number(8), Record(34).with_hash(static_cast<double>(builtin_hash("PEEK")))},
      {Record(181), Record(4).with_number(1), Record(34).with_hash(static_cast<double>(builtin_hash("PRINTF")))},
  };
  for (const std::vector<Record>& records : inserted) {
    Image image = small_program();
    image.records.insert(image.records.begin() + 2, records.begin(), records.end());
    EXPECT_NE(read_bytes(packed(image.bytes())), nullptr) << "opcode " << static_cast<int>(records.back().opcode);
    EXPECT_EQ(compile_error_text, nullptr) << (compile_error_text ? compile_error_text : "");
  }
}

TEST_F(DamagedFileTest, DamagedTrailerOrStreamIsRefused) {
  std::vector<uint8_t> bytes = packed(small_program().bytes());
  auto with_size = [&](uint32_t size) {
    std::vector<uint8_t> changed = bytes;
    scramble_bytes(changed.data(), static_cast<int32_t>(changed.size()), kCompiledFileKey, 0, 0);
    std::memcpy(changed.data() + changed.size() - 4, &size, 4);
    scramble_bytes(changed.data(), static_cast<int32_t>(changed.size()), kCompiledFileKey, 1, 0);
    return changed;
  };
  EXPECT_EQ(read_bytes(with_size(0xFFFFFFFFu)), nullptr);
  EXPECT_EQ(read_bytes(with_size(5)), nullptr);
  EXPECT_EQ(read_bytes(with_size(static_cast<uint32_t>(small_program().bytes().size() + 1))), nullptr);
  // A foreign file: text that was never compressed with the key.
  const char foreign[] = "#DECLARE this is a source file, not a compiled one";
  EXPECT_EQ(read_bytes(std::vector<uint8_t>(foreign, foreign + sizeof foreign)), nullptr);
  EXPECT_EQ(read_bytes(std::vector<uint8_t>(4096, 0)), nullptr);
}

TEST_F(DamagedFileTest, MissingFileGivesNull) {
  Program* program = new_program();
  uint8_t winmain = 0;
  std::string missing = path("missing.zrc");
  EXPECT_EQ(read_compiled_file(missing.c_str(), nullptr, 0, program->context, program->procedures,
                               &program->procedure_count, &winmain),
            nullptr);
}

TEST_F(DamagedFileTest, PlatformAndVersionOnlyWarn) {
  struct Case {
    uint8_t a, b, c, platform;
    const char* box;  // null: no warning
  };
  const Case cases[] = {
      {zrc::kVersionA, zrc::kVersionB, zrc::kVersionC, 1, nullptr},
      {zrc::kVersionA, zrc::kVersionB + 1, zrc::kVersionC, 1, nullptr},
      {zrc::kVersionA + 1, 0, 0, 1, nullptr},
      {zrc::kVersionA, zrc::kVersionB - 1, 9, 1,
       "Runtime Error|4. The version of this runtime is older, the program might not work properly!"},
      {static_cast<uint8_t>(zrc::kVersionA - 1), 99, 9, 1,
       "Runtime Error|5. The version of this runtime is older, the program might not work properly!"},
      {static_cast<uint8_t>(zrc::kVersionA - 1), 0, 0, 0,
       "Runtime Error|2. This program was built on a different platform, it might not work properly!"},
  };
  for (const Case& test_case : cases) {
    message_boxes.clear();
    Image image = small_program();
    image.header = {test_case.a, test_case.b, test_case.c, 0, test_case.platform, 3};
    EXPECT_NE(read_bytes(packed(image.bytes())), nullptr);
    std::vector<std::string> expected;
    if (test_case.box) expected.push_back(test_case.box);
    EXPECT_EQ(message_boxes, expected) << int(test_case.a) << "." << int(test_case.b) << "." << int(test_case.c);
  }
}

TEST_F(DamagedFileTest, AnUnknownProcedureNameIsACompileError) {
  Image image = small_program();
  image.records[5].text = "NOWHERE";
  EXPECT_NE(read_bytes(packed(image.bytes())), nullptr);
  EXPECT_EQ(compile_error_count, 1);
  ASSERT_NE(compile_error_text, nullptr);
  EXPECT_NE(std::strstr(compile_error_text, "Cannot resolve [NOWHERE] address"), nullptr) << compile_error_text;
}

TEST_F(DamagedFileTest, AProgramWithoutProceduresStartsAtItsFirstNode) {
  Image image;
  image.records = {Record(0).with_text("plain.zrk"), Record(4).with_number(1),
                   Record(2).with_text("plain.zrk")};
  InstructionNode* first = read_bytes(packed(image.bytes()));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(main_entry, first);
  image.records.clear();
  EXPECT_EQ(read_bytes(packed(image.bytes())), nullptr);
}

// ---- Whether a compiled file is current ----

class CurrentFileTest : public CompiledFileTest {
 protected:
  void SetUp() override {
    CompiledFileTest::SetUp();
    saved_folder = program_folder;
    folder_text = folder.string() + "/";
    program_folder = folder_text.data();
  }
  void TearDown() override {
    program_folder = saved_folder;
    CompiledFileTest::TearDown();
  }
  void touch(const std::string& file, int minutes_ago, const std::vector<uint8_t>& bytes = {'x'}) {
    put_file(file, bytes);
    fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::minutes(minutes_ago));
  }
  char* saved_folder = nullptr;
  std::string folder_text;
};

TEST_F(CurrentFileTest, ComparesSourceCompiledFileAndRuntime) {
  std::vector<uint8_t> valid = packed(small_program().bytes());
  Image older_version = small_program();
  older_version.header[1] = zrc::kVersionB - 1;
  Image newer_version = small_program();
  newer_version.header[1] = zrc::kVersionB + 1;
  Image other_format = small_program();
  other_format.header[5] = 2;
  std::vector<uint8_t> damaged = valid;
  damaged.resize(damaged.size() / 2);

  struct Case {
    const char* name;
    int source_age, compiled_age, runtime_age;  // minutes; -1: no such file
    std::vector<uint8_t> compiled;
    int32_t expected;
  };
  const Case cases[] = {
      {"source older than compiled file", 30, 10, 60, valid, 1},
      {"same time as the source", 10, 10, 60, valid, 1},
      {"source newer than compiled file", 5, 10, 60, valid, 0},
      {"runtime newer than compiled file", 30, 10, 5, valid, 0},
      {"runtime as old as compiled file", 30, 10, 10, valid, 0},
      {"no compiled file", 30, -1, 60, valid, 0},
      {"no source", -1, 10, 60, valid, 0},
      {"older runtime version in the file", 30, 10, 60, packed(older_version.bytes()), 0},
      {"newer runtime version in the file", 30, 10, 60, packed(newer_version.bytes()), 1},
      {"other format", 30, 10, 60, packed(other_format.bytes()), 0},
      {"damaged compiled file", 30, 10, 60, damaged, 0},
  };
  std::string source = path("game.zrk");
  std::string compiled = path("game.zrc");
  std::string runtime = path("ZRK.EXE");
  for (const Case& test_case : cases) {
    for (const std::string& file : {source, compiled, runtime}) fs::remove(file);
    if (test_case.source_age >= 0) touch(source, test_case.source_age);
    if (test_case.compiled_age >= 0) touch(compiled, test_case.compiled_age, test_case.compiled);
    if (test_case.runtime_age >= 0) touch(runtime, test_case.runtime_age);
    EXPECT_EQ(compiled_file_is_current(source.c_str(), compiled.c_str()), test_case.expected) << test_case.name;
  }
  // A compiled file given as the source is its own current form.
  EXPECT_EQ(compiled_file_is_current(compiled.c_str(), path("other.zrc").c_str()), 1);
}

// The load after a check takes the image the check unpacked; only a load of that path
// right after a check that found it current does, so nothing stale is ever loaded.
TEST_F(CurrentFileTest, TheLoadAfterACheckUsesTheCheckedImageOnce) {
  std::string source = path("game.zrk");
  std::string compiled = path("game.zrc");
  std::string other = path("other.zrc");
  touch(source, 30);
  touch(path("ZRK.EXE"), 60);
  touch(other, 10, packed(small_program().bytes()));
  auto loads = [&](const std::string& file) {
    Program* program = new_program();
    uint8_t winmain = 0;
    InstructionNode* first = read_compiled_file(file.c_str(), nullptr, 0, program->context, program->procedures,
                                                &program->procedure_count, &winmain);
    program->context->first_instruction = first;  // released with the program
    return first != nullptr;
  };
  struct Case {
    const char* name;
    bool current;  // the check finds game.zrc current (else it is damaged)
    bool drop;     // the kept image is dropped before the load
    const char* loaded;
    bool expected;
  };
  const Case cases[] = {
      {"the checked file, gone before its load", true, false, "game.zrc", true},
      {"dropped after the check", true, true, "game.zrc", false},
      {"another file after the check", true, false, "other.zrc", true},
      {"a stale file is not kept", false, false, "game.zrc", false},
  };
  for (const Case& test_case : cases) {
    std::vector<uint8_t> bytes = packed(small_program().bytes());
    if (!test_case.current) bytes.resize(bytes.size() / 2);
    touch(compiled, 10, bytes);
    EXPECT_EQ(compiled_file_is_current(source.c_str(), compiled.c_str()), test_case.current ? 1 : 0) << test_case.name;
    fs::remove(compiled);
    if (test_case.drop) drop_checked_compiled_image();
    EXPECT_EQ(loads(path(test_case.loaded)), test_case.expected) << test_case.name;
    // Taken or not, the image is not kept past the first load.
    EXPECT_FALSE(loads(compiled)) << test_case.name;
  }
}

}  // namespace
