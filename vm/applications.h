// Application built-ins: a program sees and ends the other programs of the runtime
// (designated by the address of their ProgramContext), waits, and lists names.
#pragma once

#include <cstdint>

#include "platform/kernel/types.h"

struct ProgramContext;

// Whether program is a context of program_list.
bool program_is_loaded(const ProgramContext* program);

// Whether program runs a call on the calling thread's chain of calls.
bool program_is_running(const ProgramContext* program);

// Whether a thread waiting at a blocking point, other than one createthread made (the
// program's end stops those), runs a call of program. Such a thread carries out the
// program's end once its calls of it are over.
bool program_runs_on_a_waiting_thread(const ProgramContext* program);

// Ends program now, or, when it is running, once its outermost call has returned.
void end_application(ProgramContext* program);

// Whether program's end waits for its outermost call to return.
bool application_end_pending(const ProgramContext* program);

// Called by the procedure call when the outermost call of program is over: a deferred end
// is carried out. True when the program was ended.
bool application_end_if_deferred(ProgramContext* program);

// Filled by the GUI library: dispatches every pending window message of the thread, and
// posts the message (WM_APP + 1, lparam the context) that makes the message loop end a
// program with forms. While null, delay only waits and killapp ends at once.
extern void (*pump_pending_messages)();
extern void (*post_application_end)(HANDLE window, ProgramContext* program);
// Filled by the compiler, which owns what a program is made of: releases everything the
// program owns and takes it off the list of programs. While null, nothing is ended.
extern void (*application_instance_end)(ProgramContext* program);

void builtin_findapp();
void builtin_killapp();
void builtin_freeapp();
void builtin_appname();
void builtin_appsize();
void builtin_appuniqueid();
void builtin_appbuffer();
void builtin_appform();
void builtin_delay();
void builtin_functions();
void builtin_variables();

void register_application_builtins();
