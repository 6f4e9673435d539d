// The package built-ins: scripts open, list, extend, extract from and save package
// archives through a handle number (the address of the open package).
#pragma once

// Registers every package built-in by its script name.
void register_package_builtins();
