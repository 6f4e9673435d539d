// The COM built-ins: creating, inspecting, calling and freeing automation objects, safe
// arrays, VARIANT type tags, registered classes and server registration.
#pragma once

// Registers the built-ins, the release of wrappers the program owns and the import of
// type libraries for the compiler.
void register_com_builtins();

void builtin_CreateCOMObject();
void builtin_CreateCOMObjectFrom();
void builtin_FreeCOMObject();
void builtin_COMLoadTypeLib();
void builtin_RegisterDLL();
void builtin_GetProperty();
void builtin_SetProperty();
void builtin_Invoke();
void builtin_QueryInterface();
void builtin_Dispatch();
void builtin_COMMethods();
void builtin_COMProperties();
void builtin_COMInfo();
void builtin_COMObjects();
void builtin_SafeArray();
void builtin_SafeArrayDestroy();
void builtin_T();
void builtin_VariantType();
