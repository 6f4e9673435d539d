// The type library of the test ActiveX control: its automation interface, through which
// tests make it fire events, and its event interface.
#pragma once

#include "platform/ole/type_library.h"

namespace control_test {

extern const CLSID kControlClass;
extern const CLSID kSiteFirstControlClass;
extern const CLSID kInvisibleControlClass;
extern const IID kControlInterface;
extern const IID kControlEventsInterface;

// Type indexes in the library.
enum TypeIndex : HREFTYPE { kControlCoclass = 0, kControlType, kEventsType };

// Members of the automation interface.
enum Member : DISPID { kFireMouse = 1, kFireKey, kFireCustom, kFireEvent };
// The custom event: Changed(count, amount, label).
constexpr DISPID kChangedEvent = 1;

platform::ole::TypeLibrarySpec control_library_spec();

}  // namespace control_test
