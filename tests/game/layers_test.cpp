// The layer operation and its records.
#include <gtest/gtest.h>

#include "game_fixture.h"

namespace {

class Layers : public GameTest {
 protected:
  static LayerSettings settings(int32_t number) {
    LayerSettings layer{};
    layer.number = number;
    layer.visible = 1;
    return layer;
  }
};

TEST_F(Layers, UnusedNumberStillGetsItsRecord) {
  LayerSettings layer = settings(7);
  layer.order = 3;
  set_layer(layer);
  LayerRecord* record = find_layer(7);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->order, 3);
  EXPECT_EQ(last_layer(), record);
  layer.order = 4;
  set_layer(layer);
  EXPECT_EQ(find_layer(7)->order, 4);
  EXPECT_EQ(find_layer(7)->next, nullptr);
  free_layer_list();
  EXPECT_EQ(find_layer(7), nullptr);
}

TEST_F(Layers, StepsMoveOnlyTheLayersSprites) {
  Sprite* in = make_sprite(10, 10, 32, 32);
  Sprite* out = make_sprite(10, 10, 32, 32);
  in->layer = 2;
  in->order = 5;
  LayerSettings layer = settings(2);
  layer.x_step = 3;
  layer.y_step = -4;
  layer.visible = 0;
  set_layer(layer);
  EXPECT_EQ(in->x, 13);
  EXPECT_EQ(in->y, 6);
  EXPECT_EQ(in->visible, 0);
  EXPECT_EQ(in->order, 5);  // order 0 keeps it
  EXPECT_EQ(out->x, 10);
  EXPECT_EQ(game.draw_order_dirty, 0);
  layer.order = 9;
  layer.auto_scroll_x = 0.5;
  set_layer(layer);
  EXPECT_EQ(in->order, 9);
  EXPECT_EQ(in->auto_scroll_x, 0.5);
  EXPECT_EQ(game.draw_list_dirty, 1);
  EXPECT_EQ(game.draw_order_dirty, 1);
}

TEST_F(Layers, OffsetStepsWrapAroundTheDrawnSize) {
  struct Case {
    int32_t width, offset, step, wrapped;
  } cases[] = {{32, 30, 5, 3}, {32, 30, 2, 32}, {32, 2, -5, 29}, {32, 0, 70, 6}, {0, 4, 5, 9}};
  for (const Case& c : cases) {
    Sprite* sprite = make_sprite(0, 0, c.width, c.width);
    sprite->layer = 1;
    sprite->offset_x = sprite->offset_y = c.offset;
    LayerSettings layer = settings(1);
    layer.offset_x_step = layer.offset_y_step = c.step;
    set_layer(layer);
    EXPECT_EQ(sprite->offset_x, c.wrapped) << c.width << " " << c.offset << "+" << c.step;
    EXPECT_EQ(sprite->offset_y, c.wrapped);
    destroy_sprite(sprite);
  }
}

}  // namespace
