// The GUI library's interface to the top of the runtime: its built-ins and the services
// it gives the layers below (message loop, program end, screen DPI, status window).
#pragma once

// Registers the GUI built-ins (forms, dialogs, event bindings, message pumps, script
// window classes).
void register_gui_builtins();

// Fills the hooks through which the layers below call the GUI library; start-up runs it
// once before anything else.
void install_gui_services();

// What start-up and teardown call: the main message loop (until the last program has
// ended), the screen DPI read once, and the removal of every event binding.
void run_message_loop();
void cache_screen_dpi();
void remove_all_event_bindings();
