// The byte streams the sound loaders read: a block in memory, a file, and a source that
// picks one of the two.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/kernel/types.h"

namespace sound {

// Seek origins of the sound streams (not those of stdio).
enum StreamOrigin : int32_t { from_current = 0, from_start = 1, from_end = 2 };

class Stream {
public:
    // Opens the stream on a source; what source and size mean depends on the kind.
    virtual bool open(const void* source, uint32_t size) = 0;
    // Closes the stream; always 1.
    virtual int32_t close() = 0;
    // Reads up to count bytes; returns the bytes read.
    virtual int32_t read(void* buffer, uint32_t count) = 0;
    // Moves the position; false for an unknown origin or a failed move.
    virtual bool seek(int32_t offset, int32_t origin) = 0;
    virtual int32_t tell() = 0;
    // Bytes in the whole stream, -1 when unknown.
    virtual int32_t stream_size() = 0;
    virtual ~Stream() = default;
};

// Reads a block in memory; the block is not owned.
class MemoryStream final : public Stream {
public:
    bool open(const void* source, uint32_t size) override;
    int32_t close() override;
    int32_t read(void* buffer, uint32_t count) override;
    // From the end the target is size - offset (offsets count back from the end).
    // A target outside 0..size leaves the position as it was and still succeeds.
    bool seek(int32_t offset, int32_t origin) override;
    int32_t tell() override;
    int32_t stream_size() override;

    const uint8_t* block = nullptr;
    int32_t position = 0;
    int32_t size = 0;
};

// Reads a file named by a UTF-16 path (the size given to open is ignored).
class FileStream final : public Stream {
public:
    ~FileStream() override;
    bool open(const void* source, uint32_t size) override;
    int32_t close() override;
    int32_t read(void* buffer, uint32_t count) override;
    // The offset goes to fseek unchanged: from the end it is added to the file's size.
    bool seek(int32_t offset, int32_t origin) override;
    int32_t tell() override;
    int32_t stream_size() override;

    FILE* file = nullptr;
};

// A memory stream when size is not 0, else a file stream on the path in source;
// forwards every operation to it.
class StreamSource final : public Stream {
public:
    ~StreamSource() override;
    bool open(const void* source, uint32_t size) override;
    int32_t close() override;
    int32_t read(void* buffer, uint32_t count) override;
    bool seek(int32_t offset, int32_t origin) override;
    int32_t tell() override;
    int32_t stream_size() override;

    Stream* inner = nullptr;
};

}  // namespace sound
