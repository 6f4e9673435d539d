// Filling a script list variable with numbers.
#include "game/number_list.h"

#include "foundation/list_elements.h"
#include "foundation/program_context.h"
#include "foundation/variable.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"

int32_t fill_number_list(Variable* variable, const std::vector<double>& numbers) {
  if (!variable) return 0;
  variable_clear_value(current_program, variable, false, false);
  variable->flags |= kVariableList;
  ListElement* first = nullptr;
  ListElement* last = nullptr;
  int32_t count = 0;
  for (double number : numbers) {
    ListElement* element = list_element_append(last);
    if (!element) break;
    if (!first) first = element;
    last = element;
    element->number = number;
    element->checksum = list_element_checksum(element);
    ++count;
  }
  variable->cursor = first;
  if (first) variable_load_from_element(variable);
  return count;
}
