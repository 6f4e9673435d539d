// The window manager: window classes, windows with their styles, rectangles, parents
// and owners, visibility, z-order, window data and subclassing, text, and the system's
// own windows (the desktop, the task bar "HHTaskBar" and the input panel "SipWndClass").
// Window handles are never reused in a run; a handle that names no window gives 0/FALSE.
#pragma once

#include "platform/gdi/gdi_types.h"
#include "platform/kernel/types.h"
#include "platform/user/messages.h"

struct HMENU__;
using HMENU = HMENU__*;
struct HICON__;
using HICON = HICON__*;
using HCURSOR = HICON;

// Class styles.
constexpr UINT CS_VREDRAW = 0x1;
constexpr UINT CS_HREDRAW = 0x2;
constexpr UINT CS_DBLCLKS = 0x8;
constexpr UINT CS_PARENTDC = 0x80;
constexpr UINT CS_NOCLOSE = 0x200;

// The 40-byte class record of RegisterClassW.
struct WNDCLASSW {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;  // a brush, or a system colour index + 1
  LPCWSTR lpszMenuName;
  LPCWSTR lpszClassName;
};
static_assert(sizeof(WNDCLASSW) == 40, "WNDCLASSW layout");
using ATOM = WORD;

// Registers a class by name (case-insensitive). 0 with ERROR_CLASS_ALREADY_EXISTS when
// the name is taken (the first registration wins), or for a record without a procedure
// or name. The record is copied; the name too.
ATOM RegisterClassW(const WNDCLASSW* window_class);
// FALSE when the class is unknown (ERROR_CLASS_DOES_NOT_EXIST) or windows of it still
// live (ERROR_CLASS_HAS_WINDOWS).
BOOL UnregisterClassW(LPCWSTR class_name, HINSTANCE instance);
// Fills record with the class's registration (its name pointer is the class's own copy);
// FALSE for an unknown class. The system classes are known too.
BOOL GetClassInfoW(HINSTANCE instance, LPCWSTR class_name, WNDCLASSW* record);
// The class name of a window; the units copied (0 for an unknown window).
int GetClassNameW(HWND window, LPWSTR name, int count);

constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_CLASS_ALREADY_EXISTS = 1410;
constexpr DWORD ERROR_CLASS_DOES_NOT_EXIST = 1411;
constexpr DWORD ERROR_CLASS_HAS_WINDOWS = 1412;
constexpr DWORD ERROR_INVALID_INDEX = 1413;
constexpr DWORD ERROR_NO_SCROLLBARS = 1447;

// Window styles.
constexpr DWORD WS_OVERLAPPED = 0x00000000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_THICKFRAME = 0x00040000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_HSCROLL = 0x00100000;
constexpr DWORD WS_VSCROLL = 0x00200000;
constexpr DWORD WS_DLGFRAME = 0x00400000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_MAXIMIZE = 0x01000000;
constexpr DWORD WS_CLIPCHILDREN = 0x02000000;
constexpr DWORD WS_CLIPSIBLINGS = 0x04000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_MINIMIZE = 0x20000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_OVERLAPPEDWINDOW = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
// Extended styles.
constexpr DWORD WS_EX_DLGMODALFRAME = 0x00000001;
constexpr DWORD WS_EX_TOPMOST = 0x00000008;
constexpr DWORD WS_EX_TOOLWINDOW = 0x00000080;
constexpr DWORD WS_EX_WINDOWEDGE = 0x00000100;
constexpr DWORD WS_EX_CLIENTEDGE = 0x00000200;
constexpr DWORD WS_EX_CONTEXTHELP = 0x00000400;
constexpr DWORD WS_EX_CONTROLPARENT = 0x00010000;
constexpr DWORD WS_EX_STATICEDGE = 0x00020000;
constexpr DWORD WS_EX_OVERLAPPEDWINDOW = WS_EX_WINDOWEDGE | WS_EX_CLIENTEDGE;
constexpr DWORD WS_EX_NOANIMATION = 0x04000000;
constexpr DWORD WS_EX_ABOVESTARTUP = 0x20000000;
constexpr DWORD WS_EX_NODRAG = 0x40000000;
// The caption's OK button: pressing it sends WM_COMMAND IDOK to the window.
constexpr DWORD WS_EX_CAPTIONOKBTN = 0x80000000;

constexpr int CW_USEDEFAULT = int(0x80000000);

// What CreateWindowExW passes with WM_CREATE (lParam points at it).
struct CREATESTRUCTW {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCWSTR lpszName;
  LPCWSTR lpszClass;
  DWORD dwExStyle;
};

// Creates a window of a registered class. A WS_CHILD window's parent is parent and menu
// is its id; any other window is top-level and parent becomes its owner. CW_USEDEFAULT
// for x or width gives a top-level window the work area (the screen below the task bar).
// The procedure receives WM_CREATE (a result of -1 destroys the window and gives null),
// then WM_SIZE and WM_MOVE; WS_VISIBLE shows it (WM_SHOWWINDOW). Null, with an error, for
// an unknown class or parent.
HWND CreateWindowExW(DWORD ex_style, LPCWSTR class_name, LPCWSTR window_name, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID parameter);
// Destroys a window, its children and the windows it owns: hides it, sends WM_DESTROY
// (parents before children), kills its timers and drops its queued messages. FALSE for
// an unknown window.
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);

// Show commands.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOWNOACTIVATE = 4;
constexpr int SW_SHOW = 5;
constexpr int SW_MINIMIZE = 6;
constexpr int SW_SHOWNA = 8;
constexpr int SW_RESTORE = 9;
constexpr int SW_SHOWMAXIMIZED = 3;
constexpr int SW_MAXIMIZE = 3;
// Shows or hides a window; TRUE when it was visible before. Showing a top-level window
// (not SW_SHOWNA/SW_SHOWNOACTIVATE) activates it.
BOOL ShowWindow(HWND window, int command);
// Whether the window and all its parents are visible.
BOOL IsWindowVisible(HWND window);
// Enables or disables input to a window; TRUE when it was disabled before.
BOOL EnableWindow(HWND window, BOOL enable);
BOOL IsWindowEnabled(HWND window);

// Rectangles: the window's in screen coordinates; its client area's from (0,0).
BOOL GetWindowRect(HWND window, LPRECT rect);
BOOL GetClientRect(HWND window, LPRECT rect);
// The window rectangle a client rectangle needs with these styles (caption, borders).
BOOL AdjustWindowRectEx(LPRECT rect, DWORD style, BOOL menu, DWORD ex_style);
BOOL ClientToScreen(HWND window, LPPOINT point);
BOOL ScreenToClient(HWND window, LPPOINT point);
// Converts points between the client coordinates of two windows (null: the screen).
int MapWindowPoints(HWND from, HWND to, LPPOINT points, UINT count);
// Moves and sizes a window (a child's position is in its parent's client coordinates),
// sending WM_WINDOWPOSCHANGED, WM_MOVE and WM_SIZE; repaint invalidates it.
BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);

// SetWindowPos insert-after values and flags.
inline const HWND HWND_TOP = nullptr;
inline const HWND HWND_BOTTOM = reinterpret_cast<HWND>(1);
inline const HWND HWND_TOPMOST = reinterpret_cast<HWND>(-1);
inline const HWND HWND_NOTOPMOST = reinterpret_cast<HWND>(-2);
constexpr UINT SWP_NOSIZE = 0x1;
constexpr UINT SWP_NOMOVE = 0x2;
constexpr UINT SWP_NOZORDER = 0x4;
constexpr UINT SWP_NOREDRAW = 0x8;
constexpr UINT SWP_NOACTIVATE = 0x10;
constexpr UINT SWP_FRAMECHANGED = 0x20;
constexpr UINT SWP_SHOWWINDOW = 0x40;
constexpr UINT SWP_HIDEWINDOW = 0x80;
constexpr UINT SWP_NOOWNERZORDER = 0x200;
// The record of WM_WINDOWPOSCHANGING/WM_WINDOWPOSCHANGED (lParam points at it).
struct WINDOWPOS {
  HWND hwnd;
  HWND hwndInsertAfter;
  int x;
  int y;
  int cx;
  int cy;
  UINT flags;
};
BOOL SetWindowPos(HWND window, HWND insert_after, int x, int y, int width, int height, UINT flags);
BOOL BringWindowToTop(HWND window);

// Relations.
// The parent of a child window, the owner of a top-level window (null when none).
HWND GetParent(HWND window);
// Makes window a child of parent (null: top-level); gives the old parent.
HWND SetParent(HWND window, HWND parent);
constexpr UINT GW_HWNDFIRST = 0;
constexpr UINT GW_HWNDLAST = 1;
constexpr UINT GW_HWNDNEXT = 2;
constexpr UINT GW_HWNDPREV = 3;
constexpr UINT GW_OWNER = 4;
constexpr UINT GW_CHILD = 5;
// Siblings in z-order (topmost first), the owner, the first child.
HWND GetWindow(HWND window, UINT relation);
BOOL IsChild(HWND parent, HWND window);
// The child of a dialog with the id, and a control's id.
HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND window);
// The desktop window, which every top-level window lies on.
HWND GetDesktopWindow();
// The first top-level window of the class and title (either may be null: any).
HWND FindWindowW(LPCWSTR class_name, LPCWSTR window_name);
// The topmost visible, enabled window (a child when one is there) under a screen point.
HWND WindowFromPoint(POINT point);
HWND ChildWindowFromPoint(HWND parent, POINT point);
// The id of the thread that created the window (and, when process is given, 1).
DWORD GetWindowThreadProcessId(HWND window, LPDWORD process);

// Window data (GetWindowLongW/SetWindowLongW indexes). SetWindowLongW gives the old value.
constexpr int GWL_WNDPROC = -4;
constexpr int GWL_HINSTANCE = -6;
constexpr int GWL_HWNDPARENT = -8;
constexpr int GWL_STYLE = -16;
constexpr int GWL_EXSTYLE = -20;
constexpr int GWL_USERDATA = -21;
constexpr int GWL_ID = -12;
constexpr int DWL_MSGRESULT = 0;
// Indexes 0, 4, ... address the class's cbWndExtra bytes. 0 with ERROR_INVALID_INDEX
// for an index out of range, 0 for an unknown window. Setting GWL_WNDPROC subclasses
// the window: messages go to the new procedure, which passes them on with
// CallWindowProcW(old procedure, ...).
LONG GetWindowLongW(HWND window, int index);
LONG SetWindowLongW(HWND window, int index, LONG value);

// Window text (WM_SETTEXT/WM_GETTEXT go through these for the default procedure).
BOOL SetWindowTextW(HWND window, LPCWSTR text);
// Copies at most count - 1 units and a terminator; gives the units copied.
int GetWindowTextW(HWND window, LPWSTR text, int count);
int GetWindowTextLengthW(HWND window);

// The default window procedure: WM_CLOSE destroys the window, WM_ERASEBKGND fills the
// client area with the class brush, WM_PAINT validates, WM_SETTEXT/WM_GETTEXT/
// WM_GETTEXTLENGTH work on the window text, WM_SETFONT/WM_GETFONT keep a font, the
// WM_CTLCOLOR* messages give the window colour's brush, anything else gives 0.
LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Enumeration of a window's children (all descendants), until the callback gives FALSE.
using WNDENUMPROC = BOOL (*)(HWND window, LPARAM parameter);
BOOL EnumChildWindows(HWND parent, WNDENUMPROC callback, LPARAM parameter);

namespace platform {
// Windows alive now (for tests), and the id the next created window gets.
size_t live_window_count();
// Destroys every window (teardown and tests); the window handles stay unused.
void destroy_all_windows();
}  // namespace platform
