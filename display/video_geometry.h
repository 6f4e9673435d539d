// What the frame-buffer drivers share about frames the panel scans turned against the
// screen: the orientation the strides reveal and where the frame's first row begins.
#pragma once

#include <cstdint>

#include "display/video_driver.h"

namespace display {

// From the bytes between horizontal and between vertical neighbours of the screen.
int32_t orientation_from_strides(int32_t x_stride, int32_t y_stride);
// Bytes from the screen's top-left pixel to the frame's first pixel.
int32_t frame_offset(int32_t orientation, int32_t bits, int32_t screen_width, int32_t screen_height, int32_t x_stride,
                     int32_t y_stride);
// Width, height, pitch and orientation of the frame as the panel scans it.
void describe_turned_frame(VideoDescriptor* d, int32_t orientation, int32_t screen_width, int32_t screen_height,
                           int32_t x_stride, int32_t y_stride);
// Waits (yielding) until ready() answers true; false when it has not after a time-out,
// so that hardware that never answers cannot hang the program.
bool wait_until(bool (*ready)(const void* context), const void* context);

void reset_video_probes();
void reset_lcd_probes();

}  // namespace display
