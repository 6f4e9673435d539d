// The system's control classes: BUTTON (push, check box, radio button, group box), EDIT
// (single and multi-line), LISTBOX, COMBOBOX (a drop-down list) and STATIC. Each is a
// registered window class drawing through GDI; a control asks its parent for its colours
// (WM_CTLCOLOR*) before it paints and tells it what the user did through WM_COMMAND
// (MAKEWPARAM(id, notification), the control's window).
#pragma once

#include "platform/user/window_manager.h"

// Button styles (the low four bits choose the kind) and states.
constexpr DWORD BS_PUSHBUTTON = 0x0;
constexpr DWORD BS_DEFPUSHBUTTON = 0x1;
constexpr DWORD BS_CHECKBOX = 0x2;
constexpr DWORD BS_AUTOCHECKBOX = 0x3;
constexpr DWORD BS_RADIOBUTTON = 0x4;
constexpr DWORD BS_3STATE = 0x5;
constexpr DWORD BS_AUTO3STATE = 0x6;
constexpr DWORD BS_GROUPBOX = 0x7;
constexpr DWORD BS_AUTORADIOBUTTON = 0x9;
constexpr DWORD BS_TYPEMASK = 0xF;
constexpr WPARAM BST_UNCHECKED = 0;
constexpr WPARAM BST_CHECKED = 1;
constexpr WPARAM BST_INDETERMINATE = 2;
constexpr LRESULT BST_PUSHED = 4;
constexpr LRESULT BST_FOCUS = 8;
constexpr UINT BM_GETCHECK = 0x00F0;
constexpr UINT BM_SETCHECK = 0x00F1;
constexpr UINT BM_GETSTATE = 0x00F2;
constexpr UINT BM_SETSTATE = 0x00F3;
constexpr UINT BM_CLICK = 0x00F5;
constexpr WORD BN_CLICKED = 0;

// Edit styles, messages and notifications.
constexpr DWORD ES_LEFT = 0x0;
constexpr DWORD ES_CENTER = 0x1;
constexpr DWORD ES_RIGHT = 0x2;
constexpr DWORD ES_MULTILINE = 0x4;
constexpr DWORD ES_AUTOVSCROLL = 0x40;
constexpr DWORD ES_AUTOHSCROLL = 0x80;
constexpr DWORD ES_READONLY = 0x800;
// EM_GETSEL: the selection's start and end go to the DWORDs wParam and lParam point at
// (either may be null) and, packed, into the result (MAKELONG(start, end)).
constexpr UINT EM_GETSEL = 0x00B0;
// EM_SETSEL (start, end): end -1 means the end of the text; start -1 removes the
// selection. Both are clamped to the text; the caret goes to end.
constexpr UINT EM_SETSEL = 0x00B1;
// EM_LINESCROLL (0, lines): moves the first visible line of a multi-line edit.
constexpr UINT EM_LINESCROLL = 0x00B6;
constexpr UINT EM_GETLINECOUNT = 0x00BA;
// EM_LINEINDEX (line): the index of its first character; -1 the caret's line; -1 when
// the line does not exist.
constexpr UINT EM_LINEINDEX = 0x00BB;
// EM_LINELENGTH (character index): the length of the line holding that character; -1
// the unselected characters of the lines the selection touches.
constexpr UINT EM_LINELENGTH = 0x00C1;
// EM_REPLACESEL (undoable, text): the selection becomes text; the caret goes after it.
constexpr UINT EM_REPLACESEL = 0x00C2;
// EM_GETLINE (line, buffer): the buffer's first WORD holds its size in characters; the
// line is copied without a terminator; the characters copied (0 for no such line).
constexpr UINT EM_GETLINE = 0x00C4;
constexpr UINT EM_LINEFROMCHAR = 0x00C9;
constexpr UINT EM_GETFIRSTVISIBLELINE = 0x00CE;
constexpr WORD EN_CHANGE = 0x0300;

// List box styles, messages and notifications. LB_ERR for a bad index.
constexpr DWORD LBS_NOTIFY = 0x1;
constexpr DWORD LBS_SORT = 0x2;
constexpr DWORD LBS_HASSTRINGS = 0x40;
constexpr DWORD LBS_NOINTEGRALHEIGHT = 0x100;
constexpr DWORD LBS_STANDARD = LBS_NOTIFY | LBS_SORT | WS_VSCROLL | WS_BORDER;
constexpr LRESULT LB_ERR = -1;
constexpr UINT LB_ADDSTRING = 0x0180;
constexpr UINT LB_INSERTSTRING = 0x0181;  // index -1 appends
constexpr UINT LB_DELETESTRING = 0x0182;  // the items left
constexpr UINT LB_RESETCONTENT = 0x0184;
constexpr UINT LB_SETCURSEL = 0x0186;     // -1 clears the selection (and gives LB_ERR)
constexpr UINT LB_GETCURSEL = 0x0188;
constexpr UINT LB_GETTEXT = 0x0189;
constexpr UINT LB_GETTEXTLEN = 0x018A;
constexpr UINT LB_GETCOUNT = 0x018B;
constexpr UINT LB_GETTOPINDEX = 0x018E;
constexpr UINT LB_SETTOPINDEX = 0x0197;
constexpr WORD LBN_SELCHANGE = 1;  // only with LBS_NOTIFY

// Combo box styles, messages and notifications: every combo box is a drop-down list.
constexpr DWORD CBS_SIMPLE = 0x1;
constexpr DWORD CBS_DROPDOWN = 0x2;
constexpr DWORD CBS_DROPDOWNLIST = 0x3;
constexpr DWORD CBS_SORT = 0x100;
constexpr LRESULT CB_ERR = -1;
constexpr UINT CB_ADDSTRING = 0x0143;
constexpr UINT CB_DELETESTRING = 0x0144;
constexpr UINT CB_GETCOUNT = 0x0146;
constexpr UINT CB_GETCURSEL = 0x0147;
constexpr UINT CB_GETLBTEXT = 0x0148;
constexpr UINT CB_GETLBTEXTLEN = 0x0149;
constexpr UINT CB_INSERTSTRING = 0x014A;
constexpr UINT CB_RESETCONTENT = 0x014B;
constexpr UINT CB_SETCURSEL = 0x014E;
constexpr UINT CB_SHOWDROPDOWN = 0x014F;
constexpr UINT CB_GETDROPPEDSTATE = 0x0157;
constexpr WORD CBN_SELCHANGE = 1;

// Static styles.
constexpr DWORD SS_LEFT = 0x0;
constexpr DWORD SS_CENTER = 0x1;
constexpr DWORD SS_RIGHT = 0x2;

namespace platform {
// Registers the control classes (done when the layer loads; later calls do nothing).
void register_control_classes();
}  // namespace platform
