// The waveOut device: a queue of caller buffers played through an audio sink by the
// device's own thread, which hands each buffer back through the caller's callback.
#include "platform/media/wave_out.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/backend/audio/audio_sink.h"
#include "platform/kernel/modules.h"
#include "platform/kernel/sync.h"

namespace {

using platform::audio::AudioSink;
using platform::audio::PcmFormat;

constexpr DWORD kFullVolume = 0xFFFFFFFFu;
constexpr DWORD kMaximumRate = 1000000;
constexpr DWORD kKnownOpenFlags = CALLBACK_TYPEMASK | WAVE_FORMAT_QUERY | WAVE_ALLOWSYNC;

// The device volume; it holds across opens, as on the device.
std::atomic<DWORD> device_volume{kFullVolume};

// Callbacks of the device running on this thread: a pause or reset from inside one must
// not wait for itself, and a close from inside one is refused.
thread_local int callbacks_on_this_thread = 0;

class WaveOutDevice {
 public:
  WaveOutDevice(HWAVEOUT handle, const PcmFormat& format, DWORD callback_kind, DWORD_PTR callback,
                DWORD_PTR instance, std::unique_ptr<AudioSink> sink)
      : handle_(handle),
        format_(format),
        bytes_per_frame_(format.bytes_per_frame()),
        callback_kind_(callback_kind),
        callback_(callback),
        instance_(instance),
        sink_(std::move(sink)) {}

  HWAVEOUT handle() const { return handle_; }

  // Starts the playing thread; false when the host refuses a thread.
  bool start() {
    try {
      thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
      return false;
    }
    return true;
  }

  // Tells the caller's callback (or event) about message; no device lock is held.
  void notify(UINT message, DWORD_PTR parameter) {
    ++callbacks_on_this_thread;
    if (callback_kind_ == CALLBACK_FUNCTION)
      reinterpret_cast<WAVEOUTPROC>(callback_)(handle_, message, instance_, parameter, 0);
    else if (callback_kind_ == CALLBACK_EVENT)
      SetEvent(reinterpret_cast<HANDLE>(callback_));
    --callbacks_on_this_thread;
  }

  MMRESULT prepare(WAVEHDR* header) {
    std::lock_guard lock(mutex_);
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
  }

  MMRESULT unprepare(WAVEHDR* header) {
    std::lock_guard lock(mutex_);
    if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
  }

  MMRESULT write(WAVEHDR* header) {
    std::lock_guard lock(mutex_);
    if (stopping_) return MMSYSERR_INVALHANDLE;
    if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    if (!header->lpData && header->dwBufferLength) return MMSYSERR_INVALPARAM;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    header->lpNext = nullptr;
    if (tail_)
      tail_->lpNext = header;
    else
      head_ = header;
    tail_ = header;
    work_.notify_all();
    return MMSYSERR_NOERROR;
  }

  void pause() {
    std::unique_lock lock(mutex_);
    if (!paused_) {
      paused_ = true;
      if (in_sink_) sink_->interrupt();
    }
    // What the sink is taking and a callback already under way finish before pause returns
    // (unless the caller is inside that callback), so the position stands still from then on.
    settled_.wait(lock, [&] { return !in_sink_ && callbacks_running_ <= callbacks_on_this_thread; });
  }

  void restart() {
    std::lock_guard lock(mutex_);
    paused_ = false;
    work_.notify_all();
  }

  void reset() {
    std::unique_lock lock(mutex_);
    resetting_ = true;
    if (in_sink_) sink_->interrupt();
    settled_.wait(lock, [&] { return !in_sink_ && callbacks_running_ <= callbacks_on_this_thread; });
    WAVEHDR* returned = head_;
    head_ = tail_ = nullptr;
    head_offset_ = 0;
    bytes_played_ = 0;
    resetting_ = false;
    work_.notify_all();
    ++resets_returning_;
    while (returned) {
      WAVEHDR* header = returned;
      returned = header->lpNext;
      complete(lock, header);
    }
    --resets_returning_;
    settled_.notify_all();
  }

  // Tells the thread to end; WAVERR_STILLPLAYING (and nothing changed) while buffers are queued.
  MMRESULT begin_stop() {
    std::lock_guard lock(mutex_);
    if (head_) return WAVERR_STILLPLAYING;
    stopping_ = true;
    if (in_sink_) sink_->interrupt();
    work_.notify_all();
    return MMSYSERR_NOERROR;
  }

  // Waits until the thread and every callback have finished, then closes the sink. Called
  // without the registry's lock: a callback still running may call the waveOut functions.
  void finish_stop() {
    thread_.join();
    std::unique_lock lock(mutex_);
    settled_.wait(lock, [&] { return callbacks_running_ == 0 && resets_returning_ == 0; });
    sink_.reset();
  }

  void position(MMTIME* time) {
    uint64_t bytes;
    {
      std::lock_guard lock(mutex_);
      bytes = bytes_played_;
    }
    const uint64_t frames = bytes / bytes_per_frame_;
    switch (time->wType) {
      case TIME_SAMPLES:
        time->u.sample = static_cast<DWORD>(frames);
        break;
      case TIME_MS:
        time->u.ms = static_cast<DWORD>(frames * 1000u / format_.rate);
        break;
      default:
        time->wType = TIME_BYTES;
        time->u.cb = static_cast<DWORD>(bytes);
        break;
    }
  }

 private:
  // The device thread: plays the head buffer through the sink and hands it back when all
  // of it was taken, checking pause and reset between the sink's steps.
  void run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      work_.wait(lock, [&] { return stopping_ || (!paused_ && !resetting_ && head_); });
      if (stopping_) return;
      WAVEHDR* header = head_;
      const uint32_t playable = header->dwBufferLength / bytes_per_frame_ * bytes_per_frame_;
      if (head_offset_ < playable) {
        const uint8_t* data = reinterpret_cast<const uint8_t*>(header->lpData) + head_offset_;
        const uint32_t size = playable - head_offset_;
        in_sink_ = true;
        lock.unlock();
        const uint32_t taken = std::min(size, sink_->play(scaled(data, size), size));
        lock.lock();
        in_sink_ = false;
        head_offset_ += taken;
        bytes_played_ += taken;
        settled_.notify_all();
        continue;
      }
      head_ = header->lpNext;
      if (!head_) tail_ = nullptr;
      head_offset_ = 0;
      complete(lock, header);
    }
  }

  // Marks a buffer that left the queue done and calls back without the lock.
  void complete(std::unique_lock<std::mutex>& lock, WAVEHDR* header) {
    header->lpNext = nullptr;
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    ++callbacks_running_;
    lock.unlock();
    notify(WOM_DONE, reinterpret_cast<DWORD_PTR>(header));
    lock.lock();
    --callbacks_running_;
    settled_.notify_all();
  }

  // The bytes at the device volume: data itself at full volume, else a scaled copy in a
  // scratch buffer that only grows (the device thread's own).
  const uint8_t* scaled(const uint8_t* data, uint32_t size) {
    const DWORD volume = device_volume.load(std::memory_order_relaxed);
    if (volume == kFullVolume) return data;
    if (scratch_.size() < size) scratch_.resize(size);
    const uint32_t gains[2] = {volume & 0xFFFF, format_.channels == 2 ? volume >> 16 : volume & 0xFFFF};
    if (format_.bits == 8) {
      for (uint32_t i = 0; i < size; ++i) {
        const int centred = int{data[i]} - 128;
        scratch_[i] = static_cast<uint8_t>(128 + centred * static_cast<int>(gains[i % format_.channels]) / 0xFFFF);
      }
    } else {
      for (uint32_t i = 0; i + 1 < size; i += 2) {
        const int16_t sample = static_cast<int16_t>(data[i] | (data[i + 1] << 8));
        const int value = sample * static_cast<int>(gains[(i / 2) % format_.channels]) / 0xFFFF;
        scratch_[i] = static_cast<uint8_t>(value & 0xFF);
        scratch_[i + 1] = static_cast<uint8_t>((value >> 8) & 0xFF);
      }
    }
    return scratch_.data();
  }

  const HWAVEOUT handle_;
  const PcmFormat format_;
  const uint32_t bytes_per_frame_;
  const DWORD callback_kind_;
  const DWORD_PTR callback_;
  const DWORD_PTR instance_;
  std::unique_ptr<AudioSink> sink_;
  std::thread thread_;
  std::vector<uint8_t> scratch_;

  std::mutex mutex_;
  std::condition_variable work_;     // the device thread waits here for something to do
  std::condition_variable settled_;  // pause, reset and stop wait here for the thread
  WAVEHDR* head_ = nullptr;          // the queue, linked through lpNext
  WAVEHDR* tail_ = nullptr;
  uint32_t head_offset_ = 0;         // bytes of the head buffer the sink has taken
  uint64_t bytes_played_ = 0;
  bool paused_ = false;
  bool resetting_ = false;
  bool stopping_ = false;
  bool in_sink_ = false;
  int callbacks_running_ = 0;
  int resets_returning_ = 0;         // resets still handing buffers back on other threads
};

// The one device. The registry lives for the whole process, so that a sound system shut
// down from an exit handler still finds it.
struct Registry {
  std::mutex mutex;
  std::shared_ptr<WaveOutDevice> open_device;
  uint32_t opens = 0;
};

Registry& registry() {
  static Registry* instance = new Registry;
  return *instance;
}

std::shared_ptr<WaveOutDevice> find_device(HWAVEOUT handle) {
  Registry& shared = registry();
  std::lock_guard lock(shared.mutex);
  if (handle && shared.open_device && shared.open_device->handle() == handle) return shared.open_device;
  return nullptr;
}

// Handles are numbers never given twice, so a stale one is refused rather than reaching a new device.
HWAVEOUT next_handle(Registry& shared) {
  return platform::pointer_from<HWAVEOUT__>(0x57A00000u + (++shared.opens & 0xFFFFF));
}

MMRESULT check_format(const WAVEFORMATEX* format) {
  if (!format) return MMSYSERR_INVALPARAM;
  if (format->wFormatTag != WAVE_FORMAT_PCM) return WAVERR_BADFORMAT;
  if (format->nChannels != 1 && format->nChannels != 2) return WAVERR_BADFORMAT;
  if (format->wBitsPerSample != 8 && format->wBitsPerSample != 16) return WAVERR_BADFORMAT;
  if (format->nSamplesPerSec == 0 || format->nSamplesPerSec > kMaximumRate) return WAVERR_BADFORMAT;
  const DWORD block = DWORD{format->nChannels} * format->wBitsPerSample / 8;
  if (format->nBlockAlign != block || format->nAvgBytesPerSec != format->nSamplesPerSec * block)
    return WAVERR_BADFORMAT;
  return MMSYSERR_NOERROR;
}

bool header_usable(const WAVEHDR* header, UINT header_size) { return header && header_size >= sizeof(WAVEHDR); }

}  // namespace

UINT waveOutGetNumDevs() { return 1; }

MMRESULT waveOutOpen(LPHWAVEOUT device, UINT device_id, LPCWAVEFORMATEX format, DWORD_PTR callback,
                     DWORD_PTR instance, DWORD flags) {
  if (flags & ~kKnownOpenFlags) return MMSYSERR_INVALFLAG;
  const DWORD callback_kind = flags & CALLBACK_TYPEMASK;
  if (callback_kind != CALLBACK_NULL && callback_kind != CALLBACK_FUNCTION && callback_kind != CALLBACK_EVENT)
    return callback_kind == CALLBACK_WINDOW || callback_kind == CALLBACK_THREAD ? MMSYSERR_NOTSUPPORTED
                                                                               : MMSYSERR_INVALFLAG;
  if (callback_kind != CALLBACK_NULL && !callback) return MMSYSERR_INVALPARAM;
  if (device_id != 0 && device_id != WAVE_MAPPER) return MMSYSERR_BADDEVICEID;
  if (MMRESULT checked = check_format(format)) return checked;
  if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
  if (!device) return MMSYSERR_INVALPARAM;

  PcmFormat pcm;
  pcm.rate = format->nSamplesPerSec;
  pcm.channels = format->nChannels;
  pcm.bits = format->wBitsPerSample;
  std::shared_ptr<WaveOutDevice> opened;
  {
    Registry& shared = registry();
    std::lock_guard lock(shared.mutex);
    if (shared.open_device) return MMSYSERR_ALLOCATED;
    std::string error;
    std::unique_ptr<AudioSink> sink = platform::audio::open_configured_sink(pcm, error);
    if (!sink) {
      std::fprintf(stderr, "zrk: sound output: %s\n", error.c_str());
      return MMSYSERR_NODRIVER;
    }
    opened = std::make_shared<WaveOutDevice>(next_handle(shared), pcm, callback_kind, callback, instance,
                                             std::move(sink));
    if (!opened->start()) return MMSYSERR_NOMEM;
    shared.open_device = opened;
  }
  *device = opened->handle();
  opened->notify(WOM_OPEN, 0);
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT handle) {
  std::shared_ptr<WaveOutDevice> device;
  {
    Registry& shared = registry();
    std::lock_guard lock(shared.mutex);
    if (!handle || !shared.open_device || shared.open_device->handle() != handle) return MMSYSERR_INVALHANDLE;
    device = shared.open_device;
    if (callbacks_on_this_thread) return MMSYSERR_HANDLEBUSY;
    if (MMRESULT refused = device->begin_stop()) return refused;
    shared.open_device.reset();
  }
  device->finish_stop();
  device->notify(WOM_CLOSE, 0);
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT handle, LPWAVEHDR header, UINT header_size) {
  auto device = find_device(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (!header_usable(header, header_size)) return MMSYSERR_INVALPARAM;
  return device->prepare(header);
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, LPWAVEHDR header, UINT header_size) {
  auto device = find_device(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (!header_usable(header, header_size)) return MMSYSERR_INVALPARAM;
  return device->unprepare(header);
}

MMRESULT waveOutWrite(HWAVEOUT handle, LPWAVEHDR header, UINT header_size) {
  auto device = find_device(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (!header_usable(header, header_size)) return MMSYSERR_INVALPARAM;
  return device->write(header);
}

MMRESULT waveOutPause(HWAVEOUT handle) {
  auto device = find_device(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  device->pause();
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutRestart(HWAVEOUT handle) {
  auto device = find_device(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  device->restart();
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutReset(HWAVEOUT handle) {
  auto device = find_device(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  device->reset();
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetPosition(HWAVEOUT handle, LPMMTIME time, UINT time_size) {
  auto device = find_device(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (!time || time_size < sizeof(MMTIME)) return MMSYSERR_INVALPARAM;
  device->position(time);
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutSetVolume(HWAVEOUT handle, DWORD volume) {
  if (handle && !find_device(handle)) return MMSYSERR_INVALHANDLE;
  device_volume.store(volume, std::memory_order_relaxed);
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetVolume(HWAVEOUT handle, LPDWORD volume) {
  if (handle && !find_device(handle)) return MMSYSERR_INVALHANDLE;
  if (!volume) return MMSYSERR_INVALPARAM;
  *volume = device_volume.load(std::memory_order_relaxed);
  return MMSYSERR_NOERROR;
}

namespace {

// Scripts that declare these functions of coredll.dll get the device's own.
const bool registered_in_coredll = [] {
  const std::pair<const char*, void*> functions[] = {
      {"waveOutGetNumDevs", reinterpret_cast<void*>(&waveOutGetNumDevs)},
      {"waveOutOpen", reinterpret_cast<void*>(&waveOutOpen)},
      {"waveOutClose", reinterpret_cast<void*>(&waveOutClose)},
      {"waveOutPrepareHeader", reinterpret_cast<void*>(&waveOutPrepareHeader)},
      {"waveOutUnprepareHeader", reinterpret_cast<void*>(&waveOutUnprepareHeader)},
      {"waveOutWrite", reinterpret_cast<void*>(&waveOutWrite)},
      {"waveOutPause", reinterpret_cast<void*>(&waveOutPause)},
      {"waveOutRestart", reinterpret_cast<void*>(&waveOutRestart)},
      {"waveOutReset", reinterpret_cast<void*>(&waveOutReset)},
      {"waveOutGetPosition", reinterpret_cast<void*>(&waveOutGetPosition)},
      {"waveOutSetVolume", reinterpret_cast<void*>(&waveOutSetVolume)},
      {"waveOutGetVolume", reinterpret_cast<void*>(&waveOutGetVolume)},
  };
  for (const auto& [name, address] : functions) platform::register_builtin_module_function("coredll", name, address);
  return true;
}();

}  // namespace
