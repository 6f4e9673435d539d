// The two drivers that wrap another: rotation in 16x16 tiles, and the double-buffered
// front of a slow frame buffer that writes only the words that changed.
#include <emmintrin.h>

#include <cstring>
#include <new>

#include "display/video_driver.h"
#include "display/window_system.h"

namespace display {

namespace {

constexpr int32_t tile = 16;

// Eight rows of eight 16-bit pixels turned into eight columns: out[k] holds element k
// of every row.
__attribute__((always_inline)) inline void transpose8(__m128i* v) {
    __m128i b0 = _mm_unpacklo_epi16(v[0], v[1]), b1 = _mm_unpackhi_epi16(v[0], v[1]);
    __m128i b2 = _mm_unpacklo_epi16(v[2], v[3]), b3 = _mm_unpackhi_epi16(v[2], v[3]);
    __m128i b4 = _mm_unpacklo_epi16(v[4], v[5]), b5 = _mm_unpackhi_epi16(v[4], v[5]);
    __m128i b6 = _mm_unpacklo_epi16(v[6], v[7]), b7 = _mm_unpackhi_epi16(v[6], v[7]);
    __m128i c0 = _mm_unpacklo_epi32(b0, b2), c1 = _mm_unpackhi_epi32(b0, b2);
    __m128i c2 = _mm_unpacklo_epi32(b1, b3), c3 = _mm_unpackhi_epi32(b1, b3);
    __m128i c4 = _mm_unpacklo_epi32(b4, b6), c5 = _mm_unpackhi_epi32(b4, b6);
    __m128i c6 = _mm_unpacklo_epi32(b5, b7), c7 = _mm_unpackhi_epi32(b5, b7);
    v[0] = _mm_unpacklo_epi64(c0, c4), v[1] = _mm_unpackhi_epi64(c0, c4);
    v[2] = _mm_unpacklo_epi64(c1, c5), v[3] = _mm_unpackhi_epi64(c1, c5);
    v[4] = _mm_unpacklo_epi64(c2, c6), v[5] = _mm_unpackhi_epi64(c2, c6);
    v[6] = _mm_unpacklo_epi64(c3, c7), v[7] = _mm_unpackhi_epi64(c3, c7);
}

// A 16x16 tile transposed: destination row r (at dst + r * dst_step) is the source's
// column r, the source's row k lying at src + k * src_step. Negative steps mirror, which
// makes the two quarter turns.
__attribute__((always_inline)) inline void transpose_tile(uint8_t* dst, int32_t dst_step, const uint8_t* src, int32_t src_step) {
    __m128i v[8];
    for (int32_t row_block = 0; row_block < 2; ++row_block)
        for (int32_t column_block = 0; column_block < 2; ++column_block) {
            for (int32_t k = 0; k < 8; ++k)
                v[k] = _mm_loadu_si128(
                    reinterpret_cast<const __m128i*>(src + (8 * row_block + k) * src_step + 16 * column_block));
            transpose8(v);
            for (int32_t k = 0; k < 8; ++k)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + (8 * column_block + k) * dst_step + 16 * row_block),
                                 v[k]);
        }
}

// One 16x16 tile of the inner frame from the back buffer. src points at the tile's
// source block's top-left pixel; pitches in bytes.
__attribute__((always_inline)) inline void tile_quarter(uint8_t* dst, uint32_t dst_pitch, const uint8_t* src, uint32_t src_pitch) {
    // dst (r, c) = src (row 15 - c, column r)
    transpose_tile(dst, int32_t(dst_pitch), src + 15 * src_pitch, -int32_t(src_pitch));
}

__attribute__((always_inline)) inline void tile_other_quarter(uint8_t* dst, uint32_t dst_pitch, const uint8_t* src, uint32_t src_pitch) {
    // dst (r, c) = src (row c, column 15 - r)
    transpose_tile(dst + 15 * dst_pitch, -int32_t(dst_pitch), src, int32_t(src_pitch));
}

inline __m128i reversed8(__m128i v) {
    v = _mm_shufflelo_epi16(v, 0x1B);
    v = _mm_shufflehi_epi16(v, 0x1B);
    return _mm_shuffle_epi32(v, 0x4E);
}

__attribute__((always_inline)) inline void tile_half(uint8_t* dst, uint32_t dst_pitch, const uint8_t* src, uint32_t src_pitch) {
    // dst (r, c) = src (row 15 - r, column 15 - c)
    for (int32_t r = 0; r < tile; ++r) {
        const uint8_t* in = src + (15 - r) * src_pitch;
        __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + r * dst_pitch), reversed8(high));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + r * dst_pitch + 16), reversed8(low));
    }
}

// The back-buffer pixel that inner pixel (x, y) shows after a turn.
inline Point back_of(int32_t turn, int32_t x, int32_t y, int32_t bw, int32_t bh) {
    switch (turn) {
        case 1: return {y, bh - 1 - x};
        case 2: return {bw - 1 - x, bh - 1 - y};
        case 3: return {bw - 1 - y, x};
        default: return {x, y};
    }
}

// One tile (or the part of it inside the frame) at inner (x, y).
void turn_tile(int32_t turn, PixelBuffer* frame, const PixelBuffer* back, int32_t x, int32_t y) {
    int32_t bw = int32_t(back->width), bh = int32_t(back->height);
    int32_t right = x + tile, bottom = y + tile;
    if (right <= int32_t(frame->width) && bottom <= int32_t(frame->height)) {
        // The source block's top-left: the back pixel of the tile's corner farthest along the turn.
        Point corner = turn == 1 ? Point{y, bh - x - tile} : turn == 2 ? Point{bw - x - tile, bh - y - tile}
                                                                        : Point{bw - y - tile, x};
        const uint8_t* src = reinterpret_cast<const uint8_t*>(back->at(corner.x, corner.y));
        uint8_t* dst = reinterpret_cast<uint8_t*>(frame->at(x, y));
        if (turn == 1) tile_quarter(dst, frame->pitch, src, back->pitch);
        else if (turn == 2) tile_half(dst, frame->pitch, src, back->pitch);
        else tile_other_quarter(dst, frame->pitch, src, back->pitch);
        return;
    }
    // A tile across the frame's edge (a side that is not a multiple of 16): only its pixels inside.
    if (right > int32_t(frame->width)) right = int32_t(frame->width);
    if (bottom > int32_t(frame->height)) bottom = int32_t(frame->height);
    for (int32_t py = y; py < bottom; ++py) {
        uint16_t* out = frame->row(py);
        for (int32_t px = x; px < right; ++px) {
            Point source = back_of(turn, px, py, bw, bh);
            out[px] = *back->at(source.x, source.y);
        }
    }
}

}  // namespace

// ---- RotationDriver ----

RotationDriver::~RotationDriver() {
    delete back_buffer_;
    delete inner_;
}

bool RotationDriver::Initialize(HWND, const DisplayParameters* parameters, const VideoDescriptor* inner) {
    int32_t requested = parameters->orientation;
    if (requested >= 4 || requested < 0) requested = inner->orientation;
    turn_ = (inner->orientation - requested) & 3;
    bool odd = turn_ & 1;
    descriptor.width = odd ? inner->height : inner->width;
    descriptor.height = odd ? inner->width : inner->height;
    descriptor.bits_per_pixel = inner->bits_per_pixel;
    descriptor.orientation = requested;
    descriptor.swap_effect = 2;
    back_buffer_ = pixel_buffer_create(uint32_t(descriptor.width), uint32_t(descriptor.height));
    if (back_buffer_ == nullptr) return false;
    descriptor.pitch = int32_t(back_buffer_->pitch);
    descriptor.address = back_buffer_->pixels;
    switch (turn_) {
        case 0: plain_copy_ = synced_copy_ = copy_rows; break;
        case 2: plain_copy_ = synced_copy_ = copy_tiles_by_rows; break;
        default: plain_copy_ = copy_tiles_by_columns, synced_copy_ = copy_tiles_by_rows; break;
    }
    if (inner->address == nullptr) synced_copy_ = plain_copy_;
    update_ = Rect{0, 0, 0, 0};
    return true;
}

PixelBuffer* RotationDriver::BeginDraw() {
    inner_frame_ = inner_->BeginDraw();
    return inner_frame_ != nullptr ? back_buffer_ : nullptr;
}

void RotationDriver::EndDraw(uint32_t flags) {
    if (inner_frame_ != nullptr) {
        if (flags & 1) {
            inner_->WaitSync();
            synced_copy_(*this, inner_frame_);
        } else {
            plain_copy_(*this, inner_frame_);
        }
    }
    inner_->EndDraw(flags);
    inner_frame_ = nullptr;
}

void RotationDriver::SetUpdateRect(const Rect& rect) {
    int32_t w = inner_->descriptor.width, h = inner_->descriptor.height;
    Rect turned = rect;
    switch (turn_) {
        case 1: turned = Rect{w - rect.bottom, rect.left, w - rect.top, rect.right}; break;
        case 2: turned = Rect{w - rect.right, h - rect.bottom, w - rect.left, h - rect.top}; break;
        case 3: turned = Rect{rect.top, h - rect.right, rect.bottom, h - rect.left}; break;
        default: break;
    }
    inner_->SetUpdateRect(turned);
    if (turn_ == 0) {
        update_ = turned;
    } else {
        update_ = Rect{turned.left & ~(tile - 1), turned.top & ~(tile - 1), (turned.right + tile - 1) & ~(tile - 1),
                       (turned.bottom + tile - 1) & ~(tile - 1)};
    }
    // Whole tiles, but never beyond the frame.
    update_ = intersect(update_, Rect{0, 0, w, h});
}

void RotationDriver::WaitSync() { inner_->WaitSync(); }

void RotationDriver::copy_rows(const RotationDriver& driver, PixelBuffer* frame) {
    const Rect& r = driver.update_;
    if (r.empty()) return;
    size_t bytes = size_t(r.right - r.left) * 2;
    for (int32_t y = r.top; y < r.bottom; ++y) std::memcpy(frame->at(r.left, y), driver.back_buffer_->at(r.left, y), bytes);
}

void RotationDriver::copy_tiles_by_columns(const RotationDriver& driver, PixelBuffer* frame) {
    const Rect& r = driver.update_;
    for (int32_t x = r.left; x < r.right; x += tile)
        for (int32_t y = r.top; y < r.bottom; y += tile) turn_tile(driver.turn_, frame, driver.back_buffer_, x, y);
}

void RotationDriver::copy_tiles_by_rows(const RotationDriver& driver, PixelBuffer* frame) {
    const Rect& r = driver.update_;
    for (int32_t y = r.top; y < r.bottom; y += tile)
        for (int32_t x = r.left; x < r.right; x += tile) turn_tile(driver.turn_, frame, driver.back_buffer_, x, y);
}

// ---- SlowFB ----

namespace {

// A buffer laid out exactly like the frame (same pitch), so words compare one to one.
PixelBuffer* frame_shaped_buffer(const VideoDescriptor& d) {
    PixelBuffer* buffer = pixel_buffer_create(uint32_t(d.pitch / 2), uint32_t(d.height));
    if (buffer == nullptr) return nullptr;
    buffer->width = uint32_t(d.width);
    return buffer;
}

}  // namespace

SlowFB::~SlowFB() {
    delete inner_;
    delete buffer_a_;
    delete buffer_b_;
}

bool SlowFB::Initialize(HWND window, const DisplayParameters* parameters, const VideoDescriptor* detection) {
    if (!window_system().is_window(window) || !inner_->Initialize(window, parameters, detection)) return false;
    descriptor = inner_->descriptor;
    uint64_t bytes = uint64_t(uint32_t(descriptor.pitch)) * uint32_t(descriptor.height);
    if ((bytes & 0x3E) == 0 && descriptor.pitch > 0 && (descriptor.pitch & 3) == 0 &&
        descriptor.pitch >= 2 * descriptor.width) {
        buffered_ = true;
        descriptor.swap_effect =
            parameters->swap_effect == 2 && parameters->orientation == descriptor.orientation ? 2 : 1;
        buffer_a_ = frame_shaped_buffer(descriptor);
        buffer_b_ = frame_shaped_buffer(descriptor);
        if (buffer_a_ == nullptr || buffer_b_ == nullptr) return false;
        std::memset(buffer_a_->pixels, 0, size_t(bytes));
        std::memset(buffer_b_->pixels, 0, size_t(bytes));
        current_ = buffer_a_;
        band_offset_ = 0;
        band_blocks_ = uint32_t(bytes / 64);
    }
    full_copy_ = true;
    return true;
}

PixelBuffer* SlowFB::BeginDraw() { return buffered_ ? current_ : inner_->BeginDraw(); }

void SlowFB::SetUpdateRect(const Rect& rect) {
    if (buffered_) {
        uint32_t pitch = uint32_t(descriptor.pitch), height = uint32_t(descriptor.height);
        uint32_t top = uint32_t(rect.top), bottom = uint32_t(rect.bottom);
        if ((pitch * (bottom - top)) % 64 != 0) {
            top &= ~1u;
            bottom = (bottom + 1) & ~1u;
            if (bottom > height) bottom = height;
        }
        band_offset_ = pitch * top;
        // Partial blocks count: the band's last words are compared too.
        band_blocks_ = (pitch * (bottom - top) + 63) / 64;
    }
    inner_->SetUpdateRect(rect);
}

void SlowFB::EndDraw(uint32_t flags) {
    if (!buffered_) {
        inner_->EndDraw(flags);
        return;
    }
    PixelBuffer* frame = inner_->BeginDraw();
    if (frame != nullptr && frame->pixels != nullptr) {
        PixelBuffer* other = current_ == buffer_a_ ? buffer_b_ : buffer_a_;
        bool keep = descriptor.swap_effect == 2;
        uint32_t total = uint32_t(descriptor.pitch) * uint32_t(descriptor.height);
        if (!full_copy_ && !(flags & 2)) {
            uint32_t end = band_offset_ + band_blocks_ * 64;
            if (end > total) end = total;
            auto* now = reinterpret_cast<const uint32_t*>(current_->pixels);
            auto* before = reinterpret_cast<uint32_t*>(other->pixels);
            auto* out = reinterpret_cast<uint32_t*>(frame->pixels);
            for (uint32_t block = band_offset_ / 4; block < end / 4; block += 16) {
                uint32_t last = block + 16 < end / 4 ? block + 16 : end / 4;
                __builtin_prefetch(now + last);
                for (uint32_t word = block; word < last; ++word) {
                    if (now[word] == before[word]) continue;
                    out[word] = now[word];
                    if (keep) before[word] = now[word];
                }
            }
        } else {
            std::memcpy(frame->pixels, current_->pixels, total);
            if (keep) std::memcpy(other->pixels, current_->pixels, total);
            full_copy_ = false;
        }
        current_ = other;
    }
    inner_->EndDraw(flags);
}

}  // namespace display
