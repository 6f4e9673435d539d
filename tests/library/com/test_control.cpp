// The test ActiveX control: an in-place object with a child window, a view that draws
// itself, type information leading to its event interface, and one connection point
// through which it fires the stock mouse and key events and a custom event on demand.
// Three classes share it: a plain one, one that wants its client site first and one that
// is invisible at run time. Every call it receives (and what its host answers) is logged
// to "comcontrol.log" in the working folder, with the count of its live objects.
#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/gdi/drawing.h"
#include "platform/gdi/objects.h"
#include "platform/kernel/registry.h"
#include "platform/kernel/utf.h"
#include "platform/ole/automation.h"
#include "platform/ole/com_object.h"
#include "platform/ole/com_runtime.h"
#include "platform/ole/ole_embedding.h"
#include "platform/user/painting.h"
#include "platform/user/window_manager.h"
#include "tests/library/com/control_types.h"
#include "tests/library/com/server_support.h"

using namespace control_test;

namespace {

int live_objects = 0;

void log_line(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  com_test::append_log_line("comcontrol.log", format, arguments);
  va_end(arguments);
}

std::string rect_text(LPCRECT rect) {
  if (!rect) return "null";
  char text[64];
  std::snprintf(text, sizeof text, "%d,%d,%d,%d", static_cast<int>(rect->left), static_cast<int>(rect->top),
                static_cast<int>(rect->right), static_cast<int>(rect->bottom));
  return text;
}

// The distance from one edge to the other, kept to 32 bits.
int edge_distance(LONG from, LONG to) {
  return static_cast<int>(std::clamp<int64_t>(int64_t{to} - from, INT32_MIN, INT32_MAX));
}

ITypeLib* shared_library() {
  static ITypeLib* library = [] {
    ITypeLib* made = nullptr;
    platform::ole::create_type_library(control_library_spec(), &made);
    return made;
  }();
  return library;
}

// A counted object of the control's own making (connection point, enumerator).
template <typename Interface>
class Part : public ComObject<Interface> {
 public:
  Part(const IID& iid, const char* name) : ComObject<Interface>(iid), name_(name) { ++live_objects; }
  ~Part() override { log_line("%s destroyed (live objects %d)", name_, --live_objects); }

 private:
  const char* name_;
};

class TestControl;

class ConnectionPoint final : public Part<IConnectionPoint> {
 public:
  explicit ConnectionPoint(TestControl* owner) : Part(IID_IConnectionPoint, "ConnectionPoint"), owner_(owner) {}
  ~ConnectionPoint() override;
  HRESULT GetConnectionInterface(IID* iid) override {
    if (!iid) return E_POINTER;
    *iid = kControlEventsInterface;
    return S_OK;
  }
  HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override;
  HRESULT Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT Unadvise(DWORD cookie) override;
  HRESULT EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

  // Fires member at the connected sink; the sink's answer, or OLE_E_NOCONNECTION.
  HRESULT fire(DISPID member, VARIANT* arguments, UINT count);
  void forget_owner() { owner_ = nullptr; }

 private:
  TestControl* owner_;
  IDispatch* sink_ = nullptr;
};

class PointEnumerator final : public Part<IEnumConnectionPoints> {
 public:
  explicit PointEnumerator(IConnectionPoint* point) : Part(IID_IEnumConnectionPoints, "PointEnumerator"), point_(point) {
    point_->AddRef();
  }
  ~PointEnumerator() override { point_->Release(); }
  HRESULT Next(ULONG count, IConnectionPoint** points, ULONG* fetched) override {
    ULONG given = 0;
    if (count > 0 && next_ == 0 && points) {
      points[0] = point_;
      point_->AddRef();
      given = 1;
      next_ = 1;
    }
    if (fetched) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    next_ += count;
    return next_ <= 1 ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    next_ = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumConnectionPoints**) override { return E_NOTIMPL; }

 private:
  IConnectionPoint* point_;
  ULONG next_ = 0;
};

constexpr WCHAR kWindowClass[] = u"ZrkTestControlWindow";

class TestControl final : public IOleObject,
                          public IOleInPlaceObject,
                          public IViewObject,
                          public IPersistStreamInit,
                          public IDispatch,
                          public IConnectionPointContainer,
                          public IRunnableObject {
 public:
  TestControl(const char* kind, DWORD status) : kind_(kind), status_(status) {
    static int serial = 0;
    serial_ = ++serial;
    ++live_objects;
    point_ = new ConnectionPoint(this);
    log("created");
  }
  ~TestControl() {
    point_->forget_owner();
    point_->Release();
    if (window_) DestroyWindow(window_);
    --live_objects;
    log_line("%s#%d destroyed holding site=%d in-place site=%d advise sink=%d (live objects %d)", kind_, serial_,
             site_ != nullptr, in_place_site_ != nullptr, advise_sink_ != nullptr, live_objects);
  }

  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    void* found = nullptr;
    if (iid == IID_IUnknown || iid == IID_IOleObject) found = static_cast<IOleObject*>(this);
    else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceObject) found = static_cast<IOleInPlaceObject*>(this);
    else if (iid == IID_IViewObject) found = static_cast<IViewObject*>(this);
    else if (iid == IID_IPersistStreamInit) found = static_cast<IPersistStreamInit*>(this);
    else if (iid == IID_IDispatch || iid == kControlInterface) found = static_cast<IDispatch*>(this);
    else if (iid == IID_IConnectionPointContainer) found = static_cast<IConnectionPointContainer*>(this);
    else if (iid == IID_IRunnableObject) found = static_cast<IRunnableObject*>(this);
    *object = found;
    if (!found) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  // IOleObject
  HRESULT SetClientSite(IOleClientSite* site) override {
    log("SetClientSite %s", site ? "site" : "null");
    if (site) site->AddRef();
    if (site_) site_->Release();
    site_ = site;
    if (site_) read_ambients();
    return S_OK;
  }
  HRESULT GetClientSite(IOleClientSite** site) override {
    if (!site) return E_POINTER;
    *site = site_;
    if (site_) site_->AddRef();
    return S_OK;
  }
  HRESULT SetHostNames(LPCOLESTR application, LPCOLESTR object) override {
    log("SetHostNames %s %s", platform::utf8_from_utf16(application ? application : u"(null)").c_str(),
        object ? platform::utf8_from_utf16(object).c_str() : "(null)");
    return S_OK;
  }
  HRESULT Close(DWORD option) override {
    log("Close %u", static_cast<unsigned>(option));
    return S_OK;
  }
  HRESULT SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
  HRESULT GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  HRESULT InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
  HRESULT GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
  HRESULT DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent, LPCRECT position) override;
  HRESULT EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
  HRESULT Update() override { return S_OK; }
  HRESULT IsUpToDate() override { return S_OK; }
  HRESULT GetUserClassID(CLSID*) override { return E_NOTIMPL; }
  HRESULT GetUserType(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
  HRESULT SetExtent(DWORD aspect, SIZEL* size) override {
    if (!size) return E_INVALIDARG;
    log("SetExtent %u %dx%d", static_cast<unsigned>(aspect), static_cast<int>(size->cx), static_cast<int>(size->cy));
    extent_ = *size;
    return S_OK;
  }
  HRESULT GetExtent(DWORD aspect, SIZEL* size) override {
    if (!size) return E_INVALIDARG;
    log("GetExtent %u", static_cast<unsigned>(aspect));
    *size = extent_;
    return S_OK;
  }
  HRESULT Advise(IAdviseSink* sink, DWORD* cookie) override {
    log("Advise %s", sink ? "sink" : "null");
    if (!sink || !cookie) return E_INVALIDARG;
    sink->AddRef();
    if (advise_sink_) advise_sink_->Release();
    advise_sink_ = sink;
    *cookie = 7;
    return S_OK;
  }
  HRESULT Unadvise(DWORD cookie) override {
    log("Unadvise %u", static_cast<unsigned>(cookie));
    if (cookie != 7 || !advise_sink_) return OLE_E_NOCONNECTION;
    advise_sink_->Release();
    advise_sink_ = nullptr;
    return S_OK;
  }
  HRESULT EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
  HRESULT GetMiscStatus(DWORD aspect, DWORD* status) override {
    log("GetMiscStatus %u", static_cast<unsigned>(aspect));
    if (!status) return E_INVALIDARG;
    *status = status_;
    return S_OK;
  }
  HRESULT SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

  // IOleInPlaceObject
  HRESULT GetWindow(HWND* window) override {
    log("GetWindow%s", window_ ? "" : " (none yet)");
    if (!window) return E_INVALIDARG;
    *window = window_;
    return window_ ? S_OK : E_FAIL;
  }
  HRESULT ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  HRESULT InPlaceDeactivate() override {
    log("InPlaceDeactivate");
    if (!in_place_site_) return S_OK;
    if (window_) DestroyWindow(window_);
    window_ = nullptr;
    in_place_site_->OnInPlaceDeactivate();
    in_place_site_->Release();
    in_place_site_ = nullptr;
    return S_OK;
  }
  HRESULT UIDeactivate() override {
    log("UIDeactivate");
    if (ui_active_ && site_) {
      IOleInPlaceSite* site = nullptr;
      if (SUCCEEDED(site_->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&site)))) {
        site->OnUIDeactivate(FALSE);
        site->Release();
      }
    }
    ui_active_ = false;
    return S_OK;
  }
  HRESULT SetObjectRects(LPCRECT position, LPCRECT clip) override {
    log("SetObjectRects %s clip %s", rect_text(position).c_str(), rect_text(clip).c_str());
    if (window_ && position) {
      // Widths from any host's rectangle, however far apart its edges: within 32 bits.
      MoveWindow(window_, position->left, position->top, edge_distance(position->left, position->right),
                 edge_distance(position->top, position->bottom), TRUE);
    }
    return S_OK;
  }
  HRESULT ReactivateAndUndo() override { return E_NOTIMPL; }

  // IViewObject
  HRESULT Draw(DWORD aspect, LONG index, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECT bounds, LPCRECT,
               BOOL (*)(ULONG_PTR), ULONG_PTR) override {
    log("Draw %u %d %s", static_cast<unsigned>(aspect), static_cast<int>(index), rect_text(bounds).c_str());
    if (!dc || !bounds) return E_INVALIDARG;
    // A blue face with a white ring, inside the host's focus frame.
    RECT face = {bounds->left + 2, bounds->top + 2, bounds->right - 2, bounds->bottom - 2};
    HBRUSH blue = CreateSolidBrush(RGB(0, 64, 192));
    FillRect(dc, &face, blue);
    DeleteObject(blue);
    HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
    RECT ring = {face.left + 4, face.top + 4, face.right - 4, face.bottom - 4};
    FrameRect(dc, &ring, white);
    DeleteObject(white);
    return S_OK;
  }
  HRESULT GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE**) override { return E_NOTIMPL; }
  HRESULT Freeze(DWORD, LONG, void*, DWORD*) override { return E_NOTIMPL; }
  HRESULT Unfreeze(DWORD) override { return E_NOTIMPL; }
  HRESULT SetAdvise(DWORD, DWORD, IAdviseSink*) override { return E_NOTIMPL; }
  HRESULT GetAdvise(DWORD*, DWORD*, IAdviseSink**) override { return E_NOTIMPL; }

  // IPersistStreamInit
  HRESULT GetClassID(CLSID*) override { return E_NOTIMPL; }
  HRESULT IsDirty() override { return S_FALSE; }
  HRESULT Load(IStream*) override { return E_NOTIMPL; }
  HRESULT Save(IStream*, BOOL) override { return E_NOTIMPL; }
  HRESULT GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
  HRESULT InitNew() override {
    log("InitNew");
    return S_OK;
  }

  // IDispatch
  HRESULT GetTypeInfoCount(UINT* count) override {
    if (count) *count = 1;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    log("GetTypeInfo %u", index);
    return com_test::dispatch_type_info(shared_library(), kControlType, index, info);
  }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    return com_test::dispatch_ids_of_names(shared_library(), kControlType, names, count, ids);
  }
  HRESULT Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                 UINT*) override;

  // IConnectionPointContainer
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) override {
    log("EnumConnectionPoints");
    if (!points) return E_POINTER;
    *points = new PointEnumerator(point_);
    return S_OK;
  }
  HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) override {
    if (!point) return E_POINTER;
    *point = nullptr;
    if (!(iid == kControlEventsInterface)) return E_NOINTERFACE;
    *point = point_;
    point_->AddRef();
    return S_OK;
  }

  // IRunnableObject
  HRESULT GetRunningClass(CLSID*) override { return E_NOTIMPL; }
  HRESULT Run(IBindCtx*) override {
    log("Run");
    return S_OK;
  }
  BOOL IsRunning() override { return TRUE; }
  HRESULT LockRunning(BOOL, BOOL) override { return S_OK; }
  HRESULT SetContainedObject(BOOL contained) override {
    log("SetContainedObject %d", contained);
    return S_OK;
  }

  // Fires a stock mouse event from the control's window (x, y in its client area).
  HRESULT fire_mouse(DISPID event, int16_t button, int16_t shift, int32_t x, int32_t y) {
    VARIANT arguments[4];
    arguments[3] = {};
    arguments[3].vt = VT_I2;
    arguments[3].iVal = button;
    arguments[2] = {};
    arguments[2].vt = VT_I2;
    arguments[2].iVal = shift;
    arguments[1] = {};
    arguments[1].vt = VT_I4;
    arguments[1].lVal = x;
    arguments[0] = {};
    arguments[0].vt = VT_I4;
    arguments[0].lVal = y;
    return fire(event, arguments, 4);
  }
  void log(const char* format, ...) {
    char text[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    log_line("%s#%d %s", kind_, serial_, text);
  }

 private:
  // The user mode and back colour the host reports, as the control reads them first.
  void read_ambients() {
    IDispatch* ambient = nullptr;
    if (FAILED(site_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&ambient)))) return;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    for (DISPID id : {DISPID_AMBIENT_USERMODE, DISPID_AMBIENT_BACKCOLOR}) {
      VARIANT value;
      VariantInit(&value);
      HRESULT result = ambient->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr);
      log("  ambient %d: result %d type %d value %d", static_cast<int>(id), static_cast<int>(result), value.vt,
          value.vt == VT_BOOL ? value.boolVal : static_cast<int>(value.lVal));
    }
    ambient->Release();
  }
  HRESULT fire(DISPID event, VARIANT* arguments, UINT count) {
    // The script may free the control while the event runs.
    AddRef();
    HRESULT result = point_->fire(event, arguments, count);
    log("  fired %d: answer %d", static_cast<int>(event), static_cast<int>(result));
    Release();
    return result;
  }
  HRESULT activate_in_place(HWND parent);

  const char* kind_;
  DWORD status_;
  int serial_ = 0;
  ULONG references_ = 0;
  ConnectionPoint* point_ = nullptr;
  IOleClientSite* site_ = nullptr;
  IOleInPlaceSite* in_place_site_ = nullptr;
  IAdviseSink* advise_sink_ = nullptr;
  HWND window_ = nullptr;
  bool ui_active_ = false;
  SIZEL extent_ = {2540, 2540};
};

ConnectionPoint::~ConnectionPoint() {
  if (sink_) sink_->Release();
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
  if (!container) return E_POINTER;
  *container = owner_;
  if (!owner_) return E_UNEXPECTED;
  owner_->AddRef();
  return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (!sink || !cookie) return E_POINTER;
  if (sink_) return E_FAIL;
  // A sink must speak the event interface itself.
  IDispatch* events = nullptr;
  HRESULT result = sink->QueryInterface(kControlEventsInterface, reinterpret_cast<void**>(&events));
  if (owner_) owner_->log("connection Advise: sink answers the event interface %s", SUCCEEDED(result) ? "yes" : "no");
  if (FAILED(result)) return result;
  sink_ = events;
  *cookie = 11;
  return S_OK;
}

HRESULT ConnectionPoint::Unadvise(DWORD cookie) {
  if (owner_) owner_->log("connection Unadvise %u", static_cast<unsigned>(cookie));
  if (cookie != 11 || !sink_) return OLE_E_NOCONNECTION;
  sink_->Release();
  sink_ = nullptr;
  return S_OK;
}

HRESULT ConnectionPoint::fire(DISPID member, VARIANT* arguments, UINT count) {
  if (!sink_) return OLE_E_NOCONNECTION;
  DISPPARAMS params = {arguments, nullptr, count, 0};
  return sink_->Invoke(member, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

LRESULT control_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* control = reinterpret_cast<TestControl*>(static_cast<uintptr_t>(static_cast<uint32_t>(GetWindowLongW(window, GWL_USERDATA))));
  switch (message) {
    case WM_PAINT: {
      // The face is drawn by the host through the view; painting only validates.
      PAINTSTRUCT paint;
      BeginPaint(window, &paint);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
      if (control) {
        int16_t shift = (wparam & MK_SHIFT) ? 1 : 0;
        control->fire_mouse(message == WM_LBUTTONDOWN ? DISPID_MOUSEDOWN : DISPID_MOUSEUP, 1, shift,
                            GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam));
      }
      return 0;
    default: return DefWindowProcW(window, message, wparam, lparam);
  }
}

HRESULT TestControl::activate_in_place(HWND parent) {
  if (in_place_site_) return S_OK;
  if (!site_ || FAILED(site_->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&in_place_site_)))) {
    in_place_site_ = nullptr;
    return E_FAIL;
  }
  HRESULT can = in_place_site_->CanInPlaceActivate();
  log("  CanInPlaceActivate: %d", static_cast<int>(can));
  if (can != S_OK) {
    in_place_site_->Release();
    in_place_site_ = nullptr;
    return E_FAIL;
  }
  log("  OnInPlaceActivate: %d", static_cast<int>(in_place_site_->OnInPlaceActivate()));
  IOleInPlaceFrame* frame = nullptr;
  IOleInPlaceUIWindow* document = nullptr;
  RECT position{}, clip{};
  OLEINPLACEFRAMEINFO info{};
  info.cb = sizeof info;
  HRESULT context = in_place_site_->GetWindowContext(&frame, &document, &position, &clip, &info);
  HWND site_window = nullptr;
  in_place_site_->GetWindow(&site_window);
  log("  GetWindowContext: %d position %s clip %s frame window is the parent %s", static_cast<int>(context),
      rect_text(&position).c_str(), rect_text(&clip).c_str(),
      info.hwndFrame == parent && site_window == parent ? "yes" : "no");
  if (frame) frame->Release();
  if (document) document->Release();
  static const bool registered = [] {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = control_window_procedure;
    window_class.lpszClassName = kWindowClass;
    return RegisterClassW(&window_class) != 0;
  }();
  if (registered) {
    window_ = CreateWindowExW(0, kWindowClass, u"", WS_CHILD, position.left, position.top,
                              position.right - position.left, position.bottom - position.top, parent, nullptr,
                              nullptr, nullptr);
    if (window_) SetWindowLongW(window_, GWL_USERDATA, static_cast<LONG>(reinterpret_cast<uintptr_t>(this)));
  }
  return S_OK;
}

HRESULT TestControl::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent, LPCRECT position) {
  log("DoVerb %d site %s position %s", static_cast<int>(verb), site == site_ ? "same" : "other",
      rect_text(position).c_str());
  switch (verb) {
    case OLEIVERB_INPLACEACTIVATE: return activate_in_place(parent);
    case OLEIVERB_SHOW: {
      if (FAILED(activate_in_place(parent))) return E_FAIL;
      if (!ui_active_) {
        ui_active_ = true;
        log("  OnUIActivate: %d", static_cast<int>(in_place_site_->OnUIActivate()));
      }
      log("  ShowObject: %d", static_cast<int>(site_->ShowObject()));
      return S_OK;
    }
    case OLEIVERB_HIDE:
      if (window_) ShowWindow(window_, SW_HIDE);
      return S_OK;
    default: return E_NOTIMPL;
  }
}

HRESULT TestControl::Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                            UINT*) {
  if (!params || !(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
  // Arguments in call order, converted to the type wanted.
  auto argument = [params](UINT i, VARTYPE type, VARIANT* out) {
    VariantInit(out);
    if (i >= params->cArgs) return false;
    return SUCCEEDED(VariantChangeType(out, &params->rgvarg[params->cArgs - 1 - i], 0, type));
  };
  VARIANT a, b, c, d, e;
  HRESULT answer = S_OK;
  switch (member) {
    case kFireMouse:
      if (!argument(0, VT_I4, &a) || !argument(1, VT_I4, &b) || !argument(2, VT_I4, &c) || !argument(3, VT_I4, &d) ||
          !argument(4, VT_I4, &e)) {
        return DISP_E_TYPEMISMATCH;
      }
      log("FireMouse %d button %d shift %d at %d,%d", a.lVal, b.lVal, c.lVal, d.lVal, e.lVal);
      answer = fire_mouse(a.lVal, static_cast<int16_t>(b.lVal), static_cast<int16_t>(c.lVal), d.lVal, e.lVal);
      break;
    case kFireKey: {
      if (!argument(0, VT_I4, &a) || !argument(1, VT_I4, &b) || !argument(2, VT_I4, &c)) return DISP_E_TYPEMISMATCH;
      log("FireKey %d key %d shift %d", a.lVal, b.lVal, c.lVal);
      int16_t key = static_cast<int16_t>(b.lVal);
      VARIANT arguments[2];
      arguments[1] = {};
      arguments[1].vt = VT_BYREF | VT_I2;
      arguments[1].piVal = &key;
      arguments[0] = {};
      arguments[0].vt = VT_I2;
      arguments[0].iVal = static_cast<int16_t>(c.lVal);
      answer = fire(a.lVal, arguments, 2);
      break;
    }
    case kFireCustom: {
      if (!argument(0, VT_I4, &a) || !argument(1, VT_R8, &b) || !argument(2, VT_BSTR, &c)) return DISP_E_TYPEMISMATCH;
      log("FireCustom %d %g %s", a.lVal, b.dblVal, platform::utf8_from_utf16(c.bstrVal ? c.bstrVal : u"").c_str());
      // Delivered last first, as every IDispatch call gets its arguments.
      VARIANT arguments[3] = {c, b, a};
      answer = fire(kChangedEvent, arguments, 3);
      VariantClear(&c);
      break;
    }
    case kFireEvent:
      if (!argument(0, VT_I4, &a)) return DISP_E_TYPEMISMATCH;
      log("FireEvent %d", a.lVal);
      answer = fire(a.lVal, nullptr, 0);
      break;
    default: return DISP_E_MEMBERNOTFOUND;
  }
  if (result) {
    result->vt = VT_I4;
    result->lVal = answer;
  }
  return S_OK;
}

class Factory final : public com_test::StaticClassFactory {
 public:
  Factory(const char* kind, DWORD status) : kind_(kind), status_(status) {}

 protected:
  IUnknown* make() override {
    auto* control = new TestControl(kind_, status_);
    control->AddRef();
    return static_cast<IOleObject*>(control);
  }

 private:
  const char* kind_;
  DWORD status_;
};

struct ControlClass {
  const CLSID* clsid;
  const char16_t* progid;
  Factory* factory;
};

Factory plain_factory("Control", 0);
Factory site_first_factory("SiteFirst", OLEMISC_SETCLIENTSITEFIRST);
Factory invisible_factory("Invisible", OLEMISC_INVISIBLEATRUNTIME);

const ControlClass kClasses[] = {
    {&kControlClass, u"ZrkTest.Control", &plain_factory},
    {&kSiteFirstControlClass, u"ZrkTest.SiteFirstControl", &site_first_factory},
    {&kInvisibleControlClass, u"ZrkTest.InvisibleControl", &invisible_factory},
};

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid,
                                                                            void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  for (const ControlClass& entry : kClasses) {
    if (clsid == *entry.clsid) return entry.factory->QueryInterface(iid, object);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" __attribute__((visibility("default"))) HRESULT DllRegisterServer() {
  bool ok = true;
  for (const ControlClass& entry : kClasses) {
    WCHAR clsid[40];
    StringFromGUID2(*entry.clsid, clsid, 40);
    std::u16string key = std::u16string(u"CLSID\\") + clsid;
    ok = ok && com_test::set_class_key(key, entry.progid) == ERROR_SUCCESS &&
         com_test::set_class_key(key + u"\\InprocServer32", u"comtestcontrol.dll") == ERROR_SUCCESS &&
         com_test::set_class_key(key + u"\\ProgID", entry.progid) == ERROR_SUCCESS &&
         com_test::set_class_key(key + u"\\Control", u"") == ERROR_SUCCESS &&
         com_test::set_class_key(std::u16string(entry.progid) + u"\\CLSID", clsid) == ERROR_SUCCESS;
  }
  return ok ? S_OK : E_FAIL;
}
