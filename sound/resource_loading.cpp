// Loading modules and samples from the resources a program carries ("PTMOD", "WAVE").
#include "platform/media/resources.h"
#include "sound/music_module.h"
#include "sound/sound_codes.h"
#include "sound/sound_sample.h"

namespace sound {

namespace {

// The bytes of the numbered resource of that type; false when it is missing or empty.
bool find_resource_bytes(HMODULE module, const char16_t* type, uint32_t id, const void*& bytes, uint32_t& size) {
    // Resource numbers are 16-bit: a larger id names nothing.
    if (id > 0xFFFF) return false;
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(static_cast<WORD>(id)), type);
    if (found == nullptr) return false;
    HGLOBAL loaded = LoadResource(module, found);
    bytes = loaded == nullptr ? nullptr : LockResource(loaded);
    size = SizeofResource(module, found);
    return bytes != nullptr && size != 0;
}

}  // namespace

int32_t MusicModule::load_resource(HMODULE module, uint32_t id, uint32_t copy) {
    const void* bytes = nullptr;
    uint32_t size = 0;
    if (!find_resource_bytes(module, u"PTMOD", id, bytes, size)) return sound_not_found;
    return load_memory(bytes, size, copy);
}

int32_t SoundSample::load_resource(HMODULE module, uint32_t id, uint32_t flags) {
    unload();
    const void* bytes = nullptr;
    uint32_t size = 0;
    if (!find_resource_bytes(module, u"WAVE", id, bytes, size)) return sound_not_found;
    return load_memory(bytes, size, flags);
}

}  // namespace sound
