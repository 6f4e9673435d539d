// Message boxes. On a desktop display a box is a modal window; headless, a box is written
// as one line to a log and answered from the environment, so runs are scriptable.
#pragma once

#include "platform/kernel/types.h"

struct HWND__;
using HWND = HWND__*;

// Buttons of a box (the low four bits of its type).
constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_ABORTRETRYIGNORE = 0x2;
constexpr UINT MB_YESNOCANCEL = 0x3;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_RETRYCANCEL = 0x5;
constexpr UINT MB_TYPEMASK = 0xF;
// Icons.
constexpr UINT MB_ICONHAND = 0x10;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONEXCLAMATION = 0x30;
constexpr UINT MB_ICONASTERISK = 0x40;
constexpr UINT MB_ICONSTOP = MB_ICONHAND;
constexpr UINT MB_ICONERROR = MB_ICONHAND;
constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
constexpr UINT MB_ICONMASK = 0xF0;
// Default button, modality and placement.
constexpr UINT MB_DEFBUTTON1 = 0x000;
constexpr UINT MB_DEFBUTTON2 = 0x100;
constexpr UINT MB_DEFBUTTON3 = 0x200;
constexpr UINT MB_DEFMASK = 0xF00;
constexpr UINT MB_APPLMODAL = 0x0000;
constexpr UINT MB_SYSTEMMODAL = 0x1000;
constexpr UINT MB_TASKMODAL = 0x2000;
constexpr UINT MB_SETFOREGROUND = 0x10000;
constexpr UINT MB_TOPMOST = 0x40000;

// The button that closed a box.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Shows a box and returns the button that closed it. Text and caption may be null
// (the caption is then "Error"). Safe to call from any thread. An installed handler
// answers first; else the x11 display shows a modal box window (ENTER: the default
// button, ESC or close: Cancel, or OK when alone), and headless the box is logged.
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

namespace platform {

using MessageBoxHandler = int (*)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

// Lets the windowed interface show boxes from now on; null goes back to the headless form.
void set_message_box_handler(MessageBoxHandler handler);

// The headless form: appends "caption<TAB>text" (UTF-8, line breaks of the text written
// as the two characters "\n") as one line to the file named by ZRK_MSGBOX_LOG, or to
// standard error, where a terminal gets the line breaks as they are; and answers with
// the button named by ZRK_MSGBOX_ANSWER ("OK", "CANCEL", "ABORT", "RETRY", "IGNORE",
// "YES", "NO" in any case, or its number). An answer that is unset, unknown or not on
// the box gives the box's first button.
int headless_message_box(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

}  // namespace platform
