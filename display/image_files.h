// Image files and bitmap resources as 16-bit surfaces, and surfaces written out as BMP
// files. Decoding belongs to the platform's imaging component.
#pragma once

#include <cstdint>

#include "display/surface.h"
#include "platform/kernel/types.h"

namespace display {

// A file mapped for reading: handle (INVALID_HANDLE_VALUE when none), mapping, the view
// and one past its last byte.
struct MappedFile {
    HANDLE file;
    HANDLE mapping;
    const uint8_t* view;
    const uint8_t* end;
};
static_assert(sizeof(MappedFile) == 16, "a mapped file is four words");

// Names without a leading backslash are taken from the program's folder. False (the
// record closed) when the file cannot be opened or mapped.
bool mapped_file_open(MappedFile* file, const char16_t* name);
void mapped_file_close(MappedFile* file);

// A new surface holding the decoded image, or null.
Surface* image_load_file(const char16_t* name);
Surface* image_decode_memory(const uint8_t* begin, const uint8_t* end);
// A resource of module (null: the program) by name and type: RT_BITMAP (2) is loaded as
// a bitmap; other types are decoded, or tried as a bitmap of that name when missing.
Surface* image_load_resource(const char16_t* name, const char16_t* type, HMODULE module);
// A surface with a copy of a DIB section's picture.
Surface* surface_from_bitmap(HBITMAP bitmap);

// Writes name + ".bmp" as a 16-bit BI_BITFIELDS BMP, rows bottom-up. 1, or 0 (nothing
// left behind) for a null surface or name, a path too long, or a file that fails.
int surface_save_bmp(Surface* surface, const char16_t* name);

}  // namespace display
