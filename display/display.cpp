// Display::Create through the installed factory.
#include "display/display.h"

namespace display {

namespace {
DisplayFactory installed_factory = nullptr;
}  // namespace

void set_display_factory(DisplayFactory factory) { installed_factory = factory; }

Display* Display::Create(HWND window, DisplayParameters* parameters) {
    return installed_factory != nullptr ? installed_factory(window, parameters) : nullptr;
}

}  // namespace display
