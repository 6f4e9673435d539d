// Sprite paths: routes around walls whose reachability networkx decided, the bound on a
// search that cannot succeed, the estimate and the weights of the sprites on the way, and
// the path built-ins.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <sstream>
#include <string>

#include "foundation/hashes.h"
#include "foundation/runtime_error.h"
#include "foundation/variable.h"
#include "game/game_math.h"
#include "game/sprite_geometry.h"
#include "particle_fixture.h"

namespace {

class Paths : public ParticleTest {
 protected:
  static uint32_t id_hash(const char* id) { return hash_name_text(id); }

  // A sprite of the size at (x, y) with its rectangles computed.
  static Sprite* place(Sprite* sprite, double x, double y) {
    sprite->x = x;
    sprite->y = y;
    sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
    return sprite;
  }
  static Sprite* wall(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    Sprite* sprite = box_sprite(right - left, bottom - top);
    sprite->id_hash = id_hash("wall");
    return place(sprite, left, top);
  }
  // The moving sprite, colliding with walls.
  static Sprite* walker(int32_t width, int32_t height, double x, double y) {
    Sprite* sprite = box_sprite(width, height);
    sprite->id_hash = id_hash("walker");
    collide_hash_push(sprite, id_hash("wall"));
    return place(sprite, x, y);
  }

  double new_path(Sprite* sprite, double goal_x, double goal_y, double step, const char* directions) {
    push(platform::address_of(sprite));
    push(goal_x);
    push(goal_y);
    push(step);
    push_text(directions);
    call("newpath");
    return pop_number();
  }
};

struct Scene {
  std::string name;
  int32_t width, height, start_x, start_y, step, goal_x, goal_y, reachable, shortest;
  std::string directions;
  std::vector<RECT> walls;
};

std::vector<Scene> read_scenes() {
  std::vector<Scene> scenes;
  std::ifstream file(ZRK_TEST_BINARY_DIR "/path_cases.txt");
  std::string line;
  while (std::getline(file, line)) {
    Scene scene;
    size_t open = line.find('"');
    size_t close = line.find('"', open + 1);
    scene.directions = line.substr(open + 1, close - open - 1);
    std::istringstream head(line.substr(0, open));
    head >> scene.name >> scene.width >> scene.height >> scene.start_x >> scene.start_y >> scene.step >>
        scene.goal_x >> scene.goal_y >> scene.reachable >> scene.shortest;
    std::istringstream tail(line.substr(close + 1));
    for (RECT rect; tail >> rect.left >> rect.top >> rect.right >> rect.bottom;) scene.walls.push_back(rect);
    scenes.push_back(scene);
  }
  return scenes;
}

bool meets(const RECT& a, const RECT& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

TEST_F(Paths, SpritesReachReachableGoalsAroundWallsAndSearchesForOthersStopAtTheBound) {
  std::vector<Scene> scenes = read_scenes();
  ASSERT_EQ(scenes.size(), 5u) << "path_cases.txt was not generated";
  for (const Scene& scene : scenes) {
    for (const RECT& rect : scene.walls) wall(rect.left, rect.top, rect.right, rect.bottom);
    Sprite* sprite = walker(scene.width, scene.height, scene.start_x, scene.start_y);
    double handle = new_path(sprite, scene.goal_x, scene.goal_y, scene.step, scene.directions.c_str());
    auto* path = platform::pointer_from<PathRecord>(uint32_t(handle));
    ASSERT_NE(path, nullptr) << scene.name;

    if (!scene.reachable) {
      EXPECT_GE(run_path_search(path), kPathSearchNodeLimit) << scene.name;
      EXPECT_EQ(path->result, nullptr) << scene.name;
      follow_paths();
      EXPECT_EQ(sprite->x, scene.start_x) << scene.name << ": no route, no move";
      EXPECT_EQ(path_list, path) << scene.name << ": the path stays and searches again";
    } else {
      int32_t moves = 0;
      follow_paths();  // the search
      ASSERT_NE(path->result, nullptr) << scene.name;
      while (path_list && moves < 10000) {
        follow_paths();
        ++moves;
        RECT box{int32_t(sprite->x), int32_t(sprite->y), int32_t(sprite->x) + scene.width,
                 int32_t(sprite->y) + scene.height};
        for (const RECT& rect : scene.walls) EXPECT_FALSE(meets(box, rect)) << scene.name << ": stood in a wall";
      }
      EXPECT_EQ(path_list, nullptr) << scene.name << ": a finished path is deleted";
      EXPECT_LT(std::abs(sprite->x - scene.goal_x), scene.step) << scene.name;
      EXPECT_LT(std::abs(sprite->y - scene.goal_y), scene.step) << scene.name;
      // The route holds every node the search expanded, which takes in the whole chain of
      // nodes the goal was reached through.
      EXPECT_GE(moves, scene.shortest + 1) << scene.name;
    }
    clear_paths();
    destroy_all_sprites();
  }
}

TEST_F(Paths, AGoalWithinAStepMovesTheSpriteToItsOwnWholePosition) {
  Sprite* sprite = walker(8, 8, 10.6, 20.3);
  new_path(sprite, 14, 16, 8, " n e s w ");
  follow_paths();
  ASSERT_NE(path_list, nullptr);
  EXPECT_EQ(path_list->result->prev, nullptr) << "the start node alone";
  follow_paths();
  EXPECT_EQ(sprite->x, 10);
  EXPECT_EQ(sprite->y, 20);
  EXPECT_EQ(path_list, nullptr);
}

TEST_F(Paths, GoalsAndStepsAtTheIntLimitsNeitherWrapNorOverflow) {
  struct Row {
    const char* what;
    double x, y, goal_x, goal_y;
    const char* directions;
    int32_t nodes;  // made by the search; 0 when the goal is reached at the start
  };
  const Row rows[] = {
      {"a goal at the top limit within a step of the start", 2147483640, 0, INT32_MAX, 0, " e ", 0},
      {"a goal at the bottom limit within a step of the start", -2147483645, 0, INT32_MIN, 0, " w ", 0},
      {"a goal at the limits diagonally within a step", 2147483644, -2147483644, INT32_MAX, INT32_MIN, " e ", 0},
      // The step east stops at the limit, where the search finds its node again.
      {"steps east stop at the right limit", 2147483644, 0, INT32_MAX, 64, " e ", 2},
      {"steps north stop at the top limit", 0, -2147483644, 64, INT32_MIN, " n ", 2},
      {"steps away from a goal at the other limits stop at the limits", 2147483630, -2147483630, INT32_MIN,
       INT32_MAX, " ne ", 4},
  };
  for (const Row& row : rows) {
    Sprite* sprite = walker(8, 8, row.x, row.y);
    new_path(sprite, row.goal_x, row.goal_y, 8, row.directions);
    ASSERT_NE(path_list, nullptr) << row.what;
    int32_t made = run_path_search(path_list);
    if (row.nodes == 0) {
      ASSERT_NE(path_list->result, nullptr) << row.what;
      EXPECT_EQ(path_list->result->prev, nullptr) << row.what << ": the start node alone";
      follow_paths();
      EXPECT_EQ(sprite->x, row.x) << row.what;
      EXPECT_EQ(sprite->y, row.y) << row.what;
      EXPECT_EQ(path_list, nullptr) << row.what;
    } else {
      EXPECT_EQ(made, row.nodes) << row.what;
      EXPECT_EQ(path_list->result, nullptr) << row.what;
    }
    clear_paths();
    destroy_all_sprites();
  }
}

TEST_F(Paths, TheEstimateFavoursTheLineFromStartToGoal) {
  PathRecord path{};
  path.start_x = 0;
  path.start_y = 0;
  struct Row {
    int32_t x, y, goal_x, goal_y;
    double weight;
    double expected;
  };
  // |cross| * 0.0002 + |dy| + |dx|, times the weight; cross = (sy - gy) dx - (sx - gx) dy.
  const Row rows[] = {
      {50, 10, 100, 0, 1, 0.2 + 10 + 50},
      {50, 10, 100, 0, 2.5, (0.2 + 10 + 50) * 2.5},
      {50, 0, 100, 0, 1, 50},
      {-30, 40, 0, 100, 1, 0.6 + 60 + 30},
      {100, 0, 100, 0, 7, 0},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(path_heuristic(&path, row.x, row.y, row.goal_x, row.goal_y, row.weight), float(row.expected))
        << row.x << "," << row.y;
  }
}

TEST_F(Paths, AHeavySpriteOnTheWayIsWalkedAround) {
  struct Row {
    const char* what;
    double path_cost;
    bool crosses;
  };
  const Row rows[] = {
      {"a sprite of no cost is crossed", 0, true},
      {"a sprite of cost 10 is walked around", 10, false},
  };
  for (const Row& row : rows) {
    Sprite* heavy = place(box_sprite(8, 8), 32, 0);
    heavy->path_cost = row.path_cost;
    Sprite* sprite = walker(8, 8, 0, 0);
    new_path(sprite, 64, 0, 8, " nw n ne e se s sw w ");
    bool crossed = false;
    for (int32_t frame = 0; frame < 100 && path_list; ++frame) {
      follow_paths();
      crossed = crossed || (sprite->x == 32 && sprite->y == 0);
    }
    EXPECT_EQ(path_list, nullptr) << row.what;
    EXPECT_EQ(crossed, row.crosses) << row.what;
    destroy_all_sprites();
  }
}

TEST_F(Paths, ASpriteSteppingIntoAWallDropsTheRouteAndSearchesAgain) {
  Sprite* sprite = walker(8, 8, 0, 0);
  new_path(sprite, 64, 0, 8, " e ");
  follow_paths();
  ASSERT_NE(path_list->result, nullptr);
  follow_paths();  // onto the start position
  wall(8, 0, 16, 8);
  follow_paths();
  EXPECT_EQ(sprite->x, 0) << "blocked: no move";
  EXPECT_EQ(path_list->result, nullptr);
  EXPECT_EQ(run_path_search(path_list), 1) << "only east is allowed and east is walled: the open list runs empty";
  EXPECT_EQ(path_list->result, nullptr);
}

TEST_F(Paths, NewpathKeepsOneRecordPerSpriteAndSetpathDropsTheRoute) {
  Sprite* sprite = walker(8, 8, 0, 0);
  double first = new_path(sprite, 64, 0, 8, " e ");
  follow_paths();
  PathNode* route = path_list->result;
  ASSERT_NE(route, nullptr);
  EXPECT_EQ(new_path(sprite, 64, 0, 8, " e w "), first);
  EXPECT_EQ(path_list->result, route) << "the route found stays in use";
  EXPECT_STREQ(path_list->directions, " e w ");
  EXPECT_EQ(path_list->next, nullptr);

  push(first);
  push(0);
  push(64);
  push(16);
  push_text(" s ");
  call("setpath");
  EXPECT_EQ(path_list->result, nullptr);
  EXPECT_EQ(path_list->goal_y, 64);
  EXPECT_EQ(path_list->step, 16);
  sprite->x = 3.5;
  follow_paths();
  EXPECT_EQ(path_list->start_x, 3) << "the next search starts where the sprite is";

  Sprite* second_sprite = walker(8, 8, 100, 100);
  double second = new_path(second_sprite, 0, 0, 8, " w ");
  Variable* list = make_variable(locals, "P$", nullptr);
  push_variable(list);
  call("paths");
  EXPECT_EQ(pop_number(), 2);
  std::vector<double> handles;
  for (ListElement* element = list->cursor; element; element = element->next) handles.push_back(element->number);
  EXPECT_EQ(handles, (std::vector<double>{first, second})) << "in list order";

  destroy_sprite(sprite);
  EXPECT_EQ(path_list, platform::pointer_from<PathRecord>(uint32_t(second))) << "a destroyed sprite takes its path";
  run("delpath", {second});
  EXPECT_EQ(path_list, nullptr);
  new_path(second_sprite, 0, 0, 8, " w ");
  run("clearpaths", {});
  EXPECT_EQ(path_list, nullptr);
}

TEST_F(Paths, BadStepsAndHandlesAreRefused) {
  Sprite* sprite = walker(8, 8, 0, 0);
  unsigned errors = runtime_error_count();
  EXPECT_EQ(new_path(sprite, 64, 0, 0, " e "), 0);
  EXPECT_EQ(new_path(sprite, 64, 0, -8, " e "), 0);
  EXPECT_EQ(new_path(nullptr, 64, 0, 8, " e "), 0);
  EXPECT_EQ(path_list, nullptr);
  double handle = new_path(sprite, 64, 0, 8, " e ");
  push(handle);
  push(0);
  push(0);
  push(0.5);
  push_text(" e ");
  call("setpath");
  EXPECT_EQ(path_list->step, 8);
  run("delpath", {12345});
  EXPECT_EQ(runtime_error_count(), errors + 4) << "deleting what is not a path does nothing";
  push(12345);
  push(0);
  push(0);
  push(8);
  push_text(" e ");
  call("setpath");
  EXPECT_EQ(runtime_error_count(), errors + 5);
  EXPECT_NE(path_list, nullptr);
}

TEST_F(Paths, RenderpathsDrawsFromTheSpriteAlongTheRoute) {
  Sprite* sprite = walker(8, 8, 4, 10);
  new_path(sprite, 44, 10, 8, " e ");
  follow_paths();
  run("renderpaths", {});
  // The route runs (4, 10), (12, 10), ... (44, 10): one horizontal white line.
  for (int32_t x = 4; x < 44; ++x) EXPECT_EQ(pixel(x, 10), 0xFFFF) << x;
  EXPECT_EQ(pixel(4, 11), 0);
  EXPECT_EQ(pixel(60, 10), 0);
}

}  // namespace
