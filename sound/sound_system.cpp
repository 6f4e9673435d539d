// The sound system's tables, voice arrays and voice lookup.
#include "sound/sound_system.h"

#include <new>

#include "sound/mixer.h"
#include "sound/module_player.h"
#include "sound/sample_voice.h"
#include "sound/sound_codes.h"
#include "sound/wave_out_device.h"

namespace sound {

namespace {
OutputDevice* make_wave_out_device() { return new (std::nothrow) WaveOutDevice(); }
}  // namespace

SoundSystem::DeviceFactory SoundSystem::device_factory = make_wave_out_device;

SoundSystem::~SoundSystem() { shutdown(); }

int32_t SoundSystem::init(uint32_t rate, uint32_t bits, uint32_t stereo_flag, uint32_t modules, uint32_t voices) {
    if (initialised || device != nullptr) return sound_already_initialised;
    OutputDevice* opened = device_factory();
    if (opened == nullptr) return sound_device_allocation_failed;
    OutputFormat format{rate, bits == 8 ? 0x21u : 0x12u, stereo_flag == 1 ? 2u : 1u};
    // A rate of 0 is refused by the device before anything divides by it.
    uint64_t samples = rate == 0 ? 0 : uint64_t{buffer_length} * rate / 1000;
    if (samples > 0xFFFFFFFFu) samples = 0xFFFFFFFFu;
    int32_t result = opened->open(&format, static_cast<uint32_t>(samples), mix_callback, this);
    if (result != sound_ok) {
        opened->close();
        delete opened;
        return result;
    }
    device = opened;
    prepare_tables(rate, format.channels == 2, (format.flags & 2) != 0);
    result = create_voices(modules, voices);
    if (result != sound_ok) {
        // No half-open device stays behind: its thread ends and waveOut closes.
        device->close();
        delete device;
        device = nullptr;
        return result;
    }
    device->resume_output();
    suspended = 0;
    initialised = 1;
    return sound_ok;
}

int32_t SoundSystem::set_buffer_length(uint32_t milliseconds) {
    if (initialised) return sound_already_initialised;
    if (milliseconds < 60) return sound_buffer_too_short;
    buffer_length = milliseconds;
    return sound_ok;
}

int32_t SoundSystem::shutdown() {
    // Voices stop while the device (and its lock) still exists, so nothing they hold is
    // freed under a running mix; the device goes before the voices it mixed.
    stop_all_modules();
    stop_all_samples();
    initialised = 0;
    if (device != nullptr) {
        device->close();
        delete device;
        device = nullptr;
    }
    suspended = 0;
    destroy_voices();
    return sound_ok;
}

uint32_t SoundSystem::playing_module_count() const {
    uint32_t count = 0;
    for (uint32_t i = 0; i < module_player_count; ++i) count += module_players[i].is_playing() ? 1 : 0;
    return count;
}

uint32_t SoundSystem::playing_sample_count() const {
    uint32_t count = 0;
    for (uint32_t i = 0; i < sample_voice_count; ++i) count += sample_voices[i].is_playing() ? 1 : 0;
    return count;
}

void SoundSystem::stop_all_samples() {
    lock();
    for (uint32_t i = 0; i < sample_voice_count; ++i) sample_voices[i].stop();
    unlock();
}

void SoundSystem::stop_all_modules() {
    lock();
    for (uint32_t i = 0; i < module_player_count; ++i) module_players[i].stop();
    unlock();
}

void SoundSystem::pause_all_samples() {
    lock();
    for (uint32_t i = 0; i < sample_voice_count; ++i) sample_voices[i].pause_voice();
    unlock();
}

void SoundSystem::resume_all_samples() {
    lock();
    for (uint32_t i = 0; i < sample_voice_count; ++i) sample_voices[i].resume_voice();
    unlock();
}

void SoundSystem::pause_all_modules() {
    lock();
    for (uint32_t i = 0; i < module_player_count; ++i) module_players[i].pause_voice();
    unlock();
}

void SoundSystem::resume_all_modules() {
    lock();
    for (uint32_t i = 0; i < module_player_count; ++i) module_players[i].resume_voice();
    unlock();
}

void SoundSystem::stop_voices_of(const MusicModule* module) {
    if (module == nullptr || module->module_data == nullptr) return;
    lock();
    for (uint32_t i = 0; i < module_player_count; ++i)
        if (module_players[i].module_data == module->module_data) module_players[i].stop();
    unlock();
}

void SoundSystem::stop_voices_of(const SoundSample* sample) {
    if (sample == nullptr) return;
    lock();
    for (uint32_t i = 0; i < sample_voice_count; ++i)
        if (sample_voices[i].sample == sample && !sample_voices[i].stopped) sample_voices[i].stop();
    unlock();
}

void SoundSystem::set_sample_volume(uint32_t value) {
    sample_volume = value > 64 ? 64 : value;
    for (uint32_t i = 0; i < sample_voice_count; ++i) sample_voices[i].set_volume(sample_voices[i].volume);
}

void SoundSystem::set_music_volume(uint32_t value) {
    music_volume = value > 64 ? 64 : value;
    for (uint32_t i = 0; i < module_player_count; ++i) module_players[i].set_volume(module_players[i].volume);
}

void SoundSystem::sound_suspend() {
    if (!initialised || suspended) return;
    device->pause_output();
    suspended = 1;
}

void SoundSystem::sound_resume() {
    if (!initialised || !suspended) return;
    device->resume_output();
    suspended = 0;
}

void SoundSystem::prepare_tables(uint32_t rate, bool stereo_output, bool sixteen_bit_output) {
    mix_rate = rate;
    stereo = stereo_output ? 1 : 0;
    sixteen_bit = sixteen_bit_output ? 1 : 0;
    build_step_table(step_table, rate);
    build_note_index_table(note_index_table);
}

int32_t SoundSystem::create_voices(uint32_t modules, uint32_t voices) {
    destroy_voices();
    uint32_t players = modules == 0 ? 1 : (modules > 3 ? 3 : modules);
    uint32_t samples = voices < 8 ? 8 : (voices > 64 ? 64 : voices);
    module_players = new (std::nothrow) ModulePlayer[players];
    active_players = new (std::nothrow) ModulePlayer*[players];
    sample_voices = new (std::nothrow) SampleVoice[samples];
    active_voices = new (std::nothrow) SampleVoice*[samples];
    if (module_players == nullptr || active_players == nullptr || sample_voices == nullptr || active_voices == nullptr) {
        destroy_voices();
        return sound_out_of_memory;
    }
    module_player_count = players;
    sample_voice_count = samples;
    music_volume = 64;
    sample_volume = 64;
    for (uint32_t i = 0; i < players; ++i) module_players[i].owner = this;
    for (uint32_t i = 0; i < samples; ++i) sample_voices[i].owner = this;
    return sound_ok;
}

void SoundSystem::destroy_voices() {
    delete[] module_players;
    delete[] active_players;
    delete[] sample_voices;
    delete[] active_voices;
    module_players = nullptr;
    active_players = nullptr;
    sample_voices = nullptr;
    active_voices = nullptr;
    module_player_count = 0;
    sample_voice_count = 0;
}

Voice* SoundSystem::voice_lookup(int32_t id) {
    if (id < 0) return nullptr;
    uint32_t index = static_cast<uint32_t>(id);
    if (index < module_player_count) return &module_players[index];
    index -= module_player_count;
    if (index < sample_voice_count) return &sample_voices[index];
    return nullptr;
}

}  // namespace sound
