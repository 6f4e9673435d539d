// The ActiveX built-ins: scripts place controls in their windows, move and draw them,
// reach their automation object and events, and free them. A control is also freed when
// its parent window or its program ends.
#pragma once

#include <cstdint>

#include "platform/gdi/gdi_types.h"

struct OleContainerSite;

void register_activex_builtins();

void builtin_ActiveX();
void builtin_FreeActiveX();
void builtin_SetActiveXPos();
void builtin_ActiveXObject();
void builtin_ActiveXEvents();
void builtin_ActiveXWnd();
void builtin_ActiveXDraw();

// A size in pixels of the screen in HIMETRIC units (hundredths of a millimetre).
SIZE pixels_to_himetric(SIZE pixels);
// Sets the control's extent to width x height pixels and its object rectangle to
// (x, y, width, height): the last two are taken as right and bottom as they are.
void site_set_position(OleContainerSite* site, int32_t x, int32_t y, int32_t width, int32_t height);

// The release of a hosted control that its program owns, for the COM layer's release of
// owned objects: false when pointer is not such a record. At the program's end the
// control is freed without running any event, then its record.
bool activex_release_owned(void* pointer);
bool activex_destroy_owned(void* pointer);
