// The voice base class.
#include "sound/voice.h"

namespace sound {

uint32_t pitch_for_frequency(uint32_t hertz, uint32_t base_rate) {
    if (base_rate == 0) return 0;
    return static_cast<uint32_t>(((uint64_t{hertz} << 16) / base_rate) >> 9);
}

void Voice::set_volume(uint32_t new_volume) { volume = new_volume > 64 ? 64 : new_volume; }
void Voice::set_pan(uint32_t new_pan) { pan = new_pan > 255 ? 255 : new_pan; }
int64_t Voice::get_position() { return 0; }
void Voice::set_position(int64_t) {}
int64_t Voice::get_length() { return 0; }

void Voice::stop() {
    stopped = 1;
    paused = 0;
}

void Voice::start(uint8_t start_paused) {
    paused = start_paused;
    stopped = 0;
}

void Voice::pause_voice() {
    if (!stopped) paused = 1;
}

void Voice::resume_voice() {
    if (!stopped) paused = 0;
}

void Voice::set_frequency(uint32_t hertz) {
    frequency = hertz;
    pitch = pitch_for_frequency(hertz, base_rate);
    recompute = 1;
}

void Voice::set_pitch(uint32_t new_pitch) {
    pitch = new_pitch;
    frequency = static_cast<uint32_t>(((uint64_t{new_pitch} << 9) * base_rate) >> 16);
    recompute = 1;
}

}  // namespace sound
