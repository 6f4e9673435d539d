// The whole of GDI: device contexts, objects, drawing, text, colours and DIB sections.
#pragma once

#include "platform/gdi/colours.h"
#include "platform/gdi/device_context.h"
#include "platform/gdi/dib_section.h"
#include "platform/gdi/drawing.h"
#include "platform/gdi/font_enumeration.h"
#include "platform/gdi/gdi_types.h"
#include "platform/gdi/objects.h"
#include "platform/gdi/text.h"
