// Filling a script list variable with numbers.
#include "game/number_list.h"

#include "foundation/list_elements.h"
#include "foundation/program_context.h"
#include "foundation/variable.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"

HandleListBuilder::HandleListBuilder(Variable* list) : list_(list) {
  if (!list_) return;
  variable_clear_value(current_program, list_, false, false);
  list_->flags |= kVariableList;
}

bool HandleListBuilder::add(double number) {
  if (list_) {
    ListElement* element = list_element_append(last_);
    if (!element) return false;
    if (!first_) first_ = element;
    last_ = element;
    element->number = number;
    element->checksum = list_element_checksum(element);
  }
  ++count_;
  return true;
}

int32_t HandleListBuilder::finish() {
  if (list_) {
    list_->cursor = first_;
    if (first_) variable_load_from_element(list_);
  }
  return count_;
}

int32_t fill_number_list(Variable* variable, const std::vector<double>& numbers) {
  if (!variable) return 0;
  HandleListBuilder list(variable);
  for (double number : numbers) {
    if (!list.add(number)) break;
  }
  return list.finish();
}
