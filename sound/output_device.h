// The output device interface the sound system mixes into.
#pragma once

#include <cstdint>

namespace sound {

// Output format: rate, format flags (bit 0 8-bit, bit 1 16-bit, bit 4 signed, bit 5
// unsigned) and channels (1 or 2).
struct OutputFormat {
    uint32_t rate;
    uint32_t flags;
    uint32_t channels;
};

using MixCallback = void (*)(void* user, void* buffer, uint32_t byte_count);

class OutputDevice {
public:
    virtual ~OutputDevice() = default;
    // Prepares the device and its thread, paused; 0 or an error code.
    virtual int32_t open(const OutputFormat* format, uint32_t buffer_samples, MixCallback mix, void* user) = 0;
    virtual int32_t close() = 0;
    // The one lock shared by the output thread and every voice operation.
    virtual void lock() = 0;
    virtual void unlock() = 0;
    virtual void pause_output() = 0;
    virtual void resume_output() = 0;
};

}  // namespace sound
