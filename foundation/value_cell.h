// The value-stack cell through which every handler takes operands and gives results.
#pragma once

#include <cstdint>

struct Variable;
struct ReferenceNode;

// Bits of ValueCell::flags.
constexpr uint32_t kCellByReference = 0x1;     // the callee binds to `variable`
constexpr uint32_t kCellWideText = 0x2;        // `text` is UTF-16
constexpr uint32_t kCellList = 0x10;           // array, packed list or data block
constexpr uint32_t kCellListElement = 0x20;    // with 0x10, in list elements only
constexpr uint32_t kCellElementOffset = 0x10000000;  // an element of `variable`, written back before binding
// `text` is an exact-size join result that no other cell or variable holds: the newest
// owned block of the program, which a further join may grow and a store may take over.
constexpr uint32_t kCellSoleText = 0x20000000;

constexpr uint16_t kCellHeightLimit = 0xFFFF;

struct ValueCell {
  double number;              // 0.0 for a text or pointer only
  void* text;                 // 8-bit text, UTF-16 with kCellWideText, list or block with kCellList
  Variable* variable;         // where the value came from
  uint32_t data;              // raw pointer or handle beside or instead of the number
  uint32_t flags;
  uint16_t variant_type;      // VARIANT type for COM calls, 0 = none
  // Place in the chain from its bottom cell (0), held at kCellHeightLimit. A cell keeps its
  // place for its life (cells are reused, never relinked), so a cell above the top is one
  // whose value is gone. Set only when the cell is made: a copy taken off the stack carries
  // a stale one, and a value put into a stack cell leaves the cell's own (cell_take_value).
  uint16_t height;
  ReferenceNode* references;  // owned blocks of a structure value
  ValueCell* below;
  ValueCell* above;           // last cell used above this one, kept for reuse
};
static_assert(sizeof(ValueCell) == 40, "value cell layout");
