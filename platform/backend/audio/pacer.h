// Keeps a sink that has no hardware clock at the pace of real playback, or of the
// virtual clock in deterministic runs.
#pragma once

#include <cstdint>

namespace platform::audio {

// Accounts for frames as they are played. With the real clock it sleeps until they would
// have finished playing; with the virtual clock it moves the clock by exactly their duration
// (summed without rounding drift) and yields the processor briefly.
class Pacer {
 public:
  explicit Pacer(uint32_t rate);
  // How many frames a sink should take at once: about 10 ms, so pauses act quickly.
  uint32_t chunk_frames() const { return chunk_frames_; }
  void consume(uint32_t frames);

 private:
  uint64_t duration_microseconds(uint64_t frames) const;

  uint32_t rate_;
  uint32_t chunk_frames_;
  uint64_t frames_ = 0;           // frames accounted since origin_
  uint64_t origin_ = 0;           // real: when frame 0 of the run started
  bool started_ = false;
};

}  // namespace platform::audio
