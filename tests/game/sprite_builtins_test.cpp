// The sprite built-ins called as compiled code calls them: the update steps each setter
// runs (dirty flags, renderer choice, masks, grid cells), pictures shared between a
// sprite and its clones, replacement of a picture, and the sprite list queries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "display/canvas.h"
#include "display/surface.h"
#include "foundation/hashes.h"
#include "foundation/runtime_error.h"
#include "foundation/variable.h"
#include "game/collision_mask.h"
#include "game/draw_list.h"
#include "game/sprite_handles.h"
#include "game/sprite_updates.h"
#include "game_builtin_fixture.h"
#include "platform/kernel/memory.h"

namespace {

class SpriteBuiltins : public GameBuiltinTest {
 protected:
  // A sprite owning a 32 x 16 one-frame picture at (10, 10), listed for drawing, with
  // every change flag clear.
  Sprite* make_picture_sprite() {
    Sprite* sprite = create_sprite();
    sprite->surface = display::surface_new(32, 16);
    sprite->owns_surface = 1;
    cut_frame_strip(sprite, 1);
    sprite->x = sprite->y = 10;
    sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
    sprite_full_render_test(sprite);
    update_draw_list();
    clear_flags();
    sprite->moved_flag = 0;
    return sprite;
  }
  static void clear_flags() {
    game.geometry_dirty = game.draw_list_dirty = game.draw_order_dirty = game.sprite_list_dirty = 0;
  }
  // Calls name(sprite, arguments...) and gives its result when it has one.
  double call_on(const char* name, const Sprite* sprite, const std::vector<double>& arguments = {},
                 bool result = false) {
    push(platform::address_of(sprite));
    for (double argument : arguments) push(argument);
    call(name);
    return result ? pop_number() : 0;
  }
};

struct UpdateRow {
  const char* setter;
  std::vector<double> arguments;
  uint8_t geometry, draw_list, draw_order;
  uint8_t full_render;
  bool recomputed;  // the screen rectangle was worked out again
};

TEST_F(SpriteBuiltins, SettersRunTheirUpdateSteps) {
  const UpdateRow rows[] = {
      {"movesprite", {10, 10}, 0, 0, 0, 0, false},      // unchanged: nothing at all
      {"movesprite", {20, 30}, 0, 0, 0, 0, true},       // stays in view
      {"movesprite", {1000, 10}, 1, 1, 0, 0, true},     // leaves the view
      {"setspritex", {-500}, 1, 1, 0, 0, true},
      {"setspritey", {10}, 0, 0, 0, 0, false},
      {"offsetsprite", {0, 0}, 0, 0, 0, 0, false},
      {"offsetsprite", {0, 400}, 1, 1, 0, 0, true},
      {"relmovesprite", {1000, 1000}, 0, 0, 0, 0, false},  // no parent: left alone
      {"setspriteorder", {0}, 0, 0, 0, 0, false},
      {"setspriteorder", {4}, 1, 1, 1, 0, false},
      {"setspritelight", {100}, 1, 0, 0, 1, false},
      {"setspritelight", {-1}, 1, 0, 0, 0, false},
      {"setspritelightradius", {40}, 1, 0, 0, 0, false},
      {"setspritealpha", {128}, 0, 0, 0, 1, false},
      {"setspritetint", {2016}, 0, 0, 0, 1, false},
      {"setspritetint", {-1}, 0, 0, 0, 0, false},
      {"setspritetintlevel", {99}, 0, 0, 0, 0, false},
      {"setspritecolor", {31}, 0, 0, 0, 0, false},
      {"setspriteangle", {0}, 0, 0, 0, 0, false},
      {"setspriteangle", {30}, 0, 0, 0, 1, true},
      {"setspritewidth", {32}, 0, 0, 0, 0, false},
      {"setspritewidth", {20}, 0, 0, 0, 1, true},
      {"setspriteheight", {40}, 0, 0, 0, 1, true},
      {"setspriteclip", {0, 0, 0, 0}, 0, 0, 0, 0, false},
      {"setspriteclip", {2, 2, 8, 8}, 0, 0, 0, 1, true},
      {"setspritetilex", {2}, 0, 0, 0, 1, true},
      {"setspriteoffsetx", {4}, 0, 0, 0, 1, false},
      {"setspriteoffsety", {0}, 0, 0, 0, 0, false},
      {"setspriteautooffsetx", {0.5}, 0, 0, 0, 1, false},
      {"setspriteautooffsety", {0.25}, 0, 0, 0, 1, false},
      {"setspritecolliderect", {1, 1, 4, 4}, 0, 0, 0, 0, true},
      {"setspriteisoheight", {12}, 0, 0, 0, 0, true},
      {"showsprite", {1}, 0, 0, 0, 0, false},
      {"showsprite", {0}, 1, 1, 0, 0, false},
      {"setspritealtradius", {10}, 0, 0, 0, 0, false},
      {"setspriteautoscrollx", {0.5}, 0, 0, 0, 0, false},
  };
  for (const UpdateRow& row : rows) {
    Sprite* sprite = make_picture_sprite();
    call_on(row.setter, sprite, row.arguments);
    std::string where = std::string(row.setter) + " " + std::to_string(row.arguments[0]);
    EXPECT_EQ(game.geometry_dirty, row.geometry) << where;
    EXPECT_EQ(game.draw_list_dirty, row.draw_list) << where;
    EXPECT_EQ(game.draw_order_dirty, row.draw_order) << where;
    EXPECT_EQ(sprite->full_render, row.full_render) << where;
    EXPECT_EQ(sprite->moved_flag != 0, row.recomputed) << where;
    destroy_all_sprites();
  }
}

TEST_F(SpriteBuiltins, IsometricDisplayMarksTheDrawListAtEveryMove) {
  Sprite* sprite = make_picture_sprite();
  game.iso_display = 1;
  call_on("movesprite", sprite, {11, 10});
  EXPECT_EQ(game.draw_list_dirty, 1);
  clear_flags();
  call_on("setspriteisoheight", sprite, {3});
  EXPECT_EQ(game.draw_list_dirty, 1);
}

TEST_F(SpriteBuiltins, MasksFollowTheDrawnSize) {
  Sprite* sprite = make_picture_sprite();
  sprite->options |= kOptionAlphaSolidWhite;  // masks built without pixel tests
  call_on("calcpixelcheck", sprite);
  ASSERT_NE(sprite->frame_masks[0], nullptr);
  EXPECT_EQ(sprite->frame_masks[0]->width, 32);
  call_on("setspritewidth", sprite, {20});
  ASSERT_NE(sprite->frame_masks[0], nullptr);
  EXPECT_EQ(sprite->frame_masks[0]->width, 20);
  sprite->options &= ~kOptionAlphaSolidWhite;
  call_on("setspriteheight", sprite, {8});
  EXPECT_EQ(sprite->frame_masks[0], nullptr);  // no longer colliding by masks
}

TEST_F(SpriteBuiltins, ShowingEntersTheGridAndCarriesDirectChildrenOnly) {
  Sprite* parent = make_grid_sprite(10, 10, 16, 16, "parent");
  Sprite* child = make_grid_sprite(40, 10, 16, 16, "child");
  Sprite* grandchild = make_grid_sprite(70, 10, 16, 16, "grandchild");
  child->parent = parent;
  grandchild->parent = child;
  ASSERT_TRUE(sprite_in_grid(parent));
  call_on("showsprite", parent, {0});
  EXPECT_FALSE(sprite_in_grid(parent));
  EXPECT_FALSE(sprite_in_grid(child));
  EXPECT_EQ(child->visible, 0);
  EXPECT_EQ(grandchild->visible, 1);
  EXPECT_TRUE(sprite_in_grid(grandchild));
  call_on("showsprite", parent, {1});
  EXPECT_TRUE(sprite_in_grid(parent));
  EXPECT_TRUE(sprite_in_grid(child));
  // delsprite takes the sprite out of the grid at once.
  call_on("delsprite", parent);
  EXPECT_FALSE(sprite_in_grid(parent));
  EXPECT_EQ(parent->deleted, 1);
}

TEST_F(SpriteBuiltins, ClonesKeepDrawingWhenTheirTemplateGoes) {
  Sprite* original = make_picture_sprite();
  original->alpha_surface = display::surface_new(32, 16);
  original->owns_alpha_surface = 1;
  display::Surface* picture = original->surface;
  auto* clone = platform::pointer_from<Sprite>(uint32_t(call_on("clonesprite", original, {}, true)));
  auto* second = platform::pointer_from<Sprite>(uint32_t(call_on("clonesprite", original, {}, true)));
  ASSERT_NE(clone, nullptr);
  EXPECT_EQ(clone->surface, picture);
  EXPECT_EQ(clone->owns_surface, 0);
  EXPECT_EQ(clone->clone_source, original);
  destroy_sprite(original);
  // The first clone holding the picture owns it now; read under the sanitizer this
  // fails if the picture went with the template.
  EXPECT_EQ(clone->surface->buffer->width, 32u);
  EXPECT_EQ(clone->owns_surface, 1);
  EXPECT_EQ(clone->owns_alpha_surface, 1);
  EXPECT_EQ(clone->clone_source, nullptr);
  destroy_sprite(clone);
  EXPECT_EQ(second->surface->buffer->width, 32u);
  EXPECT_EQ(second->alpha_surface->buffer->height, 16u);
  // The last holder releases it (the leak check of the sanitizer build sees it go).
}

TEST_F(SpriteBuiltins, AClonesParentOffsetIsAppliedOnceMore) {
  Sprite* parent = make_picture_sprite();
  parent->x = 100;
  parent->y = 50;
  Sprite* child = make_picture_sprite();
  child->x = 110;
  child->y = 60;
  child->parent = parent;
  auto* clone = platform::pointer_from<Sprite>(uint32_t(call_on("clonesprite", child, {}, true)));
  EXPECT_EQ(clone->x, 210);
  EXPECT_EQ(clone->y, 110);
  EXPECT_EQ(clone->parent, parent);
  DrawListNode* node = node_list_last(parent->children);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->sprite, clone);
  EXPECT_EQ(node->a, 110);
  EXPECT_EQ(node->b, 60);
}

TEST_F(SpriteBuiltins, AFailedReplacementReleasesThePictureOnce) {
  Sprite* sprite = make_picture_sprite();
  auto* clone = platform::pointer_from<Sprite>(uint32_t(call_on("clonesprite", sprite, {}, true)));
  // A picture the sprite owns and shares, then one only it holds: each is released (or
  // handed on) once, never again when the failed load destroys the sprite.
  auto replace_from_missing_file = [&](Sprite* target) {
    push(platform::address_of(target));
    push_text("no such picture.bmp");
    for (double argument : {-1, 1, 0, 0}) push(argument);
    call("replacesprite");
    EXPECT_EQ(pop_number(), 0);
    EXPECT_EQ(sprite_from_handle(platform::address_of(target)), nullptr);
  };
  replace_from_missing_file(sprite);
  EXPECT_EQ(clone->owns_surface, 1);
  replace_from_missing_file(make_picture_sprite());
}

TEST_F(SpriteBuiltins, AScriptSurfaceIsNeverReleasedByTheSprite) {
  display::Surface* picture = display::surface_new(60, 20);
  Sprite* sprite = make_picture_sprite();
  call_on("setspritesurface", sprite, {double(platform::address_of(picture)), 3, 5});
  EXPECT_EQ(sprite->frame_count, 3);
  EXPECT_EQ(sprite->width, 20);
  EXPECT_EQ(sprite->owns_surface, 0);
  // The sprite's own picture again: kept, not released and reused.
  call_on("setspritesurface", sprite, {double(platform::address_of(picture)), 2, 5});
  EXPECT_EQ(sprite->width, 30);
  destroy_sprite(sprite);
  EXPECT_EQ(picture->buffer->width, 60u);
  display::surface_delete(picture);
}

TEST_F(SpriteBuiltins, FrameCountsStayWithinTheFrameTable) {
  Sprite* sprite = make_picture_sprite();
  cut_frame_strip(sprite, 8);
  sprite->first_frame = 2;
  sprite->last_frame = 7;
  sprite->frame_index = 6;
  struct Row {
    double count;
    int32_t frame_count, frame_index, first, last;
  };
  const Row rows[] = {{600, 512, 6, 2, 7}, {3, 3, 2, 2, 2}, {0, 1, 0, 0, 0}, {-5, 1, 0, 0, 0}};
  for (const Row& row : rows) {
    call_on("setspriteframecount", sprite, {row.count});
    EXPECT_EQ(sprite->frame_count, row.frame_count) << row.count;
    EXPECT_EQ(sprite->frame_index, row.frame_index) << row.count;
    EXPECT_EQ(sprite->first_frame, row.first) << row.count;
    EXPECT_EQ(sprite->last_frame, row.last) << row.count;
  }
}

TEST_F(SpriteBuiltins, DeletionMarksAndFlushDestroys) {
  Sprite* a = make_grid_sprite(0, 0, 8, 8, "rock");
  Sprite* b = make_grid_sprite(0, 0, 8, 8, "Rock");  // ids are hashed lower-cased
  Sprite* c = make_grid_sprite(0, 0, 8, 8, "tree");
  c->map = 7;
  struct Row {
    const char* id;  // null: the number 0
    int32_t marked;
  };
  const Row rows[] = {{"Rock", 0}, {"rock", 2}, {"", 3}, {nullptr, 3}};
  for (const Row& row : rows) {
    for (Sprite* sprite : {a, b, c}) sprite->deleted = 0;
    if (row.id) push_text(row.id);
    else push(0);
    call("delsprites");
    EXPECT_EQ(pop_number(), row.marked) << (row.id ? row.id : "0");
  }
  for (Sprite* sprite : {a, b, c}) sprite->deleted = 0;
  push(7);
  call("delmapsprites");
  EXPECT_EQ(pop_number(), 1);
  EXPECT_EQ(c->deleted, 1);
  push(0);
  call("delmapsprites");
  EXPECT_EQ(pop_number(), 3);
  call("flushsprites");
  EXPECT_EQ(pop_number(), 3);
  EXPECT_EQ(game.sprite_list_head, nullptr);
}

TEST_F(SpriteBuiltins, SpritesListsTheLiveSpritesOfAnId) {
  Sprite* a = make_grid_sprite(0, 0, 8, 8, "rock");
  make_grid_sprite(0, 0, 8, 8, "tree");
  Sprite* c = make_grid_sprite(0, 0, 8, 8, "rock");
  Sprite* gone = make_grid_sprite(0, 0, 8, 8, "rock");
  gone->deleted = 1;
  Variable* list = make_variable(locals, "FOUND%", nullptr, 9);
  push_variable(list);
  push_text("rock");
  call("sprites");
  EXPECT_EQ(pop_number(), 2);
  EXPECT_EQ(list->number, platform::address_of(a));
  ASSERT_NE(list->cursor, nullptr);
  ASSERT_NE(list->cursor->next, nullptr);
  EXPECT_EQ(list->cursor->next->number, platform::address_of(c));
  push_variable(list);
  push(0);
  call("sprites");
  EXPECT_EQ(pop_number(), 3);
  // Nothing under the point: an empty list, no value left from before.
  push(5000);
  push(5000);
  push(0);
  push_variable(list);
  call("spritesat");
  EXPECT_EQ(pop_number(), 0);
  EXPECT_EQ(list->cursor, nullptr);
  EXPECT_EQ(list->number, 0);
}

TEST_F(SpriteBuiltins, ABadProcedureIsRefused) {
  push(12345);
  call("newsprite");
  EXPECT_NE(std::string(runtime_error_last_text()).find("not a procedure"), std::string::npos);
  auto* sprite = platform::pointer_from<Sprite>(uint32_t(pop_number()));
  ASSERT_NE(sprite, nullptr);
  EXPECT_EQ(sprite->proc, nullptr);
}

TEST_F(SpriteBuiltins, InViewMeansVisibleAndOnTheScreen) {
  Sprite* sprite = make_picture_sprite();
  struct Row {
    double x, y;
    int32_t visible;
    double in_view;
  };
  const Row rows[] = {{10, 10, 1, 1}, {230, 310, 1, 1}, {240, 10, 1, 0}, {-32, 10, 1, 0}, {-31, 10, 1, 1},
                      {10, 10, 0, 0}};
  for (const Row& row : rows) {
    call_on("movesprite", sprite, {row.x, row.y});
    sprite->visible = row.visible;
    EXPECT_EQ(call_on("spriteinview", sprite, {}, true), row.in_view) << row.x << "," << row.y;
  }
}

// rendersprite copies the current frame of the strip to the sprite's place on the screen.
TEST_F(SpriteBuiltins, RenderSpriteBlitsTheCurrentFrameAtItsScreenPlace) {
  display::Surface* screen = display::surface_new(64, 64);
  display::Canvas* canvas = display::canvas_create_for_surface(nullptr, screen);
  ASSERT_NE(canvas, nullptr);
  display::canvas_clear(canvas, 0);
  game.draw_canvas = canvas;
  Sprite* sprite = make_picture_sprite();
  // Two 16 x 16 frames: the first filled with 1, the second with 2.
  display::Canvas* painter = display::canvas_create_for_surface(nullptr, sprite->surface);
  display::canvas_fill_rect(painter, 0, 0, 16, 16, 1);
  display::canvas_fill_rect(painter, 16, 0, 32, 16, 2);
  cut_frame_strip(sprite, 2);
  sprite_full_render_test(sprite);
  sprite->frame_index = 1;
  game.origin_x = 4;
  struct Row {
    uint64_t options;
    int32_t left;  // where the frame lands on the screen
  };
  const Row rows[] = {{0, 6}, {kOptionFixedX, 10}};
  for (const Row& row : rows) {
    display::canvas_clear(canvas, 0);
    sprite->options = row.options;
    call_on("rendersprite", sprite);
    EXPECT_EQ(*screen->buffer->at(row.left, 10), 2) << row.options;
    EXPECT_EQ(*screen->buffer->at(row.left + 15, 25), 2) << row.options;
    EXPECT_EQ(*screen->buffer->at(row.left - 1, 10), 0) << row.options;
    EXPECT_EQ(*screen->buffer->at(row.left + 16, 10), 0) << row.options;
  }
  call("errorsprite");
  EXPECT_EQ(pop_number(), platform::address_of(sprite));
  game.draw_canvas = nullptr;
  delete painter;
  delete canvas;
  display::surface_delete(screen);
}

}  // namespace
