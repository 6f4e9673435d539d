// The mixer: per output frame, advance and sum the module players' channels and the sample
// voices, then clip and store the frame.
#include "sound/mixer.h"

#include <cstring>

#include "sound/module_player.h"
#include "sound/sample_voice.h"
#include "sound/sound_system.h"

namespace sound {

namespace {

struct FrameSums {
    int32_t left;
    int32_t right;
};

// One frame of a player's channels; the player's frame step has already run.
inline void add_module_channels(ModulePlayer& player, bool stereo_output, FrameSums& sums) {
    for (uint32_t index = 0; index < player.channels; ++index) {
        ModuleChannel& c = player.channel[index];
        const ModuleSampleEntry& s = player.samples[c.sample_number];
        if (s.data == nullptr) continue;
        c.position = wrap_into_loop(c.position, s.loop_start, s.loop_length);
        if (c.position >= s.length) continue;
        int32_t v = s.data[c.position >> 16];
        int32_t e = static_cast<int32_t>(c.effective_volume);
        if (stereo_output) {
            int32_t right_share = (e * static_cast<int32_t>(c.pan)) >> 8;
            sums.left += (e - right_share) * 2 * v;
            sums.right += right_share * 2 * v;
        } else {
            sums.left += e * v;
        }
        c.position += c.step;
    }
}

// Refills a voice whose decoded data ran out; false when it stopped instead.
inline bool refill(SampleVoice& voice) {
    if (voice.decode_stream(no_position) == 0) return true;
    if (voice.loop) return voice.restart_loop();
    voice.stop();
    return false;
}

inline void add_sample_voice(SampleVoice& voice, uint32_t mix_rate, bool stereo_output, FrameSums& sums) {
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
        sums.left += v * left + v * right;
    } else if (pan != 128) {
        int32_t b = (2 * v * pan) >> 8;
        int32_t a = 2 * v - b;
        sums.left += a * left + a * right;
        sums.right += b * left + b * right;
    } else {
        sums.left += v * left;
        sums.right += v * (voice.stereo ? right : left);
    }
    voice.read_index += voice.step;
    voice.position += voice.step;
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
    for (uint32_t frame = 0; frame < frames; ++frame) {
        FrameSums music{0, 0};
        for (uint32_t p = 0; p < players; ++p) {
            ModulePlayer& player = *system.active_players[p];
            if (!player.is_playing()) continue;
            if (!player.advance_frame()) continue;
            add_module_channels(player, stereo_output, music);
        }
        FrameSums effects{0, 0};
        for (uint32_t v = 0; v < voices; ++v) {
            SampleVoice& voice = *system.active_voices[v];
            if (!voice.is_playing()) continue;
            add_sample_voice(voice, system.mix_rate, stereo_output, effects);
        }
        int32_t left = music.left + (effects.left >> 7);
        int32_t right = music.right + (effects.right >> 7);
        if (sixteen) {
            *out16++ = static_cast<int16_t>(clip(left, -32768, 32767));
            if (stereo_output) *out16++ = static_cast<int16_t>(clip(right, -32768, 32767));
        } else {
            *out8++ = static_cast<uint8_t>(clip(left >> 8, -128, 127) + 128);
            if (stereo_output) *out8++ = static_cast<uint8_t>(clip(right >> 8, -128, 127) + 128);
        }
    }
}

void mix_callback(void* user, void* buffer, uint32_t byte_count) {
    if (user != nullptr) mix(*static_cast<SoundSystem*>(user), buffer, byte_count);
}

}  // namespace sound
