// Display::Create through the installed factory: the display library unless a test put another.
#include "display/display.h"

#include "display/display_core.h"

namespace display {

namespace {
DisplayFactory installed_factory = create_window_display;
}  // namespace

void set_display_factory(DisplayFactory factory) {
    installed_factory = factory != nullptr ? factory : create_window_display;
}

Display* Display::Create(HWND window, DisplayParameters* parameters) {
    return installed_factory != nullptr ? installed_factory(window, parameters) : nullptr;
}

}  // namespace display
