// Keeps a sink that has no hardware clock at the pace of real playback, or of the
// virtual clock in deterministic runs.
#pragma once

#include <atomic>
#include <cstdint>

namespace platform::audio {

// Accounts for frames as they are played. With the real clock it sleeps until they would
// have finished playing. With the virtual clock it waits until the program has moved the
// clock past them (their durations summed without rounding drift) and never moves it
// itself: the clock would otherwise run on two threads at once and no run would repeat.
class Pacer {
 public:
  explicit Pacer(uint32_t rate);
  // How many frames a sink should take at once: about 10 ms, so pauses act quickly.
  uint32_t chunk_frames() const { return chunk_frames_; }
  void consume(uint32_t frames);
  // Makes a consume in progress, or else the next one, return without waiting for the
  // virtual clock (a pause, reset or close must not wait for time the program never moves).
  void interrupt() { interrupted_.store(true, std::memory_order_release); }

 private:
  uint64_t duration_microseconds(uint64_t frames) const;

  uint32_t rate_;
  uint32_t chunk_frames_;
  uint64_t frames_ = 0;           // frames accounted since origin_
  uint64_t origin_ = 0;           // when frame 0 of the run started, on the clock in use
  uint64_t last_return_ = 0;      // real time the last consume returned (virtual clock)
  bool started_ = false;
  std::atomic<bool> interrupted_{false};
};

}  // namespace platform::audio
