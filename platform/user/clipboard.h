// The system clipboard: one process-wide store of data blocks by format, opened by one
// thread at a time as the device's clipboard is.
#pragma once

#include "platform/kernel/types.h"

struct HWND__;
using HWND = HWND__*;

// 8-bit text with its terminating zero.
constexpr UINT CF_TEXT = 1;

// Opens the clipboard for the calling thread (owner may be null). FALSE while another
// thread holds it open; opening it again on the same thread succeeds.
BOOL OpenClipboard(HWND owner);
// Closes the clipboard; FALSE when the calling thread had not opened it.
BOOL CloseClipboard();
// Frees every block the clipboard holds. The clipboard must be open.
BOOL EmptyClipboard();
// The clipboard's block of the format, which stays the clipboard's: valid until the
// clipboard is emptied or the format set again. Null when the clipboard is not open or
// holds nothing of that format.
HANDLE GetClipboardData(UINT format);
// Hands data (a crt::malloc block) to the clipboard, which frees it when it is emptied
// or the format is set again; returns data, or null (data still the caller's) when the
// clipboard is not open.
HANDLE SetClipboardData(UINT format, HANDLE data);
