// newcontrol and the control window procedure, and the built-ins that work on a window's
// record: fonts, user values, the script procedure and calling the class's own procedure.
#include "gui/controls.h"

#include <cstdint>
#include <cstring>

#include "foundation/conversion.h"
#include "foundation/program_context.h"
#include "foundation/value_stack.h"
#include "gui/event_bindings.h"
#include "gui/message_pump.h"
#include "gui/script_calls.h"
#include "platform/kernel/saturate.h"
#include "vm/builtin_arguments.h"
#include "vm/runtime_globals.h"

namespace {

WNDPROC previous_procedure(const FormRecord* form) {
  return form ? reinterpret_cast<WNDPROC>(form->previous_window_proc) : nullptr;
}

void push_window(HWND window) { stack_push_number(current_program, window_number(window)); }

// GDI handles go to scripts as windows do: signed, as a declared function returns them.
void push_gdi_handle(HGDIOBJ object) {
  stack_push_number(current_program, static_cast<int32_t>(platform::address_of(object)));
}

}  // namespace

LRESULT control_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  int32_t result = call_window_script(window, message, wparam, lparam);
  result = offer_to_bindings(result, window, message, wparam, lparam);
  FormRecord* form = find_form_record(window);
  WNDPROC previous = previous_procedure(form);
  if (message == WM_DESTROY) {
    // The class cleans up after itself and takes every later message directly.
    if (previous) SetWindowLongW(window, GWL_WNDPROC, static_cast<LONG>(platform::address_of(reinterpret_cast<void*>(previous))));
    if (form) {
      crt::free(form->class_name);
      form->class_name = nullptr;
    }
    forget_colour_brush(window);
    remove_form_record(window);
    remove_events_of_window(window);
    if (previous) CallWindowProcW(previous, window, message, wparam, lparam);
    return result != 0 ? 0 : 1;
  }
  if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSCROLLBAR) return colour_reply(window, message, wparam, lparam);
  if (result == 1) return previous ? CallWindowProcW(previous, window, message, wparam, lparam) : 0;
  return result != 0 ? 0 : 1;
}

// newcontrol(id, class$, handler, text$, style, parent, x, y, width, height) -> control.
void builtin_newcontrol() {
  int32_t height = pop_integer();
  int32_t width = pop_integer();
  int32_t y = pop_integer();
  int32_t x = pop_integer();
  HWND parent = window_from_number(pop_integer());
  auto style = static_cast<DWORD>(pop_integer());
  const WCHAR* text = cell_wide_text(stack_pop(current_program));
  auto handler_number = static_cast<uint32_t>(pop_integer());
  const char* class_name = pop_narrow_text();
  int32_t id = pop_integer();
  ProgramContext* owner = nullptr;
  if (!find_form_record(parent, &owner) || owner->closing_forms) {
    push_window(nullptr);
    return;
  }
  InstructionNode* handler = script_procedure_from_number(current_program, handler_number, "newcontrol");
  char16_t* wide_class = to_wide(class_name);
  HWND control = CreateWindowExW(0, wide_class, text, style, x, y, width, height, parent,
                                 platform::pointer_from<HMENU__>(static_cast<uint32_t>(id)), runtime_instance, nullptr);
  crt::free(wide_class);
  if (!control) {
    push_window(nullptr);
    return;
  }
  HFONT font = create_default_font(control);
  FormRecord* form = context_add_form(owner, control, 0, 0, platform::address_of(handler));
  if (!form) {
    DestroyWindow(control);
    DeleteObject(font);
    push_window(nullptr);
    return;
  }
  form->font = font;
  form->class_name = crt::_strdup(class_name);
  auto subclass = static_cast<LONG>(platform::address_of(reinterpret_cast<void*>(control_window_proc)));
  form->previous_window_proc = platform::pointer_from<void>(static_cast<uint32_t>(SetWindowLongW(control, GWL_WNDPROC, subclass)));
  notify_window_created(control);
  if (IsWindowVisible(control)) UpdateWindow(control);
  push_window(control);
}

// newfont(window, face$, size, bold, italic, underline) -> font.
void builtin_newfont() {
  int32_t underline = pop_integer();
  int32_t italic = pop_integer();
  int32_t bold = pop_integer();
  int32_t size = pop_integer();
  const WCHAR* face = cell_wide_text(stack_pop(current_program));
  HWND window = window_from_number(pop_integer());
  LOGFONTW description{};
  // The em height, negated in 64 bits: the most negative size has no 32-bit opposite.
  description.lfHeight = platform::clamp_to_int32(-int64_t{size});
  description.lfWeight = bold == 1 ? 700 : 400;
  description.lfItalic = static_cast<BYTE>(italic);
  description.lfUnderline = static_cast<BYTE>(underline);
  description.lfCharSet = DEFAULT_CHARSET;
  for (size_t at = 0; face && face[at] && at + 1 < LF_FACESIZE; ++at) description.lfFaceName[at] = face[at];
  HDC dc = GetDC(window);
  if (dc) ReleaseDC(window, dc);
  push_gdi_handle(CreateFontIndirectW(&description));
}

// setfont(window, font): the record's own default font is deleted; a font the script set
// before is the script's and stays.
void builtin_setfont() {
  auto font = static_cast<HFONT>(platform::pointer_from<void>(static_cast<uint32_t>(pop_integer())));
  HWND window = window_from_number(pop_integer());
  FormRecord* form = find_form_record(window);
  if (form && form->font != font) {
    if (form->font && !form->font_from_script) DeleteObject(static_cast<HGDIOBJ>(form->font));
    form->font = font;
    form->font_from_script = 1;
  }
  SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), 1);
}

void builtin_getfont() {
  FormRecord* form = find_form_record(window_from_number(pop_integer()));
  push_gdi_handle(form ? static_cast<HGDIOBJ>(form->font) : nullptr);
}

// setuserdata(window, value): the record keeps the number, its own copy of the text and,
// for a value passed by reference, the data word.
void builtin_setuserdata() {
  ValueCell* value = stack_pop(current_program);
  double number = value->number;
  uint32_t data = (value->flags & kCellByReference) ? value->data : 0;
  char* text = nullptr;
  if (value->text && !(value->flags & kCellList)) text = crt::_strdup(cell_narrow_text(value));
  FormRecord* form = find_form_record(window_from_number(pop_integer()));
  if (!form) {
    crt::free(text);
    return;
  }
  crt::free(form->user_text);
  form->user_number = number;
  form->user_text = text;
  form->user_data = data;
}

void builtin_getuserdata() {
  FormRecord* form = find_form_record(window_from_number(pop_integer()));
  if (!form) {
    stack_push_number(current_program, 0);
    return;
  }
  if (form->user_text) push_owned_text(crt::_strdup(form->user_text));
  else stack_push_number(current_program, 0);
  ValueCell* top = current_program->stack_top;
  top->number = form->user_number;
  top->data = form->user_data;
}

// setwndproc(window, procedure).
void builtin_setwndproc() {
  auto number = static_cast<uint32_t>(pop_integer());
  FormRecord* form = find_form_record(window_from_number(pop_integer()));
  if (!form) return;
  InstructionNode* procedure = script_procedure_from_number(current_program, number, "setwndproc");
  if (number != 0 && !procedure) return;
  form->procedure = procedure;
}

// inherited(window, message, wParam, lParam) -> 0: the class's own procedure when the
// record saved one, else the default procedure.
void builtin_inherited() {
  auto lparam = static_cast<LPARAM>(pop_integer());
  auto wparam = static_cast<WPARAM>(static_cast<uint32_t>(pop_integer()));
  auto message = static_cast<UINT>(pop_integer());
  HWND window = window_from_number(pop_integer());
  WNDPROC previous = previous_procedure(find_form_record(window));
  if (previous) CallWindowProcW(previous, window, message, wparam, lparam);
  else DefWindowProcW(window, message, wparam, lparam);
  stack_push_number(current_program, 0);
}
