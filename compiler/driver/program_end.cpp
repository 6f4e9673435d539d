#include "compiler/driver/program_end.h"

void app_instance_end(ProgramContext*) {}

int32_t destroy_app_windows(HWND) { return 0; }
