// The stepping sink for tests: buffers are taken only when a test grants them.
#include "platform/backend/audio/stepping_sink.h"

#include <condition_variable>
#include <mutex>

#include "platform/backend/audio/audio_sink.h"

namespace platform {
namespace {

// Shared by the hooks and the open sink (there is one device).
struct SteppingState {
  std::mutex mutex;
  std::condition_variable changed;
  uint32_t grants = 0;
  bool interrupted = false;
  std::vector<uint8_t> played;
};

SteppingState& state() {
  static SteppingState instance;
  return instance;
}

class SteppingSink : public audio::AudioSink {
 public:
  ~SteppingSink() override {
    std::lock_guard lock(state().mutex);
    state().interrupted = false;
  }

  uint32_t play(const uint8_t* data, uint32_t size) override {
    SteppingState& shared = state();
    std::unique_lock lock(shared.mutex);
    shared.changed.wait(lock, [&] { return shared.grants > 0 || shared.interrupted; });
    if (shared.interrupted) {
      shared.interrupted = false;
      return 0;
    }
    --shared.grants;
    shared.played.insert(shared.played.end(), data, data + size);
    return size;
  }

  void interrupt() override {
    std::lock_guard lock(state().mutex);
    state().interrupted = true;
    state().changed.notify_all();
  }
};

}  // namespace

void audio_stepping_complete(uint32_t count) {
  std::lock_guard lock(state().mutex);
  state().grants += count;
  state().changed.notify_all();
}

std::vector<uint8_t> audio_stepping_played() {
  std::lock_guard lock(state().mutex);
  return state().played;
}

void audio_stepping_reset() {
  std::lock_guard lock(state().mutex);
  state().grants = 0;
  state().played.clear();
}

namespace audio {

std::unique_ptr<AudioSink> open_stepping_sink(const std::string&, const PcmFormat&, std::string&) {
  std::lock_guard lock(state().mutex);
  state().interrupted = false;
  return std::make_unique<SteppingSink>();
}

}  // namespace audio
}  // namespace platform
