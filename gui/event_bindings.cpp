// Event bindings: ADDEVENT and CLEAREVENTS, the dispatch of a message to the first
// matching binding, and the removal of a window's or a program's bindings.
#include "gui/event_bindings.h"

#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "gui/script_calls.h"
#include "vm/builtin_arguments.h"
#include "vm/procedure_call.h"

EventBinding* event_bindings = nullptr;

namespace {

constexpr uint32_t kCommandMessage = 273;  // WM_COMMAND
constexpr uint32_t kNotifyMessage = 78;    // WM_NOTIFY

// The header every WM_NOTIFY's lParam points at.
struct NotifyHeader {
  HWND from;
  uint32_t id;
  int32_t code;
};

int32_t run_binding(const EventBinding* binding, HWND window, uint32_t message, WPARAM wparam, LPARAM lparam) {
  return call_script_handler(binding->program, binding->handler, window_number(window), static_cast<int32_t>(message),
                             static_cast<int32_t>(wparam), static_cast<int32_t>(lparam));
}

template <typename Matches>
void remove_matching(Matches matches) {
  EventBinding** link = &event_bindings;
  while (EventBinding* binding = *link) {
    if (matches(binding)) {
      *link = binding->next;
      crt::free(binding);
    } else {
      link = &binding->next;
    }
  }
}

}  // namespace

EventBinding* add_event_binding(ProgramContext* program, HWND window, int32_t code, int32_t id,
                                InstructionNode* handler) {
  auto* binding = static_cast<EventBinding*>(crt::calloc(1, sizeof(EventBinding)));
  if (!binding) return nullptr;
  *binding = EventBinding{program, window, code, id, handler, event_bindings};
  event_bindings = binding;
  return binding;
}

// The handler runs and its result is returned at once: it may add or remove bindings, so
// the walk never goes on after it.
int32_t dispatch_window_event(HWND window, uint32_t message, WPARAM wparam, LPARAM lparam) {
  auto low = static_cast<int32_t>(wparam & 0xFFFF);
  if (message == kCommandMessage) {
    auto high = static_cast<int32_t>((wparam >> 16) & 0xFFFF);
    for (EventBinding* binding = event_bindings; binding; binding = binding->next) {
      if (binding->id == low && binding->code == high && GetParent(binding->window) == window) {
        return run_binding(binding, window, message, wparam, lparam);
      }
    }
  } else if (message == kNotifyMessage && lparam != 0) {
    const auto* header = platform::pointer_from<const NotifyHeader>(static_cast<uint32_t>(lparam));
    for (EventBinding* binding = event_bindings; binding; binding = binding->next) {
      if (binding->code == header->code && static_cast<uint32_t>(binding->id) == header->id &&
          binding->window == header->from) {
        return run_binding(binding, window, message, wparam, lparam);
      }
    }
  }
  for (EventBinding* binding = event_bindings; binding; binding = binding->next) {
    if (binding->code != static_cast<int32_t>(message)) continue;
    if ((binding->id == 0 && binding->window == window) || (low != 0 && low == binding->id)) {
      return run_binding(binding, window, message, wparam, lparam);
    }
  }
  return 1;
}

void remove_events_of_window(HWND window) {
  remove_matching([window](const EventBinding* binding) { return !window || binding->window == window; });
}

void remove_events_of_program(ProgramContext* program) {
  remove_matching([program](const EventBinding* binding) { return !program || binding->program == program; });
}

void builtin_addevent() {
  uint32_t handler = static_cast<uint32_t>(pop_integer());
  int32_t id = pop_integer();
  int32_t code = pop_integer();
  HWND window = window_from_number(pop_integer());
  InstructionNode* procedure = script_procedure_from_number(current_program, handler, "ADDEVENT");
  if (!procedure) return;
  add_event_binding(current_program, window, code, id, procedure);
}

void builtin_clearevents() { remove_events_of_window(window_from_number(pop_integer())); }
