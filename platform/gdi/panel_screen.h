// The device screen showing the display panel's frame buffer: what a program writing the
// panel directly has drawn appears on the screen (and so in the desktop window) until the
// windows are drawn over it again.
#pragma once

namespace platform {

// Copies what the simulated panel holds, through its own mapping, onto the screen; nothing
// when the device has no panel.
void show_display_panel();

}  // namespace platform
