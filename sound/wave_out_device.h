// The output device over waveOut: a ring of 20 ms buffers that a thread of its own refills
// through the mix callback each time the driver hands one back.
#pragma once

#include <cstdint>

#include "platform/kernel/sync.h"
#include "platform/media/wave_out.h"
#include "sound/output_device.h"

namespace sound {

constexpr uint32_t output_buffer_ms = 20;
constexpr uint32_t fewest_output_buffers = 4;
constexpr uint32_t most_output_buffers = 32;
// Rates the device can be asked for; 0 would divide by zero, and far above any real
// rate the buffers would not fit in memory.
constexpr uint32_t highest_mix_rate = 1000000;

// Buffers for a latency of buffer_samples at rate: one per 20 ms, 4..32 (rate 0 gives 0).
uint32_t output_buffer_count(uint32_t buffer_samples, uint32_t rate);
// Bytes of one 20 ms buffer, rounded up to a multiple of 8.
uint32_t output_buffer_bytes(uint32_t rate, uint32_t bytes_per_frame);

class WaveOutDevice final : public OutputDevice {
public:
    WaveOutDevice() = default;
    ~WaveOutDevice() override;

    // Opens waveOut paused with every buffer queued as silence, and makes the output
    // thread, suspended. 0; -1 bad format or no device; -3 no thread; -10 memory. A
    // failure leaves nothing behind: the thread has ended and the device is closed.
    int32_t open(const OutputFormat* format, uint32_t buffer_samples, MixCallback mix, void* user) override;
    // Ends the thread, hands back and frees the buffers, closes waveOut. Safe to call on a
    // device that never opened or already closed.
    int32_t close() override;
    void lock() override;
    void unlock() override;
    // Pause holds the stream and suspends the thread between two buffers (both under the
    // lock, so never inside a mix); resume undoes both.
    void pause_output() override;
    void resume_output() override;

    uint32_t buffer_count_value() const { return buffer_count; }
    uint32_t bytes_per_buffer_value() const { return bytes_per_buffer; }

private:
    static DWORD thread_main(LPVOID parameter);
    static void wave_callback(HWAVEOUT device, UINT message, DWORD_PTR instance, DWORD_PTR parameter1,
                              DWORD_PTR parameter2);
    void run_thread();
    void end_thread();
    void release_buffers();

    HWAVEOUT wave_out = nullptr;
    WAVEFORMATEX wave_format = {};
    WAVEHDR* headers = nullptr;
    uint32_t buffer_count = 0;
    uint32_t next_buffer = 0;
    HANDLE thread = nullptr;
    DWORD thread_id = 0;
    HANDLE stopped_event = nullptr;
    HANDLE stop_event = nullptr;
    HANDLE semaphore = nullptr;
    CRITICAL_SECTION section = {};
    OutputFormat format_copy = {};
    uint8_t* mix_buffer = nullptr;
    uint32_t bytes_per_frame = 0;
    uint32_t bytes_per_buffer = 0;
    uint32_t bytes_of_all_buffers = 0;
    MixCallback mix_function = nullptr;
    void* mix_user = nullptr;
    bool section_ready = false;
    bool thread_suspended = false;
};

}  // namespace sound
