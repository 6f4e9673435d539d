// The base of module players and sample voices: volume, pan, pause state and rate.
#pragma once

#include <cstdint>

namespace sound {

class SoundSystem;

class Voice {
public:
    Voice() = default;
    virtual ~Voice() = default;

    // Volume 0..64 (anything above, taken as unsigned, is 64).
    virtual void set_volume(uint32_t volume);
    // Pan 0..255 (anything above is 255).
    virtual void set_pan(uint32_t pan);
    virtual int64_t get_position();
    virtual void set_position(int64_t position);
    virtual int64_t get_length();
    virtual void stop();

    void start(uint8_t start_paused);
    void pause_voice();
    void resume_voice();
    bool is_playing() const { return !paused && !stopped; }
    bool is_paused() const { return paused != 0; }
    // Playback rate in Hz; the pitch follows (1/128 units of the base rate).
    void set_frequency(uint32_t hertz);
    // Pitch in 1/128 of the base rate; the frequency follows.
    void set_pitch(uint32_t new_pitch);
    uint32_t get_frequency() const { return frequency; }
    uint32_t get_pitch() const { return pitch; }
    uint32_t get_effective_volume() const { return effective_volume; }
    uint32_t get_pan() const { return pan; }
    void set_loop(uint8_t value) { loop = value; }
    uint8_t get_loop() const { return loop; }

    SoundSystem* owner = nullptr;
    uint32_t volume = 0;
    uint32_t effective_volume = 0;
    uint32_t pan = 0;
    uint8_t loop = 0;
    uint8_t paused = 0;
    uint8_t stopped = 1;
    uint32_t base_rate = 0;
    uint32_t frequency = 0;
    uint8_t recompute = 0;
    uint32_t pitch = 0;
};

// pitch = ((hz << 16) / base) >> 9, in 64 bits; a base rate of 0 gives 0.
uint32_t pitch_for_frequency(uint32_t hertz, uint32_t base_rate);

}  // namespace sound
