// The test automation server: a Calculator class with a dispatch interface that echoes
// every VARIANT type, raises exceptions, has optional and [out] parameters, properties
// of both kinds and a collection. Every creation, call and destruction is logged with
// the object's reference count to "comserver.log" in the working folder.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/kernel/registry.h"
#include "platform/kernel/utf.h"
#include "platform/ole/automation.h"
#include "platform/ole/com_object.h"
#include "platform/ole/com_runtime.h"
#include "platform/ole/type_library.h"
#include "tests/library/com/server_support.h"
#include "tests/library/com/server_types.h"

using namespace com_test;

namespace {

void log_line(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  append_log_line("comserver.log", format, arguments);
  va_end(arguments);
}

ITypeLib* shared_library() {
  static ITypeLib* library = [] {
    ITypeLib* made = nullptr;
    platform::ole::create_type_library(library_spec(), &made);
    return made;
  }();
  return library;
}

std::string narrow(const WCHAR* text) { return platform::utf8_from_utf16(text ? text : u""); }

BSTR text(const std::string& value) {
  std::u16string wide = platform::utf16_from_utf8(value);
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

// Argument i in call order (the last element of rgvarg is the first argument).
VARIANT* argument(DISPPARAMS* params, UINT i) { return &params->rgvarg[params->cArgs - 1 - i]; }

bool omitted(const VARIANT* value) { return value->vt == VT_ERROR && value->scode == DISP_E_PARAMNOTFOUND; }

// Gives argument i as type; a type mismatch names the argument.
HRESULT coerce(DISPPARAMS* params, UINT i, VARTYPE type, VARIANT* out, UINT* argument_error) {
  VariantInit(out);
  VARIANT* value = argument(params, i);
  if (omitted(value)) {
    if (argument_error) *argument_error = i;
    return DISP_E_PARAMNOTOPTIONAL;
  }
  HRESULT result = VariantChangeType(out, value, 0, type);
  if (FAILED(result) && argument_error) *argument_error = i;
  return FAILED(result) ? DISP_E_TYPEMISMATCH : S_OK;
}

HRESULT fill_failure(EXCEPINFO* info) {
  // The description arrives only when the caller asks for it.
  info->bstrDescription = SysAllocString(reinterpret_cast<const WCHAR*>(info->pvReserved));
  info->bstrSource = SysAllocString(u"ZrkTest.Calculator");
  std::free(info->pvReserved);
  info->pvReserved = nullptr;
  info->pfnDeferredFillIn = nullptr;
  info->scode = E_FAIL;
  return S_OK;
}

class DispatchBase : public ComObject<IDispatch> {
 public:
  DispatchBase(const char* kind, HREFTYPE type_index, const IID& interface_id)
      : ComObject(IID_IDispatch, &interface_id), kind_(kind), type_index_(type_index) {
    static int serial = 0;
    serial_ = ++serial;
    log_line("%s#%d created", kind_, serial_);
  }
  ~DispatchBase() override { log_line("%s#%d destroyed", kind_, serial_); }

  HRESULT GetTypeInfoCount(UINT* count) override {
    if (count) *count = 1;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    return dispatch_type_info(shared_library(), type_index_, index, info);
  }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    return dispatch_ids_of_names(shared_library(), type_index_, names, count, ids);
  }

 protected:
  void log_call(const char* member) { log_line("%s#%d %s refs=%u", kind_, serial_, member, references()); }
  const char* kind_;
  HREFTYPE type_index_;
  int serial_ = 0;
};

class Items final : public DispatchBase {
 public:
  Items() : DispatchBase("Items", kItemsType, kItemsInterface) {}
  HRESULT Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                 UINT* argument_error) override {
    static const char* const kTexts[] = {"alpha", "beta", "gamma"};
    if (!(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
    if (member == kCount) {
      log_call("Count");
      if (params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
      result->vt = VT_I4;
      result->lVal = 3;
      return S_OK;
    }
    if (member != kItem) return DISP_E_MEMBERNOTFOUND;
    log_call("Item");
    if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
    VARIANT index;
    HRESULT status = coerce(params, 0, VT_I4, &index, argument_error);
    if (FAILED(status)) return status;
    if (index.lVal < 0 || index.lVal > 2) return DISP_E_BADINDEX;
    result->vt = VT_BSTR;
    result->bstrVal = text(kTexts[index.lVal]);
    return S_OK;
  }
};

class Calculator final : public DispatchBase {
 public:
  Calculator() : DispatchBase("Calculator", kCalculatorType, kCalculatorInterface) {}
  HRESULT Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                 UINT* argument_error) override;

 private:
  HRESULT echo(const char* name, DISPPARAMS* params, VARTYPE type, VARIANT* result, UINT* argument_error);
  int32_t value_ = 0;
  std::u16string name_ = u"calculator";
};

HRESULT Calculator::echo(const char* name, DISPPARAMS* params, VARTYPE type, VARIANT* result, UINT* argument_error) {
  log_call(name);
  if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
  VARIANT* given = argument(params, 0);
  if (given->vt != type) {
    log_line("  %s got type %d", name, given->vt);
    if (argument_error) *argument_error = 0;
    return DISP_E_TYPEMISMATCH;
  }
  switch (type) {
    case VT_CY: log_line("  %s got %lld", name, static_cast<long long>(given->cyVal.int64)); break;
    case VT_BOOL: log_line("  %s got %d", name, given->boolVal); break;
    case VT_DATE: log_line("  %s got %.6f", name, given->date); break;
    default: break;
  }
  VARIANT copy;
  VariantInit(&copy);
  HRESULT status = VariantCopy(&copy, given);
  if (FAILED(status)) return status;
  if (result) {
    *result = copy;
  } else {
    VariantClear(&copy);
  }
  return S_OK;
}

HRESULT Calculator::Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                           EXCEPINFO* exception, UINT* argument_error) {
  if (!params) return E_INVALIDARG;
  VARIANT a, b;
  HRESULT status = S_OK;
  bool method = (flags & DISPATCH_METHOD) != 0;
  bool get = (flags & DISPATCH_PROPERTYGET) != 0;
  switch (member) {
    case kAdd:
      if (!method) return DISP_E_MEMBERNOTFOUND;
      log_call("Add");
      if (params->cArgs != 2) return DISP_E_BADPARAMCOUNT;
      if (FAILED(status = coerce(params, 0, VT_I4, &a, argument_error))) return status;
      if (FAILED(status = coerce(params, 1, VT_I4, &b, argument_error))) return status;
      result->vt = VT_I4;
      result->lVal = a.lVal + b.lVal;
      return S_OK;
    case kEchoI2: return echo("EchoI2", params, VT_I2, result, argument_error);
    case kEchoI4: return echo("EchoI4", params, VT_I4, result, argument_error);
    case kEchoR4: return echo("EchoR4", params, VT_R4, result, argument_error);
    case kEchoR8: return echo("EchoR8", params, VT_R8, result, argument_error);
    case kEchoCY: return echo("EchoCY", params, VT_CY, result, argument_error);
    case kEchoDate: return echo("EchoDate", params, VT_DATE, result, argument_error);
    case kEchoBSTR: return echo("EchoBSTR", params, VT_BSTR, result, argument_error);
    case kEchoBool: return echo("EchoBool", params, VT_BOOL, result, argument_error);
    case kEchoUI1: return echo("EchoUI1", params, VT_UI1, result, argument_error);
    case kScale: {
      log_call("Scale");
      if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
      if (FAILED(status = coerce(params, 0, VT_R8, &a, argument_error))) return status;
      result->vt = VT_R8;
      result->dblVal = a.dblVal * 2;
      return S_OK;
    }
    case kEchoVariant: {
      log_call("EchoVariant");
      if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
      log_line("  EchoVariant got type %d", argument(params, 0)->vt);
      return VariantCopy(result, argument(params, 0));
    }
    case kJoinTexts:
    case kSumBytes: {
      bool join = member == kJoinTexts;
      log_call(join ? "JoinTexts" : "SumBytes");
      if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
      VARIANT* given = argument(params, 0);
      VARTYPE element = join ? VT_BSTR : VT_UI1;
      VARTYPE type = 0;
      if (given->vt != (VT_ARRAY | element) || !given->parray || FAILED(SafeArrayGetVartype(given->parray, &type)) ||
          type != element || SafeArrayGetDim(given->parray) != 1) {
        return DISP_E_TYPEMISMATCH;
      }
      LONG low = 0, high = -1;
      SafeArrayGetLBound(given->parray, 1, &low);
      SafeArrayGetUBound(given->parray, 1, &high);
      void* data = nullptr;
      SafeArrayAccessData(given->parray, &data);
      std::string joined;
      int32_t sum = 0;
      for (LONG i = 0; i <= high - low; ++i) {
        if (join) {
          if (i) joined += ",";
          joined += narrow(static_cast<BSTR*>(data)[i]);
        } else {
          sum += static_cast<uint8_t*>(data)[i];
        }
      }
      SafeArrayUnaccessData(given->parray);
      log_line("  lower bound %d, %d elements", static_cast<int>(low), static_cast<int>(high - low + 1));
      if (join) {
        result->vt = VT_BSTR;
        result->bstrVal = text(joined);
      } else {
        result->vt = VT_I4;
        result->lVal = sum;
      }
      return S_OK;
    }
    case kColourName: {
      static const char* const kNames[] = {"red", "green", "blue"};
      log_call("ColourName");
      if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
      if (FAILED(status = coerce(params, 0, VT_I4, &a, argument_error))) return status;
      if (a.lVal < 0 || a.lVal > 2) return DISP_E_BADINDEX;
      result->vt = VT_BSTR;
      result->bstrVal = text(kNames[a.lVal]);
      return S_OK;
    }
    case kGreet: {
      log_call("Greet");
      if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
      std::string whom = "nobody";
      if (!omitted(argument(params, 0))) {
        if (FAILED(status = coerce(params, 0, VT_BSTR, &a, argument_error))) return status;
        whom = narrow(a.bstrVal);
        VariantClear(&a);
      }
      result->vt = VT_BSTR;
      result->bstrVal = text("Hello, " + whom);
      return S_OK;
    }
    case kFail: {
      log_call("Fail");
      if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
      if (FAILED(status = coerce(params, 0, VT_BSTR, &a, argument_error))) return status;
      if (exception) {
        std::memset(exception, 0, sizeof(*exception));
        size_t units = SysStringLen(a.bstrVal) + 1;
        auto* copy = static_cast<WCHAR*>(std::malloc(units * sizeof(WCHAR)));
        if (copy) std::memcpy(copy, a.bstrVal ? a.bstrVal : u"", units * sizeof(WCHAR));
        exception->pvReserved = copy;
        exception->pfnDeferredFillIn = fill_failure;
      }
      VariantClear(&a);
      return DISP_E_EXCEPTION;
    }
    case kDivide: {
      log_call("Divide");
      if (params->cArgs != 4) return DISP_E_BADPARAMCOUNT;
      if (FAILED(status = coerce(params, 0, VT_I4, &a, argument_error))) return status;
      if (FAILED(status = coerce(params, 1, VT_I4, &b, argument_error))) return status;
      VARIANT* quotient = argument(params, 2);
      VARIANT* remainder = argument(params, 3);
      if (quotient->vt != (VT_BYREF | VT_VARIANT) || remainder->vt != (VT_BYREF | VT_VARIANT)) {
        return DISP_E_TYPEMISMATCH;
      }
      result->vt = VT_BOOL;
      result->boolVal = b.lVal != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      if (b.lVal == 0) return S_OK;
      VariantClear(quotient->pvarVal);
      quotient->pvarVal->vt = VT_I4;
      quotient->pvarVal->lVal = a.lVal / b.lVal;
      VariantClear(remainder->pvarVal);
      remainder->pvarVal->vt = VT_BSTR;
      remainder->pvarVal->bstrVal = text("rest " + std::to_string(a.lVal % b.lVal));
      return S_OK;
    }
    case kItems:
      if (!get) return DISP_E_MEMBERNOTFOUND;
      log_call("Items");
      result->vt = VT_DISPATCH;
      result->pdispVal = new Items();
      return S_OK;
    case kValue:
      if (flags & DISPATCH_PROPERTYPUT) {
        log_call("Value put");
        if (params->cArgs != 1 || params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
          return DISP_E_BADPARAMCOUNT;
        }
        if (FAILED(status = coerce(params, 0, VT_I4, &a, argument_error))) return status;
        value_ = a.lVal;
        return S_OK;
      }
      if (!get) return DISP_E_MEMBERNOTFOUND;
      log_call("Value get");
      result->vt = VT_I4;
      result->lVal = value_;
      return S_OK;
    case kStrict:
      // Answers a plain property get only, not a method-or-get.
      log_line("Calculator#%d Strict flags=%d", serial_, flags);
      if (flags != DISPATCH_PROPERTYGET) return DISP_E_MEMBERNOTFOUND;
      result->vt = VT_I4;
      result->lVal = 7;
      return S_OK;
    case kReadOnly:
      if (!get) return DISP_E_MEMBERNOTFOUND;
      result->vt = VT_BSTR;
      result->bstrVal = text("fixed");
      return S_OK;
    case kName:
      if (flags & DISPATCH_PROPERTYPUT) {
        log_call("Name put");
        if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
        if (FAILED(status = coerce(params, 0, VT_BSTR, &a, argument_error))) return status;
        name_.assign(a.bstrVal ? a.bstrVal : u"", SysStringLen(a.bstrVal));
        VariantClear(&a);
        return S_OK;
      }
      if (!get) return DISP_E_MEMBERNOTFOUND;
      log_call("Name get");
      result->vt = VT_BSTR;
      result->bstrVal = SysAllocStringLen(name_.data(), static_cast<UINT>(name_.size()));
      return S_OK;
    default: return DISP_E_MEMBERNOTFOUND;
  }
}

class Factory final : public StaticClassFactory {
 protected:
  IUnknown* make() override { return new Calculator(); }
};

Factory factory;

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid,
                                                                            void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!(clsid == kCalculatorClass)) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(iid, object);
}

extern "C" __attribute__((visibility("default"))) HRESULT DllRegisterServer() {
  WCHAR clsid[40];
  StringFromGUID2(kCalculatorClass, clsid, 40);
  std::u16string key = std::u16string(u"CLSID\\") + clsid;
  bool ok = set_class_key(key, u"Calculator") == ERROR_SUCCESS &&
            set_class_key(key + u"\\InprocServer32", u"comtestserver.dll") == ERROR_SUCCESS &&
            set_class_key(key + u"\\ProgID", u"ZrkTest.Calculator") == ERROR_SUCCESS &&
            set_class_key(u"ZrkTest.Calculator\\CLSID", clsid) == ERROR_SUCCESS;
  return ok ? S_OK : E_FAIL;
}
