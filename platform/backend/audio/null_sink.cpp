// The null sink: plays nothing, at the pace playback would take.
#include <algorithm>

#include "platform/backend/audio/audio_sink.h"
#include "platform/backend/audio/pacer.h"

namespace platform::audio {
namespace {

class NullSink : public AudioSink {
 public:
  explicit NullSink(const PcmFormat& format) : bytes_per_frame_(format.bytes_per_frame()), pacer_(format.rate) {}

  uint32_t play(const uint8_t*, uint32_t size) override {
    const uint32_t frames = std::min(size / bytes_per_frame_, pacer_.chunk_frames());
    pacer_.consume(frames);
    return frames * bytes_per_frame_;
  }

  void interrupt() override { pacer_.interrupt(); }

 private:
  uint32_t bytes_per_frame_;
  Pacer pacer_;
};

}  // namespace

std::unique_ptr<AudioSink> open_null_sink(const std::string&, const PcmFormat& format, std::string&) {
  return std::make_unique<NullSink>(format);
}

}  // namespace platform::audio
