// The draw list and the node lists that share its node: sorted, incremental and
// isometric updates from the sprite list, and the alternate pass.
#include "game/draw_list.h"

#include "foundation/numbers.h"
#include "game/game_math.h"
#include "game/game_state.h"
#include "game/rects.h"
#include "game/sprite.h"
#include "platform/kernel/memory.h"

DrawListNode* node_list_last(DrawListNode* node) {
  if (!node) return nullptr;
  while (node->next) node = node->next;
  return node;
}

namespace {

// Collision queries build and drop a hit list per sprite and frame: freed nodes are kept
// for reuse (up to a bound) instead of going back to the allocator each time. Game code
// runs under the script lock, so one list serves every thread.
constexpr int32_t kKeptNodesLimit = 4096;
DrawListNode* kept_nodes = nullptr;
int32_t kept_node_count = 0;

DrawListNode* new_node() {
  DrawListNode* node = kept_nodes;
  if (!node) return static_cast<DrawListNode*>(crt::calloc(1, sizeof(DrawListNode)));
  kept_nodes = node->next;
  --kept_node_count;
  *node = DrawListNode{};
  return node;
}

void release_node(DrawListNode* node) {
  if (kept_node_count >= kKeptNodesLimit) {
    crt::free(node);
    return;
  }
  node->next = kept_nodes;
  kept_nodes = node;
  ++kept_node_count;
}

}  // namespace

DrawListNode* node_list_append(DrawListNode** head, DrawListNode* after) {
  DrawListNode* node = new_node();
  if (!node) return nullptr;
  if (!*head || !after) {
    // An empty list, or no node to follow: the new node leads.
    node->next = *head;
    if (*head) (*head)->prev = node;
    *head = node;
    return node;
  }
  node->prev = after;
  node->next = after->next;
  if (after->next) after->next->prev = node;
  after->next = node;
  return node;
}

DrawListNode* node_list_insert_before(DrawListNode** head, DrawListNode* node) {
  if (!node) return node_list_append(head, node_list_last(*head));
  DrawListNode* inserted = new_node();
  if (!inserted) return nullptr;
  inserted->next = node;
  inserted->prev = node->prev;
  if (node->prev) node->prev->next = inserted;
  else *head = inserted;
  node->prev = inserted;
  return inserted;
}

void node_list_remove(DrawListNode** head, DrawListNode* node) {
  if (!node) return;
  if (node->prev) node->prev->next = node->next;
  if (node->next) node->next->prev = node->prev;
  if (*head == node) *head = node->next;
  release_node(node);
}

void node_list_remove_sprite(DrawListNode** head, Sprite* sprite) {
  DrawListNode* node = *head;
  while (node) {
    DrawListNode* next = node->next;
    if (node->sprite == sprite) node_list_remove(head, node);
    node = next;
  }
}

void node_list_free(DrawListNode** head) {
  DrawListNode* node = *head;
  while (node) {
    DrawListNode* next = node->next;
    release_node(node);
    node = next;
  }
  *head = nullptr;
}

bool sprite_in_view(const Sprite* sprite) {
  return sprite->visible && rects_intersect(sprite->screen_rect, game.view_rect);
}

int32_t clear_draw_list(DrawListNode** head, int32_t keep_in_view) {
  if (!keep_in_view) {
    node_list_free(head);
    return 0;
  }
  bool removed = false;
  DrawListNode* node = *head;
  while (node) {
    DrawListNode* next = node->next;
    if (!node->sprite || !sprite_in_view(node->sprite)) {
      if (node->sprite && node->sprite->draw_node == node) node->sprite->draw_node = nullptr;
      node_list_remove(head, node);
      removed = true;
    }
    node = next;
  }
  return !removed && *head ? 1 : 0;
}

namespace {

// Lower order first; two sprites of order 0 by creation; equal non-zero orders keep the
// order they were inserted in.
bool draws_after(const Sprite* listed, const Sprite* sprite) {
  if (listed->order || sprite->order) return listed->order > sprite->order;
  return listed->sequence > sprite->sequence;
}

bool wants_alternates(const Sprite* sprite) { return sprite->alternate_on || sprite->alt_radius; }

// Frees the draw list and forgets every sprite's node.
void drop_draw_list(Sprite* first) {
  node_list_free(&game.draw_list_head);
  for (Sprite* sprite = first; sprite; sprite = sprite->next) sprite->draw_node = nullptr;
}

}  // namespace

DrawListNode* draw_list_insert_sorted(DrawListNode** head, Sprite* sprite, DrawListNode** tail) {
  for (DrawListNode* node = *head; node; node = node->next) {
    if (draws_after(node->sprite, sprite)) {
      DrawListNode* inserted = node_list_insert_before(head, node);
      if (inserted) inserted->sprite = sprite;
      return inserted;
    }
  }
  DrawListNode* appended = node_list_append(head, *tail ? *tail : node_list_last(*head));
  if (!appended) return nullptr;
  appended->sprite = sprite;
  *tail = appended;
  return appended;
}

void draw_list_remove_node(DrawListNode* node) { node_list_remove(&game.draw_list_head, node); }

int32_t rebuild_draw_list(Sprite* first) {
  drop_draw_list(first);
  DrawListNode* tail = nullptr;
  int32_t alternates = 0;
  for (Sprite* sprite = first; sprite; sprite = sprite->next) {
    if (!sprite_in_view(sprite)) continue;
    sprite->draw_node = draw_list_insert_sorted(&game.draw_list_head, sprite, &tail);
    if (sprite->draw_node && wants_alternates(sprite)) alternates = 1;
  }
  return alternates;
}

int32_t update_draw_list_incremental(Sprite* first) {
  DrawListNode* tail = node_list_last(game.draw_list_head);
  int32_t alternates = 0;
  for (Sprite* sprite = first; sprite; sprite = sprite->next) {
    bool in_view = sprite_in_view(sprite);
    if (in_view && !sprite->draw_node) {
      sprite->draw_node = draw_list_insert_sorted(&game.draw_list_head, sprite, &tail);
    } else if (!in_view && sprite->draw_node) {
      DrawListNode* node = sprite->draw_node;
      sprite->draw_node = nullptr;
      draw_list_remove_node(node);
      tail = node_list_last(game.draw_list_head);
    }
    if (sprite->draw_node && wants_alternates(sprite)) alternates = 1;
  }
  return alternates;
}

int32_t rebuild_draw_list_iso(Sprite* first) {
  drop_draw_list(first);
  DrawListNode* tail = nullptr;
  int32_t alternates = 0;
  int32_t origin_y = truncate_to_int(game.origin_y);
  for (Sprite* sprite = first; sprite; sprite = sprite->next) {
    if (!sprite_in_view(sprite)) continue;
    DrawListNode* node = node_list_append(&game.draw_list_head, tail);
    if (!node) break;
    tail = node;
    node->sprite = sprite;
    sprite->draw_node = node;
    const RECT& box = sprite->screen_collide_rect;
    int32_t base = sprite->iso_height ? box.bottom - sprite->iso_height : box.top;
    node->d = base - origin_y + (sprite->order >= 1 ? sprite->order * 1000 : 0);
    if (wants_alternates(sprite)) alternates = 1;
  }
  // Quadratic exchange sort: sprites and keys move, the nodes stay.
  for (DrawListNode* a = game.draw_list_head; a; a = a->next) {
    for (DrawListNode* b = a->next; b; b = b->next) {
      if (a->d <= b->d) continue;
      Sprite* sprite = a->sprite;
      int32_t key = a->d;
      a->sprite = b->sprite;
      a->d = b->d;
      b->sprite = sprite;
      b->d = key;
      a->sprite->draw_node = a;
      b->sprite->draw_node = b;
    }
  }
  return alternates;
}

void run_alternate_pass() {
  for (DrawListNode* node = game.draw_list_head; node; node = node->next) {
    Sprite* sprite = node->sprite;
    if (!sprite->alternate_on) continue;
    if (sprite->alt_alpha) {
      sprite->full_render = 1;
      sprite->alpha = sprite->saved_alpha;
    }
    if (sprite->alt_index) sprite->frame_index = sprite->saved_frame_index;
    sprite->alternate_on = 0;
  }
  for (DrawListNode* a = game.draw_list_head; a; a = a->next) {
    const Sprite* source = a->sprite;
    if (!source->alt_radius) continue;
    IntPoint centre = sprite_centre(source);
    for (DrawListNode* b = a->next; b; b = b->next) {
      Sprite* near = b->sprite;
      if (!near->alt_alpha && !near->alt_index) continue;
      IntPoint other = sprite_centre(near);
      if (point_distance(centre.x, centre.y, other.x, other.y, 8) > source->alt_radius) continue;
      // A second source reaching the same sprite must not save the values the first
      // one put there, or the restore would keep them for good.
      bool first_reach = !near->alternate_on;
      if (near->alt_alpha) {
        if (first_reach) near->saved_alpha = near->alpha;
        near->alpha = near->alt_alpha;
      }
      if (near->alt_index) {
        if (first_reach) near->saved_frame_index = near->frame_index;
        near->frame_index = near->alt_index;
      }
      near->alternate_on = 1;
    }
  }
}

void update_draw_list() {
  game.draw_list_dirty = 0;
  int32_t alternates;
  if (game.iso_display) {
    alternates = rebuild_draw_list_iso(game.sprite_list_head);
  } else if (game.draw_order_dirty) {
    game.draw_order_dirty = 0;
    alternates = rebuild_draw_list(game.sprite_list_head);
  } else {
    alternates = update_draw_list_incremental(game.sprite_list_head);
  }
  if (alternates) run_alternate_pass();
}
