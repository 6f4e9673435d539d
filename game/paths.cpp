// Sprite paths: the path list, the best-first search over the step grid, and following
// and drawing the routes.
#include "game/paths.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "display/canvas.h"
#include "foundation/list_elements.h"
#include "foundation/numbers.h"
#include "foundation/variable.h"
#include "game/collision.h"
#include "game/game_math.h"
#include "game/game_state.h"
#include "game/sprite.h"
#include "game/sprite_geometry.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/saturate.h"
#include "platform/kernel/types.h"

PathRecord* path_list = nullptr;

namespace {

struct Move {
  const char* word;
  int32_t dx, dy;
};
// Successors are generated in this order.
constexpr Move kMoves[8] = {{" nw ", -1, -1}, {" n ", 0, -1}, {" ne ", 1, -1}, {" e ", 1, 0},
                            {" se ", 1, 1},   {" s ", 0, 1},  {" sw ", -1, 1}, {" w ", -1, 0}};

// The nodes of the running search by position: each is in the open or the closed list.
std::unordered_map<uint64_t, PathNode*>& search_nodes() {
  static std::unordered_map<uint64_t, PathNode*> nodes;
  return nodes;
}

uint64_t position_key(int32_t x, int32_t y) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(x)) << 32) | static_cast<uint32_t>(y);
}

// Frees a chain linked by prev.
void free_prev_chain(PathNode* node) {
  while (node) {
    PathNode* prev = node->prev;
    crt::free(node);
    node = prev;
  }
}

// Frees a chain linked by next.
void free_next_chain(PathNode* node) {
  while (node) {
    PathNode* next = node->next;
    crt::free(node);
    node = next;
  }
}

void record_successor(PathNode* node, PathNode* successor) {
  for (PathNode*& slot : node->successors) {
    if (!slot) {
      slot = successor;
      return;
    }
  }
}

// Before the first node whose total is not smaller: among equal totals the newest first.
void open_list_insert(PathRecord* path, PathNode* node) {
  PathNode* before = nullptr;
  PathNode* after = path->open;
  while (after && after->total < node->total) {
    before = after;
    after = after->next;
  }
  node->prev = before;
  node->next = after;
  if (after) after->prev = node;
  if (before) before->next = node;
  else path->open = node;
}

// Moves the best open node to the front of the closed list; null when none is open.
PathNode* open_list_pop_best(PathRecord* path) {
  PathNode* node = path->open;
  if (!node) return nullptr;
  path->open = node->next;
  if (path->open) path->open->prev = nullptr;
  node->prev = nullptr;
  node->next = path->closed;
  if (path->closed) path->closed->prev = node;
  path->closed = node;
  return node;
}

// Adds or finds the node at (x, y). Costs never fall (every node costs 0), so a node found
// again keeps its parent and its place.
bool add_path_successor(PathRecord* path, PathNode* node, int32_t x, int32_t y, double weight) {
  auto& nodes = search_nodes();
  auto found = nodes.find(position_key(x, y));
  if (found != nodes.end()) {
    record_successor(node, found->second);
    return true;
  }
  auto* successor = static_cast<PathNode*>(crt::calloc(1, sizeof(PathNode)));
  if (!successor) return false;
  successor->x = x;
  successor->y = y;
  successor->cost = node->cost;
  successor->heuristic = path_heuristic(path, x, y, path->goal_x, path->goal_y, weight);
  successor->total = static_cast<float>(successor->cost + successor->heuristic);
  nodes.emplace(position_key(x, y), successor);
  open_list_insert(path, successor);
  record_successor(node, successor);
  return true;
}

// Looks at the sprites whose drawn rectangle meets (x, y)-(right, bottom), the path's
// sprite included: their path costs are summed into cost_sum (when given); true when one
// of them is a sprite the path's sprite collides with.
bool blocked_at(const Sprite* sprite, int32_t x, int32_t y, int32_t right, int32_t bottom, float* cost_sum) {
  ListElement* found = list_sprites_in_rect(x, y, right, bottom, 0);
  bool blocked = false;
  for (ListElement* element = found; element; element = element->prev) {
    auto* other = platform::pointer_from<Sprite>(static_cast<uint32_t>(element->number));
    if (cost_sum) *cost_sum += static_cast<float>(other->path_cost);
    if (other != sprite && other->id_hash != 0 && collide_list_holds(sprite, other->id_hash)) blocked = true;
  }
  list_element_chain_free(found, false);
  return blocked;
}

// The weight of a candidate position: the path costs of the sprites standing there (1
// when they sum to 0, or when the path's sprite collides with nothing). False when the
// position is blocked.
bool candidate_weight(const PathRecord* path, int32_t x, int32_t y, float* weight) {
  *weight = 1.0f;
  const Sprite* sprite = path->sprite;
  if (!sprite->collide_hashes) return true;
  int64_t width = int64_t(sprite->screen_rect.right) - sprite->screen_rect.left;
  int64_t height = int64_t(sprite->screen_rect.bottom) - sprite->screen_rect.top;
  float sum = 0;
  bool blocked =
      blocked_at(sprite, x, y, platform::clamp_to_int32(x + width), platform::clamp_to_int32(y + height), &sum);
  *weight = sum == 0 ? 1.0f : sum;
  return !blocked;
}

bool expand_path_node(PathRecord* path, PathNode* node) {
  int32_t step = path->step;
  for (const Move& move : kMoves) {
    if (!std::strstr(path->directions, move.word)) continue;
    // A step past the int limits stops at the limit, where the positions beyond every
    // screen meet: the node there is found again instead of wrapping round.
    int32_t x = platform::clamp_to_int32(int64_t(node->x) + int64_t(move.dx) * step);
    int32_t y = platform::clamp_to_int32(int64_t(node->y) + int64_t(move.dy) * step);
    float weight;
    if (!candidate_weight(path, x, y, &weight)) continue;
    if (!add_path_successor(path, node, x, y, weight)) return false;
  }
  return true;
}

// Within a step of the goal on both axes; in 64 bits, as a goal may sit at the int limits.
bool goal_reached(const PathRecord* path, const PathNode* node) {
  return std::llabs(int64_t(node->x) - path->goal_x) < path->step &&
         std::llabs(int64_t(node->y) - path->goal_y) < path->step;
}

// A step is blocked when a sprite the path's sprite collides with stands on it.
bool step_blocked(const Sprite* sprite, const PathNode* node) {
  if (!sprite->collide_hashes) return false;
  return blocked_at(sprite, node->x, node->y, platform::clamp_to_int32(int64_t(node->x) + sprite->drawn_width),
                    platform::clamp_to_int32(int64_t(node->y) + sprite->drawn_height), nullptr);
}

void unlink_path(PathRecord* path) {
  PathRecord** link = &path_list;
  while (*link && *link != path) link = &(*link)->next;
  if (*link) *link = path->next;
}

void free_path_record(PathRecord* path) {
  free_prev_chain(path->result);
  crt::free(path->directions);
  crt::free(path);
}

}  // namespace

float path_heuristic(const PathRecord* path, int32_t x, int32_t y, int32_t goal_x, int32_t goal_y, double weight) {
  float dx = static_cast<float>(static_cast<int64_t>(x) - goal_x);
  float dy = static_cast<float>(static_cast<int64_t>(y) - goal_y);
  float cross = static_cast<float>(static_cast<int64_t>(path->start_y) - goal_y) * dx -
                static_cast<float>(static_cast<int64_t>(path->start_x) - goal_x) * dy;
  double h = ((std::fabs(cross) * 0.0002 + std::fabs(dy)) + std::fabs(dx)) * weight;
  return static_cast<float>(h);
}

int32_t run_path_search(PathRecord* path) {
  drop_path_route(path);
  path->closed = nullptr;
  path->open = nullptr;
  path->recost_stack = nullptr;
  path->start_x = truncate_to_int(path->sprite->x);
  path->start_y = truncate_to_int(path->sprite->y);
  auto& nodes = search_nodes();
  nodes.clear();

  auto* start = static_cast<PathNode*>(crt::calloc(1, sizeof(PathNode)));
  if (!start) return 0;
  start->x = path->start_x;
  start->y = path->start_y;
  start->heuristic = path_heuristic(path, start->x, start->y, path->goal_x, path->goal_y, 1.0);
  start->total = start->heuristic;
  path->open = start;
  nodes.emplace(position_key(start->x, start->y), start);

  PathNode* reached = nullptr;
  while (PathNode* node = open_list_pop_best(path)) {
    if (goal_reached(path, node)) {
      reached = node;
      break;
    }
    if (static_cast<int32_t>(nodes.size()) >= kPathSearchNodeLimit || !expand_path_node(path, node)) break;
  }
  int32_t made = static_cast<int32_t>(nodes.size());
  nodes.clear();
  free_next_chain(path->open);
  path->open = nullptr;
  if (reached) {
    // The route is every expanded node in the order of expansion: from the oldest closed
    // node (the start) along prev to the node that reached the goal.
    PathNode* first = reached;
    while (first->next) first = first->next;
    path->result = first;
  } else {
    free_next_chain(path->closed);
  }
  path->closed = nullptr;
  return made;
}

PathRecord* path_create(Sprite* sprite, int32_t goal_x, int32_t goal_y, int32_t step, const char* directions) {
  auto* path = static_cast<PathRecord*>(crt::calloc(1, sizeof(PathRecord)));
  if (!path) return nullptr;
  if (!path_set(path, goal_x, goal_y, step, directions)) {
    crt::free(path);
    return nullptr;
  }
  path->sprite = sprite;
  PathRecord** link = &path_list;
  while (*link) link = &(*link)->next;
  *link = path;
  return path;
}

PathRecord* path_of_sprite(const Sprite* sprite) {
  for (PathRecord* path = path_list; path; path = path->next) {
    if (path->sprite == sprite) return path;
  }
  return nullptr;
}

bool path_is_listed(const PathRecord* path) {
  for (PathRecord* listed = path_list; listed; listed = listed->next) {
    if (listed == path) return true;
  }
  return false;
}

bool path_set(PathRecord* path, int32_t goal_x, int32_t goal_y, int32_t step, const char* directions) {
  char* copy = crt::_strdup(directions ? directions : "");
  if (!copy) return false;
  crt::free(path->directions);
  path->directions = copy;
  path->goal_x = goal_x;
  path->goal_y = goal_y;
  path->step = step;
  return true;
}

void drop_path_route(PathRecord* path) {
  free_prev_chain(path->result);
  path->result = nullptr;
}

void delete_path(PathRecord* path) {
  if (!path || !path_is_listed(path)) return;
  unlink_path(path);
  free_path_record(path);
}

void clear_paths() {
  PathRecord* path = path_list;
  path_list = nullptr;
  while (path) {
    PathRecord* next = path->next;
    free_path_record(path);
    path = next;
  }
}

void delete_paths_of_sprite(const Sprite* sprite) {
  PathRecord* path = path_list;
  while (path) {
    PathRecord* next = path->next;
    if (path->sprite == sprite) delete_path(path);
    path = next;
  }
}

void follow_paths() {
  PathRecord* path = path_list;
  while (path) {
    PathRecord* next = path->next;
    PathNode* node = path->result;
    Sprite* sprite = path->sprite;
    if (!node) {
      run_path_search(path);
    } else if (step_blocked(sprite, node)) {
      drop_path_route(path);
    } else {
      sprite->x = node->x;
      sprite->y = node->y;
      sprite->screen_rect = compute_screen_rect(sprite, 0, 0);
      if (game.iso_display) game.draw_list_dirty = 1;
      path->result = node->prev;
      crt::free(node);
      if (!path->result) delete_path(path);
    }
    path = next;
  }
}

void render_paths() {
  display::Canvas* canvas = game.draw_canvas;
  if (!canvas) return;
  for (PathRecord* path = path_list; path; path = path->next) {
    if (!path->result) continue;
    int32_t x = truncate_to_int(path->sprite->x);
    int32_t y = truncate_to_int(path->sprite->y);
    for (PathNode* node = path->result; node; node = node->prev) {
      display::canvas_draw_line(canvas, x, y, node->x, node->y, 0xFFFF);
      x = node->x;
      y = node->y;
    }
  }
}
