// The draw list: the visible sprites in the view, in drawing order, rebuilt from the
// sprite list. Its 28-byte node also serves children, contact lists and collision hits.
#pragma once

#include <cstdint>

struct Sprite;

struct DrawListNode {
  Sprite* sprite;
  int32_t a, b, c;  // children: dx, dy; collision hits: contact or region values
  int32_t d;        // isometric sort key; region bottom in collision hits
  DrawListNode* prev;
  DrawListNode* next;
};
static_assert(sizeof(DrawListNode) == 28);

// ---- Node lists (a list is its head pointer) ----

DrawListNode* node_list_last(DrawListNode* node);
// A new zeroed node after `after` (at the head of an empty list). Null when out of memory.
DrawListNode* node_list_append(DrawListNode** head, DrawListNode* after);
// A new zeroed node before `node` (the new head when node was the head).
DrawListNode* node_list_insert_before(DrawListNode** head, DrawListNode* node);
// Unlinks and frees the node.
void node_list_remove(DrawListNode** head, DrawListNode* node);
// Removes every node of the sprite.
void node_list_remove_sprite(DrawListNode** head, Sprite* sprite);
// Frees every node from head on; the head becomes null.
void node_list_free(DrawListNode** head);

// keep_in_view 0: frees every node and returns 0. Otherwise removes the nodes whose
// sprite is out of view: 1 when nothing was removed and the list is not empty, else 0.
int32_t clear_draw_list(DrawListNode** head, int32_t keep_in_view);

// ---- The draw list of the game ----

// Visible and its drawn rectangle meets the view.
bool sprite_in_view(const Sprite* sprite);

// Clears draw_list_dirty and brings the list up to date: isometric rebuild, sorted
// rebuild (when draw_order_dirty) or incremental update; then the alternate pass.
void update_draw_list();
// Each returns 1 when a listed sprite has alternate_on or an alt_radius.
int32_t rebuild_draw_list(Sprite* first);
int32_t update_draw_list_incremental(Sprite* first);
int32_t rebuild_draw_list_iso(Sprite* first);
// Inserts before the first node that draws strictly after the sprite, else at the tail
// (and moves *tail). The new node, null when out of memory.
DrawListNode* draw_list_insert_sorted(DrawListNode** head, Sprite* sprite, DrawListNode** tail);
// Unlinks and frees a node of the game's draw list.
void draw_list_remove_node(DrawListNode* node);
// Puts back what the last pass replaced, then gives alt_alpha and alt_index to sprites
// drawn after and near a sprite with an alt_radius.
void run_alternate_pass();
