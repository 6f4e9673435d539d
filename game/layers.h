// Sprite layers: one record of settings per layer number, and the layer operation that
// moves, scrolls, shows or hides every sprite of a layer at once.
#pragma once

#include <cstdint>

struct Sprite;

struct LayerRecord {
  int32_t number;
  int32_t order;
  int32_t visible;
  double auto_offset_x, auto_offset_y;
  double auto_scroll_x, auto_scroll_y;
  LayerRecord* prev;
  LayerRecord* next;
};
static_assert(sizeof(LayerRecord) == 52);

struct LayerSettings {
  int32_t number, order;
  int32_t x_step, y_step;
  int32_t offset_x_step, offset_y_step;
  int32_t visible;
  double auto_offset_x, auto_offset_y;
  double auto_scroll_x, auto_scroll_y;
};

// Stores the settings in the layer's record (made when missing) and applies them to every
// sprite of the layer.
void set_layer(const LayerSettings& settings);
// The first record of the number, or null.
LayerRecord* find_layer(int32_t number);
LayerRecord* last_layer();
// A new zeroed record at the tail; null when out of memory.
LayerRecord* append_layer();
// visible and the four auto values of the record.
void copy_layer_to_sprite(const LayerRecord* record, Sprite* sprite);
void free_layer_list();
