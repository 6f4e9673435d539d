// Accelerator tables: keys that become WM_COMMAND messages before they are translated.
#pragma once

#include "platform/user/messages.h"

struct HACCEL__;
using HACCEL = HACCEL__*;

constexpr BYTE FVIRTKEY = 0x01;
constexpr BYTE FNOINVERT = 0x02;
constexpr BYTE FSHIFT = 0x04;
constexpr BYTE FCONTROL = 0x08;
constexpr BYTE FALT = 0x10;

struct ACCEL {
  BYTE fVirt;
  WORD key;
  WORD cmd;
};

// A table of count entries (copied); null for none or a bad count.
HACCEL CreateAcceleratorTableW(const ACCEL* entries, int count);
BOOL DestroyAcceleratorTable(HACCEL table);
// When msg is a key message that matches an entry of table, sends WM_COMMAND
// (MAKEWPARAM(cmd, 1), 0) to window and gives non-zero; else 0.
// An FVIRTKEY entry matches a WM_KEYDOWN/WM_SYSKEYDOWN of its virtual key whose SHIFT,
// CONTROL and ALT states equal the entry's FSHIFT, FCONTROL and FALT. An entry without
// FVIRTKEY is a character: it matches a WM_CHAR/WM_SYSCHAR of exactly that character
// (case counts), whatever modifiers are down, since the character already carries them.
// A character entry with FCONTROL or FALT is a key combination ("Ctrl+S"): it matches
// its letter typed in either case (or the control character, for CONTROL) while the
// SHIFT, CONTROL and ALT states equal the entry's.
int TranslateAcceleratorW(HWND window, HACCEL table, LPMSG msg);
