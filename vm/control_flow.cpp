// Control-flow handlers: branches, FOR and FOREACH loops with their per-loop first pass
// and loop states, CASE slots with bound checks, and TRY blocks over the machine's stack.
#include "vm/control_flow.h"

#include <cstring>

#include "foundation/conversion.h"
#include "foundation/hashes.h"
#include "foundation/list_elements.h"
#include "foundation/packed_list.h"
#include "foundation/machine_state.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_ownership.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"
#include "vm/builtin_registry.h"
#include "vm/declarations.h"
#include "vm/instruction_list.h"
#include "vm/listing.h"
#include "vm/machine.h"

uint8_t while_first_pass = 0;
InstructionNode* pending_forward_link = nullptr;
IterationCursor* open_cursors = nullptr;

// A FOREACH node frees its loop states whenever it is freed, registered or not.
[[maybe_unused]] static const bool loop_chain_owned =
    (instruction_handler_owns_loop_chain(flow::op_foreach, foreach_state_release), true);

namespace {

// ---- First passes, kept per loop ----

// A loop whose INITFOR/INITFOREACH ran and whose FOR/FOREACH has not yet: recorded by the
// loop depth it opened in its program and call, so a loop that runs inside the limit
// expression of another (a called function with its own FOR) cannot consume its record.
struct LoopStart {
  ProgramContext* program;
  CallFrame* frame;
  int32_t depth;
};
constexpr int32_t kLoopStartSlots = 256;
LoopStart loop_starts[kLoopStartSlots];

LoopStart& loop_start_slot(int32_t depth) { return loop_starts[static_cast<uint32_t>(depth) % kLoopStartSlots]; }

void loop_start_record() {
  ProgramContext* program = current_program;
  loop_start_slot(program->call_depth) = LoopStart{program, current_frame, program->call_depth};
}

// True once, on the first pass of the loop opened at the running depth.
bool loop_start_take() {
  ProgramContext* program = current_program;
  LoopStart& slot = loop_start_slot(program->call_depth);
  if (slot.program != program || slot.frame != current_frame || slot.depth != program->call_depth) return false;
  slot = LoopStart{};
  return true;
}

void jump_to_link() {
  InstructionExtension* extension = current_instruction->extension;
  if (extension && extension->link) current_instruction = extension->link;
}

void enter_loop() {
  ++current_program->call_depth;
}

// Frees what was made at the running loop's depth.
void release_loop_pass() {
  ProgramContext* program = current_program;
  if (program->owned && program->owned->depth != 0) {
    context_release_depth(program, static_cast<uint32_t>(program->call_depth));
  }
  if (kept_texts) [[unlikely]] kept_texts_release(program);
}

// The cells above the innermost mark, top first (at most capacity of them); the stack is
// left at the mark. -1 when there is no mark.
int32_t take_operands(ValueCell** cells, int32_t capacity) {
  ProgramContext* program = current_program;
  ValueCell* mark;
  if (!stack_take_mark(program, &mark)) return -1;
  int32_t count = 0;
  for (ValueCell* cell = program->stack_top; cell && cell != mark; cell = cell->below) {
    if (count < capacity) cells[count] = cell;
    ++count;
  }
  program->stack_top = mark;
  return count;
}

// A later pass of FOR over a counter that holds a plain number, with number bounds: the
// step is the store of the number, as set_variable would make it. False (nothing done)
// for every other loop.
inline bool step_plain_counter(ValueCell* const* cells, int32_t count) {
  const bool has_step = count == 4;
  ValueCell* counter = cells[has_step ? 3 : 2];
  Variable* variable = counter->variable;
  if (!variable || counter->text || counter->data || !variable_takes_plain_number(variable)) return false;
  const ValueCell* limit_cell = cells[has_step ? 1 : 0];
  const ValueCell* start_cell = cells[has_step ? 2 : 1];
  if (limit_cell->text || start_cell->text || (has_step && cells[0]->text)) return false;
  const double limit = limit_cell->number;
  const double step = has_step ? cells[0]->number : (limit < start_cell->number ? -1 : 1);
  const double value = counter->number + step;
  variable->number = value;
  if (step > 0 ? value > limit : value < limit) jump_to_link();
  return true;
}

// ---- FOREACH loop states ----

// The record a FOREACH instruction's work word holds: its cursors are the loop states,
// innermost first. A cursor's element is the position: a list element, a packed item, an
// array element or a member node. A list loop's state is registered with the list
// elements while it has cursors, so removals move them.
IterationState* foreach_state(InstructionNode* node, bool create) {
  auto* state = platform::pointer_from<IterationState>(node->work);
  if (!state && create) {
    state = static_cast<IterationState*>(crt::calloc(1, sizeof(IterationState)));
    if (!state) return nullptr;
    state->second_word = platform::address_of(node);
    node->work = platform::address_of(state);
  }
  return state;
}

void open_cursor_unlink(IterationCursor* cursor) {
  if (cursor->open_newer) cursor->open_newer->open_older = cursor->open_older;
  else if (open_cursors == cursor) open_cursors = cursor->open_older;
  if (cursor->open_older) cursor->open_older->open_newer = cursor->open_newer;
  cursor->open_older = cursor->open_newer = nullptr;
}

IterationCursor* push_cursor(IterationState* state) {
  auto* cursor = static_cast<IterationCursor*>(crt::calloc(1, sizeof(IterationCursor)));
  if (!cursor) return nullptr;
  cursor->next = state->cursors;
  state->cursors = cursor;
  cursor->state = state;
  cursor->program = current_program;
  cursor->depth = current_program->call_depth;
  cursor->open_older = open_cursors;
  if (open_cursors) open_cursors->open_newer = cursor;
  open_cursors = cursor;
  return cursor;
}

// The cursor goes (the state's innermost one but for a walk that RETURN or an error left
// while a recursion's inner walk of the same loop was also left); a state left without
// cursors stands on no list element.
void drop_cursor(IterationState* state, IterationCursor* cursor) {
  IterationCursor** link = &state->cursors;
  while (*link && *link != cursor) link = &(*link)->next;
  if (*link) *link = cursor->next;
  if (cursor->walk_kind) --open_block_walks;
  open_cursor_unlink(cursor);
  crt::free(cursor);
  if (!state->cursors) list_walk_unregister(state);
}

// The innermost cursor goes.
void pop_cursor(IterationState* state) {
  if (state->cursors) drop_cursor(state, state->cursors);
}

template <typename T>
T* position_of(const IterationCursor* cursor) {
  return static_cast<T*>(static_cast<void*>(cursor->element));
}
template <typename T>
void set_position(IterationCursor* cursor, T* position) {
  cursor->element = static_cast<ListElement*>(static_cast<void*>(position));
}

// The loop is over: its state goes and the instruction jumps to the exit.
void end_foreach(IterationState* state) {
  pop_cursor(state);
  jump_to_link();
}

// The serial of the running call; cursors carry the one they were made in.
uint32_t running_call_serial() { return current_frame ? current_frame->serial : 0; }

// The state and cursor of this pass: a new cursor on the first pass (or when a later pass
// finds none). A call that left the loop by RETURN or EXIT left its cursor on top; a later
// pass of a caller's loop drops such cursors of calls made after its own. The one record
// per instruction serves every running walk of it: the innermost cursor is this walk's
// only because a first pass never reuses a live one (a recursion's outer walk still
// stands on its own) and later calls' cursors are dropped by their serial.
IterationCursor* pass_cursor(bool first_pass, bool list_loop, IterationState** state_out, bool* fresh) {
  IterationState* state = foreach_state(current_instruction, true);
  *state_out = state;
  if (!state) return nullptr;
  state->first_word = list_loop ? 1 : 0;  // the cursors are list elements
  const uint32_t serial = running_call_serial();
  if (!first_pass) {
    while (state->cursors && state->cursors->call_serial > serial) pop_cursor(state);
  }
  *fresh = first_pass || !state->cursors;
  if (!*fresh) return state->cursors;
  IterationCursor* cursor = push_cursor(state);
  if (!cursor) return nullptr;
  cursor->call_serial = serial;
  // Removals and frees of list elements move a registered walk's cursors off them.
  if (list_loop && !list_walk_register(state)) {
    pop_cursor(state);
    return nullptr;
  }
  return cursor;
}

// What a walk that views its collection in place walks; a list walk is kind 0.
enum WalkKind : uint32_t { kWalkArray = 1, kWalkPacked, kWalkMembers, kWalkGone };

// A block walk's pass: a fresh cursor records the value it walks; a later pass goes on
// only over that same value, so a position into a freed or replaced block or member list
// is never followed. One comparison per pass.
bool same_walk(IterationCursor* cursor, bool fresh, WalkKind kind, const Variable* collection, Variable* result) {
  if (fresh) {
    cursor->walk_kind = kind;
    cursor->walked_block = collection->data;
    cursor->walked_members = collection->members;
    cursor->walked_result = result;
    ++open_block_walks;
    return true;
  }
  return cursor->walk_kind == kind && cursor->walked_block == collection->data &&
         cursor->walked_members == collection->members;
}

bool inside(const void* pointer, const uint8_t* start, uint32_t size) {
  auto* at = static_cast<const uint8_t*>(pointer);
  return at && at >= start && at < start + size;
}

// A block is about to be freed or moved: the walks over it end at their next pass, and
// their results (and a structure walk's member variables) stop viewing it.
void release_walked_block(const void* block) {
  const auto* start = static_cast<const uint8_t*>(block);
  const uint32_t size = alloc_block_size(block);
  for (IterationCursor* cursor = open_cursors; cursor; cursor = cursor->open_older) {
    if (!cursor->walk_kind || cursor->walked_block != block) continue;
    cursor->walk_kind = kWalkGone;
    Variable* result = cursor->walked_result;
    if (!result || (result->flags & kVariableOwnsData)) continue;
    for (MemberNode* node = result->members; node; node = node->next) {
      Variable* member = node->member;
      if (member && member != result && inside(member->data, start, size)) {
        member->data = nullptr;
        member->element_count = 0;
      }
    }
    if (inside(result->data, start, size)) {
      result->data = nullptr;
      result->type_code = 0;
      result->number = 0;
      result->flags &= kVariablePublic;
    }
  }
}

// Makes the result variable show a value in place, owning nothing.
void view_in_place(Variable* result, void* data, int32_t type_code, uint32_t flags) {
  variable_clear_value(current_program, result, false, true);
  result->data = data;
  result->number = 0;
  result->type_code = type_code;
  result->flags = (result->flags & kVariablePublic) | flags;
}

bool refuse_missing_result(Variable* result, Variable* collection) {
  if (result && result != collection) return false;
  runtime_error("Result variable is missing");
  jump_to_link();
  return true;
}

void foreach_list(Variable* result, Variable* collection, bool backward, bool first_pass) {
  IterationState* state;
  bool fresh;
  IterationCursor* cursor = pass_cursor(first_pass, true, &state, &fresh);
  if (!cursor) return jump_to_link();
  // The walk began over a block and the variable became a list: its position is no element.
  if (!fresh && cursor->walk_kind) return end_foreach(state);
  ListElement* position;
  if (fresh) {
    ListElement* first = list_element_first(collection->cursor);
    position = first;
    if (backward) {
      while (position && position->next) position = position->next;
    }
  } else if (cursor->moved) {
    // The element the loop stood on was removed: the cursor stands on its successor or
    // predecessor, which is the next position when it lies ahead, else the step from it.
    ListElement* neighbour = cursor->element;
    const bool ahead = (cursor->moved == kCursorOnSuccessor) != backward;
    cursor->moved = 0;
    position = !neighbour || ahead ? neighbour : (backward ? neighbour->prev : neighbour->next);
  } else {
    ListElement* left = cursor->element;
    position = left ? (backward ? left->prev : left->next) : nullptr;
  }
  if (!position) return end_foreach(state);

  // The walk stands on the element through its cursor alone: no record is attached.
  cursor->element = position;
  collection->cursor = position;
  variable_load_from_element(collection);
  if (result == collection || !result) return;

  // The result shows the element's value; the element keeps owning its data.
  variable_clear_value(current_program, result, false, false);
  result->flags = (result->flags & kVariablePublic) |
                  (collection->flags & ~(kVariableList | kVariableOwnsData | kVariablePublic | kVariableObject));
  result->number = collection->number;
  result->data = collection->data;
  result->type_code = collection->type_code;
  if (collection->flags & kVariableStructure) {
    result->flags &= ~kVariableStructure;
    result->data = nullptr;
    variable_copy_struct(result, collection, 0, false);
  } else if ((collection->flags & kVariableObject) && collection->data) {
    // An object: the result names it without owning it, through its own copy of the class
    // name (an object variable's name is freed with its value).
    result->data = crt::_strdup(static_cast<const char*>(collection->data));
    if (result->data) result->flags |= kVariableObject;
  }
  std::memcpy(result->dims, collection->dims, sizeof result->dims);
  result->dim_count = collection->dim_count;
  result->element_count = collection->element_count;
  result->class_hash = collection->class_hash;
}

void foreach_packed_list(Variable* result, Variable* collection, bool backward, bool first_pass) {
  if (refuse_missing_result(result, collection)) return;
  IterationState* state;
  bool fresh;
  IterationCursor* cursor = pass_cursor(first_pass, false, &state, &fresh);
  if (!cursor) return jump_to_link();
  auto* items = static_cast<PackedItem*>(collection->data);
  if (!items || !same_walk(cursor, fresh, kWalkPacked, collection, result)) return end_foreach(state);
  PackedItem* position;
  if (fresh) {
    position = items;
    if (backward) {
      while (position->kind != kPackedEnd) ++position;
      position = position == items ? nullptr : position - 1;
    }
  } else {
    PackedItem* left = position_of<PackedItem>(cursor);
    position = backward ? (left == items ? nullptr : left - 1) : left + 1;
  }
  if (!position || position->kind == kPackedEnd) return end_foreach(state);
  set_position(cursor, position);
  if (position->kind == kPackedList) {
    uint32_t nested = static_cast<uint32_t>(truncate_to_int(position->value));
    view_in_place(result, platform::pointer_from<void>(nested), 0, kVariablePackedList);
  } else {
    view_in_place(result, position, -8, 0);
  }
}

// The name of the result's copy of a member: result X$ and member S.A% give "X.A$".
char* element_member_name(const Variable* result, const Variable* member) {
  const char* result_name = result->name ? result->name : "";
  size_t result_length = std::strlen(result_name);
  const char* member_name = member->name ? member->name : "";
  if (const char* dot = std::strrchr(member_name, '.')) member_name = dot + 1;
  size_t member_length = std::strlen(member_name);
  if (!result_length || !member_length) return nullptr;
  auto* name = static_cast<char*>(crt::malloc(result_length + member_length + 2));
  if (!name) return nullptr;
  std::memcpy(name, result_name, result_length - 1);
  name[result_length - 1] = '.';
  std::memcpy(name + result_length, member_name, member_length - 1);
  name[result_length + member_length - 1] = result_name[result_length - 1];
  name[result_length + member_length] = '\0';
  return name;
}

// The result of a loop over a structure array gets one member variable per member of the
// elements, made beside the collection; each pass re-points them at the element.
void attach_element_members(Variable* result, Variable* collection) {
  member_list_free(result);
  Variable* scope = collection->scope ? collection->scope : variable_list_first(collection);
  for (MemberNode* node = collection->members; node; node = node->next) {
    if (!node->member) continue;
    char* name = element_member_name(result, node->member);
    Variable* member = name ? create_variable(scope, name, true) : nullptr;
    crt::free(name);
    if (!member || !member_list_add(result, member)) continue;
    MemberNode* added = result->members;
    while (added->next) added = added->next;
    added->type_code = node->type_code;
    added->offset = node->offset;
    added->element_count = node->element_count;
    member->flags |= node->member->flags & kVariableWideText;
  }
}

void foreach_array(Variable* result, Variable* collection, bool backward, bool first_pass) {
  if (refuse_missing_result(result, collection)) return;
  uint32_t size = type_size(collection->type_code);
  auto* data = static_cast<uint8_t*>(collection->data);
  IterationState* state;
  bool fresh;
  IterationCursor* cursor = pass_cursor(first_pass, false, &state, &fresh);
  if (!cursor) return jump_to_link();
  // A zero-sized element would never move the position.
  if (!size || !data || !same_walk(cursor, fresh, kWalkArray, collection, result)) return end_foreach(state);
  int64_t index;
  if (fresh) {
    index = backward ? static_cast<int64_t>(collection->element_count) - 1 : 0;
  } else {
    index = (position_of<uint8_t>(cursor) - data) / size + (backward ? -1 : 1);
  }
  if (index < 0 || index >= static_cast<int64_t>(collection->element_count)) return end_foreach(state);
  uint8_t* position = data + index * size;
  set_position(cursor, position);
  if (!(collection->flags & kVariableStructure)) return view_in_place(result, position, collection->type_code, 0);
  if (fresh) attach_element_members(result, collection);
  view_in_place(result, position, collection->type_code, kVariableStructure);
  relink_struct_members(result);
}

void foreach_members(Variable* result, Variable* collection, bool backward, bool first_pass) {
  if (refuse_missing_result(result, collection)) return;
  IterationState* state;
  bool fresh;
  IterationCursor* cursor = pass_cursor(first_pass, false, &state, &fresh);
  if (!cursor) return jump_to_link();
  if (!same_walk(cursor, fresh, kWalkMembers, collection, result)) return end_foreach(state);
  MemberNode* position;
  if (fresh) {
    position = collection->members;
    if (backward) {
      while (position && position->next) position = position->next;
    }
  } else {
    MemberNode* left = position_of<MemberNode>(cursor);
    position = left ? (backward ? left->previous : left->next) : nullptr;
  }
  if (!position || !position->member) return end_foreach(state);
  set_position(cursor, position);
  view_in_place(result, position->member->data, position->type_code, 0);
}

// ---- CASE ----

// The "==" operator's registry entry, found once and checked by its hash on each use
// (the registry may have been emptied and filled anew since, another entry at that
// index); the comparison below stands in while the operator is not registered.
int32_t equal_operator_index = -1;

BuiltinHandler equal_operator() {
  static const uint32_t hash = hash_name_text("==");
  BuiltinEntry* entry = equal_operator_index >= 0 ? builtin_entry(equal_operator_index) : nullptr;
  if (!entry || entry->name_hash != hash) {
    equal_operator_index = find_builtin_by_hash(hash);
    entry = equal_operator_index >= 0 ? builtin_entry(equal_operator_index) : nullptr;
  }
  return entry ? entry->handler : nullptr;
}

const char* narrow_text(const ValueCell* cell) {
  return (cell->flags & (kCellWideText | kCellList)) ? nullptr : static_cast<const char*>(cell->text);
}

// Numbers compare as numbers, two texts as bytes, a text against a number as the number
// it reads as (a text that is no number equals nothing).
bool values_equal(const ValueCell& left, const ValueCell& right) {
  const char* left_text = narrow_text(&left);
  const char* right_text = narrow_text(&right);
  if (left_text && right_text) return std::strcmp(left_text, right_text) == 0;
  if (left_text || right_text) {
    double converted = text_to_number(left_text ? left_text : right_text);
    if (not_a_number_flag) return false;
    return converted == (left_text ? right.number : left.number);
  }
  return left.number == right.number;
}

bool case_slot_index(int32_t* slot) {
  *slot = truncate_to_int(current_instruction->operand);
  if (*slot >= 0 && *slot < kCaseSlots) return true;
  runtime_error("CASE slot %d is out of range (0 to %d)", *slot, kCaseSlots - 1);
  return false;
}

void push_slot_value(const CaseSlot& slot) {
  if (slot.text) {
    stack_push_value(slot.text, 0, nullptr, 0);
  } else {
    stack_push_number(current_program, slot.number);
  }
}

// Tests the labels on the stack against the selector of the instruction's slot.
void compare_case_labels() {
  ProgramContext* program = current_program;
  int32_t labels = static_cast<int32_t>(current_instruction->work);
  int32_t slot_index;
  if (!case_slot_index(&slot_index)) {
    for (int32_t label = 0; label < labels; ++label) stack_pop(program);
    return jump_to_link();
  }
  const CaseSlot& slot = program->case_slots[slot_index];
  BuiltinHandler equal = equal_operator();
  for (int32_t label = 0; label < labels; ++label) {
    bool matched;
    if (equal) {
      push_slot_value(slot);
      equal();
      matched = cell_number(stack_pop(program)) != 0;
    } else {
      ValueCell selector{};
      selector.text = slot.text;
      selector.number = slot.number;
      matched = values_equal(*stack_pop(program), selector);
    }
    if (matched) {
      for (int32_t rest = label + 1; rest < labels; ++rest) stack_pop(program);
      return;
    }
  }
  jump_to_link();
}

}  // namespace


bool loop_first_pass_pending() {
  ProgramContext* program = current_program;
  const LoopStart& slot = loop_start_slot(program->call_depth);
  return slot.program == program && slot.frame == current_frame && slot.depth == program->call_depth;
}

bool cell_is_true(const ValueCell* cell) { return cell->text || cell->number != 0; }

void foreach_state_release(uint32_t chain) {
  auto* state = platform::pointer_from<IterationState>(chain);
  if (!state) return;
  list_walk_unregister(state);
  while (state->cursors) {
    IterationCursor* cursor = state->cursors;
    state->cursors = cursor->next;
    if (cursor->walk_kind) --open_block_walks;
    open_cursor_unlink(cursor);
    crt::free(cursor);
  }
  crt::free(state);
}

void foreach_leave_levels(ProgramContext* program, int32_t depth) {
  // Walks are opened and left in order, and every call that ends leaves its own first:
  // the walks of the levels being left are the newest ones.
  while (IterationCursor* cursor = open_cursors) {
    if (cursor->program != program || cursor->depth <= depth) break;
    drop_cursor(cursor->state, cursor);
  }
}

namespace flow {

void vm_nop() {}

void op_branch() {
  InstructionExtension* extension = current_instruction->extension;
  InstructionNode* target = extension ? extension->link : nullptr;
  if (!target) return;
  // A jump back to a loop's head ends one pass: what the pass made for itself (texts that
  // built-ins returned) goes now, not when the loop ends, so a long loop runs in the
  // memory one pass needs.
  const BuiltinHandler head = target->handler;
  if (head == op_initwhile || head == op_initfor || head == op_initforeach) release_loop_pass();
  current_instruction = target;
}

void op_branch_if_false() {
  if (current_instruction->inner_handler) current_instruction->inner_handler();
  ProgramContext* program = current_program;
  ValueCell* top = program->stack_top;
  if (!top || !cell_is_true(top)) jump_to_link();
  stack_pop(program);
  while_first_pass = 0;
}

void op_initfor() {
  enter_loop();
  loop_start_record();
}

void op_initforeach() {
  enter_loop();
  loop_start_record();
}

void op_initwhile() {
  enter_loop();
  while_first_pass = 1;
}

void op_for() {
  ValueCell* cells[4];
  int32_t count = take_operands(cells, 4);
  bool first_pass = loop_start_take();
  if (count < 3) return jump_to_link();
  if (!first_pass && step_plain_counter(cells, count)) return;
  bool has_step = count == 4;
  int32_t at = 0;
  double step = has_step ? cell_number(cells[at++]) : 0;
  double limit = cell_number(cells[at++]);
  double start = cell_number(cells[at++]);
  ValueCell* variable_cell = cells[at];
  if (!has_step) step = limit < start ? -1 : 1;

  Variable* variable = cell_named_variable(variable_cell);
  if (!variable) return jump_to_link();
  void* typed_address = platform::pointer_from<void>(variable_cell->data);
  bool done;
  if (first_pass) {
    variable_clear_value(current_program, variable, true, false);
    set_variable(variable, nullptr, start, typed_address, 0);
    done = step > 0 ? start > limit : start < limit;
  } else {
    double value = cell_number(variable_cell) + step;
    set_variable(variable, nullptr, value, typed_address, 0);
    done = step > 0 ? value > limit : value < limit;
  }
  if (done) jump_to_link();
}

void op_foreach() {
  ValueCell* cells[2];
  int32_t count = take_operands(cells, 2);
  bool first_pass = loop_start_take();
  if (count < 1) return jump_to_link();
  // FOREACH (result, collection): the result was pushed first, so it is the deeper cell.
  ValueCell* result_cell = count > 1 ? cells[1] : cells[0];
  ValueCell* collection_cell = cells[0];
  if (count > 1 && collection_cell->data) return;
  Variable* result = cell_named_variable(result_cell);
  Variable* collection = count > 1 ? cell_named_variable(collection_cell) : result;
  bool backward = current_instruction->operand != 0;

  if (!collection) {
    jump_to_link();
  } else if (collection->flags & kVariableList) {
    foreach_list(result, collection, backward, first_pass);
  } else if (collection->flags & kVariablePackedList) {
    foreach_packed_list(result, collection, backward, first_pass);
  } else if (collection->element_count) {
    foreach_array(result, collection, backward, first_pass);
  } else if (collection->flags & kVariableStructure) {
    foreach_members(result, collection, backward, first_pass);
  } else {
    jump_to_link();
  }

  release_loop_pass();
}

void op_break() {
  InstructionExtension* extension = current_instruction->extension;
  InstructionNode* loop = extension ? extension->link : nullptr;
  if (!loop) return;
  IterationState* state = foreach_state(loop, false);
  if (state) pop_cursor(state);
}

void op_endloop() {
  release_loop_pass();
  ProgramContext* program = current_program;
  if (program->call_depth > 0) --program->call_depth;
}

void op_pullcase() {
  ProgramContext* program = current_program;
  ValueCell* cell = stack_pop(program);
  int32_t slot;
  if (!case_slot_index(&slot)) return;
  program->case_slots[slot].text = static_cast<char*>(cell->text);
  program->case_slots[slot].number = cell->number;
}

void op_pushcase() { compare_case_labels(); }

void op_pushintcase() {
  const auto* label = reinterpret_cast<const double*>(current_instruction->text);
  stack_push_number(current_program, label ? *label : 0);
  compare_case_labels();
}

void op_try() {
  InstructionExtension* extension = current_instruction->extension;
  vm_try_push(extension ? extension->link : nullptr);
}

void op_leave_try() { vm_try_pop(); }

void op_first_op() {
  InstructionNode* node = pending_forward_link;
  if (!node) return;
  instruction_extension_for(node, emit_pool);
  if (node->extension) node->extension->link = current_instruction->next;
  pending_forward_link = nullptr;
}

}  // namespace flow

void register_control_flow_handlers() {
  using namespace flow;
  walked_block_released = release_walked_block;
  struct Row {
    const char* name;
    BuiltinHandler handler;
  };
  static const Row rows[] = {
      {"STARTPROC", vm_nop},         {"STARTPROCUNDEF", vm_nop},   {"BRANCH", op_branch},
      {"IF", op_branch_if_false},    {"WHILE", op_branch_if_false}, {"UNTIL", op_branch_if_false},
      {"INITFOREACH", op_initforeach}, {"INITFOR", op_initfor},    {"INITWHILE", op_initwhile},
      {"FOR", op_for},               {"FOREACH", op_foreach},      {"BREAK", op_break},
      {"ENDLOOP", op_endloop},       {"PULLCASE", op_pullcase},    {"PUSHCASE", op_pushcase},
      {"PUSHINTCASE", op_pushintcase}, {"TRY", op_try},            {"EXPECT", op_leave_try},
      {"EXCEPT", op_leave_try},      {"FIRST_OP", op_first_op},    {"FORWARDPROC", op_first_op},
  };
  for (const Row& row : rows) builtin_register(row.name, row.handler);
  instruction_handler_owns_loop_chain(op_foreach, foreach_state_release);
  // A branch fused over the node before it lists where it goes.
  listing_register_annotation(op_branch_if_false, ListingAnnotation::ConditionalJump);
  listing_register_annotation(op_branch, ListingAnnotation::Jump);
}
