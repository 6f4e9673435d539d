// Thin built-ins over runtime and device services: block compression, script memory
// pools, the compiler's quiet switch and the clipboard.
#pragma once

// Registers compress, uncompress, mmcreate, mmdestroy, mmalloc, mmfree, QuietMode,
// getclip and setclip by their script names.
void register_service_builtins();
