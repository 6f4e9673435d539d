// The COM built-ins: creating, inspecting, calling and freeing automation objects, safe
// arrays, VARIANT type tags, registered classes and server registration.
#include "library/com/com_builtins.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "compiler/frontend/analyzer.h"
#include "foundation/conversion.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "foundation/variables.h"
#include "library/com/activex_builtins.h"
#include "library/com/dispatch_object.h"
#include "compiler/frontend/type_library_import.h"
#include "library/com/variant_conversion.h"
#include "library/core/marked_arguments.h"
#include "library/lists/list_cursor.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/modules.h"
#include "platform/kernel/registry.h"
#include "platform/kernel/utf.h"
#include "platform/ole/automation.h"
#include "platform/ole/com_runtime.h"
#include "platform/ole/type_library.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

// Loaded by COMLoadTypeLib for the next CreateCOMObject only.
ITypeLib* pending_type_library = nullptr;

// Safe arrays made by SafeArray: only these are destroyed by SafeArrayDestroy, so an
// array a server still owns, or one destroyed already, is never freed again.
std::unordered_set<const void*> live_arrays;

constexpr DWORD kAnyContext =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

ComDispatchObject* cell_wrapper(const ValueCell* cell) {
  return script_wrapper(static_cast<uint32_t>(cell_to_int(cell)));
}

// Programs own their wrappers and their ActiveX controls through the same release.
void forget_and_free(void* wrapper) {
  if (activex_destroy_owned(wrapper)) return;
  forget_script_wrapper(static_cast<ComDispatchObject*>(wrapper));
  std::free(wrapper);
}

void release_hook(void* wrapper) {
  if (activex_release_owned(wrapper)) return;
  release_dispatch_wrapper(static_cast<ComDispatchObject*>(wrapper));
}

// The member name of a cell as a lower-case-able UTF-16 copy.
struct MemberName {
  WCHAR* text;
  explicit MemberName(const ValueCell* cell) : text(cell_wide_copy(cell)) {}
  ~MemberName() { crt::free(text); }
};

bool take_arguments(std::vector<ValueCell*>& cells, size_t at_least) {
  return take_marked_arguments(cells) && cells.size() >= at_least;
}

void push_address(const void* pointer) { stack_push_number(current_program, platform::address_of(pointer)); }

// A handle that names no live object: nothing is called.
void refuse_handle(bool push) {
  com_set_error(nullptr, 0);
  Variable* error = find_variable("COMERROR%");
  if (error) set_variable(error, nullptr, E_POINTER, nullptr, 0);
  if (push) stack_push_number(current_program, 0);
}

// Writes the values of [out] VARIANT parameters back to the argument variables.
void write_back_outputs(ComDispatchObject* wrapper, int32_t member, const std::vector<ValueCell*>& cells,
                        size_t first, ComArgumentBlock* arguments) {
  const ComMemberEntry& entry = wrapper->member_table[member];
  for (int32_t i = 0; i < arguments->count; ++i) {
    VARIANT& value = arguments->working[i];
    if (!entry.parameter_flags[i] || value.vt != (VT_BYREF | VT_VARIANT) || !value.pvarVal) continue;
    size_t at = first + static_cast<size_t>(i);
    Variable* target = nullptr;
    if (at < cells.size()) {
      ValueCell* cell = cells[at];
      target = cell->variable ? cell->variable : (cell->text && !(cell->flags & kCellList) ? cell_variable(cell) : nullptr);
    }
    VARIANT* output = value.pvarVal;
    if (target) {
      if (output->vt == VT_BSTR) {
        char* text = to_narrow(output->bstrVal ? output->bstrVal : u"");
        if (text) set_variable(target, text, 0, nullptr, static_cast<int32_t>(std::strlen(text) + 1));
        crt::free(text);
      } else if (output->vt == VT_DATE) {
        auto* time = static_cast<SYSTEMTIME*>(crt::calloc(1, sizeof(SYSTEMTIME)));
        if (time) {
          VariantTimeToSystemTime(output->date, time);
          context_own_allocation(current_program, time, 0, kOwnedMemory);
        }
        set_variable(target, nullptr, platform::address_of(time), nullptr, 0);
      } else {
        set_variable(target, nullptr, variant_to_script_value(output), nullptr, 0);
      }
    }
    VariantClear(output);
    std::free(output);
    value.pvarVal = nullptr;
  }
}

std::u16string registry_default(HKEY key, const WCHAR* subkey, DWORD max_bytes) {
  HKEY child = nullptr;
  if (RegOpenKeyExW(key, subkey, 0, KEY_READ, &child) != ERROR_SUCCESS) return {};
  std::vector<WCHAR> buffer(max_bytes / sizeof(WCHAR) + 1, 0);
  DWORD type = 0;
  DWORD size = max_bytes;
  LONG status = RegQueryValueExW(child, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
  RegCloseKey(child);
  if (status != ERROR_SUCCESS || type != REG_SZ) return {};
  buffer[size / sizeof(WCHAR) < buffer.size() ? size / sizeof(WCHAR) : buffer.size() - 1] = 0;
  return std::u16string(buffer.data());
}

bool has_subkey(HKEY key, const WCHAR* name) {
  HKEY child = nullptr;
  if (RegOpenKeyExW(key, name, 0, KEY_READ, &child) != ERROR_SUCCESS) return false;
  RegCloseKey(child);
  return true;
}

std::string narrow_text(const std::u16string& text) {
  char* narrow = to_narrow(text.c_str());
  std::string result = narrow ? narrow : "";
  crt::free(narrow);
  return result;
}

// The method (kind 1) or property getter (kind 2) names of an object, in table order.
void list_members(uint16_t kind) {
  Variable* list = pop_variable();
  ValueCell* object_cell = stack_pop(current_program);
  ComDispatchObject* wrapper = cell_wrapper(object_cell);
  std::vector<std::string> names;
  if (wrapper) {
    for (int32_t i = 0; i < wrapper->member_count; ++i) {
      const ComMemberEntry& entry = wrapper->member_table[i];
      if (entry.invoke_kind == kind && entry.name) names.push_back(narrow_text(entry.name));
    }
  }
  int32_t count = fill_text_list(list, names);
  com_set_error(nullptr, 0);
  stack_push_number(current_program, count);
}

// Publishes how a creation went and pushes the new wrapper, or 0 (freeing it) when the
// creation failed.
void finish_creation(ComDispatchObject* wrapper, int32_t created) {
  if (!wrapper) {
    stack_push_number(current_program, 0);
    return;
  }
  com_set_error(wrapper, wrapper->last_result);
  if (!created) {
    dispatch_wrapper_destroy(wrapper);
    stack_push_number(current_program, 0);
    return;
  }
  give_wrapper_to_script(wrapper);
  push_address(wrapper);
}

}  // namespace

void builtin_CreateCOMObject() {
  WCHAR* name = cell_wide_copy(stack_pop(current_program));
  ComDispatchObject* wrapper = dispatch_wrapper_new();
  int32_t created = 0;
  if (wrapper && name) {
    CLSID clsid{};
    HRESULT found = CLSIDFromProgID(name, &clsid);
    if (FAILED(found)) found = CLSIDFromString(name, &clsid);
    if (SUCCEEDED(found)) {
      created = dispatch_create_by_clsid(wrapper, clsid, kAnyContext, pending_type_library);
    } else {
      wrapper->last_result = found;
    }
  }
  crt::free(name);
  if (pending_type_library) pending_type_library->Release();
  pending_type_library = nullptr;
  finish_creation(wrapper, created);
}

void builtin_CreateCOMObjectFrom() {
  // A script's COM object handle is a wrapper, not an interface: the new object shares
  // the wrapper's interface. Any other number is never called through.
  IDispatch* dispatch = script_interface(pop_address());
  ComDispatchObject* wrapper = dispatch_wrapper_new();
  int32_t attached = wrapper && dispatch ? dispatch_attach(wrapper, dispatch) : 0;
  if (wrapper && !dispatch) wrapper->last_result = E_POINTER;
  finish_creation(wrapper, attached);
}

void builtin_FreeCOMObject() {
  std::vector<ValueCell*> cells;
  if (!take_marked_arguments(cells)) return;
  for (ValueCell* cell : cells) {
    ComDispatchObject* wrapper = cell_wrapper(cell);
    // The wrappers of an ActiveX control go with the control (FreeActiveX).
    if (!wrapper || wrapper->owner_site) continue;
    context_disown_pointer(current_program, wrapper);
    forget_script_wrapper(wrapper);
    dispatch_wrapper_destroy(wrapper);
  }
}

void builtin_COMLoadTypeLib() {
  WCHAR* path = cell_wide_copy(stack_pop(current_program));
  if (pending_type_library) pending_type_library->Release();
  pending_type_library = nullptr;
  HRESULT result = path ? LoadTypeLib(path, &pending_type_library) : E_OUTOFMEMORY;
  crt::free(path);
  stack_push_number(current_program, result == S_OK ? 1 : 0);
}

void builtin_RegisterDLL() {
  WCHAR* path = cell_wide_copy(stack_pop(current_program));
  int32_t registered = 0;
  HMODULE module = path ? LoadLibraryW(path) : nullptr;
  crt::free(path);
  if (module) {
    auto entry = reinterpret_cast<DllRegisterServerFunction>(GetProcAddressW(module, u"DllRegisterServer"));
    if (entry) registered = entry() == 0 ? 1 : 0;
    FreeLibrary(module);
  }
  stack_push_number(current_program, registered);
}

namespace {

// One call of a member: the popped arguments (object, name, values...), the wrapper and
// the member found.
struct MemberCall {
  std::vector<ValueCell*> cells;
  ComDispatchObject* wrapper = nullptr;
  int32_t member = -1;
  ComArgumentBlock arguments{nullptr, nullptr, 0};

  ValueCell** values() { return cells.data() + 2; }
  int32_t value_count() const { return static_cast<int32_t>(cells.size() - 2); }
  // Builds the arguments and calls the member; the HRESULT (or the refusal's reason).
  HRESULT call() {
    if (script_args_to_variants(values(), value_count(), wrapper, member, &arguments) < 0) return wrapper->last_result;
    return dispatch_invoke_member(wrapper, member, arguments.block);
  }
  ~MemberCall() { free_argument_block(&arguments); }
};

// Takes the arguments and finds the member of that kind. False when the call ends here,
// its result pushed: no arguments or no object (0), or a missing member (missing_result,
// with COMERROR% 1 when report_missing).
bool start_member_call(MemberCall* call, uint16_t kind, bool report_missing, double missing_result) {
  if (!take_arguments(call->cells, 2)) {
    stack_push_number(current_program, 0);
    return false;
  }
  call->wrapper = cell_wrapper(call->cells[0]);
  if (!call->wrapper) {
    refuse_handle(true);
    return false;
  }
  MemberName name(call->cells[1]);
  call->member = dispatch_find_member(call->wrapper, name.text, kind);
  if (call->member >= 0) return true;
  if (report_missing) {
    call->wrapper->last_result = 1;
    com_set_error(call->wrapper, 1);
  }
  stack_push_number(current_program, missing_result);
  return false;
}

}  // namespace

void builtin_GetProperty() {
  MemberCall call;
  if (!start_member_call(&call, 2, false, 0)) return;
  push_variant_result(call.wrapper, call.member, call.value_count(), call.values(), 1);
}

void builtin_SetProperty() {
  MemberCall call;
  // No setter: the property cannot be set, which is a failure.
  if (!start_member_call(&call, 4, true, 0)) return;
  int32_t put = SUCCEEDED(call.call()) ? 1 : 0;
  com_set_error(call.wrapper, call.wrapper->last_result);
  stack_push_number(current_program, put);
}

void builtin_Invoke() {
  MemberCall call;
  if (!start_member_call(&call, 1, true, 1)) return;
  HRESULT result = call.call();
  if (call.arguments.working) write_back_outputs(call.wrapper, call.member, call.cells, 2, &call.arguments);
  free_argument_block(&call.arguments);
  com_set_error(call.wrapper, call.wrapper->last_result);
  VARIANT* value = call.wrapper->member_table[call.member].result;
  if (FAILED(result) || result == 1 || !value) {
    stack_push_number(current_program, 0);
    return;
  }
  push_call_result(value);
}

void builtin_QueryInterface() {
  WCHAR* name = cell_wide_copy(stack_pop(current_program));
  ComDispatchObject* wrapper = cell_wrapper(stack_pop(current_program));
  if (!wrapper) {
    crt::free(name);
    return refuse_handle(true);
  }
  IUnknown* created = dispatch_create_interface_by_name(wrapper, name);
  crt::free(name);
  com_set_error(wrapper, wrapper->last_result);
  push_address(created);
}

void builtin_Dispatch() {
  ComDispatchObject* wrapper = cell_wrapper(stack_pop(current_program));
  if (!wrapper) return refuse_handle(true);
  com_set_error(wrapper, wrapper->last_result);
  push_address(wrapper->dispatch);
}

void builtin_COMMethods() { list_members(1); }

void builtin_COMProperties() { list_members(2); }

void builtin_COMInfo() {
  Variable* list = pop_variable();
  Variable* info = pop_variable();
  ValueCell* name_cell = stack_pop(current_program);
  ComDispatchObject* wrapper = cell_wrapper(stack_pop(current_program));
  list_take_chain(list, nullptr);
  if (!wrapper) return refuse_handle(false);
  MemberName name(name_cell);
  int32_t member = dispatch_find_member(wrapper, name.text, 2);
  if (member < 0) member = dispatch_find_member(wrapper, name.text, 1);
  if (member < 0) {
    com_set_error(wrapper, wrapper->last_result);
    return;
  }
  const ComMemberEntry& entry = wrapper->member_table[member];
  int32_t block[4] = {entry.dispatch_id, entry.invoke_kind, entry.result_type, entry.parameter_count};
  if (info) variable_set_data(info, block, sizeof(block), true);
  ListElement* last = nullptr;
  for (int32_t i = 0; i < entry.parameter_count; ++i) {
    ListElement* element = list_append_number(last, entry.parameter_types[i]);
    if (!element) break;
    last = element;
  }
  list_take_chain(list, last);
  com_set_error(wrapper, wrapper->last_result);
}

void builtin_COMObjects() {
  int32_t filter = truncate_to_int(cell_number(stack_pop(current_program)));
  Variable* list = pop_variable();
  std::vector<std::string> entries;
  HKEY classes = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, u"CLSID", 0, KEY_READ, &classes) != ERROR_SUCCESS) {
    fill_text_list(list, entries);
    stack_push_number(current_program, 0);
    return;
  }
  for (DWORD index = 0;; ++index) {
    WCHAR name[261];
    DWORD chars = 261;
    if (RegEnumKeyExW(classes, index, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    HKEY key = nullptr;
    if (RegOpenKeyExW(classes, name, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    int32_t control = has_subkey(key, u"InprocServer32") && has_subkey(key, u"ProgID") &&
                              (has_subkey(key, u"Control") || has_subkey(key, u"ToolboxBitmap32"))
                          ? 1
                          : 0;
    if (filter == -1 || filter == control) {
      std::u16string server = registry_default(key, u"InprocServer32", 520);
      std::u16string progid = registry_default(key, u"ProgID", 160);
      if (!server.empty() && !progid.empty()) entries.push_back(narrow_text(progid) + "," + narrow_text(server));
    }
    RegCloseKey(key);
  }
  RegCloseKey(classes);
  int32_t count = fill_text_list(list, entries);
  com_set_error(nullptr, 0);
  stack_push_number(current_program, count);
}

void builtin_SafeArray() {
  std::vector<ValueCell*> cells;
  if (!take_arguments(cells, 1)) {
    stack_push_number(current_program, 0);
    return;
  }
  auto type = static_cast<VARTYPE>(cell_to_int(cells[0]) & 0xFFFF);
  SAFEARRAY* array = SafeArrayCreateVector(type, 0, static_cast<ULONG>(cells.size() - 1));
  if (!array) {
    stack_push_number(current_program, 0);
    return;
  }
  void* data = nullptr;
  if (SUCCEEDED(SafeArrayAccessData(array, &data))) {
    for (size_t i = 1; i < cells.size(); ++i) {
      if (type == VT_BSTR) {
        WCHAR* text = cell_wide_copy(cells[i]);
        static_cast<BSTR*>(data)[i - 1] = SysAllocString(text ? text : u"");
        crt::free(text);
      } else if (type == VT_UI1) {
        static_cast<uint8_t*>(data)[i - 1] = static_cast<uint8_t>(truncate_to_int(cell_number(cells[i])));
      }
    }
    SafeArrayUnaccessData(array);
  }
  live_arrays.insert(array);
  push_address(array);
}

void builtin_SafeArrayDestroy() {
  std::vector<ValueCell*> cells;
  if (!take_marked_arguments(cells)) return;
  for (ValueCell* cell : cells) {
    auto* array = platform::pointer_from<SAFEARRAY>(static_cast<uint32_t>(cell_to_int(cell)));
    if (!live_arrays.erase(array)) continue;
    SafeArrayDestroy(array);
  }
}

void builtin_T() {
  int32_t type = truncate_to_int(cell_number(stack_pop(current_program)));
  ValueCell* value = current_program->stack_top;
  if (value) value->variant_type = static_cast<uint16_t>(type & 0xFFFF);
}

void builtin_VariantType() {
  ValueCell* value = stack_pop(current_program);
  stack_push_number(current_program, value->variant_type);
}

void register_com_builtins() {
  com_object_release = {release_hook, CoUninitialize, forget_and_free};
  import_type_library_hook = import_type_library;
  builtin_register("CreateCOMObject", builtin_CreateCOMObject);
  builtin_register("CreateCOMObjectFrom", builtin_CreateCOMObjectFrom);
  builtin_register("FreeCOMObject", builtin_FreeCOMObject);
  builtin_register("COMLoadTypeLib", builtin_COMLoadTypeLib);
  builtin_register("RegisterDLL", builtin_RegisterDLL);
  builtin_register("GetProperty", builtin_GetProperty);
  builtin_register("SetProperty", builtin_SetProperty);
  builtin_register("Invoke", builtin_Invoke);
  builtin_register("QueryInterface", builtin_QueryInterface);
  builtin_register("Dispatch", builtin_Dispatch);
  builtin_register("COMMethods", builtin_COMMethods);
  builtin_register("COMProperties", builtin_COMProperties);
  builtin_register("COMInfo", builtin_COMInfo);
  builtin_register("COMObjects", builtin_COMObjects);
  builtin_register("SafeArray", builtin_SafeArray);
  builtin_register("SafeArrayDestroy", builtin_SafeArrayDestroy);
  builtin_register("T", builtin_T);
  builtin_register("VariantType", builtin_VariantType);
}
