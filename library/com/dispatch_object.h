// The COM dispatch object: a wrapper around a server's IDispatch that reads its type
// information once into a member table and calls members by name.
#pragma once

#include <cstdint>

#include "platform/ole/ole_types.h"

struct OleContainerSite;

struct ComMemberEntry {
  DISPID dispatch_id;
  BSTR name;                       // lower case
  uint16_t invoke_kind;            // 1 method, 2 get, 4 put, 8 putref; 0 not invokable
  VARTYPE result_type;             // VT_VOID and VT_NULL are kept as 0
  VARIANT* result;                 // receives every call's result
  int32_t parameter_count;
  VARTYPE* parameter_types;        // count + 1, 0-terminated
  uint32_t* parameter_references;  // count + 1: HREFTYPE of user-defined parameters
  uint8_t* parameter_flags;        // count + 1: non-zero for a parameter that comes back
};

struct ComDispatchObject {
  IConnectionPoint* connection_point;
  uint32_t advise_cookie;
  EXCEPINFO* exception_info;  // kept after a call failed with DISP_E_EXCEPTION
  int32_t property_count;
  int32_t function_count;
  IDispatch* dispatch;
  IUnknown* base_interface;
  OleContainerSite* owner_site;
  int32_t member_count;
  ComMemberEntry* member_table;
  HRESULT last_result;  // 1: the call was not possible
};

// The most arguments one call takes.
constexpr int32_t kMaxComArguments = 256;

// A new empty wrapper (the apartment entered once for it), and its end: release,
// CoUninitialize and free.
ComDispatchObject* dispatch_wrapper_new();
ComDispatchObject* dispatch_wrapper_copy(const ComDispatchObject* source);
void dispatch_wrapper_destroy(ComDispatchObject* wrapper);

// Creation: 1 when the wrapper holds an interface and a member table, else 0 with the
// reason in last result. The pending library, when given, supplies type information 0.
int32_t dispatch_create_by_progid(ComDispatchObject* wrapper, const WCHAR* progid, DWORD context,
                                  ITypeLib* pending_library);
int32_t dispatch_create_by_clsid(ComDispatchObject* wrapper, const CLSID& clsid, DWORD context,
                                 ITypeLib* pending_library);
// Adopts an IDispatch (one more reference) and reads its type information.
int32_t dispatch_attach(ComDispatchObject* wrapper, IDispatch* dispatch);
// A new instance of the interface type of that name among the object's type information.
IUnknown* dispatch_create_interface_by_name(ComDispatchObject* wrapper, const WCHAR* name);
int32_t dispatch_read_type_info(ComDispatchObject* wrapper, ITypeInfo* type_info);
VARTYPE typedesc_to_vartype(ComDispatchObject* wrapper, const TYPEDESC* typedesc, ITypeInfo* type_info,
                            uint32_t* reference);

// Lookup lower-cases name in place; -1 when no entry of that kind has the name.
int32_t dispatch_find_member(const ComDispatchObject* wrapper, WCHAR* name, uint16_t kind);
int32_t dispatch_find_member_by_id(const ComDispatchObject* wrapper, DISPID id, uint16_t kind);
// Calls member index with arguments (script order, 16-byte VARIANTs); the HRESULT, also
// kept as last result. The result is in the entry's result VARIANT.
HRESULT dispatch_invoke_member(ComDispatchObject* wrapper, int32_t index, VARIANT* arguments);

// Accessors: look up by name and kind, call, and give the entry's result (null on
// failure) or 1/0 for puts.
VARIANT* dispatch_get_property(ComDispatchObject* wrapper, WCHAR* name, VARIANT* arguments);
int32_t dispatch_put_property(ComDispatchObject* wrapper, WCHAR* name, VARIANT* arguments);
VARIANT* dispatch_call_method(ComDispatchObject* wrapper, WCHAR* name, VARIANT* arguments);
HRESULT dispatch_call_method_result(ComDispatchObject* wrapper, WCHAR* name, VARIANT* arguments);

// Invokes a member of a bare IDispatch; 1 for a null interface or a negative count.
HRESULT dispatch_invoke_by_id(IDispatch* dispatch, DISPID id, WORD flags, VARIANT* result, EXCEPINFO* exception,
                              VARIANT* arguments, int32_t count);

// Event connections through the object's connection point for interface id.
int32_t dispatch_advise(ComDispatchObject* wrapper, IUnknown* sink, const IID& interface_id);
void dispatch_unadvise(ComDispatchObject* wrapper);

// Releases everything the wrapper holds and zeroes its counts.
void release_dispatch_wrapper(ComDispatchObject* wrapper);
// Frees an exception record with its texts.
void free_exception_info(EXCEPINFO* info);
