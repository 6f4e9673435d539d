#include "compiler/ui/status_window.h"

void status_window_open() {}
void status_update(const char*, int32_t, int32_t) {}
void status_window_close() {}
