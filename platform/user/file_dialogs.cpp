// The Open and Save As dialogs: the headless form answered from the environment, and
// the seam through which the windowed interface takes over.
#include "platform/user/file_dialogs.h"

#include <atomic>
#include <string>

#include "platform/kernel/config.h"
#include "platform/kernel/files.h"
#include "platform/kernel/utf.h"
#include "platform/user/window_state.h"

namespace platform {
namespace {

std::atomic<FileDialogHandler> installed_handler{nullptr};
thread_local DWORD last_dialog_error = 0;

bool is_separator(char16_t unit) { return unit == u'\\' || unit == u'/'; }

size_t file_part_start(const std::u16string& path) {
  size_t cut = path.find_last_of(u"\\/");
  return cut == std::u16string::npos ? 0 : cut + 1;
}

bool something_at(const std::u16string& path) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

BOOL cancelled() {
  last_dialog_error = 0;
  return FALSE;
}

}  // namespace

void set_file_dialog_handler(FileDialogHandler handler) { installed_handler.store(handler); }
void set_file_dialog_error(DWORD error) { last_dialog_error = error; }

BOOL headless_file_dialog(FileDialogKind kind, OPENFILENAMEW* record) {
  return give_file_choice(kind, record, utf16_from_utf8(setting("ZRK_FILE_DIALOG_ANSWER")));
}

BOOL give_file_choice(FileDialogKind kind, OPENFILENAMEW* record, std::u16string path) {
  if (path.empty()) return cancelled();
  if (file_part_start(path) == 0 && record->lpstrInitialDir && record->lpstrInitialDir[0]) {
    std::u16string folder = record->lpstrInitialDir;
    if (!is_separator(folder.back())) folder += u'\\';
    path = folder + path;
  }
  size_t name_start = file_part_start(path);
  if (kind == FileDialogKind::Open) {
    // The user could not pick what is not there; a real dialog would keep asking.
    if ((record->Flags & OFN_FILEMUSTEXIST) && !something_at(path)) return cancelled();
    if ((record->Flags & OFN_PATHMUSTEXIST) && name_start > 1 && !something_at(path.substr(0, name_start - 1))) {
      return cancelled();
    }
  }
  if (!record->lpstrFile || record->nMaxFile < path.size() + 1) {
    if (record->lpstrFile && record->nMaxFile >= 1) record->lpstrFile[0] = static_cast<WCHAR>(path.size() + 1);
    last_dialog_error = FNERR_BUFFERTOOSMALL;
    return FALSE;
  }
  path.copy(record->lpstrFile, path.size());
  record->lpstrFile[path.size()] = 0;
  size_t dot = path.find_last_of(u'.');
  record->nFileOffset = static_cast<WORD>(name_start);
  record->nFileExtension = static_cast<WORD>(dot == std::u16string::npos || dot < name_start ? path.size() : dot + 1);
  if (record->lpstrFileTitle && record->nMaxFileTitle > 0) {
    size_t units = path.size() - name_start;
    if (units > record->nMaxFileTitle - 1) units = record->nMaxFileTitle - 1;
    path.copy(record->lpstrFileTitle, units, name_start);
    record->lpstrFileTitle[units] = 0;
  }
  last_dialog_error = 0;
  return TRUE;
}

}  // namespace platform

namespace {

BOOL show_dialog(platform::FileDialogKind kind, OPENFILENAMEW* record) {
  if (!record || record->lStructSize != sizeof(OPENFILENAMEW)) {
    platform::set_file_dialog_error(CDERR_STRUCTSIZE);
    return FALSE;
  }
  platform::FileDialogHandler handler = platform::installed_handler.load();
  if (handler) return handler(kind, record);
  // A real dialog when someone looks at the screen; headless runs take the environment's answer.
  if (platform::user::input_is_interactive()) return platform::user::windowed_file_dialog(kind, record);
  return platform::headless_file_dialog(kind, record);
}

}  // namespace

BOOL GetOpenFileNameW(OPENFILENAMEW* record) { return show_dialog(platform::FileDialogKind::Open, record); }
BOOL GetSaveFileNameW(OPENFILENAMEW* record) { return show_dialog(platform::FileDialogKind::Save, record); }
DWORD CommDlgExtendedError() { return platform::last_dialog_error; }
