// The built-ins that start other programs, evaluate source text, compile without running,
// declare a library function at run time and prepare an executable build.
#pragma once

// Registers runfile, runfileex, run, runex, eval, compile, makeexe and import.
void register_run_builtins();
