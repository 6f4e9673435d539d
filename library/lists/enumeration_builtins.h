// Lists of what the runtime and the device enumerate: the loaded programs, the forms of
// a program, the top-level windows and the font families.
#pragma once

// applications(list): one element per loaded program, its number the program's handle.
void builtin_applications();
// forms(list, program): one element per form of the program, its number the form's
// window; a value that is no loaded program gives an empty list.
void builtin_forms();
// enumwindows(list): one element per top-level window, its number the window handle.
void builtin_enumwindows();
// enumfontfamilies(list, dc, family): one element per font; its data is a 12-byte
// record {LOGFONTW*, NEWTEXTMETRICW*, font type} whose two records the element owns.
// A family of 0 lists every family, else the faces of that family.
void builtin_enumfontfamilies();

// Each gives the number of elements of the list it filled.
void register_enumeration_builtins();
