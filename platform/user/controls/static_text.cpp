// The STATIC class: a text drawn left, centred or right, broken at word ends.
#include "platform/user/controls/control_kit.h"

namespace platform::user::controls {

LRESULT static_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT: {
      ControlPaint paint(window, WM_CTLCOLORSTATIC);
      if (!paint.dc) return 0;
      std::u16string text = text_of(window);
      DWORD kind = style_kind(window);
      UINT format = DT_WORDBREAK | DT_NOPREFIX | (kind == SS_CENTER ? DT_CENTER : kind == SS_RIGHT ? DT_RIGHT : DT_LEFT);
      DrawTextW(paint.dc, text.c_str(), int(text.size()), &paint.client, format);
      return 0;
    }
    default: return answer_common_message(window, message, wparam, lparam);
  }
}

}  // namespace platform::user::controls
