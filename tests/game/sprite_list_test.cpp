// The sprite list: defaults, creation order numbers, and what destroying a sprite undoes.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "game/collision_mask.h"
#include "game_fixture.h"
#include "platform/kernel/memory.h"

namespace {

class SpriteList : public GameTest {};

TEST_F(SpriteList, DefaultsOfANewSprite) {
  Sprite* sprite = create_sprite();
  EXPECT_EQ(sprite->visible, 1);
  EXPECT_EQ(sprite->alpha, -1);
  EXPECT_EQ(sprite->tint, -1);
  EXPECT_EQ(sprite->light, -1);
  EXPECT_EQ(sprite->frame_count, 1);
  EXPECT_EQ(sprite->frame_loop, -1);
  EXPECT_EQ(sprite->color, 0xFFFF);
  EXPECT_EQ(sprite->ai_speed, -1);
  EXPECT_EQ(sprite->light_level, -1);
  EXPECT_EQ(sprite->plain_motion, 1);
  EXPECT_EQ(sprite->first_step, 1);
  EXPECT_FALSE(sprite_in_grid(sprite));
  EXPECT_EQ(game.sprite_list_dirty, 1);
}

TEST_F(SpriteList, SequenceFollowsTheTail) {
  Sprite* first = create_sprite();
  Sprite* second = create_sprite();
  EXPECT_EQ(first->sequence, 1u);
  EXPECT_EQ(second->sequence, 2u);
  destroy_sprite(second);
  EXPECT_EQ(game.sprite_list_tail, first);
  // Numbers repeat once the tail is gone.
  EXPECT_EQ(create_sprite()->sequence, 2u);
  EXPECT_EQ(last_sprite_from(first), game.sprite_list_tail);
  EXPECT_EQ(last_sprite_from(nullptr), nullptr);
}

TEST_F(SpriteList, DestroyRelinksHeadMiddleAndTail) {
  Sprite* a = create_sprite();
  Sprite* b = create_sprite();
  Sprite* c = create_sprite();
  destroy_sprite(b);
  EXPECT_EQ(a->next, c);
  EXPECT_EQ(c->prev, a);
  destroy_sprite(a);
  EXPECT_EQ(game.sprite_list_head, c);
  EXPECT_EQ(c->prev, nullptr);
  destroy_sprite(c);
  EXPECT_EQ(game.sprite_list_head, nullptr);
  EXPECT_EQ(game.sprite_list_tail, nullptr);
  destroy_sprite(nullptr);
}

// A destroyed sprite leaves no pointer behind: its children lose their parent, its parent
// loses the child node, and the game's globals forget it.
TEST_F(SpriteList, DestroyForgetsEveryReference) {
  Sprite* parent = create_sprite();
  Sprite* child = create_sprite();
  Sprite* grandchild = create_sprite();
  Sprite* clone = create_sprite();
  child->parent = parent;
  DrawListNode* node = node_list_append(&parent->children, nullptr);
  node->sprite = child;
  grandchild->parent = child;
  clone->clone_source = child;
  game.back_sprite = child;
  game.current_render_sprite = child;
  destroy_sprite(child);
  EXPECT_EQ(parent->children, nullptr);
  EXPECT_EQ(grandchild->parent, nullptr);
  EXPECT_EQ(clone->clone_source, nullptr);
  EXPECT_EQ(game.back_sprite, nullptr);
  EXPECT_EQ(game.current_render_sprite, nullptr);
}

TEST_F(SpriteList, DestroyLeavesTheGridAndTheDrawList) {
  Sprite* sprite = create_sprite();
  sprite->id = crt::_strdup("ship");
  sprite->options |= kOptionInGrid;
  sprite->width = sprite->height = 32;
  sprite->frame_masks[3] = mask_create(4, 4);
  sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
  ASSERT_TRUE(sprite_in_grid(sprite));
  update_draw_list();
  ASSERT_NE(game.draw_list_head, nullptr);
  destroy_sprite(sprite);
  EXPECT_EQ(game.draw_list_head, nullptr);
  for (int32_t column = 63; column <= 65; ++column) {
    for (GridCellEntry* entry = *grid_cell(column, 64); entry; entry = entry->next) {
      EXPECT_EQ(entry->sprite, nullptr);
      EXPECT_EQ(entry->free, 1);
    }
  }
}

TEST_F(SpriteList, DestroyAllEmptiesEverything) {
  for (int32_t i = 0; i < 5; ++i) make_sprite(i * 10, 0, 8, 8);
  update_draw_list();
  destroy_all_sprites();
  EXPECT_EQ(game.sprite_list_head, nullptr);
  EXPECT_EQ(game.sprite_list_tail, nullptr);
  EXPECT_EQ(game.draw_list_head, nullptr);
}

// Handles are looked up in a table that grows and closes its gaps as sprites go: every
// live sprite must be found and no destroyed one, through growth, destruction in a
// scattered order and creation again.
TEST_F(SpriteList, HandlesFollowCreationAndDestruction) {
  std::vector<Sprite*> live;
  auto all_found = [&live] {
    return std::all_of(live.begin(), live.end(),
                       [](Sprite* sprite) { return sprite_from_handle(platform::address_of(sprite)) == sprite; });
  };
  for (int32_t i = 0; i < 700; ++i) live.push_back(create_sprite());
  ASSERT_TRUE(all_found());
  uint32_t seed = 3;
  while (live.size() > 200) {
    seed = seed * 1664525u + 1013904223u;
    size_t at = (seed >> 8) % live.size();
    Sprite* sprite = live[at];
    uint32_t handle = platform::address_of(sprite);
    live.erase(live.begin() + static_cast<std::ptrdiff_t>(at));
    destroy_sprite(sprite);
    ASSERT_EQ(sprite_from_handle(handle), nullptr);
    ASSERT_TRUE(all_found()) << live.size();
  }
  for (int32_t i = 0; i < 300; ++i) live.push_back(create_sprite());
  EXPECT_TRUE(all_found());
  EXPECT_EQ(sprite_from_handle(0), nullptr);
  EXPECT_EQ(sprite_from_handle(platform::address_of(&game)), nullptr);
}

}  // namespace
