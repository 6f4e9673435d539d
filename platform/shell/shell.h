// The shell: menu bars, full-screen options, activation handling, the input panel and
// the memory request.
#pragma once

#include "platform/shell/close_apps.h"
#include "platform/shell/menu_bar.h"
#include "platform/shell/shell_windows.h"
