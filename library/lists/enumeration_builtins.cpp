// The enumeration built-ins: each clears its list variable and appends one element per
// thing enumerated, the cursor then on the first.
#include "library/lists/enumeration_builtins.h"

#include <cstring>

#include "foundation/conversion.h"
#include "foundation/list_elements.h"
#include "foundation/program_context.h"
#include "foundation/value_ownership.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "library/lists/list_cursor.h"
#include "platform/gdi/font_enumeration.h"
#include "platform/kernel/memory.h"
#include "platform/user/window_enumeration.h"
#include "vm/applications.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

// A list variable being filled: cleared on start, shown from its first element at the end.
class ListFiller {
 public:
  explicit ListFiller(Variable* list) : list_(list) {
    if (!list_) return;
    variable_clear_value(current_program, list_, false, false);
    list_->cursor = nullptr;
    list_->flags |= kVariableList;
  }
  // A new element at the end; null without memory or without a variable.
  ListElement* append() {
    if (!list_) return nullptr;
    ListElement* element = list_element_append(last_);
    if (!element) return nullptr;
    if (!first_) first_ = element;
    last_ = element;
    return element;
  }
  void append_number(double number) {
    if (ListElement* element = append()) {
      element->number = number;
      element->checksum = list_element_checksum(element);
    }
  }
  // Shows the first element; the number of elements.
  int32_t finish() {
    if (!list_) return 0;
    list_show_element(list_, first_);
    return static_cast<int32_t>(list_element_count(first_));
  }

 private:
  Variable* list_;
  ListElement* first_ = nullptr;
  ListElement* last_ = nullptr;
};

BOOL add_window(HWND window, LPARAM parameter) {
  reinterpret_cast<ListFiller*>(parameter)->append_number(platform::address_of(window));
  return TRUE;
}

// The record a font element holds: the two copies it owns through its reference list.
struct FontRecord {
  LOGFONTW* font;
  NEWTEXTMETRICW* metrics;
  uint32_t font_type;
};
static_assert(sizeof(FontRecord) == 12, "font record layout");

int add_font(const LOGFONTW* font, const TEXTMETRICW* metrics, DWORD font_type, LPARAM parameter) {
  ListElement* element = reinterpret_cast<ListFiller*>(parameter)->append();
  if (!element) return 0;
  auto* record = static_cast<FontRecord*>(crt::calloc(1, sizeof(FontRecord)));
  auto* info = static_cast<StructInfo*>(crt::calloc(1, sizeof(StructInfo)));
  auto* font_copy = static_cast<LOGFONTW*>(crt::malloc(sizeof(LOGFONTW)));
  auto* metrics_copy = static_cast<NEWTEXTMETRICW*>(crt::malloc(sizeof(NEWTEXTMETRICW)));
  if (!record || !info || !font_copy || !metrics_copy) {
    crt::free(record);
    crt::free(info);
    crt::free(font_copy);
    crt::free(metrics_copy);
    return 0;
  }
  std::memcpy(font_copy, font, sizeof *font_copy);
  std::memcpy(metrics_copy, metrics, sizeof *metrics_copy);
  record->font = font_copy;
  record->metrics = metrics_copy;
  record->font_type = font_type;
  element->data = record;
  element->flags = kVariableOwnsData;
  element->struct_info = info;
  // The slots are the record's pointer words, so a copied element points at its own copies.
  reference_list_add(&info->references, font_copy, &record->font, -5);
  reference_list_add(&info->references, metrics_copy, &record->metrics, -5);
  element->checksum = list_element_checksum(element);
  return 1;
}

// The family argument: a text, or the address of one; 0 (or no text) for all families.
char16_t* family_argument(const ValueCell* cell) {
  if (cell->text && !(cell->flags & kCellList) && cell->number == 0 && !cell->data) {
    if (cell->flags & kCellWideText) return cell_wide_copy(cell);
    return *static_cast<const char*>(cell->text) ? to_wide(static_cast<const char*>(cell->text)) : nullptr;
  }
  uint32_t address = static_cast<uint32_t>(cell_to_int(cell));
  // The lowest page holds no text: a small number is no family name.
  if (address < 0x10000) return nullptr;
  return to_wide(platform::pointer_from<const char>(address));
}

}  // namespace

void builtin_applications() {
  ListFiller filler(pop_variable());
  for (ProgramContext* program = program_list; program; program = program->next) {
    filler.append_number(platform::address_of(program));
  }
  stack_push_number(current_program, filler.finish());
}

void builtin_forms() {
  auto* program = platform::pointer_from<ProgramContext>(pop_address());
  ListFiller filler(pop_variable());
  if (program_is_loaded(program)) {
    for (FormRecord* form = program->forms; form; form = form->next) {
      filler.append_number(platform::address_of(form->window));
    }
  }
  stack_push_number(current_program, filler.finish());
}

void builtin_enumwindows() {
  ListFiller filler(pop_variable());
  EnumWindows(add_window, reinterpret_cast<LPARAM>(&filler));
  stack_push_number(current_program, filler.finish());
}

void builtin_enumfontfamilies() {
  char16_t* family = family_argument(stack_pop(current_program));
  auto* dc = platform::pointer_from<HDC__>(pop_address());
  ListFiller filler(pop_variable());
  EnumFontFamiliesW(dc, family, add_font, reinterpret_cast<LPARAM>(&filler));
  crt::free(family);
  stack_push_number(current_program, filler.finish());
}

void register_enumeration_builtins() {
  builtin_register("applications", builtin_applications);
  builtin_register("forms", builtin_forms);
  builtin_register("enumwindows", builtin_enumwindows);
  builtin_register("enumfontfamilies", builtin_enumfontfamilies);
}
