// Row and tick sequencing of MOD modules, their effects, and starting a module.
#include "sound/module_player.h"

#include "sound/sound_codes.h"
#include "sound/sound_system.h"
#include "sound/sound_tables.h"

namespace sound {

namespace {
uint32_t big_endian_word(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }
}  // namespace

ModulePlayer::ModulePlayer() {
    for (ModuleChannel& c : channel) {
        c.vibrato_speed = 9;
        c.vibrato_depth = 2;
        c.vibrato_position = 0;
        c.portamento_target = 0;
        c.note_delay_counter = note_delay_idle;
    }
}

// Periods above the tables (a note's raw 12 bits) read the lowest note's entry.
uint32_t ModulePlayer::step_of(uint32_t period) const {
    if (owner == nullptr) return 0;
    return owner->step_table[period > highest_period ? highest_period : period];
}

uint32_t ModulePlayer::period_of_note(uint32_t note_index) const {
    return (&period_table[0][0])[note_index % (16 * note_count)];
}

uint32_t ModulePlayer::note_index_of(uint32_t finetune, uint32_t period) const {
    uint32_t note = owner == nullptr ? 0 : owner->note_index_table[period > highest_period ? highest_period : period];
    return (finetune & 0x0F) * note_count + note;
}

void ModulePlayer::update_effective(ModuleChannel& c) { c.effective_volume = (effective_volume * c.volume) >> 6; }

void ModulePlayer::set_volume(uint32_t new_volume) {
    Voice::set_volume(new_volume);
    uint32_t master = owner == nullptr ? 64 : owner->music_volume;
    effective_volume = (master * volume) >> 6;
    for (ModuleChannel& c : channel) update_effective(c);
}

void ModulePlayer::set_pan(uint32_t new_pan) {
    Voice::set_pan(new_pan);
    uint32_t d = ((255 - pan) * 64) >> 8;
    for (uint32_t i = 0; i < max_module_channels; ++i) channel[i].pan = (i & 1) ? 192 - d : 64 + d;
}

int64_t ModulePlayer::get_position() { return int64_t{order_position} * 64 + current_row(); }

void ModulePlayer::set_position(int64_t position) {
    if (module_data == nullptr || position < 0) return;
    uint64_t order = static_cast<uint64_t>(position) >> 6;
    if (order + 1 > song_length) return;
    if (owner != nullptr) owner->lock();
    order_position = static_cast<uint32_t>(order);
    current_pattern = module_data[952 + order_position];
    row_offset = static_cast<uint32_t>(position - static_cast<int64_t>(order) * 64) * channels;
    ending = false;
    if (owner != nullptr) owner->unlock();
}

int64_t ModulePlayer::get_length() { return module_data == nullptr ? 0 : int64_t{song_length} * 64; }

void ModulePlayer::compute_samples_per_tick() {
    int64_t rate = owner == nullptr ? 0 : owner->mix_rate;
    // Below 173 Hz the frequency term would be 0: keep it at least 1.
    int64_t frequency_term = (int64_t{frequency} * 256) / 44100;
    if (frequency_term < 1) frequency_term = 1;
    int64_t divisor = frequency_term * (tick_rate == 0 ? 1 : tick_rate);
    samples_per_tick = static_cast<uint32_t>(((rate * 65536) / divisor) >> 8);
}

void ModulePlayer::begin(const MusicModule& module, uint8_t start_paused) {
    module_data = module.module_data;
    pattern_data = module_data + module_header_size;
    channels = module_channel_count(module_data, module.data_size);
    song_length = module_song_length(module_data);
    pattern_count = module_stored_pattern_count(module_data, module.data_size, channels);

    // Sample data follows the patterns; what lies past the end of the data is cut off.
    uint64_t offset = module_header_size + uint64_t{pattern_count} * channels * 256;
    samples[0] = {};
    for (uint32_t i = 1; i <= module_sample_count; ++i) {
        const uint8_t* header = module_data + 20 + 30 * (i - 1);
        uint64_t length = uint64_t{big_endian_word(header + 22)} * 2;
        uint64_t available = offset < module.data_size ? module.data_size - offset : 0;
        uint64_t kept = length < available ? length : available;
        ModuleSampleEntry& entry = samples[i];
        entry.volume = header[25] > 64 ? 64 : header[25];   // damaged headers hold up to 255
        entry.finetune = kept == 0 ? 0 : header[24] & 0x0F;
        entry.data = kept == 0 ? nullptr : reinterpret_cast<const int8_t*>(module_data + offset);
        entry.length = kept << 16;
        // A loop of one word or less is the tracker's way of saying "no loop".
        uint64_t loop_start = uint64_t{big_endian_word(header + 26)} * 2;
        uint64_t loop_length = uint64_t{big_endian_word(header + 28)} * 2;
        if (loop_length <= 2 || loop_start >= kept) loop_length = 0;
        else if (loop_start + loop_length > kept) loop_length = kept - loop_start;
        entry.loop_start = loop_length == 0 ? 0 : loop_start << 16;
        entry.loop_length = loop_length << 16;
        offset += length;
    }

    base_rate = module.base_rate;
    frequency = module.frequency;
    pitch = module.pitch;
    recompute = 1;
    frame_counter = 0;
    tick_rate = 50;
    speed = 6;
    tick_counter = 6;
    order_position = 0;
    row_offset = 0;
    current_pattern = module_data[952];
    uint32_t restart = module_data[951];
    restart_position = (restart != 127 && restart < song_length) ? restart : 0;
    pending_order = no_jump;
    pending_row_offset = no_jump;
    pattern_delay = 0;
    ending = false;
    set_pan(module.pan);
    for (ModuleChannel& c : channel) {
        c.sample_number = 0;
        c.sample_offset = 0;
        c.period = 0;
        c.vibrato_position = 0;
        c.loop_state = 0;
        c.loop_start_row_offset = 0;
        c.position = 0;
        c.step = 0;
        c.effect = 0;
        c.parameter = 0;
        c.note_delay_counter = note_delay_idle;
    }
    loop = module.loop;
    set_volume(module.volume);
    start(start_paused);
}

bool ModulePlayer::advance_frame() {
    if (stopped) return false;
    if (recompute) {
        compute_samples_per_tick();
        recompute = 0;
    }
    if (tick_counter != speed) {
        if (frame_counter < samples_per_tick) {
            ++frame_counter;
            return true;
        }
        ++tick_counter;
        frame_counter = 0;
        if (tick_counter != speed) {
            run_tick_effects();
        } else if (ending && pattern_delay == 0) {
            // The last row has played all its ticks: the song ends where the next row would come.
            stop();
            return false;
        }
        return true;
    }
    if (pattern_delay > 0) {
        --pattern_delay;
    } else {
        read_row();
        move_on();
    }
    tick_counter = 0;
    return !stopped;
}

uint32_t ModulePlayer::advance_frames(uint32_t wanted) {
    if (wanted == 0 || !advance_frame()) return 0;
    // Until the frame that ends this tick, frames only count.
    uint32_t quiet = tick_counter != speed && frame_counter < samples_per_tick ? samples_per_tick - frame_counter : 0;
    uint32_t extra = quiet < wanted - 1 ? quiet : wanted - 1;
    frame_counter += extra;
    return 1 + extra;
}

void ModulePlayer::read_row() {
    // Order entries may name patterns the file does not hold: such rows are empty, as is
    // every row of a song of length 0.
    const uint8_t* row = song_length != 0 && current_pattern < pattern_count
        ? pattern_data + (uint64_t{current_pattern} * channels * module_rows + row_offset) * 4
        : nullptr;
    for (uint32_t index = 0; index < channels; ++index) {
        ModuleChannel& c = channel[index];
        uint8_t b0 = row ? row[index * 4] : 0, b1 = row ? row[index * 4 + 1] : 0;
        uint8_t b2 = row ? row[index * 4 + 2] : 0, b3 = row ? row[index * 4 + 3] : 0;
        uint32_t number = (b0 & 0xF0) | (b2 >> 4);
        if (number > module_sample_count) number = 0;   // the table has 31 samples
        uint32_t note_period = ((b0 & 0x0Fu) << 8) | b1;
        uint32_t effect = b2 & 0x0F, x = b3 >> 4, y = b3 & 0x0F;

        if (number != 0) {
            c.sample_number = number;
            c.volume = samples[number].volume;
            update_effective(c);
        }
        if (note_period != 0 && effect != 3 && effect != 5 && !(effect == 14 && x == 13)) {
            c.position = 0;
            c.note_index = note_index_of(samples[c.sample_number].finetune, note_period);
            c.period = period_of_note(c.note_index);
        }
        if (c.sample_number != 0) c.step = step_of(c.period);

        c.effect = effect;
        c.x = x;
        c.y = y;
        c.parameter = b3;
        switch (effect) {
        case 0:
            if (b3 != 0) {
                // Arpeggio notes above the highest note stay on the highest.
                uint32_t row_base = c.note_index - c.note_index % note_count;
                uint32_t note = c.note_index % note_count;
                auto shifted = [&](uint32_t by) {
                    uint32_t n = note + by > note_count - 1 ? note_count - 1 : note + by;
                    return step_of(period_of_note(row_base + n));
                };
                c.arpeggio_steps[0] = c.step;
                c.arpeggio_steps[1] = shifted(x);
                c.arpeggio_steps[2] = shifted(y);
                c.arpeggio_counter = 0;
            }
            break;
        case 1:
        case 2: c.slide_period = static_cast<int32_t>(c.period); break;
        case 3:
            if (note_period != 0)
                c.portamento_target = period_of_note(note_index_of(samples[c.sample_number].finetune, note_period));
            else if (c.portamento_target == 0)
                c.portamento_target = period_of_note(c.note_index);
            if (b3 != 0) c.portamento_speed = b3;
            break;
        case 4:
            if (b3 != 0) {
                c.vibrato_position = 0;
                c.vibrato_speed = x;
                c.vibrato_depth = y;
            }
            break;
        case 9:
            if (b3 != 0) c.sample_offset = (uint64_t{b3} * 256) << 16;
            c.position = c.sample_offset;
            break;
        case 11:
            if (!loop && b3 <= order_position) {
                pending_order = song_length;
            } else {
                pending_order = b3;
                pending_row_offset = 0;
            }
            break;
        case 12:
            c.volume = b3;
            update_effective(c);
            break;
        case 13: {
            uint32_t target_row = x * 10 + y;
            if (target_row >= module_rows) target_row = 0;
            if (order_position + 1 < song_length) {
                pending_order = order_position + 1;
                pending_row_offset = target_row * channels;
            } else if (loop) {
                pending_order = restart_position;
                pending_row_offset = target_row * channels;
            } else {
                pending_order = song_length;
            }
            break;
        }
        case 14:
            switch (x) {
            case 6:
                if (y == 0) {
                    if (!(c.loop_state & 0xF0)) c.loop_start_row_offset = row_offset;
                } else {
                    uint32_t left = (c.loop_state & 0xF0) ? (c.loop_state & 0x0F) - 1u : y;
                    if (left != 0) {
                        c.loop_state = static_cast<uint8_t>(0xF0 | left);
                        pending_order = order_position;
                        pending_row_offset = c.loop_start_row_offset;
                    } else {
                        c.loop_state = 0;
                    }
                }
                break;
            case 10:
                c.volume = c.volume + y > 64 ? 64 : c.volume + y;
                update_effective(c);
                break;
            case 11:
                c.volume = c.volume < y ? 0 : c.volume - y;
                update_effective(c);
                break;
            case 12: c.note_cut_counter = y; break;
            case 13:
                c.delayed_period = note_period;
                c.note_delay_counter = y - 1u;
                break;
            case 14: pattern_delay = y; break;
            default: break;
            }
            break;
        case 15:
            if (b3 > 32) {
                tick_rate = b3 * 2 / 5;
                compute_samples_per_tick();
            } else if (b3 != 0) {
                speed = b3;
            }
            break;
        default: break;
        }
        if (effect == 5 || effect == 6 || effect == 10)
            c.volume_slide = b3 == 0 ? 0 : (x != 0 ? static_cast<int32_t>(x) : -static_cast<int32_t>(y));
    }
}

void ModulePlayer::move_on() {
    if (pending_order != no_jump) {
        if (pending_order >= song_length) {
            ending = true;
            pending_order = no_jump;
            pending_row_offset = no_jump;
            return;
        }
        order_position = pending_order;
        current_pattern = module_data[952 + order_position];
        row_offset = pending_row_offset == no_jump ? 0 : pending_row_offset;
        pending_order = no_jump;
        pending_row_offset = no_jump;
        return;
    }
    row_offset += channels;
    if (row_offset >= channels * module_rows) {
        row_offset = 0;
        ++order_position;
        if (order_position >= song_length) {
            if (!loop) {
                ending = true;
                return;
            }
            order_position = restart_position;
        }
        current_pattern = module_data[952 + (order_position % module_order_entries)];
    }
}

void ModulePlayer::volume_slide(ModuleChannel& c) {
    int32_t v = static_cast<int32_t>(c.volume) + c.volume_slide;
    c.volume = static_cast<uint32_t>(v < 0 ? 0 : (v > 64 ? 64 : v));
    update_effective(c);
}

void ModulePlayer::run_tick_effects() {
    for (uint32_t index = 0; index < channels; ++index) {
        ModuleChannel& c = channel[index];
        switch (c.effect) {
        case 0:
            if (c.parameter != 0) {
                c.arpeggio_counter = (c.arpeggio_counter + 1) % 3;
                c.step = c.arpeggio_steps[c.arpeggio_counter];
            }
            break;
        case 1:
        case 2:
            if (c.effect == 1) {
                c.slide_period -= static_cast<int32_t>(c.parameter);
                if (c.slide_period < 13) c.slide_period = 13;
            } else {
                c.slide_period += static_cast<int32_t>(c.parameter);
                if (c.slide_period > static_cast<int32_t>(highest_period)) c.slide_period = highest_period;
            }
            c.period = static_cast<uint32_t>(c.slide_period);
            c.step = step_of(c.period);
            break;
        case 3:
        case 5:
            if (c.period > c.portamento_target) {
                int64_t p = int64_t{c.period} - c.portamento_speed;
                c.period = (p < c.portamento_target || p < 0) ? c.portamento_target : static_cast<uint32_t>(p);
            } else if (c.period < c.portamento_target) {
                uint64_t p = uint64_t{c.period} + c.portamento_speed;
                c.period = p > c.portamento_target ? c.portamento_target : static_cast<uint32_t>(p);
            }
            c.step = step_of(c.period);
            if (c.effect == 5) volume_slide(c);
            break;
        case 4:
        case 6: {
            uint32_t q = c.vibrato_position & 63;
            int64_t delta = (int64_t{vibrato_table[q & 31]} * c.vibrato_depth) >> 7;
            int64_t vibrato_period = q < 32 ? int64_t{c.period} + delta : int64_t{c.period} - delta;
            if (vibrato_period < 1) vibrato_period = 1;
            if (vibrato_period > highest_period) vibrato_period = highest_period;
            c.step = step_of(static_cast<uint32_t>(vibrato_period));
            q += c.vibrato_speed;
            if (q >= 64) q -= 64;
            c.vibrato_position = q;
            if (c.effect == 6) volume_slide(c);
            break;
        }
        case 10: volume_slide(c); break;
        case 14:
            if (c.x == 12) {
                if (c.note_cut_counter > 0) --c.note_cut_counter;
                if (c.note_cut_counter == 0) c.effective_volume = 0;
            } else if (c.x == 13) {
                if (c.note_delay_counter == 0xFFFFFFFF) {
                    c.period = c.delayed_period;
                    c.step = step_of(c.period);
                    c.note_delay_counter = note_delay_idle;
                } else if (c.note_delay_counter != note_delay_idle) {
                    --c.note_delay_counter;
                }
            }
            break;
        default: break;
        }
    }
}

int32_t SoundSystem::play_module(MusicModule* module, uint32_t flags) {
    if (!initialised || module == nullptr || module->module_data == nullptr) return sound_refused;
    uint32_t channels = module_channel_count(module->module_data, module->data_size);
    if (channels == 0 || channels > max_module_channels) return sound_refused;
    lock();
    int32_t chosen = -1;
    if (flags & play_any_voice) {
        for (uint32_t i = 0; i < module_player_count; ++i) {
            if (module_players[i].stopped && !module_players[i].paused) {
                chosen = static_cast<int32_t>(i);
                break;
            }
        }
    } else {
        uint32_t index = flags & 0xFFFF;
        if (index < module_player_count && module_players[index].stopped && !module_players[index].paused)
            chosen = static_cast<int32_t>(index);
    }
    if (chosen < 0) {
        unlock();
        return sound_refused;
    }
    module_players[chosen].begin(*module, (flags & play_paused) ? 1 : 0);
    unlock();
    return chosen;
}

}  // namespace sound
