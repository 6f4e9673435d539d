// The headless display: the screen stays in memory (tests read it); input comes only
// from the input timeline.
#include "platform/backend/display/display_backend.h"

namespace platform::display {
namespace {

class HeadlessDisplay : public DisplayBackend {
 public:
  void present(const uint16_t*, int, int) override {}
  void poll(std::vector<InputEvent>&) override {}
  void wait(int) override {}
  bool interactive() const override { return false; }
};

}  // namespace

std::unique_ptr<DisplayBackend> open_headless_display() { return std::make_unique<HeadlessDisplay>(); }

}  // namespace platform::display
