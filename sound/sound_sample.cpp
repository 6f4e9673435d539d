// Loading samples: RIFF WAVE files and blocks (PCM and Microsoft ADPCM) and Ogg Vorbis.
#include "sound/sound_sample.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "sound/ogg_decoder.h"
#include "sound/sound_codes.h"
#include "sound/sound_paths.h"
#include "sound/voice.h"

namespace sound {

namespace {

uint16_t little_word(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t little_dword(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

constexpr int adaptation_table[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                                      768, 614, 512, 409, 307, 230, 230, 230};

// The format chunk's ADPCM part ends after seven coefficient pairs.
constexpr uint32_t adpcm_format_size = 22 + 7 * 4;

}  // namespace

SoundSample::~SoundSample() { unload(); }

void SoundSample::unload() {
    if (stream != nullptr) {
        stream->close();
        delete stream;
        stream = nullptr;
    }
    if (owns_data && data != nullptr) std::free(data);
    data = nullptr;
    owns_data = 0;
    kind = sample_empty;
}

void SoundSample::set_frequency(uint32_t hertz) {
    frequency = hertz;
    pitch = pitch_for_frequency(hertz, base_rate);
}

int32_t SoundSample::load_file(const WCHAR* path, uint32_t flags) {
    unload();
    if (load_ogg_file(path, flags) == sound_ok) return sound_ok;
    unload();
    int32_t result = load_wav_file(path);
    if (result != sound_ok) unload();
    return result;
}

int32_t SoundSample::load_memory(const void* block, uint32_t size, uint32_t flags) {
    unload();
    if (load_ogg_memory(block, size, flags) == sound_ok) return sound_ok;
    unload();
    int32_t result = load_wav_memory(block, size, flags);
    if (result != sound_ok) unload();
    return result;
}

// ---- Ogg Vorbis ----

int32_t SoundSample::load_ogg_file(const WCHAR* path, uint32_t flags) {
    std::u16string resolved;
    if (!resolve_sound_path(path, resolved)) return sound_not_found;
    stream = new (std::nothrow) StreamSource;
    if (stream == nullptr) return sound_out_of_memory;
    if (!stream->open(resolved.c_str(), 0)) {
        delete stream;
        stream = nullptr;
        return sound_not_found;
    }
    return finish_ogg(flags, nullptr);
}

int32_t SoundSample::load_ogg_memory(const void* block, uint32_t size, uint32_t flags) {
    if (block == nullptr) return sound_out_of_memory;
    if (size == 0) return sound_unknown_format;
    uint8_t* owned = nullptr;
    const void* source = block;
    if (flags & load_copy) {
        owned = static_cast<uint8_t*>(std::malloc(size));
        if (owned == nullptr) return sound_out_of_memory;
        std::memcpy(owned, block, size);
        source = owned;
    }
    stream = new (std::nothrow) StreamSource;
    if (stream == nullptr || !stream->open(source, size)) {
        delete stream;
        stream = nullptr;
        std::free(owned);
        return sound_out_of_memory;
    }
    return finish_ogg(flags, owned);
}

// Probes the open stream; either decodes it whole (kind 1) or keeps it for the voices.
int32_t SoundSample::finish_ogg(uint32_t flags, uint8_t* owned_block) {
    auto fail = [&](int32_t code) {
        if (stream != nullptr) {
            stream->close();
            delete stream;
            stream = nullptr;
        }
        std::free(owned_block);
        return code;
    };
    OggDecoder* probe = open_ogg_decoder(stream);
    if (probe == nullptr) return fail(sound_unknown_format);
    vorbis_info* info = tremor::ov_info(&probe->file, -1);
    ogg_int64_t total = tremor::ov_pcm_total(&probe->file, -1);
    // Only mono and stereo can be mixed; a rate of 0 would divide by zero later.
    if (info == nullptr || info->channels < 1 || info->channels > 2 || info->rate <= 0 || total < 0 ||
        total > 0x7FFFFFFF) {
        close_ogg_decoder(probe);
        return fail(sound_unknown_format);
    }
    uint32_t channel_count = static_cast<uint32_t>(info->channels);
    owns_data = 0;
    eight_bit = 0;
    stereo = channel_count == 2 ? 1 : 0;
    base_rate = frequency = static_cast<uint32_t>(info->rate);
    pitch = 128;
    length = static_cast<uint32_t>(total);

    if (flags & load_decode_whole) {
        uint64_t bytes = uint64_t{length} * channel_count * 2;
        uint8_t* pcm = bytes > 0x7FFFFFFF ? nullptr : static_cast<uint8_t*>(std::malloc(bytes == 0 ? 1 : bytes));
        if (pcm == nullptr) {
            close_ogg_decoder(probe);
            return fail(sound_out_of_memory);
        }
        uint64_t filled = 0;
        int bitstream = 0;
        while (filled < bytes) {
            uint64_t left = bytes - filled;
            int32_t piece = read_ogg_pcm(probe, pcm + filled, left < 512 ? static_cast<int32_t>(left) : 512, &bitstream);
            if (piece < 1) break;
            filled += static_cast<uint32_t>(piece);
        }
        std::memset(pcm + filled, 0, static_cast<size_t>(bytes - filled));
        close_ogg_decoder(probe);
        // The compressed stream (and an owned copy of it) is no longer needed.
        stream->close();
        delete stream;
        stream = nullptr;
        std::free(owned_block);
        data = pcm;
        owns_data = 1;
        kind = sample_in_memory;
        return sound_ok;
    }
    close_ogg_decoder(probe);
    // The voices decode from the stream; an owned compressed copy stays with the sample.
    data = owned_block;
    owns_data = owned_block != nullptr ? 1 : 0;
    kind = sample_ogg_stream;
    return sound_ok;
}

// ---- RIFF WAVE ----

// Reads the format chunk body (format_size bytes of it present) into the sample's fields
// and checks it can be played.
int32_t SoundSample::check_format(const uint8_t* format, uint32_t format_size) {
    if (format_size < 16) return sound_read_error;
    format_tag = little_word(format);
    channels = little_word(format + 2);
    rate = little_dword(format + 4);
    average_bytes_per_second = little_dword(format + 8);
    block_align = little_word(format + 12);
    bits_per_sample = little_word(format + 14);
    if ((bits_per_sample != 4 && bits_per_sample != 8 && bits_per_sample != 16) || (channels != 1 && channels != 2))
        return sound_unknown_format;
    if (rate == 0) return sound_unknown_format;
    if (bits_per_sample != 4) return sound_ok;
    if (format_tag != 2 || format_size < adpcm_format_size) return sound_unknown_format;
    samples_per_block = little_word(format + 18);
    coefficient_count = little_word(format + 20);
    if (coefficient_count != 7) return sound_unknown_format;
    for (int i = 0; i < 7; ++i) {
        coefficients[i][0] = static_cast<int16_t>(little_word(format + 22 + 4 * i));
        coefficients[i][1] = static_cast<int16_t>(little_word(format + 24 + 4 * i));
    }
    // A block must hold its header and the codes for its samples.
    uint32_t header_bytes = 7u * channels;
    if (block_align < header_bytes || samples_per_block < 2 ||
        (uint32_t{samples_per_block} - 2) * channels > (uint32_t{block_align} - header_bytes) * 2)
        return sound_unknown_format;
    return sound_ok;
}

int32_t SoundSample::decode_adpcm(const uint8_t* bytes, uint32_t size) {
    uint32_t channel_count = channels;
    uint32_t blocks = size / block_align;
    uint64_t out_bytes = uint64_t{blocks} * samples_per_block * channel_count * 2;
    if (out_bytes == 0) return sound_read_error;
    if (out_bytes > 0x7FFFFFFF) return sound_out_of_memory;
    auto* out = static_cast<int16_t*>(std::malloc(static_cast<size_t>(out_bytes)));
    if (out == nullptr) return sound_out_of_memory;
    int16_t* write = out;
    for (uint32_t b = 0; b < blocks; ++b) {
        const uint8_t* in = bytes + uint64_t{b} * block_align;
        int32_t sample1[2], sample2[2], delta[2];
        const int16_t* coefficient[2];
        for (uint32_t c = 0; c < channel_count; ++c) {
            uint8_t predictor = in[c];
            // An index past the table uses the first pair.
            coefficient[c] = coefficients[predictor < 7 ? predictor : 0];
            delta[c] = static_cast<int16_t>(little_word(in + channel_count + 2 * c));
            sample1[c] = static_cast<int16_t>(little_word(in + 3 * channel_count + 2 * c));
            sample2[c] = static_cast<int16_t>(little_word(in + 5 * channel_count + 2 * c));
            adpcm[c].predictor = predictor;
        }
        for (uint32_t c = 0; c < channel_count; ++c) *write++ = static_cast<int16_t>(sample2[c]);
        for (uint32_t c = 0; c < channel_count; ++c) *write++ = static_cast<int16_t>(sample1[c]);
        const uint8_t* codes = in + 7 * channel_count;
        uint32_t nibbles = (uint32_t{samples_per_block} - 2) * channel_count;
        for (uint32_t n = 0; n < nibbles; ++n) {
            uint32_t c = channel_count == 2 ? (n & 1) : 0;
            uint32_t code = (n & 1) ? codes[n >> 1] & 0x0F : codes[n >> 1] >> 4;
            int64_t signed_code = code >= 8 ? int64_t{code} - 16 : int64_t{code};
            int64_t prediction = (int64_t{sample1[c]} * coefficient[c][0] + int64_t{sample2[c]} * coefficient[c][1]) / 256;
            int64_t value = prediction + signed_code * delta[c];
            if (value > 32767) value = 32767;
            if (value < -32768) value = -32768;
            sample2[c] = sample1[c];
            sample1[c] = static_cast<int32_t>(value);
            int64_t next_delta = int64_t{adaptation_table[code]} * delta[c] / 256;
            if (next_delta < 16) next_delta = 16;
            if (next_delta > 0x7FFFFFFF) next_delta = 0x7FFFFFFF;
            delta[c] = static_cast<int32_t>(next_delta);
            *write++ = static_cast<int16_t>(value);
        }
        for (uint32_t c = 0; c < channel_count; ++c) {
            adpcm[c].delta = delta[c];
            adpcm[c].sample1 = static_cast<int16_t>(sample1[c]);
            adpcm[c].sample2 = static_cast<int16_t>(sample2[c]);
        }
    }
    data = reinterpret_cast<uint8_t*>(out);
    owns_data = 1;
    eight_bit = 0;
    length = static_cast<uint32_t>(out_bytes / 2);
    return sound_ok;
}

// PCM data: referenced, copied, or taken over (owned is the block itself).
int32_t SoundSample::take_pcm(const uint8_t* bytes, uint32_t size, bool copy, uint8_t* owned) {
    if (owned != nullptr) {
        data = owned;
        owns_data = 1;
    } else if (copy) {
        data = static_cast<uint8_t*>(std::malloc(size));
        if (data == nullptr) return sound_out_of_memory;
        std::memcpy(data, bytes, size);
        owns_data = 1;
    } else {
        data = const_cast<uint8_t*>(bytes);
        owns_data = 0;
    }
    eight_bit = bits_per_sample == 8 ? 1 : 0;
    length = bits_per_sample == 8 ? size : size / 2;
    return sound_ok;
}

void SoundSample::finish_wav() {
    kind = sample_in_memory;
    stereo = channels == 2 ? 1 : 0;
    if (stereo) length /= 2;
    base_rate = rate;
    frequency = base_rate;
    pitch = 128;
}

int32_t SoundSample::load_wav_file(const WCHAR* path) {
    std::u16string resolved;
    if (!resolve_sound_path(path, resolved)) return sound_not_found;
    StreamSource file;
    if (!file.open(resolved.c_str(), 0)) return sound_not_found;
    uint8_t header[8];
    if (!file.seek(12, from_start) || file.read(header, 8) < 8 || std::memcmp(header, "fmt ", 4) != 0)
        return sound_read_error;
    uint32_t format_size = little_dword(header + 4);
    uint8_t format[80] = {};
    int32_t got = file.read(format, sizeof format);
    uint32_t present = got < 0 ? 0 : static_cast<uint32_t>(got);
    int32_t checked = check_format(format, present < format_size ? present : format_size);
    if (checked != sound_ok) return checked;
    if (format_size > 0x7FFFFFFF - 20 || !file.seek(static_cast<int32_t>(20 + format_size), from_start))
        return sound_read_error;
    uint32_t data_size = 0;
    for (;;) {
        if (file.read(header, 8) < 8) return sound_read_error;
        uint32_t chunk_size = little_dword(header + 4);
        if (std::memcmp(header, "data", 4) == 0) {
            data_size = chunk_size;
            break;
        }
        if (chunk_size > 0x7FFFFFFF || !file.seek(static_cast<int32_t>(chunk_size), from_current))
            return sound_read_error;
    }
    // A file cut short holds less than its chunk says: read what is there.
    int32_t total = file.stream_size();
    int32_t here = file.tell();
    if (total >= 0 && here >= 0 && data_size > static_cast<uint32_t>(total - here))
        data_size = static_cast<uint32_t>(total - here);
    if (data_size == 0) return sound_read_error;
    auto* bytes = static_cast<uint8_t*>(std::malloc(data_size));
    if (bytes == nullptr) return sound_out_of_memory;
    int32_t read = file.read(bytes, data_size);
    file.close();
    if (read <= 0) {
        std::free(bytes);
        return sound_read_error;
    }
    data_size = static_cast<uint32_t>(read);
    int32_t result;
    if (bits_per_sample == 4) {
        result = decode_adpcm(bytes, data_size);
        std::free(bytes);
    } else {
        result = take_pcm(bytes, data_size, false, bytes);
    }
    if (result != sound_ok) return result;
    finish_wav();
    return sound_ok;
}

int32_t SoundSample::load_wav_memory(const void* block, uint32_t size, uint32_t flags) {
    if (block == nullptr) return sound_out_of_memory;
    auto* bytes = static_cast<const uint8_t*>(block);
    if (size < 20 || std::memcmp(bytes + 12, "fmt ", 4) != 0) return sound_read_error;
    uint32_t format_size = little_dword(bytes + 16);
    uint32_t present = size - 20;
    int32_t checked = check_format(bytes + 20, present < format_size ? present : format_size);
    if (checked != sound_ok) return checked;
    // Walk the chunks after the format chunk; the walk stops at the end of the block.
    uint64_t at = 20 + uint64_t{format_size};
    for (;;) {
        if (at + 8 > size) return sound_read_error;
        uint32_t chunk_size = little_dword(bytes + at + 4);
        if (std::memcmp(bytes + at, "data", 4) == 0) break;
        at += 8 + uint64_t{chunk_size};
    }
    uint32_t data_size = little_dword(bytes + at + 4);
    uint64_t body = at + 8;
    if (data_size > size - body) data_size = static_cast<uint32_t>(size - body);
    if (data_size == 0) return sound_read_error;
    int32_t result = bits_per_sample == 4 ? decode_adpcm(bytes + body, data_size)
                                          : take_pcm(bytes + body, data_size, (flags & load_copy) != 0, nullptr);
    if (result != sound_ok) return result;
    finish_wav();
    return sound_ok;
}

}  // namespace sound
