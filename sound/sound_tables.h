// The mixer's period, vibrato, step and note-index tables.
#pragma once

#include <cstdint>

namespace sound {

constexpr uint32_t note_count = 84;          // seven octaves of twelve notes
constexpr uint32_t highest_period = 1712;    // the lowest note; tables cover 0..1712

// Amiga periods by finetune row (0..7 = 0..+7, 8..15 = -8..-1) and note index, lowest
// note first.
extern const uint16_t period_table[16][note_count];

// Half a sine wave for vibrato.
extern const uint8_t vibrato_table[32];

// step(p) = ((7159090 / (2p)) * 65536) / mix rate, the 16.16 advance per output frame
// of a sample played at Amiga period p; step(0) = 0.
void build_step_table(uint32_t* steps, uint32_t mix_rate);

// For each period 0..1712, the index of the nearest note of finetune row 0 (the lowest
// index among equally near ones).
void build_note_index_table(uint16_t* note_indexes);

}  // namespace sound
