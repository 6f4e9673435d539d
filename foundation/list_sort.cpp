// List sort: a stable insertion order of the chain's values, then the values moved
// back into the elements in that order.
#include "foundation/list_sort.h"

#include <cstring>

#include "foundation/list_elements.h"
#include "foundation/runtime_memory.h"
#include "foundation/variable_store.h"
#include "platform/kernel/crt.h"
#include "platform/kernel/memory.h"

namespace {

// The value an element holds, apart from the element itself.
struct SortValue {
  void* data;
  double number;
  uint32_t flags;
  int32_t type_code;
  ElementInfo* info;
  StructInfo* struct_info;
};

size_t text_length(const void* data) {
  const char* text = static_cast<const char*>(data);
  uint32_t size = alloc_block_size(data);
  return size ? strnlen(text, size) : std::strlen(text);
}

// strcmp or _stricmp, bounded by the blocks so data without a zero is never overrun.
int compare_texts(const void* left, const void* right, bool case_sensitive) {
  size_t left_length = text_length(left);
  size_t right_length = text_length(right);
  size_t common = left_length < right_length ? left_length : right_length;
  const char* a = static_cast<const char*>(left);
  const char* b = static_cast<const char*>(right);
  int result = case_sensitive ? std::strncmp(a, b, common) : crt::_strnicmp(a, b, common);
  if (result) return result;
  return left_length < right_length ? -1 : (left_length > right_length ? 1 : 0);
}

// Whether s belongs in front of t. A number against a string: numbers first.
bool goes_before(const SortValue& s, const SortValue& t, bool ascending, bool case_sensitive) {
  bool s_text = s.data != nullptr;
  bool t_text = t.data != nullptr;
  if (s_text != t_text) return !s_text;
  if (!s_text) return ascending ? s.number < t.number : s.number > t.number;
  int c = compare_texts(s.data, t.data, case_sensitive);
  return ascending ? c < 0 : c > 0;
}

}  // namespace

void list_element_chain_sort(ListElement* element, int32_t ascending, int32_t case_sensitive) {
  ListElement* first = list_element_first(element);
  if (!first) return;
  uint32_t count = list_element_count(first);
  auto* sorted = static_cast<SortValue*>(crt::malloc(count * sizeof(SortValue)));
  if (!sorted) return;
  // Insertion in chain order: each value goes in front of the first it belongs before,
  // so equal values keep their order.
  uint32_t used = 0;
  for (ListElement* source = first; source; source = source->next) {
    SortValue value{source->data, source->number, source->flags, source->type_code, source->info,
                    source->struct_info};
    uint32_t position = 0;
    while (position < used && !goes_before(value, sorted[position], ascending != 0, case_sensitive != 0)) ++position;
    std::memmove(&sorted[position + 1], &sorted[position], (used - position) * sizeof(SortValue));
    sorted[position] = value;
    ++used;
  }
  // A FOREACH state belongs to the element it stands on, not to the value.
  auto* iterations = static_cast<void**>(crt::calloc(count, sizeof(void*)));
  if (!iterations) {
    crt::free(sorted);
    return;
  }
  uint32_t index = 0;
  for (ListElement* target = first; target; target = target->next, ++index) {
    if (target->info) {
      iterations[index] = target->info->iteration;
      target->info->iteration = nullptr;
    }
  }
  index = 0;
  for (ListElement* target = first; target; target = target->next, ++index) {
    const SortValue& value = sorted[index];
    target->data = value.data;
    target->number = value.number;
    target->flags = value.flags;
    target->type_code = value.type_code;
    target->info = value.info;
    target->struct_info = value.struct_info;
    if (iterations[index]) {
      if (!target->info) target->info = static_cast<ElementInfo*>(crt::calloc(1, sizeof(ElementInfo)));
      // Without memory for the record the loop keeps no state here; never a wrong one.
      if (target->info) target->info->iteration = iterations[index];
    }
    target->checksum = list_element_checksum(target);
  }
  crt::free(iterations);
  crt::free(sorted);
}
