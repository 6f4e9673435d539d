// The ActiveX built-ins: creating a hosted control with its site, wrappers and event
// sink, moving, drawing and freeing it, and freeing it when its parent window or its
// program ends.
#include "library/com/activex_builtins.h"

#include <unordered_map>
#include <vector>

#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_stack.h"
#include "library/com/com_event_sink.h"
#include "library/com/ole_container_site.h"
#include "library/com/variant_conversion.h"
#include "library/core/marked_arguments.h"
#include "platform/gdi/device_context.h"
#include "platform/gdi/drawing.h"
#include "platform/kernel/memory.h"
#include "platform/ole/com_runtime.h"
#include "platform/user/input.h"
#include "platform/user/window_manager.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"
#include "vm/script_threads.h"

namespace {

// One hosted control as its program owns it. The watcher is a hidden child of the
// parent window whose destruction frees the control with its window.
struct HostedControl {
  OleContainerSite* site;
  ProgramContext* program;
  HWND watcher;
  ComEventSink* sink;  // one reference, so the sink can be told the site is gone
};

// Owned by the program for its whole run, not by the call that made the control.
constexpr uint32_t kProgramLifetime = 0xFFFFFFFFu;
constexpr DWORD kCreationContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;
constexpr WCHAR kWatcherClass[] = u"ActiveXSiteWatcher";

// The live handles: a number that names none of them is refused, never followed.
std::unordered_map<const OleContainerSite*, HostedControl*> hosted_controls;
std::unordered_map<HWND, HostedControl*> watchers;
std::unordered_map<const void*, HostedControl*> records;

// Wrappers of controls freed while an event procedure ran: the built-in that made the
// control fire may still be using them. Their programs own them until the next ActiveX
// built-in destroys them (or the program ends).
struct PendingWrapper {
  ComDispatchObject* wrapper;
  ProgramContext* program;
};
std::vector<PendingWrapper> pending_wrappers;

void destroy_pending_wrappers() {
  if (event_procedure_running()) return;
  for (const PendingWrapper& pending : pending_wrappers) {
    if (pending.program) context_disown_pointer(pending.program, pending.wrapper);
    dispatch_wrapper_destroy(pending.wrapper);
  }
  pending_wrappers.clear();
}

void destroy_site_wrapper(ComDispatchObject* wrapper, ProgramContext* program) {
  forget_script_wrapper(wrapper);
  if (!event_procedure_running()) {
    dispatch_wrapper_destroy(wrapper);
    return;
  }
  if (!program || !context_own_allocation(program, wrapper, kProgramLifetime, kOwnedComObject)) program = nullptr;
  pending_wrappers.push_back({wrapper, program});
}

HostedControl* hosted_control(uint32_t handle) {
  auto found = hosted_controls.find(platform::pointer_from<OleContainerSite>(handle));
  return found == hosted_controls.end() ? nullptr : found->second;
}

OleContainerSite* pop_site() {
  destroy_pending_wrappers();
  HostedControl* control = hosted_control(pop_address());
  return control ? control->site : nullptr;
}

void clear_com_error() { com_set_error(nullptr, 0); }

void push_address(const void* pointer) { stack_push_number(current_program, platform::address_of(pointer)); }

// Lets the control go as FreeActiveX does. The program's procedure is never run again
// from here on, whatever the control calls while it closes.
void free_control(HostedControl* control, bool leave_apartment) {
  OleContainerSite* site = control->site;
  if (!site) return;
  ProgramContext* program = site->program;
  control->site = nullptr;
  hosted_controls.erase(site);
  site->program = nullptr;
  if (HWND watcher = control->watcher) {
    control->watcher = nullptr;
    watchers.erase(watcher);
    DestroyWindow(watcher);
  }
  if (control->sink) control->sink->site = nullptr;
  if (site->in_place_object) {
    site->in_place_object->InPlaceDeactivate();
    site->in_place_object->UIDeactivate();
  }
  if (site->ole_advise_cookie && site->ole_object) site->ole_object->Unadvise(site->ole_advise_cookie);
  site->ole_advise_cookie = 0;
  if (site->ole_object) {
    site->ole_object->DoVerb(OLEIVERB_HIDE, nullptr, site->own_client_site, 0, site->parent_window, nullptr);
    site->ole_object->Close(OLECLOSE_NOSAVE);
    site->ole_object->SetClientSite(nullptr);
  }
  for (ComDispatchObject** wrapper : {&site->control_wrapper, &site->event_wrapper}) {
    if (!*wrapper) continue;
    destroy_site_wrapper(*wrapper, program);
    *wrapper = nullptr;
  }
  if (ComEventSink* sink = control->sink) {
    control->sink = nullptr;
    // A control that kept the sink past Unadvise finds no site behind it.
    sink->site = nullptr;
    sink->Release();
  }
  site->release_control();
  // The host's own reference: the site goes once the control holds none either.
  site->Release();
  if (leave_apartment) CoUninitialize();
}

// Frees the control and its record, which its program no longer owns.
void end_hosted_control(HostedControl* control) {
  free_control(control, true);
  if (control->program) context_disown_pointer(control->program, control);
  records.erase(control);
  crt::free(control);
}

LRESULT watcher_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_DESTROY) {
    auto found = watchers.find(window);
    if (found != watchers.end()) end_hosted_control(found->second);
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

HWND create_watcher(HWND parent) {
  static const bool registered = [] {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = watcher_procedure;
    window_class.lpszClassName = kWatcherClass;
    return RegisterClassW(&window_class) != 0;
  }();
  if (!registered || !parent || !IsWindow(parent)) return nullptr;
  return CreateWindowExW(0, kWatcherClass, u"", WS_CHILD, 0, 0, 0, 0, parent, nullptr, nullptr, nullptr);
}

template <typename Interface>
Interface* query(IUnknown* object, const IID& iid) {
  Interface* result = nullptr;
  if (!object || FAILED(object->QueryInterface(iid, reinterpret_cast<void**>(&result)))) return nullptr;
  return result;
}

// A wrapper attached to the OLE object's automation interface, owned by the site and
// known to the COM built-ins as a live object.
ComDispatchObject* site_wrapper(OleContainerSite* site) {
  ComDispatchObject* wrapper = dispatch_wrapper_new();
  if (!wrapper) return nullptr;
  if (auto* dispatch = query<IDispatch>(site->ole_object, IID_IDispatch)) {
    dispatch_attach(wrapper, dispatch);
    dispatch->Release();
  }
  wrapper->owner_site = site;
  know_script_wrapper(wrapper);
  return wrapper;
}

// The control's event interface: its first connection point and the type information
// of the interface that point speaks, found through the control's type library. Null
// (and no connection point held) when the control has no events to offer.
ITypeInfo* find_event_interface(OleContainerSite* site, IID* event_id) {
  auto* container = query<IConnectionPointContainer>(site->ole_object, IID_IConnectionPointContainer);
  if (!container) return nullptr;
  IEnumConnectionPoints* points = nullptr;
  IConnectionPoint* point = nullptr;
  ITypeInfo* control_info = nullptr;
  ITypeLib* library = nullptr;
  ITypeInfo* event_info = nullptr;
  ULONG fetched = 0;
  if (SUCCEEDED(container->EnumConnectionPoints(&points)) && points &&
      points->Next(1, &point, &fetched) == S_OK && point && SUCCEEDED(point->GetConnectionInterface(event_id)) &&
      site->control_dispatch &&
      SUCCEEDED(site->control_dispatch->GetTypeInfo(0, LOCALE_SYSTEM_DEFAULT, &control_info)) && control_info &&
      SUCCEEDED(control_info->GetContainingTypeLib(&library, nullptr)) && library) {
    if (FAILED(library->GetTypeInfoOfGuid(*event_id, &event_info))) event_info = nullptr;
  }
  if (library) library->Release();
  if (control_info) control_info->Release();
  if (points) points->Release();
  container->Release();
  if (event_info) {
    site->event_connection_point = point;
  } else if (point) {
    point->Release();
  }
  return event_info;
}

// Creation steps after the control exists: advise, run, client site, in-place
// activation, position, wrappers and events. Failures here leave the control with less.
// The event sink connected, with a reference for the caller; null when there is none.
ComEventSink* activate_control(OleContainerSite* site, const RECT& position) {
  IOleObject* object = site->ole_object;
  if (object) {
    site->ole_advise_cookie = 0;
    DWORD cookie = 0;
    if (SUCCEEDED(object->Advise(site->own_advise_sink, &cookie))) site->ole_advise_cookie = cookie;
    object->SetHostNames(u"OLEClass", nullptr);
    OleSetContainedObject(object, TRUE);
    OleRun(object);
  }
  site->in_place_object = query<IOleInPlaceObject>(site->control, IID_IOleInPlaceObject);
  DWORD status = 0;
  if (object) object->GetMiscStatus(DVASPECT_CONTENT, &status);
  if (object && (status & OLEMISC_SETCLIENTSITEFIRST)) object->SetClientSite(site->own_client_site);
  if (auto* persist = query<IPersistStreamInit>(object, IID_IPersistStreamInit)) {
    persist->InitNew();
    persist->Release();
  }
  if (object && !(status & OLEMISC_SETCLIENTSITEFIRST)) object->SetClientSite(site->own_client_site);

  RECT area = {0, 0, 0, 0};
  GetClientRect(site->parent_window, &area);
  site->control_window = nullptr;
  if (site->in_place_object && SUCCEEDED(site->in_place_object->GetWindow(&site->control_window)) &&
      site->control_window) {
    SetActiveWindow(site->control_window);
  }
  if (object && !(status & OLEMISC_INVISIBLEATRUNTIME)) {
    if (site->in_place_object) site->in_place_object->SetObjectRects(&area, &area);
    object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site->own_client_site, 0, site->parent_window, &area);
    object->DoVerb(OLEIVERB_SHOW, nullptr, site->own_client_site, 0, site->parent_window, &area);
  }
  if (!site->control_window && site->in_place_object) site->in_place_object->GetWindow(&site->control_window);

  site_set_position(site, position.left, position.top, position.right, position.bottom);
  if (site->control_window) {
    SetActiveWindow(site->control_window);
    ShowWindow(site->control_window, SW_SHOW);
  }

  site->control_wrapper = site_wrapper(site);
  IID event_id{};
  ITypeInfo* event_info = find_event_interface(site, &event_id);
  site->event_wrapper = site_wrapper(site);
  if (site->event_wrapper && event_info) {
    // Its members become the events (the read takes the reference).
    event_info->AddRef();
    dispatch_read_type_info(site->event_wrapper, event_info);
    site->event_wrapper->owner_site = site;
  }
  if (event_info) event_info->Release();
  if (!site->event_connection_point) return nullptr;
  auto* sink = new ComEventSink(site, event_id);
  sink->AddRef();
  DWORD cookie = 0;
  if (SUCCEEDED(site->event_connection_point->Advise(sink, &cookie))) site->event_cookie = cookie;
  return sink;
}

// The site of a new control, or null when the class is unknown or cannot be created
// twice (once for the control, once more for its type information).
OleContainerSite* create_site(HWND parent, const CLSID& clsid, uint32_t procedure) {
  CoInitializeEx(nullptr, 0);
  auto* site = new OleContainerSite(parent, current_program, procedure);
  site->AddRef();  // the host's own
  site->own_client_site = query<IOleClientSite>(static_cast<IOleClientSite*>(site), IID_IOleClientSite);
  site->own_advise_sink = query<IAdviseSink>(static_cast<IOleClientSite*>(site), IID_IAdviseSink);
  HRESULT made = CoCreateInstance(clsid, nullptr, kCreationContext, IID_IUnknown,
                                  reinterpret_cast<void**>(&site->control));
  if (SUCCEEDED(made)) {
    made = CoCreateInstance(clsid, nullptr, kCreationContext, IID_IDispatch,
                            reinterpret_cast<void**>(&site->control_dispatch));
  }
  if (FAILED(made) || !site->control || !site->control_dispatch) {
    site->program = nullptr;
    site->release_control();
    site->Release();
    CoUninitialize();
    return nullptr;
  }
  site->ole_object = query<IOleObject>(site->control, IID_IOleObject);
  site->view_object = query<IViewObject>(site->control, IID_IViewObject);
  return site;
}

// The event procedure a script passed: 0 for none; anything that is no procedure of
// the program is reported and taken as none, so it is never run as code.
uint32_t event_procedure(uint32_t number) {
  if (number == 0) return 0;
  if (is_program_procedure(current_program, platform::pointer_from<InstructionNode>(number))) return number;
  runtime_error("ActiveX: the event procedure is not a procedure of this program");
  return 0;
}

}  // namespace

SIZE pixels_to_himetric(SIZE pixels) {
  static const SIZE resolution = [] {
    HDC screen = GetDC(nullptr);
    SIZE read = {GetDeviceCaps(screen, LOGPIXELSX), GetDeviceCaps(screen, LOGPIXELSY)};
    ReleaseDC(nullptr, screen);
    if (read.cx <= 0) read.cx = 96;
    if (read.cy <= 0) read.cy = 96;
    return read;
  }();
  auto convert = [](LONG value, LONG per_inch) {
    return static_cast<LONG>(static_cast<int64_t>(value) * 2540 / per_inch);
  };
  return {convert(pixels.cx, resolution.cx), convert(pixels.cy, resolution.cy)};
}

void site_set_position(OleContainerSite* site, int32_t x, int32_t y, int32_t width, int32_t height) {
  SIZE size = pixels_to_himetric({width, height});
  if (site->ole_object) {
    SIZEL current = {0, 0};
    site->ole_object->GetExtent(DVASPECT_CONTENT, &current);
    if (current.cx != size.cx || current.cy != size.cy) site->ole_object->SetExtent(DVASPECT_CONTENT, &size);
  }
  RECT rect = {x, y, width, height};
  if (site->in_place_object) site->in_place_object->SetObjectRects(&rect, &rect);
}

void builtin_ActiveX() {
  destroy_pending_wrappers();
  clear_com_error();
  uint32_t procedure = event_procedure(pop_address());
  int32_t height = pop_integer();
  int32_t width = pop_integer();
  int32_t y = pop_integer();
  int32_t x = pop_integer();
  WCHAR* progid = cell_wide_copy(stack_pop(current_program));
  HWND parent = platform::pointer_from<HWND__>(pop_address());
  CLSID clsid{};
  HRESULT found = progid ? CLSIDFromProgID(progid, &clsid) : E_OUTOFMEMORY;
  crt::free(progid);
  auto* control = static_cast<HostedControl*>(crt::calloc(1, sizeof(HostedControl)));
  OleContainerSite* site = SUCCEEDED(found) && control ? create_site(parent, clsid, procedure) : nullptr;
  if (!site) {
    crt::free(control);
    stack_push_number(current_program, 0);
    return;
  }
  *control = {site, current_program, nullptr, nullptr};
  hosted_controls[site] = control;
  records[control] = control;
  if (current_program && !context_own_allocation(current_program, control, kProgramLifetime, kOwnedComObject)) {
    control->program = nullptr;
  }
  // Made before the control's window, so it is told first when the parent goes.
  control->watcher = create_watcher(parent);
  if (control->watcher) watchers[control->watcher] = control;
  control->sink = activate_control(site, {x, y, width, height});
  push_address(site);
}

void builtin_FreeActiveX() {
  destroy_pending_wrappers();
  std::vector<ValueCell*> cells;
  if (take_marked_arguments(cells)) {
    for (ValueCell* cell : cells) {
      HostedControl* control = hosted_control(static_cast<uint32_t>(cell_to_int(cell)));
      if (control) end_hosted_control(control);
    }
  }
  clear_com_error();
}

void builtin_SetActiveXPos() {
  int32_t height = pop_integer();
  int32_t width = pop_integer();
  int32_t y = pop_integer();
  int32_t x = pop_integer();
  if (OleContainerSite* site = pop_site()) site_set_position(site, x, y, width, height);
  clear_com_error();
}

void builtin_ActiveXObject() {
  OleContainerSite* site = pop_site();
  clear_com_error();
  push_address(site ? site->control_wrapper : nullptr);
}

void builtin_ActiveXEvents() {
  OleContainerSite* site = pop_site();
  clear_com_error();
  push_address(site ? site->event_wrapper : nullptr);
}

void builtin_ActiveXWnd() {
  OleContainerSite* site = pop_site();
  clear_com_error();
  push_address(site ? site->control_window : nullptr);
}

void builtin_ActiveXDraw() {
  OleContainerSite* site = pop_site();
  if (site && site->control_window) {
    RECT area{};
    GetClientRect(site->control_window, &area);
    HDC dc = GetDC(site->control_window);
    if (dc) {
      DrawFocusRect(dc, &area);
      if (site->view_object) {
        site->view_object->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &area, nullptr, nullptr, 0);
      }
      ReleaseDC(site->control_window, dc);
    }
  }
  clear_com_error();
}

bool activex_release_owned(void* pointer) {
  // A wrapper left pending goes as every wrapper its program owns.
  std::erase_if(pending_wrappers, [pointer](const PendingWrapper& pending) { return pending.wrapper == pointer; });
  auto found = records.find(pointer);
  if (found == records.end()) return false;
  // The program is ending: its record goes with it, and the apartment is left by the
  // caller's next step.
  found->second->program = nullptr;
  free_control(found->second, false);
  return true;
}

bool activex_destroy_owned(void* pointer) {
  auto found = records.find(pointer);
  if (found == records.end()) return false;
  HostedControl* control = found->second;
  records.erase(found);
  crt::free(control);
  return true;
}

void register_activex_builtins() {
  builtin_register("ActiveX", builtin_ActiveX);
  builtin_register("FreeActiveX", builtin_FreeActiveX);
  builtin_register("SetActiveXPos", builtin_SetActiveXPos);
  builtin_register("ActiveXObject", builtin_ActiveXObject);
  builtin_register("ActiveXEvents", builtin_ActiveXEvents);
  builtin_register("ActiveXWnd", builtin_ActiveXWnd);
  builtin_register("ActiveXDraw", builtin_ActiveXDraw);
}
