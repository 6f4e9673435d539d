// Sprite paths: a goal per sprite, a best-first search over a grid of positions spaced by
// the path's step, and the one-position-per-step following of the route found.
#pragma once

#include <cstdint>

struct Sprite;

struct PathNode {
  int32_t x, y;
  // Every node takes the cost of the node it was reached from, so all costs are 0 and the
  // order is the heuristic's alone.
  int32_t cost;
  float heuristic;
  float total;
  PathNode* successors[8];
  // In the open and closed lists the previous node; on the route the next position.
  PathNode* prev;
  PathNode* next;
};
static_assert(sizeof(PathNode) == 60, "a path node is 60 bytes");

struct PathRecord {
  Sprite* sprite;
  int32_t start_x, start_y;
  int32_t goal_x, goal_y;
  int32_t step;         // grid spacing and goal tolerance; at least 1
  char* directions;     // owned; words " nw ", " n ", ... found by substring search
  PathNode* result;     // next position to move to; null: no route yet
  PathNode* open;       // sorted by ascending total during a search
  PathNode* closed;
  void* recost_stack;   // costs never fall, so nothing is ever passed on: stays null
  PathRecord* next;
};
static_assert(sizeof(PathRecord) == 48, "a path record is 48 bytes");

// A search gives up, as if no route existed, once it has made this many nodes: the grid
// is unbounded and a walled-in goal would otherwise keep it expanding.
constexpr int32_t kPathSearchNodeLimit = 2048;

extern PathRecord* path_list;

// Runs a search from the sprite's truncated position; the result is the route or null.
// The number of nodes the search made.
int32_t run_path_search(PathRecord* path);
// The estimate of (x, y) to the goal, favouring the line from the start to the goal.
float path_heuristic(const PathRecord* path, int32_t x, int32_t y, int32_t goal_x, int32_t goal_y, double weight);

// A new record at the end of the list for the sprite (no route yet); null when out of
// memory. directions is copied.
PathRecord* path_create(Sprite* sprite, int32_t goal_x, int32_t goal_y, int32_t step, const char* directions);
// The path moving the sprite, or null.
PathRecord* path_of_sprite(const Sprite* sprite);
// True when the record is in the path list.
bool path_is_listed(const PathRecord* path);
// New goal, step and directions; drops the route so the next step searches again. False
// (nothing changed) when the directions cannot be copied.
bool path_set(PathRecord* path, int32_t goal_x, int32_t goal_y, int32_t step, const char* directions);
// Frees the route; the next path-following step searches again.
void drop_path_route(PathRecord* path);
// Unlinks the record and frees it with its route; a record not in the list is left alone.
void delete_path(PathRecord* path);
// Frees every path.
void clear_paths();
// Deletes the paths that move the sprite.
void delete_paths_of_sprite(const Sprite* sprite);

// One path-following step of the game loop for every path: search when there is no route,
// else move the sprite to the next position unless a sprite it collides with stands there
// (then the route is dropped and searched again next step); a used-up path is deleted.
void follow_paths();
// Draws every route as lines on the draw canvas, from the sprite through its positions.
void render_paths();

void register_path_builtins();
