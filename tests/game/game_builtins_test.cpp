// The game built-ins called as compiled code calls them: collide, rectcollide, collides
// and rectcollides over a small scene, and the grid built-ins' refusals.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "../library/builtin_fixture.h"
#include "foundation/hashes.h"
#include "foundation/variable.h"
#include "game/game_builtins.h"
#include "game/game_math.h"
#include "game_fixture.h"
#include "platform/kernel/memory.h"

namespace {

class GameBuiltins : public BuiltinTest {
 protected:
  GameBuiltins() : BuiltinTest(register_game_builtins) {}
  void SetUp() override {
    BuiltinTest::SetUp();
    game = GameState{};
    game.children_follow = 1;
    ASSERT_TRUE(grid_setup(32, 128, 128));
    self = make_grid_sprite(0, 0, 20, 20, "me");
    self->collide = crt::_strdup("rock,wall");
    parse_collide_string(self);
    rock_a = make_grid_sprite(30, 0, 10, 10, "rock");
    rock_b = make_grid_sprite(30, 15, 10, 10, "rock");
    // A region of "wall", entered in the one cell the tests query.
    auto* entry = static_cast<GridCellEntry*>(crt::calloc(1, sizeof(GridCellEntry)));
    *entry = GridCellEntry{nullptr, hash_name_text("wall"), -100, -100, -90, -90, 0, nullptr, nullptr};
    *grid_cell(61, 61) = entry;
  }
  void TearDown() override {
    destroy_all_sprites();
    grid_free();
    BuiltinTest::TearDown();
  }
  double number_of(Variable* variable) { return variable->number; }

  Sprite* self = nullptr;
  Sprite* rock_a = nullptr;
  Sprite* rock_b = nullptr;
};

TEST_F(GameBuiltins, CollideGivesTheFirstHitAndItsContact) {
  Variable* x = make_variable(locals, "X%", nullptr, 9);
  Variable* y = make_variable(locals, "Y%", nullptr, 9);
  push(platform::address_of(self));
  push(25);
  push(-10);
  push_variable(x);
  push_variable(y);
  call("collide");
  EXPECT_EQ(pop_number(), platform::address_of(rock_a));
  // Rectangle (25, -10)-(45, 10) meets only rock_a: the intersection (30, 0)-(40, 10) of rock_a's (30, 0)-(40, 10): its centre (5, 5).
  EXPECT_EQ(number_of(x), 5);
  EXPECT_EQ(number_of(y), 5);

  push(platform::address_of(self));
  push(500);
  push(500);
  push_variable(x);
  push_variable(y);
  call("collide");
  EXPECT_EQ(pop_number(), 0);
  EXPECT_EQ(number_of(x), 0);
  EXPECT_EQ(number_of(y), 0);
}

TEST_F(GameBuiltins, RectcollideOnARegion) {
  Variable* x = make_variable(locals, "X%", nullptr);
  Variable* y = make_variable(locals, "Y%", nullptr);
  for (double value : {(double)platform::address_of(self), -95.0, -95.0, -80.0, -80.0}) push(value);
  push_variable(x);
  push_variable(y);
  call("rectcollide");
  EXPECT_EQ(pop_number(), -1);
  EXPECT_EQ(number_of(x), -100);
  EXPECT_EQ(number_of(y), -100);
}

TEST_F(GameBuiltins, CollidesFillsAListVariable) {
  Variable* list = make_variable(locals, "HITS%", nullptr, 3);
  push(platform::address_of(self));
  push(25);
  push(5);
  push_variable(list);
  call("collides");
  EXPECT_EQ(pop_number(), 2);
  EXPECT_TRUE(list->flags & kVariableList);
  ListElement* first = list->cursor;
  ASSERT_NE(first, nullptr);
  ASSERT_NE(first->next, nullptr);
  std::set<double> handles{first->number, first->next->number};
  EXPECT_EQ(handles, (std::set<double>{(double)platform::address_of(rock_a), (double)platform::address_of(rock_b)}));
  EXPECT_EQ(number_of(list), first->number);

  for (double value : {(double)platform::address_of(self), -95.0, -95.0, -80.0, -80.0}) push(value);
  push_variable(list);
  call("rectcollides");
  EXPECT_EQ(pop_number(), 1);
  EXPECT_EQ(list->cursor->number, -1);
}

TEST_F(GameBuiltins, NullSpriteHitsNothing) {
  Variable* list = make_variable(locals, "HITS%", nullptr);
  push(0);
  push(0);
  push(0);
  push_variable(list);
  call("collides");
  EXPECT_EQ(pop_number(), 0);
}

TEST_F(GameBuiltins, GridBuiltinsRefuseEmptyCells) {
  Variable* x = make_variable(locals, "X%", nullptr, 37);
  Variable* y = make_variable(locals, "Y%", nullptr, 70);
  push_variable(x);
  push_variable(y);
  push(0);
  push(32);
  push(0);
  call("adjustxy");
  EXPECT_EQ(number_of(x), 37);
  EXPECT_EQ(number_of(y), 70);
  EXPECT_EQ(context->stack_top, nullptr);
  // drawgrid without a game display draws nothing and takes its arguments.
  for (double value : {0.0, 0.0, 65535.0, 1.0}) push(value);
  call("drawgrid");
  EXPECT_EQ(context->stack_top, nullptr);
}

// What the sprite procedure saw: the four numbers on top of the stack, and whether the
// sprite was still in the sprite list.
std::vector<double> event_numbers;
bool event_sprite_listed = false;
Sprite* event_sprite = nullptr;
void op_record_event() {
  ValueCell* cell = current_program->stack_top;
  for (int32_t i = 0; i < 4 && cell; ++i, cell = cell->below) event_numbers.insert(event_numbers.begin(), cell->number);
  event_sprite_listed = false;
  for (Sprite* sprite = game.sprite_list_head; sprite; sprite = sprite->next) {
    if (sprite == event_sprite) event_sprite_listed = true;
  }
}

// Destroying a sprite with a procedure calls it once with (sprite, 2, 0, 0) before
// anything is freed, and leaves the program's stack as it was.
TEST_F(GameBuiltins, DestroyCallsTheSpriteProcedureFirst) {
  Chain procedure;
  InstructionNode* head = procedure.procedure("PROCONEVENT");
  procedure.add(op_record_event);
  procedure.add(op_end);
  rock_a->proc = head;
  event_numbers.clear();
  event_sprite = rock_a;
  ValueCell* top = context->stack_top;
  double handle = platform::address_of(rock_a);
  destroy_sprite(rock_a);
  EXPECT_EQ(event_numbers, (std::vector<double>{handle, 2, 0, 0}));
  EXPECT_TRUE(event_sprite_listed);
  EXPECT_EQ(context->stack_top, top);
  EXPECT_EQ(stop_flag, 0);
  event_numbers.clear();
  destroy_sprite(rock_b);  // no procedure: no call
  EXPECT_TRUE(event_numbers.empty());
}

}  // namespace
