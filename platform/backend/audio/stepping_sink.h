// Test hooks of the stepping sink (ZRK_AUDIO=stepping): it takes a queued buffer only when a
// test grants it, and keeps every byte it took.
#pragma once

#include <cstdint>
#include <vector>

namespace platform {

// Lets the sink take count more buffers (whole), now or as they are queued.
void audio_stepping_complete(uint32_t count);

// Every byte the stepping sink has taken, in order.
std::vector<uint8_t> audio_stepping_played();

// Forgets the bytes taken and the grants not used yet.
void audio_stepping_reset();

}  // namespace platform
