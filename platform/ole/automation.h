// Automation data: BSTR texts, VARIANT values and their conversions, OLE dates and
// safe arrays.
#pragma once

#include "platform/ole/ole_types.h"

// A BSTR is UTF-16 text preceded by its length in bytes (a u32) and followed by a zero
// unit; it may hold zero units inside. Null is the empty text.
BSTR SysAllocString(LPCOLESTR text);
BSTR SysAllocStringLen(LPCOLESTR text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);

void VariantInit(VARIANTARG* value);
// Frees what the value owns (text, array, interface reference) and leaves VT_EMPTY;
// a by-reference value owns nothing. DISP_E_BADVARTYPE for an unknown type.
HRESULT VariantClear(VARIANTARG* value);
// Clears target, then copies source into it, duplicating text and arrays and adding an
// interface reference.
HRESULT VariantCopy(VARIANTARG* target, const VARIANTARG* source);
// Converts source to type into target (which may be source itself). Numbers, texts,
// booleans, dates and currency convert among each other; DISP_E_TYPEMISMATCH for a text
// that is no number, DISP_E_OVERFLOW for a value outside the target's range.
HRESULT VariantChangeType(VARIANTARG* target, const VARIANTARG* source, USHORT flags, VARTYPE type);

// OLE dates: days since 1899-12-30, the time of day as the fraction (for dates before it
// the fraction still counts forward from midnight). Years 100 to 9999; the milliseconds
// of a SYSTEMTIME are not kept. FALSE for a date outside that range.
INT SystemTimeToVariantTime(const SYSTEMTIME* time, DATE* date);
INT VariantTimeToSystemTime(DATE date, SYSTEMTIME* time);

// Safe arrays: cDims dimensions of elements of type (texts, variants, interfaces and
// the plain numeric types), zero-filled. Null for an unsupported type, no dimensions or
// too large a size.
SAFEARRAY* SafeArrayCreate(VARTYPE type, UINT dimensions, SAFEARRAYBOUND* bounds);
SAFEARRAY* SafeArrayCreateVector(VARTYPE type, LONG lower_bound, ULONG elements);
// Frees the elements (texts, variants, interface references) and the array;
// DISP_E_ARRAYISLOCKED while the data is accessed.
HRESULT SafeArrayDestroy(SAFEARRAY* array);
HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data);
HRESULT SafeArrayUnaccessData(SAFEARRAY* array);
HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dimension, LONG* bound);
HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dimension, LONG* bound);
UINT SafeArrayGetDim(SAFEARRAY* array);
UINT SafeArrayGetElemsize(SAFEARRAY* array);
HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* type);
HRESULT SafeArrayCopy(SAFEARRAY* source, SAFEARRAY** copy);
