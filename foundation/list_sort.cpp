// List sort: the chain's values in a stable order (numbers before texts), then moved
// back into the elements in that order.
#include "foundation/list_sort.h"

#include <algorithm>
#include <cmath>
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
  size_t length;  // of the text, measured once
};

size_t text_length(const void* data) {
  const char* text = static_cast<const char*>(data);
  uint32_t size = alloc_block_size(data);
  return size ? strnlen(text, size) : std::strlen(text);
}

// strcmp or _stricmp, bounded by the blocks so data without a zero is never overrun.
int compare_texts(const SortValue& left, const SortValue& right, bool case_sensitive) {
  size_t common = left.length < right.length ? left.length : right.length;
  const char* a = static_cast<const char*>(left.data);
  const char* b = static_cast<const char*>(right.data);
  int result = case_sensitive ? std::strncmp(a, b, common) : crt::_strnicmp(a, b, common);
  if (result) return result;
  return left.length < right.length ? -1 : (left.length > right.length ? 1 : 0);
}

// Whether s belongs in front of t. A number against a string: numbers first.
bool goes_before(const SortValue& s, const SortValue& t, bool ascending, bool case_sensitive) {
  bool s_text = s.data != nullptr;
  bool t_text = t.data != nullptr;
  if (s_text != t_text) return !s_text;
  if (!s_text) return ascending ? s.number < t.number : s.number > t.number;
  int c = compare_texts(s, t, case_sensitive);
  return ascending ? c < 0 : c > 0;
}

// The order of values[0..count): each value in front of the first it belongs before, so
// equal values keep their order. That is a stable sort, unless a NaN (which is neither
// before nor after anything) is among the numbers: then the insertion itself is done.
void order_values(SortValue* values, uint32_t count, bool ascending, bool case_sensitive, bool has_nan) {
  auto before = [=](const SortValue& s, const SortValue& t) { return goes_before(s, t, ascending, case_sensitive); };
  if (!has_nan) {
    std::stable_sort(values, values + count, before);
    return;
  }
  for (uint32_t used = 1; used < count; ++used) {
    SortValue value = values[used];
    uint32_t position = 0;
    while (position < used && !before(value, values[position])) ++position;
    std::memmove(&values[position + 1], &values[position], (used - position) * sizeof(SortValue));
    values[position] = value;
  }
}

}  // namespace

void list_element_chain_sort(ListElement* element, int32_t ascending, int32_t case_sensitive) {
  ListElement* first = list_element_first(element);
  if (!first) return;
  uint32_t count = list_element_count(first);
  auto* sorted = static_cast<SortValue*>(crt::malloc(count * sizeof(SortValue)));
  if (!sorted) return;
  uint32_t used = 0;
  bool has_nan = false;
  for (ListElement* source = first; source && used < count; source = source->next) {
    SortValue value{source->data, source->number, source->flags, source->type_code, source->info,
                    source->struct_info, source->data ? text_length(source->data) : 0};
    if (!source->data && std::isnan(source->number)) has_nan = true;
    sorted[used++] = value;
  }
  order_values(sorted, used, ascending != 0, case_sensitive != 0, has_nan);
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
