// The OLE container site: the container side of one hosted ActiveX control, its
// interfaces, ambient properties and in-place activation state.
#include "library/com/ole_container_site.h"

#include "library/com/reference_count.h"
#include "platform/gdi/colours.h"
#include "platform/user/window_manager.h"

namespace {

// A boolean ambient property as a VARIANT_BOOL: true is all bits set.
VARIANT_BOOL variant_bool(uint8_t value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }

}  // namespace

OleContainerSite::OleContainerSite(HWND parent, ProgramContext* owner, uint32_t procedure)
    : parent_window(parent),
      event_procedure(procedure),
      program(owner),
      fore_colour(GetSysColor(SYS_COLOR_INDEX_FLAG | COLOR_WINDOWTEXT)),
      back_colour(GetSysColor(SYS_COLOR_INDEX_FLAG | COLOR_WINDOW)) {}

OleContainerSite::~OleContainerSite() { release_control(); }

void OleContainerSite::release_control() {
  // The sink is disconnected while the control is surely still there.
  if (event_connection_point) {
    IConnectionPoint* point = event_connection_point;
    event_connection_point = nullptr;
    if (event_cookie) point->Unadvise(event_cookie);
    event_cookie = 0;
    point->Release();
  }
  IUnknown** held[] = {reinterpret_cast<IUnknown**>(&control_dispatch),
                       reinterpret_cast<IUnknown**>(&own_client_site),
                       &control,
                       reinterpret_cast<IUnknown**>(&ole_object),
                       reinterpret_cast<IUnknown**>(&in_place_object),
                       reinterpret_cast<IUnknown**>(&active_object),
                       reinterpret_cast<IUnknown**>(&document_view),
                       reinterpret_cast<IUnknown**>(&view_object),
                       reinterpret_cast<IUnknown**>(&own_advise_sink)};
  for (IUnknown** slot : held) {
    IUnknown* object = *slot;
    *slot = nullptr;
    if (object) object->Release();
  }
}

HRESULT OleContainerSite::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_FAIL;
  void* found = nullptr;
  if (iid == IID_IUnknown || iid == IID_IOleClientSite) {
    found = static_cast<IOleClientSite*>(this);
  } else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite || iid == IID_IOleInPlaceSiteEx) {
    found = static_cast<IOleInPlaceSiteEx*>(this);
  } else if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame) {
    found = static_cast<IOleInPlaceFrame*>(this);
  } else if (iid == IID_IParseDisplayName || iid == IID_IOleContainer || iid == IID_IOleItemContainer) {
    found = static_cast<IOleItemContainer*>(this);
  } else if (iid == IID_IDispatch) {
    found = static_cast<IDispatch*>(this);
  } else if (iid == IID_IOleCommandTarget) {
    found = static_cast<IOleCommandTarget*>(this);
  } else if (iid == IID_IOleDocumentSite) {
    found = static_cast<IOleDocumentSite*>(this);
  } else if (iid == IID_IAdviseSink) {
    found = static_cast<IAdviseSink*>(this);
  } else if (iid == IID_IOleControlSite) {
    found = static_cast<IOleControlSite*>(this);
  }
  *object = found;
  if (!found) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

ULONG OleContainerSite::AddRef() { return add_reference(&reference_count); }

ULONG OleContainerSite::Release() {
  bool last = false;
  ULONG left = drop_reference(&reference_count, &last);
  if (last) delete this;
  return left;
}

// ---- IOleClientSite ----

HRESULT OleContainerSite::SaveObject() { return S_OK; }

HRESULT OleContainerSite::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  if (moniker) *moniker = nullptr;
  return E_FAIL;
}

HRESULT OleContainerSite::GetContainer(IOleContainer** container) {
  if (!container) return E_INVALIDARG;
  return QueryInterface(IID_IOleContainer, reinterpret_cast<void**>(container));
}

HRESULT OleContainerSite::ShowObject() {
  if (control_window) ShowWindow(control_window, SW_SHOW);
  return S_OK;
}

HRESULT OleContainerSite::OnShowWindow(BOOL) { return S_OK; }

HRESULT OleContainerSite::RequestNewObjectLayout() { return E_NOTIMPL; }

// ---- IOleWindow ----

HRESULT OleContainerSite::GetWindow(HWND* window) {
  if (!window) return E_INVALIDARG;
  *window = parent_window;
  return S_OK;
}

HRESULT OleContainerSite::ContextSensitiveHelp(BOOL) { return S_OK; }

// ---- IOleInPlaceSiteEx ----

HRESULT OleContainerSite::CanInPlaceActivate() { return S_OK; }

HRESULT OleContainerSite::OnInPlaceActivate() {
  in_place_active = 1;
  return S_OK;
}

HRESULT OleContainerSite::OnUIActivate() {
  ui_active = 1;
  return S_OK;
}

HRESULT OleContainerSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                           LPRECT clip, OLEINPLACEFRAMEINFO* info) {
  if (!frame || !document || !position || !clip || !info) {
    if (frame) *frame = nullptr;
    if (document) *document = nullptr;
    return E_INVALIDARG;
  }
  if (FAILED(QueryInterface(IID_IOleInPlaceFrame, reinterpret_cast<void**>(frame)))) return E_UNEXPECTED;
  if (FAILED(QueryInterface(IID_IOleInPlaceUIWindow, reinterpret_cast<void**>(document)))) {
    (*frame)->Release();
    *frame = nullptr;
    return E_UNEXPECTED;
  }
  RECT area{};
  GetWindowRect(parent_window, &area);
  *position = {0, 0, area.right - area.left, area.bottom - area.top};
  *clip = *position;
  *info = {sizeof(OLEINPLACEFRAMEINFO), FALSE, parent_window, nullptr, 0};
  return S_OK;
}

HRESULT OleContainerSite::Scroll(SIZE) { return S_OK; }

HRESULT OleContainerSite::OnUIDeactivate(BOOL) {
  ui_active = 0;
  return S_OK;
}

HRESULT OleContainerSite::OnInPlaceDeactivate() {
  in_place_active = 0;
  return S_OK;
}

HRESULT OleContainerSite::DiscardUndoState() { return S_OK; }

HRESULT OleContainerSite::DeactivateAndUndo() { return S_OK; }

HRESULT OleContainerSite::OnPosRectChange(LPCRECT position) {
  if (in_place_object && position) in_place_object->SetObjectRects(position, position);
  return S_OK;
}

HRESULT OleContainerSite::OnInPlaceActivateEx(BOOL* no_redraw, DWORD) {
  if (no_redraw) *no_redraw = FALSE;
  return S_OK;
}

HRESULT OleContainerSite::OnInPlaceDeactivateEx(BOOL) { return S_OK; }

HRESULT OleContainerSite::RequestUIActivate() { return S_OK; }

// ---- IOleInPlaceFrame ----

HRESULT OleContainerSite::GetBorder(RECT* border) { return border ? INPLACE_E_NOTOOLSPACE : E_INVALIDARG; }

HRESULT OleContainerSite::RequestBorderSpace(const BORDERWIDTHS* widths) {
  return widths ? INPLACE_E_NOTOOLSPACE : E_INVALIDARG;
}

HRESULT OleContainerSite::SetBorderSpace(const BORDERWIDTHS*) { return S_OK; }

HRESULT OleContainerSite::SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) {
  if (object) object->AddRef();
  IOleInPlaceActiveObject* previous = active_object;
  active_object = object;
  // The one held before is let go, or its reference would never be given back.
  if (previous) previous->Release();
  return S_OK;
}

HRESULT OleContainerSite::InsertMenus(HMENU, OLEMENUGROUPWIDTHS*) { return S_OK; }

HRESULT OleContainerSite::SetMenu(HMENU, HOLEMENU, HWND) { return S_OK; }

HRESULT OleContainerSite::RemoveMenus(HMENU) { return S_OK; }

HRESULT OleContainerSite::SetStatusText(LPCOLESTR) { return S_OK; }

HRESULT OleContainerSite::EnableModeless(BOOL) { return S_OK; }

HRESULT OleContainerSite::TranslateAccelerator(LPMSG message, WORD) {
  if (active_object) active_object->TranslateAccelerator(message);
  return S_FALSE;
}

// ---- IOleItemContainer ----

HRESULT OleContainerSite::ParseDisplayName(IBindCtx*, LPOLESTR, ULONG*, IMoniker**) { return E_NOTIMPL; }

HRESULT OleContainerSite::EnumObjects(DWORD, IEnumUnknown**) { return E_NOTIMPL; }

HRESULT OleContainerSite::LockContainer(BOOL) { return S_OK; }

HRESULT OleContainerSite::GetObject(LPOLESTR item, DWORD, IBindCtx*, REFIID, void** object) {
  if (!item || !object) return E_INVALIDARG;
  *object = nullptr;
  return MK_E_NOOBJECT;
}

HRESULT OleContainerSite::GetObjectStorage(LPOLESTR item, IBindCtx*, REFIID, void** storage) {
  if (!item || !storage) return E_INVALIDARG;
  *storage = nullptr;
  return MK_E_NOOBJECT;
}

HRESULT OleContainerSite::IsRunning(LPOLESTR item) { return item ? MK_E_NOOBJECT : E_INVALIDARG; }

// ---- IDispatch: ambient properties ----

HRESULT OleContainerSite::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }

HRESULT OleContainerSite::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

HRESULT OleContainerSite::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

HRESULT OleContainerSite::Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                 UINT*) {
  if (!(flags & DISPATCH_PROPERTYGET)) return S_OK;
  if (!result) return E_INVALIDARG;
  result->vt = VT_BOOL;
  switch (member) {
    case DISPID_AMBIENT_APPEARANCE: result->boolVal = variant_bool(appearance); return S_OK;
    case DISPID_AMBIENT_DISPLAYASDEFAULT: result->boolVal = VARIANT_TRUE; return S_OK;
    case DISPID_AMBIENT_SHOWHATCHING: result->boolVal = variant_bool(show_hatching); return S_OK;
    case DISPID_AMBIENT_SHOWGRABHANDLES: result->boolVal = variant_bool(show_grab_handles); return S_OK;
    case DISPID_AMBIENT_USERMODE: result->boolVal = variant_bool(user_mode); return S_OK;
    case DISPID_AMBIENT_MESSAGEREFLECT: result->boolVal = VARIANT_FALSE; return S_OK;
    case DISPID_AMBIENT_LOCALEID:
      result->vt = VT_I4;
      result->lVal = static_cast<int32_t>(locale_id);
      return S_OK;
    case DISPID_AMBIENT_FORECOLOR:
      result->vt = VT_I4;
      result->lVal = static_cast<int32_t>(fore_colour);
      return S_OK;
    case DISPID_AMBIENT_BACKCOLOR:
      result->vt = VT_I4;
      result->lVal = static_cast<int32_t>(back_colour);
      return S_OK;
    default: return DISP_E_MEMBERNOTFOUND;
  }
}

// ---- IOleCommandTarget ----

HRESULT OleContainerSite::QueryStatus(const GUID*, ULONG count, OLECMD* commands, OLECMDTEXT*) {
  if (!commands) return E_INVALIDARG;
  for (ULONG i = 0; i < count; ++i) commands[i].cmdf = 0;
  return S_OK;
}

HRESULT OleContainerSite::Exec(const GUID*, DWORD, DWORD, VARIANT*, VARIANT*) { return OLECMDERR_E_NOTSUPPORTED; }

// ---- IOleDocumentSite ----

HRESULT OleContainerSite::ActivateMe(IOleDocumentView* view) {
  IOleInPlaceSite* site = nullptr;
  if (FAILED(QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&site))) || !site) return E_FAIL;
  HRESULT result = S_OK;
  if (view) {
    view->AddRef();
    if (document_view) document_view->Release();
    document_view = view;
  } else {
    IOleDocument* document = nullptr;
    if (!ole_object || FAILED(ole_object->QueryInterface(IID_IOleDocument, reinterpret_cast<void**>(&document))) ||
        !document) {
      site->Release();
      return E_FAIL;
    }
    IOleDocumentView* created = nullptr;
    result = document->CreateView(site, nullptr, 0, &created);
    document->Release();
    if (FAILED(result) || !created) {
      site->Release();
      return E_FAIL;
    }
    if (document_view) document_view->Release();
    document_view = created;
  }
  document_view->SetInPlaceSite(site);
  document_view->UIActivate(TRUE);
  site->Release();
  return S_OK;
}

// ---- IAdviseSink ----

void OleContainerSite::OnDataChange(FORMATETC*, STGMEDIUM*) {}

void OleContainerSite::OnViewChange(DWORD, LONG) {}

void OleContainerSite::OnRename(IMoniker*) {}

void OleContainerSite::OnSave() {}

void OleContainerSite::OnClose() {}

// ---- IOleControlSite ----

HRESULT OleContainerSite::OnControlInfoChanged() { return S_OK; }

HRESULT OleContainerSite::LockInPlaceActive(BOOL lock) {
  locked_in_place = lock ? 1 : 0;
  return S_OK;
}

HRESULT OleContainerSite::GetExtendedControl(IDispatch**) { return E_NOTIMPL; }

HRESULT OleContainerSite::TransformCoords(POINTL* himetric, POINTF* container, DWORD) {
  return himetric && container ? E_NOTIMPL : E_INVALIDARG;
}

HRESULT OleContainerSite::TranslateAccelerator(LPMSG, DWORD) { return E_NOTIMPL; }

HRESULT OleContainerSite::OnFocus(BOOL) { return S_OK; }

HRESULT OleContainerSite::ShowPropertyFrame() { return E_NOTIMPL; }
