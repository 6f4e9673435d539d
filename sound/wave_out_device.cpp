// The waveOut output device: opening and closing the stream, the output thread that
// refills one buffer per finished buffer, and pausing it.
#include "sound/wave_out_device.h"

#include <cstdlib>
#include <cstring>

#include "platform/kernel/clock.h"
#include "platform/kernel/handles.h"
#include "platform/kernel/threads.h"
#include "sound/sound_codes.h"

namespace sound {

uint32_t output_buffer_count(uint32_t buffer_samples, uint32_t rate) {
    if (rate == 0) return 0;
    uint64_t count = (uint64_t{buffer_samples} * 1000 / rate) / output_buffer_ms;
    if (count < fewest_output_buffers) count = fewest_output_buffers;
    if (count > most_output_buffers) count = most_output_buffers;
    return static_cast<uint32_t>(count);
}

uint32_t output_buffer_bytes(uint32_t rate, uint32_t bytes_per_frame) {
    uint64_t bytes = uint64_t{rate} * bytes_per_frame * output_buffer_ms / 1000;
    return static_cast<uint32_t>((bytes + 7) & ~uint64_t{7});
}

WaveOutDevice::~WaveOutDevice() { close(); }

int32_t WaveOutDevice::open(const OutputFormat* format, uint32_t buffer_samples, MixCallback mix, void* user) {
    if (format == nullptr || mix == nullptr) return sound_bad_output;
    if (thread != nullptr || wave_out != nullptr) return sound_already_initialised;
    format_copy = *format;
    mix_function = mix;
    mix_user = user;

    const uint32_t flags = format_copy.flags;
    if (flags == 0 || (flags & 0x11) == 0x11 || (flags & 0x22) == 0x22) return sound_bad_output;
    if (format_copy.channels == 0 || format_copy.channels > 2) return sound_bad_output;
    if (format_copy.rate == 0 || format_copy.rate > highest_mix_rate) return sound_bad_output;

    buffer_count = output_buffer_count(buffer_samples, format_copy.rate);
    const bool sixteen = (flags & 2) != 0;
    bytes_per_frame = (sixteen ? 2 : 1) * format_copy.channels;
    bytes_per_buffer = output_buffer_bytes(format_copy.rate, bytes_per_frame);
    bytes_of_all_buffers = buffer_count * bytes_per_buffer;
    mix_buffer = static_cast<uint8_t*>(std::malloc(bytes_of_all_buffers));
    if (mix_buffer == nullptr) return sound_out_of_memory;
    std::memset(mix_buffer, sixteen ? 0 : 128, bytes_of_all_buffers);

    // The lock, the counter and the events exist before the thread, so that a failure
    // further on can always end it.
    InitializeCriticalSection(&section);
    section_ready = true;
    semaphore = CreateSemaphoreW(nullptr, 0, static_cast<LONG>(buffer_count + 1), nullptr);
    stopped_event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    stop_event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (semaphore == nullptr || stopped_event == nullptr || stop_event == nullptr) {
        close();
        return sound_out_of_memory;
    }

    thread = CreateThread(nullptr, 0, thread_main, this, CREATE_SUSPENDED, &thread_id);
    if (thread == nullptr) {
        close();
        return sound_thread_failed;
    }
    thread_suspended = true;
    SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST);

    wave_format.wFormatTag = WAVE_FORMAT_PCM;
    wave_format.nChannels = static_cast<WORD>(format_copy.channels);
    wave_format.nSamplesPerSec = format_copy.rate;
    wave_format.nBlockAlign = static_cast<WORD>(bytes_per_frame);
    wave_format.nAvgBytesPerSec = format_copy.rate * bytes_per_frame;
    wave_format.wBitsPerSample = sixteen ? 16 : 8;
    wave_format.cbSize = 0;
    const UINT devices = waveOutGetNumDevs();
    for (UINT id = 0; id < devices && wave_out == nullptr; ++id) {
        HWAVEOUT opened = nullptr;
        if (waveOutOpen(&opened, id, &wave_format, reinterpret_cast<DWORD_PTR>(&wave_callback),
                        reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION) == MMSYSERR_NOERROR)
            wave_out = opened;
    }
    if (wave_out == nullptr) {
        close();
        return sound_bad_output;
    }

    // Every buffer is queued while the stream is paused; resume_output starts both.
    waveOutPause(wave_out);
    headers = static_cast<WAVEHDR*>(std::calloc(buffer_count, sizeof(WAVEHDR)));
    if (headers == nullptr) {
        close();
        return sound_out_of_memory;
    }
    for (uint32_t i = 0; i < buffer_count; ++i) {
        WAVEHDR& header = headers[i];
        header.lpData = reinterpret_cast<LPSTR>(mix_buffer + i * bytes_per_buffer);
        header.dwBufferLength = bytes_per_buffer;
        waveOutPrepareHeader(wave_out, &header, sizeof(WAVEHDR));
        waveOutWrite(wave_out, &header, sizeof(WAVEHDR));
    }
    next_buffer = 0;
    return sound_ok;
}

void WaveOutDevice::end_thread() {
    lock();
    // A paused device, or one never started, has a suspended thread: let it run to its end.
    if (thread_suspended) {
        ResumeThread(thread);
        thread_suspended = false;
    }
    SetEvent(stop_event);
    unlock();
    WaitForSingleObject(stopped_event, INFINITE);
    // The handle is signalled once the routine has returned, after which nothing of this
    // object is touched by the thread.
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    thread = nullptr;
    thread_id = 0;
}

int32_t WaveOutDevice::close() {
    if (thread != nullptr) end_thread();
    if (wave_out != nullptr) {
        waveOutReset(wave_out);
        if (headers != nullptr)
            for (uint32_t i = 0; i < buffer_count; ++i) waveOutUnprepareHeader(wave_out, &headers[i], sizeof(WAVEHDR));
        waveOutClose(wave_out);
        wave_out = nullptr;
    }
    release_buffers();
    return sound_ok;
}

void WaveOutDevice::release_buffers() {
    std::free(headers);
    headers = nullptr;
    std::free(mix_buffer);
    mix_buffer = nullptr;
    if (stopped_event != nullptr) CloseHandle(stopped_event);
    if (stop_event != nullptr) CloseHandle(stop_event);
    if (semaphore != nullptr) CloseHandle(semaphore);
    stopped_event = stop_event = semaphore = nullptr;
    if (section_ready) DeleteCriticalSection(&section);
    section_ready = false;
    thread_suspended = false;
}

void WaveOutDevice::lock() {
    if (section_ready) EnterCriticalSection(&section);
}

void WaveOutDevice::unlock() {
    if (section_ready) LeaveCriticalSection(&section);
}

void WaveOutDevice::pause_output() {
    if (wave_out == nullptr) return;
    lock();
    waveOutPause(wave_out);
    if (!thread_suspended) {
        SuspendThread(thread);
        thread_suspended = true;
    }
    unlock();
}

void WaveOutDevice::resume_output() {
    if (wave_out == nullptr) return;
    lock();
    if (thread_suspended) {
        ResumeThread(thread);
        thread_suspended = false;
    }
    waveOutRestart(wave_out);
    unlock();
}

void WaveOutDevice::wave_callback(HWAVEOUT, UINT message, DWORD_PTR instance, DWORD_PTR, DWORD_PTR) {
    if (message != WOM_DONE || instance == 0) return;
    ReleaseSemaphore(reinterpret_cast<WaveOutDevice*>(instance)->semaphore, 1, nullptr);
}

DWORD WaveOutDevice::thread_main(LPVOID parameter) {
    if (parameter == nullptr) return 0;
    static_cast<WaveOutDevice*>(parameter)->run_thread();
    return 0;
}

void WaveOutDevice::run_thread() {
    // Mixing keeps up with the program's time; it never moves a virtual clock itself.
    platform::clock_follow_on_this_thread();
    // Each finished buffer counted by the semaphore is mixed again and queued behind the
    // others, in queue order.
    // The stop event is also looked at after every buffer: a sink that takes buffers as
    // fast as they come would otherwise keep the inner loop from ever ending.
    bool stopping = false;
    while (!stopping && WaitForSingleObject(stop_event, 1) != WAIT_OBJECT_0) {
        while (!stopping && WaitForSingleObject(semaphore, 3) == WAIT_OBJECT_0) {
            lock();
            WAVEHDR& header = headers[next_buffer];
            mix_function(mix_user, header.lpData, header.dwBufferLength);
            waveOutUnprepareHeader(wave_out, &header, sizeof(WAVEHDR));
            LPSTR data = header.lpData;
            DWORD length = header.dwBufferLength;
            std::memset(&header, 0, sizeof(WAVEHDR));
            header.lpData = data;
            header.dwBufferLength = length;
            waveOutPrepareHeader(wave_out, &header, sizeof(WAVEHDR));
            waveOutWrite(wave_out, &header, sizeof(WAVEHDR));
            next_buffer = next_buffer + 1 == buffer_count ? 0 : next_buffer + 1;
            unlock();
            stopping = WaitForSingleObject(stop_event, 0) == WAIT_OBJECT_0;
        }
    }
    SetEvent(stopped_event);
}

}  // namespace sound
