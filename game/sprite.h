// The sprite record and the one global list of live sprites, in creation order. A
// script holds a sprite by the record's address.
#pragma once

#include <cstdint>

#include "platform/kernel/system_info.h"

namespace display {
struct Surface;
}
struct InstructionNode;
struct ProgramContext;
struct CollisionMask;
struct DrawListNode;
struct SpriteTimer;

constexpr int32_t kSpriteFrameSlots = 512;
constexpr int32_t kSpriteTimerSlots = 15;

// One item of a sprite's collide list: the hash of one class it collides with.
struct CollideHashNode {
  uint32_t hash;
  CollideHashNode* next;
};
static_assert(sizeof(CollideHashNode) == 8);

// The fields keep the record's published order; option bits are named where they are
// tested.
struct Sprite {
  double x, y;
  int32_t width, height;
  int32_t visible;
  int32_t frame_index;
  int32_t alpha;
  int32_t order;
  int32_t tint;
  int32_t tint_level;
  int32_t light;
  int32_t light_radius;
  double angle;
  int32_t frame_count;
  int32_t first_frame, last_frame;
  int32_t frame_loop;
  int32_t anim_speed;
  double accel;
  double vel_x, vel_y;
  int32_t color;
  double mass, elasticity, friction;
  InstructionNode* proc;
  char* id;
  char* collide;
  int32_t layer;
  int32_t offset_x, offset_y;
  double gravity;
  Sprite* parent;
  RECT clip;
  RECT collide_rect;
  uint64_t options;
  int32_t tile_x, tile_y;
  double auto_offset_x, auto_offset_y;
  double auto_scroll_x, auto_scroll_y;
  int32_t ai_speed;
  int32_t iso_height;
  int32_t alt_index, alt_alpha, alt_radius;
  int32_t can_move_x, can_move_y;
  double path_cost;
  double vel_limit_low, vel_limit_high;
  double anim_speed_vel;
  int32_t lifetime;
  int32_t map;
  int32_t data;
  display::Surface* surface;
  display::Surface* alpha_surface;
  RECT frame_rects[kSpriteFrameSlots];
  int32_t light_level;
  int32_t anim_last_ms;
  int32_t lifetime_start;
  CollisionMask* frame_masks[kSpriteFrameSlots];
  int32_t mask_extent_x[kSpriteFrameSlots];
  int32_t mask_extent_y[kSpriteFrameSlots];
  int32_t owns_surface, owns_alpha_surface;
  int32_t ai_last_ms;
  int32_t saved_frame_index, saved_alpha, alternate_on;
  ProgramContext* owner;
  RECT screen_rect;
  RECT screen_collide_rect;
  DrawListNode* draw_node;
  int32_t moved_flag;
  uint8_t in_anim_list;
  double prev_x, prev_y;
  int32_t grid_range[4];  // first column, first row, last column, last row
  uint32_t id_hash;
  CollideHashNode* collide_hashes;
  SpriteTimer* timers[kSpriteTimerSlots];
  uint8_t timer_count;
  int32_t current_loop;
  int32_t drawn_width, drawn_height;
  uint8_t plain_motion;
  uint8_t paused;
  Sprite* clone_source;
  double slide_last_x;
  int32_t slide_dir;
  uint8_t first_step;
  uint8_t full_render;
  uint32_t sequence;
  uint8_t deleted;
  DrawListNode* children;
  DrawListNode* last_contacts;
  Sprite* next;
  Sprite* prev;
  uint8_t reserved[4];  // unused; the record keeps its published size
};
static_assert(sizeof(Sprite) == 14920, "Sprite is a 14,920-byte record");

// Option bits tested by the lists, geometry and collision code.
constexpr uint64_t kOptionOwnsSurface = 1ull << 2;
constexpr uint64_t kOptionFixedX = 1ull << 4;
constexpr uint64_t kOptionFixedY = 1ull << 8;
constexpr uint64_t kOptionNoHitTest = 0x1000;
constexpr uint64_t kOptionNoFrictionFromOther = 0x2000;
constexpr uint64_t kOptionPixelExact = 1ull << 20;
constexpr uint64_t kOptionAlphaSolidWhite = 1ull << 22;
constexpr uint64_t kOptionInGrid = 1ull << 24;
constexpr uint64_t kOptionOwnsAlphaSurface = 1ull << 26;
constexpr uint64_t kOptionClipToParent = 1ull << 36;
constexpr uint64_t kOptionNoElasticity = 0x200000000000ull;
constexpr uint64_t kOptionAxisSides = 0x1000000000000000ull;

// A sprite is in the collision grid unless its last column and last row are -1.
inline bool sprite_in_grid(const Sprite* sprite) {
  return !(sprite->grid_range[2] == -1 && sprite->grid_range[3] == -1);
}

// The live sprite whose address the handle is, or null for any other number (0, a
// destroyed sprite, a handle of another kind). Sprites marked deleted are still live.
Sprite* sprite_from_handle(uint32_t handle);
// Calls the sprite's procedure with (sprite, message, value1, value2) in its owner
// program; the result is dropped. Nothing without a procedure or owner.
void send_sprite_event(Sprite* sprite, double message, double value1, double value2);
// Releases a picture a sprite owned and no longer holds. When another sprite still draws
// it (a clone), that sprite owns it from now on and it stays.
void release_sprite_surface(display::Surface* surface);

// Allocates a sprite with its defaults (owner: the running program) and links it at the
// tail of the sprite list. Null when out of memory.
Sprite* create_sprite();
// Calls the sprite's procedure with message 2, then unlinks it, frees what it owns and
// forgets every reference to it. Null does nothing.
void destroy_sprite(Sprite* sprite);
// Destroys the sprites marked deleted, oldest first, each with its destroy event, and gives
// their count. Sprites made during it are left for the next call, marked or not.
int32_t destroy_marked_sprites();
// Destroys every sprite, last first, and empties the draw list.
void destroy_all_sprites();
// The last sprite following next from sprite (null for null).
Sprite* last_sprite_from(Sprite* sprite);
