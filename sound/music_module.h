// Tracker modules in the 31-sample MOD layout: the loaded song and its header fields.
#pragma once

#include <cstdint>

#include "platform/kernel/types.h"

namespace sound {

constexpr uint32_t module_header_size = 1084;     // up to and including the signature
constexpr uint32_t module_sample_count = 31;
constexpr uint32_t module_order_entries = 128;
constexpr uint32_t module_rows = 64;

// Channels named by the signature at 1080 ('M?K?' 4, 'nCHN'/'nnCH' 1..32 ...), 0 when it
// is not a module or the block is too short to hold the header.
uint32_t module_channel_count(const uint8_t* data, uint32_t size);

// Patterns the used order entries name: the highest + 1 (1 for a song of length 0).
uint32_t module_pattern_count(const uint8_t* data);

// Patterns a block of size bytes holds: counted over all 128 order entries (trackers store
// patterns named only in unused slots) when the block is long enough for them and the
// samples, else over the used entries.
uint32_t module_stored_pattern_count(const uint8_t* data, uint32_t size, uint32_t channels);

// Song length as the player uses it: byte 950, at most the 128 order entries.
uint32_t module_song_length(const uint8_t* data);

// Bytes the header says a block of size bytes takes: header, stored patterns and samples.
uint64_t module_computed_size(const uint8_t* data, uint32_t size, uint32_t channels);

class MusicModule {
public:
    MusicModule() = default;
    virtual ~MusicModule();
    MusicModule(const MusicModule&) = delete;
    MusicModule& operator=(const MusicModule&) = delete;

    // Loads a MOD file whole. 0; -200 not found; -300 empty; -10 memory; -100 not a
    // module (or too short to hold its header and patterns).
    int32_t load_file(const WCHAR* path);
    // Loads a module from memory, copied (owned) when copy bit 0 is set, else referenced.
    // 0; -10 null block or memory; -100 not a module.
    int32_t load_memory(const void* block, uint32_t size, uint32_t copy);
    // Loads the "PTMOD" resource numbered id of a module (null: the running program), as
    // load_memory does with its bytes. -200 when there is no such resource.
    int32_t load_resource(HMODULE module, uint32_t id, uint32_t copy);
    // Frees the data when owned; the module becomes empty.
    void unload();

    void set_volume(uint32_t value) { volume = value > 64 ? 64 : value; }
    uint32_t get_volume() const { return volume; }
    void set_loop(uint8_t value) { loop = value; }
    uint8_t get_loop() const { return loop; }
    void set_pan(uint32_t value) { pan = value > 255 ? 255 : value; }
    uint32_t get_pan() const { return pan; }
    void set_frequency(uint32_t hertz);
    uint32_t get_frequency() const { return frequency; }

    uint8_t* module_data = nullptr;
    uint32_t volume = 64;
    uint8_t loop = 0;
    uint32_t pan = 255;
    uint32_t base_rate = 44100;
    uint32_t frequency = 44100;
    uint32_t pitch = 128;
    uint32_t owns_data = 0;
    // Bytes of module_data that may be read (the header's size or less for short files).
    uint32_t data_size = 0;

private:
    int32_t take_block(uint8_t* block, uint32_t size, bool owned);
};

}  // namespace sound
