// Module tables, loading and row/tick sequencing on small built modules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sound/sound.h"
#include "module_image.h"

using namespace sound;

namespace {

struct Fixture {
    SoundSystem system;
    MusicModule module;
    Fixture() {
        system.prepare_tables(44100, true, true);
        system.create_voices(1, 8);
        system.initialised = 1;
    }
};

// Plays until the player stops or max_rows rows were read; each read row as order*64+row.
std::vector<int64_t> row_walk(ModulePlayer& player, size_t max_rows) {
    std::vector<int64_t> rows;
    for (int frame = 0; frame < 50000000 && rows.size() < max_rows; ++frame) {
        bool reads = player.tick_counter == player.speed && player.pattern_delay == 0;
        int64_t at = player.get_position();
        bool playing = player.advance_frame();
        if (reads) rows.push_back(at);
        if (!playing) break;
    }
    return rows;
}

}  // namespace

TEST(SoundTables, StepsNoteIndexesAndPeriodRows) {
    uint32_t steps[1713];
    build_step_table(steps, 44100);
    EXPECT_EQ(steps[428], 12428u);
    EXPECT_EQ(steps[0], 0u);
    uint16_t notes[1713];
    build_note_index_table(notes);
    const struct { uint32_t period, note; } cases[] = {{1712, 0}, {13, 83}, {1, 83}, {0, 83}, {428, 24}, {1664, 0}, {1663, 1}};
    for (auto c : cases) EXPECT_EQ(notes[c.period], c.note) << "period " << c.period;
    const uint16_t firsts[16] = {1712, 1699, 1687, 1675, 1663, 1651, 1639, 1627, 1813, 1800, 1787, 1774, 1762, 1749, 1736, 1724};
    for (int row = 0; row < 16; ++row) {
        EXPECT_EQ(period_table[row][0], firsts[row]) << "row " << row;
        EXPECT_TRUE(period_table[row][83] == 12 || period_table[row][83] == 13) << "row " << row;
        for (int n = 1; n < 84; ++n) EXPECT_LT(period_table[row][n], period_table[row][n - 1]) << "row " << row;
    }
}

TEST(MusicModule, SignaturesAndShortBlocks) {
    const struct { const char* signature; int32_t result; uint32_t channels; } cases[] = {
        {"M.K.", 0, 4}, {"M!K!", 0, 4}, {"6CHN", 0, 6}, {"8CHN", 0, 8}, {"16CH", 0, 16}, {"32CH", 0, 32},
        {"FLT4", -100, 0}, {"\0\0\0\0", -100, 0},
    };
    for (auto c : cases) {
        ModuleImage image(c.signature, c.channels ? c.channels : 4, {0}, 1);
        MusicModule module;
        EXPECT_EQ(module.load_memory(image.bytes.data(), static_cast<uint32_t>(image.bytes.size()), 1), c.result)
            << c.signature;
        EXPECT_EQ(module_channel_count(image.bytes.data(), static_cast<uint32_t>(image.bytes.size())), c.channels)
            << c.signature;
    }
    ModuleImage image("M.K.", 4, {0, 2}, 3, 100);
    MusicModule module;
    EXPECT_EQ(module.load_memory(nullptr, 10, 1), -10);
    // Cut inside the header or the patterns: refused; cut inside the sample data: loads.
    for (uint32_t size : {0u, 500u, 1083u, 1084u, 1084u + 3 * 1024 - 1})
        EXPECT_EQ(module.load_memory(image.bytes.data(), size, 1), -100) << "size " << size;
    EXPECT_EQ(module.load_memory(image.bytes.data(), 1084 + 3 * 1024 + 10, 1), 0);
    EXPECT_EQ(module.data_size, 1084u + 3 * 1024 + 10);
    ModuleImage empty_song("M.K.", 4, {}, 1);
    EXPECT_EQ(module_pattern_count(empty_song.bytes.data()), 1u);
}

TEST(ModulePlayer, ShortSampleDataIsCutAndTinyLoopsDoNotLoop) {
    Fixture f;
    ModuleImage image("M.K.", 4, {0}, 1, 100);
    image.bytes[20 + 26] = 0; image.bytes[20 + 27] = 10;    // loop start 10 words
    image.bytes[20 + 28] = 0; image.bytes[20 + 29] = 1;     // loop length 1 word: no loop
    ASSERT_EQ(f.module.load_memory(image.bytes.data(), static_cast<uint32_t>(image.bytes.size()) - 50, 0), 0);
    ASSERT_EQ(f.system.play_module(&f.module, play_any_voice), 0);
    ModulePlayer& p = f.system.module_players[0];
    EXPECT_EQ(p.samples[1].length, uint64_t{150} << 16);
    EXPECT_EQ(p.samples[1].loop_length, 0u);
    // A sample of 80,000 bytes keeps its length past 32 bits of 16.16.
    ModuleImage big("M.K.", 4, {0}, 1, 40000);
    MusicModule big_module;
    ASSERT_EQ(big_module.load_memory(big.bytes.data(), static_cast<uint32_t>(big.bytes.size()), 0), 0);
    p.stop();
    ASSERT_EQ(f.system.play_module(&big_module, play_any_voice), 0);
    EXPECT_EQ(p.samples[1].length, uint64_t{80000} << 16);
    EXPECT_EQ(wrap_into_loop(uint64_t{1000} << 16, uint64_t{10} << 16, uint64_t{4} << 16), uint64_t{12} << 16);
    EXPECT_EQ(wrap_into_loop(uint64_t{13} << 16, uint64_t{10} << 16, uint64_t{4} << 16), uint64_t{13} << 16);
}

TEST(ModulePlayer, TimingFirstRowAndSpeedEffects) {
    Fixture f;
    ModuleImage image("M.K.", 4, {0}, 1);
    image.note(0, 1, 0, 0, 0, 15, 32);   // speed 32
    image.note(0, 2, 1, 0, 0, 15, 33);   // tick rate 13
    ASSERT_EQ(f.module.load_memory(image.bytes.data(), static_cast<uint32_t>(image.bytes.size()), 0), 0);
    ASSERT_EQ(f.system.play_module(&f.module, play_any_voice), 0);
    ModulePlayer& p = f.system.module_players[0];
    EXPECT_TRUE(p.advance_frame());          // the first frame reads row 0
    EXPECT_EQ(p.samples_per_tick, 882u);
    EXPECT_EQ(p.current_row(), 1u);
    // A row of speed 6 takes 6 ticks of samples_per_tick + 1 frames.
    int frames = 0;
    while (p.current_row() == 1) { p.advance_frame(); ++frames; }
    EXPECT_EQ(frames, 6 * 883 + 1);   // six ticks, then the frame that reads row 2
    EXPECT_EQ(p.speed, 32u);
    while (p.current_row() == 2) p.advance_frame();
    EXPECT_EQ(p.tick_rate, 13u);
    EXPECT_EQ(p.samples_per_tick, ((uint64_t{44100} * 65536) / (256 * 13)) >> 8);
    // Below 173 Hz the frequency term stays 1 instead of dividing by zero.
    p.frequency = 100;
    p.compute_samples_per_tick();
    EXPECT_EQ(p.samples_per_tick, ((uint64_t{44100} * 65536) / 13) >> 8);
}

TEST(ModulePlayer, RowWalksOfJumpsBreaksAndLoops) {
    struct Note { uint32_t pattern, row, channel, effect, parameter; };
    struct Case {
        const char* name;
        std::vector<uint8_t> orders;
        uint8_t loop;
        std::vector<Note> notes;
        std::vector<int64_t> expected_prefix;
        size_t expected_rows;   // rows read before the song stops (0: did not stop)
    };
    const Case cases[] = {
        {"plain song ends after its last order", {0, 1}, 0, {}, {0, 1, 2}, 128},
        {"D12 goes to row 12 of the next order", {0, 0}, 0, {{0, 0, 1, 13, 0x12}}, {0, 64 + 12, 64 + 13}, 1 + 52},
        {"D with row 70 goes to row 0", {0, 1}, 0, {{0, 0, 1, 13, 0x70}}, {0, 64, 65}, 65},
        {"B back to an earlier order ends a non-looping song", {0, 1}, 0, {{1, 3, 0, 11, 0}}, {0, 1}, 64 + 4},
        {"B forward jumps", {0, 1, 1}, 0, {{0, 0, 0, 11, 2}}, {0, 128, 129}, 65},
        {"B beyond the song stops", {0, 0}, 1, {{0, 5, 0, 11, 9}}, {0, 1, 2}, 6},
        {"E6 loop plays the section y + 1 times", {0}, 0, {{0, 2, 0, 14, 0x60}, {0, 4, 0, 14, 0x62}},
         {0, 1, 2, 3, 4, 2, 3, 4, 2, 3, 4, 5}, 64 + 6},
        {"EE2 repeats a row's ticks but reads it once", {0}, 0, {{0, 0, 0, 14, 0xE2}}, {0, 1, 2}, 64},
        {"looping song restarts at the restart position", {0, 1}, 1, {}, {0, 1}, 0},
    };
    for (const Case& c : cases) {
        Fixture f;
        ModuleImage image("M.K.", 4, c.orders, 2);
        for (const Note& n : c.notes) image.note(n.pattern, n.row, n.channel, 0, 0, n.effect, n.parameter);
        f.module.set_loop(c.loop);
        ASSERT_EQ(f.module.load_memory(image.bytes.data(), static_cast<uint32_t>(image.bytes.size()), 0), 0) << c.name;
        ASSERT_EQ(f.system.play_module(&f.module, play_any_voice), 0) << c.name;
        ModulePlayer& p = f.system.module_players[0];
        std::vector<int64_t> rows = row_walk(p, 400);
        ASSERT_GE(rows.size(), c.expected_prefix.size()) << c.name;
        for (size_t i = 0; i < c.expected_prefix.size(); ++i) EXPECT_EQ(rows[i], c.expected_prefix[i]) << c.name << " row " << i;
        if (c.expected_rows) {
            EXPECT_EQ(rows.size(), c.expected_rows) << c.name;
            EXPECT_TRUE(p.stopped) << c.name;
        } else {
            EXPECT_EQ(rows.size(), 400u) << c.name;
            EXPECT_EQ(rows[128], 0) << c.name;
        }
    }
}

TEST(ModulePlayer, ChannelEffectsOverTicks) {
    Fixture f;
    ModuleImage image("8CHN", 8, {0}, 1, 64);
    image.note(0, 0, 0, 1, 428, 10, 0x0F);      // A0F: volume down 15 per tick
    image.note(0, 0, 1, 1, 428, 14, 0xC0);      // EC0: cut on the first tick
    image.note(0, 0, 2, 1, 0, 14, 0xD2);        // ED2 with no note yet
    image.note(0, 0, 3, 40, 428, 12, 0x80);     // sample 40 means none; C80 not clamped
    image.note(0, 0, 4, 1, 428, 1, 200);        // slide up stops at 13
    image.note(0, 0, 5, 1, 4000, 4, 0xF8);      // a period beyond the tables
    image.note(0, 0, 6, 1, 428, 0, 0x47);       // arpeggio
    ASSERT_EQ(f.module.load_memory(image.bytes.data(), static_cast<uint32_t>(image.bytes.size()), 0), 0);
    ASSERT_EQ(f.system.play_module(&f.module, play_any_voice), 0);
    ModulePlayer& p = f.system.module_players[0];
    p.set_pan(255);
    EXPECT_EQ(p.channel[0].pan, 64u);
    EXPECT_EQ(p.channel[1].pan, 192u);
    p.set_pan(0);
    EXPECT_EQ(p.channel[0].pan, 127u);
    EXPECT_EQ(p.channel[1].pan, 129u);
    p.advance_frame();
    EXPECT_EQ(p.channel[0].volume, 40u);
    EXPECT_EQ(p.channel[3].sample_number, 0u);
    EXPECT_EQ(p.channel[3].volume, 0x80u);
    EXPECT_EQ(p.channel[4].period, 428u);
    EXPECT_EQ(p.channel[0].step, f.system.step_table[428]);
    EXPECT_EQ(p.channel[6].arpeggio_steps[1], f.system.step_table[period_table[0][24 + 4]]);
    const uint32_t expected_volume[] = {25, 10, 0, 0, 0};
    const uint32_t expected_delay[] = {0, 0xFFFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF};   // fires on tick 3
    for (int tick = 1; tick <= 5; ++tick) {
        for (uint32_t i = 0; i <= p.samples_per_tick; ++i) p.advance_frame();
        EXPECT_EQ(p.channel[0].volume, expected_volume[tick - 1]) << "tick " << tick;
        EXPECT_EQ(p.channel[1].effective_volume, 0u) << "tick " << tick;
        EXPECT_EQ(p.channel[2].note_delay_counter, expected_delay[tick - 1]) << "tick " << tick;
        EXPECT_GE(p.channel[4].period, 13u);
        EXPECT_LE(p.channel[5].step, f.system.step_table[1]);
    }
    EXPECT_EQ(p.channel[4].period, 13u);
}

TEST(ModulePlayer, PlayRefusalsAndPositions) {
    Fixture f;
    ModuleImage image("M.K.", 4, {0, 0, 0}, 1);
    MusicModule empty;
    EXPECT_EQ(f.system.play_module(&empty, play_any_voice), -1000);
    ASSERT_EQ(f.module.load_memory(image.bytes.data(), static_cast<uint32_t>(image.bytes.size()), 0), 0);
    EXPECT_EQ(f.system.play_module(&f.module, 1), -1000);        // player 1 does not exist
    EXPECT_EQ(f.system.play_module(&f.module, play_any_voice | play_paused), 0);
    EXPECT_EQ(f.system.play_module(&f.module, play_any_voice), -1000);
    ModulePlayer& p = f.system.module_players[0];
    EXPECT_TRUE(p.is_paused());
    EXPECT_EQ(p.get_length(), 192);
    p.set_position(2 * 64 + 5);
    EXPECT_EQ(p.get_position(), 133);
    p.set_position(3 * 64);                                        // past the song: ignored
    EXPECT_EQ(p.get_position(), 133);
    f.system.initialised = 0;
    p.stop();
    EXPECT_EQ(f.system.play_module(&f.module, play_any_voice), -1000);
}
