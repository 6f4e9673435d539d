// The world settings and the many-sprite built-ins: origin, map light, the loop's periods,
// the border variable, static grid regions, explode, setlayer, getkeylist, g_drawlist.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "display/canvas.h"
#include "display/surface.h"
#include "foundation/list_elements.h"
#include "foundation/variable.h"
#include "game/particles.h"
#include "game/sprite_handles.h"
#include "game_builtin_fixture.h"

namespace {

class WorldBuiltins : public GameBuiltinTest {
 protected:
  void call_with(const char* name, std::initializer_list<double> values) {
    for (double value : values) push(value);
    call(name);
  }
  void clear_flags() { game.geometry_dirty = game.draw_list_dirty = game.back_sprite_dirty = 0; }
  bool any_flag() const { return game.geometry_dirty || game.draw_list_dirty || game.back_sprite_dirty; }
  // The number of static entries of the hash in the cell holding world point (x, y).
  static int entries_at(int32_t x, int32_t y, uint32_t hash) {
    CellRange range = grid_cells_of(RECT{x, y, x, y});
    int count = 0;
    for (GridCellEntry* entry = *grid_cell(range.first_column, range.first_row); entry; entry = entry->next) {
      if (!entry->free && !entry->sprite && entry->id_hash == hash) ++count;
    }
    return count;
  }
};

TEST_F(WorldBuiltins, OriginMovesInvalidateOnlyWholePixelChanges) {
  struct Case {
    double before, value;
    bool flags;
  };
  const Case cases[] = {
      {0, 10, true}, {10, 10, false},   // the same value: nothing
      {5.7, 5, false},                  // 5 is the old whole part
      {5, 5.3, true},                   // a new value that is no whole number
      {-3.5, -3, false},
  };
  for (const Case& row : cases) {
    for (const char* axis : {"x", "y"}) {
      double& origin = axis[0] == 'x' ? game.origin_x : game.origin_y;
      origin = row.before;
      clear_flags();
      call_with(axis[0] == 'x' ? "setoriginx" : "setoriginy", {row.value});
      EXPECT_EQ(origin, row.value);
      EXPECT_EQ(any_flag(), row.flags) << axis << " " << row.before << " -> " << row.value;
      call(axis[0] == 'x' ? "originx" : "originy");
      EXPECT_EQ(pop_number(), row.value);
    }
  }
  game.origin_x = 0;
  call_with("setoriginx", {12.9});
  call_with("setoriginy", {-7.2});
  EXPECT_EQ(game.view_rect.left, 12);
  EXPECT_EQ(game.view_rect.top, -7);
  EXPECT_EQ(game.view_rect.right, 252);
  EXPECT_EQ(game.view_rect.bottom, 313);
}

TEST_F(WorldBuiltins, PlainSettings) {
  call_with("setmaplight", {65537});
  EXPECT_EQ(game.map_light, 1);
  EXPECT_EQ(game.geometry_dirty, 1);
  call_with("setmapcolor", {0x1F801});
  call("mapcolor");
  EXPECT_EQ(pop_number(), 0x1F801);
  call_with("setgravity", {0.35});
  call("gravity");
  EXPECT_EQ(pop_number(), 0.35);
  call_with("setfriction", {0.05});
  call("friction");
  EXPECT_EQ(pop_number(), 0.05);
  call_with("setisodisplay", {1});
  EXPECT_EQ(game.iso_display, 1);
  EXPECT_EQ(game.draw_list_dirty, 1);
  call_with("gamecollide", {1});
  EXPECT_EQ(game.game_collide, 1);
  EXPECT_EQ(particles_auto_process, 1);
  call_with("gameparticles", {0, 1});
  EXPECT_EQ(particles_auto_process, 0);
  EXPECT_EQ(particles_auto_draw, 1);

  EXPECT_EQ(game.game_timer_ms, -1);
  EXPECT_EQ(game.move_period_ms, 5);
  call_with("setaispeed", {100, 20, -1});
  EXPECT_EQ(game.game_timer_ms, 100);
  EXPECT_EQ(game.gravity_period_ms, 20);
  EXPECT_EQ(game.move_period_ms, -1) << "sign-extended";
}

TEST_F(WorldBuiltins, PauseAndBackSprite) {
  Sprite* a = create_sprite();
  Sprite* b = create_sprite();
  call_with("pause", {2});
  EXPECT_EQ(a->paused, 1);
  EXPECT_EQ(b->paused, 1);
  call_with("pause", {0});
  EXPECT_EQ(a->paused + b->paused, 0);

  call_with("setbacksprite", {double(platform::address_of(b))});
  EXPECT_EQ(game.back_sprite, b);
  EXPECT_EQ(game.back_sprite_dirty, 1);
  // Only a live sprite (or 0) becomes the background.
  call_with("setbacksprite", {double(platform::address_of(&game))});
  EXPECT_EQ(game.back_sprite, b);
  destroy_sprite(b);
  EXPECT_EQ(game.back_sprite, nullptr);
}

TEST_F(WorldBuiltins, BorderBindsTheBorderVariable) {
  Variable* border = make_variable(context->globals, "BORDER$", nullptr);
  call_with("setborder", {-10, -20, 300, 400});
  EXPECT_EQ(game.border.left, -10);
  EXPECT_EQ(game.border.bottom, 400);
  EXPECT_EQ(border->data, &game.border);
  EXPECT_FALSE(border->flags & kVariableOwnsData) << "the record is the game's";
  call_with("setborder", {1, 2, 3, 4});
  EXPECT_EQ(static_cast<RECT*>(border->data)->right, 3);
}

TEST_F(WorldBuiltins, StaticGridRegions) {
  // The default grid covers world -2048..2047 on both axes in 32-pixel cells.
  const uint32_t wall = hash_name_text("wall");
  push_text("Wall");
  call_with("setgridcells", {0, 0, 40, 40});
  EXPECT_EQ(entries_at(0, 0, wall), 1);
  EXPECT_EQ(entries_at(40, 0, wall), 1);
  EXPECT_EQ(entries_at(0, 40, wall), 1);
  EXPECT_EQ(entries_at(40, 40, wall), 1);
  EXPECT_EQ(entries_at(80, 0, wall), 0);

  // One pixel outside the grid on any side adds nothing at all.
  const RECT outside[] = {{-2049, 0, 0, 10}, {0, -2049, 10, 0}, {0, 0, 2048, 10}, {0, 0, 10, 2048}};
  for (const RECT& rect : outside) {
    push_text("edge");
    call_with("setgridcells", {double(rect.left), double(rect.top), double(rect.right), double(rect.bottom)});
    EXPECT_EQ(entries_at(0, 0, hash_name_text("edge")), 0) << rect.left << "," << rect.top;
  }
  push_text("");
  call_with("setgridcells", {0, 0, 10, 10});
  EXPECT_EQ(entries_at(0, 0, 0), 0) << "the empty id makes nothing";

  // Another letter case names the same entries; the freed entry is reused.
  push_text("WALL");
  call_with("delgridcells", {0, 0, 40, 40});
  EXPECT_EQ(entries_at(0, 0, wall), 0);
  EXPECT_EQ(entries_at(40, 40, wall), 0);
  GridCellEntry* freed = *grid_cell(grid_cells_of(RECT{0, 0, 0, 0}).first_column, grid_cells_of(RECT{0, 0, 0, 0}).first_row);
  push_text("door");
  call_with("setgridcells", {0, 0, 5, 5});
  EXPECT_EQ(*grid_cell(grid_cells_of(RECT{0, 0, 0, 0}).first_column, grid_cells_of(RECT{0, 0, 0, 0}).first_row), freed);
  EXPECT_EQ(freed->id_hash, hash_name_text("door"));
  EXPECT_EQ(freed->right, 5);

  call_with("cleargridcells", {0, 0, 5, 5});
  EXPECT_EQ(entries_at(0, 0, hash_name_text("door")), 0);

  // A new grid of other dimensions; sizes below 1 leave it as it is.
  call_with("setcollisiongrid", {16, 10, 20});
  EXPECT_EQ(game.grid_cell_size, 16u);
  EXPECT_EQ(game.grid_columns, 10);
  call_with("setcollisiongrid", {0, 10, 20});
  EXPECT_EQ(game.grid_cell_size, 16u);
}

// A 64 x 32 surface whose pixel (x, y) holds x + 64 y.
display::Surface* numbered_surface() {
  display::Surface* surface = display::surface_new(64, 32);
  for (int32_t y = 0; y < 32; ++y) {
    for (int32_t x = 0; x < 64; ++x) surface->buffer->row(y)[x] = static_cast<uint16_t>(x + 64 * y);
  }
  return surface;
}

TEST_F(WorldBuiltins, ExplodeCutsTheWholeStripInColumnOrder) {
  Sprite* source = create_sprite();
  source->surface = numbered_surface();
  source->owns_surface = 1;
  source->surface->colour_key = 0x1234;
  source->frame_count = 2;  // the whole strip is cut, not the shown frame
  source->x = 100;
  source->y = 50;
  Variable* pieces = make_variable(locals, "PIECES%", nullptr);
  push(platform::address_of(source));
  push(4);
  push(2);
  push_variable(pieces);
  call("explode");
  EXPECT_EQ(pop_number(), 8);
  ASSERT_EQ(list_element_count(pieces->cursor), 8u);
  const int32_t offsets[8][2] = {{0, 0}, {0, 16}, {16, 0}, {16, 16}, {32, 0}, {32, 16}, {48, 0}, {48, 16}};
  int index = 0;
  for (ListElement* element = pieces->cursor; element; element = element->next, ++index) {
    Sprite* piece = live_sprite(static_cast<uint32_t>(element->number));
    ASSERT_NE(piece, nullptr) << index;
    const int32_t dx = offsets[index][0], dy = offsets[index][1];
    EXPECT_EQ(piece->x, 100 + dx) << index;
    EXPECT_EQ(piece->y, 50 + dy) << index;
    EXPECT_EQ(piece->visible, 0) << index;
    EXPECT_EQ(piece->width, 16);
    EXPECT_EQ(piece->height, 16);
    EXPECT_EQ(piece->frame_count, 1);
    EXPECT_EQ(piece->frame_rects[0].right, 16);
    EXPECT_EQ(piece->owns_surface, 1);
    ASSERT_EQ(piece->surface->buffer->width, 16u);
    ASSERT_EQ(piece->surface->buffer->height, 16u);
    EXPECT_EQ(piece->surface->colour_key, 0x1234);
    int wrong = 0;
    for (int32_t y = 0; y < 16; ++y) {
      for (int32_t x = 0; x < 16; ++x) {
        uint16_t want = static_cast<uint16_t>(dx + x + 64 * (dy + y));
        if (piece->surface->buffer->row(y)[x] != want) ++wrong;
      }
    }
    EXPECT_EQ(wrong, 0) << "piece " << index;
  }
  EXPECT_EQ(game.draw_order_dirty, 1);
  EXPECT_EQ(source->x, 100) << "the source is not changed";
}

TEST_F(WorldBuiltins, ExplodeWithoutKeyAndItsRefusals) {
  Sprite* source = create_sprite();
  source->surface = display::surface_new(4, 2);
  source->owns_surface = 1;
  for (int32_t y = 0; y < 2; ++y) {
    for (int32_t x = 0; x < 4; ++x) source->surface->buffer->row(y)[x] = 0x0841;
  }
  Variable* pieces = make_variable(locals, "PIECES%", nullptr);
  push(platform::address_of(source));
  push(2);
  push(1);
  push_variable(pieces);
  call("explode");
  EXPECT_EQ(pop_number(), 2);
  Sprite* piece = live_sprite(static_cast<uint32_t>(pieces->number));
  ASSERT_NE(piece, nullptr);
  EXPECT_EQ(piece->surface->colour_key, display::no_colour_key);
  EXPECT_EQ(piece->surface->buffer->row(1)[1], 0x0841);

  // Counts of 0 or below, more pieces than pixels, and a sprite without picture give no
  // piece and an empty list.
  struct Case {
    double columns, rows;
  };
  for (Case row : {Case{0, 1}, Case{1, 0}, Case{-2, 1}, Case{5, 1}, Case{1, 3}}) {
    int before = 0;
    for (Sprite* s = game.sprite_list_head; s; s = s->next) ++before;
    push(platform::address_of(source));
    push(row.columns);
    push(row.rows);
    push_variable(pieces);
    call("explode");
    EXPECT_EQ(pop_number(), 0) << row.columns << "x" << row.rows;
    EXPECT_EQ(pieces->cursor, nullptr);
    int after = 0;
    for (Sprite* s = game.sprite_list_head; s; s = s->next) ++after;
    EXPECT_EQ(after, before);
  }
  Sprite* bare = create_sprite();
  push(platform::address_of(bare));
  push(2);
  push(2);
  push_variable(pieces);
  call("explode");
  EXPECT_EQ(pop_number(), 0);
}

TEST_F(WorldBuiltins, SetLayerTakesTheYStepFirst) {
  Sprite* member = create_sprite();
  member->layer = 2;
  member->x = 5;
  member->y = 5;
  Sprite* other = create_sprite();
  other->layer = 1;
  call_with("setlayer", {2, 0, 10, 0, 0, 0, 1, 0, 0, 0, 0});
  EXPECT_EQ(member->x, 5);
  EXPECT_EQ(member->y, 15);
  call_with("setlayer", {2, 4, 0, 3, 0, 0, 0, 0, 0, 0.5, 0});
  EXPECT_EQ(member->x, 8);
  EXPECT_EQ(member->order, 4);
  EXPECT_EQ(member->visible, 0);
  EXPECT_EQ(member->auto_scroll_x, 0.5);
  EXPECT_EQ(other->visible, 1);
  EXPECT_EQ(other->y, 0);
}

TEST_F(WorldBuiltins, GetKeyListOnlyFillsStructures) {
  for (int index = 0; index < 16; ++index) game.key_map[index] = static_cast<uint16_t>(0x26 + index);
  Variable* plain = make_variable(locals, "PLAIN%", nullptr, 3);
  push_variable(plain);
  call("getkeylist");
  EXPECT_EQ(plain->data, nullptr);
  EXPECT_EQ(plain->number, 3);

  Variable* keys = make_variable(locals, "KEYS$", nullptr);
  keys->flags |= kVariableStructure;
  push_variable(keys);
  call("getkeylist");
  ASSERT_NE(keys->data, nullptr);
  EXPECT_NE(keys->data, static_cast<void*>(game.key_map)) << "a copy";
  EXPECT_TRUE(keys->flags & kVariableOwnsData);
  EXPECT_EQ(std::memcmp(keys->data, game.key_map, 32), 0);
}

TEST_F(WorldBuiltins, DrawListDrawsTheTaggedStampsAndPixels) {
  display::Surface* screen = display::surface_new(8, 8);
  for (int32_t y = 0; y < 8; ++y) std::memset(screen->buffer->row(y), 0, 16);
  display::Canvas canvas;
  display::canvas_init(&canvas, screen);
  game.draw_canvas = &canvas;

  Sprite* stamp = create_sprite();
  stamp->surface = display::surface_new(2, 1);
  stamp->owns_surface = 1;
  stamp->surface->buffer->row(0)[0] = 0x1111;
  stamp->surface->buffer->row(0)[1] = 0x2222;
  stamp->frame_count = 2;
  stamp->frame_rects[0] = RECT{0, 0, 1, 1};
  stamp->frame_rects[1] = RECT{1, 0, 2, 1};

  // Records {sprite, tag, x, y, value} as list element data blocks.
  Variable* list = make_variable(locals, "STAMPS%", nullptr);
  list->flags |= kVariableList;
  const int32_t records[][5] = {
      {0, 3, 1, 1, 0x7777},
      {0, 4, 2, 2, 0x6666},
      {int32_t(platform::address_of(stamp)), 3, 5, 5, 1},
      {int32_t(platform::address_of(&canvas)), 3, 6, 6, 0},  // no sprite: skipped
  };
  ListElement* last = nullptr;
  for (const auto& record : records) {
    last = list_element_append(last);
    last->data = crt::malloc(sizeof record);
    last->flags = kVariableOwnsData;
    std::memcpy(last->data, record, sizeof record);
    if (!list->cursor) list->cursor = last;
  }
  ListElement* short_block = list_element_append(last);  // too short to be read
  short_block->data = crt::malloc(4);
  short_block->flags = kVariableOwnsData;
  list->cursor = short_block;  // the walk starts from the first element anyway

  push_variable(list);
  push(3);
  call("g_drawlist");
  EXPECT_EQ(screen->buffer->row(1)[1], 0x7777);
  EXPECT_EQ(screen->buffer->row(2)[2], 0) << "tag 4 is skipped";
  EXPECT_EQ(screen->buffer->row(5)[5], 0x2222) << "frame 1 of the sprite";
  EXPECT_EQ(screen->buffer->row(6)[6], 0);
  push_variable(list);
  push(0);
  call("g_drawlist");
  EXPECT_EQ(screen->buffer->row(2)[2], 0x6666) << "tag 0 draws every record";

  game.draw_canvas = nullptr;
  display::canvas_destroy(&canvas);
  display::surface_delete(screen);
}

}  // namespace
