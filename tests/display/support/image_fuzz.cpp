// Feeds mutated copies of the image fixtures to the image decoding: every one must come
// back as a surface or as a refusal, never a fault (run it under the sanitizers).
// Usage: image_fuzz FIXTURES_DIR COUNT [SEED]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "display/image_files.h"

namespace {

struct Random {
    uint32_t state;
    uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    uint32_t below(uint32_t limit) { return limit == 0 ? 0 : next() % limit; }
};

void mutate(std::vector<uint8_t>& bytes, Random& random) {
    uint32_t size = uint32_t(bytes.size());
    switch (random.below(6)) {
        case 0:  // a flipped bit
            if (size) bytes[random.below(size)] ^= uint8_t(1u << random.below(8));
            break;
        case 1:  // an extreme byte
            if (size) bytes[random.below(size)] = random.below(2) ? 0xFF : 0x00;
            break;
        case 2:  // cut short
            bytes.resize(random.below(size + 1));
            break;
        case 3: {  // a size field made large, small or negative
            if (size < 4) break;
            uint32_t at = random.below(size - 3);
            const uint32_t values[] = {0, 1, 0x7FFFFFFF, 0xFFFFFFFF, 0x10000, random.next()};
            uint32_t value = values[random.below(6)];
            std::memcpy(&bytes[at], &value, 4);
            break;
        }
        case 4: {  // a piece repeated
            if (size < 2) break;
            uint32_t from = random.below(size), length = 1 + random.below(size - from);
            std::vector<uint8_t> piece(bytes.begin() + from, bytes.begin() + from + length);
            bytes.insert(bytes.begin() + random.below(size), piece.begin(), piece.end());
            break;
        }
        default:  // random bytes in a run
            for (uint32_t i = 0, at = random.below(size + 1); i < 16 && at + i < bytes.size(); ++i)
                bytes[at + i] = uint8_t(random.next());
            break;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: image_fuzz FIXTURES_DIR COUNT [SEED]\n");
        return 2;
    }
    std::vector<std::vector<uint8_t>> fixtures;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
        std::ifstream in(entry.path(), std::ios::binary);
        fixtures.emplace_back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    if (fixtures.empty()) {
        std::fprintf(stderr, "image_fuzz: no fixtures in %s\n", argv[1]);
        return 1;
    }
    long count = std::atol(argv[2]);
    Random random{argc > 3 ? uint32_t(std::atol(argv[3])) : 20261210u};
    long decoded = 0;
    for (long i = 0; i < count; ++i) {
        std::vector<uint8_t> bytes = fixtures[random.below(uint32_t(fixtures.size()))];
        for (uint32_t m = 1 + random.below(4); m > 0; --m) mutate(bytes, random);
        // A copy of exactly the mutated size, so a read past its end is seen.
        auto* exact = static_cast<uint8_t*>(std::malloc(bytes.size() + 1));
        std::memcpy(exact, bytes.data(), bytes.size());
        display::Surface* surface = display::image_decode_memory(exact, exact + bytes.size());
        if (surface != nullptr) {
            ++decoded;
            if (surface->buffer == nullptr) {
                std::fprintf(stderr, "image_fuzz: case %ld gave a surface without pixels\n", i);
                return 1;
            }
        }
        display::surface_delete(surface);
        std::free(exact);
    }
    std::printf("image_fuzz: %ld images, %ld decoded, %ld refused\n", count, decoded, count - decoded);
    return 0;
}
