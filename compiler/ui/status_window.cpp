// The compile status window: the progress step, the repaint decisions, and the loader
// program's UPDATE calls. Headless: the window is kept as a record, never drawn.
#include "compiler/ui/status_window.h"

#include <cstring>

#include "compiler/driver/compile_and_run.h"
#include "compiler/driver/program_end.h"
#include "foundation/conversion.h"
#include "foundation/machine_state.h"
#include "foundation/program_context.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_stack.h"
#include "vm/machine.h"

ProgramContext* loader_program = nullptr;

namespace {

StatusDisplay display{};

void replace_text(const char* text) {
  crt::free(display.text);
  display.text = text ? to_wide(text) : nullptr;
}

// Pushes a text cell holding text (not copied) on program's stack.
void push_text(ProgramContext* program, char* text) {
  ValueCell* cell = stack_push_cell(program, true);
  if (!cell) return;
  cell->number = 0;
  cell->text = text;
  cell->variable = nullptr;
  cell->data = 0;
  cell->variant_type = 0;
  cell->references = nullptr;
}

}  // namespace

const StatusDisplay& status_display() { return display; }

int32_t status_progress_step(int32_t position, int32_t total) {
  if (total == 0) return 0;
  float ratio = static_cast<float>(position) / static_cast<float>(total);
  return 1 - static_cast<int32_t>(ratio * -10.0f);
}

int32_t status_bar_fill_width(int32_t rectangle_width, int32_t step, int32_t total) {
  if (total <= 0) return 0;
  return static_cast<int32_t>(static_cast<float>(rectangle_width) * (static_cast<float>(step) * 0.1f));
}

void status_window_open() {
  display.position = 0;
  display.total = 0;
  display.step = 0;
  if (run_switches.status_window && !display.open) {
    display.open = 1;
    display.visible = 0;
    display.text_changed = 0;
    display.full_repaints = 0;
    display.bar_repaints = 0;
  }
}

void status_update(const char* text, int32_t position, int32_t total) {
  if (!run_switches.quiet_mode && display.open) {
    int32_t step = status_progress_step(position, total);
    if (run_switches.status_window && (text != nullptr || step > display.step)) {
      display.visible = 1;
      display.position = position;
      display.total = total;
      display.step = step;
      if (text != nullptr) {
        replace_text(text);
        display.text_changed = 1;
        ++display.full_repaints;
      } else {
        ++display.bar_repaints;
      }
    }
  }
  status_loader_update(3.0, text, position, total);
}

void status_window_close() {
  if (display.open) {
    display.open = 0;
    display.visible = 0;
  }
  replace_text(nullptr);
  display.text_changed = 0;
  if (loader_program != nullptr) {
    status_loader_update(2.0, nullptr, 0, 0);
    ProgramContext* loader = loader_program;
    loader_program = nullptr;
    app_instance_end(loader);
  }
}

void status_loader_update(double kind, const char* text, int32_t position, int32_t total) {
  ProgramContext* loader = loader_program;
  if (loader == nullptr) return;
  InstructionNode* update = find_procedure(loader, "UPDATE");
  if (update == nullptr) return;
  char* copy = text ? crt::_strdup(text) : nullptr;
  ProgramContext* caller = current_program;
  stack_push_number(loader, kind);
  if (copy) push_text(loader, copy);
  else stack_push_number(loader, 0);
  stack_push_number(loader, position);
  stack_push_number(loader, total);
  current_program = loader;
  call_program = loader;
  call_procedure = update;
  vm_call_procedure();
  current_program = caller;
  crt::free(copy);
}
