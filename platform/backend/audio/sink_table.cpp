// The table of audio sinks and the choice among them by ZRK_AUDIO.
#include <cstring>

#include "platform/backend/audio/audio_sink.h"
#include "platform/kernel/config.h"

namespace platform::audio {
namespace {

const SinkDriver kSinks[] = {
    {"alsa", open_alsa_sink},
    {"null", open_null_sink},
    {"wav", open_wav_sink},
    {"stepping", open_stepping_sink},
};

const SinkDriver* find_sink(const std::string& name) {
  for (const SinkDriver& sink : kSinks)
    if (name == sink.name) return &sink;
  return nullptr;
}

}  // namespace

std::unique_ptr<AudioSink> open_configured_sink(const PcmFormat& format, std::string& error) {
  const std::string chosen = setting("ZRK_AUDIO");
  std::string ignored;
  if (chosen.empty()) {
    // Tests and headless runs stay silent unless they ask for sound.
    if (setting("ZRK_DISPLAY") != "headless" && alsa_has_card())
      if (auto sink = open_alsa_sink("", format, ignored)) return sink;
    return open_null_sink("", format, ignored);
  }
  const size_t colon = chosen.find(':');
  const std::string name = chosen.substr(0, colon);
  const std::string argument = colon == std::string::npos ? std::string() : chosen.substr(colon + 1);
  const SinkDriver* driver = find_sink(name);
  if (!driver) {
    error = "ZRK_AUDIO names no sink: " + chosen;
    return nullptr;
  }
  auto sink = driver->open(argument, format, error);
  if (!sink && driver->open == open_alsa_sink) {
    error.clear();
    return open_null_sink("", format, ignored);
  }
  return sink;
}

}  // namespace platform::audio
