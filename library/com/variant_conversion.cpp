// Script values to VARIANT arguments and VARIANT results back to script values, with the
// VARIANT type tag a cell carries to force a type.
#include "library/com/variant_conversion.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <unordered_set>

#include "foundation/conversion.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "foundation/machine_state.h"
#include "platform/kernel/memory.h"
#include "platform/ole/automation.h"
#include "vm/builtin_arguments.h"

namespace {

bool holds_text(const ValueCell* cell) { return cell->text && !(cell->flags & kCellList); }

// N: the number, or the text read as a number.
double cell_value(const ValueCell* cell) { return holds_text(cell) ? cell_number(cell) : cell->number; }

// A: the number when non-zero, else the data word, else the text's address.
uint32_t cell_address(const ValueCell* cell) {
  if (cell->number != 0.0) return static_cast<uint32_t>(truncate_to_int(cell->number));
  if (cell->data) return cell->data;
  return platform::address_of(cell->text);
}

BSTR cell_bstr(const ValueCell* cell) {
  WCHAR* copy = cell_wide_copy(cell);
  BSTR text = SysAllocString(copy ? copy : u"");
  crt::free(copy);
  return text;
}

// An array type (flag VT_ARRAY) or a reference to one (flag VT_ARRAY | VT_BYREF) of the
// element types a call can carry.
bool is_array_type(VARTYPE type, VARTYPE flag) {
  VARTYPE base = static_cast<VARTYPE>(type & ~flag);
  return (type & flag) == flag && (base == 0 || (base >= VT_I2 && base <= VT_UNKNOWN) || base == VT_UI1);
}

// The lowest addresses are never a record: a number there is refused, not read.
constexpr uint32_t kFirstRecordAddress = 0x10000;

// Fills one argument; false when the value cannot be sent.
bool fill_argument(VARIANT* value, VARTYPE type, const ValueCell* cell) {
  value->vt = type;
  double number = cell_value(cell);
  switch (type) {
    case VT_I2: value->iVal = static_cast<int16_t>(truncate_to_int(number)); return true;
    case VT_I4: case VT_DISPATCH: case VT_ERROR: case VT_UNKNOWN:
      value->lVal = truncate_to_int(number);
      return true;
    case VT_R4: value->fltVal = static_cast<float>(number); return true;
    case VT_R8: value->dblVal = number; return true;
    case VT_CY: {
      // Currency is a scaled integer: 1.5 travels as 15000.
      double scaled = std::nearbyint(number * 10000.0);
      if (!(std::fabs(scaled) < 9.2e18)) return false;
      value->cyVal.int64 = static_cast<int64_t>(scaled);
      return true;
    }
    case VT_DATE: {
      uint32_t address = cell_address(cell);
      if (address < kFirstRecordAddress) return false;
      return SystemTimeToVariantTime(platform::pointer_from<SYSTEMTIME>(address), &value->date) != 0;
    }
    case VT_BSTR: value->bstrVal = cell_bstr(cell); return value->bstrVal != nullptr;
    case VT_BOOL: value->boolVal = truncate_to_int(number) != 0 ? VARIANT_TRUE : VARIANT_FALSE; return true;
    case VT_VARIANT:
      if (holds_text(cell)) {
        value->vt = VT_BSTR;
        value->bstrVal = cell_bstr(cell);
        return value->bstrVal != nullptr;
      }
      value->vt = VT_I4;
      value->lVal = truncate_to_int(cell->number);
      return true;
    case VT_UI1: value->bVal = static_cast<uint8_t>(static_cast<uint32_t>(truncate_to_int(number))); return true;
    case VT_BYREF | VT_VARIANT:
      value->pvarVal = static_cast<VARIANT*>(std::calloc(1, sizeof(VARIANT)));
      return value->pvarVal != nullptr;
    default: break;
  }
  if (is_array_type(type, VT_ARRAY) || is_array_type(type, VT_ARRAY | VT_BYREF)) {
    value->byref = platform::pointer_from(static_cast<uint32_t>(truncate_to_int(number)));
    return true;
  }
  VARTYPE base = static_cast<VARTYPE>(type & ~VT_BYREF);
  if ((type & VT_BYREF) && ((base >= VT_I2 && base <= VT_UNKNOWN && base != VT_VARIANT) || base == VT_UI1 ||
                            base == VT_USERDEFINED)) {
    value->byref = platform::pointer_from(cell_address(cell));
    return true;
  }
  // Any other type travels as its zero value.
  std::memset(&value->lVal, 0, 8);
  return true;
}

void own_by_program(void* pointer, uint32_t kind) {
  if (current_program) context_own_allocation(current_program, pointer, 0, kind);
}

// A new SYSTEMTIME owned by the program for an OLE date; its address as a number.
double owned_date(DATE date) {
  auto* time = static_cast<SYSTEMTIME*>(crt::calloc(1, sizeof(SYSTEMTIME)));
  if (!time) return 0;
  VariantTimeToSystemTime(date, time);
  own_by_program(time, kOwnedMemory);
  return platform::address_of(time);
}

char* narrow_of(BSTR text) { return to_narrow(text ? text : u""); }

std::unordered_set<const ComDispatchObject*> live_wrappers;

Variable* published_variable(const char* name) {
  Variable* variable = find_variable(name);
  return variable ? variable : get_variable(current_scope, name);
}

}  // namespace

int32_t script_args_to_variants(ValueCell** cells, int32_t given_count, ComDispatchObject* wrapper, int32_t member,
                                ComArgumentBlock* arguments) {
  *arguments = {nullptr, nullptr, 0};
  const ComMemberEntry& entry = wrapper->member_table[member];
  int32_t count = entry.parameter_count;
  if (count > kMaxComArguments || given_count > kMaxComArguments) {
    wrapper->last_result = DISP_E_BADPARAMCOUNT;
    return -1;
  }
  arguments->block = static_cast<VARIANT*>(std::calloc(kMaxComArguments, sizeof(VARIANT)));
  arguments->working = static_cast<VARIANT*>(std::calloc(static_cast<size_t>(count) + 1, sizeof(VARIANT)));
  if (!arguments->block || !arguments->working) {
    free_argument_block(arguments);
    wrapper->last_result = E_OUTOFMEMORY;
    return -1;
  }
  arguments->count = count;
  for (int32_t i = 0; i < count; ++i) {
    VARIANT* value = &arguments->working[i];
    ValueCell* cell = i < given_count ? cells[i] : nullptr;
    VARTYPE type = entry.parameter_types[i];
    if (cell && cell->variant_type) {
      type = cell->variant_type;
      cell->variant_type = 0;
    }
    if (!cell || type == VT_NULL) {
      value->vt = VT_ERROR;
      value->scode = DISP_E_PARAMNOTFOUND;
    } else if (!fill_argument(value, type, cell)) {
      free_argument_block(arguments);
      wrapper->last_result = DISP_E_TYPEMISMATCH;
      return -1;
    }
    arguments->block[i] = *value;
  }
  return count;
}

void free_argument_block(ComArgumentBlock* arguments) {
  if (arguments->working) {
    for (int32_t i = 0; i < arguments->count; ++i) {
      VARIANT& value = arguments->working[i];
      if (value.vt == VT_BSTR) {
        SysFreeString(value.bstrVal);
      } else if (value.vt == (VT_BYREF | VT_VARIANT) && value.pvarVal) {
        VariantClear(value.pvarVal);
        std::free(value.pvarVal);
      }
    }
  }
  std::free(arguments->working);
  std::free(arguments->block);
  *arguments = {nullptr, nullptr, 0};
}

double variant_to_script_value(const VARIANT* value) {
  if (!value) return 0;
  VARTYPE type = value->vt;
  if (is_array_type(type, VT_ARRAY)) return static_cast<int32_t>(platform::address_of(value->parray));
  if (is_array_type(type, VT_ARRAY | VT_BYREF)) {
    return value->pparray ? static_cast<int32_t>(platform::address_of(*value->pparray)) : 0;
  }
  if ((type & VT_BYREF) && !value->byref) return 0;
  switch (type) {
    case VT_UI1: return value->bVal;
    case VT_I2: return value->iVal;
    case VT_I4: case VT_BSTR: case VT_DISPATCH: case VT_ERROR: case VT_VARIANT: case VT_UNKNOWN:
      return value->lVal;
    case VT_R4: return value->fltVal;
    case VT_R8: case VT_DATE: return value->dblVal;
    case VT_CY: return static_cast<double>(value->cyVal.int64) / 10000.0;
    case VT_BOOL: return std::abs(static_cast<int>(value->boolVal));
    case VT_BYREF | VT_I2: return *value->piVal;
    case VT_BYREF | VT_I4: return *value->plVal;
    case VT_BYREF | VT_R4: return *value->pfltVal;
    case VT_BYREF | VT_R8: case VT_BYREF | VT_DATE: return *value->pdblVal;
    case VT_BYREF | VT_CY: return static_cast<double>(value->pcyVal->int64) / 10000.0;
    case VT_BYREF | VT_BSTR: {
      char* text = narrow_of(*value->pbstrVal);
      if (!text) return 0;
      own_by_program(text, kOwnedMemory);
      return platform::address_of(text);
    }
    case VT_BYREF | VT_DISPATCH: case VT_BYREF | VT_ERROR: case VT_BYREF | VT_UNKNOWN: return *value->plVal;
    case VT_BYREF | VT_BOOL: return *value->piVal;
    case VT_BYREF | VT_VARIANT:
      // A variant holding a reference to itself would never end.
      return value->pvarVal->vt == (VT_BYREF | VT_VARIANT) ? 0 : variant_to_script_value(value->pvarVal);
    case VT_BYREF | VT_UI1: return *value->pbVal;
    default: return 0;
  }
}

ComDispatchObject* adopt_dispatch_for_script(IDispatch* dispatch) {
  ComDispatchObject* wrapper = dispatch_wrapper_new();
  if (!wrapper) return nullptr;
  if (!dispatch_attach(wrapper, dispatch)) {
    dispatch_wrapper_destroy(wrapper);
    return nullptr;
  }
  give_wrapper_to_script(wrapper);
  return wrapper;
}

void give_wrapper_to_script(ComDispatchObject* wrapper) {
  own_by_program(wrapper, kOwnedComObject);
  know_script_wrapper(wrapper);
}

ComDispatchObject* script_wrapper(uint32_t handle) {
  auto* wrapper = platform::pointer_from<ComDispatchObject>(handle);
  return live_wrappers.count(wrapper) ? wrapper : nullptr;
}

IDispatch* script_interface(uint32_t handle) {
  if (ComDispatchObject* wrapper = script_wrapper(handle)) return wrapper->dispatch;
  // Not a wrapper: an interface address, good only while a live wrapper holds a
  // reference to it. The walk is over the script's COM objects, a call that creates one.
  const auto* address = platform::pointer_from<IDispatch>(handle);
  if (!address) return nullptr;
  for (const ComDispatchObject* wrapper : live_wrappers) {
    if (wrapper->dispatch == address) return wrapper->dispatch;
  }
  return nullptr;
}

void forget_script_wrapper(const ComDispatchObject* wrapper) { live_wrappers.erase(wrapper); }

void know_script_wrapper(ComDispatchObject* wrapper) { live_wrappers.insert(wrapper); }

void push_call_result(VARIANT* result) {
  switch (result->vt) {
    case VT_EMPTY: stack_push_number(current_program, 0); return;
    case VT_BSTR: push_owned_text(narrow_of(result->bstrVal)); return;
    case VT_DATE: stack_push_number(current_program, owned_date(result->date)); return;
    case VT_DISPATCH: {
      ComDispatchObject* wrapper = adopt_dispatch_for_script(result->pdispVal);
      // The wrapper holds its own reference; the entry's one goes now.
      VariantClear(result);
      stack_push_number(current_program, platform::address_of(wrapper));
      return;
    }
    default: stack_push_number(current_program, variant_to_script_value(result)); return;
  }
}

void push_variant_result(ComDispatchObject* wrapper, int32_t member, int32_t given_count, ValueCell** cells,
                         int32_t follow_default) {
  if (member < 0 || !wrapper) {
    com_set_error(nullptr, 1);
    stack_push_number(current_program, 0);
    return;
  }
  ComArgumentBlock arguments;
  VARIANT* result = nullptr;
  if (script_args_to_variants(cells, given_count, wrapper, member, &arguments) >= 0) {
    if (SUCCEEDED(dispatch_invoke_member(wrapper, member, arguments.block))) {
      result = wrapper->member_table[member].result;
    }
  }
  com_set_error(wrapper, wrapper->last_result);
  if (!result) {
    stack_push_number(current_program, 0);
  } else if (result->vt == VT_BSTR) {
    push_owned_text(narrow_of(result->bstrVal));
  } else if (result->vt == VT_DATE) {
    stack_push_number(current_program, owned_date(result->date));
  } else if (result->vt == VT_DISPATCH) {
    ComDispatchObject* object = dispatch_wrapper_new();
    bool attached = object && dispatch_attach(object, result->pdispVal);
    VariantClear(result);
    int32_t value_getter = attached ? dispatch_find_member_by_id(object, DISPID_VALUE, 2) : -1;
    if (given_count > 0 && value_getter >= 0 &&
        (follow_default == 0 || object->member_table[value_getter].result_type == VT_PTR)) {
      // The collection's own default value, called with the same arguments.
      push_variant_result(object, value_getter, given_count, cells, follow_default);
      dispatch_wrapper_destroy(object);
    } else if (attached) {
      give_wrapper_to_script(object);
      stack_push_number(current_program, platform::address_of(object));
    } else {
      dispatch_wrapper_destroy(object);
      stack_push_number(current_program, 0);
    }
  } else {
    stack_push_number(current_program, variant_to_script_value(result));
  }
  free_argument_block(&arguments);
}

void com_set_error(const ComDispatchObject* wrapper, HRESULT code) {
  Variable* error = published_variable("COMERROR%");
  if (error && wrapper) {
    set_variable(error, nullptr, code, nullptr, 0);
  } else if (error) {
    double kept = error->number;
    set_variable(error, nullptr, kept, nullptr, 0);
  }
  Variable* description = published_variable("COMERRORDESC%");
  if (!description) return;
  char* text = nullptr;
  if (wrapper && wrapper->exception_info && wrapper->exception_info->bstrDescription) {
    text = narrow_of(wrapper->exception_info->bstrDescription);
  }
  if (text) {
    set_variable(description, text, 0, nullptr, static_cast<int32_t>(std::strlen(text) + 1));
    crt::free(text);
  } else {
    set_variable(description, nullptr, 0, nullptr, 0);
  }
}
