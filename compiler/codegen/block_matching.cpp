// Block matching: the nodes IF, loops, REPEAT, CASE, TRY and END emit, the jumps between
// them, BREAK and CONTINUE, and the errors for blocks that do not match.
#include <cstdlib>
#include <cstring>

#include "compiler/codegen/codegen_state.h"
#include "foundation/compile_messages.h"
#include "foundation/hashes.h"
#include "platform/kernel/memory.h"
#include "vm/opcode_handler_table.h"

namespace codegen {
namespace {

enum class BlockWord {
  None, If, ElseIf, Else, End, StartWhile, StartForeach, StartFor, StartRepeat, While, For, Foreach, ForeachRev,
  Repeat, Try, Until, Break, Continue, Case, StartCase, Default, Label, Except, Finally,
};

struct BlockWordName {
  const char* text;
  BlockWord word;
};
constexpr BlockWordName kBlockWords[] = {
    {"IF", BlockWord::If}, {"__ELSEIF", BlockWord::ElseIf}, {"ELSE", BlockWord::Else}, {"END", BlockWord::End},
    {"__STARTWHILE", BlockWord::StartWhile}, {"__STARTFOREACH", BlockWord::StartForeach},
    {"__STARTFOR", BlockWord::StartFor}, {"__STARTREPEAT", BlockWord::StartRepeat}, {"WHILE", BlockWord::While},
    {"FOR", BlockWord::For}, {"FOREACH", BlockWord::Foreach}, {"FOREACHREV", BlockWord::ForeachRev},
    {"REPEAT", BlockWord::Repeat}, {"TRY", BlockWord::Try}, {"UNTIL", BlockWord::Until},
    {"BREAK", BlockWord::Break}, {"CONTINUE", BlockWord::Continue}, {"CASE", BlockWord::Case},
    {"__STARTCASE", BlockWord::StartCase}, {"DEFAULT", BlockWord::Default}, {"EXCEPT", BlockWord::Except},
    {"FINALLY", BlockWord::Finally},
};

struct BlockWordHash {
  uint32_t hash;
  BlockWord word;
};

BlockWord classify(const CodeListNode* word) {
  static const auto table = [] {
    struct Table {
      BlockWordHash entries[sizeof kBlockWords / sizeof kBlockWords[0]];
    } result{};
    for (size_t index = 0; index < sizeof kBlockWords / sizeof kBlockWords[0]; ++index) {
      result.entries[index] = {hash_name_text(kBlockWords[index].text), kBlockWords[index].word};
    }
    return result;
  }();
  if (word->text[0] == ':' && word->text[1] != ':' && word->text[1] != 0) return BlockWord::Label;
  for (const BlockWordHash& entry : table.entries) {
    if (entry.hash == word->hash) return entry.word;
  }
  return BlockWord::None;
}

bool push_block(GeneratorState& state, const CodeListNode* word, char kind, int32_t loop_index = -1) {
  if (state.block_count >= kBlockSlots) return stop_on_full_table(state);
  BlockEntry& entry = state.blocks[state.block_count++];
  entry.text = crt::_strdup(word->text);
  entry.hash = word->hash;
  entry.kind = kind;
  entry.file_name = word->file_name;
  entry.line = word->line;
  entry.column = word->column;
  entry.loop_index = loop_index;
  return true;
}

void pop_block(GeneratorState& state) {
  if (state.block_count == 0) return;
  BlockEntry& entry = state.blocks[--state.block_count];
  crt::free(entry.text);
  entry.text = nullptr;
}

bool push_pending(GeneratorState& state, InstructionNode* node, char marker_kind = 0, int32_t marker_index = 0) {
  if (state.pending_count >= kPendingSlots) return stop_on_full_table(state);
  state.pending[state.pending_count++] = PendingJump{node, marker_kind, marker_index};
  return true;
}

// A loop's exit jump goes right above the loop's own marker, so blocks opened inside the
// loop (a CASE) do not take it.
void push_exit_jump(GeneratorState& state, InstructionNode* node, char marker_kind, int32_t marker_index) {
  if (state.pending_count >= kPendingSlots) {
    stop_on_full_table(state);
    return;
  }
  int32_t at = state.pending_count;
  for (int32_t index = state.pending_count - 1; index >= 0; --index) {
    const PendingJump& entry = state.pending[index];
    if (!entry.node && entry.marker_kind == marker_kind && entry.marker_index == marker_index) {
      at = index + 1;
      break;
    }
  }
  std::memmove(&state.pending[at + 1], &state.pending[at],
               static_cast<size_t>(state.pending_count - at) * sizeof(PendingJump));
  state.pending[at] = PendingJump{node, 0, 0};
  ++state.pending_count;
}

void push_if(GeneratorState& state, const CodeListNode* word) {
  if (state.if_count >= kIfSlots) {
    stop_on_full_table(state);
    return;
  }
  if (!push_block(state, word, 'I')) return;
  state.ifs[state.if_count++] = IfEntry{emit_op(state, kIf), state.if_level};
}

void open_loop(GeneratorState& state, const CodeListNode* word, uint32_t opcode, double operand) {
  if (state.loop_count >= kLoopSlots) {
    stop_on_full_table(state);
    return;
  }
  const int32_t block_index = state.block_count;
  if (!push_block(state, word, 'W', state.loop_count)) return;
  if (!push_pending(state, nullptr, 'B', block_index)) return;
  state.loops[state.loop_count].head = emit_op(state, opcode, nullptr, operand);
  state.loops[state.loop_count].back_branch = nullptr;
  ++state.loop_count;
}

void start_loop(GeneratorState& state, uint32_t opcode) {
  InstructionNode* node = emit_op(state, opcode);
  if (state.loop_count >= kLoopSlots) {
    stop_on_full_table(state);
    return;
  }
  state.loops[state.loop_count].start = node;
}

// The loop a BREAK or CONTINUE leaves: the nearer of the innermost loop block and the
// innermost REPEAT. False when there is none.
struct LoopTarget {
  bool is_repeat;
  int32_t block_index;   // loop block
  int32_t repeat_index;  // REPEAT entry
};

bool find_loop_target(const GeneratorState& state, LoopTarget* target) {
  if (state.block_count == 0) return false;
  int32_t block_index = -1;
  if (state.loop_count > 0) {
    for (int32_t index = state.block_count - 1; index >= 0; --index) {
      if (state.blocks[index].kind == 'W') {
        block_index = index;
        break;
      }
    }
  }
  int32_t repeat_index = -1;
  for (int32_t index = state.repeat_count - 1; index >= 0; --index) {
    if (!state.repeats[index].is_try) {
      repeat_index = index;
      break;
    }
  }
  if (block_index < 0 && repeat_index < 0) return false;
  const bool loop_inside_repeat = repeat_index < 0 || block_index >= state.repeats[repeat_index].block_depth;
  *target = LoopTarget{!(block_index >= 0 && loop_inside_repeat), block_index, repeat_index};
  return true;
}

void handle_break(GeneratorState& state, bool is_continue) {
  LoopTarget target{};
  if (!find_loop_target(state, &target)) {
    report(state, is_continue ? "CONTINUE statement found outside a loop" : "BREAK statement found outside a loop");
    return;
  }
  if (is_continue) {
    InstructionNode* start = target.is_repeat ? state.repeats[target.repeat_index].node
                                              : state.loops[state.blocks[target.block_index].loop_index].start;
    emit_op(state, kBranch, nullptr, 0, start);
    emit_op(state, kEndLoop);
    return;
  }
  if (!target.is_repeat) {
    const BlockEntry& block = state.blocks[target.block_index];
    if (block.hash == hash_name_text("FOREACH") || block.hash == hash_name_text("FOREACHREV")) {
      emit_op(state, kBreak, nullptr, 0, state.loops[block.loop_index].head);
    }
  }
  InstructionNode* branch = emit_op(state, kBranch);
  if (target.is_repeat) {
    push_exit_jump(state, branch, 'R', target.repeat_index);
  } else {
    push_exit_jump(state, branch, 'B', target.block_index);
  }
  emit_op(state, kEndLoop);
}

void handle_case_label(GeneratorState& state, const CodeListNode* word) {
  if (state.default_pending) {
    state.default_pending = false;
    return;
  }
  if (state.case_label_count >= kCaseLabelSlots) {
    stop_on_full_table(state);
    return;
  }
  InstructionNode* node = emit_op(state, kPushCase, nullptr, state.block_count - 1);
  if (node) node->work = static_cast<uint32_t>(std::atoi(word->text + 1));
  state.case_labels[state.case_label_count++] = CaseLabel{state.case_nesting, node};
}

// The label of the running CASE still waiting for the end of its section.
InstructionNode* take_case_label(GeneratorState& state) {
  if (state.case_label_count == 0 || state.case_labels[state.case_label_count - 1].nesting != state.case_nesting) {
    return nullptr;
  }
  return state.case_labels[--state.case_label_count].node;
}

void handle_end(GeneratorState& state) {
  if (state.block_count == 0) {
    report(state, "END statement not linked with any statement");
    return;
  }
  const int32_t block_index = state.block_count - 1;
  const BlockEntry entry = state.blocks[block_index];
  if (state.block_count <= kCaseDepthBytes) state.case_first_section[state.block_count - 1] = 0;
  pop_block(state);
  switch (entry.kind) {
    case 'I': {
      if (state.if_count == 0) break;
      bool first = true;
      while (state.if_count > 0 && state.ifs[state.if_count - 1].level == state.if_level) {
        set_link(state.ifs[--state.if_count].node, state.tail);
        if (!first) pop_block(state);
        first = false;
      }
      --state.if_level;
      return;
    }
    case 'W': {
      if (state.loop_count == 0) break;
      LoopEntry& loop = state.loops[--state.loop_count];
      InstructionNode* back = emit_op(state, kBranch, nullptr, 0, loop.start);
      set_link(loop.head, back);
      loop.back_branch = back;
      patch_pending_jumps(back, state.pending, &state.pending_count, 'B', block_index);
      emit_op(state, kEndLoop);
      return;
    }
    case 'C': {
      if (InstructionNode* label = take_case_label(state)) set_link(label, state.tail);
      --state.case_nesting;
      patch_pending_jumps(state.tail, state.pending, &state.pending_count, 'B', block_index);
      return;
    }
    case 'X': {
      if (state.loop_count == 0) break;
      LoopEntry& loop = state.loops[--state.loop_count];
      if (loop.head) {
        set_link(loop.head, state.tail);
        emit_op(state, kExcept);
      }
      return;
    }
    case '1':
      emit_op(state, kEndProc, state.current_procedure ? state.current_procedure->text : nullptr);
      state.current_procedure = nullptr;
      return;
  }
  report(state, "Syntax error");
}

void handle_until(GeneratorState& state) {
  if (state.repeat_count == 0 || state.repeats[state.repeat_count - 1].is_try) {
    report(state, "UNTIL found without a REPEAT statement");
    return;
  }
  const int32_t index = --state.repeat_count;
  InstructionNode* until = emit_op(state, kUntil, nullptr, 0, state.repeats[index].node);
  patch_pending_jumps(until, state.pending, &state.pending_count, 'R', index);
  emit_op(state, kEndLoop);
}

void handle_except(GeneratorState& state, const CodeListNode* word) {
  if (state.repeat_count == 0 || !state.repeats[state.repeat_count - 1].is_try) {
    report(state, "EXCEPT found without a TRY statement");
    return;
  }
  if (state.loop_count >= kLoopSlots) {
    stop_on_full_table(state);
    return;
  }
  InstructionNode* branch = emit_op(state, kBranch);
  const int32_t loop_index = state.loop_count;
  if (!push_block(state, word, 'X', loop_index)) return;
  state.loops[loop_index] = LoopEntry{nullptr, nullptr, branch};
  ++state.loop_count;
  set_link(state.repeats[--state.repeat_count].node, branch);
}

void handle_finally(GeneratorState& state) {
  if (state.block_count == 0) return;
  const BlockEntry& entry = state.blocks[state.block_count - 1];
  if (entry.kind != 'X' || entry.loop_index < 0 || entry.loop_index >= state.loop_count) return;
  LoopEntry& loop = state.loops[entry.loop_index];
  if (!loop.head) return;
  set_link(loop.head, state.tail);
  loop.head = nullptr;
  emit_op(state, kExcept);
}

bool push_repeat(GeneratorState& state, InstructionNode* node, bool is_try) {
  if (state.repeat_count >= kRepeatSlots) return stop_on_full_table(state);
  state.repeats[state.repeat_count++] = RepeatEntry{node, is_try, state.block_count};
  return true;
}

}  // namespace

void patch_pending_jumps(InstructionNode* target, PendingJump* stack, int32_t* count, char marker_kind,
                         int32_t marker_index) {
  while (*count > 0) {
    const PendingJump entry = stack[--*count];
    if (!entry.node) {
      if (entry.marker_kind == marker_kind && entry.marker_index == marker_index) return;
      continue;
    }
    set_link(entry.node, target);
  }
}

bool handle_block_word(GeneratorState& state, CodeListNode* word) {
  const BlockWord kind = classify(word);
  switch (kind) {
    case BlockWord::None:
      return false;
    case BlockWord::If:
      ++state.if_level;
      push_if(state, word);
      break;
    case BlockWord::ElseIf:
      push_if(state, word);
      break;
    case BlockWord::Else: {
      if (state.if_count == 0) {
        report(state, "ELSE statement found without an IF statement '%s'", word->text);
        break;
      }
      InstructionNode* branch = emit_op(state, kBranch);
      set_link(state.ifs[state.if_count - 1].node, branch);
      state.ifs[state.if_count - 1] = IfEntry{branch, state.if_level};
      break;
    }
    case BlockWord::End:
      handle_end(state);
      break;
    case BlockWord::StartWhile:
    case BlockWord::StartRepeat:
      start_loop(state, kInitWhile);
      break;
    case BlockWord::StartForeach:
      start_loop(state, kInitForeach);
      break;
    case BlockWord::StartFor:
      start_loop(state, kInitFor);
      break;
    case BlockWord::While:
      open_loop(state, word, kWhile, 0);
      break;
    case BlockWord::For:
      open_loop(state, word, kFor, 0);
      break;
    case BlockWord::Foreach:
      open_loop(state, word, kForeach, 0);
      break;
    case BlockWord::ForeachRev:
      open_loop(state, word, kForeach, 1);
      break;
    case BlockWord::Repeat:
      if (push_repeat(state, state.tail, false)) push_pending(state, nullptr, 'R', state.repeat_count - 1);
      break;
    case BlockWord::Try:
      push_repeat(state, emit_op(state, kTry), true);
      break;
    case BlockWord::Until:
      handle_until(state);
      break;
    case BlockWord::Break:
      handle_break(state, false);
      break;
    case BlockWord::Continue:
      handle_break(state, true);
      break;
    case BlockWord::Case: {
      const int32_t block_index = state.block_count;
      if (!push_block(state, word, 'C')) break;
      if (state.block_count <= kCaseDepthBytes) state.case_first_section[state.block_count - 1] = 1;
      ++state.case_nesting;
      if (!push_pending(state, nullptr, 'B', block_index)) break;
      emit_op(state, kPullCase, nullptr, block_index);
      break;
    }
    case BlockWord::StartCase: {
      const int32_t depth = state.block_count - 1;
      const bool first_section = depth >= 0 && depth < kCaseDepthBytes && state.case_first_section[depth];
      if (!first_section) {
        InstructionNode* branch = emit_op(state, kBranch);
        if (!push_pending(state, branch)) break;
        if (InstructionNode* label = take_case_label(state)) set_link(label, branch);
      }
      if (depth >= 0 && depth < kCaseDepthBytes) state.case_first_section[depth] = 0;
      break;
    }
    case BlockWord::Default:
      state.default_pending = true;
      break;
    case BlockWord::Label:
      handle_case_label(state, word);
      break;
    case BlockWord::Except:
      handle_except(state, word);
      break;
    case BlockWord::Finally:
      handle_finally(state);
      break;
  }
  return true;
}

void close_open_blocks(GeneratorState& state) {
  state.word = nullptr;
  if (state.if_count > 0) report(state, "An IF statement has not been closed with an END statement");
  if (state.repeat_count > 0) {
    report(state, "A REPEAT, FOREACH or a FOR statement has not been closed with an UNTIL statement!");
  }
  if (state.loop_count > 0) report(state, "A WHILE statement has not been closed with an END statement!");
  if (state.block_count > 0) {
    const BlockEntry& innermost = state.blocks[state.block_count - 1];
    CodeListNode place{};
    place.text = innermost.text;
    // A procedure head is named by its name, not by the header bytes before it.
    const auto kind = static_cast<uint8_t>(place.text ? place.text[0] : 0);
    const bool head = kind == 0xE9 || kind == 0xEC || kind == 0xEA || kind == 0xC4;
    if (head && std::strlen(place.text) > 4) place.text += 4;
    place.hash = innermost.hash;
    place.file_name = innermost.file_name;
    place.line = innermost.line;
    place.column = innermost.column;
    report_compile_message(state.file_name, "An END statement is missing", &place, -1, false);
    while (state.block_count > 0) pop_block(state);
  }
}

}  // namespace codegen
