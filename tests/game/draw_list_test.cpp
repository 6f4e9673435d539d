// The draw list: drawing order, incremental updates, the isometric order and the
// alternate pass.
#include <gtest/gtest.h>

#include <vector>

#include "game_fixture.h"

namespace {

class DrawList : public GameTest {
 protected:
  static std::vector<Sprite*> drawn() {
    std::vector<Sprite*> sprites;
    for (DrawListNode* node = game.draw_list_head; node; node = node->next) {
      sprites.push_back(node->sprite);
      EXPECT_EQ(node->sprite->draw_node, node);
    }
    return sprites;
  }
};

TEST_F(DrawList, OrderThenCreation) {
  Sprite* older = make_sprite(0, 0, 10, 10);
  Sprite* newer = make_sprite(5, 5, 10, 10);
  Sprite* behind = make_sprite(5, 5, 10, 10);
  behind->order = -1;
  update_draw_list();
  EXPECT_EQ(drawn(), (std::vector<Sprite*>{behind, older, newer}));
  // The incremental update keeps the places; a re-sort needs draw_order_dirty.
  older->order = 1;
  update_draw_list();
  EXPECT_EQ(drawn(), (std::vector<Sprite*>{behind, older, newer}));
  game.draw_order_dirty = 1;
  update_draw_list();
  EXPECT_EQ(drawn(), (std::vector<Sprite*>{behind, newer, older}));
  EXPECT_EQ(game.draw_order_dirty, 0);
}

TEST_F(DrawList, EqualNonZeroOrdersKeepInsertionOrder) {
  Sprite* a = make_sprite(0, 0, 10, 10);
  Sprite* b = make_sprite(0, 0, 10, 10);
  a->order = b->order = 3;
  game.draw_order_dirty = 1;
  update_draw_list();
  EXPECT_EQ(drawn(), (std::vector<Sprite*>{a, b}));
}

TEST_F(DrawList, IncrementalAddsAndDrops) {
  Sprite* a = make_sprite(0, 0, 10, 10);
  Sprite* hidden = make_sprite(0, 0, 10, 10);
  hidden->visible = 0;
  Sprite* away = make_sprite(1000, 1000, 10, 10);
  update_draw_list();
  EXPECT_EQ(drawn(), (std::vector<Sprite*>{a}));
  away->x = away->y = 20;
  away->screen_rect = compute_screen_rect(away, 0, 0);
  a->visible = 0;
  update_draw_list();
  EXPECT_EQ(drawn(), (std::vector<Sprite*>{away}));
  EXPECT_EQ(a->draw_node, nullptr);
  EXPECT_EQ(hidden->draw_node, nullptr);
}

TEST_F(DrawList, IsometricOrderByScreenDepth) {
  Sprite* low = make_sprite(0, 100, 10, 10);
  Sprite* high = make_sprite(0, 20, 10, 10);
  Sprite* raised = make_sprite(0, 0, 10, 10);
  raised->order = 2;  // 2000 below its place
  Sprite* tall = make_sprite(0, 50, 10, 40);
  tall->iso_height = 5;  // key: bottom 90 - 5
  game.iso_display = 1;
  update_draw_list();
  EXPECT_EQ(drawn(), (std::vector<Sprite*>{high, tall, low, raised}));
  EXPECT_EQ(tall->draw_node->d, 85);
  EXPECT_EQ(raised->draw_node->d, 2000);
}

TEST_F(DrawList, ClearKeepingTheSpritesInView) {
  Sprite* a = make_sprite(0, 0, 10, 10);
  make_sprite(0, 0, 10, 10);
  update_draw_list();
  EXPECT_EQ(clear_draw_list(&game.draw_list_head, 1), 1);
  a->visible = 0;
  EXPECT_EQ(clear_draw_list(&game.draw_list_head, 1), 0);
  EXPECT_EQ(a->draw_node, nullptr);
  EXPECT_EQ(clear_draw_list(&game.draw_list_head, 0), 0);
  EXPECT_EQ(game.draw_list_head, nullptr);
}

TEST_F(DrawList, AlternatePassNearARadiusSprite) {
  Sprite* before = make_sprite(0, 0, 10, 10);
  Sprite* source = make_sprite(0, 0, 10, 10);
  Sprite* near = make_sprite(20, 0, 10, 10);
  Sprite* far = make_sprite(200, 0, 10, 10);
  source->alt_radius = 25;
  for (Sprite* sprite : {before, near, far}) {
    sprite->alt_alpha = 50;
    sprite->alt_index = 4;
    sprite->frame_index = 1;
  }
  update_draw_list();
  EXPECT_EQ(before->alternate_on, 0);  // drawn before the source: never changed
  EXPECT_EQ(far->alternate_on, 0);
  EXPECT_EQ(near->alternate_on, 1);
  EXPECT_EQ(near->alpha, 50);
  EXPECT_EQ(near->frame_index, 4);
  near->x = 150;
  near->screen_rect = compute_screen_rect(near, 0, 0);
  update_draw_list();
  EXPECT_EQ(near->alternate_on, 0);
  EXPECT_EQ(near->alpha, -1);
  EXPECT_EQ(near->frame_index, 1);
  EXPECT_EQ(near->full_render, 1);
}

// Two sources reaching one sprite in one pass: the second must not save the values the
// first put there, or the sprite would keep them after the restore.
TEST_F(DrawList, TwoSourcesSaveTheOriginalValuesOnce) {
  Sprite* first = make_sprite(0, 0, 10, 10);
  Sprite* second = make_sprite(5, 0, 10, 10);
  Sprite* target = make_sprite(10, 0, 10, 10);
  first->alt_radius = second->alt_radius = 50;
  target->alt_alpha = 70;
  target->alt_index = 2;
  target->frame_index = 0;
  target->alpha = 33;
  update_draw_list();
  EXPECT_EQ(target->alpha, 70);
  EXPECT_EQ(target->saved_alpha, 33);
  EXPECT_EQ(target->saved_frame_index, 0);
  first->alt_radius = second->alt_radius = 0;
  update_draw_list();
  EXPECT_EQ(target->alpha, 33);
  EXPECT_EQ(target->frame_index, 0);
}

}  // namespace
