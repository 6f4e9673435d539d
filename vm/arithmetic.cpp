// Arithmetic and text-joining operators: "+", "-", "*", "/" with their fused forms,
// "concat" and "%", and the text operations (cut, remove, repeat, split) they share.
#include "vm/arithmetic.h"

#include <cstring>

#include "foundation/conversion.h"
#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "platform/platform.h"
#include "vm/assignment.h"
#include "vm/builtin_registry.h"
#include "vm/elementwise.h"

namespace {

// "concat" keeps at most this many argument texts.
constexpr int32_t kConcatSlots = 256;

// ---- Operands ----

// A block of the running depth, freed with it.
template <typename T>
T* owned(T* block) {
  if (block && current_program && !context_own_allocation(current_program, block, 0, kOwnedMemory)) {
    crt::free(block);
    return nullptr;
  }
  return block;
}

// The 8-bit text of an operand: its own text, a UTF-16 text narrowed, or its number
// formatted. Made texts belong to the running depth.
const char* operand_text(const void* text, uint32_t flags, double number) {
  const char* result;
  if (!text) result = owned(number_to_text(number));
  else if (flags & kCellWideText) result = owned(to_narrow(static_cast<const char16_t*>(text)));
  else result = static_cast<const char*>(text);
  return result ? result : "";
}
const char* operand_text(const ValueCell* cell) { return operand_text(cell->text, cell->flags, cell->number); }

double operand_value(const ValueCell* cell) {
  return cell->text ? text_to_number(operand_text(cell)) : cell->number;
}
bool operand_numeric(const ValueCell* cell) { return !cell->text || is_numeric_text(operand_text(cell)); }
int32_t operand_count(const ValueCell* cell) { return truncate_to_int(operand_value(cell)); }

bool is_list(const ValueCell* cell) { return (cell->flags & kCellList) && cell->text; }

[[gnu::always_inline]] inline void push_number(double number) { stack_push_number(current_program, number); }
void push_text(char* text) { push_owned_result(text, 0); }

// The value of the fused instruction's variable, as the variable push would show it.
struct VariableOperand {
  Variable* variable;
  const char* text;  // 8-bit text, or null for a number
  double number;
  void* list;        // the packed list of a packed-list variable
};

VariableOperand variable_operand() {
  VariableOperand operand{};
  operand.variable = instruction_variable();
  void* text = nullptr;
  get_variable_value(operand.variable, &text, &operand.number, nullptr);
  if (operand.variable && (operand.variable->flags & kVariablePackedList) && text) {
    operand.list = text;
  } else if (text) {
    uint32_t flags = (operand.variable && (operand.variable->flags & kVariableWideText)) ? kCellWideText : 0;
    operand.text = operand_text(text, flags, 0);
  }
  return operand;
}

bool non_numeric(const VariableOperand& operand) { return operand.text && !is_numeric_text(operand.text); }
double value_of(const VariableOperand& operand) {
  return operand.text ? text_to_number(operand.text) : operand.number;
}

// A packed-list variable combined element-wise with the constant, the list on the left.
bool push_variable_list(const VariableOperand& operand, char code, double constant) {
  if (!operand.list) return false;
  push_owned_result(packed_list_combine_scalar(code, operand.list, nullptr, constant), kCellList);
  return true;
}

double instruction_number() { return current_instruction->operand; }
const char* instruction_text() { return current_instruction->text ? current_instruction->text : ""; }

// The slow paths of the generic handlers, out of the both-numbers fast path.
void add_slow(const ValueCell* left, const ValueCell* right) {
  if ((is_list(left) || is_list(right)) && elementwise_operator('+', left, right)) return;
  if (operand_numeric(left) && operand_numeric(right)) {
    push_number(operand_value(left) + operand_value(right));
    return;
  }
  push_text(text_join(operand_text(left), operand_text(right)));
}

void sub_slow(const ValueCell* left, const ValueCell* right) {
  if ((is_list(left) || is_list(right)) && elementwise_operator('-', left, right)) return;
  if (!left->text) {
    push_number(left->number - operand_value(right));
  } else if (!right->text) {
    push_text(text_cut(operand_text(left), operand_count(right)));
  } else {
    push_text(text_remove_all(operand_text(left), operand_text(right)));
  }
}

void mul_slow(const ValueCell* left, const ValueCell* right) {
  if ((is_list(left) || is_list(right)) && elementwise_operator('*', left, right)) return;
  if (left->text && right->text) {
    push_number(text_to_number(operand_text(left)) * text_to_number(operand_text(right)));
  } else if (left->text) {
    push_text(text_repeat(operand_text(left), operand_count(right)));
  } else {
    push_text(text_repeat(operand_text(right), operand_count(left)));
  }
}

void div_slow(const ValueCell* left, const ValueCell* right) {
  if ((is_list(left) || is_list(right)) && elementwise_operator('/', left, right)) return;
  if (left->text && !right->text) {
    push_split_pieces(operand_text(left), operand_count(right));
    return;
  }
  push_number(operand_value(left) / operand_value(right));
}

// Adds a part's length to a join's total; true when the total no longer fits a request
// (a quarter of the address space leaves room for wide characters and the end mark).
bool add_length(size_t* total, size_t length) {
  if (length >= SIZE_MAX / 4 - *total) return true;
  *total += length;
  return false;
}

// A join result held by its cell alone, marked so that a further join grows it in place
// and a store takes it over without copying.
void push_sole_text(char* text) {
  push_text(text);
  ValueCell* cell = current_program->stack_top;
  if (text && cell && cell->text == text) cell->flags |= kCellSoleText;
}

// "a % b % c" grows the first join's block instead of copying it once per operand: true
// when left was such a block, now holding right too and pushed as the result. Safe only
// while the block is held by left's cell alone (kCellSoleText: no variable or other cell
// shows it, right included) and is the newest allocation of the depth, whose record the
// realloc then updates.
bool append_to_sole_text(ProgramContext* context, ValueCell* left, const ValueCell* right) {
  if (!(left->flags & kCellSoleText) || left->flags & (kCellWideText | kCellList) || left->references ||
      right->text == left->text || !context_newest_allocation_is(context, left->text)) {
    return false;
  }
  uint32_t size = alloc_block_size(left->text);
  if (!size) return false;
  // The right number's text is formatted without registering it: the newest record must
  // stay left's block.
  char* number_text = right->text ? nullptr : number_to_text(right->number);
  const char* tail = right->text ? static_cast<const char*>(right->text) : number_text;
  size_t left_length = size - 1;
  size_t tail_length = tail ? std::strlen(tail) : 0;
  char* grown = nullptr;
  if (tail && tail_length < SIZE_MAX / 4 - size) grown = static_cast<char*>(crt::realloc(left->text, size + tail_length));
  if (grown) {
    std::memcpy(grown + left_length, tail, tail_length + 1);
    context_replace_newest_allocation(context, grown);
    ValueCell* cell = stack_push_cell(context, false);
    if (cell) {
      cell->number = 0;
      cell->text = grown;
      cell->variable = nullptr;
      cell->data = 0;
      cell->flags = kCellSoleText;
      cell->variant_type = 0;
      cell->references = nullptr;
    }
  }
  crt::free(number_text);
  return grown != nullptr;
}

}  // namespace

// ---- Text operations ----

char* text_cut(const char* text, int32_t count) {
  size_t length = std::strlen(text);
  size_t keep = length;
  if (count > 0) keep = static_cast<size_t>(count) >= length ? 0 : length - static_cast<size_t>(count);
  // Sized to the result: block sizes are read back as text lengths.
  char* result = static_cast<char*>(crt::malloc(keep + 1));
  if (!result) return nullptr;
  std::memcpy(result, text, keep);
  result[keep] = 0;
  return result;
}

char* text_remove_all(const char* text, const char* pattern) {
  size_t length = std::strlen(text);
  char* result = static_cast<char*>(crt::malloc(length + 1));
  if (!result) return nullptr;
  std::memcpy(result, text, length + 1);
  size_t pattern_length = std::strlen(pattern);
  if (pattern_length == 0) return result;
  // Each removal shortens the text, so the search from the start ends.
  bool removed = false;
  while (char* found = std::strstr(result, pattern)) {
    std::memmove(found, found + pattern_length, std::strlen(found + pattern_length) + 1);
    removed = true;
  }
  if (!removed) return result;
  // Sized to the result: block sizes are read back as text lengths.
  char* exact = text_join(result, "");
  crt::free(result);
  return exact;
}

char* text_repeat(const char* text, int32_t count) {
  size_t length = std::strlen(text);
  size_t times = count > 0 ? static_cast<size_t>(count) : 0;
  // A repeat whose size does not fit the address space gives the empty text.
  if (length && times > (0x7FFFFFFFu - 1) / length) times = 0;
  char* result = static_cast<char*>(crt::malloc(length * times + 1));
  if (!result) {
    result = static_cast<char*>(crt::malloc(1));
    times = 0;
  }
  if (!result) return nullptr;
  for (size_t index = 0; index < times; ++index) std::memcpy(result + index * length, text, length);
  result[length * times] = 0;
  return result;
}

char* text_join(const char* first, const char* second) {
  size_t first_length = std::strlen(first);
  size_t second_length = std::strlen(second);
  // Two halves of the address space do not add up to a size: that request fails too.
  char* result = first_length < SIZE_MAX / 2 && second_length < SIZE_MAX / 2
                     ? static_cast<char*>(crt::malloc(first_length + second_length + 1))
                     : nullptr;
  if (!result) {
    runtime_error("Out of memory");
    return nullptr;
  }
  std::memcpy(result, first, first_length);
  std::memcpy(result + first_length, second, second_length + 1);
  return result;
}

int32_t split_piece_length(int32_t length, int32_t pieces) {
  float quotient = static_cast<float>(length) / static_cast<float>(pieces);
  int32_t whole = static_cast<int32_t>(quotient);
  return quotient > static_cast<float>(whole) ? whole + 1 : whole;
}

char* split_piece(const char* text, int32_t piece_length, int32_t index) {
  int64_t length = static_cast<int64_t>(std::strlen(text));
  int64_t start = static_cast<int64_t>(piece_length) * index;
  int64_t size = 0;
  if (start < length) size = length - start < piece_length ? length - start : piece_length;
  char* piece = static_cast<char*>(crt::malloc(static_cast<size_t>(size) + 1));
  if (!piece) return nullptr;
  if (size > 0) std::memcpy(piece, text + start, static_cast<size_t>(size));
  piece[size] = 0;
  return piece;
}

void push_split_pieces(const char* text, int32_t pieces) {
  if (pieces < 1) return;
  int32_t piece_length = split_piece_length(static_cast<int32_t>(std::strlen(text)), pieces);
  for (int32_t index = 0; index < pieces; ++index) push_text(split_piece(text, piece_length, index));
}

// ---- Generic handlers ----

namespace {

// A number result written into the cell of the deepest operand: the cell that popping the
// operands and pushing the result would give, without the round trip through the top.
[[gnu::always_inline]] inline void number_in_place(ProgramContext* context, ValueCell* cell, double number) {
  cell_hold_plain(cell, number);
  context->stack_top = cell;
}

// The two operand cells of a binary operator when both are numbers, else null. A cell
// without text holds its whole value in number (texts, wide texts and lists keep their
// block in text), so two such cells combine as the slow path would combine them.
[[gnu::always_inline]] inline ValueCell* number_pair(ProgramContext* context, double* left, double* right) {
  ValueCell* top = context->stack_top;
  ValueCell* below = top ? top->below : nullptr;
  if (!below || top->text || below->text) return nullptr;
  *left = below->number;
  *right = top->number;
  return below;
}

// The operand cell of a fused operator when it is a number, else null.
[[gnu::always_inline]] inline ValueCell* number_top(ProgramContext* context) {
  ValueCell* top = context->stack_top;
  return top && !top->text ? top : nullptr;
}

// A binary operator: two numbers are combined in the lower cell, anything else goes to
// the operator's slow path.
template <typename Combine>
[[gnu::always_inline]] inline void binary_operator(Combine combine, void (*slow)(const ValueCell*, const ValueCell*)) {
  ProgramContext* context = current_program;
  double x, y;
  if (ValueCell* cell = number_pair(context, &x, &y)) return number_in_place(context, cell, combine(x, y));
  ValueCell* right = stack_pop(context);
  ValueCell* left = stack_pop(context);
  slow(left, right);
}

}  // namespace

void op_add() { binary_operator([](double x, double y) { return x + y; }, add_slow); }

void op_sub() { binary_operator([](double x, double y) { return x - y; }, sub_slow); }

void op_mul() { binary_operator([](double x, double y) { return x * y; }, mul_slow); }

void op_div() { binary_operator([](double x, double y) { return x / y; }, div_slow); }

void op_concat() {
  ProgramContext* context = current_program;
  ValueCell* mark;
  if (!stack_take_mark(context, &mark)) {
    push_text(text_join("", ""));
    return;
  }
  // Arguments, last first; the popped cells stay intact until the result is pushed.
  const ValueCell* arguments[kConcatSlots];
  int32_t count = 0;
  bool too_many = false;
  bool wide = false;
  ValueCell* cell = context->stack_top;
  while (cell != mark) {
    if (!cell) {
      runtime_error("Argument list without a stack mark");
      push_text(text_join("", ""));
      return;
    }
    if (count < kConcatSlots) arguments[count] = cell;
    else too_many = true;
    if (cell->text && (cell->flags & kCellWideText)) wide = true;
    ++count;
    cell = cell->below;
  }
  context->stack_top = mark;
  if (too_many) {
    runtime_error("concat takes at most %d arguments, not %d", kConcatSlots, count);
    push_text(text_join("", ""));
    return;
  }
  if (!wide) {
    const char* texts[kConcatSlots];
    size_t total = 0;
    bool too_long = false;
    for (int32_t index = 0; index < count; ++index) {
      texts[index] = operand_text(arguments[index]);
      too_long = add_length(&total, std::strlen(texts[index])) || too_long;
    }
    char* result = too_long ? nullptr : static_cast<char*>(crt::calloc(total + 1, 1));
    if (!result) runtime_error("Out of memory");
    if (result) {
      char* at = result;
      for (int32_t index = count - 1; index >= 0; --index) {
        size_t length = std::strlen(texts[index]);
        std::memcpy(at, texts[index], length);
        at += length;
      }
    }
    push_text(result);
    return;
  }
  const WCHAR* texts[kConcatSlots];
  size_t total = 0;
  bool too_long = false;
  for (int32_t index = 0; index < count; ++index) {
    texts[index] = cell_wide_text(arguments[index]);
    too_long = add_length(&total, crt::wcslen(texts[index])) || too_long;
  }
  WCHAR* result = too_long ? nullptr : static_cast<WCHAR*>(crt::calloc(total + 1, sizeof(WCHAR)));
  if (!result) runtime_error("Out of memory");
  if (result) {
    WCHAR* at = result;
    for (int32_t index = count - 1; index >= 0; --index) {
      size_t length = crt::wcslen(texts[index]);
      if (length) std::memcpy(at, texts[index], length * sizeof(WCHAR));
      at += length;
    }
  }
  push_owned_result(result, kCellWideText);
}

void op_percent() {
  ProgramContext* context = current_program;
  ValueCell* right = stack_pop(context);
  ValueCell* left = stack_pop(context);
  bool wide = (left->text && (left->flags & kCellWideText)) || (right->text && (right->flags & kCellWideText));
  if (!wide) {
    if (append_to_sole_text(context, left, right)) return;
    push_sole_text(text_join(operand_text(left), operand_text(right)));
    return;
  }
  const WCHAR* first = cell_wide_text(left);
  const WCHAR* second = cell_wide_text(right);
  size_t first_length = crt::wcslen(first);
  size_t second_length = crt::wcslen(second);
  WCHAR* result = first_length < SIZE_MAX / 4 && second_length < SIZE_MAX / 4
                      ? static_cast<WCHAR*>(crt::calloc(first_length + second_length + 1, sizeof(WCHAR)))
                      : nullptr;
  if (result) {
    if (first_length) std::memcpy(result, first, first_length * sizeof(WCHAR));
    if (second_length) std::memcpy(result + first_length, second, second_length * sizeof(WCHAR));
  } else {
    runtime_error("Out of memory");
  }
  push_owned_result(result, kCellWideText);
}

// ---- Fused forms ----

void op_add2() {
  ProgramContext* context = current_program;
  double constant = instruction_number();
  if (ValueCell* cell = number_top(context)) return number_in_place(context, cell, cell->number + constant);
  ValueCell* left = stack_pop(context);
  if (!left->text) {
    push_number(left->number + constant);
  } else if (is_list(left)) {
    elementwise_push_scalar('+', left, constant);
  } else if (!operand_numeric(left)) {
    push_text(text_join(operand_text(left), operand_text(nullptr, 0, constant)));
  } else {
    push_number(operand_value(left) + constant);
  }
}

void op_add4() {
  ValueCell* left = stack_pop(current_program);
  const char* text = instruction_text();
  if (is_list(left)) {
    elementwise_push_text('+', left, text);
  } else if (operand_numeric(left) && is_numeric_text(text)) {
    push_number(operand_value(left) + text_to_number(text));
  } else {
    push_text(text_join(operand_text(left), text));
  }
}

void op_add5() {
  VariableOperand operand = variable_operand();
  double constant = instruction_number();
  if (push_variable_list(operand, '+', constant)) return;
  if (non_numeric(operand)) push_text(text_join(operand.text, operand_text(nullptr, 0, constant)));
  else push_number(value_of(operand) + constant);
}

void op_add6() {
  VariableOperand operand = variable_operand();
  double constant = instruction_number();
  if (push_variable_list(operand, '+', constant)) return;
  if (non_numeric(operand)) push_text(text_join(operand_text(nullptr, 0, constant), operand.text));
  else push_number(constant + value_of(operand));
}

void op_sub2() {
  ProgramContext* context = current_program;
  double constant = instruction_number();
  if (ValueCell* cell = number_top(context)) return number_in_place(context, cell, cell->number - constant);
  ValueCell* left = stack_pop(context);
  if (!left->text) push_number(left->number - constant);
  else if (is_list(left)) elementwise_push_scalar('-', left, constant);
  else push_text(text_cut(operand_text(left), truncate_to_int(constant)));
}

void op_sub4() {
  ValueCell* left = stack_pop(current_program);
  if (is_list(left)) elementwise_push_text('-', left, instruction_text());
  else push_text(text_remove_all(operand_text(left), instruction_text()));
}

void op_sub5() {
  VariableOperand operand = variable_operand();
  double constant = instruction_number();
  if (push_variable_list(operand, '-', constant)) return;
  if (non_numeric(operand)) push_text(text_cut(operand.text, truncate_to_int(constant)));
  else push_number(value_of(operand) - constant);
}

void op_sub6() {
  VariableOperand operand = variable_operand();
  double constant = instruction_number();
  if (push_variable_list(operand, '-', constant)) return;
  push_number(constant - value_of(operand));
}

void op_mul2() {
  ProgramContext* context = current_program;
  double constant = instruction_number();
  if (ValueCell* cell = number_top(context)) return number_in_place(context, cell, cell->number * constant);
  ValueCell* left = stack_pop(context);
  if (!left->text) push_number(left->number * constant);
  else if (is_list(left)) elementwise_push_scalar('*', left, constant);
  else push_text(text_repeat(operand_text(left), truncate_to_int(constant)));
}

void op_mul5() {
  VariableOperand operand = variable_operand();
  double constant = instruction_number();
  if (push_variable_list(operand, '*', constant)) return;
  if (non_numeric(operand)) push_text(text_repeat(operand.text, truncate_to_int(constant)));
  else push_number(value_of(operand) * constant);
}

void op_mul6() {
  VariableOperand operand = variable_operand();
  double constant = instruction_number();
  if (push_variable_list(operand, '*', constant)) return;
  if (non_numeric(operand)) push_text(text_repeat(operand.text, truncate_to_int(constant)));
  else push_number(constant * value_of(operand));
}

void op_div2() {
  ProgramContext* context = current_program;
  double constant = instruction_number();
  if (ValueCell* cell = number_top(context)) return number_in_place(context, cell, cell->number / constant);
  ValueCell* left = stack_pop(context);
  if (!left->text) push_number(left->number / constant);
  else if (is_list(left)) elementwise_push_scalar('/', left, constant);
  else push_split_pieces(operand_text(left), truncate_to_int(constant));
}

void op_div5() {
  VariableOperand operand = variable_operand();
  double constant = instruction_number();
  if (push_variable_list(operand, '/', constant)) return;
  if (non_numeric(operand)) push_split_pieces(operand.text, truncate_to_int(constant));
  else push_number(value_of(operand) / constant);
}

void op_div6() {
  VariableOperand operand = variable_operand();
  double constant = instruction_number();
  if (push_variable_list(operand, '/', constant)) return;
  if (non_numeric(operand)) push_number(0);
  else push_number(constant / value_of(operand));
}

void register_arithmetic_handlers() {
  builtin_register("+", op_add);
  builtin_register("-", op_sub);
  builtin_register("*", op_mul);
  builtin_register("/", op_div);
  builtin_register_variadic_ex("concat", op_concat, 1, 1, 1);
  builtin_register("%", op_percent);
}
