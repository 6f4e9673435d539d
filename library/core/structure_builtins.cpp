// struct and restruct: collecting the fields of a declaration, laying them out in one
// record and creating a member variable per field (nested structures member by member).
#include "library/core/structure_builtins.h"

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_ownership.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "library/core/array_builtins.h"
#include "library/core/marked_arguments.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

constexpr size_t kMaxFields = 128;

struct Field {
  std::string name;   // upper case
  int32_t type_code;  // for a nested structure its record size
  const Variable* layout;  // template of a nested structure, else null
};

std::string upper(const char* text) {
  std::string result = text ? text : "";
  for (char& c : result) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return result;
}

// The name of a member of a structure variable named without its type character.
std::string member_name(const std::string& prefix, const std::string& field, char suffix) {
  return prefix + "." + field + suffix;
}

void add_member(Variable* structure, Variable* member, uint32_t offset, int32_t type_code) {
  member->member_offset = offset;
  member->owner = structure;
  member->data = static_cast<uint8_t*>(structure->data) + offset;
  member->element_count = 0;
  member->type_code = type_code;
}

// Gives member (a field of a nested structure type) members of its own after the template
// structure's, each named prefix.field plus the outermost structure's type character and
// created beside member, so they live as long as the structure does.
void define_nested_members(Variable* member, const Variable* layout, uint32_t size, const std::string& prefix,
                           char suffix) {
  // The template's members are named after the template without its type character.
  const std::string layout_name = layout->name ? layout->name : "";
  const size_t skip = layout_name.empty() ? 0 : layout_name.size();
  uint32_t offset = 0;
  for (MemberNode* node = layout->members; node; node = node->next) {
    const Variable* source = node->member;
    if (!source || !source->name) continue;
    std::string field = source->name;
    if (skip && field.size() > skip && field.compare(0, skip - 1, layout_name, 0, skip - 1) == 0 &&
        field[skip - 1] == '.') {
      field = field.substr(skip);
    } else if (size_t dot = field.rfind('.'); dot != std::string::npos) {
      field = field.substr(dot + 1);
    }
    if (!field.empty()) field.pop_back();
    const std::string name = member_name(prefix, field, suffix);
    Variable* created = create_variable(member->scope, name.c_str(), true);
    if (!created) continue;
    add_member(member, created, offset, node->type_code);
    if (source->flags & kVariableStructure) {
      created->flags |= kVariableStructure;
      define_nested_members(created, source, type_size(node->type_code), name.substr(0, name.size() - 1), suffix);
    }
    member_list_add(member, created);
    if (member->flags & kVariablePublic) created->flags |= kVariablePublic;
    offset += type_size(node->type_code);
  }
  member->type_code = static_cast<int32_t>(size);
  member->flags |= kVariableStructure;
}

// struct (keep_block false) and restruct (keep_block true).
void define_structure(bool keep_block) {
  std::vector<ValueCell*> cells;
  if (!take_marked_arguments(cells) || cells.empty()) return;
  // The fields, read from the last argument back: a type or template precedes (in this
  // walk) the name it belongs to.
  std::vector<Field> fields;
  uint32_t record_size = 0;
  int32_t pending_type = -4;
  const Variable* pending_layout = nullptr;
  bool type_given = false;
  for (size_t index = cells.size(); index-- > 1;) {
    const ValueCell* cell = cells[index];
    if (cell->variable && (cell->variable->flags & kVariableStructure)) {
      pending_layout = cell->variable;
      pending_type = static_cast<int32_t>(structure_size(cell->variable));
      record_size += static_cast<uint32_t>(pending_type);
      type_given = true;
    } else if (!cell->text) {
      if (cell->number == 0) continue;
      pending_type = truncate_to_int(cell->number);
      pending_layout = nullptr;
      record_size += type_size(pending_type);
      type_given = true;
    } else if (!(cell->flags & (kCellWideText | kCellList))) {
      Field field{upper(static_cast<const char*>(cell->text)), -4, nullptr};
      if (type_given) {
        field.type_code = pending_type;
        field.layout = pending_layout;
      } else {
        record_size += 4;
      }
      type_given = false;
      pending_layout = nullptr;
      bool duplicate = false;
      for (const Field& earlier : fields) duplicate = duplicate || earlier.name == field.name;
      if (duplicate) {
        // One member per name: the repeated field is left out, and its room with it.
        runtime_error("Duplicate field name [%s] in structure", static_cast<const char*>(cell->text));
        record_size -= type_size(field.type_code);
        continue;
      }
      fields.push_back(field);
      if (fields.size() > kMaxFields) {
        runtime_error("Too many fields in structure, at most %d", static_cast<int32_t>(kMaxFields));
        return;
      }
    }
  }
  Variable* structure = cell_variable(cells[0]);
  if (!structure || !structure->name) return;
  void* block;
  if (keep_block) {
    block = structure->data;
    const uint32_t held = alloc_block_size(block);
    if (block && held && held < record_size) {
      runtime_error("Structure [%s] needs %d bytes, its block holds %d", structure->name,
                    static_cast<int32_t>(record_size), static_cast<int32_t>(held));
      return;
    }
    // The block outlives the clearing of the old value.
    structure->data = nullptr;
    structure->flags &= ~(kVariableOwnsData | kVariableAdopted);
    variable_clear_value(current_program, structure, true, false);
  } else {
    variable_release(current_program, structure, true, false);
    variable_clear_value(current_program, structure, true, false);
    block = allocate_zeroed_block(record_size ? record_size : 1, 1);
    if (block) track_variable_block(block);
  }
  if (!block) {
    if (!keep_block) runtime_error("Not enough memory for [%s] (%d bytes)", structure->name, static_cast<int32_t>(record_size));
    return;
  }
  set_variable(structure, block, 0, nullptr, -1);
  structure->type_code = static_cast<int32_t>(record_size);
  structure->flags |= kVariableStructure | kVariableOwnsData;
  const std::string name = structure->name;
  const char suffix = name.back();
  const std::string base = name.substr(0, name.size() - 1);
  uint32_t offset = 0;
  for (size_t index = fields.size(); index-- > 0;) {
    const Field& field = fields[index];
    const std::string member_text = member_name(base, field.name, suffix);
    Variable* member = create_variable(structure->scope, member_text.c_str(), true);
    if (!member) continue;
    add_member(structure, member, offset, field.type_code);
    if (field.layout) {
      member->flags |= kVariableStructure;
      define_nested_members(member, field.layout, static_cast<uint32_t>(field.type_code),
                            member_text.substr(0, member_text.size() - 1), suffix);
    }
    member_list_add(structure, member);
    if (structure->flags & kVariablePublic) member->flags |= kVariablePublic;
    offset += type_size(field.type_code);
  }
  if ((structure->flags & kVariableList) && structure->cursor) variable_store_to_element(structure);
}

void builtin_struct() { define_structure(false); }
void builtin_restruct() { define_structure(true); }

}  // namespace

uint32_t structure_size(const Variable* structure) {
  uint32_t size = 0;
  for (const MemberNode* node = structure->members; node; node = node->next) {
    const Variable* member = node->member;
    if (member && member != structure && (member->flags & kVariableStructure) && member->members) {
      size += structure_size(member);
    } else {
      size += type_size(node->type_code);
    }
  }
  return size;
}

void register_structure_builtins() {
  builtin_register("struct", builtin_struct);
  builtin_register("restruct", builtin_restruct);
}
