// Result codes of the sound library (0 is success).
#pragma once

#include <cstdint>

namespace sound {

constexpr int32_t sound_ok = 0;
constexpr int32_t sound_bad_output = -1;
constexpr int32_t sound_already_initialised = -2;
constexpr int32_t sound_thread_failed = -3;
constexpr int32_t sound_device_allocation_failed = -4;
constexpr int32_t sound_out_of_memory = -10;
constexpr int32_t sound_unknown_format = -100;
constexpr int32_t sound_not_found = -200;
constexpr int32_t sound_read_error = -300;
constexpr int32_t sound_refused = -1000;
constexpr int32_t sound_buffer_too_short = -10000;

// Play flags: choose a free voice, and start it paused.
constexpr uint32_t play_any_voice = 0x10000000;
constexpr uint32_t play_paused = 0x20000000;

}  // namespace sound
