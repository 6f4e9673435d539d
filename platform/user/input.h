// Input state: the keyboard focus, the active and foreground windows, mouse capture,
// key states and the virtual key codes of the device's keys.
#pragma once

#include "platform/user/window_manager.h"

// Focus: the window that receives key messages (WM_KILLFOCUS to the old one, WM_SETFOCUS
// to the new one). SetFocus gives the previous focus; null for an unknown window or one
// of another thread.
HWND SetFocus(HWND window);
HWND GetFocus();
// The active top-level window of the calling thread (WM_ACTIVATE to both), and the
// foreground window of the device.
HWND SetActiveWindow(HWND window);
HWND GetActiveWindow();
BOOL SetForegroundWindow(HWND window);
HWND GetForegroundWindow();
// Mouse capture: every stylus message goes to the capturing window.
HWND SetCapture(HWND window);
BOOL ReleaseCapture();
HWND GetCapture();

// Key states: the high bit set (a negative SHORT) while the key is down; GetKeyState's
// low bit toggles with each press.
SHORT GetKeyState(int key);
SHORT GetAsyncKeyState(int key);
// The device's input: a key press sends WM_KEYDOWN and WM_KEYUP to the focus.
constexpr DWORD KEYEVENTF_KEYUP = 0x2;
void keybd_event(BYTE key, BYTE scan, DWORD flags, DWORD extra);

// The cursor position in screen coordinates (the last stylus point).
BOOL GetCursorPos(LPPOINT point);

// Virtual keys.
constexpr int VK_LBUTTON = 0x01;
constexpr int VK_RBUTTON = 0x02;
constexpr int VK_CANCEL = 0x03;
constexpr int VK_BACK = 0x08;
constexpr int VK_TAB = 0x09;
constexpr int VK_CLEAR = 0x0C;
constexpr int VK_RETURN = 0x0D;
constexpr int VK_SHIFT = 0x10;
constexpr int VK_CONTROL = 0x11;
constexpr int VK_MENU = 0x12;
constexpr int VK_PAUSE = 0x13;
constexpr int VK_CAPITAL = 0x14;
constexpr int VK_ESCAPE = 0x1B;
constexpr int VK_SPACE = 0x20;
constexpr int VK_PRIOR = 0x21;
constexpr int VK_NEXT = 0x22;
constexpr int VK_END = 0x23;
constexpr int VK_HOME = 0x24;
constexpr int VK_LEFT = 0x25;
constexpr int VK_UP = 0x26;
constexpr int VK_RIGHT = 0x27;
constexpr int VK_DOWN = 0x28;
constexpr int VK_INSERT = 0x2D;
constexpr int VK_DELETE = 0x2E;
constexpr int VK_LWIN = 0x5B;
constexpr int VK_F1 = 0x70;
constexpr int VK_F2 = 0x71;
constexpr int VK_F3 = 0x72;
constexpr int VK_F4 = 0x73;
constexpr int VK_F5 = 0x74;
constexpr int VK_F6 = 0x75;
constexpr int VK_F7 = 0x76;
constexpr int VK_F8 = 0x77;
constexpr int VK_F9 = 0x78;
constexpr int VK_F10 = 0x79;
constexpr int VK_F11 = 0x7A;
constexpr int VK_F12 = 0x7B;
// The handheld's hardware keys: the application buttons and the direction pad's action.
constexpr int VK_APP1 = 0xC1;
constexpr int VK_APP2 = 0xC2;
constexpr int VK_APP3 = 0xC3;
constexpr int VK_APP4 = 0xC4;
constexpr int VK_APP5 = 0xC5;
constexpr int VK_APP6 = 0xC6;
constexpr int VK_TSOFT1 = VK_F1;  // left soft key
constexpr int VK_TSOFT2 = VK_F2;  // right soft key
constexpr int VK_TTALK = VK_F3;
constexpr int VK_TEND = VK_F4;
constexpr int VK_THOME = VK_LWIN;
constexpr int VK_TACTION = VK_RETURN;
constexpr int VK_TUP = VK_UP;
constexpr int VK_TDOWN = VK_DOWN;
constexpr int VK_TLEFT = VK_LEFT;
constexpr int VK_TRIGHT = VK_RIGHT;
