// Sample voices: setting up, seeking, refilling from memory or an Ogg stream, and
// choosing a voice for a sample.
#include "sound/sample_voice.h"

#include <cstdlib>

#include "sound/module_player.h"
#include "sound/sound_codes.h"
#include "sound/sound_system.h"

namespace sound {

SampleVoice::~SampleVoice() { SampleVoice::stop(); }

void SampleVoice::set_volume(uint32_t new_volume) {
    Voice::set_volume(new_volume);
    uint32_t master = owner == nullptr ? 64 : owner->sample_volume;
    effective_volume = (master * volume) >> 6;
}

int64_t SampleVoice::get_position() { return static_cast<int64_t>(position >> shift()); }
int64_t SampleVoice::get_length() { return static_cast<int64_t>(end_position >> shift()); }

void SampleVoice::set_position(int64_t new_position) {
    if (new_position < 0 || static_cast<uint64_t>(new_position) > (end_position >> shift())) return;
    uint64_t target = static_cast<uint64_t>(new_position) << shift();
    if (owner != nullptr) owner->lock();
    decode_stream(target);
    if (owner != nullptr) owner->unlock();
}

void SampleVoice::stop() {
    // Under the device lock: the output thread may be decoding into the buffer freed here.
    // Stopping twice is harmless (the second finds nothing to free).
    if (owner != nullptr) owner->lock();
    Voice::stop();
    if (kind == sample_ogg_stream) {
        std::free(data);
        data = nullptr;
        close_ogg_decoder(decoder);
        decoder = nullptr;
    }
    if (owner != nullptr) owner->unlock();
}

// Decoded bytes as frames * 256 (a stereo frame is twice as long).
uint64_t SampleVoice::read_decoded() {
    int32_t bytes = read_ogg_pcm(decoder, data, static_cast<int32_t>(stream_buffer_bytes), &bitstream);
    uint64_t frames = uint64_t(bytes > 0 ? bytes : 0) * 128;
    return stereo ? frames / 2 : frames;
}

int32_t SampleVoice::decode_stream(uint64_t target) {
    if (kind == sample_ogg_stream) {
        if (decoder == nullptr || data == nullptr) return -1;
        if (target != no_position) {
            // Positions are frames * 256 for both kinds of voice.
            // The position is where the decoder landed, before the refill moves it on.
            tremor::ov_pcm_seek(&decoder->file, static_cast<ogg_int64_t>(target >> 8));
            ogg_int64_t at = tremor::ov_pcm_tell(&decoder->file);
            position = at < 0 ? 0 : static_cast<uint64_t>(at) * 256;
            decoded_length = read_decoded();
            read_index = 0;
        } else {
            read_index = read_index >= decoded_length ? read_index - decoded_length : 0;
            decoded_length = read_decoded();
        }
        return decoded_length != 0 ? 0 : -1;
    }
    if (kind == sample_in_memory) {
        if (target != no_position) {
            position = read_index = target;
            return 0;
        }
        if (position >= end_position) {
            decoded_length = 0;
            return -1;
        }
        decoded_length = end_position;
        return 0;
    }
    return -1;
}

bool SampleVoice::restart_loop() {
    if (end_position == 0) {
        stop();
        return false;
    }
    uint64_t wrapped = position % end_position;
    if (decode_stream(wrapped) != 0) {
        stop();
        return false;
    }
    // A seek of a streamed voice already decoded its first block: refill only when the
    // seek left nothing to read, or that block would be skipped.
    if (read_index >= decoded_length && decode_stream(no_position) != 0) {
        stop();
        return false;
    }
    return true;
}

int32_t SampleVoice::begin(SoundSample& source, uint8_t start_paused) {
    kind = source.kind;
    bitstream = 0;
    if (kind == sample_ogg_stream) {
        data = static_cast<uint8_t*>(std::malloc(stream_buffer_bytes));
        if (data == nullptr) return sound_out_of_memory;
        decoder = open_ogg_decoder(source.stream);
        if (decoder == nullptr) {
            std::free(data);
            data = nullptr;
            kind = sample_empty;
            return sound_refused;
        }
    } else {
        data = source.data;
        if (data == nullptr) return sound_refused;
    }
    sample = &source;
    base_rate = source.base_rate;
    frequency = source.frequency;
    pitch = source.pitch;
    recompute = 1;
    position = 0;
    end_position = uint64_t{source.length} * 256;
    loop = source.loop;
    pan = source.pan;
    eight_bit = source.eight_bit;
    stereo = source.stereo;
    decoded_length = 0;
    read_index = 0;
    set_volume(source.volume);
    start(start_paused);
    return sound_ok;
}

int32_t SoundSystem::play_sample(SoundSample* source, uint32_t flags) {
    if (!initialised || source == nullptr || source->kind == sample_empty) return sound_refused;
    lock();
    int32_t chosen = -1;
    int32_t limit = source->instance_limit;
    if (flags & play_any_voice) {
        int32_t playing_this = 0;
        for (uint32_t i = 0; i < sample_voice_count; ++i) {
            SampleVoice& voice = sample_voices[i];
            if (voice.stopped && !voice.paused) {
                chosen = static_cast<int32_t>(i);
                if (limit == -1) break;
            } else if (voice.sample == source) {
                ++playing_this;
            }
        }
        if (limit != -1 && playing_this >= limit) chosen = -1;
    } else {
        uint32_t index = flags & 0xFFFF;
        if (index < sample_voice_count && sample_voices[index].stopped && !sample_voices[index].paused) {
            chosen = static_cast<int32_t>(index);
            if (limit != -1) {
                int32_t busy = 0;
                for (uint32_t i = 0; i < sample_voice_count; ++i)
                    if (!(sample_voices[i].stopped && !sample_voices[i].paused)) ++busy;
                if (busy >= limit) chosen = -1;
            }
        }
    }
    if (chosen < 0) {
        unlock();
        return sound_refused;
    }
    int32_t result = sample_voices[chosen].begin(*source, (flags & play_paused) ? 1 : 0);
    unlock();
    return result == sound_ok ? static_cast<int32_t>(module_player_count) + chosen : result;
}

}  // namespace sound
