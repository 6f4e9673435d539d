// The COM dispatch object: a wrapper around a server's IDispatch that reads its type
// information once into a member table and calls members by name.
#include "library/com/dispatch_object.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/kernel/wide_string.h"
#include "platform/ole/automation.h"
#include "platform/ole/com_runtime.h"

namespace {

VARIANT* new_result_variant() {
  auto* value = static_cast<VARIANT*>(std::calloc(1, sizeof(VARIANT)));
  return value;
}

void free_entry(ComMemberEntry* entry) {
  SysFreeString(entry->name);
  if (entry->result) {
    VariantClear(entry->result);
    std::free(entry->result);
  }
  std::free(entry->parameter_types);
  std::free(entry->parameter_references);
  std::free(entry->parameter_flags);
  std::memset(entry, 0, sizeof(*entry));
}

void free_member_table(ComDispatchObject* wrapper) {
  if (wrapper->member_table) {
    for (int32_t i = 0; i < wrapper->member_count; ++i) free_entry(&wrapper->member_table[i]);
    std::free(wrapper->member_table);
  }
  wrapper->member_table = nullptr;
  wrapper->member_count = 0;
  wrapper->function_count = 0;
  wrapper->property_count = 0;
}

BSTR lower_copy(const WCHAR* name) {
  BSTR copy = SysAllocString(name ? name : u"");
  if (copy) crt::_wcslwr(copy);
  return copy;
}

// Parameter arrays of count + 1 elements each; false without memory.
bool allocate_parameters(ComMemberEntry* entry, int32_t count) {
  size_t slots = static_cast<size_t>(count) + 1;
  entry->parameter_count = count;
  entry->parameter_types = static_cast<VARTYPE*>(std::calloc(slots, sizeof(VARTYPE)));
  entry->parameter_references = static_cast<uint32_t*>(std::calloc(slots, sizeof(uint32_t)));
  entry->parameter_flags = static_cast<uint8_t*>(std::calloc(slots, sizeof(uint8_t)));
  return entry->parameter_types && entry->parameter_references && entry->parameter_flags;
}

void copy_entry(ComMemberEntry* target, const ComMemberEntry& source) {
  target->dispatch_id = source.dispatch_id;
  target->name = lower_copy(source.name);
  target->invoke_kind = source.invoke_kind;
  target->result_type = source.result_type;
  target->result = new_result_variant();
  if (source.parameter_count < 1) return;
  if (!allocate_parameters(target, source.parameter_count)) return;
  size_t slots = static_cast<size_t>(source.parameter_count) + 1;
  std::memcpy(target->parameter_types, source.parameter_types, slots * sizeof(VARTYPE));
  std::memcpy(target->parameter_references, source.parameter_references, slots * sizeof(uint32_t));
  std::memcpy(target->parameter_flags, source.parameter_flags, slots * sizeof(uint8_t));
}

// The name of member id from the type information, lower-cased; null on failure.
BSTR member_name(ITypeInfo* type_info, MEMBERID id, HRESULT* status) {
  BSTR names[1] = {nullptr};
  UINT count = 0;
  *status = type_info->GetNames(id, names, 1, &count);
  if (FAILED(*status) || count < 1) {
    if (SUCCEEDED(*status)) *status = TYPE_E_ELEMENTNOTFOUND;
    return nullptr;
  }
  crt::_wcslwr(names[0]);
  return names[0];
}

}  // namespace

void free_exception_info(EXCEPINFO* info) {
  if (!info) return;
  SysFreeString(info->bstrSource);
  SysFreeString(info->bstrDescription);
  SysFreeString(info->bstrHelpFile);
  std::free(info);
}

ComDispatchObject* dispatch_wrapper_new() {
  CoInitializeEx(nullptr, 0);
  auto* wrapper = static_cast<ComDispatchObject*>(std::calloc(1, sizeof(ComDispatchObject)));
  if (!wrapper) CoUninitialize();
  return wrapper;
}

ComDispatchObject* dispatch_wrapper_copy(const ComDispatchObject* source) {
  ComDispatchObject* wrapper = dispatch_wrapper_new();
  if (!wrapper || !source) return wrapper;
  wrapper->dispatch = source->dispatch;
  if (wrapper->dispatch) wrapper->dispatch->AddRef();
  if (source->member_count > 0 && source->member_table) {
    wrapper->member_table =
        static_cast<ComMemberEntry*>(std::calloc(static_cast<size_t>(source->member_count), sizeof(ComMemberEntry)));
    if (wrapper->member_table) {
      wrapper->member_count = source->member_count;
      for (int32_t i = 0; i < source->member_count; ++i) copy_entry(&wrapper->member_table[i], source->member_table[i]);
    }
  }
  return wrapper;
}

void dispatch_wrapper_destroy(ComDispatchObject* wrapper) {
  if (!wrapper) return;
  release_dispatch_wrapper(wrapper);
  CoUninitialize();
  std::free(wrapper);
}

int32_t dispatch_create_by_progid(ComDispatchObject* wrapper, const WCHAR* progid, DWORD context,
                                  ITypeLib* pending_library) {
  CLSID clsid{};
  HRESULT result = CLSIDFromProgID(progid, &clsid);
  if (FAILED(result)) {
    wrapper->last_result = result;
    return 0;
  }
  return dispatch_create_by_clsid(wrapper, clsid, context, pending_library);
}

int32_t dispatch_create_by_clsid(ComDispatchObject* wrapper, const CLSID& clsid, DWORD context,
                                 ITypeLib* pending_library) {
  release_dispatch_wrapper(wrapper);
  HRESULT result = CoCreateInstance(clsid, nullptr, context, IID_IUnknown,
                                    reinterpret_cast<void**>(&wrapper->base_interface));
  if (SUCCEEDED(result) && wrapper->base_interface) {
    result = wrapper->base_interface->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&wrapper->dispatch));
  } else {
    result = CoCreateInstance(clsid, nullptr, context, IID_IDispatch, reinterpret_cast<void**>(&wrapper->dispatch));
  }
  if (!wrapper->dispatch) {
    wrapper->last_result = FAILED(result) ? result : E_NOINTERFACE;
    return 0;
  }
  UINT count = 0;
  wrapper->dispatch->GetTypeInfoCount(&count);
  ITypeInfo* type_info = nullptr;
  if (pending_library) {
    result = pending_library->GetTypeInfo(0, &type_info);
  } else {
    result = wrapper->dispatch->GetTypeInfo(0, LOCALE_SYSTEM_DEFAULT, &type_info);
  }
  wrapper->last_result = result;
  return dispatch_read_type_info(wrapper, SUCCEEDED(result) ? type_info : nullptr);
}

int32_t dispatch_attach(ComDispatchObject* wrapper, IDispatch* dispatch) {
  if (!dispatch) return 0;
  // The new reference comes first: the wrapper may hold the only other one.
  dispatch->AddRef();
  release_dispatch_wrapper(wrapper);
  wrapper->dispatch = dispatch;
  ITypeInfo* type_info = nullptr;
  HRESULT result = dispatch->GetTypeInfo(0, LOCALE_SYSTEM_DEFAULT, &type_info);
  wrapper->last_result = result;
  return dispatch_read_type_info(wrapper, SUCCEEDED(result) ? type_info : nullptr);
}

IUnknown* dispatch_create_interface_by_name(ComDispatchObject* wrapper, const WCHAR* name) {
  if (!wrapper->dispatch || !name) return nullptr;
  UINT count = 0;
  if (FAILED(wrapper->dispatch->GetTypeInfoCount(&count))) return nullptr;
  for (UINT i = 0; i < count; ++i) {
    ITypeInfo* type_info = nullptr;
    if (FAILED(wrapper->dispatch->GetTypeInfo(i, LOCALE_SYSTEM_DEFAULT, &type_info)) || !type_info) return nullptr;
    TYPEATTR* attributes = nullptr;
    if (FAILED(type_info->GetTypeAttr(&attributes))) {
      type_info->Release();
      return nullptr;
    }
    IUnknown* created = nullptr;
    bool matched = false;
    if (attributes->typekind == TKIND_INTERFACE) {
      BSTR type_name = nullptr;
      if (SUCCEEDED(type_info->GetDocumentation(MEMBERID_NIL, &type_name, nullptr, nullptr, nullptr)) && type_name &&
          crt::wcscmp(type_name, name) == 0) {
        matched = true;
        wrapper->last_result = CoCreateInstance(attributes->guid, nullptr, 23, IID_IUnknown,
                                                reinterpret_cast<void**>(&created));
      }
      SysFreeString(type_name);
    }
    type_info->ReleaseTypeAttr(attributes);
    type_info->Release();
    if (matched) return created;
  }
  return nullptr;
}

int32_t dispatch_read_type_info(ComDispatchObject* wrapper, ITypeInfo* type_info) {
  free_member_table(wrapper);
  if (!wrapper->dispatch || !type_info) {
    if (type_info) type_info->Release();
    return 0;
  }
  TYPEATTR* attributes = nullptr;
  HRESULT status = type_info->GetTypeAttr(&attributes);
  if (FAILED(status) || !attributes) {
    wrapper->last_result = FAILED(status) ? status : E_FAIL;
    type_info->Release();
    return 0;
  }
  if (attributes->typekind != TKIND_INTERFACE && attributes->typekind != TKIND_DISPATCH &&
      attributes->typekind != TKIND_COCLASS) {
    type_info->ReleaseTypeAttr(attributes);
    type_info->Release();
    wrapper->last_result = 1;
    return 0;
  }
  if (attributes->typekind == TKIND_COCLASS) {
    // The members come from the last implemented type that could be read.
    ITypeInfo* chosen = nullptr;
    TYPEATTR* chosen_attributes = nullptr;
    for (UINT i = 0; i < attributes->cImplTypes; ++i) {
      INT flags = 0;
      if (FAILED(type_info->GetImplTypeFlags(i, &flags))) continue;
      HREFTYPE reference = 0;
      ITypeInfo* implemented = nullptr;
      TYPEATTR* implemented_attributes = nullptr;
      HRESULT step = type_info->GetRefTypeOfImplType(i, &reference);
      if (SUCCEEDED(step)) step = type_info->GetRefTypeInfo(reference, &implemented);
      if (SUCCEEDED(step) && implemented) step = implemented->GetTypeAttr(&implemented_attributes);
      if (FAILED(step) || !implemented || !implemented_attributes) {
        if (implemented) implemented->Release();
        if (FAILED(step)) wrapper->last_result = step;
        break;
      }
      if (chosen) {
        chosen->ReleaseTypeAttr(chosen_attributes);
        chosen->Release();
      }
      chosen = implemented;
      chosen_attributes = implemented_attributes;
    }
    type_info->ReleaseTypeAttr(attributes);
    type_info->Release();
    if (!chosen) {
      if (wrapper->last_result >= 0) wrapper->last_result = 1;
      return 0;
    }
    type_info = chosen;
    attributes = chosen_attributes;
  }
  int32_t functions = attributes->cFuncs;
  int32_t properties = attributes->cVars;
  int32_t members = functions + 2 * properties;
  auto fail = [&](HRESULT reason) {
    type_info->ReleaseTypeAttr(attributes);
    type_info->Release();
    free_member_table(wrapper);
    wrapper->last_result = reason;
    return 0;
  };
  if (members > 0) {
    wrapper->member_table = static_cast<ComMemberEntry*>(std::calloc(static_cast<size_t>(members), sizeof(ComMemberEntry)));
    if (!wrapper->member_table) return fail(E_OUTOFMEMORY);
  }
  wrapper->function_count = functions;
  wrapper->property_count = properties;
  wrapper->member_count = members;
  for (int32_t i = 0; i < functions; ++i) {
    FUNCDESC* description = nullptr;
    status = type_info->GetFuncDesc(static_cast<UINT>(i), &description);
    if (FAILED(status) || !description) return fail(FAILED(status) ? status : E_FAIL);
    ComMemberEntry* entry = &wrapper->member_table[i];
    entry->dispatch_id = description->memid;
    entry->name = member_name(type_info, description->memid, &status);
    if (!entry->name) {
      type_info->ReleaseFuncDesc(description);
      return fail(status);
    }
    int32_t kind = description->invkind;
    entry->invoke_kind = static_cast<uint16_t>(kind == 1 || kind == 2 || kind == 4 || kind == 8 ? kind : 0);
    entry->result = new_result_variant();
    VARTYPE result_type = description->elemdescFunc.tdesc.vt;
    entry->result_type = result_type == VT_VOID || result_type == VT_NULL ? 0 : result_type;
    int32_t count = description->cParams > 0 ? description->cParams : 0;
    if (!allocate_parameters(entry, count)) {
      type_info->ReleaseFuncDesc(description);
      return fail(E_OUTOFMEMORY);
    }
    for (int32_t p = 0; p < count; ++p) {
      const ELEMDESC& parameter = description->lprgelemdescParam[p];
      entry->parameter_types[p] =
          typedesc_to_vartype(wrapper, &parameter.tdesc, type_info, &entry->parameter_references[p]);
      // An [out] parameter's value comes back to the caller.
      entry->parameter_flags[p] = (parameter.paramdesc.wParamFlags & PARAMFLAG_FOUT) ? 1 : 0;
    }
    entry->parameter_types[count] = 0;
    type_info->ReleaseFuncDesc(description);
  }
  for (int32_t i = 0; i < properties; ++i) {
    VARDESC* description = nullptr;
    status = type_info->GetVarDesc(static_cast<UINT>(i), &description);
    if (FAILED(status) || !description) return fail(FAILED(status) ? status : E_FAIL);
    ComMemberEntry* getter = &wrapper->member_table[functions + i];
    ComMemberEntry* putter = &wrapper->member_table[functions + properties + i];
    getter->dispatch_id = putter->dispatch_id = description->memid;
    getter->name = member_name(type_info, description->memid, &status);
    if (!getter->name) {
      type_info->ReleaseVarDesc(description);
      return fail(status);
    }
    putter->name = lower_copy(getter->name);
    if (description->varkind == VAR_DISPATCH) {
      VARTYPE type = description->elemdescVar.tdesc.vt;
      getter->invoke_kind = 2;
      getter->result_type = type;
      putter->invoke_kind = 4;
      putter->result_type = 0;
      if (!allocate_parameters(putter, 1)) {
        type_info->ReleaseVarDesc(description);
        return fail(E_OUTOFMEMORY);
      }
      putter->parameter_types[0] = type;
      putter->parameter_references[0] = type;
    }
    getter->result = new_result_variant();
    putter->result = new_result_variant();
    type_info->ReleaseVarDesc(description);
  }
  type_info->ReleaseTypeAttr(attributes);
  type_info->Release();
  return 1;
}

VARTYPE typedesc_to_vartype(ComDispatchObject* wrapper, const TYPEDESC* typedesc, ITypeInfo* type_info,
                            uint32_t* reference) {
  // Aliases of aliases end here: a cycle in a library must not recurse forever.
  static thread_local int depth = 0;
  if (!typedesc) return VT_EMPTY;
  VARTYPE vt = typedesc->vt;
  const TYPEDESC* target = typedesc;
  VARTYPE by_reference = 0;
  if (vt == VT_PTR && typedesc->lptdesc) {
    if (typedesc->lptdesc->vt != VT_USERDEFINED) return static_cast<VARTYPE>(typedesc->lptdesc->vt | VT_BYREF);
    target = typedesc->lptdesc;
    by_reference = VT_BYREF;
  } else if (vt == VT_SAFEARRAY && typedesc->lptdesc) {
    return static_cast<VARTYPE>(typedesc->lptdesc->vt | VT_ARRAY);
  }
  if (target->vt != VT_USERDEFINED) return vt;
  if (reference) *reference = target->hreftype;
  VARTYPE resolved = VT_USERDEFINED;
  ITypeInfo* referenced = nullptr;
  if (type_info && depth < 16 && SUCCEEDED(type_info->GetRefTypeInfo(target->hreftype, &referenced)) && referenced) {
    ++depth;
    TYPEATTR* attributes = nullptr;
    if (SUCCEEDED(referenced->GetTypeAttr(&attributes)) && attributes) {
      if (attributes->typekind == TKIND_ALIAS) {
        resolved = typedesc_to_vartype(wrapper, &attributes->tdescAlias, referenced, nullptr);
      } else if (attributes->typekind == TKIND_ENUM) {
        VARDESC* first = nullptr;
        if (SUCCEEDED(referenced->GetVarDesc(0, &first)) && first) {
          if (first->varkind == VAR_CONST && first->lpvarValue) {
            resolved = first->lpvarValue->vt;
          } else {
            resolved = typedesc_to_vartype(wrapper, &first->elemdescVar.tdesc, referenced, nullptr);
          }
          referenced->ReleaseVarDesc(first);
        }
      }
      referenced->ReleaseTypeAttr(attributes);
    }
    referenced->Release();
    --depth;
  }
  return static_cast<VARTYPE>(resolved | by_reference);
}

int32_t dispatch_find_member(const ComDispatchObject* wrapper, WCHAR* name, uint16_t kind) {
  if (!wrapper || !name) return -1;
  crt::_wcslwr(name);
  for (int32_t i = 0; i < wrapper->member_count; ++i) {
    const ComMemberEntry& entry = wrapper->member_table[i];
    if (entry.invoke_kind == kind && entry.name && crt::wcscmp(entry.name, name) == 0) return i;
  }
  return -1;
}

int32_t dispatch_find_member_by_id(const ComDispatchObject* wrapper, DISPID id, uint16_t kind) {
  if (!wrapper) return -1;
  for (int32_t i = 0; i < wrapper->member_count; ++i) {
    const ComMemberEntry& entry = wrapper->member_table[i];
    if (entry.invoke_kind == kind && entry.dispatch_id == id) return i;
  }
  return -1;
}

HRESULT dispatch_invoke_member(ComDispatchObject* wrapper, int32_t index, VARIANT* arguments) {
  wrapper->last_result = 0;
  if (index < 0 || index >= wrapper->member_count || !wrapper->dispatch) {
    wrapper->last_result = 1;
    return 1;
  }
  ComMemberEntry* entry = &wrapper->member_table[index];
  if (entry->invoke_kind == 0) {
    wrapper->last_result = 1;
    return 1;
  }
  if (entry->parameter_count > kMaxComArguments) {
    wrapper->last_result = DISP_E_BADPARAMCOUNT;
    return DISP_E_BADPARAMCOUNT;
  }
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{nullptr, nullptr, static_cast<UINT>(entry->parameter_count), 0};
  if (entry->invoke_kind == 4 || entry->invoke_kind == 8) {
    params.rgdispidNamedArgs = &named;
    params.cNamedArgs = 1;
  }
  VARIANT* reversed = nullptr;
  if (params.cArgs) {
    reversed = static_cast<VARIANT*>(std::calloc(params.cArgs, sizeof(VARIANT)));
    if (!reversed) {
      wrapper->last_result = E_OUTOFMEMORY;
      return E_OUTOFMEMORY;
    }
    for (UINT i = 0; i < params.cArgs && entry->parameter_types[i] != 0; ++i) {
      if (arguments) reversed[params.cArgs - 1 - i] = arguments[i];
    }
  }
  params.rgvarg = reversed;
  // A result object that was not handed on to the script is released here: the entry
  // holds at most one reference.
  if (entry->result) VariantClear(entry->result);
  free_exception_info(wrapper->exception_info);
  wrapper->exception_info = static_cast<EXCEPINFO*>(std::calloc(1, sizeof(EXCEPINFO)));
  UINT argument_error = 0xFFFFFFFFu;
  WORD flags = entry->invoke_kind == 2 ? DISPATCH_METHOD | DISPATCH_PROPERTYGET : entry->invoke_kind;
  HRESULT result = wrapper->dispatch->Invoke(entry->dispatch_id, IID_NULL, LOCALE_SYSTEM_DEFAULT, flags, &params,
                                             entry->result, wrapper->exception_info, &argument_error);
  if (FAILED(result) && entry->invoke_kind == 2) {
    if (entry->result) VariantClear(entry->result);
    if (wrapper->exception_info) {
      free_exception_info(wrapper->exception_info);
      wrapper->exception_info = static_cast<EXCEPINFO*>(std::calloc(1, sizeof(EXCEPINFO)));
    }
    result = wrapper->dispatch->Invoke(entry->dispatch_id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_PROPERTYGET,
                                       &params, entry->result, wrapper->exception_info, &argument_error);
  }
  wrapper->last_result = result;
  std::free(reversed);
  if (SUCCEEDED(result)) {
    free_exception_info(wrapper->exception_info);
    wrapper->exception_info = nullptr;
    return result;
  }
  if (entry->result) VariantClear(entry->result);
  if (result == DISP_E_EXCEPTION && wrapper->exception_info) {
    if (wrapper->exception_info->pfnDeferredFillIn) wrapper->exception_info->pfnDeferredFillIn(wrapper->exception_info);
  } else {
    free_exception_info(wrapper->exception_info);
    wrapper->exception_info = nullptr;
  }
  return result;
}

namespace {

// Calls the member of that name and kind; its result, or null when it is missing or failed.
VARIANT* call_by_name(ComDispatchObject* wrapper, WCHAR* name, uint16_t kind, VARIANT* arguments) {
  int32_t index = dispatch_find_member(wrapper, name, kind);
  if (index < 0) return nullptr;
  if (FAILED(dispatch_invoke_member(wrapper, index, arguments))) return nullptr;
  return wrapper->member_table[index].result;
}

}  // namespace

VARIANT* dispatch_get_property(ComDispatchObject* wrapper, WCHAR* name, VARIANT* arguments) {
  return call_by_name(wrapper, name, 2, arguments);
}

int32_t dispatch_put_property(ComDispatchObject* wrapper, WCHAR* name, VARIANT* arguments) {
  int32_t index = dispatch_find_member(wrapper, name, 4);
  if (index < 0) return 0;
  return SUCCEEDED(dispatch_invoke_member(wrapper, index, arguments)) ? 1 : 0;
}

VARIANT* dispatch_call_method(ComDispatchObject* wrapper, WCHAR* name, VARIANT* arguments) {
  return call_by_name(wrapper, name, 1, arguments);
}

HRESULT dispatch_call_method_result(ComDispatchObject* wrapper, WCHAR* name, VARIANT* arguments) {
  int32_t index = dispatch_find_member(wrapper, name, 1);
  if (index < 0) {
    wrapper->last_result = 1;
    return 1;
  }
  return dispatch_invoke_member(wrapper, index, arguments);
}

HRESULT dispatch_invoke_by_id(IDispatch* dispatch, DISPID id, WORD flags, VARIANT* result, EXCEPINFO* exception,
                              VARIANT* arguments, int32_t count) {
  if (!dispatch || count < 0 || count > kMaxComArguments) return 1;
  VARIANT* reversed = nullptr;
  if (count > 0) {
    reversed = static_cast<VARIANT*>(std::calloc(static_cast<size_t>(count), sizeof(VARIANT)));
    if (!reversed) return E_OUTOFMEMORY;
    for (int32_t i = 0; i < count; ++i) reversed[count - 1 - i] = arguments[i];
  }
  DISPPARAMS params{reversed, nullptr, static_cast<UINT>(count), 0};
  if (result) VariantInit(result);
  UINT argument_error = 0xFFFFFFFFu;
  HRESULT status =
      dispatch->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, flags, &params, result, exception, &argument_error);
  std::free(reversed);
  if (FAILED(status)) {
    if (result) VariantClear(result);
    if (status == DISP_E_EXCEPTION && exception && exception->pfnDeferredFillIn) exception->pfnDeferredFillIn(exception);
  }
  return status;
}

int32_t dispatch_advise(ComDispatchObject* wrapper, IUnknown* sink, const IID& interface_id) {
  if (!wrapper->dispatch) {
    wrapper->last_result = 1;
    return 0;
  }
  dispatch_unadvise(wrapper);
  IConnectionPointContainer* container = nullptr;
  HRESULT result =
      wrapper->dispatch->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
  wrapper->last_result = result;
  if (FAILED(result) || !container) return 0;
  result = container->FindConnectionPoint(interface_id, &wrapper->connection_point);
  container->Release();
  wrapper->last_result = result;
  if (FAILED(result) || !wrapper->connection_point) return 0;
  result = wrapper->connection_point->Advise(sink, &wrapper->advise_cookie);
  wrapper->last_result = result;
  if (SUCCEEDED(result)) return 1;
  wrapper->connection_point->Release();
  wrapper->connection_point = nullptr;
  wrapper->advise_cookie = 0;
  return 0;
}

void dispatch_unadvise(ComDispatchObject* wrapper) {
  if (!wrapper->connection_point) return;
  wrapper->last_result = wrapper->connection_point->Unadvise(wrapper->advise_cookie);
  wrapper->connection_point->Release();
  wrapper->connection_point = nullptr;
  wrapper->advise_cookie = 0;
}

void release_dispatch_wrapper(ComDispatchObject* wrapper) {
  if (!wrapper) return;
  wrapper->last_result = 0;
  dispatch_unadvise(wrapper);
  free_exception_info(wrapper->exception_info);
  wrapper->exception_info = nullptr;
  // Result objects go before the object that made them.
  free_member_table(wrapper);
  if (wrapper->dispatch) wrapper->dispatch->Release();
  if (wrapper->base_interface) wrapper->base_interface->Release();
  wrapper->dispatch = nullptr;
  wrapper->base_interface = nullptr;
  wrapper->owner_site = nullptr;
}
