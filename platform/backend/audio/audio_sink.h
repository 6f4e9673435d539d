// The audio sinks that play what the sound output device hands them: one interface that
// every sink fills, and the table of sinks that ZRK_AUDIO chooses from.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform::audio {

// Interleaved PCM: 8-bit unsigned or 16-bit signed little-endian samples.
struct PcmFormat {
  uint32_t rate = 0;
  uint16_t channels = 0;
  uint16_t bits = 0;
  uint32_t bytes_per_frame() const { return uint32_t{channels} * (bits / 8u); }
};

// One way of playing sound. The device calls play from its one thread; interrupt may come
// from any thread.
class AudioSink {
 public:
  virtual ~AudioSink() = default;
  // Takes bytes from the start of data, which is whole frames of the rest of one queued
  // buffer, and returns how many it took. It keeps the sink's own pace, so it may block
  // for about as long as the bytes taken last. It may take 0 after interrupt.
  virtual uint32_t play(const uint8_t* data, uint32_t size) = 0;
  // Asks a play in progress, or else the next one, to return soon.
  virtual void interrupt() {}
};

// A sink's entry in the table: the word of ZRK_AUDIO that names it, and how it opens.
// argument is what follows "name:" in the setting (the path of "wav:PATH"). open returns
// null, and may say why in error, when the sink cannot play here.
struct SinkDriver {
  const char* name;
  std::unique_ptr<AudioSink> (*open)(const std::string& argument, const PcmFormat& format, std::string& error);
};

std::unique_ptr<AudioSink> open_alsa_sink(const std::string& argument, const PcmFormat& format, std::string& error);
std::unique_ptr<AudioSink> open_null_sink(const std::string& argument, const PcmFormat& format, std::string& error);
std::unique_ptr<AudioSink> open_wav_sink(const std::string& argument, const PcmFormat& format, std::string& error);
std::unique_ptr<AudioSink> open_stepping_sink(const std::string& argument, const PcmFormat& format, std::string& error);

// Whether the host has a sound card ALSA can see.
bool alsa_has_card();

// Opens the sink ZRK_AUDIO names: "alsa", "null", "wav:PATH" or "stepping" (tests). Unset,
// it is ALSA when the display is not headless and a sound card opens, else null; ALSA that
// cannot open falls back to null without an error. Null, with error set, only when the
// named sink cannot start (an unwritable WAV path) or the setting names no sink.
std::unique_ptr<AudioSink> open_configured_sink(const PcmFormat& format, std::string& error);

}  // namespace platform::audio
