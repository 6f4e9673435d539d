// The state of the run that start-up sets and every part reads.
#include "vm/runtime_globals.h"

HINSTANCE runtime_instance = nullptr;
int32_t runtime_show_command = 0;
void* wait_cursor = nullptr;
char number_decimal_character = '.';
char number_group_character = ',';

Variable* error_variable = nullptr;
Variable* last_error_variable = nullptr;
Variable* t_collide_variable = nullptr;
Variable* s_collide_variable = nullptr;
Variable* delta_variable = nullptr;
Variable* delta_limit_variable = nullptr;
Variable* limit_pps_variable = nullptr;
Variable* bits_per_pixel_variable = nullptr;
Variable* frequency_variable = nullptr;
