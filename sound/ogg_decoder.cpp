// Decoder callbacks over a shared StreamSource, and opening and closing decoders.
#include "sound/ogg_decoder.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/backend/host_library.h"

namespace sound {

namespace tremor {
#define SOUND_TREMOR_DEFINE_SLOT(name) decltype(&::name) name = nullptr;
SOUND_TREMOR_FUNCTIONS(SOUND_TREMOR_DEFINE_SLOT)
#undef SOUND_TREMOR_DEFINE_SLOT
}  // namespace tremor

bool bind_tremor() {
    static const bool bound = [] {
        std::string ignored;
        constexpr const char* kFile = "libvorbisidec.so.1";
        void* library = platform::open_host_library(kFile, ignored);
#define SOUND_TREMOR_BIND(name) &&platform::bind_host_function(library, kFile, #name, tremor::name, ignored)
        return library SOUND_TREMOR_FUNCTIONS(SOUND_TREMOR_BIND);
#undef SOUND_TREMOR_BIND
    }();
    return bound;
}

namespace {

// The stream is shared: move it to this decoder's position, read, and put it back.
size_t read_callback(void* buffer, size_t size, size_t count, void* source) {
    auto* decoder = static_cast<OggDecoder*>(source);
    if (size == 0) return 0;
    StreamSource* stream = decoder->stream;
    int32_t saved = stream->tell();
    stream->seek(static_cast<int32_t>(decoder->position), from_start);
    uint64_t wanted = uint64_t{size} * count;
    if (wanted > 0x7FFFFFFF) wanted = 0x7FFFFFFF;
    int32_t n = stream->read(buffer, static_cast<uint32_t>(wanted));
    if (n > 0) decoder->position += static_cast<uint32_t>(n);
    stream->seek(saved, from_start);
    return n > 0 ? static_cast<size_t>(n) / size : 0;
}

int seek_callback(void* source, ogg_int64_t offset, int whence) {
    auto* decoder = static_cast<OggDecoder*>(source);
    switch (whence) {
    case SEEK_SET: decoder->position = static_cast<uint32_t>(offset); break;
    case SEEK_CUR: decoder->position += static_cast<uint32_t>(offset); break;
    case SEEK_END:
        decoder->position = static_cast<uint32_t>(decoder->stream->stream_size() + offset);
        break;
    default: break;
    }
    return 0;
}

// The stream belongs to the sample: closing a decoder leaves it open.
int close_callback(void*) { return 0; }

long tell_callback(void* source) { return static_cast<long>(static_cast<OggDecoder*>(source)->position); }

}  // namespace

OggDecoder* open_ogg_decoder(StreamSource* stream) {
    if (stream == nullptr || !bind_tremor()) return nullptr;
    auto* decoder = static_cast<OggDecoder*>(std::calloc(1, sizeof(OggDecoder)));
    if (decoder == nullptr) return nullptr;
    decoder->position = 0;
    decoder->stream = stream;
    ov_callbacks callbacks = {read_callback, seek_callback, close_callback, tell_callback};
    if (tremor::ov_open_callbacks(decoder, &decoder->file, nullptr, 0, callbacks) < 0) {
        std::free(decoder);
        return nullptr;
    }
    return decoder;
}

void close_ogg_decoder(OggDecoder* decoder) {
    if (decoder == nullptr) return;
    tremor::ov_clear(&decoder->file);
    std::free(decoder);
}

int32_t read_ogg_pcm(OggDecoder* decoder, void* buffer, int32_t length, int* bitstream) {
    // A hole is reported once per gap; a run of them is bounded so bad data cannot hang.
    for (int holes = 0; holes < 64; ++holes) {
        long n = tremor::ov_read(&decoder->file, static_cast<char*>(buffer), length, bitstream);
        if (n == OV_HOLE) continue;
        return n > 0 ? static_cast<int32_t>(n) : 0;
    }
    return 0;
}

}  // namespace sound
