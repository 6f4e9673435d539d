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

    // Opens the output device and starts mixing: rate in Hz, bits (8, else 16), stereo
    // (1 = two channels), module players (0 read as 1, at most 3) and sample voices
    // (8..64). 0; -2 initialised already; -1 bad format (rate 0 included) or no device;
    // -3 no thread; -4 no device object; -10 memory. Any failure leaves no device open.
    int32_t init(uint32_t rate, uint32_t bits, uint32_t stereo_flag, uint32_t modules, uint32_t voices);
    // Latency used by the next init, at least 60 ms. 0; -2 while initialised; -10000.
    int32_t set_buffer_length(uint32_t milliseconds);
    uint32_t get_buffer_length() const { return buffer_length; }
    // Stops every voice, closes and destroys the device, then the voices. Always 0.
    int32_t shutdown();

    uint32_t get_module_player_count() const { return module_player_count; }
    uint32_t get_sample_voice_count() const { return sample_voice_count; }
    // Players or voices neither stopped nor paused.
    uint32_t playing_module_count() const;
    uint32_t playing_sample_count() const;

    // Under the device lock, for every voice of that kind.
    void stop_all_samples();
    void stop_all_modules();
    void pause_all_samples();
    void resume_all_samples();
    void pause_all_modules();
    void resume_all_modules();
    // Stops, under the device lock, every voice that reads this asset's data, so that the
    // asset can be freed or loaded again.
    void stop_voices_of(const MusicModule* module);
    void stop_voices_of(const SoundSample* sample);

    // Master volumes, at most 64; each voice's effective volume follows at once.
    void set_sample_volume(uint32_t value);
    void set_music_volume(uint32_t value);
    uint32_t get_sample_volume() const { return sample_volume; }
    uint32_t get_music_volume() const { return music_volume; }

    // Pause and resume the whole output (the stream and the output thread); a second
    // suspend or a resume of a running system does nothing.
    void sound_suspend();
    void sound_resume();

    // Makes the output device init opens; tests put their own in its place.
    using DeviceFactory = OutputDevice* (*)();
    static DeviceFactory device_factory;

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
