// The sprite list: creating sprites with their defaults, and destroying one or all with
// everything they own and every reference to them.
#include "game/sprite.h"

#include "game/game_loop.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "display/canvas.h"

#include "display/surface.h"
#include "foundation/address_set.h"
#include "foundation/machine_state.h"
#include "foundation/program_context.h"
#include "foundation/value_stack.h"
#include "game/collision_grid.h"
#include "game/draw_list.h"
#include "game/game_drawing.h"
#include "game/game_math.h"
#include "game/game_state.h"
#include "game/pending_links.h"
#include "game/sprite_geometry.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"
#include "vm/applications.h"
#include "vm/machine.h"

namespace {

// Every live sprite, so a handle from a script is checked before it is followed.
// The collision code checks sprites this way several times for every hit.
AddressSet& live_sprites() {
  // Never destroyed: sprites may still be destroyed during process exit.
  static auto* sprites = new AddressSet();
  return *sprites;
}

// Sprites whose destruction has begun. Their destroy event may destroy sprites again
// (clearsprites, flushsprites): those calls pass them by instead of starting over.
std::vector<const Sprite*>& sprites_being_destroyed() {
  static auto* sprites = new std::vector<const Sprite*>();
  return *sprites;
}

bool being_destroyed(const Sprite* sprite) {
  const std::vector<const Sprite*>& destroying = sprites_being_destroyed();
  return std::find(destroying.begin(), destroying.end(), sprite) != destroying.end();
}

}  // namespace

Sprite* sprite_from_handle(uint32_t handle) {
  auto* sprite = platform::pointer_from<Sprite>(handle);
  if (!sprite || !live_sprites().contains(sprite)) return nullptr;
  return sprite;
}

Sprite* create_sprite() {
  auto* sprite = static_cast<Sprite*>(crt::calloc(1, sizeof(Sprite)));
  if (!sprite) return nullptr;
  try {
    live_sprites().insert(sprite);
  } catch (const std::bad_alloc&) {
    crt::free(sprite);
    return nullptr;
  }
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

// The owner's stack is left as it was.
void send_sprite_event(Sprite* sprite, double message, double value1, double value2) {
  ProgramContext* program = sprite->owner;
  if (!sprite->proc || !program) return;
  ProgramContext* caller = current_program;
  const HeldStackTop top = stack_hold_top(program);
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
  // The event may have freed the stack (clearstack) or ended the program (freeapp).
  if (program_is_loaded(program)) stack_return_to(program, top);
  current_program = caller;
}

namespace {

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
  sprite_walks_forget(sprite);
  if (sprite->prev) sprite->prev->next = sprite->next;
  else if (game.sprite_list_head == sprite) game.sprite_list_head = sprite->next;
  if (sprite->next) sprite->next->prev = sprite->prev;
  else if (game.sprite_list_tail == sprite) game.sprite_list_tail = sprite->prev;
  sprite->next = sprite->prev = nullptr;
}

}  // namespace

void release_sprite_surface(display::Surface* surface) {
  if (!surface) return;
  for (Sprite* other = game.sprite_list_head; other; other = other->next) {
    if (other->surface == surface) {
      other->owns_surface = 1;
      return;
    }
    if (other->alpha_surface == surface) {
      other->owns_alpha_surface = 1;
      return;
    }
  }
  // The game must not go on drawing into a freed picture.
  if (game.draw_canvas && game.draw_canvas->target == surface) {
    display::canvas_set_target(game.draw_canvas, game_drawing.back_buffer);
  }
  display::surface_delete(surface);
}

namespace {

void destroy_sprite_sending(Sprite* sprite, bool send_event) {
  if (!sprite) return;
  if (being_destroyed(sprite)) return;
  std::vector<const Sprite*>& destroying = sprites_being_destroyed();
  destroying.push_back(sprite);
  forget_sprite(sprite);
  if (send_event && sprite->proc && sprite->owner) {
    send_sprite_event(sprite, 2, 0, 0);
    // The sprite is still live while its procedure runs, so the procedure may have linked
    // it again (another sprite's parent, a child, a clone's source): those links go too.
    forget_sprite(sprite);
  }
  unlink_sprite(sprite);
  node_list_free(&sprite->last_contacts);
  bool owns_surface = (sprite->options & kOptionOwnsSurface) || sprite->owns_surface;
  bool owns_alpha = (sprite->options & kOptionOwnsAlphaSurface) || sprite->owns_alpha_surface;
  if (owns_surface) release_sprite_surface(sprite->surface);
  // One picture held twice is released once.
  if (owns_alpha && !(owns_surface && sprite->alpha_surface == sprite->surface)) {
    release_sprite_surface(sprite->alpha_surface);
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
  live_sprites().erase(sprite);
  std::erase(destroying, sprite);
  crt::free(sprite);
  game.sprite_list_dirty = 1;
}

}  // namespace

void destroy_sprite(Sprite* sprite) { destroy_sprite_sending(sprite, true); }

namespace {

// The sprites listed now, oldest first. A walk that sends events goes through these rather
// than the list: events may make sprites without end, and the walk must end.
std::vector<Sprite*> listed_sprites() {
  std::vector<Sprite*> listed;
  for (Sprite* sprite = game.sprite_list_head; sprite; sprite = sprite->next) listed.push_back(sprite);
  return listed;
}

}  // namespace

int32_t destroy_marked_sprites() {
  // Each one is checked as live and marked when its turn comes: a destroy event may have
  // destroyed it or marked it. Sprites the events make wait for the next flush.
  int32_t count = 0;
  for (Sprite* sprite : listed_sprites()) {
    if (!live_sprites().contains(sprite) || !sprite->deleted) continue;
    destroy_sprite(sprite);
    ++count;
  }
  return count;
}

void destroy_all_sprites() {
  // The sprites there are when the clear starts, newest first, each with its destroy event.
  // One checked as live again before it goes: a destroy event may have destroyed it.
  std::vector<Sprite*> present = listed_sprites();
  for (auto sprite = present.rbegin(); sprite != present.rend(); ++sprite) {
    if (live_sprites().contains(*sprite)) destroy_sprite(*sprite);
  }
  // Sprites the destroy events made go too, without events of their own: an event that makes
  // a sprite each time it runs would otherwise never let the clear end.
  for (;;) {
    Sprite* sprite = game.sprite_list_tail;
    while (sprite && being_destroyed(sprite)) sprite = sprite->prev;
    if (!sprite) break;
    destroy_sprite_sending(sprite, false);
  }
  // Sprites whose destroy event is running (this clear came from one) stay listed until
  // their destroy ends and unlinks them: walks must still find them to drop their links to
  // sprites freed later.
  node_list_free(&game.draw_list_head);
}

Sprite* last_sprite_from(Sprite* sprite) {
  if (!sprite) return nullptr;
  while (sprite->next) sprite = sprite->next;
  return sprite;
}
