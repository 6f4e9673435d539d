// Sample voices: play one SoundSample from memory or by decoding its Ogg stream.
#pragma once

#include <cstdint>

#include "sound/ogg_decoder.h"
#include "sound/sound_sample.h"
#include "sound/voice.h"

namespace sound {

constexpr uint64_t no_position = ~uint64_t{0};
constexpr uint32_t stream_buffer_bytes = 1024;

class SampleVoice : public Voice {
public:
    SampleVoice() = default;
    ~SampleVoice() override;

    void set_volume(uint32_t volume) override;
    // Positions and lengths are position >> s, s = 8 (8-bit mono), 9 (16-bit mono,
    // 8-bit stereo) or 10 (16-bit stereo).
    int64_t get_position() override;
    // Moves to p << s; ignored past the end.
    void set_position(int64_t position) override;
    int64_t get_length() override;
    // Stops; an Ogg voice also frees its buffer and decoder.
    void stop() override;
    // Refills (no_position) or moves to a position (frames * 256); 0, or -1 at the end.
    virtual int32_t decode_stream(uint64_t position);

    // Sets the voice up for a sample; the caller holds the device lock. 0 or a code.
    int32_t begin(SoundSample& sample, uint8_t start_paused);
    // After the data ran out on a looping voice: back into the sample, wrapping modulo
    // its length however far past the end the step went. False (and stopped) when the
    // sample has no length or nothing more can be decoded.
    bool restart_loop();

    uint8_t* data = nullptr;
    uint32_t step = 0;              // 24.8 frames per output frame
    uint64_t position = 0;          // frames * 256
    uint64_t end_position = 0;      // length * 256
    uint8_t eight_bit = 0;
    uint8_t stereo = 0;
    uint32_t kind = sample_empty;
    uint64_t decoded_length = 0;    // frames * 256 available in data
    uint64_t read_index = 0;        // frames * 256 into data
    OggDecoder* decoder = nullptr;
    int32_t bitstream = 0;
    // The sample this voice plays, for counting a sample's instances.
    const SoundSample* sample = nullptr;

private:
    uint32_t shift() const { return 8 + (eight_bit ? 0 : 1) + (stereo ? 1 : 0); }
    uint64_t read_decoded();
};

}  // namespace sound
