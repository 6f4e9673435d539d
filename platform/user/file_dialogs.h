// The Open and Save As dialogs: windows on the x11 display; headless they are answered
// from the environment, so runs are scriptable.
#pragma once

#include <string>

#include "platform/kernel/types.h"
#include "platform/user/message_box.h"

// The record both dialogs take, in the device's layout (76 bytes).
struct OPENFILENAMEW {
  DWORD lStructSize;
  HWND hwndOwner;
  HINSTANCE hInstance;
  LPCWSTR lpstrFilter;        // description/pattern pairs, each ending in 0, then a 0
  LPWSTR lpstrCustomFilter;
  DWORD nMaxCustFilter;
  DWORD nFilterIndex;
  LPWSTR lpstrFile;           // in: the initial name; out: the chosen path
  DWORD nMaxFile;             // units of lpstrFile, its terminator included
  LPWSTR lpstrFileTitle;      // out (optional): the chosen file's name alone
  DWORD nMaxFileTitle;
  LPCWSTR lpstrInitialDir;
  LPCWSTR lpstrTitle;
  DWORD Flags;
  WORD nFileOffset;           // out: index of the file name in lpstrFile
  WORD nFileExtension;        // out: index after the '.', or of the terminator
  LPCWSTR lpstrDefExt;
  LONG lCustData;
  void* lpfnHook;
  LPCWSTR lpTemplateName;
};
static_assert(sizeof(OPENFILENAMEW) == 76);
static_assert(offsetof(OPENFILENAMEW, Flags) == 52);
static_assert(offsetof(OPENFILENAMEW, lpstrDefExt) == 60);

constexpr DWORD OFN_READONLY = 0x1;
constexpr DWORD OFN_OVERWRITEPROMPT = 0x2;
constexpr DWORD OFN_HIDEREADONLY = 0x4;
constexpr DWORD OFN_NOCHANGEDIR = 0x8;
constexpr DWORD OFN_PATHMUSTEXIST = 0x800;
constexpr DWORD OFN_FILEMUSTEXIST = 0x1000;

// Errors of CommDlgExtendedError (0 when the user cancelled).
constexpr DWORD CDERR_STRUCTSIZE = 0x0001;
constexpr DWORD FNERR_BUFFERTOOSMALL = 0x3003;

// Lets the user choose a file to open or a name to save under. TRUE with the path in
// lpstrFile; FALSE when the user cancelled or on an error (see CommDlgExtendedError).
BOOL GetOpenFileNameW(OPENFILENAMEW* record);
BOOL GetSaveFileNameW(OPENFILENAMEW* record);
// Why the last dialog of this thread returned FALSE: 0 when the user cancelled.
DWORD CommDlgExtendedError();

namespace platform {

// Which dialog a handler shows.
enum class FileDialogKind { Open, Save };
using FileDialogHandler = BOOL (*)(FileDialogKind kind, OPENFILENAMEW* record);

// Lets the windowed interface (or a test) answer dialogs from now on; null goes back
// to the headless form. The handler sets the extended error with set_file_dialog_error.
void set_file_dialog_handler(FileDialogHandler handler);
void set_file_dialog_error(DWORD error);

// The headless form: the user chooses the path named by ZRK_FILE_DIALOG_ANSWER (UTF-8;
// a bare name is taken inside lpstrInitialDir when one is given). Unset or empty, the
// user cancels (FALSE, error 0); so does an Open dialog with OFN_FILEMUSTEXIST whose
// answer names no existing file, or one with OFN_PATHMUSTEXIST whose folder is missing.
// A record of another size fails with CDERR_STRUCTSIZE; a path longer than nMaxFile - 1
// units with FNERR_BUFFERTOOSMALL (the units needed in the first unit of lpstrFile).
BOOL headless_file_dialog(FileDialogKind kind, OPENFILENAMEW* record);
// What both forms do with the path the user chose (empty: cancelled): checks it as the
// headless form describes and fills the record.
BOOL give_file_choice(FileDialogKind kind, OPENFILENAMEW* record, std::u16string path);

}  // namespace platform
