// Variable store and load: plain values, typed slots, getters and setters, and the
// list-variable mirror of the current element with its checksum.
#include "foundation/variable_store.h"

#include <emmintrin.h>

#include <cmath>
#include <cstring>

#include "foundation/conversion.h"
#include "foundation/instruction_node.h"
#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_ownership.h"
#include "foundation/value_stack.h"
#include "foundation/variables.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/wide_string.h"

namespace {

int64_t truncate_to_int64(double value) {
  if (!(std::fabs(value) < 9223372036854775808.0)) return 0;
  return static_cast<int64_t>(value);
}

bool is_pointer_slot(int32_t type_code) {
  return type_code == -9 || type_code == -8 || type_code == -5 || type_code == -4 || type_code == -3;
}

// Bytes of a text handed over with a size: the size when given, else its block size,
// else its length with the zero.
uint32_t text_length(const void* text, int32_t size, bool wide) {
  if (size >= 0) return static_cast<uint32_t>(size);
  if (uint32_t block = alloc_block_size(text)) return block;
  if (wide) return static_cast<uint32_t>((crt::wcslen(static_cast<const WCHAR*>(text)) + 1) * 2);
  return static_cast<uint32_t>(std::strlen(static_cast<const char*>(text)) + 1);
}

void* copy_block(const void* source, uint32_t length) {
  void* block = crt::malloc(length ? length : 1);
  if (!block) return nullptr;
  if (length) std::memcpy(block, source, length);
  track_variable_block(block);
  return block;
}

void write_address(Variable* variable, void* slot, int32_t type_code, void* block) {
  store_typed_value(variable, slot, type_code, nullptr, static_cast<double>(platform::address_of(block)));
}

// Runs a getter or setter: three cells (typed address, value, a by-reference cell of
// the variable), the procedure, then its one result.
ValueCell* run_accessor(Variable* variable, InstructionNode* procedure, void* text, double number,
                        void* typed_address) {
  ProgramContext* context = current_program;
  if (!context || !procedure_caller) return nullptr;
  uint32_t address = platform::address_of(typed_address);
  const HeldStackTop before = stack_hold_top(context);
  stack_push_number(context, static_cast<double>(address));
  stack_push_value(text, text ? 0.0 : number, nullptr, 0);
  stack_push_value(text, number, variable, address);
  context->stack_top->flags = kCellByReference;
  call_program = context;
  call_procedure = procedure;
  procedure_caller();
  if (!context->stack_top || !stack_top_moved(context, before)) return nullptr;
  return stack_pop(context);
}

ReferenceNode* reference_list_of_owner(Variable* variable) {
  return (variable->owner && !variable->element_count) ? variable->owner->references : variable->references;
}

void copy_element_info(Variable* variable, const ElementInfo* info) {
  if (info) {
    variable->reserved1 = info->reserved1;
    variable->element_count = info->element_count;
    std::memcpy(variable->dims, info->dims, sizeof variable->dims);
    variable->dim_count = info->dim_count;
    variable->class_hash = info->class_hash;
    variable->getter = info->getter;
    variable->setter = info->setter;
    variable->column_major = info->column_major;
  } else {
    variable->reserved1 = 0;
    variable->element_count = 0;
    std::memset(variable->dims, 0, sizeof variable->dims);
    variable->dim_count = 0;
    variable->class_hash = 0;
    variable->getter = variable->setter = nullptr;
    variable->column_major = 0;
  }
}

}  // namespace

void track_variable_block(void* block) {
  if (!memory_tracking || !block) return;
  InstructionExtension* extension = current_instruction ? current_instruction->extension : nullptr;
  if (!extension) return;
  track_allocation(extension->name_operand, extension->kind, block, 0);
}

// A reference cell holds its variable's text as a snapshot by pointer, not by copy (pushes
// are hot). A store that would free that block while such a cell still waits on a value
// stack hands the block to the kept texts instead, one record for each stack that shows it,
// naming the lowest such cell. The record goes, and with the last one the block, once that
// cell is above the stack's top or shows another value: all cells above it were popped
// then, and a push after the store reads the new text. Pops are hot, so this is looked at
// at a loop pass, at a call's end and at the next keep: the statement that read the block
// has ended by the first of these after it, and the list holds only blocks still shown.
// Only a store that frees a plain text block walks the stacks; the stacks walked are those
// of every program, since '%' names are shared by all of them.
struct KeptText {
  void* block;
  ProgramContext* owner;  // the program whose cells the stack holds (see stack_owner)
  const ValueCell* cell;  // the lowest cell of that stack that showed the block
  uint16_t height;        // that cell's height
  KeptText* next;
};

KeptText* kept_texts = nullptr;

namespace {

// A program run in its caller's stack (an eval in the caller's scope) pushes onto the
// caller's chain of cells: the records of that chain are the first program's.
ProgramContext* stack_owner(ProgramContext* program) {
  for (int32_t guard = 0; guard < 64 && program->run_mode != 0 && program->run_mode != kRunModeKeep &&
                          program->parent && program->parent != program;
       ++guard) {
    program = program->parent;
  }
  return program;
}

bool block_is_kept(const void* block) {
  for (const KeptText* record = kept_texts; record; record = record->next) {
    if (record->block == block) return true;
  }
  return false;
}

// Unlinks the records that pass the test and frees each block no other record keeps.
template <typename Gone>
void release_kept(Gone gone) {
  KeptText** link = &kept_texts;
  while (KeptText* record = *link) {
    if (!gone(*record)) {
      link = &record->next;
      continue;
    }
    *link = record->next;
    void* block = record->block;
    crt::free(record);
    if (!block_is_kept(block)) crt::free(block);
  }
}

void release_unshown(ProgramContext* owner, const ValueCell* top) {
  release_kept([owner, top](const KeptText& record) {
    return record.owner == owner && (!top || top->height < record.height || record.cell->text != record.block);
  });
}

// The lowest cell of the chain from top that shows block; null when none does.
const ValueCell* lowest_cell_showing(const ValueCell* top, const void* block) {
  const ValueCell* lowest = nullptr;
  for (const ValueCell* cell = top; cell; cell = cell->below) {
    if (cell->text == block) lowest = cell;
  }
  return lowest;
}

bool keep_for_stack(ProgramContext* program, void* block) {
  const ValueCell* cell = lowest_cell_showing(program->stack_top, block);
  if (!cell) return false;
  auto* record = static_cast<KeptText*>(crt::malloc(sizeof(KeptText)));
  // Without memory for the record the block is left to leak: freeing it would be worse.
  if (record) {
    *record = KeptText{block, stack_owner(program), cell, cell->height, kept_texts};
    kept_texts = record;
  }
  return true;
}

void keep_text_of_waiting_cells(Variable* variable) {
  constexpr uint32_t kNotPlainText = kVariableStructure | kVariablePackedList | kVariableList | kVariableObject |
                                     kVariableAdopted | kVariableWideText;
  ProgramContext* current = current_program;
  void* block = variable->data;
  if (!current || !block || !(variable->flags & kVariableOwnsData) || (variable->flags & kNotPlainText) ||
      variable->references || variable->type_code) {
    return;
  }
  if (kept_texts) kept_texts_release(current);
  bool shown = keep_for_stack(current, block);
  for (ProgramContext* program = program_list; program; program = program->next) {
    if (program != current && keep_for_stack(program, block)) shown = true;
  }
  if (!shown) return;
  if (memory_tracking) untrack_allocation(block);
  variable->data = nullptr;
  variable->flags &= ~kVariableOwnsData;
}

}  // namespace

void kept_texts_release(ProgramContext* program) {
  if (!program) return;
  release_unshown(stack_owner(program), program->stack_top);
}

void kept_texts_drop(ProgramContext* program) {
  if (!program || !kept_texts) return;
  ProgramContext* owner = stack_owner(program);
  release_kept([owner](const KeptText& record) { return record.owner == owner; });
}

bool member_is_attached(const Variable* member) {
  const Variable* owner = member->owner;
  if (!owner || owner == member || (member->flags & (kVariableOwnsData | kVariableList))) return true;
  if (!(owner->flags & kVariableStructure) || !owner->data) return false;
  if (static_cast<const uint8_t*>(owner->data) + member->member_offset != member->data) return false;
  // A record that lost its fields (a smaller type given to the structure variable) ends
  // before them; the columns of a structure array are laid out past one record.
  if (member->element_count) return true;
  // A structure's type is its record size; a type of 0 (a block of no type) has its size.
  const uint32_t record = owner->type_code ? type_size(owner->type_code) : alloc_block_size(owner->data);
  return uint64_t{member->member_offset} + type_size(member->type_code) <= record;
}

bool member_check_attached(const Variable* member) {
  if (member_is_attached(member)) return true;
  runtime_error("Variable %s is no longer a member of a structure", member->name ? member->name : "");
  return false;
}

void set_variable(Variable* variable, void* text, double number, void* typed_address, int32_t size) {
  if (!variable || variable->read_only) return;
  // Members are rarely stored through here; the test costs the others one branch.
  if (variable->owner && !member_check_attached(variable)) return;
  if (typed_address && !text && variable_slots_hold_numbers(variable)) {
    // A number into an element of a number array: no setter, no owned block to drop.
    store_typed_value(variable, typed_address, variable->type_code, nullptr, number);
    return;
  }
  if (variable->setter) {
    // While its setter runs, a store into the variable itself does not call the setter
    // again (it would recurse without end).
    InstructionNode* setter = variable->setter;
    variable->setter = nullptr;
    ValueCell* result = run_accessor(variable, setter, text, number, typed_address);
    variable->setter = setter;
    if (result) {
      text = result->text;
      number = result->number;
      size = text ? static_cast<int32_t>(text_length(text, -1, result->flags & kCellWideText)) : -1;
    }
  }
  if (typed_address) {
    store_value_at(typed_address, variable, text, number, size);
  } else if (variable->type_code) {
    store_value_at(variable->data, variable, text, number, size);
  } else {
    bool is_list = variable->flags & kVariableList;
    if ((variable->flags & (kVariableOwnsData | kVariableObject)) && !is_list && text != variable->data) {
      keep_text_of_waiting_cells(variable);
      variable_release(current_program, variable, true, true);
    }
    // A plain value takes the place of a packed list the variable held or viewed.
    variable->flags &= ~kVariablePackedList;
    if (!text) {
      if (memory_tracking && variable->data) untrack_allocation(variable->data);
      variable->number = number;
      variable->data = nullptr;
    } else if (size == -1) {
      variable->number = number;
      variable->data = text;
    } else {
      if (text != variable->data) {
        void* copy = copy_block(text, static_cast<uint32_t>(size < 0 ? 0 : size));
        variable->data = copy;
        if (copy) variable->flags |= kVariableOwnsData;
        else variable->flags &= ~kVariableOwnsData;
      }
      variable->number = number;
    }
  }
  if ((variable->flags & kVariableList) && variable->cursor && !variable->alias) {
    if (variable->pending_element) {
      ListElement* cursor = variable->cursor;
      variable->cursor = variable->pending_element;
      variable->pending_element = nullptr;
      variable_store_to_element(variable);
      variable->cursor = cursor;
      variable_load_from_element(variable);
    } else {
      variable_store_to_element(variable);
    }
  }
}

bool variable_adopt_text(Variable* variable, void* block, double number) {
  constexpr uint32_t kNotPlain =
      kVariableStructure | kVariablePackedList | kVariableList | kVariableObject | kVariableAdopted;
  if (!variable || !block || variable->read_only || variable->setter || variable->type_code || variable->owner ||
      variable->element_count || (variable->flags & kNotPlain) || block == variable->data) {
    return false;
  }
  if (variable->flags & kVariableOwnsData) {
    keep_text_of_waiting_cells(variable);
    variable_release(current_program, variable, true, true);
  }
  variable->data = block;
  variable->number = number;
  variable->flags |= kVariableOwnsData;
  track_variable_block(block);
  return true;
}

Variable* set_variable_by_name(const char* name, void* text, double number, void* typed_address, int32_t size) {
  Variable* variable = find_variable(name);
  if (!variable) {
    Variable* scope = choose_creation_scope(current_scope, name);
    if (!scope && !(name && *name && (name[std::strlen(name) - 1] == '%' || name[std::strlen(name) - 1] == '$')))
      return nullptr;
    variable = create_variable(scope, name, true);
  }
  if (!variable) return nullptr;
  set_variable(variable, text, number, typed_address, size);
  return variable;
}

void get_variable_value(Variable* variable, void** text, double* number, void* typed_address) {
  *text = nullptr;
  *number = 0;
  if (!variable) return;
  // The common case of the run loop: a plain text or number.
  if (!typed_address && !variable->type_code && !variable->getter && !variable->references &&
      !(variable->flags & (kVariableList | kVariableStructure)) && !variable->owner) {
    *text = variable->data;
    *number = variable->number;
    return;
  }
  if (variable_slots_hold_numbers(variable) && variable->element_count) {
    // A number array: the block itself, or the number of one element.
    if (!typed_address) {
      *text = variable->data;
      *number = variable->number;
    } else {
      load_typed_value(variable, typed_address, variable->type_code, text, number);
    }
    return;
  }
  if ((variable->flags & kVariableList) && variable->cursor && !variable->alias &&
      variable->checksum != variable->cursor->checksum) {
    variable_load_from_element(variable);
  }
  if (variable->owner && !member_check_attached(variable)) return;
  if (typed_address) {
    load_typed_value(variable, typed_address, variable->type_code, text, number);
  } else if (!variable->type_code || (variable->flags & kVariableStructure) ||
             (variable->element_count && !variable->owner)) {
    *text = variable->data;
    *number = variable->number;
  } else {
    load_typed_value(variable, variable->data, variable->type_code, text, number);
  }
  if (!*text) {
    // A pointer slot that holds an owned string reads as that string.
    ReferenceNode* owned = reference_list_of_owner(variable);
    uint32_t value = owned ? static_cast<uint32_t>(truncate_to_int(*number)) : 0;
    if (value) {
      for (ReferenceNode* node = owned; node; node = node->next) {
        if (platform::address_of(node->block) != value) continue;
        *text = node->block;
        *number = 0;
        break;
      }
    }
  }
  if (variable->getter) {
    InstructionNode* getter = variable->getter;
    variable->getter = nullptr;
    ValueCell* result = run_accessor(variable, getter, *text, *number, typed_address);
    variable->getter = getter;
    if (result) {
      *text = result->text;
      *number = result->number;
    }
  }
}

Variable* get_value_by_name(const char* name, void** text, double* number, void* typed_address) {
  *text = nullptr;
  *number = 0;
  Variable* variable = find_variable(name);
  if (variable) {
    get_variable_value(variable, text, number, typed_address);
    return variable;
  }
  if (!name || !*name) return nullptr;
  char last = name[std::strlen(name) - 1];
  if (last != '%' && last != '$') return nullptr;
  return create_variable(choose_creation_scope(current_scope, name), name, true);
}

void store_value_at(void* address, Variable* variable, void* text, double number, int32_t size) {
  if (!address || !variable) return;
  int32_t type_code = variable->type_code;
  bool wide = variable->flags & kVariableWideText;
  if (!text) {
    int32_t code = (!(variable->flags & kVariableAdopted) && type_code) ? type_code : size;
    if (is_pointer_slot(code)) reference_drop_slot(variable, address, false);
    store_typed_value(variable, address, code, nullptr, number);
    return;
  }
  switch (type_code) {
    case -9: case -8: case -5: case -4: case -3: {
      reference_drop_slot(variable, address, false);
      void* block;
      if (type_code == -3) block = wide ? crt::_wcsdup(static_cast<const WCHAR*>(text)) : to_wide(static_cast<const char*>(text));
      else block = copy_block(text, text_length(text, size, wide));
      if (type_code == -3) track_variable_block(block);
      if (!block) return;
      write_address(variable, address, type_code, block);
      variable_add_reference(variable, block, address, type_code);
      return;
    }
    case -2: {
      // A text in a 16-bit slot keeps its first character's code.
      double code = wide ? static_cast<double>(*static_cast<const uint16_t*>(text))
                         : static_cast<double>(*static_cast<const int8_t*>(text));
      store_typed_value(variable, address, -2, nullptr, code);
      return;
    }
    case -1: {
      if (variable->element_count) {
        // Never past the string, never past the room left in the array.
        uint32_t room = variable->element_count;
        auto* slot = static_cast<uint8_t*>(address);
        auto* start = static_cast<uint8_t*>(variable->data);
        if (start && slot >= start && slot < start + variable->element_count)
          room = variable->element_count - static_cast<uint32_t>(slot - start);
        uint32_t length = static_cast<uint32_t>(std::strlen(static_cast<const char*>(text)) + 1);
        std::memcpy(address, text, length < room ? length : room);
      } else {
        store_typed_value(variable, address, -1, nullptr, static_cast<double>(*static_cast<const int8_t*>(text)));
      }
      return;
    }
    default: {
      if (variable->flags & kVariablePackedList) {
        void* copy = copy_block(text, text_length(text, size, wide));
        store_typed_value(variable, address, type_code ? type_code : 8, copy, number);
        return;
      }
      uint32_t slot_size = type_size(type_code);
      uint32_t length = text_length(text, size, wide);
      // The slot is filled whole: the text, then zeros.
      auto* block = static_cast<uint8_t*>(crt::calloc(1, slot_size ? slot_size : 1));
      if (!block) return;
      std::memcpy(block, text, length < slot_size ? length : slot_size);
      store_typed_value(variable, address, type_code, block, number);
      return;
    }
  }
}

void store_typed_value(Variable* variable, void* address, int32_t type_code, void* copy, double number) {
  if (!address) {
    crt::free(copy);
    return;
  }
  switch (type_code) {
    case -9: {
      int64_t value = truncate_to_int64(number);
      std::memcpy(address, &value, 8);
      return;
    }
    case -8:
      std::memcpy(address, &number, 8);
      return;
    case -5: case -4: case -3: {
      int32_t value = truncate_to_int(number);
      std::memcpy(address, &value, 4);
      return;
    }
    case -2: {
      auto value = static_cast<uint16_t>(truncate_to_int(number));
      std::memcpy(address, &value, 2);
      return;
    }
    case -1:
      *static_cast<uint8_t*>(address) = static_cast<uint8_t>(truncate_to_int(number));
      return;
    default:
      break;
  }
  if (variable && (variable->flags & kVariablePackedList)) {
    // A 9-byte packed item: an 8-byte value and its kind.
    auto* item = static_cast<uint8_t*>(address);
    double old_value;
    std::memcpy(&old_value, item, 8);
    void* old_block = platform::pointer_from<void>(static_cast<uint32_t>(truncate_to_int(old_value)));
    if (item[8] == 2) {
      reference_drop_block(variable, old_block, item, false);
    } else if (item[8] == 3) {
      if (ownership_services.packed_list_free_items)
        ownership_services.packed_list_free_items(old_block, variable_reference_list(variable));
      reference_drop_block(variable, old_block, item, false);
    }
    if (copy) {
      double value = static_cast<double>(platform::address_of(copy));
      std::memcpy(item, &value, 8);
      item[8] = 2;
      variable_add_reference(variable, copy, item, -8);
    } else {
      std::memcpy(item, &number, 8);
      item[8] = 1;
    }
    return;
  }
  if (copy) {
    std::memcpy(address, copy, type_size(type_code));
    crt::free(copy);
  }
}

void load_typed_value(Variable* variable, void* address, int32_t type_code, void** text, double* number) {
  *text = nullptr;
  *number = 0;
  if (!address) return;
  if (variable && (variable->flags & kVariablePackedList)) {
    std::memcpy(number, address, 8);
    return;
  }
  switch (type_code) {
    case -9: {
      int64_t value;
      std::memcpy(&value, address, 8);
      *number = static_cast<double>(value);
      return;
    }
    case -8:
      std::memcpy(number, address, 8);
      return;
    case -5: {
      uint32_t value;
      std::memcpy(&value, address, 4);
      *number = value;
      return;
    }
    case -4: case -3: {
      int32_t value;
      std::memcpy(&value, address, 4);
      *number = value;
      return;
    }
    case -2: {
      int16_t value;
      std::memcpy(&value, address, 2);
      *number = value;
      return;
    }
    case -1:
      *number = *static_cast<const uint8_t*>(address);
      return;
    default:
      break;
  }
  if (variable && (variable->flags & kVariableAdopted)) {
    *text = address;
    return;
  }
  uint32_t length = type_size(type_code);
  void* copy = crt::malloc(length ? length : 1);
  if (!copy) return;
  std::memcpy(copy, address, length);
  if (current_program && !context_own_allocation(current_program, copy, 0, kOwnedMemory)) {
    crt::free(copy);
    return;
  }
  *text = copy;
}

namespace {

constexpr uint32_t kHashMultiplier = 65599u;

// The element's own 40 bytes hashed from 0: the sum of each signed byte times the multiplier
// to the power of the bytes after it. SSE2 multiplies 16-bit lanes, so each power is split
// into a low half taken as signed and a high half that makes up for it; eight bytes a step.
struct ElementPowers {
  alignas(16) int16_t low[sizeof(ListElement)];
  alignas(16) int16_t high[sizeof(ListElement)];
};

constexpr ElementPowers element_powers() {
  ElementPowers powers{};
  uint32_t power = 1;
  for (size_t i = sizeof(ListElement); i-- > 0;) {
    const uint32_t low = power & 0xFFFFu;
    const uint32_t high = ((power >> 16) + (low >= 0x8000u ? 1u : 0u)) & 0xFFFFu;
    powers.low[i] = static_cast<int16_t>(low >= 0x8000u ? static_cast<int32_t>(low) - 0x10000 : low);
    powers.high[i] = static_cast<int16_t>(high >= 0x8000u ? static_cast<int32_t>(high) - 0x10000 : high);
    power *= kHashMultiplier;
  }
  return powers;
}
constexpr ElementPowers kElementPowers = element_powers();
static_assert(sizeof(ListElement) == 40, "the element hash takes 16 + 16 + 8 bytes");

uint32_t element_bytes_hash(const ListElement* element) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(element);
  __m128i low_sum = _mm_setzero_si128();
  __m128i high_sum = _mm_setzero_si128();
  auto powers = [](const int16_t* lanes) { return _mm_load_si128(reinterpret_cast<const __m128i*>(lanes)); };
  auto add = [&](__m128i words, size_t at) {
    low_sum = _mm_add_epi32(low_sum, _mm_madd_epi16(words, powers(kElementPowers.low + at)));
    high_sum = _mm_add_epi32(high_sum, _mm_madd_epi16(words, powers(kElementPowers.high + at)));
  };
  for (size_t at = 0; at < 32; at += 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at));
    add(_mm_srai_epi16(_mm_unpacklo_epi8(chunk, chunk), 8), at);
    add(_mm_srai_epi16(_mm_unpackhi_epi8(chunk, chunk), 8), at + 8);
  }
  const __m128i tail = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes + 32));
  add(_mm_srai_epi16(_mm_unpacklo_epi8(tail, tail), 8), 32);
  const __m128i sums = _mm_add_epi32(low_sum, _mm_slli_epi32(high_sum, 16));
  const __m128i pairs = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, _MM_SHUFFLE(1, 0, 3, 2)));
  const __m128i total = _mm_add_epi32(pairs, _mm_shuffle_epi32(pairs, _MM_SHUFFLE(2, 3, 0, 1)));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(total));
}

}  // namespace

uint32_t list_element_checksum(const ListElement* element) {
  uint32_t hash = element_bytes_hash(element);
  // hash * 65599 + byte, byte by byte; four steps at once as one sum of independent
  // products (exact in 32-bit wrap-around).
  auto run = [&hash](const void* bytes, size_t count) {
    constexpr uint32_t k1 = kHashMultiplier, k2 = k1 * k1, k3 = k2 * k1, k4 = k3 * k1;
    const auto* p = static_cast<const int8_t*>(bytes);
    auto at = [p](size_t i) { return static_cast<uint32_t>(static_cast<int32_t>(p[i])); };
    size_t i = 0;
    for (; i + 4 <= count; i += 4) hash = hash * k4 + at(i) * k3 + at(i + 1) * k2 + at(i + 2) * k1 + at(i + 3);
    for (; i < count; ++i) hash = hash * k1 + at(i);
  };
  if (element->info) run(element->info, sizeof(ElementInfo));
  if (element->struct_info) run(element->struct_info, sizeof(StructInfo));
  return hash & 0x7FFFFFFFu;
}

void variable_load_from_element(Variable* variable) {
  ListElement* element = variable->cursor;
  variable->pending_element = nullptr;
  if (!element) return;
  variable->data = element->data;
  variable->number = element->number;
  variable->type_code = element->type_code;
  copy_element_info(variable, element->info);
  if (StructInfo* info = element->struct_info) {
    variable->owner = info->owner;
    variable->member_offset = info->member_offset;
    variable->references = info->references;
    variable->members = info->members;
  } else {
    variable->owner = nullptr;
    variable->member_offset = 0;
    variable->members = nullptr;
    variable->references = nullptr;
  }
  variable->flags = element->flags | (variable->flags & ~(kVariableStructure | kVariablePackedList));
  if (element->flags & kVariableStructure) relink_struct_members(variable);
  variable->checksum = element->checksum;
}

void variable_store_to_element(Variable* variable) {
  ListElement* element = variable->cursor;
  if (!element) return;
  element->data = variable->data;
  element->number = variable->number;
  element->type_code = variable->type_code;
  // The records are rebuilt from the variable, which shares its member and reference
  // lists with them: only the records go, not what they point at.
  void* iteration = nullptr;
  if (element->info) {
    iteration = element->info->iteration;
    crt::free(element->info);
    element->info = nullptr;
  }
  if (element->struct_info) {
    crt::free(element->struct_info);
    element->struct_info = nullptr;
  }
  if (variable->owner || variable->member_offset || variable->references || variable->members) {
    auto* info = static_cast<StructInfo*>(crt::calloc(1, sizeof(StructInfo)));
    if (info) {
      info->owner = variable->owner;
      info->member_offset = variable->member_offset;
      info->references = variable->references;
      info->members = variable->members;
    }
    element->struct_info = info;
  }
  if (variable->reserved1 || variable->element_count || variable->dim_count || variable->class_hash ||
      variable->getter || variable->setter || variable->column_major || iteration) {
    auto* info = static_cast<ElementInfo*>(crt::calloc(1, sizeof(ElementInfo)));
    if (info) {
      info->reserved1 = variable->reserved1;
      info->element_count = variable->element_count;
      std::memcpy(info->dims, variable->dims, sizeof info->dims);
      info->dim_count = static_cast<uint8_t>(variable->dim_count);
      info->class_hash = variable->class_hash;
      info->getter = variable->getter;
      info->setter = variable->setter;
      info->column_major = variable->column_major;
      info->iteration = iteration;
    }
    element->info = info;
  }
  element->flags = variable->flags & ~(kVariablePublic | kVariableList);
  uint32_t checksum = list_element_checksum(element);
  element->checksum = checksum;
  variable->checksum = checksum;
}

void relink_struct_members(Variable* structure) {
  for (MemberNode* node = structure->members; node; node = node->next) {
    Variable* member = node->member;
    if (!member || member == structure) continue;
    member->owner = structure;
    member->type_code = node->type_code;
    member->member_offset = node->offset;
    member->element_count = node->element_count;
    member->data = static_cast<uint8_t*>(structure->data) + node->offset;
    if (member->flags & kVariableStructure) relink_struct_members(member);
  }
}

void variable_set_int(Variable* variable, int32_t value) {
  if (!variable) return;
  if (variable->number != value) {
    variable->number = value;
    variable->flags &= ~kVariableOwnsData;
  }
  if ((variable->flags & kVariableList) && variable->cursor && !variable->alias) variable_store_to_element(variable);
}

namespace {

enum class DataKind { kData, kString, kPackedList };

void replace_data(Variable* variable, void* pointer, int32_t size, bool copy, DataKind kind) {
  if (!variable || pointer == variable->data) return;
  if (size == -1 || !copy) {
    if (kind != DataKind::kData && current_program) context_disown_pointer(current_program, pointer);
    variable_free_data(current_program, variable);
    variable->data = pointer;
    variable->flags = (variable->flags & ~kVariableOwnsData) | kVariableAdopted;
    if (kind != DataKind::kPackedList) variable->flags &= ~kVariablePackedList;
  } else {
    variable_release(current_program, variable, true, true);
    if (kind == DataKind::kPackedList) {
      if (ownership_services.store_packed_list) ownership_services.store_packed_list(variable, pointer);
    } else {
      // The copy is the variable's own: marking it owned is what frees it later.
      variable->data = copy_block(pointer, static_cast<uint32_t>(size));
      if (variable->data) variable->flags |= kVariableOwnsData;
      else variable->flags &= ~kVariableOwnsData;
    }
  }
  if (kind == DataKind::kData) {
    for (MemberNode* node = variable->members; node; node = node->next) {
      if (node->member && variable->data) node->member->data = static_cast<uint8_t*>(variable->data) + node->offset;
    }
  }
  if ((variable->flags & kVariableList) && variable->cursor && !variable->alias) variable_store_to_element(variable);
}

}  // namespace

void variable_set_data(Variable* variable, void* pointer, int32_t size, bool copy) {
  replace_data(variable, pointer, size, copy, DataKind::kData);
}
void variable_set_string(Variable* variable, void* pointer, int32_t size, bool copy) {
  replace_data(variable, pointer, size, copy, DataKind::kString);
}
void variable_set_packed_list(Variable* variable, void* pointer, int32_t size, bool copy) {
  replace_data(variable, pointer, size, copy, DataKind::kPackedList);
}
