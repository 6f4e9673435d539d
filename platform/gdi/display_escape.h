// Escapes to the display driver through a device context: the queries that describe a
// frame buffer the program may write directly.
#pragma once

#include "platform/device/display_hardware.h"

// The screen's context answers the display driver's escapes (QUERYESCSUPPORT,
// GETGXINFO, GETRAWFRAMEBUFFER); > 0 when the escape was carried out, 0 when the driver
// does not support it, < 0 for a context that is not the screen's.
int ExtEscape(HDC dc, int escape, int input_size, LPCSTR input, int output_size, LPSTR output);
