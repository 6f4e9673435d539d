// Ogg Vorbis decoders that read a sample's shared stream, each from a byte position of
// its own.
#pragma once

#include <cstdint>

#include <tremor/ivorbisfile.h>

#include "sound/streams.h"

namespace sound {

// Tremor is opened on first use, so a run that decodes no Ogg Vorbis starts without it.
// Its functions are called as tremor::ov_read and so on, through slots that are set
// once a decoder has opened.
#define SOUND_TREMOR_FUNCTIONS(F) \
    F(ov_clear) F(ov_info) F(ov_open_callbacks) F(ov_pcm_seek) F(ov_pcm_tell) F(ov_pcm_total) F(ov_read)
namespace tremor {
#define SOUND_TREMOR_SLOT(name) extern decltype(&::name) name;
SOUND_TREMOR_FUNCTIONS(SOUND_TREMOR_SLOT)
#undef SOUND_TREMOR_SLOT
}  // namespace tremor

// Loads Tremor once; false when the host lacks it (every Ogg Vorbis load then fails).
bool bind_tremor();

// One decoder: the Vorbis file state, this decoder's byte position in the stream, and
// the stream (owned by the sample, shared by all its decoders).
struct OggDecoder {
    OggVorbis_File file;
    uint32_t position;
    StreamSource* stream;
};

// Opens a decoder at the start of the stream; null when the stream is not Ogg Vorbis,
// Tremor cannot be loaded or memory runs out.
OggDecoder* open_ogg_decoder(StreamSource* stream);

// Clears the decoder's Vorbis state and frees it; null is ignored.
void close_ogg_decoder(OggDecoder* decoder);

// Reads decoded 16-bit PCM into buffer: the bytes read, 0 at the end of the stream.
// Holes in the stream are skipped; any other decoder error ends the stream.
int32_t read_ogg_pcm(OggDecoder* decoder, void* buffer, int32_t length, int* bitstream);

}  // namespace sound
