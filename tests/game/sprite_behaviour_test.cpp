// The sprite behaviour built-ins called as compiled code calls them: every property's
// setter and getter with their clamps, direction and velocity, option bits, id and
// collide strings, layers, parents and children.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "display/device_services.h"
#include "display/surface.h"
#include "foundation/hashes.h"
#include "foundation/list_elements.h"
#include "foundation/runtime_error.h"
#include "foundation/variable.h"
#include "game/game_math.h"
#include "game/sprite_handles.h"
#include "game_builtin_fixture.h"

namespace {

class SpriteBehaviour : public GameBuiltinTest {
 protected:
  void SetUp() override {
    GameBuiltinTest::SetUp();
    sprite = create_sprite();
    ASSERT_NE(sprite, nullptr);
    sprite->frame_count = 4;
  }
  double handle(const Sprite* which) const { return platform::address_of(which); }
  // Calls a built-in on the sprite with the further numbers.
  void call_on(const Sprite* which, const char* name, std::initializer_list<double> values = {}) {
    push(handle(which));
    for (double value : values) push(value);
    call(name);
  }
  double get(const Sprite* which, const char* name) {
    call_on(which, name);
    return pop_number();
  }
  void clear_flags() {
    game.geometry_dirty = game.draw_list_dirty = game.draw_order_dirty = game.sprite_list_dirty = 0;
  }

  Sprite* sprite = nullptr;
};

// Setter, value given, getter and the value read back: plain stores, truncation of the
// integer ones, and the frame clamps of a 4-frame sprite.
TEST_F(SpriteBehaviour, EverySetterIsReadBackByItsGetter) {
  struct Case {
    const char* setter;
    double value;
    const char* getter;
    double expected;
  };
  const Case cases[] = {
      {"setspriteaccel", 0.25, "spriteaccel", 0.25},
      {"setspritevelx", -2.5, "spritevelx", -2.5},
      {"setspritevely", 3.75, "spritevely", 3.75},
      {"setspritemass", 12.5, "spritemass", 12.5},
      {"setspriteelasticity", 0.8, "spriteelasticity", 0.8},
      {"setspritefriction", 0.1, "spritefriction", 0.1},
      {"setspritegravity", 9.81, "spritegravity", 9.81},
      {"setspriteanimspeedvel", 1.5, "spriteanimspeedvel", 1.5},
      {"setspriteaispeed", 40.9, "spriteaispeed", 40},
      {"setspriteanimspeed", 120.7, "spriteanimspeed", 120},
      {"setspriteframeloop", -1, "spriteframeloop", -1},
      {"setspriteframeloop", 3.9, "spriteframeloop", 3},
      {"setspritecurrentloop", 2, "spritecurrentloop", 2},
      {"setspritelayer", 7, "spritelayer", 7},
      {"setspritelifetime", 1500, "spritelifetime", 1500},
      {"setspriteindex", 2, "spriteindex", 2},
      {"setspriteindex", 3, "spriteindex", 3},
      {"setspriteindex", 4, "spriteindex", 3},
      {"setspriteindex", 600, "spriteindex", 3},
      {"setspriteindex", -1, "spriteindex", 0},
  };
  for (const Case& row : cases) {
    call_on(sprite, row.setter, {row.value});
    EXPECT_DOUBLE_EQ(get(sprite, row.getter), row.expected) << row.setter << "(" << row.value << ")";
  }
}

TEST_F(SpriteBehaviour, DefaultsOfANewSprite) {
  EXPECT_EQ(get(sprite, "spriteaispeed"), -1);
  EXPECT_EQ(get(sprite, "spriteframeloop"), -1);
  EXPECT_EQ(get(sprite, "spriteproc"), 0);
  EXPECT_EQ(get(sprite, "spriteparent"), 0);
  EXPECT_EQ(get(sprite, "spritecanmovex"), 0);
  sprite->can_move_x = 1;
  sprite->can_move_y = -1;
  EXPECT_EQ(get(sprite, "spritecanmovex"), 1);
  EXPECT_EQ(get(sprite, "spritecanmovey"), -1);
}

// First and last frames are kept to the frames that exist; restart starts the loop at
// the first frame.
TEST_F(SpriteBehaviour, FramesAreClampedToTheStrip) {
  struct Case {
    double first, last, restart;
    int32_t first_frame, last_frame, frame_index;
  };
  const Case cases[] = {
      {1, 2, 1, 1, 2, 1},
      {0, 9, 0, 0, 3, 3},
      {-5, 3, 1, 0, 3, 0},
      {7, 8, 1, 3, 3, 3},
  };
  for (const Case& row : cases) {
    sprite->frame_index = 3;
    sprite->current_loop = 5;
    call_on(sprite, "setspriteframes", {row.first, row.last, 2, row.restart});
    EXPECT_EQ(get(sprite, "spritefirstframe"), row.first_frame) << row.first << ".." << row.last;
    EXPECT_EQ(get(sprite, "spritelastframe"), row.last_frame) << row.first << ".." << row.last;
    EXPECT_EQ(sprite->frame_index, row.frame_index) << row.first << ".." << row.last;
    EXPECT_EQ(sprite->frame_loop, 2);
    EXPECT_EQ(sprite->current_loop, 0);
  }
  // A sprite that lost its frames keeps every index at 0.
  sprite->frame_count = 0;
  call_on(sprite, "setspriteindex", {5});
  EXPECT_EQ(sprite->frame_index, 0);
}

TEST_F(SpriteBehaviour, DirectionAndVelocity) {
  struct Case {
    double vel_x, vel_y;  // before
    const char* setter;
    std::vector<double> arguments;
    double expect_x, expect_y;
  };
  const double diagonal = std::sqrt(12.5);
  const Case cases[] = {
      {0, 0, "setspritedirection", {90, 2}, 0, 2},
      {0, 0, "setspritedirection", {0, 3}, 3, 0},
      {0, 0, "setspritedirection", {360, 3}, 3, 0},
      {0, 0, "setspritedirection", {180, 3}, -3, 0},
      {0, 0, "setspritedirection", {270, 3}, 0, -3},
      {3, 4, "setspritedirection", {45, -1}, diagonal, diagonal},
      // 450 is no exact case: the cosine of 7.5 pi is not quite 0.
      {0, 0, "setspritedirection", {450, 1}, std::cos(450 * 0.017453292519944444), std::sin(450 * 0.017453292519944444)},
      {0, 0, "setspritevelocity", {10}, 10, 0},
      {0, -2, "setspritevelocity", {5}, 0, -5},
      {-3, 0, "setspritevelocity", {1}, -1, 0},
  };
  for (const Case& row : cases) {
    sprite->vel_x = row.vel_x;
    sprite->vel_y = row.vel_y;
    push(handle(sprite));
    for (double value : row.arguments) push(value);
    call(row.setter);
    EXPECT_NEAR(sprite->vel_x, row.expect_x, 1e-9) << row.setter << " from " << row.vel_x << "," << row.vel_y;
    EXPECT_NEAR(sprite->vel_y, row.expect_y, 1e-9) << row.setter << " from " << row.vel_x << "," << row.vel_y;
  }
  struct Heading {
    double vel_x, vel_y, degrees, speed;
  };
  const Heading headings[] = {
      {0, 0, 0, 0}, {0, -1, 270, 1}, {-1, -1, 225, std::sqrt(2.0)}, {0, 2, 90, 2}, {-2, 0, 180, 2},
      {3, 4, std::atan(4.0 / 3.0) * 57.29577951307855, 5}, {1, -1, 315, std::sqrt(2.0)},
  };
  for (const Heading& row : headings) {
    sprite->x = 10.5;
    sprite->y = -3;
    sprite->vel_x = row.vel_x;
    sprite->vel_y = row.vel_y;
    EXPECT_NEAR(get(sprite, "spritedirection"), row.degrees, 1e-6) << row.vel_x << "," << row.vel_y;
    EXPECT_NEAR(get(sprite, "spritevelocity"), row.speed, 1e-12) << row.vel_x << "," << row.vel_y;
  }
}

TEST_F(SpriteBehaviour, VelocityLimitsAndPhysics) {
  call_on(sprite, "setspritevellimits", {-4.5, 6.25});
  EXPECT_EQ(get(sprite, "spritevellimitlow"), -4.5);
  EXPECT_EQ(get(sprite, "spritevellimithigh"), 6.25);

  // Only 1 switches physics on; the values are stored whatever the switch.
  struct Case {
    double enable;
    bool on;
  };
  for (Case row : {Case{1, true}, Case{2, false}, Case{1, true}, Case{0, false}}) {
    call_on(sprite, "setspritephysic", {row.enable, row.enable + 1, 0.5, 0.25});
    EXPECT_EQ((sprite->options >> 16) & 1, row.on ? 1u : 0u) << row.enable;
    EXPECT_EQ(get(sprite, "spritemass"), row.enable + 1);
    EXPECT_EQ(get(sprite, "spriteelasticity"), 0.5);
    EXPECT_EQ(get(sprite, "spritefriction"), 0.25);
  }
}

// Bits before, the built-in, its bits, the bits after.
TEST_F(SpriteBehaviour, OptionBitsSetAddAndToggle) {
  struct Case {
    uint64_t before;
    const char* name;
    double bits;
    uint64_t after;
  };
  const Case cases[] = {
      {0x1, "delspriteoption", 3, 0x2},  // any shared bit toggles all that were given
      {0x1, "delspriteoption", 1, 0x0},
      {0x1, "delspriteoption", 2, 0x1},  // nothing shared: nothing changes
      {0x1, "addspriteoption", 6, 0x7},
      {0x7, "setspriteoptions", 8, 0x8},
      {0x0, "setspriteoptions", 4294967296.0 * 16, 1ull << 36},
      {0x0, "addspriteoption", -1, ~0ull},
  };
  for (const Case& row : cases) {
    sprite->options = row.before;
    call_on(sprite, row.name, {row.bits});
    EXPECT_EQ(sprite->options, row.after) << row.name << " " << row.bits << " on " << row.before;
  }
  sprite->options = 1ull << 40 | 5;
  EXPECT_EQ(get(sprite, "spriteoptions"), 1099511627781.0);
}

TEST_F(SpriteBehaviour, OptionUpdateKeepsDerivedStateInStep) {
  // Bit 25 asks the game loop to rebuild its sets.
  clear_flags();
  call_on(sprite, "addspriteoption", {1 << 25});
  EXPECT_EQ(game.sprite_list_dirty, 1);
  clear_flags();
  call_on(sprite, "addspriteoption", {1});
  EXPECT_EQ(game.sprite_list_dirty, 0);

  // Motion bits turn plain motion off; clearing them turns it on again.
  call_on(sprite, "addspriteoption", {std::ldexp(1.0, 53)});
  EXPECT_EQ(sprite->plain_motion, 0);
  call_on(sprite, "delspriteoption", {std::ldexp(1.0, 53)});
  EXPECT_EQ(sprite->plain_motion, 1);

  // The full-render test: a plain sprite with a surface blits; bit 5 needs the renderer.
  display::Surface* surface = display::surface_new(8, 8);
  sprite->surface = surface;
  sprite->owns_surface = 1;
  sprite->width = sprite->height = 8;
  sprite->frame_rects[0] = RECT{0, 0, 8, 8};
  call_on(sprite, "setspriteoptions", {0});
  EXPECT_EQ(sprite->full_render, 0);
  call_on(sprite, "addspriteoption", {32});
  EXPECT_EQ(sprite->full_render, 1);
  call_on(sprite, "delspriteoption", {32});
  EXPECT_EQ(sprite->full_render, 0);

  // A sprite fixed to the screen is placed again when the bit changes.
  game.origin_x = 100;
  update_view_rect();
  sprite->x = 10;
  sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
  EXPECT_EQ(sprite->screen_rect.left, 10);
  call_on(sprite, "addspriteoption", {16});
  EXPECT_EQ(sprite->screen_rect.left, 110);

  // The grid bit enters a visible sprite with an id; clearing it takes it out.
  place_grid_sprite(sprite, 0, 0, 8, 8, "ship");
  sprite->options = 0;
  call_on(sprite, "setspriteoptions", {0});
  EXPECT_FALSE(sprite_in_grid(sprite));
  call_on(sprite, "addspriteoption", {1 << 24});
  EXPECT_TRUE(sprite_in_grid(sprite));
  call_on(sprite, "delspriteoption", {1 << 24});
  EXPECT_FALSE(sprite_in_grid(sprite));
}

TEST_F(SpriteBehaviour, IdAndCollideAreStoredInSmallLetters) {
  sprite->options |= kOptionInGrid;
  sprite->width = sprite->height = 8;
  sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
  push(handle(sprite));
  push_text("Hero");
  call("setspriteid");
  EXPECT_STREQ(sprite->id, "hero");
  EXPECT_EQ(sprite->id_hash, hash_name_text("hero"));
  EXPECT_TRUE(sprite_in_grid(sprite)) << "an id puts a grid sprite into the grid";
  call_on(sprite, "spriteid");
  EXPECT_EQ(pop_text(), "hero");

  push(handle(sprite));
  push_text("");
  call("setspriteid");
  EXPECT_STREQ(sprite->id, "");
  EXPECT_EQ(sprite->id_hash, 0u);

  // A number given as the id is its text.
  push(handle(sprite));
  push(42);
  call("setspriteid");
  EXPECT_STREQ(sprite->id, "42");

  push(handle(sprite));
  push_text("Rock, WALL");
  call("setspritecollide");
  EXPECT_STREQ(sprite->collide, "rock, wall");
  EXPECT_TRUE(collide_list_holds(sprite, hash_name_text("rock")));
  EXPECT_TRUE(collide_list_holds(sprite, hash_name_text("wall")));
  push(handle(sprite));
  push_text("tree");
  call("setspritecollide");
  EXPECT_FALSE(collide_list_holds(sprite, hash_name_text("rock")));
  EXPECT_TRUE(collide_list_holds(sprite, hash_name_text("tree")));
  call_on(sprite, "spritecollide");
  EXPECT_EQ(pop_text(), "tree");
}

TEST_F(SpriteBehaviour, SpriteRectIsAFreshRectangle) {
  sprite->x = 10.75;
  sprite->y = -4.5;
  sprite->width = 20;
  sprite->height = 6;
  sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
  double first = get(sprite, "spriterect");
  double second = get(sprite, "spriterect");
  ASSERT_NE(first, 0);
  EXPECT_NE(first, second);
  const RECT* rect = platform::pointer_from<RECT>(static_cast<uint32_t>(first));
  EXPECT_EQ(rect->left, 10);
  EXPECT_EQ(rect->top, -4);
  EXPECT_EQ(rect->right, 30);
  EXPECT_EQ(rect->bottom, 2);
}

TEST_F(SpriteBehaviour, AnimationSpeedRaisesTheListFlagOnlyWhenAnimatingChanges) {
  struct Case {
    const char* name;
    double speed;
    uint8_t in_anim_list;
    uint8_t dirty;
  };
  const Case cases[] = {
      {"setspriteanimspeed", 100, 0, 1}, {"setspriteanimspeed", 100, 0, 0},  // equal: nothing
      {"setspriteanimspeed", 50, 1, 0},  {"setspriteanimspeed", 0, 1, 1},
      {"setspriteanimspeed", 0, 0, 0},   {"setspriteanimspeedvel", 0.5, 0, 1},
      {"setspriteanimspeedvel", 0, 0, 0}, {"setspriteanimspeedvel", 0.25, 1, 0},
  };
  for (const Case& row : cases) {
    sprite->in_anim_list = row.in_anim_list;
    clear_flags();
    call_on(sprite, row.name, {row.speed});
    EXPECT_EQ(game.sprite_list_dirty, row.dirty) << row.name << "(" << row.speed << ") in list " << int(row.in_anim_list);
  }
}

TEST_F(SpriteBehaviour, LayersGiveTheirSettings) {
  LayerRecord* layer = append_layer();
  layer->number = 3;
  layer->order = 9;
  layer->visible = 0;
  layer->auto_scroll_x = 0.5;
  clear_flags();
  call_on(sprite, "setspritelayer", {4});  // no such layer: only stored
  EXPECT_EQ(sprite->layer, 4);
  EXPECT_EQ(sprite->visible, 1);
  EXPECT_EQ(game.draw_order_dirty, 0);
  call_on(sprite, "setspritelayer", {3});
  EXPECT_EQ(sprite->order, 9);
  EXPECT_EQ(sprite->visible, 0);
  EXPECT_EQ(sprite->auto_scroll_x, 0.5);
  EXPECT_EQ(game.draw_order_dirty, 1);
  EXPECT_EQ(game.geometry_dirty, 1);
  clear_flags();
  call_on(sprite, "setspritelayer", {3});  // the same order: no flag
  EXPECT_EQ(game.draw_order_dirty, 0);
}

TEST_F(SpriteBehaviour, ParentsAndChildren) {
  Sprite* parent = create_sprite();
  parent->x = 100;
  parent->y = 50;
  sprite->x = 10;
  sprite->y = 5;
  call_on(sprite, "setspriteparent", {handle(parent)});
  EXPECT_EQ(sprite->x, 110);
  EXPECT_EQ(sprite->y, 55);
  EXPECT_EQ(get(sprite, "spriteparent"), handle(parent));
  ASSERT_NE(parent->children, nullptr);
  EXPECT_EQ(parent->children->sprite, sprite);
  EXPECT_EQ(parent->children->a, 10);
  EXPECT_EQ(parent->children->b, 5);

  Sprite* second = create_sprite();
  call_on(second, "setspriteparent", {handle(parent)});
  Variable* list = make_variable(locals, "KIDS%", nullptr);
  push(handle(parent));
  push_variable(list);
  call("spritechildren");
  EXPECT_EQ(pop_number(), 2);
  EXPECT_EQ(list_element_count(list->cursor), 2u);
  EXPECT_EQ(list->number, handle(sprite));
  EXPECT_EQ(list->cursor->next->number, handle(second));

  // A sprite cannot become the parent of its own parent.
  call_on(parent, "setspriteparent", {handle(sprite)});
  EXPECT_EQ(parent->parent, nullptr);

  // Parent 0 unlinks and keeps the position.
  call_on(sprite, "setspriteparent", {0});
  EXPECT_EQ(sprite->parent, nullptr);
  EXPECT_EQ(sprite->x, 110);
  EXPECT_EQ(parent->children->sprite, second);
  EXPECT_EQ(parent->children->next, nullptr);

  call_on(parent, "clearspritechildren");
  EXPECT_EQ(parent->children, nullptr);
  EXPECT_EQ(second->parent, parent) << "children keep their parent";
  push(handle(parent));
  push_variable(list);
  call("spritechildren");
  EXPECT_EQ(pop_number(), 0);
  EXPECT_EQ(list->cursor, nullptr);
}

TEST_F(SpriteBehaviour, ProcedureMustBeOneOfTheProgram) {
  unsigned errors = runtime_error_count();
  call_on(sprite, "setspriteproc", {handle(sprite)});
  EXPECT_EQ(sprite->proc, nullptr) << "a number that is no procedure is refused";
  EXPECT_EQ(runtime_error_count(), errors + 1) << "with an error";
  call_on(sprite, "setspriteproc", {0});
  EXPECT_EQ(get(sprite, "spriteproc"), 0);
}

TEST_F(SpriteBehaviour, LifetimeStartsNow) {
  call_on(sprite, "setspritelifetime", {250});
  EXPECT_EQ(sprite->lifetime, 250);
  int32_t now = static_cast<int32_t>(display::timer_now_ms());
  EXPECT_LE(now - sprite->lifetime_start, 1000);
}

}  // namespace
