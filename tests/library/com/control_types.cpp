// The type library of the test ActiveX control: its automation interface and its
// event interface (the stock mouse and key events and one custom event).
#include "tests/library/com/control_types.h"

namespace control_test {

using namespace platform::ole;

namespace {

constexpr GUID guid(uint32_t first) { return {first, 0x2222, 0x4C0D, {0x9E, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0xDE}}; }

const GUID kControlLibrary = guid(0x5A4C0001);

TypeSpec plain(VARTYPE vt) { return {{vt}, 0}; }

ParameterSpec in(const char16_t* name, VARTYPE vt) { return {name, PARAMFLAG_FIN, plain(vt)}; }

FunctionSpec method(DISPID id, const char16_t* name, VARTYPE result, std::vector<ParameterSpec> parameters) {
  return {id, name, INVOKE_FUNC, plain(result), std::move(parameters)};
}

}  // namespace

const CLSID kControlClass = guid(0x5A4C0002);
const CLSID kSiteFirstControlClass = guid(0x5A4C0003);
const CLSID kInvisibleControlClass = guid(0x5A4C0004);
const IID kControlInterface = guid(0x5A4C0005);
const IID kControlEventsInterface = guid(0x5A4C0006);

TypeLibrarySpec control_library_spec() {
  TypeLibrarySpec library;
  library.guid = kControlLibrary;
  library.name = u"ZrkControlTest";

  TypeEntrySpec coclass;
  coclass.kind = TKIND_COCLASS;
  coclass.name = u"Control";
  coclass.guid = kControlClass;
  coclass.implemented = {{kEventsType, IMPLTYPEFLAG_FSOURCE}, {kControlType, IMPLTYPEFLAG_FDEFAULT}};

  TypeEntrySpec control;
  control.kind = TKIND_DISPATCH;
  control.name = u"IControl";
  control.guid = kControlInterface;
  control.functions = {
      method(kFireMouse, u"FireMouse", VT_I4,
             {in(u"event", VT_I4), in(u"button", VT_I4), in(u"shift", VT_I4), in(u"x", VT_I4), in(u"y", VT_I4)}),
      method(kFireKey, u"FireKey", VT_I4, {in(u"event", VT_I4), in(u"key", VT_I4), in(u"shift", VT_I4)}),
      method(kFireCustom, u"FireCustom", VT_I4, {in(u"count", VT_I4), in(u"amount", VT_R8), in(u"label", VT_BSTR)}),
      method(kFireEvent, u"FireEvent", VT_I4, {in(u"event", VT_I4)}),
  };

  TypeEntrySpec events;
  events.kind = TKIND_DISPATCH;
  events.name = u"IControlEvents";
  events.guid = kControlEventsInterface;
  std::vector<ParameterSpec> mouse = {in(u"button", VT_I2), in(u"shift", VT_I2), in(u"x", VT_I4), in(u"y", VT_I4)};
  std::vector<ParameterSpec> key = {{u"keycode", PARAMFLAG_FIN, {{VT_PTR, VT_I2}, 0}}, in(u"shift", VT_I2)};
  events.functions = {
      method(-605, u"MouseDown", VT_VOID, mouse),
      method(-606, u"MouseMove", VT_VOID, mouse),
      method(-607, u"MouseUp", VT_VOID, mouse),
      method(-602, u"KeyDown", VT_VOID, key),
      method(-604, u"KeyUp", VT_VOID, key),
      method(kChangedEvent, u"Changed", VT_VOID, {in(u"count", VT_I4), in(u"amount", VT_R8), in(u"label", VT_BSTR)}),
  };

  library.types = {coclass, control, events};
  return library;
}

}  // namespace control_test
