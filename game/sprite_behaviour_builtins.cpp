// The sprite behaviour built-ins: procedure, id and collide strings, frame animation,
// velocity and direction, physics values, option bits, layer, parent and children, AI
// speed and lifetime, with their getters. A handle that is no live sprite changes
// nothing and reads as 0 (an empty text for the strings).
#include <cmath>
#include <cstring>

#include "display/device_services.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_stack.h"
#include "foundation/hashes.h"
#include "game/draw_list.h"
#include "game/game_behaviour_builtins.h"
#include "game/game_math.h"
#include "game/game_state.h"
#include "game/layers.h"
#include "game/sprite.h"
#include "game/sprite_geometry.h"
#include "game/number_list.h"
#include "game/sprite_handles.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"
#include "vm/script_threads.h"

namespace {

constexpr uint64_t kOptionPlainBlit = 1ull << 25;
constexpr uint64_t kOptionPhysics = 1ull << 16;
// Any of these makes the game loop move the sprite its own way.
constexpr uint64_t kOptionMotionModes = (1ull << 49) | (1ull << 53) | (1ull << 57) | (1ull << 61);
constexpr double kRadiansPerDegree = 0.017453292519944444;
// How far up a parent line is followed when looking for a loop.
constexpr int32_t kMaxParentLine = 4096;

void push_result(double value) { stack_push_number(current_program, value); }

// A string field as the sprite's own text; none reads as an empty text.
void push_sprite_text(const char* text) {
  static char empty[1] = "";
  stack_push_value(const_cast<char*>(text ? text : empty), 0, nullptr, 0);
}

// A script number as a signed 64-bit integer, truncated toward zero (NaN gives 0; the
// ends saturate).
int64_t truncate_to_int64(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 9223372036854775807.0) return INT64_MAX;
  if (value <= -9223372036854775808.0) return INT64_MIN;
  return static_cast<int64_t>(value);
}

// The highest frame index that has a frame rectangle.
int32_t last_existing_frame(const Sprite* sprite) {
  int32_t count = sprite->frame_count;
  if (count > kSpriteFrameSlots) count = kSpriteFrameSlots;
  return count > 1 ? count - 1 : 0;
}

int32_t clamp_frame(const Sprite* sprite, int32_t frame) {
  if (frame < 0) return 0;
  int32_t last = last_existing_frame(sprite);
  return frame > last ? last : frame;
}

// A lower-cased copy of the text, or null when out of memory.
char* lower_case_copy(const char* text) {
  char* copy = crt::_strdup(text);
  if (!copy) return nullptr;
  for (char* c = copy; *c; ++c) {
    if (*c >= 'A' && *c <= 'Z') *c = static_cast<char>(*c - 'A' + 'a');
  }
  return copy;
}

// The direction from (x1, y1) to (x2, y2) in degrees, 0 along +x growing toward +y.
double direction_degrees(double x1, double y1, double x2, double y2) {
  double dx = x2 - x1, dy = y2 - y1;
  if (dx == 0 && dy == 0) return 0;
  if (dx == 0) return dy > 0 ? 90 : 270;
  if (dy == 0) return dx > 0 ? 0 : 180;
  double r = std::atan(dy / dx);
  if (dx < 0) r += 3.14159265359;
  else if (dy < 0) r += 6.28318530718;
  return r * kDegreesPerRadian;
}

// Sets the velocity to speed along angle; the axis angles give exact components.
void set_velocity_along(Sprite* sprite, double angle, double speed) {
  if (angle == 0 || angle == 360) {
    sprite->vel_x = speed;
    sprite->vel_y = 0;
  } else if (angle == 180) {
    sprite->vel_x = -speed;
    sprite->vel_y = 0;
  } else if (angle == 90) {
    sprite->vel_x = 0;
    sprite->vel_y = speed;
  } else if (angle == 270) {
    sprite->vel_x = 0;
    sprite->vel_y = -speed;
  } else {
    double r = angle * kRadiansPerDegree;
    sprite->vel_x = std::cos(r) * speed;
    sprite->vel_y = std::sin(r) * speed;
  }
}

double current_speed(const Sprite* sprite) {
  return std::sqrt(sprite->vel_x * sprite->vel_x + sprite->vel_y * sprite->vel_y);
}

// The game loop keeps a set of animated sprites; a speed that starts or stops animating
// the sprite makes it rebuild that set.
void note_animation_change(const Sprite* sprite, bool animated) {
  if (animated != (sprite->in_anim_list != 0)) game.sprite_list_dirty = 1;
}

// ---- Plain fields ----

template <auto Field>
void get_integer_field() {
  Sprite* sprite = pop_live_sprite();
  push_result(sprite ? sprite->*Field : 0);
}

template <auto Field>
void get_real_field() {
  Sprite* sprite = pop_live_sprite();
  push_result(sprite ? sprite->*Field : 0.0);
}

template <auto Field>
void set_integer_field() {
  int32_t value = pop_integer();
  if (Sprite* sprite = pop_live_sprite()) sprite->*Field = value;
}

template <auto Field>
void set_real_field() {
  double value = pop_number();
  if (Sprite* sprite = pop_live_sprite()) sprite->*Field = value;
}

template <auto Field>
void get_pointer_field() {
  Sprite* sprite = pop_live_sprite();
  push_result(sprite ? platform::address_of(sprite->*Field) : 0);
}

// ---- Procedure, identity and rectangles ----

void builtin_setspriteproc() {
  uint32_t number = pop_address();
  Sprite* sprite = pop_live_sprite();
  if (!sprite) return;
  // The game loop runs the procedure in the sprite's program: anything else is refused
  // with an error.
  ProgramContext* program = sprite->owner ? sprite->owner : current_program;
  auto* procedure = platform::pointer_from<InstructionNode>(number);
  if (procedure && !is_program_procedure(program, procedure)) {
    runtime_error("setspriteproc: the handler is not a procedure of this program");
    return;
  }
  sprite->proc = procedure;
}

void builtin_setspriteid() {
  const char* id = pop_narrow_text();
  Sprite* sprite = pop_live_sprite();
  if (!sprite) return;
  crt::free(sprite->id);
  sprite->id = lower_case_copy(id);
  sprite->id_hash = sprite->id ? hash_name_text(sprite->id) : 0;
  sprite_grid_reregister(sprite);
}

void builtin_spriteid() {
  Sprite* sprite = pop_live_sprite();
  push_sprite_text(sprite ? sprite->id : nullptr);
}

void builtin_setspritecollide() {
  const char* collide = pop_narrow_text();
  Sprite* sprite = pop_live_sprite();
  if (!sprite) return;
  crt::free(sprite->collide);
  collide_hashes_free(sprite);
  sprite->collide = lower_case_copy(collide);
  parse_collide_string(sprite);
  sprite_grid_reregister(sprite);
}

void builtin_spritecollide() {
  Sprite* sprite = pop_live_sprite();
  push_sprite_text(sprite ? sprite->collide : nullptr);
}

void builtin_spriterect() {
  Sprite* sprite = pop_live_sprite();
  if (!sprite) {
    push_result(0);
    return;
  }
  auto* rect = static_cast<RECT*>(crt::malloc(sizeof(RECT)));
  if (rect && !context_own_allocation(current_program, rect, 0, kOwnedMemory)) {
    crt::free(rect);
    rect = nullptr;
  }
  if (rect) {
    rect->left = truncate_to_int(sprite->x);
    rect->top = truncate_to_int(sprite->y);
    rect->right = rect->left + sprite->drawn_width;
    rect->bottom = rect->top + sprite->drawn_height;
  }
  push_result(platform::address_of(rect));
}

void builtin_setspriteindex() {
  int32_t index = pop_integer();
  if (Sprite* sprite = pop_live_sprite()) sprite->frame_index = clamp_frame(sprite, index);
}

// ---- Animation ----

void builtin_setspriteframes() {
  int32_t restart = pop_integer();
  int32_t loop = pop_integer();
  int32_t last = pop_integer();
  int32_t first = pop_integer();
  Sprite* sprite = pop_live_sprite();
  if (!sprite) return;
  sprite->first_frame = clamp_frame(sprite, first);
  sprite->last_frame = clamp_frame(sprite, last);
  sprite->frame_loop = loop;
  sprite->current_loop = 0;
  if (restart != 0) {
    sprite->frame_index = sprite->first_frame;
    sprite->anim_last_ms = static_cast<int32_t>(display::timer_now_ms());
  }
}

void builtin_setspriteanimspeed() {
  int32_t speed = pop_integer();
  Sprite* sprite = pop_live_sprite();
  if (!sprite || sprite->anim_speed == speed) return;
  sprite->anim_speed = speed;
  note_animation_change(sprite, speed != 0);
}

void builtin_setspriteanimspeedvel() {
  double speed = pop_number();
  Sprite* sprite = pop_live_sprite();
  if (!sprite || sprite->anim_speed_vel == speed) return;
  sprite->anim_speed_vel = speed;
  note_animation_change(sprite, speed != 0);
}

// ---- Motion and physics ----

void builtin_setspritevellimits() {
  double high = pop_number();
  double low = pop_number();
  Sprite* sprite = pop_live_sprite();
  if (!sprite) return;
  sprite->vel_limit_low = low;
  sprite->vel_limit_high = high;
}

void builtin_setspritedirection() {
  double speed = pop_number();
  double angle = pop_number();
  Sprite* sprite = pop_live_sprite();
  if (!sprite) return;
  if (speed == -1.0) speed = current_speed(sprite);
  set_velocity_along(sprite, angle, speed);
}

void builtin_setspritevelocity() {
  double speed = pop_number();
  Sprite* sprite = pop_live_sprite();
  if (!sprite) return;
  set_velocity_along(sprite, direction_degrees(0, 0, sprite->vel_x, sprite->vel_y), speed);
}

void builtin_spritedirection() {
  Sprite* sprite = pop_live_sprite();
  push_result(sprite ? direction_degrees(sprite->x, sprite->y, sprite->x + sprite->vel_x, sprite->y + sprite->vel_y)
                     : 0);
}

void builtin_spritevelocity() {
  Sprite* sprite = pop_live_sprite();
  push_result(sprite ? current_speed(sprite) : 0);
}

void builtin_setspritephysic() {
  double friction = pop_number();
  double elasticity = pop_number();
  double mass = pop_number();
  int32_t enable = pop_integer();
  Sprite* sprite = pop_live_sprite();
  if (!sprite) return;
  if (enable == 1) sprite->options |= kOptionPhysics;
  else sprite->options &= ~kOptionPhysics;
  sprite->mass = mass;
  sprite->elasticity = elasticity;
  sprite->friction = friction;
}

// ---- Options, layer, hierarchy and lifetime ----

// What follows every change of the option bits; bits are the ones the script gave.
void option_update(Sprite* sprite, uint64_t bits) {
  if (bits & kOptionPlainBlit) game.sprite_list_dirty = 1;
  sprite_refresh_masks(sprite);
  if (bits & (kOptionFixedX | kOptionFixedY)) sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
  sprite_grid_reregister(sprite);
  sprite->plain_motion = (sprite->options & kOptionMotionModes) ? 0 : 1;
  sprite_full_render_test(sprite);
}

uint64_t pop_option_bits() { return static_cast<uint64_t>(truncate_to_int64(pop_number())); }

void builtin_setspriteoptions() {
  uint64_t bits = pop_option_bits();
  Sprite* sprite = pop_live_sprite();
  if (!sprite) return;
  sprite->options = bits;
  option_update(sprite, bits);
}

void builtin_addspriteoption() {
  uint64_t bits = pop_option_bits();
  Sprite* sprite = pop_live_sprite();
  if (!sprite) return;
  sprite->options |= bits;
  option_update(sprite, bits);
}

void builtin_delspriteoption() {
  uint64_t bits = pop_option_bits();
  Sprite* sprite = pop_live_sprite();
  if (!sprite) return;
  // A toggle of every given bit once any of them is set: given bits that were clear
  // become set.
  if (sprite->options & bits) sprite->options ^= bits;
  option_update(sprite, bits);
}

void builtin_spriteoptions() {
  Sprite* sprite = pop_live_sprite();
  push_result(sprite ? static_cast<double>(static_cast<int64_t>(sprite->options)) : 0);
}

void builtin_setspritelayer() {
  int32_t layer = pop_integer();
  Sprite* sprite = pop_live_sprite();
  if (!sprite) return;
  sprite->layer = layer;
  const LayerRecord* record = find_layer(layer);
  if (!record) return;
  int32_t old_order = sprite->order;
  sprite->order = record->order;
  copy_layer_to_sprite(record, sprite);
  if (sprite->order != old_order) {
    game.geometry_dirty = 1;
    game.draw_list_dirty = 1;
    game.draw_order_dirty = 1;
  }
}

void builtin_setspriteparent() {
  uint32_t parent_handle = pop_address();
  Sprite* sprite = pop_live_sprite();
  if (!sprite) return;
  Sprite* parent = live_sprite(parent_handle);
  if (parent_handle != 0 && !parent) return;
  // A parent below the sprite in its own line would make the line a loop.
  int32_t hops = 0;
  for (Sprite* above = parent; above && hops < kMaxParentLine; above = above->parent, ++hops) {
    if (above == sprite && parent != sprite) return;
  }
  if (sprite->parent) node_list_remove_sprite(&sprite->parent->children, sprite);
  if (!parent || parent == sprite) {
    sprite->parent = nullptr;
    return;
  }
  sprite->parent = parent;
  sprite->x += parent->x;
  sprite->y += parent->y;
  sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
  DrawListNode* node = node_list_append(&parent->children, node_list_last(parent->children));
  if (!node) return;
  node->sprite = sprite;
  node->a = truncate_to_int(sprite->x - parent->x);
  node->b = truncate_to_int(sprite->y - parent->y);
}

void builtin_spritechildren() {
  Variable* list = pop_variable();
  Sprite* sprite = pop_live_sprite();
  HandleListBuilder children(list);
  for (DrawListNode* node = sprite ? sprite->children : nullptr; node; node = node->next) {
    if (!children.add(platform::address_of(node->sprite))) break;
  }
  push_result(children.finish());
}

void builtin_clearspritechildren() {
  if (Sprite* sprite = pop_live_sprite()) node_list_free(&sprite->children);
}

void builtin_setspritelifetime() {
  int32_t lifetime = pop_integer();
  Sprite* sprite = pop_live_sprite();
  if (!sprite) return;
  sprite->lifetime = lifetime;
  sprite->lifetime_start = static_cast<int32_t>(display::timer_now_ms());
}

}  // namespace

void register_sprite_behaviour_builtins() {
  builtin_register("setspriteproc", builtin_setspriteproc);
  builtin_register("spriteproc", get_pointer_field<&Sprite::proc>);
  builtin_register("setspriteid", builtin_setspriteid);
  builtin_register("spriteid", builtin_spriteid);
  builtin_register("setspritecollide", builtin_setspritecollide);
  builtin_register("spritecollide", builtin_spritecollide);
  builtin_register("spriterect", builtin_spriterect);
  builtin_register("setspriteindex", builtin_setspriteindex);
  builtin_register("spriteindex", get_integer_field<&Sprite::frame_index>);
  builtin_register("spritecanmovex", get_integer_field<&Sprite::can_move_x>);
  builtin_register("spritecanmovey", get_integer_field<&Sprite::can_move_y>);

  builtin_register("setspriteframes", builtin_setspriteframes);
  builtin_register("spritefirstframe", get_integer_field<&Sprite::first_frame>);
  builtin_register("spritelastframe", get_integer_field<&Sprite::last_frame>);
  builtin_register("setspriteframeloop", set_integer_field<&Sprite::frame_loop>);
  builtin_register("spriteframeloop", get_integer_field<&Sprite::frame_loop>);
  builtin_register("setspritecurrentloop", set_integer_field<&Sprite::current_loop>);
  builtin_register("spritecurrentloop", get_integer_field<&Sprite::current_loop>);
  builtin_register("setspriteanimspeed", builtin_setspriteanimspeed);
  builtin_register("spriteanimspeed", get_integer_field<&Sprite::anim_speed>);
  builtin_register("setspriteanimspeedvel", builtin_setspriteanimspeedvel);
  builtin_register("spriteanimspeedvel", get_real_field<&Sprite::anim_speed_vel>);

  builtin_register("setspriteaccel", set_real_field<&Sprite::accel>);
  builtin_register("spriteaccel", get_real_field<&Sprite::accel>);
  builtin_register("setspritevelx", set_real_field<&Sprite::vel_x>);
  builtin_register("spritevelx", get_real_field<&Sprite::vel_x>);
  builtin_register("setspritevely", set_real_field<&Sprite::vel_y>);
  builtin_register("spritevely", get_real_field<&Sprite::vel_y>);
  builtin_register("setspritevellimits", builtin_setspritevellimits);
  builtin_register("spritevellimitlow", get_real_field<&Sprite::vel_limit_low>);
  builtin_register("spritevellimithigh", get_real_field<&Sprite::vel_limit_high>);
  builtin_register("setspritedirection", builtin_setspritedirection);
  builtin_register("setspritevelocity", builtin_setspritevelocity);
  builtin_register("spritedirection", builtin_spritedirection);
  builtin_register("spritevelocity", builtin_spritevelocity);
  builtin_register("setspritemass", set_real_field<&Sprite::mass>);
  builtin_register("spritemass", get_real_field<&Sprite::mass>);
  builtin_register("setspriteelasticity", set_real_field<&Sprite::elasticity>);
  builtin_register("spriteelasticity", get_real_field<&Sprite::elasticity>);
  builtin_register("setspritefriction", set_real_field<&Sprite::friction>);
  builtin_register("spritefriction", get_real_field<&Sprite::friction>);
  builtin_register("setspritegravity", set_real_field<&Sprite::gravity>);
  builtin_register("spritegravity", get_real_field<&Sprite::gravity>);
  builtin_register("setspritephysic", builtin_setspritephysic);
  builtin_register("setspriteaispeed", set_integer_field<&Sprite::ai_speed>);
  builtin_register("spriteaispeed", get_integer_field<&Sprite::ai_speed>);

  builtin_register("setspriteoptions", builtin_setspriteoptions);
  builtin_register("addspriteoption", builtin_addspriteoption);
  builtin_register("delspriteoption", builtin_delspriteoption);
  builtin_register("spriteoptions", builtin_spriteoptions);
  builtin_register("setspritelayer", builtin_setspritelayer);
  builtin_register("spritelayer", get_integer_field<&Sprite::layer>);
  builtin_register("setspriteparent", builtin_setspriteparent);
  builtin_register("spriteparent", get_pointer_field<&Sprite::parent>);
  builtin_register("spritechildren", builtin_spritechildren);
  builtin_register("clearspritechildren", builtin_clearspritechildren);
  builtin_register("setspritelifetime", builtin_setspritelifetime);
  builtin_register("spritelifetime", get_integer_field<&Sprite::lifetime>);
}
