// Reading list variables back in the list built-in tests: the elements as texts, and
// lists built through the built-ins themselves.
#pragma once

#include <string>
#include <vector>

#include "foundation/conversion.h"
#include "foundation/list_elements.h"
#include "foundation/variable.h"
#include "platform/kernel/memory.h"

// Each element as text: its 8-bit text, or its number formatted ("" for none).
inline std::vector<std::string> list_texts(const Variable* list) {
  std::vector<std::string> texts;
  for (ListElement* element = list_element_first(list->cursor); element; element = element->next) {
    if (element->data) {
      texts.push_back(static_cast<const char*>(element->data));
    } else {
      char* number = number_to_text(element->number);
      texts.push_back(number);
      crt::free(number);
    }
  }
  return texts;
}

// The text the list variable shows ("" for a number).
inline std::string shown_text(const Variable* list) {
  return list->data ? static_cast<const char*>(list->data) : "";
}
