// #IMPORT: the constants a type library gives a script (its own name, enumeration
// members and interface identifiers).
#pragma once

// Reads the type library file and defines its constants; a library that cannot be read
// is reported as an error under source (the name used in messages, may be null).
void import_type_library(const char* source, const char* file_name);
