// The COM event sink: a control's events become calls of the control's script
// procedure, stock mouse and key events in window-message form.
#include "library/com/com_event_sink.h"

#include "foundation/conversion.h"
#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_stack.h"
#include "library/com/ole_container_site.h"
#include "library/com/reference_count.h"
#include "library/com/variant_conversion.h"
#include "platform/kernel/memory.h"
#include "platform/user/messages.h"
#include "vm/applications.h"
#include "vm/machine.h"
#include "vm/procedure_call.h"

namespace {

// Event procedures running now, nested ones counted too.
int32_t running_events = 0;

// An argument as an integer, read through a reference when it is one. False for a type
// that holds no number or a null reference.
bool argument_integer(const VARIANT& value, int32_t* out) {
  if (value.vt & VT_BYREF) {
    if (!value.byref) return false;
    switch (value.vt & VT_TYPEMASK) {
      case VT_I1: case VT_UI1: *out = *value.pbVal; return true;
      case VT_I2: case VT_UI2: case VT_BOOL: *out = *value.piVal; return true;
      case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_ERROR: *out = *value.plVal; return true;
      case VT_R4: *out = truncate_to_int(*value.pfltVal); return true;
      case VT_R8: *out = truncate_to_int(*value.pdblVal); return true;
      case VT_VARIANT: return !(value.pvarVal->vt & VT_BYREF) && argument_integer(*value.pvarVal, out);
      default: return false;
    }
  }
  switch (value.vt) {
    case VT_I1: case VT_UI1: *out = value.bVal; return true;
    case VT_I2: case VT_UI2: case VT_BOOL: *out = value.iVal; return true;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_ERROR: *out = value.lVal; return true;
    case VT_R4: *out = truncate_to_int(value.fltVal); return true;
    case VT_R8: *out = truncate_to_int(value.dblVal); return true;
    default: return false;
  }
}

// The message of a mouse button going down or up; 0 for a button that is none of the
// three (the procedure still gets its five values).
int32_t button_message(int32_t button, bool down) {
  switch (button) {
    case 1: return static_cast<int32_t>(down ? WM_LBUTTONDOWN : WM_LBUTTONUP);
    case 2: return static_cast<int32_t>(down ? WM_RBUTTONDOWN : WM_RBUTTONUP);
    case 4: return static_cast<int32_t>(down ? WM_MBUTTONDOWN : WM_MBUTTONUP);
    default: return 0;
  }
}

// Stock mouse events: (button, shift, x, y), delivered last first.
bool translate_mouse(DISPID member, const DISPPARAMS* params, EventCall* call) {
  int32_t button = 0, shift = 0, x = 0, y = 0;
  const VARIANT* arguments = params->rgvarg;
  if (params->cArgs < 4 || !arguments || !argument_integer(arguments[3], &button) ||
      !argument_integer(arguments[2], &shift) || !argument_integer(arguments[1], &x) ||
      !argument_integer(arguments[0], &y)) {
    return false;
  }
  button = static_cast<int16_t>(button);
  if (member == DISPID_MOUSEMOVE) call->event = static_cast<int32_t>(WM_MOUSEMOVE);
  else call->event = button_message(button, member == DISPID_MOUSEDOWN);
  call->first = static_cast<int16_t>(shift);
  uint32_t position = (static_cast<uint32_t>(y) << 16) | (static_cast<uint32_t>(x) & 0xFFFFu);
  call->second = static_cast<int32_t>(position);
  return true;
}

// Stock key events: (key code by reference, shift), delivered last first.
bool translate_key(DISPID member, const DISPPARAMS* params, EventCall* call) {
  int32_t key = 0, shift = 0;
  const VARIANT* arguments = params->rgvarg;
  if (params->cArgs < 2 || !arguments || !argument_integer(arguments[1], &key) ||
      !argument_integer(arguments[0], &shift)) {
    return false;
  }
  call->event = static_cast<int32_t>(member == DISPID_KEYDOWN ? WM_KEYDOWN : WM_KEYUP);
  call->first = key & 0xFF;
  call->second = static_cast<int16_t>(shift);
  return true;
}

}  // namespace

void translate_event(const OleContainerSite* site, DISPID member, const DISPPARAMS* params, EventCall* call,
                     double** arguments) {
  *call = {platform::address_of(site->control_window), member, 0, 0, platform::address_of(site)};
  *arguments = nullptr;
  static const DISPPARAMS kNone = {nullptr, nullptr, 0, 0};
  if (!params) params = &kNone;
  switch (member) {
    case DISPID_MOUSEDOWN: case DISPID_MOUSEMOVE: case DISPID_MOUSEUP:
      if (translate_mouse(member, params, call)) return;
      break;
    case DISPID_KEYDOWN: case DISPID_KEYUP:
      if (translate_key(member, params, call)) return;
      break;
    default: break;
  }
  call->event = member;
  if (params->cArgs == 0 || !params->rgvarg) return;
  auto* block = static_cast<double*>(crt::malloc(params->cArgs * sizeof(double)));
  if (!block) return;
  for (UINT i = 0; i < params->cArgs; ++i) block[i] = variant_to_script_value(&params->rgvarg[i]);
  *arguments = block;
  call->second = params->cArgs;
}

bool event_procedure_running() { return running_events > 0; }

ComEventSink::ComEventSink(OleContainerSite* owner, const IID& interface_id)
    : site(owner), event_interface(interface_id) {}

HRESULT ComEventSink::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_FAIL;
  if (iid == IID_IUnknown || iid == IID_IDispatch || (answers_event_interface && iid == event_interface)) {
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG ComEventSink::AddRef() { return add_reference(&reference_count); }

ULONG ComEventSink::Release() {
  bool last = false;
  ULONG left = drop_reference(&reference_count, &last);
  if (last) delete this;
  return left;
}

HRESULT ComEventSink::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }

HRESULT ComEventSink::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

HRESULT ComEventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

HRESULT ComEventSink::Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                             UINT*) {
  if (flags & (DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) return E_NOTIMPL;
  ProgramContext* program = site ? site->program : nullptr;
  if (!program || !site->event_procedure) return S_OK;
  EventCall call{};
  double* arguments = nullptr;
  translate_event(site, member, params, &call, &arguments);

  const HeldStackTop before = stack_hold_top(program);
  stack_push_number(program, call.window);
  stack_push_number(program, call.event);
  // The argument block goes by its address: a text cell would be copied as text by
  // the parameter and lose the doubles at their first zero byte. It lives for the call.
  stack_push_number(program, arguments ? platform::address_of(arguments) : call.first);
  stack_push_number(program, call.second);
  stack_push_number(program, call.site);

  call_program = program;
  call_procedure = platform::pointer_from<InstructionNode>(site->event_procedure);
  ++running_events;
  vm_call_procedure();
  --running_events;

  int32_t result = 0;
  // The event may have ended its program (freeapp): its stack went with it.
  if (!program_is_loaded(program)) {
    crt::free(arguments);
    return S_OK;
  }
  // A procedure that returned nothing leaves the stack as it found it (or freed).
  if (program->stack_top && stack_top_moved(program, before)) {
    const ValueCell* cell = program->stack_top;
    result = cell->text && !(cell->flags & (kCellWideText | kCellList))
                 ? truncate_to_int(text_to_number(static_cast<const char*>(cell->text)))
                 : truncate_to_int(cell->number);
    stack_return_to(program, before);
  }
  if (program->call_depth == 0) context_release_depth(program, kReturnedToNativeDepth);
  crt::free(arguments);
  return static_cast<HRESULT>(result);
}
