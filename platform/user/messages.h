// Window messages and the message queues: one queue per thread, sent messages that run
// the target's window procedure at once, posted ones that wait in the queue, timers, and
// the paint and timer messages made when a queue is idle.
#pragma once

#include "platform/gdi/gdi_types.h"
#include "platform/kernel/types.h"

using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;
using WNDPROC = LRESULT (*)(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

constexpr WORD LOWORD(DWORD value) { return WORD(value & 0xFFFF); }
constexpr WORD HIWORD(DWORD value) { return WORD((value >> 16) & 0xFFFF); }
constexpr DWORD MAKELONG(WORD low, WORD high) { return DWORD(low) | (DWORD(high) << 16); }
constexpr WPARAM MAKEWPARAM(WORD low, WORD high) { return MAKELONG(low, high); }
constexpr LPARAM MAKELPARAM(WORD low, WORD high) { return LPARAM(MAKELONG(low, high)); }
// Signed coordinates of a mouse message's lParam.
constexpr int GET_X_LPARAM(LPARAM value) { return int(int16_t(LOWORD(DWORD(value)))); }
constexpr int GET_Y_LPARAM(LPARAM value) { return int(int16_t(HIWORD(DWORD(value)))); }

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};
using LPMSG = MSG*;

// Messages.
constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_MOVE = 0x0003;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_ACTIVATE = 0x0006;
constexpr UINT WM_SETFOCUS = 0x0007;
constexpr UINT WM_KILLFOCUS = 0x0008;
constexpr UINT WM_ENABLE = 0x000A;
constexpr UINT WM_SETREDRAW = 0x000B;
constexpr UINT WM_SETTEXT = 0x000C;
constexpr UINT WM_GETTEXT = 0x000D;
constexpr UINT WM_GETTEXTLENGTH = 0x000E;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_ERASEBKGND = 0x0014;
constexpr UINT WM_SYSCOLORCHANGE = 0x0015;
constexpr UINT WM_SHOWWINDOW = 0x0018;
constexpr UINT WM_SETTINGCHANGE = 0x001A;
constexpr UINT WM_WININICHANGE = WM_SETTINGCHANGE;
constexpr UINT WM_ACTIVATEAPP = 0x001C;
constexpr UINT WM_CANCELMODE = 0x001F;
constexpr UINT WM_SETCURSOR = 0x0020;
constexpr UINT WM_SETFONT = 0x0030;
constexpr UINT WM_GETFONT = 0x0031;
constexpr UINT WM_WINDOWPOSCHANGING = 0x0046;
constexpr UINT WM_WINDOWPOSCHANGED = 0x0047;
constexpr UINT WM_NOTIFY = 0x004E;
constexpr UINT WM_HELP = 0x0053;
constexpr UINT WM_STYLECHANGED = 0x007D;
constexpr UINT WM_GETDLGCODE = 0x0087;
constexpr UINT WM_KEYFIRST = 0x0100;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_DEADCHAR = 0x0103;
constexpr UINT WM_SYSKEYDOWN = 0x0104;
constexpr UINT WM_SYSKEYUP = 0x0105;
constexpr UINT WM_SYSCHAR = 0x0106;
constexpr UINT WM_KEYLAST = 0x0108;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_HSCROLL = 0x0114;
constexpr UINT WM_VSCROLL = 0x0115;
constexpr UINT WM_INITMENUPOPUP = 0x0117;
constexpr UINT WM_MENUSELECT = 0x011F;
constexpr UINT WM_CTLCOLORMSGBOX = 0x0132;
constexpr UINT WM_CTLCOLOREDIT = 0x0133;
constexpr UINT WM_CTLCOLORLISTBOX = 0x0134;
constexpr UINT WM_CTLCOLORBTN = 0x0135;
constexpr UINT WM_CTLCOLORDLG = 0x0136;
constexpr UINT WM_CTLCOLORSCROLLBAR = 0x0137;
constexpr UINT WM_CTLCOLORSTATIC = 0x0138;
constexpr UINT WM_MOUSEFIRST = 0x0200;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT WM_RBUTTONDBLCLK = 0x0206;
constexpr UINT WM_MBUTTONDOWN = 0x0207;
constexpr UINT WM_MBUTTONUP = 0x0208;
constexpr UINT WM_MBUTTONDBLCLK = 0x0209;
constexpr UINT WM_MOUSEWHEEL = 0x020A;
constexpr UINT WM_MOUSELAST = 0x020A;
constexpr UINT WM_CAPTURECHANGED = 0x0215;
constexpr UINT WM_HIBERNATE = 0x03FF;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;

// WM_ACTIVATE states (low word of wParam).
constexpr WORD WA_INACTIVE = 0;
constexpr WORD WA_ACTIVE = 1;
constexpr WORD WA_CLICKACTIVE = 2;
// WM_SIZE kinds.
constexpr WPARAM SIZE_RESTORED = 0;
// Mouse message key flags (wParam).
constexpr WPARAM MK_LBUTTON = 0x1;
constexpr WPARAM MK_RBUTTON = 0x2;
constexpr WPARAM MK_SHIFT = 0x4;
constexpr WPARAM MK_CONTROL = 0x8;

// The header of every WM_NOTIFY record.
struct NMHDR {
  HWND hwndFrom;
  UINT idFrom;
  UINT code;
};

// Runs window's procedure with the message at once and gives its result. A window of
// another thread has its procedure run on the calling thread as well. 0 for an unknown
// window.
LRESULT SendMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Puts a message in the queue of window's thread; a null window posts to the calling
// thread (as PostThreadMessageW). FALSE for an unknown window.
BOOL PostMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Puts a message without a window in a thread's queue (thread 0: FALSE).
BOOL PostThreadMessageW(DWORD thread_id, UINT message, WPARAM wparam, LPARAM lparam);
// Asks the calling thread's loop to end: GetMessageW gives WM_QUIT (wParam exit_code)
// once nothing else is posted.
void PostQuitMessage(int exit_code);

// Takes the next message of the calling thread's queue for window (null: any window of
// the thread and the thread's own messages) within first..last (0,0: all), waiting
// until one comes. In order: posted messages, input, WM_QUIT, WM_PAINT for a window with
// an update region, WM_TIMER for a due timer. Gives 0 for WM_QUIT, -1 for a null msg or
// an unknown window, else 1. With nothing queued, the wait lets the device's input and
// timers in (advancing the virtual clock to the next of them under ZRK_CLOCK=virtual);
// headless, when nothing can come any more, the run ends (see platform::end_run).
BOOL GetMessageW(LPMSG msg, HWND window, UINT first, UINT last);
constexpr UINT PM_NOREMOVE = 0x0;
constexpr UINT PM_REMOVE = 0x1;
constexpr UINT PM_NOYIELD = 0x2;
// As GetMessageW without waiting: FALSE when nothing is there.
BOOL PeekMessageW(LPMSG msg, HWND window, UINT first, UINT last, UINT remove);
// Waits until the calling thread's queue has something (as GetMessageW waits).
BOOL WaitMessage();
// Posts WM_CHAR for a WM_KEYDOWN of a key that types a character. TRUE when it did.
BOOL TranslateMessage(const MSG* msg);
// Runs the procedure of msg's window with it (a WM_TIMER with a callback in lParam runs
// the callback) and gives its result; 0 for a message without a window.
LRESULT DispatchMessageW(const MSG* msg);
// Dialog keyboard handling for a dialog window: TAB and the arrows move the focus, ENTER
// and ESC send IDOK and IDCANCEL. TRUE when the message was handled.
BOOL IsDialogMessageW(HWND dialog, LPMSG msg);
// The time (ms, the device clock) and screen point of the last message taken.
LONG GetMessageTime();
DWORD GetMessagePos();
// Whether the calling thread's queue holds input (key or mouse) messages.
constexpr UINT QS_KEY = 0x1;
constexpr UINT QS_MOUSEMOVE = 0x2;
constexpr UINT QS_MOUSEBUTTON = 0x4;
constexpr UINT QS_POSTMESSAGE = 0x8;
constexpr UINT QS_TIMER = 0x10;
constexpr UINT QS_PAINT = 0x20;
constexpr UINT QS_SENDMESSAGE = 0x40;
constexpr UINT QS_MOUSE = QS_MOUSEMOVE | QS_MOUSEBUTTON;
constexpr UINT QS_INPUT = QS_MOUSE | QS_KEY;
constexpr UINT QS_ALLINPUT = 0xFF;
DWORD GetQueueStatus(UINT flags);

// Timers: WM_TIMER (wParam id, lParam callback) goes to window every interval ms, or
// the callback runs when the message is dispatched. A null window gets a new id.
using TIMERPROC = void (*)(HWND window, UINT message, UINT_PTR id, DWORD time);
// Gives the id (non-zero), 0 for an unknown window. Setting an existing id restarts it.
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT interval, TIMERPROC callback);
BOOL KillTimer(HWND window, UINT_PTR id);

// Window procedures called through a saved pointer (subclassing).
LRESULT CallWindowProcW(WNDPROC procedure, HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// The default handling of every message (see window_manager.h).
LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

namespace platform {

// What happens when the device's run must end from below: a headless wait finds that
// nothing more can come (the input timeline is exhausted, no timer runs, nothing is
// posted), the display's window was closed, or the input timeline cannot be read. The
// layer writes why as one line to standard error, then calls this hook, which the
// runtime sets to end the run cleanly with exit_status; the hook must not return.
// Without a hook the process exits with exit_status.
using RunEndHandler = void (*)(const char* why, int exit_status);
void set_run_end_handler(RunEndHandler handler);
[[noreturn]] void end_run(const char* why, int exit_status);

}  // namespace platform
