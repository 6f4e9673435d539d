// The display layer's public interface: pixel buffers, surfaces and blitters.
#pragma once

#include "display/blitter.h"
#include "display/canvas.h"
#include "display/display.h"
#include "display/geometry.h"
#include "display/pixel_buffer.h"
#include "display/rgb565.h"
#include "display/surface.h"
