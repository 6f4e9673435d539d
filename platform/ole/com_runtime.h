// The COM runtime: apartments, class ids and ProgIDs in the registry, in-process servers
// created through their class factories, and task memory.
#pragma once

#include "platform/ole/ole_types.h"

// Counts apartment entries of the calling thread; S_FALSE when it was entered already.
HRESULT CoInitializeEx(LPVOID reserved, DWORD flags);
void CoUninitialize();

// Creates an object of a class registered under HKEY_CLASSES_ROOT\CLSID\{...}: its
// "InprocServer32" library is loaded and asked for the class factory through
// DllGetClassObject. Only in-process servers exist; REGDB_E_CLASSNOTREG for a class that
// is not registered (or one whose context does not include them), CO_E_DLLNOTFOUND when
// its library does not load, CO_E_ERRORINDLL when it lacks the entry point.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, LPVOID* object);
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, LPVOID reserved, REFIID iid, LPVOID* object);

// HKEY_CLASSES_ROOT\<progid>\CLSID; CO_E_CLASSSTRING for an unknown or empty ProgID.
HRESULT CLSIDFromProgID(LPCOLESTR progid, CLSID* clsid);
// The ProgID registered for a class, in task memory.
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progid);
// Reads "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (hex digits of either case);
// CO_E_CLASSSTRING for anything else.
HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid);
HRESULT IIDFromString(LPCOLESTR text, IID* iid);
// The braced upper-case text of a GUID, in task memory (free with CoTaskMemFree).
HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text);
// The same into a buffer of at least 39 units; returns the units written with the
// terminator, 0 when the buffer is too small.
int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int chars);

LPVOID CoTaskMemAlloc(SIZE_T size);
void CoTaskMemFree(LPVOID block);
