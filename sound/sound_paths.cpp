// Resolving sound file paths against the running program's folder.
#include "sound/sound_paths.h"

#include "platform/kernel/modules.h"

namespace sound {

bool resolve_sound_path(const WCHAR* path, std::u16string& resolved) {
    if (path == nullptr) return false;
    std::u16string given(path);
    if (!given.empty() && (given[0] == u'\\' || given[0] == u'/')) {
        resolved = given;
        return true;
    }
    WCHAR program[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return false;
    std::u16string folder(program, length);
    size_t cut = folder.find_last_of(u"\\/");
    if (cut == std::u16string::npos) return false;
    resolved = folder.substr(0, cut + 1) + given;
    return true;
}

}  // namespace sound
