// Loading MOD modules from files and memory.
#include "sound/music_module.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "sound/sound_codes.h"
#include "sound/sound_paths.h"
#include "sound/streams.h"
#include "sound/voice.h"

namespace sound {

namespace {
bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }
uint32_t big_endian_word(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }

uint32_t patterns_named(const uint8_t* data, uint32_t entries) {
    uint32_t highest = 0;
    for (uint32_t i = 0; i < entries; ++i)
        if (data[952 + i] > highest) highest = data[952 + i];
    return highest + 1;
}

uint64_t size_with_patterns(const uint8_t* data, uint32_t patterns, uint32_t channels) {
    uint64_t size = module_header_size + uint64_t{patterns} * channels * 256;
    for (uint32_t i = 0; i < module_sample_count; ++i)
        size += uint64_t{big_endian_word(data + 20 + 30 * i + 22)} * 2;
    return size;
}
}  // namespace

uint32_t module_channel_count(const uint8_t* data, uint32_t size) {
    if (data == nullptr || size < module_header_size) return 0;
    const uint8_t* signature = data + 1080;
    if (signature[0] == 'M' && signature[2] == 'K') return 4;
    if (signature[1] != 'C' && signature[2] != 'C') return 0;
    uint32_t channels = is_digit(signature[0]) ? signature[0] - '0' : 0;
    if (is_digit(signature[1])) channels = channels * 10 + (signature[1] - '0');
    return channels;
}

uint32_t module_song_length(const uint8_t* data) {
    uint32_t length = data[950];
    return length > module_order_entries ? module_order_entries : length;
}

uint32_t module_pattern_count(const uint8_t* data) { return patterns_named(data, module_song_length(data)); }

uint32_t module_stored_pattern_count(const uint8_t* data, uint32_t size, uint32_t channels) {
    uint32_t all = patterns_named(data, module_order_entries);
    if (size_with_patterns(data, all, channels) <= size) return all;
    return module_pattern_count(data);
}

uint64_t module_computed_size(const uint8_t* data, uint32_t size, uint32_t channels) {
    return size_with_patterns(data, module_stored_pattern_count(data, size, channels), channels);
}

MusicModule::~MusicModule() { unload(); }

void MusicModule::unload() {
    if (owns_data && module_data != nullptr) std::free(module_data);
    module_data = nullptr;
    owns_data = 0;
    data_size = 0;
}

void MusicModule::set_frequency(uint32_t hertz) {
    frequency = hertz;
    pitch = pitch_for_frequency(hertz, base_rate);
}

// Accepts a block that holds the header and every pattern; samples cut short by the
// end of the block are shortened by the player.
int32_t MusicModule::take_block(uint8_t* block, uint32_t size, bool owned) {
    uint32_t channels = module_channel_count(block, size);
    if (channels == 0 ||
        module_header_size + uint64_t{module_stored_pattern_count(block, size, channels)} * channels * 256 > size) {
        if (owned) std::free(block);
        return sound_unknown_format;
    }
    uint64_t computed = module_computed_size(block, size, channels);
    module_data = block;
    data_size = computed < size ? static_cast<uint32_t>(computed) : size;
    owns_data = owned ? 1 : 0;
    base_rate = frequency = 44100;
    pitch = 128;
    return sound_ok;
}

int32_t MusicModule::load_file(const WCHAR* path) {
    unload();
    std::u16string resolved;
    if (!resolve_sound_path(path, resolved)) return sound_not_found;
    StreamSource stream;
    if (!stream.open(resolved.c_str(), 0)) return sound_not_found;
    int32_t size = stream.stream_size();
    if (size <= 0) return size == 0 ? sound_read_error : sound_not_found;
    auto* block = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size)));
    if (block == nullptr) return sound_out_of_memory;
    int32_t got = stream.read(block, static_cast<uint32_t>(size));
    stream.close();
    if (got <= 0) {
        std::free(block);
        return sound_read_error;
    }
    return take_block(block, static_cast<uint32_t>(got), true);
}

int32_t MusicModule::load_memory(const void* block, uint32_t size, uint32_t copy) {
    unload();
    if (block == nullptr) return sound_out_of_memory;
    auto* bytes = static_cast<const uint8_t*>(block);
    uint32_t channels = module_channel_count(bytes, size);
    if (channels == 0) return sound_unknown_format;
    if (!(copy & 1)) return take_block(const_cast<uint8_t*>(bytes), size, false);
    uint64_t computed = module_computed_size(bytes, size, channels);
    uint32_t wanted = computed < size ? static_cast<uint32_t>(computed) : size;
    auto* owned = static_cast<uint8_t*>(std::malloc(wanted));
    if (owned == nullptr) return sound_out_of_memory;
    std::memcpy(owned, bytes, wanted);
    return take_block(owned, wanted, true);
}

}  // namespace sound
