// Real-time and virtual-clock pacing for sinks without a hardware clock.
#include "platform/backend/audio/pacer.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/kernel/clock.h"

namespace platform::audio {
namespace {

uint64_t steady_microseconds() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

// Playback that fell further behind than this was idle (nothing queued, or paused):
// it starts afresh rather than rushing to catch up.
constexpr uint64_t kIdleGapMicroseconds = 20000;

}  // namespace

Pacer::Pacer(uint32_t rate) : rate_(rate ? rate : 1), chunk_frames_(std::max<uint32_t>(1, rate_ / 100)) {}

uint64_t Pacer::duration_microseconds(uint64_t frames) const { return frames * 1000000u / rate_; }

void Pacer::consume(uint32_t frames) {
  if (clock_is_virtual()) {
    // A sink left without work for a while (nothing queued, paused) starts afresh at the
    // program's time; one kept busy catches up with a clock the program moved on.
    const uint64_t now = clock_now_microseconds();
    if (!started_ || steady_microseconds() > last_return_ + kIdleGapMicroseconds) {
      origin_ = now;
      frames_ = 0;
      started_ = true;
    }
    frames_ += frames;
    const uint64_t finish = origin_ + duration_microseconds(frames_);
    while (clock_now_microseconds() < finish && !interrupted_.exchange(false, std::memory_order_acq_rel)) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    last_return_ = steady_microseconds();
    return;
  }
  const uint64_t now = steady_microseconds();
  if (!started_ || now > origin_ + duration_microseconds(frames_) + kIdleGapMicroseconds) {
    origin_ = now;
    frames_ = 0;
    started_ = true;
  }
  frames_ += frames;
  const uint64_t finish = origin_ + duration_microseconds(frames_);
  if (finish > now) std::this_thread::sleep_for(std::chrono::microseconds(finish - now));
}

}  // namespace platform::audio
