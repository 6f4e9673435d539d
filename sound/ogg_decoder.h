// Ogg Vorbis decoders that read a sample's shared stream, each from a byte position of
// its own.
#pragma once

#include <cstdint>

#include <tremor/ivorbisfile.h>

#include "sound/streams.h"

namespace sound {

// One decoder: the Vorbis file state, this decoder's byte position in the stream, and
// the stream (owned by the sample, shared by all its decoders).
struct OggDecoder {
    OggVorbis_File file;
    uint32_t position;
    StreamSource* stream;
};

// Opens a decoder at the start of the stream; null when the stream is not Ogg Vorbis
// or memory runs out.
OggDecoder* open_ogg_decoder(StreamSource* stream);

// Clears the decoder's Vorbis state and frees it; null is ignored.
void close_ogg_decoder(OggDecoder* decoder);

// Reads decoded 16-bit PCM into buffer: the bytes read, 0 at the end of the stream.
// Holes in the stream are skipped; any other decoder error ends the stream.
int32_t read_ogg_pcm(OggDecoder* decoder, void* buffer, int32_t length, int* bitstream);

}  // namespace sound
