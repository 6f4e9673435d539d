// Paths of sound files: relative ones are taken from the running program's folder.
#pragma once

#include <string>

#include "platform/kernel/types.h"

namespace sound {

// A path beginning with "\" (or "/", a host path) is used as given; any other is
// appended to the folder of the running program. False when that folder is unknown.
bool resolve_sound_path(const WCHAR* path, std::u16string& resolved);

}  // namespace sound
