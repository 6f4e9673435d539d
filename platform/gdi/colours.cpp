// The device's system colours (a Pocket PC's white windows and blue captions) and their
// stock brushes.
#include "platform/gdi/colours.h"

#include <iterator>

#include "platform/gdi/gdi_state.h"

namespace {

constexpr COLORREF kSystemColours[] = {
    RGB(200, 200, 200),  // COLOR_SCROLLBAR
    RGB(255, 255, 255),  // COLOR_BACKGROUND
    RGB(0, 0, 128),      // COLOR_ACTIVECAPTION
    RGB(128, 128, 128),  // COLOR_INACTIVECAPTION
    RGB(192, 192, 192),  // COLOR_MENU
    RGB(255, 255, 255),  // COLOR_WINDOW
    RGB(0, 0, 0),        // COLOR_WINDOWFRAME
    RGB(0, 0, 0),        // COLOR_MENUTEXT
    RGB(0, 0, 0),        // COLOR_WINDOWTEXT
    RGB(255, 255, 255),  // COLOR_CAPTIONTEXT
    RGB(192, 192, 192),  // COLOR_ACTIVEBORDER
    RGB(192, 192, 192),  // COLOR_INACTIVEBORDER
    RGB(128, 128, 128),  // COLOR_APPWORKSPACE
    RGB(0, 0, 128),      // COLOR_HIGHLIGHT
    RGB(255, 255, 255),  // COLOR_HIGHLIGHTTEXT
    RGB(192, 192, 192),  // COLOR_BTNFACE
    RGB(128, 128, 128),  // COLOR_BTNSHADOW
    RGB(128, 128, 128),  // COLOR_GRAYTEXT
    RGB(0, 0, 0),        // COLOR_BTNTEXT
    RGB(192, 192, 192),  // COLOR_INACTIVECAPTIONTEXT
    RGB(255, 255, 255),  // COLOR_BTNHIGHLIGHT
    RGB(0, 0, 0),        // COLOR_3DDKSHADOW
    RGB(224, 224, 224),  // COLOR_3DLIGHT
    RGB(0, 0, 0),        // COLOR_INFOTEXT
    RGB(255, 255, 225),  // COLOR_INFOBK
    RGB(255, 255, 255),  // COLOR_STATIC
    RGB(0, 0, 0),        // COLOR_STATICTEXT
};
constexpr int kColourCount = int(std::size(kSystemColours));

int plain_index(int index) { return index & ~SYS_COLOR_INDEX_FLAG; }

}  // namespace

DWORD GetSysColor(int index) {
  index = plain_index(index);
  return index >= 0 && index < kColourCount ? kSystemColours[index] : 0;
}

HBRUSH GetSysColorBrush(int index) {
  index = plain_index(index);
  if (index < 0 || index >= kColourCount) return nullptr;
  static HGDIOBJ* brushes = [] {
    auto* made = new HGDIOBJ[kColourCount];
    for (int i = 0; i < kColourCount; ++i) {
      made[i] = new HGDIOBJ__;
      made[i]->type = OBJ_BRUSH;
      made[i]->stock = true;
      made[i]->colour = kSystemColours[i];
      platform::gdi::register_stock_object(made[i]);
    }
    return made;
  }();
  return brushes[index];
}
