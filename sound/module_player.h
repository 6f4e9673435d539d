// The module player: a voice that plays a MusicModule row by row and tick by tick.
#pragma once

#include <cstdint>

#include "sound/music_module.h"
#include "sound/voice.h"

namespace sound {

constexpr uint32_t max_module_channels = 32;
constexpr uint32_t no_jump = 0xFFFFFF;
constexpr uint32_t note_delay_idle = 0xFFFFFF;

// One tracker channel. Positions and offsets are 16.16 bytes in 64 bits so that samples
// of 64 KiB and more do not overflow.
struct ModuleChannel {
    uint32_t note_index;        // finetune * 84 + note
    uint32_t period;
    uint32_t sample_number;     // 0 = none
    uint32_t step;              // 16.16 bytes per output frame
    uint32_t volume;            // 0..64, any byte after effect C
    uint32_t effective_volume;
    uint32_t effect;
    uint32_t x;
    uint32_t y;
    uint32_t parameter;
    uint64_t position;
    uint32_t pan;
    int32_t slide_period;
    uint32_t portamento_target;
    uint32_t portamento_speed;
    uint32_t arpeggio_counter;
    uint32_t arpeggio_steps[3];
    uint32_t vibrato_position;
    uint32_t vibrato_speed;
    uint32_t vibrato_depth;
    uint32_t note_delay_counter;
    uint32_t delayed_period;
    uint32_t note_cut_counter;
    uint64_t sample_offset;
    uint8_t loop_state;         // 0xF0 = a loop runs, low nibble = loops left
    uint32_t loop_start_row_offset;
    int32_t volume_slide;
};

// A sample of the module as the channels play it; all lengths are 16.16 bytes.
struct ModuleSampleEntry {
    uint64_t length;
    uint64_t loop_start;
    uint64_t loop_length;       // 0 = no loop
    uint32_t volume;
    uint32_t finetune;
    const int8_t* data;         // null for an empty sample
};

// Moves a position that ran past a loop's end back into the loop, however far past it
// went (a loop shorter than one step wraps more than once).
inline uint64_t wrap_into_loop(uint64_t position, uint64_t loop_start, uint64_t loop_length) {
    uint64_t loop_end = loop_start + loop_length;
    if (loop_length == 0 || position < loop_end) return position;
    return loop_start + (position - loop_start) % loop_length;
}

class ModulePlayer final : public Voice {
public:
    ModulePlayer();

    void set_volume(uint32_t volume) override;
    // Even channels lean left and odd ones right; 255 gives 64/192, 0 gives 127/129.
    void set_pan(uint32_t pan) override;
    // order * 64 + row
    int64_t get_position() override;
    // Jumps to order p >> 6, row p & 63, when that order is within the song.
    void set_position(int64_t position) override;
    int64_t get_length() override;

    // Sets the player up for a module; the caller holds the device lock.
    void begin(const MusicModule& module, uint8_t start_paused);

    // Advances one output frame of tick and row timing; false when the player is (or
    // now became) stopped.
    bool advance_frame();
    // Advances as advance_frame does for up to wanted frames, stopping before the next
    // frame that would change the channels (a tick or a row). Returns the frames advanced,
    // over which the channels play unchanged; 0 when the player is (or now became) stopped.
    uint32_t advance_frames(uint32_t wanted);

    // Recomputes the output frames per tick from the mix rate, frequency and tick rate.
    void compute_samples_per_tick();

    uint32_t current_row() const { return channels == 0 ? 0 : row_offset / channels; }

    const uint8_t* module_data = nullptr;
    const uint8_t* pattern_data = nullptr;
    uint32_t channels = 0;
    uint32_t current_pattern = 0;
    uint32_t row_offset = 0;
    uint32_t order_position = 0;
    uint32_t restart_position = 0;
    uint32_t samples_per_tick = 0;
    uint32_t frame_counter = 0;
    uint32_t speed = 6;
    uint32_t tick_counter = 6;
    ModuleChannel channel[max_module_channels] = {};
    ModuleSampleEntry samples[module_sample_count + 1] = {};   // 1..31; 0 stays empty
    uint32_t pending_order = no_jump;
    uint32_t pending_row_offset = no_jump;
    uint32_t pattern_delay = 0;
    uint32_t tick_rate = 50;
    // Guards against headers that name patterns the data does not hold.
    uint32_t song_length = 0;
    uint32_t pattern_count = 0;
    // The song's last row is playing: the player stops once its ticks and delays are done.
    bool ending = false;

private:
    void read_row();
    void move_on();
    void run_tick_effects();
    void volume_slide(ModuleChannel& c);
    void update_effective(ModuleChannel& c);
    uint32_t step_of(uint32_t period) const;
    uint32_t period_of_note(uint32_t note_index) const;
    uint32_t note_index_of(uint32_t finetune, uint32_t period) const;
};

}  // namespace sound
