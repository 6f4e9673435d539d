// The sound built-ins: s_init and s_shut, loading songs and samples into numbered
// handles, and playing, pausing and adjusting them. Handles 0..1023 name samples,
// 1024..2047 songs; -1 (a failed load) and any other number name nothing.
#pragma once

#include <cstdint>

namespace sound {
class SoundSystem;
}

constexpr int32_t kSoundAssetSlots = 1024;
constexpr int32_t kSoundHandleCount = 2 * kSoundAssetSlots;

// The runtime's one sound system, for the callers that pause and resume all output.
sound::SoundSystem& runtime_sound_system();

void builtin_s_init();
void builtin_s_bufferlength();
void builtin_s_shut();
void builtin_loadsound();
void builtin_loadsoundfrommem();
void builtin_playsound();
void builtin_stopsound();
void builtin_pausesound();
void builtin_resumesound();
void builtin_freesound();
void builtin_soundstate();
void builtin_volume();
void builtin_setvolume();
void builtin_frequency();
void builtin_setfrequency();
void builtin_pan();
void builtin_setpan();
void builtin_loop();
void builtin_setloop();

// Registers the built-ins above by their script names.
void register_sound_builtins();
