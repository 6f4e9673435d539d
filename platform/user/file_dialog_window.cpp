// The windowed Open and Save As dialogs: a full-screen window listing a folder's folders
// and the files of the chosen filter, with a name line the keys type into. A tap on a
// folder opens it ("..": the folder above), a tap on a file takes its name; OK (the
// caption's button or ENTER) chooses, closing or ESC cancels.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/kernel/files.h"
#include "platform/user/input.h"
#include "platform/user/painting.h"
#include "platform/user/window_state.h"

namespace platform::user {
namespace {

constexpr const WCHAR* kDialogClass = u"ZrkFileDialog";
constexpr int kLineHeight = 18;
constexpr int kListTop = 24;

struct Entry {
  std::u16string name;
  bool folder;
};

struct Dialog {
  std::u16string folder;  // ends with a separator
  std::u16string name;
  std::vector<std::u16string> patterns;
  std::vector<Entry> entries;
  int result = 0;  // 1 chosen, 2 cancelled
};

// The patterns of the chosen filter ("*.txt;*.zrk"), or "*" without one.
std::vector<std::u16string> patterns_of(const OPENFILENAMEW& record) {
  std::vector<std::u16string> patterns;
  const WCHAR* filter = record.lpstrFilter;
  DWORD index = record.nFilterIndex ? record.nFilterIndex : 1;
  for (DWORD pair = 1; filter && *filter; ++pair) {
    filter += std::char_traits<char16_t>::length(filter) + 1;  // the description
    if (!*filter) break;
    std::u16string spec = filter;
    filter += spec.size() + 1;
    if (pair != index) continue;
    size_t start = 0;
    while (start <= spec.size()) {
      size_t end = spec.find(u';', start);
      if (end == std::u16string::npos) end = spec.size();
      if (end > start) patterns.push_back(spec.substr(start, end - start));
      start = end + 1;
    }
  }
  if (patterns.empty()) patterns.push_back(u"*");
  return patterns;
}

void read_folder(Dialog& dialog) {
  dialog.entries.clear();
  if (dialog.folder.size() > 1) dialog.entries.push_back({u"..", true});
  std::vector<Entry> folders, files;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((dialog.folder + u"*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::u16string name = found.cFileName;
      if (name == u"." || name == u"..") continue;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) folders.push_back({name, true});
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  for (const std::u16string& pattern : dialog.patterns) {
    search = FindFirstFileW((dialog.folder + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) continue;
    do {
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      std::u16string name = found.cFileName;
      bool known = std::any_of(files.begin(), files.end(), [&](const Entry& entry) { return entry.name == name; });
      if (!known) files.push_back({name, false});
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  auto by_name = [](const Entry& a, const Entry& b) { return a.name < b.name; };
  std::sort(folders.begin(), folders.end(), by_name);
  std::sort(files.begin(), files.end(), by_name);
  dialog.entries.insert(dialog.entries.end(), folders.begin(), folders.end());
  dialog.entries.insert(dialog.entries.end(), files.begin(), files.end());
}

Dialog* dialog_of(HWND window) {
  return reinterpret_cast<Dialog*>(static_cast<uintptr_t>(uint32_t(GetWindowLongW(window, GWL_USERDATA))));
}

void open_entry(HWND window, Dialog& dialog, const Entry& entry) {
  if (!entry.folder) {
    dialog.name = entry.name;
  } else if (entry.name == u"..") {
    size_t cut = dialog.folder.find_last_of(u"\\/", dialog.folder.size() - 2);
    dialog.folder = cut == std::u16string::npos ? dialog.folder : dialog.folder.substr(0, cut + 1);
    read_folder(dialog);
  } else {
    dialog.folder += entry.name + u"\\";
    read_folder(dialog);
  }
  InvalidateRect(window, nullptr, TRUE);
}

LRESULT dialog_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  Dialog* dialog = dialog_of(window);
  if (!dialog) return DefWindowProcW(window, message, wparam, lparam);
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      RECT client;
      GetClientRect(window, &client);
      SetBkMode(dc, TRANSPARENT);
      RECT line{4, 2, client.right - 4, kListTop - 2};
      std::u16string name_line = u"Name: " + dialog->name + u"_";
      DrawTextW(dc, name_line.c_str(), int(name_line.size()), &line, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
      RECT rule{0, kListTop - 1, client.right, kListTop};
      FillRect(dc, &rule, GetSysColorBrush(COLOR_BTNSHADOW));
      for (size_t i = 0; i < dialog->entries.size(); ++i) {
        const Entry& entry = dialog->entries[i];
        RECT row{4, kListTop + int(i) * kLineHeight, client.right - 4, kListTop + int(i + 1) * kLineHeight};
        if (row.top >= client.bottom) break;
        std::u16string text = entry.folder ? u"[" + entry.name + u"]" : entry.name;
        DrawTextW(dc, text.c_str(), int(text.size()), &row, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
      }
      EndPaint(window, &paint);
      return 0;
    }
    case WM_LBUTTONUP: {
      int row = (GET_Y_LPARAM(lparam) - kListTop) / kLineHeight;
      if (GET_Y_LPARAM(lparam) >= kListTop && row >= 0 && row < int(dialog->entries.size())) {
        Entry entry = dialog->entries[size_t(row)];
        open_entry(window, *dialog, entry);
      }
      return 0;
    }
    case WM_CHAR:
      if (wparam == 0x08) {
        if (!dialog->name.empty()) dialog->name.pop_back();
      } else if (wparam == 0x0D) {
        if (!dialog->name.empty()) dialog->result = 1;
      } else if (wparam == 0x1B) {
        dialog->result = 2;
      } else if (wparam >= 0x20 && wparam != u'\\' && wparam != u'/') {
        dialog->name += char16_t(wparam);
      }
      InvalidateRect(window, nullptr, TRUE);
      return 0;
    case WM_COMMAND:
      if (LOWORD(DWORD(wparam)) == 1 && !dialog->name.empty()) dialog->result = 1;
      return 0;
    case WM_CLOSE: dialog->result = 2; return 0;
    default: return DefWindowProcW(window, message, wparam, lparam);
  }
}

}  // namespace

BOOL windowed_file_dialog(FileDialogKind kind, OPENFILENAMEW* record) {
  static bool registered = [] {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = dialog_procedure;
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_WINDOW + 1));
    window_class.lpszClassName = kDialogClass;
    RegisterClassW(&window_class);
    return true;
  }();
  (void)registered;
  Dialog dialog;
  dialog.folder = record->lpstrInitialDir && record->lpstrInitialDir[0] ? record->lpstrInitialDir : u"\\";
  if (dialog.folder.back() != u'\\' && dialog.folder.back() != u'/') dialog.folder += u'\\';
  if (record->lpstrFile && record->lpstrFile[0]) {
    std::u16string initial = record->lpstrFile;
    size_t cut = initial.find_last_of(u"\\/");
    dialog.name = cut == std::u16string::npos ? initial : initial.substr(cut + 1);
  }
  dialog.patterns = patterns_of(*record);
  read_folder(dialog);

  HWND owner = record->hwndOwner ? record->hwndOwner : GetActiveWindow();
  const WCHAR* title = record->lpstrTitle ? record->lpstrTitle : kind == FileDialogKind::Open ? u"Open" : u"Save As";
  HWND window = CreateWindowExW(WS_EX_CAPTIONOKBTN, kDialogClass, title, WS_POPUP | WS_CAPTION, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr, nullptr, nullptr);
  if (!window) return give_file_choice(kind, record, u"");
  SetWindowLongW(window, GWL_USERDATA, LONG(reinterpret_cast<uintptr_t>(&dialog)));
  if (!run_modal_window(window, owner, &dialog.result)) dialog.result = 2;
  return give_file_choice(kind, record, dialog.result == 1 ? dialog.folder + dialog.name : u"");
}

}  // namespace platform::user
