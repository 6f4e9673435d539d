// Accelerator tables.
#include "platform/user/accelerators.h"

#include <mutex>
#include <unordered_set>
#include <vector>

#include "platform/user/input.h"
#include "platform/user/window_state.h"

struct HACCEL__ {
  std::vector<ACCEL> entries;
};

namespace {

std::unordered_set<HACCEL>& live_tables() {
  static auto* tables = new std::unordered_set<HACCEL>;
  return *tables;
}

bool down(int key) { return GetKeyState(key) < 0; }

WORD fold_case(WORD character) { return character >= 'a' && character <= 'z' ? WORD(character - 32) : character; }

// A character entry alone matches exactly that character (the character carries SHIFT).
// One with FCONTROL or FALT is a key combination: the letter typed in either case, or the
// control character it makes, while exactly the entry's CONTROL, ALT and SHIFT are down.
bool character_matches(const ACCEL& entry, WORD character) {
  if (!(entry.fVirt & (FCONTROL | FALT))) return entry.key == character;
  if (bool(entry.fVirt & FSHIFT) != down(0x10) || bool(entry.fVirt & FCONTROL) != down(0x11) ||
      bool(entry.fVirt & FALT) != down(0x12)) {
    return false;
  }
  WORD key = fold_case(entry.key);
  if (fold_case(character) == key) return true;
  return (entry.fVirt & FCONTROL) && key >= '@' && key <= '_' && character == WORD(key - '@');
}

}  // namespace

HACCEL CreateAcceleratorTableW(const ACCEL* entries, int count) {
  if (!entries || count <= 0 || count > 32767) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* table = new HACCEL__{std::vector<ACCEL>(entries, entries + count)};
  std::lock_guard hold(platform::user::window_lock());
  live_tables().insert(table);
  return table;
}

BOOL DestroyAcceleratorTable(HACCEL table) {
  std::lock_guard hold(platform::user::window_lock());
  if (!live_tables().erase(table)) return FALSE;
  delete table;
  return TRUE;
}

int TranslateAcceleratorW(HWND window, HACCEL table, LPMSG msg) {
  if (!msg || !window) return 0;
  bool key_down = msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN;
  bool character = msg->message == WM_CHAR || msg->message == WM_SYSCHAR;
  if (!key_down && !character) return 0;
  WORD command = 0;
  bool found = false;
  {
    std::lock_guard hold(platform::user::window_lock());
    if (!live_tables().count(table)) return 0;
    for (const ACCEL& entry : table->entries) {
      if (entry.fVirt & FVIRTKEY) {
        if (!key_down || entry.key != WORD(msg->wParam)) continue;
        if (bool(entry.fVirt & FSHIFT) != down(0x10) || bool(entry.fVirt & FCONTROL) != down(0x11) ||
            bool(entry.fVirt & FALT) != down(0x12)) {
          continue;
        }
      } else if (!character || !character_matches(entry, WORD(msg->wParam))) {
        continue;
      }
      command = entry.cmd;
      found = true;
      break;
    }
  }
  if (!found) return 0;
  SendMessageW(window, WM_COMMAND, MAKEWPARAM(command, 1), 0);
  return 1;
}

BOOL IsDialogMessageW(HWND dialog, LPMSG msg) {
  if (!msg || !IsWindow(dialog)) return FALSE;
  if (msg->hwnd != dialog && !IsChild(dialog, msg->hwnd)) return FALSE;
  if (msg->message == WM_KEYDOWN) {
    switch (msg->wParam) {
      case 0x0D: PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(1, 0), 0); return TRUE;   // ENTER: IDOK
      case 0x1B: PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(2, 0), 0); return TRUE;   // ESC: IDCANCEL
      case 0x09: {  // TAB: the next (SHIFT: the previous) child that takes tab stops
        std::vector<HWND> stops;
        for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
          LONG style = GetWindowLongW(child, GWL_STYLE);
          if ((style & LONG(WS_TABSTOP)) && (style & LONG(WS_VISIBLE)) && !(style & LONG(WS_DISABLED))) {
            stops.push_back(child);
          }
        }
        if (stops.empty()) return TRUE;
        HWND focus = GetFocus();
        size_t at = 0;
        while (at < stops.size() && stops[at] != focus) ++at;
        bool back = GetKeyState(0x10) < 0;
        size_t next = at >= stops.size() ? 0 : (back ? (at + stops.size() - 1) : (at + 1)) % stops.size();
        SetFocus(stops[next]);
        return TRUE;
      }
      default: break;
    }
  }
  TranslateMessage(msg);
  DispatchMessageW(msg);
  return TRUE;
}
