// The state of the run that start-up sets and every part reads: the instance, the number
// punctuation, and direct references to the predefined globals.
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct Variable;

// The state start-up keeps for the rest of the run.
extern HINSTANCE runtime_instance;
extern int32_t runtime_show_command;
extern void* wait_cursor;
extern char number_decimal_character;  // '.'
extern char number_group_character;    // ','
// Direct references to the predefined globals that other parts read and write without a
// name lookup; null before start-up and after teardown.
extern Variable* error_variable;       // ERROR%
extern Variable* last_error_variable;  // LASTERROR%
extern Variable* t_collide_variable;   // T_COLLIDE%: a zeroed 16-byte block
extern Variable* s_collide_variable;   // S_COLLIDE%: a zeroed 16-byte block
extern Variable* delta_variable;       // DELTA%
extern Variable* delta_limit_variable; // DELTALIMIT%
extern Variable* limit_pps_variable;   // LIMITPPS%
extern Variable* bits_per_pixel_variable;  // BITSPERPIXEL%
extern Variable* frequency_variable;   // FREQUENCY%
