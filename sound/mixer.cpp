// The mixer: sums the module players' channels and the sample voices into runs of output
// frames, then clips and stores them. A module's channels are mixed a whole tick (or up to
// a sample's loop point) at a time, since nothing about them changes in between.
#include "sound/mixer.h"

#include <cstring>

#include "sound/module_player.h"
#include "sound/sample_voice.h"
#include "sound/sound_system.h"

namespace sound {

namespace {

// Frames summed before they are clipped and stored; sums live on the stack.
constexpr uint32_t run_frames = 256;

struct RunSums {
    int32_t left[run_frames];
    int32_t right[run_frames];
};

// Adds count frames of one channel from its current position, with the channel's
// weights unchanged across them. Each piece runs up to the loop's end (or the sample's)
// with a 32-bit fraction over a byte pointer; the position is kept in 64 bits between them.
inline void add_channel_run(ModuleChannel& c, const ModuleSampleEntry& s, int32_t left_weight, int32_t right_weight,
                            bool stereo_output, int32_t* left, int32_t* right, uint32_t count) {
    const uint64_t limit = s.loop_length != 0 ? s.loop_start + s.loop_length : s.length;
    const uint32_t step = c.step;
    const bool silent = left_weight == 0 && right_weight == 0;
    // The fraction may grow by at most this before it would wrap; one frame always goes
    // (its sample is read before the step is added).
    uint32_t most_frames = step == 0 ? count : (0xFFFFFFFFu - 0xFFFFu) / step;
    if (most_frames == 0) most_frames = 1;
    uint32_t done = 0;
    while (done < count) {
        c.position = wrap_into_loop(c.position, s.loop_start, s.loop_length);
        if (c.position >= s.length) return;
        uint32_t piece = count - done;
        if (step != 0) {
            uint64_t before_limit = (limit - c.position + step - 1) / step;
            if (before_limit < piece) piece = static_cast<uint32_t>(before_limit);
            if (most_frames < piece) piece = most_frames;
        }
        if (!silent) {
            const int8_t* base = s.data + (c.position >> 16);
            uint32_t fraction = static_cast<uint32_t>(c.position & 0xFFFF);
            int32_t* l = left + done;
            if (stereo_output) {
                int32_t* r = right + done;
                for (uint32_t k = 0; k < piece; ++k, fraction += step) {
                    int32_t v = base[fraction >> 16];
                    l[k] += left_weight * v;
                    r[k] += right_weight * v;
                }
            } else {
                for (uint32_t k = 0; k < piece; ++k, fraction += step) l[k] += left_weight * base[fraction >> 16];
            }
        }
        c.position += uint64_t{piece} * step;
        done += piece;
    }
}

// count frames of a player's channels; the player's frame steps have already run.
inline void add_module_channels(ModulePlayer& player, bool stereo_output, int32_t* left, int32_t* right,
                                uint32_t count) {
    for (uint32_t index = 0; index < player.channels; ++index) {
        ModuleChannel& c = player.channel[index];
        const ModuleSampleEntry& s = player.samples[c.sample_number];
        if (s.data == nullptr) continue;
        int32_t e = static_cast<int32_t>(c.effective_volume);
        int32_t right_share = (e * static_cast<int32_t>(c.pan)) >> 8;
        if (stereo_output) add_channel_run(c, s, (e - right_share) * 2, right_share * 2, true, left, right, count);
        else add_channel_run(c, s, e, 0, false, left, right, count);
    }
}

// A player's part of a run: ticks and rows split it into pieces of unchanged channels.
inline void add_module_player(ModulePlayer& player, bool stereo_output, RunSums& sums, uint32_t count) {
    uint32_t done = 0;
    while (done < count && player.is_playing()) {
        uint32_t piece = player.advance_frames(count - done);
        if (piece == 0) return;
        add_module_channels(player, stereo_output, sums.left + done, sums.right + done, piece);
        done += piece;
    }
}

// Refills a voice whose decoded data ran out; false when it stopped instead.
inline bool refill(SampleVoice& voice) {
    if (voice.decode_stream(no_position) == 0) return true;
    if (voice.loop) return voice.restart_loop();
    voice.stop();
    return false;
}

inline void add_sample_frame(SampleVoice& voice, uint32_t mix_rate, bool stereo_output, int32_t& sum_left,
                             int32_t& sum_right) {
    if (voice.recompute) {
        // 24.8 frames of the sample per output frame; 64 bits so that rates of 65,536 Hz
        // and more do not wrap.
        uint64_t step = (uint64_t{voice.frequency} << 16) / (uint64_t{mix_rate} << 8);
        voice.step = step > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(step);
        voice.recompute = 0;
    }
    if (voice.read_index >= voice.decoded_length && !refill(voice)) return;
    uint64_t i = voice.read_index >> 8;
    int32_t left, right = 0;
    if (voice.eight_bit) {
        const uint8_t* bytes = voice.data;
        if (voice.stereo) {
            left = (int32_t{bytes[2 * i]} - 128) * 256;
            right = (int32_t{bytes[2 * i + 1]} - 128) * 256;
        } else {
            left = (int32_t{bytes[i]} - 128) * 256;
        }
    } else {
        const int16_t* words = reinterpret_cast<const int16_t*>(voice.data);
        if (voice.stereo) {
            left = words[2 * i];
            right = words[2 * i + 1];
        } else {
            left = words[i];
        }
    }
    int32_t v = static_cast<int32_t>(voice.effective_volume);
    int32_t pan = static_cast<int32_t>(voice.pan);
    if (!stereo_output) {
        sum_left += v * left + v * right;
    } else if (pan != 128) {
        int32_t b = (2 * v * pan) >> 8;
        int32_t a = 2 * v - b;
        sum_left += a * left + a * right;
        sum_right += b * left + b * right;
    } else {
        sum_left += v * left;
        sum_right += v * (voice.stereo ? right : left);
    }
    voice.read_index += voice.step;
    voice.position += voice.step;
}

inline void add_sample_voice(SampleVoice& voice, uint32_t mix_rate, bool stereo_output, RunSums& sums,
                             uint32_t count) {
    for (uint32_t k = 0; k < count && voice.is_playing(); ++k)
        add_sample_frame(voice, mix_rate, stereo_output, sums.left[k], sums.right[k]);
}

inline int32_t clip(int32_t value, int32_t low, int32_t high) {
    return value < low ? low : (value > high ? high : value);
}

}  // namespace

void mix(SoundSystem& system, void* buffer, uint32_t byte_count) {
    // Inactive voices are filtered out once per buffer.
    uint32_t players = 0, voices = 0;
    for (uint32_t i = 0; i < system.module_player_count; ++i)
        if (system.module_players[i].is_playing()) system.active_players[players++] = &system.module_players[i];
    for (uint32_t i = 0; i < system.sample_voice_count; ++i)
        if (system.sample_voices[i].is_playing()) system.active_voices[voices++] = &system.sample_voices[i];

    const bool sixteen = system.sixteen_bit != 0;
    const bool stereo_output = system.stereo != 0;
    if (players == 0 && voices == 0) {
        std::memset(buffer, sixteen ? 0 : 0x80, byte_count & ~3u);
        std::memset(static_cast<uint8_t*>(buffer) + (byte_count & ~3u), sixteen ? 0 : 0x80, byte_count & 3u);
        return;
    }

    const uint32_t sample_count = sixteen ? byte_count / 2 : byte_count;
    const uint32_t frames = stereo_output ? sample_count / 2 : sample_count;
    int16_t* out16 = static_cast<int16_t*>(buffer);
    uint8_t* out8 = static_cast<uint8_t*>(buffer);
    RunSums music, effects;
    for (uint32_t first = 0; first < frames; first += run_frames) {
        const uint32_t count = frames - first < run_frames ? frames - first : run_frames;
        std::memset(music.left, 0, count * sizeof(int32_t));
        std::memset(music.right, 0, count * sizeof(int32_t));
        for (uint32_t p = 0; p < players; ++p) add_module_player(*system.active_players[p], stereo_output, music, count);
        if (voices != 0) {
            std::memset(effects.left, 0, count * sizeof(int32_t));
            std::memset(effects.right, 0, count * sizeof(int32_t));
            for (uint32_t v = 0; v < voices; ++v)
                add_sample_voice(*system.active_voices[v], system.mix_rate, stereo_output, effects, count);
            for (uint32_t k = 0; k < count; ++k) {
                music.left[k] += effects.left[k] >> 7;
                music.right[k] += effects.right[k] >> 7;
            }
        }
        if (sixteen && stereo_output) {
            for (uint32_t k = 0; k < count; ++k) {
                out16[2 * k] = static_cast<int16_t>(clip(music.left[k], -32768, 32767));
                out16[2 * k + 1] = static_cast<int16_t>(clip(music.right[k], -32768, 32767));
            }
            out16 += 2 * count;
        } else if (sixteen) {
            for (uint32_t k = 0; k < count; ++k) out16[k] = static_cast<int16_t>(clip(music.left[k], -32768, 32767));
            out16 += count;
        } else {
            for (uint32_t k = 0; k < count; ++k) {
                *out8++ = static_cast<uint8_t>(clip(music.left[k] >> 8, -128, 127) + 128);
                if (stereo_output) *out8++ = static_cast<uint8_t>(clip(music.right[k] >> 8, -128, 127) + 128);
            }
        }
    }
}

void mix_callback(void* user, void* buffer, uint32_t byte_count) {
    if (user != nullptr) mix(*static_cast<SoundSystem*>(user), buffer, byte_count);
}

}  // namespace sound
