// The compile status window: phase texts and progress while a program compiles, passed on
// to the loader program's UPDATE procedure. Headless here: nothing is drawn.
#pragma once

#include <cstdint>

void status_window_open();
// text may be null (progress only); position of total.
void status_update(const char* text, int32_t position, int32_t total);
void status_window_close();
