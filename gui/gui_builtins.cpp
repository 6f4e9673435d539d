// Registration of the GUI built-ins and the hooks the lower layers call the GUI through.
#include "gui/gui.h"

#include <utility>

#include "compiler/driver/program_end.h"
#include "compiler/ui/status_window.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "gui/event_bindings.h"
#include "gui/forms.h"
#include "gui/message_pump.h"
#include "gui/screen.h"
#include "gui/script_calls.h"
#include "gui/script_classes.h"
#include "vm/applications.h"
#include "vm/builtin_registry.h"
#include "vm/script_threads.h"

namespace {

void dispatch_pending_messages() {
  while (pump_one_message()) {
  }
}

// A window class whose procedure belongs to an ending program keeps its registration but
// no longer runs that program's freed code.
void forget_class_procedures_of(ProgramContext* program) {
  for (WindowClassEntry* entry = window_class_list; entry; entry = entry->next) {
    if (!program || is_program_procedure(program, platform::pointer_from<InstructionNode>(entry->value))) {
      entry->value = 0;
    }
  }
}

void remove_program_events(ProgramContext* program) {
  remove_events_of_program(program);
  forget_class_procedures_of(program);
}

void visit_form_procedure(FormRecord* form, void (*visit)(void** procedure, void** parked)) {
  visit(reinterpret_cast<void**>(&form->procedure), reinterpret_cast<void**>(&form->parked_procedure));
}

}  // namespace

void remove_all_event_bindings() { remove_events_of_program(nullptr); }

void register_gui_builtins() {
  struct Row {
    const char* name;
    BuiltinHandler handler;
  };
  static constexpr Row kRows[] = {
      {"ADDEVENT", builtin_addevent},
      {"CLEAREVENTS", builtin_clearevents},
      {"__controltoclipboard", builtin_controltoclipboard},
      {"processmessages", builtin_processmessages},
      {"handlemessage", builtin_handlemessage},
      {"newform", builtin_newform},
      {"newformex", builtin_newformex},
      {"newdlg", builtin_newdlg},
      {"centerform", builtin_centerform},
      {"showmodal", builtin_showmodal},
      {"waitforinput", builtin_waitforinput},
      {"setbackcolor", builtin_setbackcolor},
      {"setfontcolor", builtin_setfontcolor},
      {"destroywindow", builtin_destroywindow},
      {"showwindow", builtin_showwindow},
      {"registerclass", builtin_registerclass},
      {"unregisterclass", builtin_unregisterclass},
  };
  for (const Row& row : kRows) builtin_register(row.name, row.handler);
}

void install_gui_services() {
  pump_pending_messages = dispatch_pending_messages;
  post_application_end = post_end_of_program;
  program_end_hooks.destroy_window = DestroyWindow;
  program_end_hooks.release_form_extras = release_form_extras;
  program_end_hooks.remove_window_events = remove_events_of_window;
  program_end_hooks.remove_program_events = remove_program_events;
  runtime_error_services.visit_script_handlers = visit_form_procedure;
  delete_gdi_object = [](void* object) { DeleteObject(static_cast<HGDIOBJ>(object)); };
  status_window_services.create_default_font = create_default_font;
  status_window_services.let_one_message_through = builtin_handlemessage;
}
