// Every sprite, timer, world and many-sprite built-in given what is no sprite: 0, -1,
// a destroyed sprite, the handle of another kind of record, a text. None may crash or
// touch memory that is no sprite; getters read 0 (texts ""), and the stack keeps its
// balance.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "display/surface.h"
#include "game/sprite_timers.h"
#include "game_builtin_fixture.h"

namespace {

struct BuiltinShape {
  const char* name;
  int parameters;
  bool returns;
  bool takes_sprite;  // the first parameter is a sprite handle
};

const BuiltinShape kShapes[] = {
    {"setspriteproc", 2, false, true},      {"spriteproc", 1, true, true},
    {"setspriteid", 2, false, true},        {"spriteid", 1, true, true},
    {"setspritecollide", 2, false, true},   {"spritecollide", 1, true, true},
    {"spriterect", 1, true, true},          {"setspriteindex", 2, false, true},
    {"spriteindex", 1, true, true},         {"spritecanmovex", 1, true, true},
    {"spritecanmovey", 1, true, true},      {"setspriteframes", 5, false, true},
    {"spritefirstframe", 1, true, true},    {"spritelastframe", 1, true, true},
    {"setspriteframeloop", 2, false, true}, {"spriteframeloop", 1, true, true},
    {"setspritecurrentloop", 2, false, true}, {"spritecurrentloop", 1, true, true},
    {"setspriteanimspeed", 2, false, true}, {"spriteanimspeed", 1, true, true},
    {"setspriteanimspeedvel", 2, false, true}, {"spriteanimspeedvel", 1, true, true},
    {"setspriteaccel", 2, false, true},     {"spriteaccel", 1, true, true},
    {"setspritevelx", 2, false, true},      {"spritevelx", 1, true, true},
    {"setspritevely", 2, false, true},      {"spritevely", 1, true, true},
    {"setspritevellimits", 3, false, true}, {"spritevellimitlow", 1, true, true},
    {"spritevellimithigh", 1, true, true},  {"setspritedirection", 3, false, true},
    {"setspritevelocity", 2, false, true},  {"spritedirection", 1, true, true},
    {"spritevelocity", 1, true, true},      {"setspritemass", 2, false, true},
    {"spritemass", 1, true, true},          {"setspriteelasticity", 2, false, true},
    {"spriteelasticity", 1, true, true},    {"setspritefriction", 2, false, true},
    {"spritefriction", 1, true, true},      {"setspritegravity", 2, false, true},
    {"spritegravity", 1, true, true},       {"setspritephysic", 5, false, true},
    {"setspriteaispeed", 2, false, true},   {"spriteaispeed", 1, true, true},
    {"setspriteoptions", 2, false, true},   {"addspriteoption", 2, false, true},
    {"delspriteoption", 2, false, true},    {"spriteoptions", 1, true, true},
    {"setspritelayer", 2, false, true},     {"spritelayer", 1, true, true},
    {"setspriteparent", 2, false, true},    {"spriteparent", 1, true, true},
    {"spritechildren", 2, true, true},      {"clearspritechildren", 1, false, true},
    {"setspritelifetime", 2, false, true},  {"spritelifetime", 1, true, true},
    {"setspritetimer", 4, false, true},     {"killspritetimer", 2, false, true},
    {"pausespritetimer", 3, false, true},   {"spritetimer", 2, true, true},
    {"explode", 4, true, true},             {"setbacksprite", 1, false, true},
    {"setoriginx", 1, false, false},        {"setoriginy", 1, false, false},
    {"originx", 0, true, false},            {"originy", 0, true, false},
    {"setmapcolor", 1, false, false},       {"mapcolor", 0, true, false},
    {"setmaplight", 1, false, false},       {"setisodisplay", 1, false, false},
    {"setgravity", 1, false, false},        {"gravity", 0, true, false},
    {"setfriction", 1, false, false},       {"friction", 0, true, false},
    {"setborder", 4, false, false},         {"gamecollide", 1, false, false},
    {"gameparticles", 2, false, false},     {"setaispeed", 3, false, false},
    {"pause", 1, false, false},             {"setcollisiongrid", 3, false, false},
    {"setgridcells", 5, false, false},      {"cleargridcells", 4, false, false},
    {"delgridcells", 5, false, false},      {"setlayer", 11, false, false},
    {"getkeylist", 1, false, false},        {"processsprites", 2, false, false},
    {"g_drawlist", 2, false, false},
    // Creation, pictures, placement, appearance, queries and tint.
    {"clonesprite", 1, true, true},  {"replacesprite", 6, true, true},
    {"setspritesurface", 4, false, true},  {"loadspritealpha", 2, false, true},
    {"loadspritealphafrommem", 3, false, true},  {"setspritealphasurface", 2, false, true},
    {"spritesurface", 1, true, true},  {"spritealphasurface", 1, true, true},
    {"spriteframecount", 1, true, true},  {"setspriteframecount", 2, false, true},
    {"spritedefaultwidth", 1, true, true},  {"spritedefaultheight", 1, true, true},
    {"scalesprite", 2, false, true},  {"calcpixelcheck", 1, false, true},
    {"delsprite", 1, false, true},  {"setspritemap", 2, false, true},
    {"rendersprite", 1, false, true},  {"issprite", 1, true, true},
    {"movesprite", 3, false, true},  {"relmovesprite", 3, false, true},
    {"offsetsprite", 3, false, true},  {"setspritex", 2, false, true},
    {"setspritey", 2, false, true},  {"spritex", 1, true, true},
    {"spritey", 1, true, true},  {"spritepos", 3, false, true},
    {"adjustspriterect", 1, false, true},  {"showsprite", 2, false, true},
    {"spritevisible", 1, true, true},  {"setspriteangle", 2, false, true},
    {"spriteangle", 1, true, true},  {"setspritealpha", 2, false, true},
    {"spritealpha", 1, true, true},  {"setspritewidth", 2, false, true},
    {"setspriteheight", 2, false, true},  {"spritewidth", 1, true, true},
    {"spriteheight", 1, true, true},  {"setspriterect", 2, false, true},
    {"setspritecolliderect", 5, false, true},  {"setspriteclip", 5, false, true},
    {"setspriteisoheight", 2, false, true},  {"spriteisoheight", 1, true, true},
    {"setspriteorder", 2, false, true},  {"spriteorder", 1, true, true},
    {"setspritelight", 2, false, true},  {"spritelight", 1, true, true},
    {"setspritelightradius", 2, false, true},  {"spritelightradius", 1, true, true},
    {"setspritecolor", 2, false, true},  {"spritecolor", 1, true, true},
    {"setspritecolormask", 2, false, true},  {"spritecolormask", 1, true, true},
    {"setspritetilex", 2, false, true},  {"setspritetiley", 2, false, true},
    {"spritetilex", 1, true, true},  {"spritetiley", 1, true, true},
    {"setspriteoffsetx", 2, false, true},  {"setspriteoffsety", 2, false, true},
    {"spriteoffsetx", 1, true, true},  {"spriteoffsety", 1, true, true},
    {"setspriteautooffsetx", 2, false, true},  {"setspriteautooffsety", 2, false, true},
    {"spriteautooffsetx", 1, true, true},  {"spriteautooffsety", 1, true, true},
    {"setspritealtindex", 2, false, true},  {"spritealtindex", 1, true, true},
    {"setspritealtalpha", 2, false, true},  {"spritealtalpha", 1, true, true},
    {"setspritealtradius", 2, false, true},  {"spritealtradius", 1, true, true},
    {"setspriteautoscrollx", 2, false, true},  {"spriteautoscrollx", 1, true, true},
    {"setspriteautoscrolly", 2, false, true},  {"spriteautoscrolly", 1, true, true},
    {"setspritetint", 2, false, true},  {"spritetint", 1, true, true},
    {"setspritetintlevel", 2, false, true},  {"spritetintlevel", 1, true, true},
    {"setspritedata", 2, false, true},  {"spritedata", 1, true, true},
    {"spriteinview", 1, true, true},
};

class BehaviourBadInput : public GameBuiltinTest {
 protected:
  void SetUp() override {
    GameBuiltinTest::SetUp();
    // A live sprite with children and timers, so that no call on a bad handle reaches it.
    bystander = create_sprite();
    Sprite* child = create_sprite();
    child->parent = bystander;
    set_sprite_timer(bystander, 1, 10, 0, 0);
    Sprite* gone = create_sprite();
    destroyed = platform::address_of(gone);
    destroy_sprite(gone);
    surface = display::surface_new(4, 4);
  }
  void TearDown() override {
    GameBuiltinTest::TearDown();
    display::surface_delete(surface);
  }
  int depth() const {
    int count = 0;
    for (ValueCell* cell = context->stack_top; cell; cell = cell->below) ++count;
    return count;
  }

  Sprite* bystander = nullptr;
  uint32_t destroyed = 0;
  display::Surface* surface = nullptr;
};

TEST_F(BehaviourBadInput, NoSpriteGivesTheEmptyResultAndChangesNothing) {
  struct Handle {
    const char* what;
    double number;
    const char* text;
  };
  const std::vector<Handle> handles = {
      {"0", 0, nullptr},
      {"-1", -1, nullptr},
      {"destroyed sprite", double(destroyed), nullptr},
      {"surface", double(platform::address_of(surface)), nullptr},
      {"text", 0, "ship"},
      {"huge", 1e300, nullptr},
  };
  Sprite before = *bystander;
  for (const BuiltinShape& shape : kShapes) {
    for (const Handle& handle : handles) {
      for (double filler : {0.0, -1.0}) {
        int start = depth();
        for (int index = 0; index < shape.parameters; ++index) {
          if (index == 0 && handle.text) push_text(handle.text);
          else if (index == 0 || !shape.takes_sprite) push(handle.number);
          else push(filler);
        }
        call(shape.name);
        std::string row = std::string(shape.name) + " with " + handle.what + ", filler " + std::to_string(filler);
        ASSERT_EQ(depth(), start + (shape.returns ? 1 : 0)) << row;
        if (!shape.returns) continue;
        ValueCell* result = stack_pop(context);
        if (shape.takes_sprite) {
          EXPECT_EQ(result->number, 0) << row;
          if (result->text) EXPECT_STREQ(static_cast<const char*>(result->text), "") << row;
        }
      }
    }
  }
  // The live sprite kept what it had, other than what "pause" gives every sprite.
  EXPECT_EQ(bystander->timer_count, 1);
  EXPECT_EQ(bystander->vel_x, before.vel_x);
  EXPECT_EQ(bystander->options, before.options);
  EXPECT_EQ(bystander->parent, nullptr);
  EXPECT_EQ(bystander->x, before.x);
  EXPECT_EQ(bystander->width, before.width);
  EXPECT_EQ(bystander->tint, before.tint);
  EXPECT_EQ(bystander->data, before.data);
  EXPECT_EQ(bystander->deleted, 0);
}

// A sprite marked for deletion is still a record until it is destroyed: the setters and
// getters work on it as on any sprite.
TEST_F(BehaviourBadInput, MarkedSpritesStillTakeTheirValues) {
  bystander->deleted = 1;
  push(platform::address_of(bystander));
  push(4.5);
  call("setspritevelx");
  push(platform::address_of(bystander));
  call("spritevelx");
  EXPECT_EQ(pop_number(), 4.5);
}

}  // namespace
