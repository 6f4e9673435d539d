// The container site a hosted control talks to (its interfaces, counting, ambient
// properties, window context) and the event sink's refusals and the translation of
// events into the five values a script procedure receives.
#include <gtest/gtest.h>

#include <vector>

#include "library/com/activex_builtins.h"
#include "library/com/com_event_sink.h"
#include "library/com/ole_container_site.h"
#include "platform/gdi/colours.h"
#include "platform/kernel/memory.h"
#include "platform/platform.h"

namespace {

// A site held by the test, released at the end.
class SiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = DefWindowProcW;
    window_class.lpszClassName = u"SiteTestParent";
    RegisterClassW(&window_class);
    parent = CreateWindowExW(0, u"SiteTestParent", u"parent", 0, 30, 40, 120, 90, nullptr, nullptr, nullptr, nullptr);
    site = new OleContainerSite(parent, nullptr, 0);
    site->AddRef();
  }
  void TearDown() override {
    site->Release();
    DestroyWindow(parent);
  }

  template <typename Interface>
  Interface* query(const IID& iid) {
    void* object = nullptr;
    EXPECT_EQ(site->QueryInterface(iid, &object), S_OK);
    return static_cast<Interface*>(object);
  }

  HWND parent = nullptr;
  OleContainerSite* site = nullptr;
};

TEST_F(SiteTest, InterfacesOfOneGroupShareOnePointerAndCountOnTheSite) {
  struct Group {
    std::vector<const IID*> ids;
  };
  const Group groups[] = {
      {{&IID_IUnknown, &IID_IOleClientSite}},
      {{&IID_IOleWindow, &IID_IOleInPlaceSite, &IID_IOleInPlaceSiteEx}},
      {{&IID_IOleInPlaceUIWindow, &IID_IOleInPlaceFrame}},
      {{&IID_IParseDisplayName, &IID_IOleContainer, &IID_IOleItemContainer}},
      {{&IID_IDispatch}}, {{&IID_IOleCommandTarget}}, {{&IID_IOleDocumentSite}}, {{&IID_IAdviseSink}},
      {{&IID_IOleControlSite}},
  };
  std::vector<void*> seen;
  for (size_t g = 0; g < std::size(groups); ++g) {
    void* first = nullptr;
    for (const IID* iid : groups[g].ids) {
      void* object = nullptr;
      ASSERT_EQ(site->QueryInterface(*iid, &object), S_OK) << "group " << g;
      if (!first) first = object;
      EXPECT_EQ(object, first) << "group " << g;
    }
    for (void* other : seen) EXPECT_NE(first, other) << "group " << g;
    seen.push_back(first);
  }
  size_t given = 0;
  for (const Group& group : groups) given += group.ids.size();
  EXPECT_EQ(site->reference_count, 1 + given);
  for (size_t i = 0; i < given; ++i) static_cast<IUnknown*>(seen[0])->Release();
  EXPECT_EQ(site->reference_count, 1u);
}

TEST_F(SiteTest, UnknownInterfaceAndNullOutPointerAreRefused) {
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(site->QueryInterface(IID_IViewObject, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(site->QueryInterface(IID_IUnknown, nullptr), E_FAIL);
  EXPECT_EQ(site->reference_count, 1u);
}

TEST(SiteCounting, ReleaseAtZeroDoesNotDestroy) {
  auto* site = new OleContainerSite(nullptr, nullptr, 0);
  EXPECT_EQ(site->Release(), 0u);
  EXPECT_EQ(site->AddRef(), 1u);  // still there to count
  EXPECT_EQ(site->Release(), 0u);  // and gone now
}

TEST_F(SiteTest, AmbientPropertiesReportTrueAsAllBitsSet) {
  struct Case {
    DISPID id;
    VARTYPE type;
    int32_t value;
  };
  const Case cases[] = {
      {DISPID_AMBIENT_USERMODE, VT_BOOL, VARIANT_TRUE},
      {DISPID_AMBIENT_APPEARANCE, VT_BOOL, VARIANT_TRUE},
      {DISPID_AMBIENT_DISPLAYASDEFAULT, VT_BOOL, VARIANT_TRUE},
      {DISPID_AMBIENT_SHOWHATCHING, VT_BOOL, VARIANT_TRUE},
      {DISPID_AMBIENT_SHOWGRABHANDLES, VT_BOOL, VARIANT_TRUE},
      {DISPID_AMBIENT_MESSAGEREFLECT, VT_BOOL, VARIANT_FALSE},
      {DISPID_AMBIENT_LOCALEID, VT_I4, 0},
      {DISPID_AMBIENT_FORECOLOR, VT_I4, static_cast<int32_t>(GetSysColor(COLOR_WINDOWTEXT))},
      {DISPID_AMBIENT_BACKCOLOR, VT_I4, static_cast<int32_t>(GetSysColor(COLOR_WINDOW))},
  };
  auto* ambient = query<IDispatch>(IID_IDispatch);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  for (const Case& c : cases) {
    VARIANT value{};
    ASSERT_EQ(ambient->Invoke(c.id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr), S_OK) << c.id;
    EXPECT_EQ(value.vt, c.type) << c.id;
    EXPECT_EQ(c.type == VT_BOOL ? value.boolVal : value.lVal, c.value) << c.id;
  }
  VARIANT value{};
  EXPECT_EQ(ambient->Invoke(-710, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(ambient->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, nullptr, nullptr,
                            nullptr),
            E_INVALIDARG);
  EXPECT_EQ(ambient->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
            S_OK);
  ambient->Release();
}

TEST_F(SiteTest, WindowContextIsAtTheOriginWhereverTheParentIs) {
  auto* in_place = query<IOleInPlaceSiteEx>(IID_IOleInPlaceSiteEx);
  IOleInPlaceFrame* frame = nullptr;
  IOleInPlaceUIWindow* document = nullptr;
  RECT position{}, clip{};
  OLEINPLACEFRAMEINFO info{};
  ASSERT_EQ(in_place->GetWindowContext(&frame, &document, &position, &clip, &info), S_OK);
  RECT window{};
  GetWindowRect(parent, &window);
  EXPECT_NE(window.left, 0);
  const RECT expected = {0, 0, window.right - window.left, window.bottom - window.top};
  for (const RECT& rect : {position, clip}) {
    EXPECT_EQ(rect.left, expected.left);
    EXPECT_EQ(rect.top, expected.top);
    EXPECT_EQ(rect.right, expected.right);
    EXPECT_EQ(rect.bottom, expected.bottom);
  }
  EXPECT_EQ(info.cb, 20u);
  EXPECT_EQ(info.hwndFrame, parent);
  ASSERT_NE(frame, nullptr);
  ASSERT_NE(document, nullptr);
  frame->Release();
  document->Release();

  frame = reinterpret_cast<IOleInPlaceFrame*>(1);
  EXPECT_EQ(in_place->GetWindowContext(&frame, &document, nullptr, &clip, &info), E_INVALIDARG);
  EXPECT_EQ(frame, nullptr);
  in_place->Release();
  EXPECT_EQ(site->reference_count, 1u);
}

// An active object that counts its references and the accelerators it is offered.
struct ActiveObject final : IOleInPlaceActiveObject {
  ULONG references = 1;
  int offered = 0;
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return ++references; }
  ULONG Release() override { return --references; }
  HRESULT GetWindow(HWND*) override { return E_NOTIMPL; }
  HRESULT ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  HRESULT TranslateAccelerator(LPMSG) override {
    ++offered;
    return S_OK;
  }
  HRESULT OnFrameWindowActivate(BOOL) override { return S_OK; }
  HRESULT OnDocWindowActivate(BOOL) override { return S_OK; }
  HRESULT ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
  HRESULT EnableModeless(BOOL) override { return S_OK; }
};

TEST_F(SiteTest, FrameHoldsOneActiveObjectAndAnswersAcceleratorsWithFalse) {
  auto* frame = query<IOleInPlaceFrame>(IID_IOleInPlaceFrame);
  ActiveObject first, second;
  MSG message{};
  EXPECT_EQ(frame->TranslateAccelerator(&message, 0), S_FALSE);
  EXPECT_EQ(frame->SetActiveObject(&first, nullptr), S_OK);
  EXPECT_EQ(frame->TranslateAccelerator(&message, 0), S_FALSE);  // even though it handled it
  EXPECT_EQ(first.offered, 1);
  EXPECT_EQ(frame->SetActiveObject(&second, nullptr), S_OK);
  EXPECT_EQ(first.references, 1u);  // the one replaced is given back
  EXPECT_EQ(second.references, 2u);
  site->release_control();
  EXPECT_EQ(second.references, 1u);
  RECT border{};
  EXPECT_EQ(frame->GetBorder(&border), INPLACE_E_NOTOOLSPACE);
  EXPECT_EQ(frame->GetBorder(nullptr), E_INVALIDARG);
  frame->Release();
}

TEST_F(SiteTest, ControlSiteRecordsTheLockAndActivationFollowsTheNotifications) {
  auto* control_site = query<IOleControlSite>(IID_IOleControlSite);
  auto* in_place = query<IOleInPlaceSiteEx>(IID_IOleInPlaceSiteEx);
  control_site->LockInPlaceActive(7);
  EXPECT_EQ(site->locked_in_place, 1);
  control_site->LockInPlaceActive(FALSE);
  EXPECT_EQ(site->locked_in_place, 0);
  in_place->OnInPlaceActivate();
  in_place->OnUIActivate();
  EXPECT_EQ(site->in_place_active + site->ui_active, 2);
  in_place->OnUIDeactivate(FALSE);
  in_place->OnInPlaceDeactivate();
  EXPECT_EQ(site->in_place_active + site->ui_active, 0);
  BOOL no_redraw = TRUE;
  EXPECT_EQ(in_place->OnInPlaceActivateEx(&no_redraw, 0), S_OK);
  EXPECT_EQ(no_redraw, FALSE);
  control_site->Release();
  in_place->Release();
}

// A document view that records what the site asks of it.
struct DocumentView final : IOleDocumentView {
  ULONG references = 1;
  IOleInPlaceSite* site = nullptr;
  BOOL activated = FALSE;
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return ++references; }
  ULONG Release() override { return --references; }
  HRESULT SetInPlaceSite(IOleInPlaceSite* given) override {
    site = given;
    return S_OK;
  }
  HRESULT GetInPlaceSite(IOleInPlaceSite**) override { return E_NOTIMPL; }
  HRESULT GetDocument(IUnknown**) override { return E_NOTIMPL; }
  HRESULT SetRect(LPRECT) override { return S_OK; }
  HRESULT GetRect(LPRECT) override { return E_NOTIMPL; }
  HRESULT SetRectComplex(LPRECT, LPRECT, LPRECT, LPRECT) override { return E_NOTIMPL; }
  HRESULT Show(BOOL) override { return S_OK; }
  HRESULT UIActivate(BOOL activate) override {
    activated = activate;
    return S_OK;
  }
  HRESULT Open() override { return E_NOTIMPL; }
  HRESULT CloseView(DWORD) override { return S_OK; }
  HRESULT SaveViewState(IStream*) override { return E_NOTIMPL; }
  HRESULT ApplyViewState(IStream*) override { return E_NOTIMPL; }
  HRESULT Clone(IOleInPlaceSite*, IOleDocumentView**) override { return E_NOTIMPL; }
};

TEST_F(SiteTest, DocumentSiteActivatesTheViewItIsGivenAndHoldsIt) {
  auto* document_site = query<IOleDocumentSite>(IID_IOleDocumentSite);
  // Without a view the document is asked for one: no OLE object, no document.
  EXPECT_EQ(document_site->ActivateMe(nullptr), E_FAIL);
  DocumentView view;
  EXPECT_EQ(document_site->ActivateMe(&view), S_OK);
  EXPECT_EQ(view.site, static_cast<IOleInPlaceSite*>(static_cast<IOleInPlaceSiteEx*>(site)));
  EXPECT_EQ(view.activated, TRUE);
  EXPECT_EQ(view.references, 2u);
  document_site->Release();
  site->release_control();
  EXPECT_EQ(view.references, 1u);
  EXPECT_EQ(site->reference_count, 1u);
}

TEST_F(SiteTest, ContainerAndCommandTargetAnswerWithoutDoingAnything) {
  auto* client = query<IOleClientSite>(IID_IOleClientSite);
  IOleContainer* container = nullptr;
  ASSERT_EQ(client->GetContainer(&container), S_OK);
  EXPECT_EQ(static_cast<void*>(container), static_cast<void*>(static_cast<IOleItemContainer*>(site)));
  container->Release();
  EXPECT_EQ(client->GetContainer(nullptr), E_INVALIDARG);
  EXPECT_EQ(client->RequestNewObjectLayout(), E_NOTIMPL);
  auto* items = query<IOleItemContainer>(IID_IOleItemContainer);
  void* object = reinterpret_cast<void*>(1);
  WCHAR name[] = u"item";
  EXPECT_EQ(items->GetObject(name, 0, nullptr, IID_IUnknown, &object), MK_E_NOOBJECT);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(items->GetObject(nullptr, 0, nullptr, IID_IUnknown, &object), E_INVALIDARG);
  auto* commands = query<IOleCommandTarget>(IID_IOleCommandTarget);
  OLECMD list[2] = {{1, 3}, {2, 7}};
  EXPECT_EQ(commands->QueryStatus(nullptr, 2, list, nullptr), S_OK);
  EXPECT_EQ(list[0].cmdf + list[1].cmdf, 0u);
  EXPECT_EQ(commands->QueryStatus(nullptr, 1, nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(commands->Exec(nullptr, 1, 0, nullptr, nullptr), OLECMDERR_E_NOTSUPPORTED);
  for (IUnknown* held : {static_cast<IUnknown*>(client), static_cast<IUnknown*>(items), static_cast<IUnknown*>(commands)}) {
    held->Release();
  }
  EXPECT_EQ(site->reference_count, 1u);
}

TEST(ActiveXSize, PixelsBecomeHimetricAtTheScreenResolution) {
  SIZE size = pixels_to_himetric({100, 50});
  EXPECT_EQ(size.cx, 2645);
  EXPECT_EQ(size.cy, 1322);
  size = pixels_to_himetric({-3, 0});
  EXPECT_EQ(size.cx, -79);  // truncated toward zero
  EXPECT_EQ(size.cy, 0);
}

VARIANT number(VARTYPE type, int32_t value) {
  VARIANT result{};
  result.vt = type;
  if (type == VT_I2) result.iVal = static_cast<int16_t>(value);
  else result.lVal = value;
  return result;
}

TEST(EventTranslation, StockEventsBecomeWindowMessages) {
  OleContainerSite* site = new OleContainerSite(nullptr, nullptr, 0);
  site->AddRef();
  site->control_window = reinterpret_cast<HWND>(0x1234);
  int16_t key = 0x141;
  VARIANT key_reference{};
  key_reference.vt = VT_BYREF | VT_I2;
  key_reference.piVal = &key;
  struct Case {
    DISPID event;
    std::vector<VARIANT> arguments;  // last first, as Invoke delivers them
    int32_t message;
    double first;
    double second;
  };
  const Case cases[] = {
      {DISPID_MOUSEDOWN, {number(VT_I4, 20), number(VT_I4, 10), number(VT_I2, 0), number(VT_I2, 1)}, 513, 0,
       20 * 65536 + 10},
      {DISPID_MOUSEDOWN, {number(VT_I4, 0), number(VT_I4, -1), number(VT_I2, 1), number(VT_I2, 2)}, 516, 1, 65535},
      {DISPID_MOUSEDOWN, {number(VT_I4, 1), number(VT_I4, 1), number(VT_I2, 0), number(VT_I2, 4)}, 519, 0, 65537},
      {DISPID_MOUSEDOWN, {number(VT_I4, 1), number(VT_I4, 1), number(VT_I2, 0), number(VT_I2, 3)}, 0, 0, 65537},
      {DISPID_MOUSEMOVE, {number(VT_I4, 6), number(VT_I4, 5), number(VT_I2, 2), number(VT_I2, 0)}, 512, 2, 393221},
      {DISPID_MOUSEUP, {number(VT_I4, 0), number(VT_I4, 0), number(VT_I2, 0), number(VT_I2, 1)}, 514, 0, 0},
      {DISPID_MOUSEUP, {number(VT_I4, 0), number(VT_I4, 0), number(VT_I2, 0), number(VT_I2, 2)}, 517, 0, 0},
      {DISPID_MOUSEUP, {number(VT_I4, 0), number(VT_I4, 0), number(VT_I2, 0), number(VT_I2, 4)}, 520, 0, 0},
      {DISPID_KEYDOWN, {number(VT_I2, 1), key_reference}, 256, 0x41, 1},
      {DISPID_KEYUP, {number(VT_I2, 0), key_reference}, 257, 0x41, 0},
      // Too few arguments: passed on as a plain event rather than read past the end.
      {DISPID_MOUSEDOWN, {number(VT_I4, 1)}, DISPID_MOUSEDOWN, 0, 1},
      {DISPID_KEYDOWN, {}, DISPID_KEYDOWN, 0, 0},
      {DISPID_KEYPRESS, {}, DISPID_KEYPRESS, 0, 0},
  };
  for (const Case& c : cases) {
    std::vector<VARIANT> arguments = c.arguments;
    DISPPARAMS params = {arguments.data(), nullptr, static_cast<UINT>(arguments.size()), 0};
    EventCall call{};
    double* block = nullptr;
    translate_event(site, c.event, &params, &call, &block);
    EXPECT_EQ(call.window, 0x1234u) << c.event << " " << c.message;
    EXPECT_EQ(call.event, c.message) << c.event << " " << c.message;
    EXPECT_EQ(call.first, c.first) << c.event << " " << c.message;
    EXPECT_EQ(call.second, c.second) << c.event << " " << c.message;
    EXPECT_EQ(call.site, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(site)));
    EXPECT_EQ(block != nullptr, call.event == DISPID_MOUSEDOWN);
    crt::free(block);
  }
  site->Release();
}

TEST(EventTranslation, PlainEventArgumentsArriveAsDoublesLastFirst) {
  OleContainerSite* site = new OleContainerSite(nullptr, nullptr, 0);
  site->AddRef();
  VARIANT arguments[3] = {number(VT_I2, -7), number(VT_R8, 0), number(VT_I4, 3)};
  arguments[1].dblVal = 2.5;
  DISPPARAMS params = {arguments, nullptr, 3, 0};
  EventCall call{};
  double* block = nullptr;
  translate_event(site, 12, &params, &call, &block);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(call.event, 12);
  EXPECT_EQ(call.second, 3);
  EXPECT_EQ(block[0], -7);  // the event's third argument
  EXPECT_EQ(block[1], 2.5);
  EXPECT_EQ(block[2], 3);
  crt::free(block);
  translate_event(site, 12, nullptr, &call, &block);
  EXPECT_EQ(block, nullptr);
  EXPECT_EQ(call.first, 0);
  EXPECT_EQ(call.second, 0);
  site->Release();
}

TEST(EventSink, PropertyCallsAndSitesWithoutAProcedureRunNothing) {
  OleContainerSite* site = new OleContainerSite(nullptr, nullptr, 0);
  site->AddRef();
  const IID events = {0x5A4C0006, 0x2222, 0x4C0D, {0x9E, 0, 0, 0, 0, 0, 0xC0, 0xDE}};
  auto* sink = new ComEventSink(site, events);
  IDispatch* held = nullptr;
  ASSERT_EQ(sink->QueryInterface(events, reinterpret_cast<void**>(&held)), S_OK);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  for (WORD flags : {DISPATCH_PROPERTYGET, DISPATCH_PROPERTYPUT, DISPATCH_PROPERTYPUTREF}) {
    EXPECT_EQ(held->Invoke(1, IID_NULL, 0, flags, &none, nullptr, nullptr, nullptr), E_NOTIMPL) << flags;
  }
  // No program and no procedure behind the site: answered, nothing run.
  EXPECT_EQ(held->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), S_OK);
  sink->site = nullptr;
  EXPECT_EQ(held->Invoke(DISPID_MOUSEDOWN, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr), S_OK);
  void* other = reinterpret_cast<void*>(1);
  EXPECT_EQ(held->QueryInterface(IID_IOleObject, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(held->QueryInterface(IID_IUnknown, nullptr), E_FAIL);
  EXPECT_EQ(held->Release(), 0u);
  site->Release();
}

}  // namespace
