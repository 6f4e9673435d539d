// The type library of the test automation server: what its objects offer, shared by
// the server and by the build step that writes it as "comtestserver.tlb".
#pragma once

#include "platform/ole/type_library.h"

namespace com_test {

extern const GUID kLibraryId;
extern const CLSID kCalculatorClass;
extern const IID kCalculatorInterface;
extern const IID kItemsInterface;
extern const IID kEventsInterface;

// Type indexes in the library (also the reference handles between them).
enum TypeIndex : HREFTYPE { kCalculatorCoclass = 0, kCalculatorType, kItemsType, kEventsType, kColourType, kAmountType };

// Member ids of ICalculator and IItems.
enum Member : DISPID {
  kAdd = 1, kEchoI2, kEchoI4, kEchoR4, kEchoR8, kEchoCY, kEchoDate, kEchoBSTR, kEchoBool, kEchoVariant, kEchoUI1,
  kJoinTexts, kSumBytes, kScale, kColourName, kGreet, kFail, kDivide, kItems, kValue, kStrict, kReadOnly,
  kName = 30,
  kItem = 0, kCount = 1,
};

platform::ole::TypeLibrarySpec library_spec();

}  // namespace com_test
