// The game's procedures and its state: the game and paint procedures, suspending and
// resuming the whole game, the script's game state and the engine the runner starts.
#include "foundation/program_context.h"
#include "foundation/value_stack.h"
#include "game/game_display.h"
#include "game/game_state.h"
#include "gui/script_calls.h"
#include "platform/kernel/time.h"
#include "sound/sound_builtins.h"
#include "sound/sound_system.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

void push_result(double value) { stack_push_number(current_program, value); }

InstructionNode* pop_procedure(const char* builtin_name) {
  return script_procedure_from_number(current_program, pop_address(), builtin_name);
}

void builtin_g_setproc() { game.game_proc = pop_procedure("g_setproc"); }

void builtin_g_proc() { push_result(platform::address_of(game.game_proc)); }

void builtin_g_setpaintproc() { game.paint_proc = pop_procedure("g_setpaintproc"); }

void builtin_g_paintproc() { push_result(platform::address_of(game.paint_proc)); }

void builtin_g_suspend() {
  runtime_sound_system().sound_suspend();
  game.game_state = 2;
}

void builtin_g_resume() {
  if (game.game_window) resume_game_display(game.game_window);
  runtime_sound_system().sound_resume();
  game.game_state = game.saved_game_state;
  // Time spent suspended is neither one long step nor one long frame.
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  game.last_step_ticks = game.last_frame_ticks = now.QuadPart;
}

void builtin_g_state() { push_result(game.game_state); }

void builtin_g_setstate() { game.game_state = game.saved_game_state = pop_integer(); }

void builtin_g_setmainloop() { game.main_loop_mode = uint8_t(pop_integer()); }

void builtin_g_getmainloop() { push_result(game.main_loop_mode); }

}  // namespace

void register_game_procedure_builtins() {
  builtin_register("g_setproc", builtin_g_setproc);
  builtin_register("g_proc", builtin_g_proc);
  builtin_register("g_setpaintproc", builtin_g_setpaintproc);
  builtin_register("g_paintproc", builtin_g_paintproc);
  builtin_register("g_suspend", builtin_g_suspend);
  builtin_register("g_resume", builtin_g_resume);
  builtin_register("g_state", builtin_g_state);
  builtin_register("g_setstate", builtin_g_setstate);
  builtin_register("g_setmainloop", builtin_g_setmainloop);
  builtin_register("g_getmainloop", builtin_g_getmainloop);
}
