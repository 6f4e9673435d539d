// Blitters: the pixel writers behind every Canvas operation. A copy blitter stores values,
// a blend blitter mixes them with the destination at a level, a filter blitter hands each
// (new, destination) pair to a PixelFilter. None of them clips: rectangles, points and
// lengths must lie inside the destination (and source rectangles inside the source).
#pragma once

#include <cstdint>

#include "display/geometry.h"
#include "display/pixel_buffer.h"
#include "display/pixel_filter.h"

namespace display {

class Blitter {
 public:
    Blitter(const Blitter&) = delete;
    Blitter& operator=(const Blitter&) = delete;
    virtual ~Blitter() = default;

    // src_rect of src to dst with its top-left at dst_point.
    virtual void blit(PixelBuffer* dst, Point dst_point, const PixelBuffer* src, const Rect& src_rect) = 0;
    // As blit; source pixels equal to key are skipped.
    virtual void blit_keyed(PixelBuffer* dst, Point dst_point, const PixelBuffer* src, const Rect& src_rect,
                            uint16_t key) = 0;
    // Each pixel of dst_rect from the source pixel the matrix maps its centre to; pixels
    // whose source lies outside src are left alone.
    virtual void blit_transformed(PixelBuffer* dst, const Rect& dst_rect, const TransformMatrix& matrix,
                                  const PixelBuffer* src) = 0;
    virtual void blit_transformed_keyed(PixelBuffer* dst, const Rect& dst_rect, const TransformMatrix& matrix,
                                        const PixelBuffer* src, uint16_t key) = 0;
    // The outline of draw_circle, writing only points inside clip.
    virtual void draw_circle_clipped(PixelBuffer* dst, Point centre, int32_t radius, uint16_t colour,
                                     const Rect& clip) = 0;
    // A midpoint circle outline.
    virtual void draw_circle(PixelBuffer* dst, Point centre, int32_t radius, uint16_t colour) = 0;
    // Every pixel of dst.
    virtual void clear(PixelBuffer* dst, uint16_t colour) = 0;
    virtual void fill_rect(PixelBuffer* dst, const Rect& rect, uint16_t colour) = 0;
    // Pixels x .. x + length - 1 of row y.
    virtual void draw_hline(PixelBuffer* dst, Point start, int32_t length, uint16_t colour) = 0;
    // Both end pixels included.
    virtual void draw_line(PixelBuffer* dst, Point a, Point b, uint16_t colour) = 0;
    virtual void set_pixel(PixelBuffer* dst, Point point, uint16_t colour) = 0;
    // Pixels y .. y + length of column x (length + 1 of them); none when length < 0.
    virtual void draw_vline(PixelBuffer* dst, Point start, int32_t length, uint16_t colour) = 0;
    // src_rect of src over dst, each pixel weighted by the green field of the pixel at the
    // same place of alpha, which is laid out like src (same pitch).
    virtual void blit_alpha_map(PixelBuffer* dst, Point dst_point, const PixelBuffer* src,
                                const PixelBuffer* alpha, const Rect& src_rect) = 0;

 protected:
    explicit Blitter(uint32_t parameter) : parameter_(parameter) {}
    // The blend level, the filter's address, or unused.
    uint32_t parameter_;
};
static_assert(sizeof(Blitter) == 8, "a blitter is its operation table and one parameter");

class CopyBlitter final : public Blitter {
 public:
    CopyBlitter() : Blitter(0) {}
    void blit(PixelBuffer* dst, Point dst_point, const PixelBuffer* src, const Rect& src_rect) override;
    void blit_keyed(PixelBuffer* dst, Point dst_point, const PixelBuffer* src, const Rect& src_rect,
                    uint16_t key) override;
    void blit_transformed(PixelBuffer* dst, const Rect& dst_rect, const TransformMatrix& matrix,
                          const PixelBuffer* src) override;
    void blit_transformed_keyed(PixelBuffer* dst, const Rect& dst_rect, const TransformMatrix& matrix,
                                const PixelBuffer* src, uint16_t key) override;
    void draw_circle_clipped(PixelBuffer* dst, Point centre, int32_t radius, uint16_t colour,
                             const Rect& clip) override;
    void draw_circle(PixelBuffer* dst, Point centre, int32_t radius, uint16_t colour) override;
    // Byte fill when both bytes of colour agree (row padding included), else word stores.
    void clear(PixelBuffer* dst, uint16_t colour) override;
    void fill_rect(PixelBuffer* dst, const Rect& rect, uint16_t colour) override;
    void draw_hline(PixelBuffer* dst, Point start, int32_t length, uint16_t colour) override;
    void draw_line(PixelBuffer* dst, Point a, Point b, uint16_t colour) override;
    void set_pixel(PixelBuffer* dst, Point point, uint16_t colour) override;
    void draw_vline(PixelBuffer* dst, Point start, int32_t length, uint16_t colour) override;
    // Weight a/32 with a the alpha value 0-31; 0 leaves the destination alone.
    void blit_alpha_map(PixelBuffer* dst, Point dst_point, const PixelBuffer* src, const PixelBuffer* alpha,
                        const Rect& src_rect) override;
};

struct BlendWriter;
struct FilterWriter;

// A blitter that writes every pixel through one writer made from its parameter: the
// blend and filter blitters differ only in that writer (and in their alpha maps).
template <class Writer>
class WritingBlitter : public Blitter {
 public:
    void blit(PixelBuffer* dst, Point dst_point, const PixelBuffer* src, const Rect& src_rect) override;
    void blit_keyed(PixelBuffer* dst, Point dst_point, const PixelBuffer* src, const Rect& src_rect,
                    uint16_t key) override;
    void blit_transformed(PixelBuffer* dst, const Rect& dst_rect, const TransformMatrix& matrix,
                          const PixelBuffer* src) override;
    void blit_transformed_keyed(PixelBuffer* dst, const Rect& dst_rect, const TransformMatrix& matrix,
                                const PixelBuffer* src, uint16_t key) override;
    void draw_circle_clipped(PixelBuffer* dst, Point centre, int32_t radius, uint16_t colour,
                             const Rect& clip) override;
    void draw_circle(PixelBuffer* dst, Point centre, int32_t radius, uint16_t colour) override;
    void clear(PixelBuffer* dst, uint16_t colour) override;
    void fill_rect(PixelBuffer* dst, const Rect& rect, uint16_t colour) override;
    void draw_hline(PixelBuffer* dst, Point start, int32_t length, uint16_t colour) override;
    void draw_line(PixelBuffer* dst, Point a, Point b, uint16_t colour) override;
    void set_pixel(PixelBuffer* dst, Point point, uint16_t colour) override;
    void draw_vline(PixelBuffer* dst, Point start, int32_t length, uint16_t colour) override;

 protected:
    using Blitter::Blitter;
};
extern template class WritingBlitter<BlendWriter>;
extern template class WritingBlitter<FilterWriter>;

// Mixes every value it writes with the destination at a level 0-251.
class BlendBlitter final : public WritingBlitter<BlendWriter> {
 public:
    explicit BlendBlitter(int32_t level) : WritingBlitter(uint32_t(level)) {}
    int32_t level() const { return int32_t(parameter_); }
    void set_level(int32_t level) { parameter_ = uint32_t(level); }

    // Weight (a * level) >> 8.
    void blit_alpha_map(PixelBuffer* dst, Point dst_point, const PixelBuffer* src, const PixelBuffer* alpha,
                        const Rect& src_rect) override;
};

// Stores filter_pixel(new value, destination value) for every pixel it writes.
class FilterBlitter final : public WritingBlitter<FilterWriter> {
 public:
    explicit FilterBlitter(PixelFilter* filter) : WritingBlitter(parameter_of(filter)) {}
    PixelFilter* filter() const { return reinterpret_cast<PixelFilter*>(uintptr_t(parameter_)); }
    void set_filter(PixelFilter* filter) { parameter_ = parameter_of(filter); }

    // Each pixel the alpha map does not hide is filtered, then mixed in at its weight a/32.
    void blit_alpha_map(PixelBuffer* dst, Point dst_point, const PixelBuffer* src, const PixelBuffer* alpha,
                        const Rect& src_rect) override;

 private:
    // Handles are 32-bit addresses in this program.
    static uint32_t parameter_of(PixelFilter* filter) { return uint32_t(reinterpret_cast<uintptr_t>(filter)); }
};

// The one copy blitter every Canvas starts with; made on first use, gone at exit.
CopyBlitter* copy_blitter();

}  // namespace display
