// The GUI library's interface to the top of the runtime: its built-ins and the services
// it gives the layers below (message loop, program end, screen DPI, status window).
#pragma once

// Registers the GUI built-ins (forms, dialogs, event bindings, message pumps, script
// window classes).
void register_gui_builtins();

// Fills the hooks through which the layers below call the GUI library; start-up runs it
// once before anything else.
void install_gui_services();
