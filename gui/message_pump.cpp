// The main message loop, translate-and-dispatch, the pumping built-ins, the default font
// and the colour replies.
#include "gui/message_pump.h"

#include <unordered_map>

#include "foundation/program_context.h"
#include "foundation/script_lock.h"
#include "foundation/value_stack.h"
#include "vm/applications.h"

uint8_t quit_flag = 0;

namespace {

constexpr uint32_t kSystemColourIndexFlag = 0x40000000;
constexpr int kButtonFaceColour = 15;  // COLOR_BTNFACE

// One brush per window whose back colour a colour reply gave, kept until the colour
// changes or the window's record goes.
struct ColourBrush {
  COLORREF colour;
  HBRUSH brush;
};
std::unordered_map<HWND, ColourBrush> colour_brushes;

HBRUSH brush_for(HWND window, COLORREF colour) {
  auto found = colour_brushes.find(window);
  if (found != colour_brushes.end()) {
    if (found->second.colour == colour && found->second.brush) return found->second.brush;
    DeleteObject(found->second.brush);
    colour_brushes.erase(found);
  }
  HBRUSH brush = CreateSolidBrush(colour);
  if (brush) colour_brushes[window] = ColourBrush{colour, brush};
  return brush;
}

}  // namespace

void end_program_of_message(LPARAM program) {
  auto* context = platform::pointer_from<ProgramContext>(static_cast<uint32_t>(program));
  // Whether the program runs a call of this thread's is told under the lock: taken here
  // afresh, the machine's registers are this thread's again.
  ScriptLockHold script_lock_held;
  // A stale or forged message must not end (or free) anything else.
  if (program_is_loaded(context)) end_application(context);
}

void translate_and_dispatch(MSG* message) {
  bool translated = false;
  if (program_list) {
    if (FormRecord* form = find_form_record(message->hwnd)) {
      translated = TranslateAcceleratorW(message->hwnd, static_cast<HACCEL>(form->accelerators), message) != 0;
    }
  }
  if (!translated) {
    TranslateMessage(message);
    DispatchMessageW(message);
  }
  if (message->message == kEndProgramMessage) end_program_of_message(message->lParam);
}

void run_message_loop() {
  if (!program_list) {
    quit_flag = 1;
    return;
  }
  MSG message{};
  for (;;) {
    BOOL got;
    {
      ScriptLockYield waiting;
      got = GetMessageW(&message, nullptr, 0, 0);
    }
    // WM_QUIT does not end the loop: only the end of the last program does.
    if (got != 0) {
      translate_and_dispatch(&message);
      if (!program_list) quit_flag = 1;
    }
    if (quit_flag) return;
  }
}

int32_t pump_one_message() {
  MSG message{};
  if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) return 0;
  translate_and_dispatch(&message);
  return 1;
}

void post_end_of_program(HANDLE window, ProgramContext* program) {
  auto program_word = static_cast<LPARAM>(platform::address_of(program));
  // A form that has gone cannot take it: the thread does, so the program still ends.
  if (window && PostMessageW(static_cast<HWND>(window), kEndProgramMessage, 0, program_word)) return;
  PostMessageW(nullptr, kEndProgramMessage, 0, program_word);
}

HFONT create_default_font(HWND window) {
  LOGFONTW description{};
  description.lfHeight = -12;
  description.lfWeight = 0;
  description.lfCharSet = 1;  // DEFAULT_CHARSET
  const char16_t face[] = u"MS Sans Serif";
  for (size_t index = 0; index < sizeof face / sizeof face[0]; ++index) description.lfFaceName[index] = face[index];
  HFONT font = CreateFontIndirectW(&description);
  SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), 1);
  return font;
}

WindowColours find_window_colours(HWND window) {
  FormRecord* form = find_form_record(window);
  if (!form) return {0, 0};
  return {form->text_colour, form->back_colour};
}

LRESULT colour_reply(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* dc = reinterpret_cast<HDC>(wparam);
  HWND child = reinterpret_cast<HWND>(lparam);
  WindowColours colours = find_window_colours(child);
  // 0 means no colour: black cannot be chosen.
  if (colours.text) {
    SetTextColor(dc, colours.text);
    SetBkColor(dc, GetSysColor(kSystemColourIndexFlag | kButtonFaceColour));
    if (!colours.back) {
      return reinterpret_cast<LRESULT>(GetSysColorBrush(kSystemColourIndexFlag | kButtonFaceColour));
    }
  }
  if (colours.back) {
    SetBkColor(dc, colours.back);
    return reinterpret_cast<LRESULT>(brush_for(child, colours.back));
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void forget_colour_brush(HWND window) {
  auto found = colour_brushes.find(window);
  if (found == colour_brushes.end()) return;
  DeleteObject(found->second.brush);
  colour_brushes.erase(found);
}

void builtin_processmessages() {
  while (pump_one_message()) {
  }
}

void builtin_handlemessage() { pump_one_message(); }

void builtin_controltoclipboard() { stack_pop(current_program); }
