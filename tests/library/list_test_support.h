// Reading list and array variables back in the list built-in tests: the elements as
// texts, and lists built through the built-ins themselves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/conversion.h"
#include "foundation/list_elements.h"
#include "foundation/runtime_memory.h"
#include "foundation/variable.h"
#include "foundation/variable_store.h"
#include "platform/kernel/memory.h"

// A number as the runtime shows it.
inline std::string formatted_number(double number) {
  char* text = number_to_text(number);
  std::string result = text;
  crt::free(text);
  return result;
}

// Each element as text: its 8-bit text, or its number formatted ("" for none).
inline std::vector<std::string> list_texts(const Variable* list) {
  std::vector<std::string> texts;
  for (ListElement* element = list_element_first(list->cursor); element; element = element->next) {
    texts.push_back(element->data ? static_cast<const char*>(element->data) : formatted_number(element->number));
  }
  return texts;
}

// The array element's value as text (its number formatted when it has no text).
inline std::string element_text(Variable* array, uint32_t index) {
  void* text;
  double number;
  get_variable_value(array, &text, &number, static_cast<uint8_t*>(array->data) + type_size(array->type_code) * index);
  return text ? static_cast<const char*>(text) : formatted_number(number);
}

// The text the list variable shows ("" for a number).
inline std::string shown_text(const Variable* list) {
  return list->data ? static_cast<const char*>(list->data) : "";
}
