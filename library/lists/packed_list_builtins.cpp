// The packed-list built-ins: every result is a new buffer owned by the program, its
// strings and nested lists on the result cell's reference list.
#include "library/lists/packed_list_builtins.h"

#include "foundation/conversion.h"
#include "foundation/numbers.h"
#include "foundation/packed_list.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"
#include "foundation/runtime_error.h"
#include "foundation/value_ownership.h"
#include "foundation/value_stack.h"
#include "library/lists/list_cursor.h"
#include "platform/kernel/fault_guard.h"
#include "platform/kernel/memory.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"
#include "vm/elementwise.h"

namespace {

// An empty list, for an argument that carries none.
const PackedItem kEmptyList[1] = {{0.0, kPackedEnd}};

// The packed list a cell carries; the empty list for any other value.
const PackedItem* list_or_empty(const ValueCell* cell) {
  const PackedItem* list = cell_packed_list(cell);
  return list ? list : kEmptyList;
}

// Pushes a new list as a packed-list cell whose reference list owns its blocks.
void push_packed_result(PackedItem* list, ReferenceNode* references) {
  push_owned_result(list, kCellList);
  ValueCell* top = current_program ? current_program->stack_top : nullptr;
  if (top && top->text == list && list) {
    top->references = references;
  } else {
    reference_list_free(references);
  }
}

// Pops count, start and a list, and pushes the new list range_of makes of that range.
template <typename RangeOf>
void push_range_result(RangeOf range_of) {
  int32_t count = pop_integer();
  int32_t start = pop_integer();
  ValueCell* list_cell = stack_pop(current_program);
  ReferenceNode* references = nullptr;
  PackedItem* result = range_of(list_or_empty(list_cell), start, count, &references);
  release_temporary_list(list_cell);
  push_packed_result(result, references);
}

}  // namespace

void builtin_mcount() {
  int32_t recursive = pop_integer();
  ValueCell* cell = stack_pop(current_program);
  const uint32_t count = packed_list_count(cell_packed_list(cell), recursive != 0);
  release_temporary_list(cell);
  stack_push_number(current_program, count);
}

void builtin_mtype() {
  ValueCell* cell = stack_pop(current_program);
  uint32_t address = cell->data;
  // The data word is an item the runtime pointed at. A variable's data or a number is
  // read only where a whole item can stand: not in a block too small for one (a short
  // text), not in memory that cannot be read (a made-up number).
  bool checked = address == 0;
  if (!address && cell->variable) address = platform::address_of(cell->variable->data);
  if (!address) address = static_cast<uint32_t>(truncate_to_int(cell->number));
  const auto* item = platform::pointer_from<const PackedItem>(address);
  uint32_t size = 0;
  if (checked && item && (alloc_block_known(item, &size) ? size < sizeof(PackedItem) : IsBadReadPtr(item, sizeof(PackedItem)))) {
    item = nullptr;
  }
  int32_t kind = 0;
  if (item) {
    platform::FaultGuard guard;
    if (FAULT_GUARD_ENTER(guard)) {
      kind = item->kind;
      platform::fault_guard_leave(&guard);
    } else {
      runtime_fault(guard);
      kind = 0;
    }
  }
  stack_push_number(current_program, kind);
}

void builtin_madd() {
  ValueCell* value = stack_pop(current_program);
  void* text = value->text;
  double number = value->number;
  uint32_t flags = value->flags;
  ValueCell* list_cell = stack_pop(current_program);
  const PackedItem* list = list_or_empty(list_cell);
  ReferenceNode* references = nullptr;
  PackedItem* result;
  if (text && (flags & kCellList)) {
    result = packed_list_append(list, platform::address_of(text), kPackedList, &references);
  } else if (text && (flags & kCellWideText)) {
    // Packed strings are 8-bit text.
    char* narrow = to_narrow(static_cast<const char16_t*>(text));
    result = packed_list_append(list, platform::address_of(narrow ? narrow : ""), kPackedString, &references);
    crt::free(narrow);
  } else if (text) {
    result = packed_list_append(list, platform::address_of(text), kPackedString, &references);
  } else {
    result = packed_list_append(list, number, kPackedNumber, &references);
  }
  // The result holds deep copies: temporaries given in are done with.
  release_temporary_list(value);
  release_temporary_list(list_cell);
  push_packed_result(result, references);
}

void builtin_mdel() {
  push_range_result([](const PackedItem* list, int32_t start, int32_t count, ReferenceNode** references) {
    // The delete hands the kept items' blocks over and frees the dropped ones, so it
    // works on a deep copy: the argument's own list stays whole.
    PackedItem* copy = packed_list_copy(list, references);
    PackedItem* result = copy ? packed_list_delete(copy, start, count, references) : nullptr;
    if (result) {
      crt::free(copy);
    } else if (copy) {
      packed_list_free(copy, references);
    }
    return result;
  });
}

void builtin_mmid() { push_range_result(packed_list_slice); }

void register_packed_list_builtins() {
  builtin_register("mcount", builtin_mcount);
  builtin_register("mtype", builtin_mtype);
  builtin_register("madd", builtin_madd);
  builtin_register("mdel", builtin_mdel);
  builtin_register("mmid", builtin_mmid);
}
