// A MOD image built in memory for module tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

// A MOD image: signature, orders, and patterns filled by the caller through note().
struct ModuleImage {
    std::vector<uint8_t> bytes;
    uint32_t channels;
    ModuleImage(const char* signature, uint32_t channel_count, std::vector<uint8_t> orders, uint32_t patterns,
                uint32_t sample_words = 0)
        : channels(channel_count) {
        bytes.assign(1084 + patterns * channel_count * 256 + sample_words * 2, 0);
        std::memcpy(&bytes[1080], signature, 4);
        bytes[950] = static_cast<uint8_t>(orders.size());
        bytes[951] = 127;
        for (size_t i = 0; i < orders.size(); ++i) bytes[952 + i] = orders[i];
        if (sample_words) {   // sample 1: volume 40, no loop
            bytes[20 + 22] = static_cast<uint8_t>(sample_words >> 8);
            bytes[20 + 23] = static_cast<uint8_t>(sample_words);
            bytes[20 + 25] = 40;
        }
    }
    void note(uint32_t pattern, uint32_t row, uint32_t channel, uint32_t sample, uint32_t period, uint32_t effect,
              uint32_t parameter) {
        uint8_t* n = &bytes[1084 + ((pattern * 64 + row) * channels + channel) * 4];
        n[0] = static_cast<uint8_t>((sample & 0xF0) | (period >> 8));
        n[1] = static_cast<uint8_t>(period);
        n[2] = static_cast<uint8_t>(((sample & 0x0F) << 4) | effect);
        n[3] = static_cast<uint8_t>(parameter);
    }
};
