// Menus: drop-down (popup) menus of string items, separators and sub-menus, their item
// states, and the modal tracking of an open menu chosen by stylus or keys.
#pragma once

#include "platform/user/window_manager.h"

// Item flags of AppendMenuW, InsertMenuW and ModifyMenuW.
constexpr UINT MF_STRING = 0x0;
constexpr UINT MF_ENABLED = 0x0;
constexpr UINT MF_UNCHECKED = 0x0;
constexpr UINT MF_BYCOMMAND = 0x0;
constexpr UINT MF_GRAYED = 0x1;
constexpr UINT MF_DISABLED = 0x2;
constexpr UINT MF_CHECKED = 0x8;
constexpr UINT MF_POPUP = 0x10;
constexpr UINT MF_BYPOSITION = 0x400;
constexpr UINT MF_SEPARATOR = 0x800;

// MENUITEMINFOW: the parts asked for (fMask), the item's type and state.
constexpr UINT MIIM_STATE = 0x1;
constexpr UINT MIIM_ID = 0x2;
constexpr UINT MIIM_SUBMENU = 0x4;
constexpr UINT MIIM_CHECKMARKS = 0x8;
constexpr UINT MIIM_TYPE = 0x10;
constexpr UINT MIIM_DATA = 0x20;
constexpr UINT MIIM_STRING = 0x40;
constexpr UINT MFT_STRING = 0x0;
constexpr UINT MFT_SEPARATOR = 0x800;
constexpr UINT MFS_GRAYED = 0x3;
constexpr UINT MFS_CHECKED = 0x8;

// The 44-byte item description of GetMenuItemInfoW.
struct MENUITEMINFOW {
  UINT cbSize;
  UINT fMask;
  UINT fType;
  UINT fState;
  UINT wID;
  HMENU hSubMenu;
  HBITMAP hbmpChecked;
  HBITMAP hbmpUnchecked;
  DWORD dwItemData;
  LPWSTR dwTypeData;  // the text buffer (MIIM_STRING / MIIM_TYPE of a string item)
  UINT cch;           // in: the buffer's size in characters; out: the text's length
};
static_assert(sizeof(MENUITEMINFOW) == 44, "MENUITEMINFOW layout");

// A menu without items (CreateMenu, for a menu bar) or a drop-down menu
// (CreatePopupMenu); null when out of memory.
HMENU CreateMenu();
HMENU CreatePopupMenu();
// Destroys a menu and the sub-menus of its items. FALSE for an unknown menu.
BOOL DestroyMenu(HMENU menu);

// Adds an item at the end: a string (text), a separator (MF_SEPARATOR, which keeps its id)
// or a sub-menu (MF_POPUP, item the sub-menu). MF_GRAYED/MF_DISABLED/MF_CHECKED set its
// state. FALSE for an unknown menu or sub-menu, or a sub-menu that holds the menu.
BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR item, LPCWSTR text);
// Inserts the item before the one at position: an index with MF_BYPOSITION (0xFFFFFFFF or
// one past the end appends), else the item with that command id in the menu or its
// sub-menus. FALSE when no such item exists.
BOOL InsertMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR item, LPCWSTR text);
// Replaces the item at position (as InsertMenuW finds it) with a new one.
BOOL ModifyMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR item, LPCWSTR text);
// Sets the item's enabled state (MF_ENABLED, MF_GRAYED or MF_DISABLED, with
// MF_BYPOSITION) and gives the one before, or 0xFFFFFFFF when the item does not exist.
DWORD EnableMenuItem(HMENU menu, UINT item, UINT enable);
// Sets or clears the item's check mark (MF_CHECKED) and gives the state before (MF_CHECKED
// or MF_UNCHECKED), or 0xFFFFFFFF when the item does not exist.
DWORD CheckMenuItem(HMENU menu, UINT item, UINT check);
// Describes the item (by command id, or by position when by_position): the parts fMask
// names. A string is copied into dwTypeData up to cch - 1 characters and a zero, and cch
// becomes its length (a null buffer only gives the length). FALSE for an unknown menu or
// item or a cbSize other than 44.
BOOL GetMenuItemInfoW(HMENU menu, UINT item, BOOL by_position, MENUITEMINFOW* info);

// TrackPopupMenu flags: where x and y lie on the menu, and how the choice is given.
constexpr UINT TPM_LEFTALIGN = 0x0;
constexpr UINT TPM_TOPALIGN = 0x0;
constexpr UINT TPM_CENTERALIGN = 0x4;
constexpr UINT TPM_RIGHTALIGN = 0x8;
constexpr UINT TPM_VCENTERALIGN = 0x10;
constexpr UINT TPM_BOTTOMALIGN = 0x20;
constexpr UINT TPM_NONOTIFY = 0x80;
constexpr UINT TPM_RETURNCMD = 0x100;

struct TPMPARAMS {
  UINT cbSize;
  RECT rcExclude;
};

// Shows the drop-down menu at the screen point x, y and runs until an item is chosen or
// the menu is dismissed: a tap on an item chooses it (a tap on a sub-menu opens it), a
// tap elsewhere dismisses; up and down move the highlight, right or enter opens a
// sub-menu, enter (action) chooses, left or escape closes one level. The owner gets
// WM_INITMENUPOPUP first (not with TPM_NONOTIFY). With TPM_RETURNCMD the chosen command is
// returned (0 when none) and nothing is sent; otherwise the owner is posted WM_COMMAND with
// it and the result is TRUE (FALSE when dismissed). A message posted for another purpose
// dismisses the menu and stays queued. Fails (0) for an unknown menu or owner, or while
// another menu is open on the thread.
BOOL TrackPopupMenuEx(HMENU menu, UINT flags, int x, int y, HWND owner, TPMPARAMS* params);
BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner, const RECT* rect);

// Window class of the open menus' windows.
inline constexpr const WCHAR* kMenuWindowClassName = u"menu_popup";
