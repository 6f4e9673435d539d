// Memory, file and source streams of the sound loaders.
#include "sound/streams.h"

#include <cstring>
#include <new>

#include "platform/kernel/stdio.h"

namespace sound {

bool MemoryStream::open(const void* source, uint32_t size_in_bytes) {
    if (source == nullptr) return false;
    block = static_cast<const uint8_t*>(source);
    position = 0;
    size = static_cast<int32_t>(size_in_bytes);
    return true;
}

int32_t MemoryStream::close() {
    block = nullptr;
    return 1;
}

int32_t MemoryStream::read(void* buffer, uint32_t count) {
    int64_t left = int64_t{size} - position;
    if (block == nullptr || left <= 0) return 0;
    int64_t n = count < left ? int64_t{count} : left;
    std::memcpy(buffer, block + position, static_cast<size_t>(n));
    position += static_cast<int32_t>(n);
    return static_cast<int32_t>(n);
}

bool MemoryStream::seek(int32_t offset, int32_t origin) {
    int64_t target;
    switch (origin) {
    case from_current: target = int64_t{position} + offset; break;
    case from_start: target = offset; break;
    case from_end: target = int64_t{size} - offset; break;
    default: return false;
    }
    if (target >= 0 && target <= size) position = static_cast<int32_t>(target);
    return true;
}

int32_t MemoryStream::tell() { return position; }
int32_t MemoryStream::stream_size() { return size; }

FileStream::~FileStream() { close(); }

bool FileStream::open(const void* source, uint32_t) {
    close();
    file = crt::_wfopen(static_cast<const WCHAR*>(source), u"rb");
    return file != nullptr;
}

int32_t FileStream::close() {
    if (file != nullptr) std::fclose(file);
    file = nullptr;
    return 1;
}

int32_t FileStream::read(void* buffer, uint32_t count) {
    if (file == nullptr) return 0;
    return static_cast<int32_t>(std::fread(buffer, 1, count, file));
}

bool FileStream::seek(int32_t offset, int32_t origin) {
    if (file == nullptr) return false;
    int whence;
    switch (origin) {
    case from_current: whence = SEEK_CUR; break;
    case from_start: whence = SEEK_SET; break;
    case from_end: whence = SEEK_END; break;
    default: return false;
    }
    return std::fseek(file, offset, whence) == 0;
}

int32_t FileStream::tell() {
    if (file == nullptr) return -1;
    return static_cast<int32_t>(std::ftell(file));
}

int32_t FileStream::stream_size() {
    if (file == nullptr) return -1;
    long saved = std::ftell(file);
    if (saved < 0) return -1;
    std::fseek(file, 0, SEEK_END);
    long size = std::ftell(file);
    std::fseek(file, saved, SEEK_SET);
    return static_cast<int32_t>(size);
}

StreamSource::~StreamSource() { close(); }

bool StreamSource::open(const void* source, uint32_t size) {
    close();
    if (size != 0) inner = new (std::nothrow) MemoryStream;
    else inner = new (std::nothrow) FileStream;
    if (inner == nullptr) return false;
    return inner->open(source, size);
}

int32_t StreamSource::close() {
    if (inner != nullptr) {
        inner->close();
        delete inner;
        inner = nullptr;
    }
    return 1;
}

int32_t StreamSource::read(void* buffer, uint32_t count) { return inner ? inner->read(buffer, count) : 0; }
bool StreamSource::seek(int32_t offset, int32_t origin) { return inner ? inner->seek(offset, origin) : false; }
int32_t StreamSource::tell() { return inner ? inner->tell() : -1; }
int32_t StreamSource::stream_size() { return inner ? inner->stream_size() : -1; }

}  // namespace sound
