// A stand-in for a device maker's dialog library: only the Open dialog is exported. It
// chooses "\Card\picked.bmp", or cancels when the initial folder is "\cancel".
#include "platform/user/file_dialogs.h"

extern "C" __attribute__((visibility("default"))) BOOL gsGetOpenFileName(OPENFILENAMEW* record) {
  static const char16_t kCancel[] = u"\\cancel";
  const char16_t* folder = record->lpstrInitialDir;
  bool cancel = folder != nullptr;
  for (int at = 0; cancel && at < 8; ++at) cancel = folder[at] == kCancel[at];
  if (cancel) return FALSE;
  static const char16_t kChosen[] = u"\\Card\\picked.bmp";
  for (int at = 0; at < 17; ++at) record->lpstrFile[at] = kChosen[at];
  return TRUE;
}
