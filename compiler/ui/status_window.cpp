// The compile status window: the progress step, the repaint decisions, the painting of
// the phase text and the bar, and the loader program's UPDATE calls.
#include "compiler/ui/status_window.h"

#include <cstring>

#include "compiler/driver/compile_and_run.h"
#include "compiler/driver/program_end.h"
#include "foundation/conversion.h"
#include "foundation/machine_state.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_stack.h"
#include "vm/machine.h"
#include "vm/runtime_globals.h"

ProgramContext* loader_program = nullptr;
StatusWindowServices status_window_services = {};

namespace {

constexpr char16_t kClassName[] = u"StatusWindowClass";
constexpr COLORREF kEmptyBarColour = 0xFF8080;   // light blue
constexpr COLORREF kFilledBarColour = 0x0080FF;  // orange
constexpr int kWidth = 150;
constexpr int kHeight = 30;

StatusDisplay display{};
WNDCLASSW* window_class = nullptr;
HFONT font = nullptr;
HBRUSH empty_bar_brush = nullptr;
HBRUSH filled_bar_brush = nullptr;
SHACTIVATEINFO activation_record{};

void replace_text(const char* text) {
  crt::free(display.text);
  display.text = text ? to_wide(text) : nullptr;
}

// Pushes a text cell holding text (not copied) on program's stack.
void push_text(ProgramContext* program, char* text) {
  ValueCell* cell = stack_push_cell(program, true);
  if (!cell) return;
  cell->number = 0;
  cell->text = text;
  cell->variable = nullptr;
  cell->data = 0;
  cell->variant_type = 0;
  cell->references = nullptr;
}

void let_one_message_through() {
  if (status_window_services.let_one_message_through) status_window_services.let_one_message_through();
}

void delete_brush(HBRUSH* brush) {
  if (*brush) DeleteObject(*brush);
  *brush = nullptr;
}

HWND create_window() {
  window_class = static_cast<WNDCLASSW*>(crt::calloc(1, sizeof(WNDCLASSW)));
  if (!window_class) return nullptr;
  window_class->style = CS_HREDRAW | CS_VREDRAW;
  window_class->lpfnWndProc = status_window_proc;
  window_class->hInstance = runtime_instance;
  window_class->hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  window_class->lpszClassName = kClassName;
  RegisterClassW(window_class);
  HWND window = CreateWindowExW(WS_EX_TOPMOST, kClassName, u"ZRK", WS_BORDER, GetSystemMetrics(SM_CXSCREEN) - 154,
                                GetSystemMetrics(SM_CYSCREEN) - 34, kWidth, kHeight, nullptr, nullptr, runtime_instance,
                                nullptr);
  if (window && status_window_services.create_default_font) font = status_window_services.create_default_font(window);
  return window;
}

void paint(HWND window) {
  RECT update{};
  GetUpdateRect(window, &update, FALSE);
  PAINTSTRUCT paint_record{};
  HDC dc = BeginPaint(window, &paint_record);
  if (display.text_changed) {
    display.text_changed = 0;
    FillRect(dc, &update, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    HGDIOBJ old_font = font ? SelectObject(dc, font) : nullptr;
    RECT text_rect{update.left + 2, update.top + 1, update.right - 2, update.top + 14};
    if (display.text) DrawTextW(dc, display.text, -1, &text_rect, 0);
    if (old_font) SelectObject(dc, old_font);
    Rectangle(dc, update.left + 4, update.top + 16, update.right - 4, update.top + 24);
    RECT bar{update.left + 5, update.top + 17, update.right - 5, update.top + 23};
    FillRect(dc, &bar, empty_bar_brush);
  } else {
    int32_t width = status_bar_fill_width(update.right - update.left + 1, display.step, display.total);
    RECT filled{update.left, update.top, update.left + width, update.bottom};
    FillRect(dc, &filled, filled_bar_brush);
  }
  EndPaint(window, &paint_record);
}

}  // namespace

const StatusDisplay& status_display() { return display; }

int32_t status_progress_step(int32_t position, int32_t total) {
  if (total == 0) return 0;
  float ratio = static_cast<float>(position) / static_cast<float>(total);
  return 1 - static_cast<int32_t>(ratio * -10.0f);
}

int32_t status_bar_fill_width(int32_t rectangle_width, int32_t step, int32_t total) {
  if (total <= 0) return 0;
  return static_cast<int32_t>(static_cast<float>(rectangle_width) * (static_cast<float>(step) * 0.1f));
}

LRESULT status_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT:
      paint(window);
      return 0;
    case WM_CREATE:
      activation_record = SHACTIVATEINFO{sizeof activation_record, nullptr, 0};
      return 0;
    case WM_ACTIVATE:
      SHHandleWMActivate(window, wparam, lparam, &activation_record, 0);
      return 0;
    case WM_SETTINGCHANGE:
      SHHandleWMSettingChange(window, wparam, lparam, &activation_record);
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

void status_window_open() {
  delete_brush(&empty_bar_brush);
  delete_brush(&filled_bar_brush);
  empty_bar_brush = CreateSolidBrush(kEmptyBarColour);
  filled_bar_brush = CreateSolidBrush(kFilledBarColour);
  display.position = 0;
  display.total = 0;
  display.step = 0;
  if (run_switches.status_window && !display.open) {
    display.window = create_window();
    display.open = display.window != nullptr;
    display.visible = 0;
    display.text_changed = 0;
    display.full_repaints = 0;
    display.bar_repaints = 0;
  }
}

void status_update(const char* text, int32_t position, int32_t total) {
  if (!run_switches.quiet_mode && display.open) {
    int32_t step = status_progress_step(position, total);
    if (run_switches.status_window && (text != nullptr || step > display.step)) {
      if (!IsWindowVisible(display.window)) ShowWindow(display.window, SW_SHOW);
      display.visible = 1;
      display.position = position;
      display.total = total;
      display.step = step;
      if (text != nullptr) {
        replace_text(text);
        display.text_changed = 1;
        ++display.full_repaints;
        InvalidateRect(display.window, nullptr, TRUE);
      } else {
        ++display.bar_repaints;
        RECT client{};
        GetClientRect(display.window, &client);
        RECT bar{client.left + 5, client.top + 17, client.right - 5, client.top + 23};
        InvalidateRect(display.window, &bar, FALSE);
      }
      let_one_message_through();
    }
  }
  if (loader_program != nullptr) {
    status_loader_update(3.0, text, position, total);
    let_one_message_through();
  }
}

void status_window_close() {
  if (display.open) {
    if (font) DeleteObject(font);
    font = nullptr;
    DestroyWindow(display.window);
    UnregisterClassW(kClassName, runtime_instance);
    crt::free(window_class);
    window_class = nullptr;
    display.window = nullptr;
    display.open = 0;
    display.visible = 0;
  }
  replace_text(nullptr);
  display.text_changed = 0;
  delete_brush(&empty_bar_brush);
  delete_brush(&filled_bar_brush);
  if (loader_program != nullptr) {
    status_loader_update(2.0, nullptr, 0, 0);
    ProgramContext* loader = loader_program;
    loader_program = nullptr;
    app_instance_end(loader);
  }
}

void status_loader_update(double kind, const char* text, int32_t position, int32_t total) {
  ProgramContext* loader = loader_program;
  if (loader == nullptr) return;
  InstructionNode* update = find_procedure(loader, "UPDATE");
  if (update == nullptr) return;
  char* copy = text ? crt::_strdup(text) : nullptr;
  ProgramContext* caller = current_program;
  stack_push_number(loader, kind);
  if (copy) push_text(loader, copy);
  else stack_push_number(loader, 0);
  stack_push_number(loader, position);
  stack_push_number(loader, total);
  current_program = loader;
  call_program = loader;
  call_procedure = update;
  vm_call_procedure();
  current_program = caller;
  crt::free(copy);
}
