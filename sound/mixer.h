// The mixer: fills one output buffer from the active module players and sample voices.
#pragma once

#include <cstdint>

namespace sound {

class SoundSystem;

// Mixes byte_count bytes (one device buffer) of the system's output format into buffer:
// 8-bit unsigned or 16-bit signed, mono or interleaved stereo. The caller holds the
// device lock. With nothing playing the buffer becomes silence.
void mix(SoundSystem& system, void* buffer, uint32_t byte_count);

// The device's mix callback; user is the SoundSystem (null: nothing is mixed).
void mix_callback(void* user, void* buffer, uint32_t byte_count);

}  // namespace sound
