// The sound system: the output device, the module players and sample voices, the
// per-rate tables and the master volumes.
#pragma once

#include <cstdint>

#include "sound/output_device.h"
#include "sound/sound_tables.h"

namespace sound {

class Voice;
class ModulePlayer;
class SampleVoice;
class MusicModule;
class SoundSample;

class SoundSystem {
public:
    SoundSystem() = default;
    virtual ~SoundSystem();
    SoundSystem(const SoundSystem&) = delete;
    SoundSystem& operator=(const SoundSystem&) = delete;

    // Takes and releases the device lock; without a device there is nothing to lock.
    void lock() { if (device != nullptr) device->lock(); }
    void unlock() { if (device != nullptr) device->unlock(); }

    // Builds the step and note-index tables for a mix rate and records the output shape.
    void prepare_tables(uint32_t rate, bool stereo_output, bool sixteen_bit_output);

    // Creates the module players (0 read as 1, at most 3) and the sample voices (8..64),
    // destroying any earlier ones; sets both master volumes to 64. sound_ok or -10.
    int32_t create_voices(uint32_t modules, uint32_t voices);
    // Destroys the players and voices (which stops them).
    void destroy_voices();

    // The player or voice with that id: players first, then sample voices; null for a
    // negative id or one past the end.
    Voice* voice_lookup(int32_t id);

    // Starts a module on a player; the player's id or -1000.
    int32_t play_module(MusicModule* module, uint32_t flags);
    // Starts a sample on a voice; the voice's id or a code.
    int32_t play_sample(SoundSample* sample, uint32_t flags);

    OutputDevice* device = nullptr;
    uint8_t initialised = 0;
    uint8_t suspended = 0;
    uint32_t module_player_count = 0;
    ModulePlayer* module_players = nullptr;
    ModulePlayer** active_players = nullptr;
    uint32_t sample_voice_count = 0;
    SampleVoice* sample_voices = nullptr;
    SampleVoice** active_voices = nullptr;
    uint32_t step_table[highest_period + 1] = {};
    uint16_t note_index_table[highest_period + 1] = {};
    uint32_t music_volume = 64;
    uint32_t sample_volume = 64;
    uint32_t mix_rate = 0;
    uint32_t stereo = 0;
    uint32_t sixteen_bit = 0;
    uint32_t buffer_length = 160;
};

}  // namespace sound
