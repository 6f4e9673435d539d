// The type library of the test automation server: what its objects offer, shared by
// the server and by the build step that writes it as "comtestserver.tlb".
#include "tests/library/com/server_types.h"

namespace com_test {

using namespace platform::ole;

const GUID kLibraryId = {0x5A4B0001, 0x1111, 0x4C0D, {0x9E, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0xDE}};
const CLSID kCalculatorClass = {0x5A4B0002, 0x1111, 0x4C0D, {0x9E, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0xDE}};
const IID kCalculatorInterface = {0x5A4B0003, 0x1111, 0x4C0D, {0x9E, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0xDE}};
const IID kItemsInterface = {0x5A4B0004, 0x1111, 0x4C0D, {0x9E, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0xDE}};
const IID kEventsInterface = {0x5A4B0005, 0x1111, 0x4C0D, {0x9E, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0xDE}};
const GUID kColourId = {0x5A4B0006, 0x1111, 0x4C0D, {0x9E, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0xDE}};
const GUID kAmountId = {0x5A4B0007, 0x1111, 0x4C0D, {0x9E, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0xDE}};

namespace {

TypeSpec plain(VARTYPE vt) { return {{vt}, 0}; }
TypeSpec user(HREFTYPE reference) { return {{VT_USERDEFINED}, reference}; }

ParameterSpec in(const char16_t* name, TypeSpec type, USHORT flags = PARAMFLAG_FIN) { return {name, flags, type}; }

FunctionSpec method(DISPID id, const char16_t* name, TypeSpec result, std::vector<ParameterSpec> parameters,
                    INVOKEKIND kind = INVOKE_FUNC) {
  return {id, name, kind, result, std::move(parameters)};
}

TypeEntrySpec calculator_interface() {
  TypeEntrySpec type;
  type.kind = TKIND_DISPATCH;
  type.name = u"ICalculator";
  type.guid = kCalculatorInterface;
  TypeSpec variant_out = {{VT_PTR, VT_VARIANT}, 0};
  type.functions = {
      method(kAdd, u"Add", plain(VT_I4), {in(u"a", plain(VT_I4)), in(u"b", plain(VT_I4))}),
      method(kEchoI2, u"EchoI2", plain(VT_I2), {in(u"value", plain(VT_I2))}),
      method(kEchoI4, u"EchoI4", plain(VT_I4), {in(u"value", plain(VT_I4))}),
      method(kEchoR4, u"EchoR4", plain(VT_R4), {in(u"value", plain(VT_R4))}),
      method(kEchoR8, u"EchoR8", plain(VT_R8), {in(u"value", plain(VT_R8))}),
      method(kEchoCY, u"EchoCY", plain(VT_CY), {in(u"value", plain(VT_CY))}),
      method(kEchoDate, u"EchoDate", plain(VT_DATE), {in(u"value", plain(VT_DATE))}),
      method(kEchoBSTR, u"EchoBSTR", plain(VT_BSTR), {in(u"value", plain(VT_BSTR))}),
      method(kEchoBool, u"EchoBool", plain(VT_BOOL), {in(u"value", plain(VT_BOOL))}),
      method(kEchoVariant, u"EchoVariant", plain(VT_VARIANT), {in(u"value", plain(VT_VARIANT))}),
      method(kEchoUI1, u"EchoUI1", plain(VT_UI1), {in(u"value", plain(VT_UI1))}),
      method(kJoinTexts, u"JoinTexts", plain(VT_BSTR), {in(u"texts", {{VT_SAFEARRAY, VT_BSTR}, 0})}),
      method(kSumBytes, u"SumBytes", plain(VT_I4), {in(u"bytes", {{VT_SAFEARRAY, VT_UI1}, 0})}),
      method(kScale, u"Scale", user(kAmountType), {in(u"amount", user(kAmountType))}),
      method(kColourName, u"ColourName", plain(VT_BSTR), {in(u"colour", user(kColourType))}),
      method(kGreet, u"Greet", plain(VT_BSTR), {in(u"name", plain(VT_BSTR), PARAMFLAG_FIN | PARAMFLAG_FOPT)}),
      method(kFail, u"Fail", plain(VT_EMPTY), {in(u"reason", plain(VT_BSTR))}),
      method(kDivide, u"Divide", plain(VT_BOOL),
             {in(u"dividend", plain(VT_I4)), in(u"divisor", plain(VT_I4)),
              in(u"quotient", variant_out, PARAMFLAG_FOUT), in(u"remainder", variant_out, PARAMFLAG_FOUT)}),
      method(kItems, u"Items", plain(VT_DISPATCH), {}, INVOKE_PROPERTYGET),
      method(kValue, u"Value", plain(VT_I4), {}, INVOKE_PROPERTYGET),
      method(kValue, u"Value", plain(VT_VOID), {in(u"value", plain(VT_I4))}, INVOKE_PROPERTYPUT),
      method(kStrict, u"Strict", plain(VT_I4), {}, INVOKE_PROPERTYGET),
      method(kReadOnly, u"ReadOnly", plain(VT_BSTR), {}, INVOKE_PROPERTYGET),
  };
  type.variables = {{kName, u"Name", VAR_DISPATCH, plain(VT_BSTR), {}}};
  return type;
}

TypeEntrySpec items_interface() {
  TypeEntrySpec type;
  type.kind = TKIND_DISPATCH;
  type.name = u"IItems";
  type.guid = kItemsInterface;
  type.functions = {
      method(kItem, u"Item", {{VT_PTR, VT_VARIANT}, 0}, {in(u"index", plain(VT_I4))}, INVOKE_PROPERTYGET),
      method(kCount, u"Count", plain(VT_I4), {}, INVOKE_PROPERTYGET),
  };
  return type;
}

TypeEntrySpec events_interface() {
  TypeEntrySpec type;
  type.kind = TKIND_DISPATCH;
  type.name = u"ICalculatorEvents";
  type.guid = kEventsInterface;
  type.functions = {method(1, u"Done", plain(VT_VOID), {in(u"result", plain(VT_I4))})};
  return type;
}

VariableSpec constant(DISPID id, const char16_t* name, int32_t value) {
  VariableSpec variable{id, name, VAR_CONST, plain(VT_I4), {}};
  variable.value.type = VT_I4;
  variable.value.whole = value;
  return variable;
}

}  // namespace

TypeLibrarySpec library_spec() {
  TypeLibrarySpec library;
  library.guid = kLibraryId;
  library.major = 1;
  library.minor = 0;
  library.name = u"ZrkComTest";

  TypeEntrySpec coclass;
  coclass.kind = TKIND_COCLASS;
  coclass.name = u"Calculator";
  coclass.guid = kCalculatorClass;
  // The source interface comes first: the members are read from the type listed last.
  coclass.implemented = {{kEventsType, IMPLTYPEFLAG_FSOURCE}, {kCalculatorType, IMPLTYPEFLAG_FDEFAULT}};

  TypeEntrySpec colour;
  colour.kind = TKIND_ENUM;
  colour.name = u"Colour";
  colour.guid = kColourId;
  colour.variables = {constant(1000, u"colRed", 0), constant(1001, u"colGreen", 1), constant(1002, u"colBlue", 2)};

  TypeEntrySpec amount;
  amount.kind = TKIND_ALIAS;
  amount.name = u"Amount";
  amount.guid = kAmountId;
  amount.alias = plain(VT_R8);

  library.types = {coclass, calculator_interface(), items_interface(), events_interface(), colour, amount};
  return library;
}

}  // namespace com_test
