// Layer records and the layer operation.
#include "game/layers.h"

#include "game/draw_list.h"
#include "game/game_state.h"
#include "game/rects.h"
#include "game/sprite.h"
#include "platform/kernel/memory.h"

LayerRecord* find_layer(int32_t number) {
  for (LayerRecord* record = game.layer_list; record; record = record->next) {
    if (record->number == number) return record;
  }
  return nullptr;
}

LayerRecord* last_layer() {
  LayerRecord* record = game.layer_list;
  while (record && record->next) record = record->next;
  return record;
}

LayerRecord* append_layer() {
  auto* record = static_cast<LayerRecord*>(crt::calloc(1, sizeof(LayerRecord)));
  if (!record) return nullptr;
  LayerRecord* tail = last_layer();
  record->prev = tail;
  if (tail) tail->next = record;
  else game.layer_list = record;
  return record;
}

void copy_layer_to_sprite(const LayerRecord* record, Sprite* sprite) {
  sprite->visible = record->visible;
  sprite->auto_offset_x = record->auto_offset_x;
  sprite->auto_offset_y = record->auto_offset_y;
  sprite->auto_scroll_x = record->auto_scroll_x;
  sprite->auto_scroll_y = record->auto_scroll_y;
}

void free_layer_list() {
  LayerRecord* record = game.layer_list;
  while (record) {
    LayerRecord* next = record->next;
    crt::free(record);
    record = next;
  }
  game.layer_list = nullptr;
}

namespace {

// Brings an image offset back into 0..size; a size below 1 leaves it as it is.
// Wide, so that an offset and its step add, and the lowest offset negates, without wrapping.
int32_t wrap_offset(int64_t offset, int32_t size) {
  if (size < 1) return clamp_to_int32(offset);
  if (offset > size) offset -= (offset - 1) / size * size;
  if (offset < 0) offset += (-offset + size - 1) / size * size;
  return static_cast<int32_t>(offset);
}

}  // namespace

void set_layer(const LayerSettings& settings) {
  if (game.draw_list_dirty) update_draw_list();
  LayerRecord* record = find_layer(settings.number);
  if (!record) record = append_layer();
  if (!record) return;
  record->number = settings.number;
  record->order = settings.order;
  record->visible = settings.visible;
  record->auto_offset_x = settings.auto_offset_x;
  record->auto_offset_y = settings.auto_offset_y;
  record->auto_scroll_x = settings.auto_scroll_x;
  record->auto_scroll_y = settings.auto_scroll_y;
  bool ordered = false;
  for (Sprite* sprite = game.sprite_list_tail; sprite; sprite = sprite->prev) {
    if (sprite->layer != settings.number) continue;
    if (settings.order) {
      sprite->order = settings.order;
      ordered = true;
    }
    if (settings.x_step) sprite->x += settings.x_step;
    if (settings.y_step) sprite->y += settings.y_step;
    if (settings.offset_x_step) {
      sprite->offset_x = wrap_offset(int64_t(sprite->offset_x) + settings.offset_x_step, sprite->drawn_width);
    }
    if (settings.offset_y_step) {
      sprite->offset_y = wrap_offset(int64_t(sprite->offset_y) + settings.offset_y_step, sprite->drawn_height);
    }
    copy_layer_to_sprite(record, sprite);
  }
  if (ordered || settings.auto_scroll_x != 0 || settings.auto_scroll_y != 0) {
    game.draw_list_dirty = 1;
    game.draw_order_dirty = 1;
  }
}
