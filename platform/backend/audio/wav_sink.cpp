// The WAV sink: writes what is played into a RIFF WAVE file, at the pace playback would take.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/backend/audio/audio_sink.h"
#include "platform/backend/audio/pacer.h"

namespace platform::audio {
namespace {

constexpr uint32_t kHeaderBytes = 44;
// The largest data chunk whose RIFF size still fits 32 bits.
constexpr uint32_t kMaximumDataBytes = 0xFFFFFFFFu - (kHeaderBytes - 8);

void put_u16(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

void put_u32(uint8_t* at, uint32_t value) {
  put_u16(at, value & 0xFFFF);
  put_u16(at + 2, value >> 16);
}

// The canonical 44-byte header: RIFF, a 16-byte PCM "fmt " chunk and the "data" chunk.
void make_header(uint8_t* header, const PcmFormat& format, uint32_t data_bytes) {
  std::memcpy(header, "RIFF", 4);
  put_u32(header + 4, kHeaderBytes - 8 + data_bytes);
  std::memcpy(header + 8, "WAVEfmt ", 8);
  put_u32(header + 16, 16);
  put_u16(header + 20, 1);
  put_u16(header + 22, format.channels);
  put_u32(header + 24, format.rate);
  put_u32(header + 28, format.rate * format.bytes_per_frame());
  put_u16(header + 32, format.bytes_per_frame());
  put_u16(header + 34, format.bits);
  std::memcpy(header + 36, "data", 4);
  put_u32(header + 40, data_bytes);
}

class WavSink : public AudioSink {
 public:
  WavSink(std::FILE* file, const PcmFormat& format)
      : file_(file), format_(format), bytes_per_frame_(format.bytes_per_frame()), pacer_(format.rate) {}

  ~WavSink() override {
    write_header();
    std::fclose(file_);
  }

  uint32_t play(const uint8_t* data, uint32_t size) override {
    const uint32_t frames = std::min(size / bytes_per_frame_, pacer_.chunk_frames());
    const uint32_t bytes = frames * bytes_per_frame_;
    // Past the format's limit the sound still plays; the file keeps what fits.
    const uint32_t kept = std::min(bytes, kMaximumDataBytes - data_bytes_);
    if (kept) data_bytes_ += static_cast<uint32_t>(std::fwrite(data, 1, kept, file_));
    pacer_.consume(frames);
    return bytes;
  }

  void interrupt() override { pacer_.interrupt(); }

  void write_header() {
    uint8_t header[kHeaderBytes];
    make_header(header, format_, data_bytes_);
    std::fflush(file_);
    std::fseek(file_, 0, SEEK_SET);
    std::fwrite(header, 1, sizeof header, file_);
    std::fseek(file_, 0, SEEK_END);
  }

 private:
  std::FILE* file_;
  PcmFormat format_;
  uint32_t bytes_per_frame_;
  uint32_t data_bytes_ = 0;
  Pacer pacer_;
};

}  // namespace

std::unique_ptr<AudioSink> open_wav_sink(const std::string& path, const PcmFormat& format, std::string& error) {
  if (path.empty()) {
    error = "ZRK_AUDIO=wav needs a file: wav:PATH";
    return nullptr;
  }
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    error = "cannot write the audio file " + path;
    return nullptr;
  }
  auto sink = std::make_unique<WavSink>(file, format);
  // A valid (empty) file from the start, in case the program never closes the device.
  sink->write_header();
  return sink;
}

}  // namespace platform::audio
