// Ending a program: everything it owns is released and it leaves the list of programs.
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct ProgramContext;

void app_instance_end(ProgramContext* program);

// Destroys the window when a program owns a form with it; the result of destroying it, or
// 0 when no program owns such a form.
int32_t destroy_app_windows(HWND window);
