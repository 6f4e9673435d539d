// The shell's menu bar: a bar of the form's commands along the bottom of the screen (26
// pixels high at 96 dots per inch). Pressing one of its buttons sends WM_COMMAND with the
// button's id to the bar's parent.
#pragma once

#include "platform/user/window_manager.h"

// The 36-byte record of SHCreateMenuBar (AYGSHELL ordinal 34).
struct SHMENUBARINFO {
  DWORD cbSize;
  HWND hwndParent;
  DWORD dwFlags;
  UINT nToolBarId;    // the menu-bar resource of hInstRes
  HINSTANCE hInstRes;
  int nBmpId;
  int cBmpImages;
  HWND hwndMB;        // out: the bar
  COLORREF clrBk;
};
static_assert(sizeof(SHMENUBARINFO) == 36, "SHMENUBARINFO layout");
constexpr DWORD SHCMBF_EMPTYBAR = 0x1;
constexpr DWORD SHCMBF_HIDDEN = 0x2;
constexpr DWORD SHCMBF_HIDESIPBUTTON = 0x4;

// Window class of the bars.
inline constexpr const WCHAR* kMenuBarClassName = u"menu_worker";

// Creates the bar of record->hwndParent along the bottom of the screen, shown unless
// SHCMBF_HIDDEN, owned by the parent, and puts it in record->hwndMB. It starts without
// buttons; TB_ADDBUTTONSW adds them. Tapping a button sends WM_COMMAND with its id to the
// parent; a TBSTYLE_DROPDOWN button whose data is a menu opens that menu above itself
// instead (TrackPopupMenuEx), whose chosen item reaches the parent as WM_COMMAND. FALSE for a bad record size or parent.
BOOL SHCreateMenuBar(SHMENUBARINFO* record);
// Shows or hides a bar (commctrl ordinal 4); TRUE when the bar exists.
BOOL CommandBar_Show(HWND bar, BOOL show);
// Lays the bar's buttons out again after buttons were added (commctrl ordinal 43).
BOOL CommandBar_AlignAdornments(HWND bar);
// The height of a bar (26 pixels at 96 dots per inch).
int CommandBar_Height(HWND bar);

// Menu-bar messages: adding strings, images and buttons to a bar, as the controls of the
// menu bar do.
constexpr UINT TB_ADDBITMAP = WM_USER + 19;
constexpr UINT TB_BUTTONCOUNT = WM_USER + 24;
constexpr UINT TB_ADDBUTTONSW = WM_USER + 68;
constexpr UINT TB_ADDSTRINGW = WM_USER + 77;
// The menu a bar was made from; the bars here are built from buttons only, so always 0.
constexpr UINT SHCMBM_GETMENU = WM_USER + 402;
constexpr BYTE TBSTATE_ENABLED = 0x4;
constexpr BYTE TBSTYLE_BUTTON = 0x0;
constexpr BYTE TBSTYLE_SEP = 0x1;
constexpr BYTE TBSTYLE_DROPDOWN = 0x8;
constexpr BYTE TBSTYLE_AUTOSIZE = 0x10;
constexpr int I_IMAGENONE = -2;
struct TBBUTTON {
  int iBitmap;    // index in the bar's images, or I_IMAGENONE
  int idCommand;
  BYTE fsState;
  BYTE fsStyle;
  BYTE bReserved[2];
  DWORD dwData;   // a drop-down button's menu
  int iString;    // index in the bar's strings (TB_ADDSTRINGW), a text pointer, or -1
};
static_assert(sizeof(TBBUTTON) == 20, "TBBUTTON layout");

// TB_ADDBITMAP's record: a bitmap handle (hInst 0), or the standard images (HINST_COMMCTRL).
struct TBADDBITMAP {
  HINSTANCE hInst;
  UINT_PTR nID;
};
static_assert(sizeof(TBADDBITMAP) == 8, "TBADDBITMAP layout");
inline const HINSTANCE HINST_COMMCTRL = reinterpret_cast<HINSTANCE>(-1);
