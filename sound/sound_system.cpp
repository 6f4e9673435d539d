// The sound system's tables, voice arrays and voice lookup.
#include "sound/sound_system.h"

#include <new>

#include "sound/module_player.h"
#include "sound/sample_voice.h"
#include "sound/sound_codes.h"

namespace sound {

SoundSystem::~SoundSystem() { destroy_voices(); }

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
