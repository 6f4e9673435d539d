// Automation data: BSTR texts, VARIANT values and their conversions, OLE dates and
// safe arrays.
#include "platform/ole/automation.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "platform/kernel/modules.h"
#include "platform/kernel/utf.h"

namespace {

// A BSTR block: its byte length, then the units.
uint32_t* bstr_header(BSTR text) { return reinterpret_cast<uint32_t*>(text) - 1; }

}  // namespace

BSTR SysAllocStringLen(LPCOLESTR text, UINT length) {
  if (length > 0x3FFFFFF0u / sizeof(OLECHAR)) return nullptr;
  size_t bytes = static_cast<size_t>(length) * sizeof(OLECHAR);
  auto* block = static_cast<uint8_t*>(std::malloc(sizeof(uint32_t) + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  uint32_t byte_length = static_cast<uint32_t>(bytes);
  std::memcpy(block, &byte_length, sizeof(byte_length));
  BSTR result = reinterpret_cast<BSTR>(block + sizeof(uint32_t));
  if (text) {
    std::memcpy(result, text, bytes);
  } else {
    std::memset(result, 0, bytes);
  }
  result[length] = 0;
  return result;
}

BSTR SysAllocString(LPCOLESTR text) {
  if (!text) return nullptr;
  UINT length = 0;
  while (text[length]) ++length;
  return SysAllocStringLen(text, length);
}

void SysFreeString(BSTR text) {
  if (text) std::free(bstr_header(text));
}

UINT SysStringByteLen(BSTR text) { return text ? *bstr_header(text) : 0; }

UINT SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }

// ---- Dates ----

namespace {

// Days from 1970-01-01 of a proleptic Gregorian date.
int64_t days_from_civil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  int64_t era = (year >= 0 ? year : year - 399) / 400;
  unsigned year_of_era = static_cast<unsigned>(year - era * 400);
  unsigned day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + static_cast<int64_t>(day_of_era) - 719468;
}

void civil_from_days(int64_t days, int* year, unsigned* month, unsigned* day) {
  days += 719468;
  int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  unsigned day_of_era = static_cast<unsigned>(days - era * 146097);
  unsigned year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  unsigned shifted_month = (5 * day_of_year + 2) / 153;
  *day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
  *month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
  *year = static_cast<int>(static_cast<int64_t>(year_of_era) + era * 400 + (*month <= 2));
}

// 1899-12-30 counted from 1970-01-01.
constexpr int64_t kOleEpochDays = -25569;
// The OLE dates of 0100-01-01 and of the end of 9999-12-31.
constexpr double kFirstDate = -657434.0;
constexpr double kLastDate = 2958466.0;

bool is_leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

}  // namespace

INT SystemTimeToVariantTime(const SYSTEMTIME* time, DATE* date) {
  if (!time || !date) return FALSE;
  static const unsigned kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (time->wYear < 100 || time->wYear > 9999 || time->wMonth < 1 || time->wMonth > 12) return FALSE;
  unsigned month_days = kMonthDays[time->wMonth - 1] + (time->wMonth == 2 && is_leap(time->wYear) ? 1 : 0);
  if (time->wDay < 1 || time->wDay > month_days || time->wHour > 23 || time->wMinute > 59 || time->wSecond > 59) {
    return FALSE;
  }
  int64_t days = days_from_civil(time->wYear, time->wMonth, time->wDay) - kOleEpochDays;
  double fraction = (time->wHour * 3600.0 + time->wMinute * 60.0 + time->wSecond) / 86400.0;
  // Before the epoch the day counts backward while the time still counts forward.
  *date = days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
  return TRUE;
}

INT VariantTimeToSystemTime(DATE date, SYSTEMTIME* time) {
  if (!time || !(date >= kFirstDate && date < kLastDate)) return FALSE;
  double whole = std::trunc(date);
  double fraction = std::fabs(date - whole);
  int64_t seconds = static_cast<int64_t>(std::llround(fraction * 86400.0));
  int64_t days = static_cast<int64_t>(whole);
  if (seconds >= 86400) {
    seconds -= 86400;
    days += date >= 0 ? 1 : -1;
  }
  int year = 0;
  unsigned month = 0, day = 0;
  civil_from_days(days + kOleEpochDays, &year, &month, &day);
  if (year < 100 || year > 9999) return FALSE;
  int64_t weekday = (days + kOleEpochDays + 4) % 7;  // 1970-01-01 was a Thursday
  if (weekday < 0) weekday += 7;
  time->wYear = static_cast<WORD>(year);
  time->wMonth = static_cast<WORD>(month);
  time->wDayOfWeek = static_cast<WORD>(weekday);
  time->wDay = static_cast<WORD>(day);
  time->wHour = static_cast<WORD>(seconds / 3600);
  time->wMinute = static_cast<WORD>(seconds / 60 % 60);
  time->wSecond = static_cast<WORD>(seconds % 60);
  time->wMilliseconds = 0;
  return TRUE;
}

// ---- Safe arrays ----

namespace {

// A safe array block: the element type, then the array record with its bounds.
constexpr size_t kTypePrefix = sizeof(uint32_t);

uint32_t element_size(VARTYPE type) {
  switch (type) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR:
    case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN: return 4;
    case VT_R8: case VT_CY: case VT_DATE: case VT_I8: case VT_UI8: return 8;
    case VT_VARIANT: return sizeof(VARIANT);
    default: return 0;
  }
}

USHORT features_of(VARTYPE type) {
  switch (type) {
    case VT_BSTR: return FADF_HAVEVARTYPE | FADF_BSTR;
    case VT_VARIANT: return FADF_HAVEVARTYPE | FADF_VARIANT;
    case VT_UNKNOWN: return FADF_HAVEVARTYPE | FADF_UNKNOWN;
    case VT_DISPATCH: return FADF_HAVEVARTYPE | FADF_DISPATCH;
    default: return FADF_HAVEVARTYPE;
  }
}

VARTYPE type_of(const SAFEARRAY* array) {
  uint32_t type = 0;
  std::memcpy(&type, reinterpret_cast<const uint8_t*>(array) - kTypePrefix, sizeof(type));
  return static_cast<VARTYPE>(type);
}

uint64_t element_count(const SAFEARRAY* array) {
  uint64_t count = 1;
  for (USHORT d = 0; d < array->cDims; ++d) count *= array->rgsabound[d].cElements;
  return count;
}

// Frees what the elements own and zeroes them.
void clear_elements(SAFEARRAY* array) {
  if (!array->pvData) return;
  uint64_t count = element_count(array);
  VARTYPE type = type_of(array);
  for (uint64_t i = 0; i < count; ++i) {
    uint8_t* element = static_cast<uint8_t*>(array->pvData) + i * array->cbElements;
    if (type == VT_BSTR) {
      BSTR text;
      std::memcpy(&text, element, sizeof(text));
      SysFreeString(text);
    } else if (type == VT_VARIANT) {
      VariantClear(reinterpret_cast<VARIANT*>(element));
    } else if (type == VT_UNKNOWN || type == VT_DISPATCH) {
      IUnknown* object;
      std::memcpy(&object, element, sizeof(object));
      if (object) object->Release();
    }
  }
  std::memset(array->pvData, 0, count * array->cbElements);
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE type, UINT dimensions, SAFEARRAYBOUND* bounds) {
  uint32_t size = element_size(type);
  if (!size || dimensions < 1 || dimensions > 64 || !bounds) return nullptr;
  uint64_t count = 1;
  for (UINT d = 0; d < dimensions; ++d) {
    count *= bounds[d].cElements;
    if (count * size > (1u << 28)) return nullptr;
  }
  size_t header = kTypePrefix + sizeof(SAFEARRAY) + (dimensions - 1) * sizeof(SAFEARRAYBOUND);
  auto* block = static_cast<uint8_t*>(std::calloc(1, header));
  if (!block) return nullptr;
  uint32_t stored_type = type;
  std::memcpy(block, &stored_type, sizeof(stored_type));
  auto* array = reinterpret_cast<SAFEARRAY*>(block + kTypePrefix);
  array->cDims = static_cast<USHORT>(dimensions);
  array->fFeatures = features_of(type);
  array->cbElements = size;
  for (UINT d = 0; d < dimensions; ++d) array->rgsabound[d] = bounds[d];
  array->pvData = std::calloc(count ? count : 1, size);
  if (!array->pvData) {
    std::free(block);
    return nullptr;
  }
  return array;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE type, LONG lower_bound, ULONG elements) {
  SAFEARRAYBOUND bound = {elements, lower_bound};
  return SafeArrayCreate(type, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
  if (!array) return S_OK;
  if (array->cLocks) return DISP_E_ARRAYISLOCKED;
  clear_elements(array);
  std::free(array->pvData);
  std::free(reinterpret_cast<uint8_t*>(array) - kTypePrefix);
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data) {
  if (!array || !data) return E_INVALIDARG;
  ++array->cLocks;
  *data = array->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* array) {
  if (!array) return E_INVALIDARG;
  if (!array->cLocks) return E_UNEXPECTED;
  --array->cLocks;
  return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dimension, LONG* bound) {
  if (!array || !bound) return E_INVALIDARG;
  if (dimension < 1 || dimension > array->cDims) return DISP_E_BADINDEX;
  *bound = array->rgsabound[dimension - 1].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dimension, LONG* bound) {
  if (!array || !bound) return E_INVALIDARG;
  if (dimension < 1 || dimension > array->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& range = array->rgsabound[dimension - 1];
  *bound = static_cast<LONG>(static_cast<int64_t>(range.lLbound) + range.cElements - 1);
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* array) { return array ? array->cDims : 0; }

UINT SafeArrayGetElemsize(SAFEARRAY* array) { return array ? array->cbElements : 0; }

HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* type) {
  if (!array || !type) return E_INVALIDARG;
  *type = type_of(array);
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* source, SAFEARRAY** copy) {
  if (!copy) return E_INVALIDARG;
  *copy = nullptr;
  if (!source) return S_OK;
  VARTYPE type = type_of(source);
  SAFEARRAY* result = SafeArrayCreate(type, source->cDims, source->rgsabound);
  if (!result) return E_OUTOFMEMORY;
  uint64_t count = element_count(source);
  for (uint64_t i = 0; i < count; ++i) {
    const uint8_t* from = static_cast<const uint8_t*>(source->pvData) + i * source->cbElements;
    uint8_t* to = static_cast<uint8_t*>(result->pvData) + i * result->cbElements;
    if (type == VT_BSTR) {
      BSTR text;
      std::memcpy(&text, from, sizeof(text));
      BSTR duplicate = text ? SysAllocStringLen(text, SysStringLen(text)) : nullptr;
      std::memcpy(to, &duplicate, sizeof(duplicate));
    } else if (type == VT_VARIANT) {
      VariantCopy(reinterpret_cast<VARIANT*>(to), reinterpret_cast<const VARIANT*>(from));
    } else {
      std::memcpy(to, from, source->cbElements);
      if (type == VT_UNKNOWN || type == VT_DISPATCH) {
        IUnknown* object;
        std::memcpy(&object, to, sizeof(object));
        if (object) object->AddRef();
      }
    }
  }
  *copy = result;
  return S_OK;
}

// ---- Variants ----

void VariantInit(VARIANTARG* value) {
  if (value) std::memset(value, 0, sizeof(*value));
}

HRESULT VariantClear(VARIANTARG* value) {
  if (!value) return E_INVALIDARG;
  if (!(value->vt & VT_BYREF)) {
    if (value->vt & VT_ARRAY) {
      SafeArrayDestroy(value->parray);
    } else {
      switch (value->vt) {
        case VT_BSTR: SysFreeString(value->bstrVal); break;
        case VT_DISPATCH:
        case VT_UNKNOWN:
          if (value->punkVal) value->punkVal->Release();
          break;
        default: break;
      }
    }
  }
  std::memset(value, 0, sizeof(*value));
  return S_OK;
}

HRESULT VariantCopy(VARIANTARG* target, const VARIANTARG* source) {
  if (!target || !source) return E_INVALIDARG;
  if (target == source) return S_OK;
  VARIANT copy = *source;
  if (!(source->vt & VT_BYREF)) {
    if (source->vt & VT_ARRAY) {
      HRESULT result = SafeArrayCopy(source->parray, &copy.parray);
      if (FAILED(result)) return result;
    } else if (source->vt == VT_BSTR && source->bstrVal) {
      copy.bstrVal = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
      if (!copy.bstrVal) return E_OUTOFMEMORY;
    } else if ((source->vt == VT_DISPATCH || source->vt == VT_UNKNOWN) && source->punkVal) {
      source->punkVal->AddRef();
    }
  }
  VariantClear(target);
  *target = copy;
  return S_OK;
}

namespace {

// A value on its way between types: a number (with currency kept exact) or a text.
struct Passing {
  bool is_text = false;
  std::u16string text;
  double number = 0;
  bool is_currency = false;
  int64_t currency = 0;
};

HRESULT read_source(const VARIANT& source, Passing* value) {
  switch (source.vt) {
    case VT_EMPTY: value->number = 0; return S_OK;
    case VT_I1: value->number = static_cast<int8_t>(source.bVal); return S_OK;
    case VT_UI1: value->number = source.bVal; return S_OK;
    case VT_I2: value->number = source.iVal; return S_OK;
    case VT_UI2: value->number = static_cast<uint16_t>(source.iVal); return S_OK;
    case VT_I4: case VT_INT: case VT_ERROR: value->number = source.lVal; return S_OK;
    case VT_UI4: case VT_UINT: value->number = static_cast<uint32_t>(source.lVal); return S_OK;
    case VT_R4: value->number = source.fltVal; return S_OK;
    case VT_R8: case VT_DATE: value->number = source.dblVal; return S_OK;
    case VT_BOOL: value->number = source.boolVal ? -1 : 0; return S_OK;
    case VT_CY:
      value->is_currency = true;
      value->currency = source.cyVal.int64;
      value->number = static_cast<double>(source.cyVal.int64) / 10000.0;
      return S_OK;
    case VT_BSTR:
      value->is_text = true;
      if (source.bstrVal) value->text.assign(source.bstrVal, SysStringLen(source.bstrVal));
      return S_OK;
    default: return DISP_E_TYPEMISMATCH;
  }
}

// The text of a number: whole numbers without a fraction, others with up to 15 digits.
std::u16string number_text(double number, int digits) {
  char buffer[64];
  if (std::fabs(number) < 1e15 && number == std::trunc(number)) {
    std::snprintf(buffer, sizeof(buffer), "%lld", static_cast<long long>(number));
  } else {
    std::snprintf(buffer, sizeof(buffer), "%.*G", digits, number);
  }
  return platform::utf16_from_utf8(buffer);
}

std::u16string currency_text(int64_t currency) {
  char buffer[64];
  int64_t whole = currency / 10000;
  int64_t part = currency % 10000;
  if (part < 0) part = -part;
  const char* sign = currency < 0 && whole == 0 ? "-" : "";
  if (part == 0) {
    std::snprintf(buffer, sizeof(buffer), "%s%lld", sign, static_cast<long long>(whole));
  } else {
    std::snprintf(buffer, sizeof(buffer), "%s%lld.%04lld", sign, static_cast<long long>(whole),
                  static_cast<long long>(part));
    size_t length = std::strlen(buffer);
    while (buffer[length - 1] == '0') buffer[--length] = 0;
  }
  return platform::utf16_from_utf8(buffer);
}

std::u16string date_text(double date) {
  SYSTEMTIME time{};
  if (!VariantTimeToSystemTime(date, &time)) return number_text(date, 15);
  char buffer[64];
  if (time.wHour || time.wMinute || time.wSecond) {
    std::snprintf(buffer, sizeof(buffer), "%04u-%02u-%02u %02u:%02u:%02u", time.wYear, time.wMonth, time.wDay,
                  time.wHour, time.wMinute, time.wSecond);
  } else {
    std::snprintf(buffer, sizeof(buffer), "%04u-%02u-%02u", time.wYear, time.wMonth, time.wDay);
  }
  return platform::utf16_from_utf8(buffer);
}

// A whole text read as a number (spaces around it allowed).
HRESULT text_number(const std::u16string& text, double* number) {
  std::string narrow = platform::utf8_from_utf16(text);
  const char* start = narrow.c_str();
  while (*start == ' ' || *start == '\t') ++start;
  if (!*start) return DISP_E_TYPEMISMATCH;
  // Hex and the words "inf" and "nan" are not numbers here.
  for (const char* c = start; *c; ++c) {
    if (!(std::isdigit(static_cast<unsigned char>(*c)) || *c == '.' || *c == '-' || *c == '+' || *c == 'e' ||
          *c == 'E' || *c == ' ' || *c == '\t')) {
      return DISP_E_TYPEMISMATCH;
    }
  }
  char* end = nullptr;
  double value = std::strtod(start, &end);
  if (end == start) return DISP_E_TYPEMISMATCH;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end) return DISP_E_TYPEMISMATCH;
  *number = value;
  return S_OK;
}

// Rounds half to even, as automation does, and checks the target range.
HRESULT whole_number(double number, double low, double high, int64_t* result) {
  if (std::isnan(number)) return DISP_E_OVERFLOW;
  double rounded = std::nearbyint(number);
  if (rounded < low || rounded > high) return DISP_E_OVERFLOW;
  *result = static_cast<int64_t>(rounded);
  return S_OK;
}

}  // namespace

HRESULT VariantChangeType(VARIANTARG* target, const VARIANTARG* source, USHORT, VARTYPE type) {
  if (!target || !source) return E_INVALIDARG;
  if (source->vt == type) {
    if (target == source) return S_OK;
    return VariantCopy(target, source);
  }
  Passing value;
  const VARIANT* from = source;
  if (source->vt == (VT_BYREF | VT_VARIANT)) {
    if (!source->pvarVal) return E_INVALIDARG;
    from = source->pvarVal;
    if (from->vt == type) return VariantCopy(target, from);
  }
  HRESULT status = read_source(*from, &value);
  if (FAILED(status)) return status;
  if (value.is_text && type != VT_BSTR) {
    status = text_number(value.text, &value.number);
    if (FAILED(status)) return status;
  }
  VARIANT result;
  VariantInit(&result);
  result.vt = type;
  int64_t whole = 0;
  switch (type) {
    case VT_EMPTY: break;
    case VT_I1: status = whole_number(value.number, -128, 127, &whole); result.bVal = static_cast<uint8_t>(whole); break;
    case VT_UI1: status = whole_number(value.number, 0, 255, &whole); result.bVal = static_cast<uint8_t>(whole); break;
    case VT_I2: status = whole_number(value.number, -32768, 32767, &whole); result.iVal = static_cast<int16_t>(whole); break;
    case VT_UI2: status = whole_number(value.number, 0, 65535, &whole); result.iVal = static_cast<int16_t>(whole); break;
    case VT_I4:
    case VT_INT:
      status = whole_number(value.number, -2147483648.0, 2147483647.0, &whole);
      result.lVal = static_cast<int32_t>(whole);
      break;
    case VT_UI4:
    case VT_UINT:
      status = whole_number(value.number, 0, 4294967295.0, &whole);
      result.lVal = static_cast<int32_t>(static_cast<uint32_t>(whole));
      break;
    case VT_R4:
      if (std::fabs(value.number) > std::numeric_limits<float>::max()) status = DISP_E_OVERFLOW;
      result.fltVal = static_cast<float>(value.number);
      break;
    case VT_R8: result.dblVal = value.number; break;
    case VT_DATE:
      if (!(value.number >= kFirstDate && value.number < kLastDate)) status = DISP_E_OVERFLOW;
      result.date = value.number;
      break;
    case VT_BOOL: result.boolVal = value.number != 0 ? VARIANT_TRUE : VARIANT_FALSE; break;
    case VT_CY:
      if (value.is_currency) {
        result.cyVal.int64 = value.currency;
      } else {
        status = whole_number(value.number * 10000.0, -9.2233720368547e18, 9.2233720368547e18, &whole);
        result.cyVal.int64 = whole;
      }
      break;
    case VT_BSTR: {
      std::u16string text;
      if (value.is_text) {
        text = value.text;
      } else if (from->vt == VT_BOOL) {
        text = from->boolVal ? u"True" : u"False";
      } else if (from->vt == VT_CY) {
        text = currency_text(value.currency);
      } else if (from->vt == VT_DATE) {
        text = date_text(value.number);
      } else {
        text = number_text(value.number, from->vt == VT_R4 ? 7 : 15);
      }
      result.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      if (!result.bstrVal) status = E_OUTOFMEMORY;
      break;
    }
    default: status = DISP_E_TYPEMISMATCH; break;
  }
  if (FAILED(status)) return status;
  VariantClear(target);
  *target = result;
  return S_OK;
}

namespace {

// Scripts that declare these functions of oleaut32.dll get the layer's own.
const bool registered_in_oleaut32 = [] {
  const std::pair<const char*, void*> functions[] = {
      {"SysAllocString", reinterpret_cast<void*>(&SysAllocString)},
      {"SysAllocStringLen", reinterpret_cast<void*>(&SysAllocStringLen)},
      {"SysFreeString", reinterpret_cast<void*>(&SysFreeString)},
      {"SysStringLen", reinterpret_cast<void*>(&SysStringLen)},
      {"SysStringByteLen", reinterpret_cast<void*>(&SysStringByteLen)},
      {"VariantInit", reinterpret_cast<void*>(&VariantInit)},
      {"VariantClear", reinterpret_cast<void*>(&VariantClear)},
      {"VariantCopy", reinterpret_cast<void*>(&VariantCopy)},
      {"VariantChangeType", reinterpret_cast<void*>(&VariantChangeType)},
      {"SystemTimeToVariantTime", reinterpret_cast<void*>(&SystemTimeToVariantTime)},
      {"VariantTimeToSystemTime", reinterpret_cast<void*>(&VariantTimeToSystemTime)},
      {"SafeArrayCreate", reinterpret_cast<void*>(&SafeArrayCreate)},
      {"SafeArrayCreateVector", reinterpret_cast<void*>(&SafeArrayCreateVector)},
      {"SafeArrayDestroy", reinterpret_cast<void*>(&SafeArrayDestroy)},
      {"SafeArrayAccessData", reinterpret_cast<void*>(&SafeArrayAccessData)},
      {"SafeArrayUnaccessData", reinterpret_cast<void*>(&SafeArrayUnaccessData)},
      {"SafeArrayGetLBound", reinterpret_cast<void*>(&SafeArrayGetLBound)},
      {"SafeArrayGetUBound", reinterpret_cast<void*>(&SafeArrayGetUBound)},
      {"SafeArrayGetDim", reinterpret_cast<void*>(&SafeArrayGetDim)},
  };
  for (const auto& [name, address] : functions) platform::register_builtin_module_function("oleaut32", name, address);
  return true;
}();

}  // namespace
