// Forms and dialogs: the two window-class families and their window procedures, the form
// and dialog built-ins, the modal loop and waitforinput.
#include "gui/forms.h"

#include <cstdint>
#include <cstring>

#include "compiler/driver/program_end.h"
#include "foundation/conversion.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/script_lock.h"
#include "foundation/value_stack.h"
#include "foundation/variables.h"
#include "gui/event_bindings.h"
#include "gui/message_pump.h"
#include "gui/script_calls.h"
#include "gui/shell_calls.h"
#include "platform/kernel/saturate.h"
#include "vm/builtin_arguments.h"
#include "vm/runtime_globals.h"

HWND modal_dialog = nullptr;
int32_t modal_result = 0;
uint32_t input_wait_ms = 0;
FormGameHooks form_game_hooks = {};

namespace {

constexpr uint32_t kNoTimeOut = 0xFFFFFFFF;
constexpr int kProgramIcon = 105;
// A dialog class is told from a form class by this cursor value.
const HCURSOR kDialogCursor = platform::pointer_from<HICON__>(1);
constexpr DWORD kDialogStyle = 0x80C00244;
constexpr int kMenuBarHeight = 26;

HWND game_window() { return form_game_hooks.game_window ? form_game_hooks.game_window() : nullptr; }

WNDCLASSW* make_class_block(const char* class_name, WNDPROC procedure, HCURSOR cursor) {
  auto* block = static_cast<WNDCLASSW*>(crt::calloc(1, sizeof(WNDCLASSW)));
  if (!block) return nullptr;
  block->style = script_window_class_style();
  block->lpfnWndProc = procedure;
  block->hInstance = runtime_instance;
  block->hIcon = LoadIconW(runtime_instance, MAKEINTRESOURCEW(kProgramIcon));
  block->hCursor = cursor;
  block->hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  block->lpszClassName = to_wide(class_name ? class_name : "");
  return block;
}

void free_class_block(WNDCLASSW* block) {
  if (!block) return;
  crt::free(const_cast<char16_t*>(block->lpszClassName));
  crt::free(block);
}

// The part of a new form or dialog shared by the built-ins: font, record, class name,
// the created message. The record takes the class block.
FormRecord* add_window_record(HWND window, WNDCLASSW* block, HWND bar, InstructionNode* handler,
                              const char* class_name, bool no_setting_change) {
  HFONT font = create_default_font(window);
  FormRecord* form = context_add_form(current_program, window, platform::address_of(block), platform::address_of(bar),
                                      platform::address_of(handler));
  if (!form) {
    DeleteObject(font);
    free_class_block(block);
    return nullptr;
  }
  form->font = font;
  form->class_name = crt::_strdup(class_name);
  form->no_setting_change = no_setting_change ? 1 : 0;
  notify_window_created(window);
  return form;
}

// The form's height gives up the menu bar's; the shell then sizes it.
void fit_form(HWND window, HWND bar) {
  RECT rect{};
  GetWindowRect(window, &rect);
  if (bar) {
    RECT bar_rect{};
    GetWindowRect(bar, &bar_rect);
    rect.bottom -= bar_rect.bottom - bar_rect.top;
  }
  MoveWindow(window, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, FALSE);
  SendMessageW(window, WM_SETTINGCHANGE, 0, 0);
}

// A form made by newform or newformex; 0 when the window could not be made.
HWND make_form(const char* caption, const char* class_name, uint32_t handler_number, DWORD ex_style, DWORD style,
               int x, int y, int width, int height, bool extended) {
  if (current_program->closing_forms) return nullptr;
  InstructionNode* handler = script_procedure_from_number(current_program, handler_number,
                                                          extended ? "newformex" : "newform");
  WNDCLASSW* block = register_form_class(class_name);
  char16_t* wide_caption = to_wide(caption);
  HWND window = CreateWindowExW(ex_style, block ? block->lpszClassName : u"", wide_caption, style, x, y, width, height,
                                nullptr, nullptr, runtime_instance, nullptr);
  crt::free(wide_caption);
  if (!window) {
    free_class_block(block);
    return nullptr;
  }
  HWND bar = create_menu_bar(window);
  show_menu_bar(bar, !extended);
  add_window_record(window, block, bar, handler, class_name, extended);
  if (!IsWindow(window)) return window;  // its created message closed it
  fit_form(window, bar);
  if (!extended) UpdateWindow(window);
  return window;
}

// The end of a form or dialog window: what goes with it goes now, so a form closed by
// the default procedure leaves no record, class block, font or bindings behind.
void release_destroyed_window(HWND window) {
  FormRecord* form = find_form_record(window);
  if (!form) return;
  release_form_extras(form);
  remove_form_record(window);
  remove_events_of_window(window);
}

// A closing modal dialog ends its loop with 2 unless a button's id already did.
void close_ends_modal_loop() {
  if (modal_result == 0) modal_result = 2;
}

bool is_input_message(UINT message) {
  if (message == WM_KEYDOWN) return true;
  if (message < WM_MOUSEFIRST || message > 521) return false;
  return message != WM_MOUSEMOVE && message != WM_LBUTTONUP && message != WM_RBUTTONUP && message != WM_MBUTTONUP;
}

// The parts of the form procedure that run before the script; true when the message is
// done with result.
bool form_message_before_script(HWND window, UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) {
  switch (message) {
    case WM_KEYDOWN:
      if (game_window() && input_wait_ms != 0) {
        input_wait_ms = 0;
        *result = 0;
        return true;
      }
      return false;
    case WM_ACTIVATE:
      if (FormRecord* form = find_form_record(window)) {
        shell_handle_activate(window, wparam, lparam, &form->activation_record);
      }
      return false;
    case WM_SHOWWINDOW:
      input_panel_down();
      return false;
    case WM_SETTINGCHANGE: {
      FormRecord* form = find_form_record(window);
      if (form && !form->no_setting_change) shell_handle_setting_change(window, wparam, lparam, &form->activation_record);
      return false;
    }
    default:
      break;
  }
  if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSCROLLBAR) {
    *result = colour_reply(window, message, wparam, lparam);
    return true;
  }
  if (message >= WM_MOUSEFIRST && message <= 521 && game_window()) {
    if (is_input_message(message) && input_wait_ms != 0) {
      input_wait_ms = 0;
      *result = 0;
      return true;
    }
    if (form_game_hooks.sprite_mouse_event) form_game_hooks.sprite_mouse_event(window, message, lparam);
  }
  return false;
}

LRESULT erase_background(HWND window, WPARAM wparam) {
  FormRecord* form = find_form_record(window);
  if (!form) return 0;
  RECT client{};
  GetClientRect(window, &client);
  auto* dc = reinterpret_cast<HDC>(wparam);
  if (form->back_colour) {
    HBRUSH brush = CreateSolidBrush(form->back_colour);
    FillRect(dc, &client, brush);
    DeleteObject(brush);
  } else {
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  }
  return 0;
}

// WM_CLOSE not handled by the script: a program's first form ends its program (or its
// modal loop); any other form is destroyed.
void close_form(HWND window) {
  ProgramContext* owner = nullptr;
  FormRecord* form = find_form_record(window, &owner);
  if (form && form->menu_bar) show_menu_bar(static_cast<HWND>(form->menu_bar), false);
  input_panel_down();
  ShowWindow(window, SW_HIDE);
  if (!form) return;
  if (form->first_form) {
    if (form->shown_modally) close_ends_modal_loop();
    else post_end_of_program(nullptr, owner);
    return;
  }
  if (form->shown_modally) close_ends_modal_loop();
  DefWindowProcW(window, WM_CLOSE, 0, 0);
}

LRESULT form_message_after_script(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_ERASEBKGND:
      return erase_background(window, wparam);
    case WM_WINDOWPOSCHANGED: {
      const auto* position = reinterpret_cast<const WINDOWPOS*>(lparam);
      if (!position || !position->hwndInsertAfter) return 0;
      char16_t text[101] = {};
      GetWindowTextW(position->hwndInsertAfter, text, 100);
      if (std::u16string_view(text) == u"Desktop") PostMessageW(window, WM_CLOSE, 0, 0);
      return 0;
    }
    case WM_CLOSE:
      close_form(window);
      return 0;
    case WM_KILLFOCUS:
      if (game_window() && form_game_hooks.focus_lost) form_game_hooks.focus_lost();
      return 0;
    case WM_SETFOCUS:
      if (game_window() && form_game_hooks.focus_gained) form_game_hooks.focus_gained();
      return 0;
    case WM_DESTROY: {
      LRESULT result = DefWindowProcW(window, message, wparam, lparam);
      release_destroyed_window(window);
      return result;
    }
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

// The script's result with the bindings' after it.
int32_t script_result(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  int32_t result = call_window_script(window, message, wparam, lparam);
  return offer_to_bindings(result, window, message, wparam, lparam);
}

// Pops a text parameter (a number becomes its text, owned by the program).
const char* pop_text_parameter() { return pop_narrow_text(); }

}  // namespace

UINT script_window_class_style() {
  UINT style = CS_VREDRAW | CS_HREDRAW;
  Variable* double_clicks = find_variable("CS_DBLCLKS%");
  if (double_clicks && double_clicks->number == 1.0) style |= CS_DBLCLKS;
  return style;
}

WNDCLASSW* register_form_class(const char* class_name) {
  WNDCLASSW* block = make_class_block(class_name, form_window_proc, nullptr);
  if (block) RegisterClassW(block);
  return block;
}

WNDCLASSW* register_dialog_class(const char* class_name) {
  WNDCLASSW* block = make_class_block(class_name, dialog_window_proc, kDialogCursor);
  if (!block) return nullptr;
  WNDCLASSW existing{};
  if (GetClassInfoW(runtime_instance, block->lpszClassName, &existing) && existing.hCursor != kDialogCursor) {
    runtime_error_format(true, "Class %s is already defined for a regular window, use another class name for dialogs",
                         class_name ? class_name : "");
  }
  RegisterClassW(block);
  return block;
}

LRESULT form_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  LRESULT early = 0;
  if (form_message_before_script(window, message, wparam, lparam, &early)) return early;
  int32_t result = script_result(window, message, wparam, lparam);
  if (result == 1) {
    LRESULT answer = form_message_after_script(window, message, wparam, lparam);
    bool direct = message != WM_ERASEBKGND && message != WM_WINDOWPOSCHANGED && message != WM_CLOSE &&
                  message != WM_KILLFOCUS && message != WM_SETFOCUS;
    if (direct) return answer;
    return 0;
  }
  // A form whose script handled its destruction still leaves nothing behind.
  if (message == WM_DESTROY) release_destroyed_window(window);
  return result != 0 ? 0 : 1;
}

LRESULT dialog_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  int32_t result = script_result(window, message, wparam, lparam);
  if (message == WM_SETTINGCHANGE) {
    FormRecord* form = find_form_record(window);
    if (form && !form->no_setting_change) shell_handle_setting_change(window, wparam, lparam, &form->activation_record);
  } else if (message == WM_ACTIVATE) {
    if (FormRecord* form = find_form_record(window)) shell_handle_activate(window, wparam, lparam, &form->activation_record);
  } else if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSCROLLBAR) {
    return colour_reply(window, message, wparam, lparam);
  } else if (message == WM_DESTROY) {
    LRESULT answer = result == 1 ? DefWindowProcW(window, message, wparam, lparam) : 0;
    release_destroyed_window(window);
    return result == 1 ? answer : result != 0 ? 0 : 1;
  }
  if (result != 1) return result != 0 ? 0 : 1;
  switch (message) {
    case WM_CLOSE:
      // A dialog is never destroyed by closing; it is hidden by its modal loop.
      if (window == modal_dialog) close_ends_modal_loop();
      return 0;
    case WM_ERASEBKGND:
      return erase_background(window, wparam);
    case WM_COMMAND: {
      int32_t id = LOWORD(static_cast<DWORD>(wparam));
      if (HIWORD(static_cast<DWORD>(wparam)) != 0 || window != modal_dialog || id >= 100) return 0;
      modal_result = id;
      // A script that handles WM_CLOSE refuses the close.
      if (SendMessageW(window, WM_CLOSE, 0, 0) != 0) modal_result = 0;
      return 0;
    }
    case WM_SETTINGCHANGE:
    case WM_ACTIVATE:
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

void release_form_extras(FormRecord* form) {
  if (form->menu_bar) DestroyWindow(static_cast<HWND>(form->menu_bar));
  form->menu_bar = nullptr;
  free_class_block(static_cast<WNDCLASSW*>(form->class_block));
  form->class_block = nullptr;
  crt::free(form->class_name);
  form->class_name = nullptr;
  forget_colour_brush(static_cast<HWND>(form->window));
}

void builtin_newform() {
  uint32_t handler = static_cast<uint32_t>(pop_integer());
  const char* class_name = pop_text_parameter();
  const char* caption = pop_text_parameter();
  HWND window = make_form(caption, class_name, handler, 0, WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                          CW_USEDEFAULT, false);
  stack_push_number(current_program, window_number(window));
}

void builtin_newformex() {
  uint32_t handler = static_cast<uint32_t>(pop_integer());
  int32_t height = pop_integer();
  int32_t width = pop_integer();
  int32_t y = pop_integer();
  int32_t x = pop_integer();
  auto style = static_cast<DWORD>(pop_integer());
  auto ex_style = static_cast<DWORD>(pop_integer());
  const char* class_name = pop_text_parameter();
  const char* caption = pop_text_parameter();
  // The menu bar's height is added without passing the largest height a window takes.
  const int32_t form_height = platform::clamp_to_int32(int64_t{height} + kMenuBarHeight);
  HWND window = make_form(caption, class_name, handler, ex_style, style, x, y, width, form_height, true);
  stack_push_number(current_program, window_number(window));
}

void builtin_newdlg() {
  int32_t height = pop_integer();
  int32_t width = pop_integer();
  uint32_t handler_number = static_cast<uint32_t>(pop_integer());
  const char* class_name = pop_text_parameter();
  const char* caption = pop_text_parameter();
  if (current_program->closing_forms) {
    stack_push_number(current_program, 0);
    return;
  }
  InstructionNode* handler = script_procedure_from_number(current_program, handler_number, "newdlg");
  WNDCLASSW* block = register_dialog_class(class_name);
  HWND owner = GetActiveWindow();
  char16_t* wide_caption = to_wide(caption);
  // The caption's height is added as newform adds the menu bar's, within 32 bits.
  const int32_t dialog_height = platform::clamp_to_int32(int64_t{height} + GetSystemMetrics(SM_CYCAPTION));
  HWND window = CreateWindowExW(WS_EX_CAPTIONOKBTN, block ? block->lpszClassName : u"", wide_caption, kDialogStyle, 0,
                                0, width, dialog_height, owner, nullptr, runtime_instance, nullptr);
  crt::free(wide_caption);
  if (window) add_window_record(window, block, nullptr, handler, class_name, false);
  else free_class_block(block);
  stack_push_number(current_program, window_number(window));
}

void builtin_centerform() {
  HWND window = window_from_number(pop_integer());
  RECT rect{};
  GetWindowRect(window, &rect);
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  int32_t usable_height = work.bottom - work.top;
  if (HWND task_bar = FindWindowW(u"HHTaskBar", nullptr)) {
    RECT bar{};
    GetWindowRect(task_bar, &bar);
    usable_height -= bar.bottom - bar.top;
  }
  int32_t x = (work.right - work.left) / 2 - (rect.right - rect.left) / 2 + work.left;
  int32_t y = usable_height / 2 - (rect.bottom - rect.top) / 2 + work.top;
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void builtin_showmodal() {
  int32_t full_screen = pop_integer();
  HWND focus = window_from_number(pop_integer());
  HWND dialog = window_from_number(pop_integer());
  // Nothing could ever end the loop of a window that does not exist.
  if (!IsWindow(dialog)) {
    stack_push_number(current_program, 0);
    return;
  }
  ProgramContext* caller = current_program;
  HWND saved_dialog = modal_dialog;
  modal_dialog = dialog;
  ReleaseCapture();
  HWND owner = GetActiveWindow();

  int32_t centre = GetSystemMetrics(SM_CYSCREEN) / 2;
  HWND input_panel = FindWindowW(u"SipWndClass", nullptr);
  if (input_panel && IsWindowVisible(input_panel)) {
    RECT panel{};
    GetWindowRect(input_panel, &panel);
    centre -= (panel.bottom - panel.top) / 2;
  }
  RECT rect{};
  GetWindowRect(dialog, &rect);
  int32_t width = rect.right - rect.left;
  int32_t height = rect.bottom - rect.top;
  if (full_screen == 0) {
    int32_t top = centre - height / 2;
    if (top < kMenuBarHeight) top = kMenuBarHeight;
    MoveWindow(dialog, GetSystemMetrics(SM_CXSCREEN) / 2 - width / 2, top, width, height, TRUE);
  } else {
    shell_full_screen(dialog, 0);
  }
  SetParent(dialog, owner);
  if (owner != dialog) EnableWindow(owner, FALSE);
  ShowWindow(dialog, SW_SHOW);
  UpdateWindow(dialog);
  SetForegroundWindow(dialog);
  if (focus) SetFocus(focus);
  if (FormRecord* form = find_form_record(dialog)) form->shown_modally = 1;
  modal_result = 0;

  MSG message{};
  for (;;) {
    BOOL got;
    {
      ScriptLockYield waiting;
      got = GetMessageW(&message, nullptr, 0, 0);
    }
    if (got <= 0) break;
    translate_and_dispatch(&message);
    if (!program_list) quit_flag = 1;
    if (quit_flag) {
      modal_result = -1;
      break;
    }
    // Its program is ending (its first form closed, killapp): it ends once this returns.
    if (exiting_program == caller || !IsWindow(dialog)) break;
    if (modal_result != 0) break;
  }

  if (FormRecord* form = find_form_record(dialog)) form->shown_modally = 0;
  if (owner != dialog) {
    EnableWindow(owner, TRUE);
    SetActiveWindow(owner);
    SetForegroundWindow(owner);
  }
  ShowWindow(dialog, SW_HIDE);
  if (owner != dialog) {
    SetActiveWindow(owner);
    SetForegroundWindow(owner);
  }
  int32_t result = modal_result;
  // An enclosing loop is still running, so its result was 0.
  modal_dialog = saved_dialog;
  modal_result = 0;
  stack_push_number(current_program, result);
}

void builtin_waitforinput() {
  auto time_out = static_cast<uint32_t>(pop_integer());
  ProgramContext* caller = current_program;
  int32_t saved_autodraw = form_game_hooks.swap_autodraw_mode ? form_game_hooks.swap_autodraw_mode(2) : 0;
  // Only the game window's keys and taps end a wait; elsewhere a wait without time-out
  // would never end.
  bool never_ends = time_out == kNoTimeOut && !game_window();
  input_wait_ms = never_ends ? 0 : time_out;
  DWORD start = GetTickCount();
  int32_t result = never_ends ? 0 : 1;
  while (input_wait_ms != 0) {
    bool took = pump_one_message() != 0;
    if (exiting_program == caller) {
      result = 0;
      break;
    }
    if (input_wait_ms == kNoTimeOut) {
      if (!took) {
        ScriptLockYield waiting;
        WaitMessage();
      }
      continue;
    }
    if (input_wait_ms == 0) break;
    if (GetTickCount() - start >= input_wait_ms) {
      result = 0;
      break;
    }
    // An empty queue waits a little, which moves a virtual clock on.
    if (!took) {
      ScriptLockYield waiting;
      Sleep(1);
    }
  }
  input_wait_ms = 0;
  if (form_game_hooks.swap_autodraw_mode) form_game_hooks.swap_autodraw_mode(saved_autodraw);
  stack_push_number(current_program, result);
  // Keys and taps that came meanwhile are dropped; other messages (the end of a program,
  // WM_QUIT, WM_CLOSE) stay queued.
  MSG message{};
  while (PeekMessageW(&message, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
  }
  while (PeekMessageW(&message, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {
  }
}

namespace {

// Stores a colour of the window's record and repaints the window; a window without a
// record is left alone.
void set_window_colour(uint32_t FormRecord::*field) {
  auto colour = static_cast<COLORREF>(pop_integer());
  HWND window = window_from_number(pop_integer());
  FormRecord* form = find_form_record(window);
  if (!form) return;
  form->*field = colour;
  // All of it: the window's screen rectangle taken as client coordinates would leave a
  // band as high as the window's top unpainted.
  InvalidateRect(window, nullptr, TRUE);
}

}  // namespace

void builtin_setbackcolor() { set_window_colour(&FormRecord::back_colour); }

void builtin_setfontcolor() { set_window_colour(&FormRecord::text_colour); }

void builtin_destroywindow() {
  HWND window = window_from_number(pop_integer());
  bool was_game_window = window && window == game_window();
  int32_t result = destroy_app_windows(window);
  if (was_game_window && form_game_hooks.game_window_destroyed) form_game_hooks.game_window_destroyed();
  stack_push_number(current_program, result);
}

void builtin_showwindow() {
  int32_t command = pop_integer();
  HWND window = window_from_number(pop_integer());
  FormRecord* form = find_form_record(window);
  if (form && command != 0) show_menu_bar(static_cast<HWND>(form->menu_bar), true);
  BOOL result = ShowWindow(window, command);
  stack_push_number(current_program, result);
  UpdateWindow(window);
}
