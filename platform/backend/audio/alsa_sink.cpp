// The ALSA sink: plays through the host's default sound device.
#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>

#include "platform/backend/audio/audio_sink.h"
#include "platform/backend/audio/pacer.h"
#include "platform/backend/host_library.h"

namespace platform::audio {
namespace {

// The ALSA functions this sink calls, bound on first use. Each pointer carries the name of
// the function it stands for, so the calls below read as plain ALSA.
#define ALSA_FUNCTIONS(F)                                                                          \
  F(snd_card_next) F(snd_lib_error_set_handler) F(snd_pcm_close) F(snd_pcm_drop) F(snd_pcm_open) \
  F(snd_pcm_recover) F(snd_pcm_set_params) F(snd_pcm_wait) F(snd_pcm_writei)
#define ALSA_DECLARE_SLOT(name) decltype(&::name) name = nullptr;
ALSA_FUNCTIONS(ALSA_DECLARE_SLOT)
#undef ALSA_DECLARE_SLOT

// Loads ALSA once; false when the host lacks it, as when it has no sound card.
bool bind_alsa() {
  static const bool bound = [] {
    std::string ignored;
    constexpr const char* kFile = "libasound.so.2";
    void* library = open_host_library(kFile, ignored);
#define ALSA_BIND(name) &&bind_host_function(library, kFile, #name, name, ignored)
    return library ALSA_FUNCTIONS(ALSA_BIND);
#undef ALSA_BIND
  }();
  return bound;
}
#undef ALSA_FUNCTIONS

// ALSA reports missing cards and devices on standard error by itself; a program that falls
// back to the null sink should stay quiet.
void silent_error_handler(const char*, int, const char*, int, const char*, ...) {}

void silence_alsa() {
  static const bool done = (snd_lib_error_set_handler(silent_error_handler), true);
  (void)done;
}

// Latency of the host buffer: short enough that pauses are heard promptly.
constexpr unsigned kLatencyMicroseconds = 80000;
constexpr int kWaitMilliseconds = 20;

class AlsaSink : public AudioSink {
 public:
  AlsaSink(snd_pcm_t* pcm, const PcmFormat& format)
      : pcm_(pcm), bytes_per_frame_(format.bytes_per_frame()), pacer_(format.rate) {}

  ~AlsaSink() override {
    snd_pcm_drop(pcm_);
    snd_pcm_close(pcm_);
  }

  uint32_t play(const uint8_t* data, uint32_t size) override {
    const uint32_t frames = std::min(size / bytes_per_frame_, pacer_.chunk_frames());
    if (!broken_) {
      snd_pcm_sframes_t written = snd_pcm_writei(pcm_, data, frames);
      if (written == -EAGAIN) {
        // Full: wait a little for room, never long, so that pause and close act promptly.
        snd_pcm_wait(pcm_, kWaitMilliseconds);
        return 0;
      }
      if (written < 0) written = snd_pcm_recover(pcm_, static_cast<int>(written), 1);
      if (written >= 0) return static_cast<uint32_t>(written) * bytes_per_frame_;
      // A device that went away: keep time like the null sink rather than stall the program.
      broken_ = true;
    }
    pacer_.consume(frames);
    return frames * bytes_per_frame_;
  }

  void interrupt() override { pacer_.interrupt(); }

 private:
  snd_pcm_t* pcm_;
  uint32_t bytes_per_frame_;
  Pacer pacer_;
  bool broken_ = false;
};

}  // namespace

bool alsa_has_card() {
  if (!bind_alsa()) return false;
  silence_alsa();
  int card = -1;
  return snd_card_next(&card) == 0 && card >= 0;
}

std::unique_ptr<AudioSink> open_alsa_sink(const std::string&, const PcmFormat& format, std::string& error) {
  if (!bind_alsa()) {
    error = "no ALSA library";
    return nullptr;
  }
  silence_alsa();
  snd_pcm_t* pcm = nullptr;
  if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
    error = "no ALSA device";
    return nullptr;
  }
  const snd_pcm_format_t sample_format = format.bits == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
  if (snd_pcm_set_params(pcm, sample_format, SND_PCM_ACCESS_RW_INTERLEAVED, format.channels, format.rate,
                         1, kLatencyMicroseconds) < 0) {
    snd_pcm_close(pcm);
    error = "the ALSA device refuses the format";
    return nullptr;
  }
  return std::make_unique<AlsaSink>(pcm, format);
}

}  // namespace platform::audio
