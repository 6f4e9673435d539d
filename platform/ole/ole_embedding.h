// The OLE embedding interfaces between a container and the controls it hosts (objects,
// in-place activation, views, documents, sites, advise sinks), their constants, and the
// two runtime functions a container calls on a new object.
#pragma once

#include "platform/gdi/gdi_types.h"
#include "platform/ole/ole_types.h"
#include "platform/user/accelerators.h"
#include "platform/user/messages.h"

struct HMENU__;
using HMENU = HMENU__*;

// Objects this layer only passes through.
struct IMoniker;
struct IStream;
struct IDataObject;
struct IEnumOLEVERB;
struct IEnumSTATDATA;
struct IEnumUnknown;
struct IBindCtx;
struct IStorage;
struct IEnumOleDocumentViews;
struct FORMATETC;
struct STGMEDIUM;
struct LOGPALETTE;
struct DVTARGETDEVICE;
struct OLEMENUGROUPWIDTHS;

using SIZEL = SIZE;
struct POINTL {
  LONG x;
  LONG y;
};
struct POINTF {
  float x;
  float y;
};
struct ULARGE_INTEGER {
  uint32_t LowPart;
  uint32_t HighPart;
};
using HOLEMENU = void*;
using BORDERWIDTHS = RECT;

// What GetWindowContext gives an in-place object about its frame.
struct OLEINPLACEFRAMEINFO {
  UINT cb;
  BOOL fMDIApp;
  HWND hwndFrame;
  HACCEL haccel;
  UINT cAccelEntries;
};
static_assert(sizeof(OLEINPLACEFRAMEINFO) == 20, "OLEINPLACEFRAMEINFO layout");

struct OLECMD {
  ULONG cmdID;
  DWORD cmdf;
};
struct OLECMDTEXT;

// Result codes of embedding.
constexpr HRESULT OLE_E_NOCONNECTION = static_cast<HRESULT>(0x80040004u);
constexpr HRESULT OLECMDERR_E_NOTSUPPORTED = static_cast<HRESULT>(0x80040100u);
constexpr HRESULT INPLACE_E_NOTOOLSPACE = static_cast<HRESULT>(0x800401A1u);
constexpr HRESULT MK_E_NOOBJECT = static_cast<HRESULT>(0x800401E5u);

// Verbs, aspects, close options and object status bits.
constexpr LONG OLEIVERB_PRIMARY = 0;
constexpr LONG OLEIVERB_SHOW = -1;
constexpr LONG OLEIVERB_OPEN = -2;
constexpr LONG OLEIVERB_HIDE = -3;
constexpr LONG OLEIVERB_UIACTIVATE = -4;
constexpr LONG OLEIVERB_INPLACEACTIVATE = -5;
constexpr DWORD DVASPECT_CONTENT = 1;
constexpr DWORD OLECLOSE_SAVEIFDIRTY = 0;
constexpr DWORD OLECLOSE_NOSAVE = 1;
constexpr DWORD OLEMISC_INVISIBLEATRUNTIME = 0x400;
constexpr DWORD OLEMISC_SETCLIENTSITEFIRST = 0x20000;

// Dispatch ids of the ambient properties and of the stock events.
constexpr DISPID DISPID_AMBIENT_BACKCOLOR = -701;
constexpr DISPID DISPID_AMBIENT_FORECOLOR = -704;
constexpr DISPID DISPID_AMBIENT_LOCALEID = -705;
constexpr DISPID DISPID_AMBIENT_MESSAGEREFLECT = -706;
constexpr DISPID DISPID_AMBIENT_USERMODE = -709;
constexpr DISPID DISPID_AMBIENT_SHOWGRABHANDLES = -711;
constexpr DISPID DISPID_AMBIENT_SHOWHATCHING = -712;
constexpr DISPID DISPID_AMBIENT_DISPLAYASDEFAULT = -713;
constexpr DISPID DISPID_AMBIENT_APPEARANCE = -716;
constexpr DISPID DISPID_KEYDOWN = -602;
constexpr DISPID DISPID_KEYPRESS = -603;
constexpr DISPID DISPID_KEYUP = -604;
constexpr DISPID DISPID_MOUSEDOWN = -605;
constexpr DISPID DISPID_MOUSEMOVE = -606;
constexpr DISPID DISPID_MOUSEUP = -607;

struct IOleClientSite;
struct IOleContainer;
struct IOleInPlaceSite;
struct IOleInPlaceActiveObject;
struct IOleDocumentView;

struct IOleWindow : IUnknown {
  virtual HRESULT GetWindow(HWND* window) = 0;
  virtual HRESULT ContextSensitiveHelp(BOOL enter) = 0;
};

struct IAdviseSink : IUnknown {
  virtual void OnDataChange(FORMATETC* format, STGMEDIUM* medium) = 0;
  virtual void OnViewChange(DWORD aspect, LONG index) = 0;
  virtual void OnRename(IMoniker* moniker) = 0;
  virtual void OnSave() = 0;
  virtual void OnClose() = 0;
};

struct IOleObject : IUnknown {
  virtual HRESULT SetClientSite(IOleClientSite* site) = 0;
  virtual HRESULT GetClientSite(IOleClientSite** site) = 0;
  virtual HRESULT SetHostNames(LPCOLESTR container_application, LPCOLESTR container_object) = 0;
  virtual HRESULT Close(DWORD save_option) = 0;
  virtual HRESULT SetMoniker(DWORD which, IMoniker* moniker) = 0;
  virtual HRESULT GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) = 0;
  virtual HRESULT InitFromData(IDataObject* data, BOOL creation, DWORD reserved) = 0;
  virtual HRESULT GetClipboardData(DWORD reserved, IDataObject** data) = 0;
  virtual HRESULT DoVerb(LONG verb, LPMSG message, IOleClientSite* site, LONG index, HWND parent,
                         LPCRECT position) = 0;
  virtual HRESULT EnumVerbs(IEnumOLEVERB** verbs) = 0;
  virtual HRESULT Update() = 0;
  virtual HRESULT IsUpToDate() = 0;
  virtual HRESULT GetUserClassID(CLSID* clsid) = 0;
  virtual HRESULT GetUserType(DWORD form, LPOLESTR* type) = 0;
  virtual HRESULT SetExtent(DWORD aspect, SIZEL* size) = 0;
  virtual HRESULT GetExtent(DWORD aspect, SIZEL* size) = 0;
  virtual HRESULT Advise(IAdviseSink* sink, DWORD* connection) = 0;
  virtual HRESULT Unadvise(DWORD connection) = 0;
  virtual HRESULT EnumAdvise(IEnumSTATDATA** advise) = 0;
  virtual HRESULT GetMiscStatus(DWORD aspect, DWORD* status) = 0;
  virtual HRESULT SetColorScheme(LOGPALETTE* palette) = 0;
};

struct IOleInPlaceObject : IOleWindow {
  virtual HRESULT InPlaceDeactivate() = 0;
  virtual HRESULT UIDeactivate() = 0;
  virtual HRESULT SetObjectRects(LPCRECT position, LPCRECT clip) = 0;
  virtual HRESULT ReactivateAndUndo() = 0;
};

struct IOleInPlaceUIWindow : IOleWindow {
  virtual HRESULT GetBorder(RECT* border) = 0;
  virtual HRESULT RequestBorderSpace(const BORDERWIDTHS* widths) = 0;
  virtual HRESULT SetBorderSpace(const BORDERWIDTHS* widths) = 0;
  virtual HRESULT SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR name) = 0;
};

struct IOleInPlaceActiveObject : IOleWindow {
  virtual HRESULT TranslateAccelerator(LPMSG message) = 0;
  virtual HRESULT OnFrameWindowActivate(BOOL activate) = 0;
  virtual HRESULT OnDocWindowActivate(BOOL activate) = 0;
  virtual HRESULT ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frame) = 0;
  virtual HRESULT EnableModeless(BOOL enable) = 0;
};

struct IOleInPlaceFrame : IOleInPlaceUIWindow {
  virtual HRESULT InsertMenus(HMENU menu, OLEMENUGROUPWIDTHS* widths) = 0;
  virtual HRESULT SetMenu(HMENU menu, HOLEMENU shared, HWND active_object) = 0;
  virtual HRESULT RemoveMenus(HMENU menu) = 0;
  virtual HRESULT SetStatusText(LPCOLESTR text) = 0;
  virtual HRESULT EnableModeless(BOOL enable) = 0;
  virtual HRESULT TranslateAccelerator(LPMSG message, WORD id) = 0;
};

struct IOleClientSite : IUnknown {
  virtual HRESULT SaveObject() = 0;
  virtual HRESULT GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) = 0;
  virtual HRESULT GetContainer(IOleContainer** container) = 0;
  virtual HRESULT ShowObject() = 0;
  virtual HRESULT OnShowWindow(BOOL show) = 0;
  virtual HRESULT RequestNewObjectLayout() = 0;
};

struct IOleInPlaceSite : IOleWindow {
  virtual HRESULT CanInPlaceActivate() = 0;
  virtual HRESULT OnInPlaceActivate() = 0;
  virtual HRESULT OnUIActivate() = 0;
  virtual HRESULT GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                   LPRECT clip, OLEINPLACEFRAMEINFO* info) = 0;
  virtual HRESULT Scroll(SIZE extent) = 0;
  virtual HRESULT OnUIDeactivate(BOOL undoable) = 0;
  virtual HRESULT OnInPlaceDeactivate() = 0;
  virtual HRESULT DiscardUndoState() = 0;
  virtual HRESULT DeactivateAndUndo() = 0;
  virtual HRESULT OnPosRectChange(LPCRECT position) = 0;
};

struct IOleInPlaceSiteEx : IOleInPlaceSite {
  virtual HRESULT OnInPlaceActivateEx(BOOL* no_redraw, DWORD flags) = 0;
  virtual HRESULT OnInPlaceDeactivateEx(BOOL no_redraw) = 0;
  virtual HRESULT RequestUIActivate() = 0;
};

struct IParseDisplayName : IUnknown {
  virtual HRESULT ParseDisplayName(IBindCtx* context, LPOLESTR name, ULONG* eaten, IMoniker** moniker) = 0;
};

struct IOleContainer : IParseDisplayName {
  virtual HRESULT EnumObjects(DWORD flags, IEnumUnknown** objects) = 0;
  virtual HRESULT LockContainer(BOOL lock) = 0;
};

struct IOleItemContainer : IOleContainer {
  virtual HRESULT GetObject(LPOLESTR item, DWORD speed, IBindCtx* context, REFIID iid, void** object) = 0;
  virtual HRESULT GetObjectStorage(LPOLESTR item, IBindCtx* context, REFIID iid, void** storage) = 0;
  virtual HRESULT IsRunning(LPOLESTR item) = 0;
};

struct IOleCommandTarget : IUnknown {
  virtual HRESULT QueryStatus(const GUID* group, ULONG count, OLECMD* commands, OLECMDTEXT* text) = 0;
  virtual HRESULT Exec(const GUID* group, DWORD command, DWORD options, VARIANT* input, VARIANT* output) = 0;
};

struct IOleDocument : IUnknown {
  virtual HRESULT CreateView(IOleInPlaceSite* site, IStream* stream, DWORD reserved, IOleDocumentView** view) = 0;
  virtual HRESULT GetDocMiscStatus(DWORD* status) = 0;
  virtual HRESULT EnumViews(IEnumOleDocumentViews** views, IOleDocumentView** view) = 0;
};

struct IOleDocumentView : IUnknown {
  virtual HRESULT SetInPlaceSite(IOleInPlaceSite* site) = 0;
  virtual HRESULT GetInPlaceSite(IOleInPlaceSite** site) = 0;
  virtual HRESULT GetDocument(IUnknown** document) = 0;
  virtual HRESULT SetRect(LPRECT view) = 0;
  virtual HRESULT GetRect(LPRECT view) = 0;
  virtual HRESULT SetRectComplex(LPRECT view, LPRECT horizontal, LPRECT vertical, LPRECT box) = 0;
  virtual HRESULT Show(BOOL show) = 0;
  virtual HRESULT UIActivate(BOOL activate) = 0;
  virtual HRESULT Open() = 0;
  virtual HRESULT CloseView(DWORD reserved) = 0;
  virtual HRESULT SaveViewState(IStream* stream) = 0;
  virtual HRESULT ApplyViewState(IStream* stream) = 0;
  virtual HRESULT Clone(IOleInPlaceSite* site, IOleDocumentView** view) = 0;
};

struct IOleDocumentSite : IUnknown {
  virtual HRESULT ActivateMe(IOleDocumentView* view) = 0;
};

struct IOleControlSite : IUnknown {
  virtual HRESULT OnControlInfoChanged() = 0;
  virtual HRESULT LockInPlaceActive(BOOL lock) = 0;
  virtual HRESULT GetExtendedControl(IDispatch** control) = 0;
  virtual HRESULT TransformCoords(POINTL* himetric, POINTF* container, DWORD flags) = 0;
  virtual HRESULT TranslateAccelerator(LPMSG message, DWORD modifiers) = 0;
  virtual HRESULT OnFocus(BOOL got_focus) = 0;
  virtual HRESULT ShowPropertyFrame() = 0;
};

struct IViewObject : IUnknown {
  virtual HRESULT Draw(DWORD aspect, LONG index, void* aspect_info, DVTARGETDEVICE* device, HDC target_info,
                       HDC dc, LPCRECT bounds, LPCRECT window_bounds, BOOL (*should_continue)(ULONG_PTR),
                       ULONG_PTR argument) = 0;
  virtual HRESULT GetColorSet(DWORD aspect, LONG index, void* aspect_info, DVTARGETDEVICE* device,
                              HDC target_info, LOGPALETTE** colours) = 0;
  virtual HRESULT Freeze(DWORD aspect, LONG index, void* aspect_info, DWORD* freeze) = 0;
  virtual HRESULT Unfreeze(DWORD freeze) = 0;
  virtual HRESULT SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) = 0;
  virtual HRESULT GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) = 0;
};

struct IPersistStreamInit : IUnknown {
  virtual HRESULT GetClassID(CLSID* clsid) = 0;
  virtual HRESULT IsDirty() = 0;
  virtual HRESULT Load(IStream* stream) = 0;
  virtual HRESULT Save(IStream* stream, BOOL clear_dirty) = 0;
  virtual HRESULT GetSizeMax(ULARGE_INTEGER* size) = 0;
  virtual HRESULT InitNew() = 0;
};

// What OleRun and OleSetContainedObject ask a running object.
struct IRunnableObject : IUnknown {
  virtual HRESULT GetRunningClass(CLSID* clsid) = 0;
  virtual HRESULT Run(IBindCtx* context) = 0;
  virtual BOOL IsRunning() = 0;
  virtual HRESULT LockRunning(BOOL lock, BOOL last_unlock_closes) = 0;
  virtual HRESULT SetContainedObject(BOOL contained) = 0;
};

extern const IID IID_IOleObject;
extern const IID IID_IOleWindow;
extern const IID IID_IOleInPlaceObject;
extern const IID IID_IOleInPlaceActiveObject;
extern const IID IID_IOleInPlaceUIWindow;
extern const IID IID_IOleInPlaceFrame;
extern const IID IID_IOleClientSite;
extern const IID IID_IOleInPlaceSite;
extern const IID IID_IOleInPlaceSiteEx;
extern const IID IID_IParseDisplayName;
extern const IID IID_IOleContainer;
extern const IID IID_IOleItemContainer;
extern const IID IID_IOleCommandTarget;
extern const IID IID_IOleDocument;
extern const IID IID_IOleDocumentView;
extern const IID IID_IOleDocumentSite;
extern const IID IID_IOleControlSite;
extern const IID IID_IAdviseSink;
extern const IID IID_IViewObject;
extern const IID IID_IPersistStreamInit;
extern const IID IID_IRunnableObject;

// Tells an object whether it is embedded in a container (through IRunnableObject);
// S_OK for an object that does not take part, E_INVALIDARG for null.
HRESULT OleSetContainedObject(IUnknown* object, BOOL contained);
// Puts an object into the running state (IRunnableObject::Run); an object without
// IRunnableObject counts as running already. E_INVALIDARG for null.
HRESULT OleRun(IUnknown* object);
