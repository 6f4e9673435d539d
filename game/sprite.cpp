// The sprite list: creating sprites with their defaults, and destroying one or all with
// everything they own and every reference to them.
#include "game/sprite.h"

#include "display/surface.h"
#include "foundation/machine_state.h"
#include "foundation/program_context.h"
#include "foundation/value_stack.h"
#include "game/collision_grid.h"
#include "game/draw_list.h"
#include "game/game_math.h"
#include "game/game_state.h"
#include "game/pending_links.h"
#include "game/sprite_geometry.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"
#include "vm/machine.h"

Sprite* create_sprite() {
  auto* sprite = static_cast<Sprite*>(crt::calloc(1, sizeof(Sprite)));
  if (!sprite) return nullptr;
  sprite->visible = 1;
  sprite->alpha = -1;
  sprite->tint = -1;
  sprite->light = -1;
  sprite->frame_count = 1;
  sprite->frame_loop = -1;
  sprite->color = 0xFFFF;
  sprite->ai_speed = -1;
  sprite->light_level = -1;
  sprite->owner = current_program;
  sprite->grid_range[2] = -1;
  sprite->grid_range[3] = -1;
  sprite->plain_motion = 1;
  sprite->first_step = 1;
  Sprite* tail = game.sprite_list_tail;
  sprite->prev = tail;
  if (tail) tail->next = sprite;
  else game.sprite_list_head = sprite;
  sprite->sequence = tail ? tail->sequence + 1 : 1;
  game.sprite_list_tail = sprite;
  game.sprite_list_dirty = 1;
  return sprite;
}

namespace {

// Sends a sprite event to the sprite's procedure in its owner program; the result is
// dropped and the owner's stack is left as it was.
void call_sprite_procedure(Sprite* sprite, double message, double value1, double value2) {
  ProgramContext* program = sprite->owner;
  if (!sprite->proc || !program) return;
  ProgramContext* caller = current_program;
  ValueCell* top = program->stack_top;
  stack_push_number(program, platform::address_of(sprite));
  stack_push_number(program, message);
  stack_push_number(program, value1);
  stack_push_number(program, value2);
  current_program = program;
  call_program = program;
  call_procedure = sprite->proc;
  call_scope = nullptr;
  call_object = nullptr;
  entry_skip = 0;
  vm_call_procedure();
  program->stack_top = top;
  current_program = caller;
}

// Nothing may keep pointing at a sprite once it is freed: its children and clones, its
// node in its parent's children, and the game's globals.
void forget_sprite(Sprite* sprite) {
  forget_sprite_in_windows(sprite);
  for (Sprite* other = game.sprite_list_head; other; other = other->next) {
    if (other->parent == sprite) other->parent = nullptr;
    if (other->clone_source == sprite) other->clone_source = nullptr;
  }
  if (sprite->parent) node_list_remove_sprite(&sprite->parent->children, sprite);
  sprite->parent = nullptr;
  if (game.back_sprite == sprite) game.back_sprite = nullptr;
  if (game.current_render_sprite == sprite) game.current_render_sprite = nullptr;
  if (game.mask_build_sprite == sprite) game.mask_build_sprite = nullptr;
}

void unlink_sprite(Sprite* sprite) {
  if (sprite->prev) sprite->prev->next = sprite->next;
  else if (game.sprite_list_head == sprite) game.sprite_list_head = sprite->next;
  if (sprite->next) sprite->next->prev = sprite->prev;
  else if (game.sprite_list_tail == sprite) game.sprite_list_tail = sprite->prev;
  sprite->next = sprite->prev = nullptr;
}

void release_surface(display::Surface* surface) {
  if (surface) display::surface_delete(surface);
}

}  // namespace

void destroy_sprite(Sprite* sprite) {
  if (!sprite) return;
  forget_sprite(sprite);
  call_sprite_procedure(sprite, 2, 0, 0);
  unlink_sprite(sprite);
  node_list_free(&sprite->last_contacts);
  if ((sprite->options & kOptionOwnsSurface) || sprite->owns_surface) release_surface(sprite->surface);
  if ((sprite->options & kOptionOwnsAlphaSurface) || sprite->owns_alpha_surface) {
    release_surface(sprite->alpha_surface);
  }
  sprite->surface = sprite->alpha_surface = nullptr;
  free_frame_masks(sprite);
  crt::free(sprite->collide);
  collide_hashes_free(sprite);
  crt::free(sprite->id);
  node_list_free(&sprite->children);
  for (SpriteTimer*& timer : sprite->timers) {
    crt::free(timer);
    timer = nullptr;
  }
  free_sprite_particles(sprite);
  free_sprite_paths(sprite);
  if (sprite_in_grid(sprite)) grid_remove_sprite(sprite);
  node_list_remove_sprite(&game.draw_list_head, sprite);
  crt::free(sprite);
  game.sprite_list_dirty = 1;
}

void destroy_all_sprites() {
  Sprite* sprite = game.sprite_list_tail;
  while (sprite) {
    Sprite* prev = sprite->prev;
    destroy_sprite(sprite);
    sprite = prev;
  }
  game.sprite_list_head = game.sprite_list_tail = nullptr;
  node_list_free(&game.draw_list_head);
}

Sprite* last_sprite_from(Sprite* sprite) {
  if (!sprite) return nullptr;
  while (sprite->next) sprite = sprite->next;
  return sprite;
}
