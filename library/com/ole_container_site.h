// The OLE container site: the container side of one hosted ActiveX control. It answers
// the control's calls on its client site, in-place site and frame, item container,
// ambient properties, command target, document site, advise sink and control site, and
// holds the control's interfaces and windows. Its address is the script's ActiveX handle.
#pragma once

#include <cstdint>

#include "library/com/dispatch_object.h"
#include "platform/ole/ole_embedding.h"

struct ProgramContext;

struct OleContainerSite : IOleClientSite,
                          IOleInPlaceSiteEx,
                          IOleInPlaceFrame,
                          IOleItemContainer,
                          IDispatch,
                          IOleCommandTarget,
                          IOleDocumentSite,
                          IAdviseSink,
                          IOleControlSite {
  // The reference count starts at 0: whoever keeps the site takes a reference.
  OleContainerSite(HWND parent, ProgramContext* program, uint32_t event_procedure);
  OleContainerSite(const OleContainerSite&) = delete;
  OleContainerSite& operator=(const OleContainerSite&) = delete;

  // Shared by every interface of the site.
  HRESULT QueryInterface(REFIID iid, void** object) override;
  ULONG AddRef() override;
  // At 0 the site destroys itself; a count already at 0 stays there.
  ULONG Release() override;

  // IOleClientSite
  HRESULT SaveObject() override;
  HRESULT GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
  HRESULT GetContainer(IOleContainer** container) override;
  HRESULT ShowObject() override;
  HRESULT OnShowWindow(BOOL show) override;
  HRESULT RequestNewObjectLayout() override;

  // IOleWindow, shared by the in-place site and the frame
  HRESULT GetWindow(HWND* window) override;
  HRESULT ContextSensitiveHelp(BOOL enter) override;

  // IOleInPlaceSiteEx
  HRESULT CanInPlaceActivate() override;
  HRESULT OnInPlaceActivate() override;
  HRESULT OnUIActivate() override;
  HRESULT GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position, LPRECT clip,
                           OLEINPLACEFRAMEINFO* info) override;
  HRESULT Scroll(SIZE extent) override;
  HRESULT OnUIDeactivate(BOOL undoable) override;
  HRESULT OnInPlaceDeactivate() override;
  HRESULT DiscardUndoState() override;
  HRESULT DeactivateAndUndo() override;
  HRESULT OnPosRectChange(LPCRECT position) override;
  HRESULT OnInPlaceActivateEx(BOOL* no_redraw, DWORD flags) override;
  HRESULT OnInPlaceDeactivateEx(BOOL no_redraw) override;
  HRESULT RequestUIActivate() override;

  // IOleInPlaceFrame
  HRESULT GetBorder(RECT* border) override;
  HRESULT RequestBorderSpace(const BORDERWIDTHS* widths) override;
  HRESULT SetBorderSpace(const BORDERWIDTHS* widths) override;
  HRESULT SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR name) override;
  HRESULT InsertMenus(HMENU menu, OLEMENUGROUPWIDTHS* widths) override;
  HRESULT SetMenu(HMENU menu, HOLEMENU shared, HWND active_object) override;
  HRESULT RemoveMenus(HMENU menu) override;
  HRESULT SetStatusText(LPCOLESTR text) override;
  HRESULT EnableModeless(BOOL enable) override;
  HRESULT TranslateAccelerator(LPMSG message, WORD id) override;

  // IOleItemContainer
  HRESULT ParseDisplayName(IBindCtx* context, LPOLESTR name, ULONG* eaten, IMoniker** moniker) override;
  HRESULT EnumObjects(DWORD flags, IEnumUnknown** objects) override;
  HRESULT LockContainer(BOOL lock) override;
  HRESULT GetObject(LPOLESTR item, DWORD speed, IBindCtx* context, REFIID iid, void** object) override;
  HRESULT GetObjectStorage(LPOLESTR item, IBindCtx* context, REFIID iid, void** storage) override;
  HRESULT IsRunning(LPOLESTR item) override;

  // IDispatch: the ambient properties
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
  HRESULT Invoke(DISPID member, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argument_error) override;

  // IOleCommandTarget
  HRESULT QueryStatus(const GUID* group, ULONG count, OLECMD* commands, OLECMDTEXT* text) override;
  HRESULT Exec(const GUID* group, DWORD command, DWORD options, VARIANT* input, VARIANT* output) override;

  // IOleDocumentSite
  HRESULT ActivateMe(IOleDocumentView* view) override;

  // IAdviseSink
  void OnDataChange(FORMATETC* format, STGMEDIUM* medium) override;
  void OnViewChange(DWORD aspect, LONG index) override;
  void OnRename(IMoniker* moniker) override;
  void OnSave() override;
  void OnClose() override;

  // IOleControlSite
  HRESULT OnControlInfoChanged() override;
  HRESULT LockInPlaceActive(BOOL lock) override;
  HRESULT GetExtendedControl(IDispatch** control) override;
  HRESULT TransformCoords(POINTL* himetric, POINTF* container, DWORD flags) override;
  HRESULT TranslateAccelerator(LPMSG message, DWORD modifiers) override;
  HRESULT OnFocus(BOOL got_focus) override;
  HRESULT ShowPropertyFrame() override;

  // Releases and nulls every interface held (the control's and the site's own two),
  // unadvising the event connection first. The host calls it when it lets the control go,
  // before it releases its own reference.
  void release_control();

  uint32_t reference_count = 0;
  uint32_t lock_count = 0;
  IDispatch* control_dispatch = nullptr;  // a second instance, read for type information
  IOleClientSite* own_client_site = nullptr;
  IUnknown* control = nullptr;
  IOleObject* ole_object = nullptr;
  IOleInPlaceObject* in_place_object = nullptr;
  IOleInPlaceActiveObject* active_object = nullptr;
  IOleDocumentView* document_view = nullptr;
  IViewObject* view_object = nullptr;
  IAdviseSink* own_advise_sink = nullptr;
  IConnectionPoint* event_connection_point = nullptr;
  HWND control_window = nullptr;
  uint8_t user_mode = 1;  // a hosted control runs, it is not being designed
  uint32_t ole_advise_cookie = 0;
  uint32_t event_cookie = 0;
  HWND parent_window;
  ComDispatchObject* control_wrapper = nullptr;
  ComDispatchObject* event_wrapper = nullptr;
  uint32_t event_procedure;  // procedure handle run for events; 0: none
  ProgramContext* program;   // null once the program is gone: events do nothing
  uint8_t locked_in_place = 0;
  uint8_t in_place_active = 0;
  uint8_t ui_active = 0;
  uint32_t locale_id = 0;
  uint32_t fore_colour;
  uint32_t back_colour;
  uint8_t show_hatching = 1;
  uint8_t show_grab_handles = 1;
  uint8_t appearance = 1;

 private:
  // Reached through Release only: the control may still hold the site.
  virtual ~OleContainerSite();
};
