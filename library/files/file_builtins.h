// The file built-ins: file dialogs, existence and size tests, whole files read and
// written as strings, path splitting, and the C library's streams as handle numbers.
#pragma once

// Registers every file built-in by its script name.
void register_file_builtins();
