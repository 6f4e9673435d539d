// Resolving sound file paths against the running program's folder.
#include "sound/sound_paths.h"

#include "platform/kernel/modules.h"

namespace sound {

bool resolve_sound_path(const WCHAR* path, std::u16string& resolved) {
    return platform::path_in_program_folder(path, resolved);
}

}  // namespace sound
