// The code generator's working state for one call, shared by the word walk, the block
// matching and the procedure words, and the few emit helpers they all use.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "foundation/code_list.h"
#include "foundation/instruction_node.h"

struct ProcedureRecord;
struct ProgramContext;

namespace codegen {

// Room of the generator's tables; a program nesting deeper stops with a compile error.
constexpr int32_t kBlockSlots = 4096;
constexpr int32_t kIfSlots = 128;
constexpr int32_t kLoopSlots = 128;
constexpr int32_t kRepeatSlots = 128;
constexpr int32_t kPendingSlots = 512;
constexpr int32_t kCaseLabelSlots = 128;
constexpr int32_t kCaseDepthBytes = 1024;
constexpr int32_t kNamespaceDepth = 64;

// Opcode numbers the generator writes.
enum Opcode : uint32_t {
  kStartProc = 1, kEndProc = 2, kBranch = 3, kPushInt = 4, kPushStr = 5, kPushVar = 6, kNgPushVar = 7,
  kInitForeach = 8, kInitFor = 9, kParmsPushVar = 10, kIf = 12, kWhile = 14, kFor = 15, kForeach = 16,
  kTry = 17, kUntil = 18, kBreak = 19, kPushProcAddr = 20, kPullCase = 21, kPushCase = 22, kAddr = 23,
  kReturn = 24, kCall = 25, kSelfCall = 26, kObjRun = 27, kNParms = 28, kRangeMode = 29,
  kExplicitMode = 30, kRunFile = 31, kAssign2 = 33, kInternalCall = 34, kIncrement2 = 35,
  kDecrement2 = 36, kIncrement4 = 37, kDecrement4 = 38, kOffset2 = 39, kOffset2_1 = 40, kClass4 = 41,
  kDropFctStack = 43, kDropAllFctStack = 44, kAddAssign2 = 78, kSubAssign2 = 79, kMulAssign2 = 80,
  kOrAssign2 = 81, kXorAssign2 = 82, kAndAssign2 = 83, kStartProcUndef = 84, kExcept = 86,
  kDeclare = 177, kClassData = 183, kForwardProc = 184, kInitWhile = 185, kEndLoop = 186,
};

// One open block: W and X entries also name their loop-stack entry.
struct BlockEntry {
  char* text;
  uint32_t hash;
  char kind;  // 'I' IF/ELSEIF, 'W' loop, 'C' CASE, 'X' EXCEPT part, '1' procedure body
  char* file_name;
  uint32_t line;
  uint16_t column;
  int32_t loop_index;
};

struct IfEntry {
  InstructionNode* node;
  int32_t level;
};

// A loop, or the pending EXCEPT branch of a TRY (head only).
struct LoopEntry {
  InstructionNode* start;
  InstructionNode* back_branch;
  InstructionNode* head;
};

// REPEAT and TRY share one stack; each entry knows which it is, so neither closes the other.
struct RepeatEntry {
  InstructionNode* node;
  bool is_try;
  int32_t block_depth;  // open blocks when it opened: a loop block at this index or above is inside it
};

// A jump waiting for its target, or the marker a loop, REPEAT or CASE leaves when it opens.
struct PendingJump {
  InstructionNode* node;  // null for a marker
  char marker_kind;       // 'B' block index, 'R' REPEAT index
  int32_t marker_index;
};

struct CaseLabel {
  int32_t nesting;
  InstructionNode* node;
};

struct GeneratorState {
  const char* file_name;
  ProgramContext* program;
  ProcedureRecord** procedures;
  int32_t* procedure_count;
  uint8_t* winmain_flag;
  InstructionNode* tail;
  CodeListNode* word;  // the word being handled, the place of its messages
  bool stopped;        // a table ran out: the remaining words are dropped

  BlockEntry blocks[kBlockSlots];
  int32_t block_count;
  IfEntry ifs[kIfSlots];
  int32_t if_count;
  int32_t if_level;
  LoopEntry loops[kLoopSlots];
  int32_t loop_count;
  RepeatEntry repeats[kRepeatSlots];
  int32_t repeat_count;
  PendingJump pending[kPendingSlots];
  int32_t pending_count;
  CaseLabel case_labels[kCaseLabelSlots];
  int32_t case_label_count;
  int32_t case_nesting;
  uint8_t case_first_section[kCaseDepthBytes];
  bool default_pending;

  bool parameter_mode;
  InstructionNode* assignment_target;
  InstructionNode* operation_target;
  InstructionNode* current_procedure;

  // Names of every procedure head in the word list: a call or address of one defined
  // further on is resolved at the end.
  std::unordered_set<std::string> head_names;
  // NPROC and NFUNC heads by name and output part ("NAME,out)"): a call with any input
  // count names the head.
  std::unordered_map<std::string, std::string> variadic_heads;

  uint32_t namespace_hash;
  uint32_t namespace_saved;
  bool namespace_restore_pending;
  uint32_t namespace_stack[kNamespaceDepth];
  int32_t namespace_depth;
};

// ---- Helpers (code_generator.cpp) ----

// Appends a node with the current namespace as its scope key; the new node.
InstructionNode* emit(GeneratorState& state, BuiltinHandler handler, uint32_t opcode, const char* text = nullptr,
                      double operand = 0, InstructionNode* link = nullptr);
// Appends a node of opcode with the handler the opcode table gives it.
InstructionNode* emit_op(GeneratorState& state, uint32_t opcode, const char* text = nullptr, double operand = 0,
                         InstructionNode* link = nullptr);
// Links node to target and marks the target as a jump target.
void set_link(InstructionNode* node, InstructionNode* target);
void mark_jump_target(InstructionNode* node);
InstructionExtension* ensure_extension(InstructionNode* node);
// A compile error against the current word (null: no place), formatted like printf.
void report(GeneratorState& state, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Reports that a table is full once and stops the generation. Always false.
bool stop_on_full_table(GeneratorState& state);
// The handler of a registered built-in (upper-case name), null when none.
BuiltinHandler builtin_handler_named(const char* name);
// The handler of data nodes: they stay in the list but do nothing when run.
void op_data_node();

// ---- Block matching (block_matching.cpp) ----

// Handles a block word; false when the word is none.
bool handle_block_word(GeneratorState& state, CodeListNode* word);
// The unclosed-block errors after the last word; frees every open entry.
void close_open_blocks(GeneratorState& state);
// Links every pending jump above the marker to target and removes them with the marker.
void patch_pending_jumps(InstructionNode* target, PendingJump* stack, int32_t* count, char marker_kind,
                         int32_t marker_index);

// ---- Procedures, calls and declarations (procedure_words.cpp) ----

// Handles a procedure head, forward declaration, call word or object call; false when the
// word is none.
bool handle_procedure_word(GeneratorState& state, CodeListNode* word);
// A procedure address word ("&NAME").
void handle_procedure_address(GeneratorState& state, CodeListNode* word);
// A declaration directive with its five words, which it removes.
void handle_declaration(GeneratorState& state, CodeListNode* word, uint32_t directive_opcode, uint8_t wide_api,
                        uint8_t declare_form);
// A call of the declared library function at registry index.
void handle_external_call(GeneratorState& state, int32_t index);
// Index of the record of name (newest first); -1 when none; below -1 the negated address of
// a procedure of another loaded program.
// The record of this program named name (its index), else, with other_programs, a
// procedure of another loaded program (an index below -1, see foreign_procedure_start).
int32_t find_procedure_record(GeneratorState& state, const char* name, bool other_programs);
// "NAME(in,out)" without its input count: "NAME,out)"; empty for a text of another form.
std::string variadic_call_key(const char* signature);
// The main entry and the call targets left open, after the last word.
void resolve_calls(GeneratorState& state);

}  // namespace codegen
