// The x11 display: the device screen in a desktop window (xcb, with MIT-SHM when the
// server offers it), scaled by a whole factor; the mouse is the stylus and the keyboard
// the device's keys (see the README's key map). Closing the window ends the run.
#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/backend/display/display_backend.h"
#include "platform/backend/host_library.h"
#include "platform/gdi/screen.h"

namespace platform::display {
namespace {

// X keysyms of the keys the device has.
struct KeyMapping {
  uint32_t keysym;
  int key;
};
constexpr KeyMapping kKeyMap[] = {
    {0xFF51, 0x25}, {0xFF52, 0x26}, {0xFF53, 0x27}, {0xFF54, 0x28},  // arrows: the direction pad
    {0xFF0D, 0x0D}, {0xFF8D, 0x0D},                                  // Return, keypad Enter: action
    {0xFF1B, 0x1B}, {0xFF08, 0x08}, {0xFF09, 0x09}, {0x0020, 0x20},  // Escape, BackSpace, Tab, space
    {0xFFBE, 0x70}, {0xFFBF, 0x71}, {0xFFC0, 0x72}, {0xFFC1, 0x73},  // F1 F2: soft keys, F3 talk, F4 end
    {0xFFC2, 0xC1}, {0xFFC3, 0xC2}, {0xFFC4, 0xC3}, {0xFFC5, 0xC4},  // F5-F10: application buttons 1-6
    {0xFFC6, 0xC5}, {0xFFC7, 0xC6},
    {0xFF50, 0x5B},                                                  // Home: the home key
    {0xFFE1, 0x10}, {0xFFE2, 0x10}, {0xFFE3, 0x11}, {0xFFE4, 0x11},  // Shift, Control
    {0xFFE9, 0x12}, {0xFFEA, 0x12},                                  // Alt
};

int key_of(uint32_t keysym) {
  if (keysym >= 'a' && keysym <= 'z') return int(keysym - 'a' + 'A');
  if ((keysym >= 'A' && keysym <= 'Z') || (keysym >= '0' && keysym <= '9')) return int(keysym);
  for (const KeyMapping& entry : kKeyMap) {
    if (entry.keysym == keysym) return entry.key;
  }
  return 0;
}

// The xcb functions this display calls, bound when the first window opens. Each pointer
// carries the name of the function it stands for, so the calls below read as plain xcb.
#define XCB_CORE_FUNCTIONS(F)                                                                              \
  F(xcb_change_property) F(xcb_connect) F(xcb_connection_has_error) F(xcb_create_gc) F(xcb_create_window) \
  F(xcb_disconnect) F(xcb_flush) F(xcb_generate_id) F(xcb_get_file_descriptor) F(xcb_get_image)           \
  F(xcb_get_image_data) F(xcb_get_image_data_length) F(xcb_get_image_reply) F(xcb_get_keyboard_mapping)   \
  F(xcb_get_keyboard_mapping_keysyms) F(xcb_get_keyboard_mapping_reply) F(xcb_get_maximum_request_length) \
  F(xcb_get_setup) F(xcb_intern_atom) F(xcb_intern_atom_reply) F(xcb_map_window) F(xcb_poll_for_event)    \
  F(xcb_put_image) F(xcb_request_check) F(xcb_screen_next) F(xcb_setup_roots_iterator)
#define XCB_SHM_FUNCTIONS(F)                                                                 \
  F(xcb_shm_attach_checked) F(xcb_shm_detach) F(xcb_shm_put_image) F(xcb_shm_query_version) \
  F(xcb_shm_query_version_reply)
#define XCB_DECLARE_SLOT(name) decltype(&::name) name = nullptr;
XCB_CORE_FUNCTIONS(XCB_DECLARE_SLOT)
XCB_SHM_FUNCTIONS(XCB_DECLARE_SLOT)
#undef XCB_DECLARE_SLOT

// Loads xcb and its MIT-SHM extension once; later calls give the first outcome.
bool bind_xcb(std::string& error) {
  static const std::string failure = [] {
    std::string message;
    constexpr const char* kCore = "libxcb.so.1";
    constexpr const char* kShm = "libxcb-shm.so.0";
    void* core = open_host_library(kCore, message);
    void* shm = core ? open_host_library(kShm, message) : nullptr;
#define XCB_BIND_CORE(name) &&bind_host_function(core, kCore, #name, name, message)
#define XCB_BIND_SHM(name) &&bind_host_function(shm, kShm, #name, name, message)
    bool bound = shm XCB_CORE_FUNCTIONS(XCB_BIND_CORE) XCB_SHM_FUNCTIONS(XCB_BIND_SHM);
#undef XCB_BIND_CORE
#undef XCB_BIND_SHM
    return bound ? std::string() : "cannot open the X display: " + message;
  }();
  if (!failure.empty()) error = failure;
  return failure.empty();
}
#undef XCB_CORE_FUNCTIONS
#undef XCB_SHM_FUNCTIONS

InputEvent closed() {
  InputEvent event;
  event.kind = InputKind::WindowClosed;
  return event;
}

class X11Display : public DisplayBackend {
 public:
  ~X11Display() override {
    if (shm_attached_) xcb_shm_detach(connection_, segment_);
    if (shm_address_) shmdt(shm_address_);
    if (connection_) xcb_disconnect(connection_);
    std::free(plain_pixels_);
  }

  bool open(int width, int height, int scale, std::string& error) {
    width_ = width;
    height_ = height;
    scale_ = scale;
    if (!bind_xcb(error)) return false;
    int screen_number = 0;
    connection_ = xcb_connect(nullptr, &screen_number);
    if (!connection_ || xcb_connection_has_error(connection_)) {
      error = "cannot open the X display (is DISPLAY set and the server running?)";
      return false;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; i < screen_number && screens.rem; ++i) xcb_screen_next(&screens);
    xcb_screen_t* screen = screens.data;
    if (!screen || screen->root_depth < 24) {
      error = "the X display needs a 24-bit screen";
      return false;
    }
    depth_ = screen->root_depth;
    window_ = xcb_generate_id(connection_);
    uint32_t values[] = {screen->black_pixel,
                         XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
                             XCB_EVENT_MASK_BUTTON_MOTION | XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE |
                             XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, uint16_t(width * scale),
                      uint16_t(height * scale), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
    const char title[] = "ZRK";
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        sizeof title - 1, title);
    protocols_ = atom("WM_PROTOCOLS");
    delete_window_ = atom("WM_DELETE_WINDOW");
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, protocols_, XCB_ATOM_ATOM, 32, 1, &delete_window_);
    context_ = xcb_generate_id(connection_);
    xcb_create_gc(connection_, context_, window_, 0, nullptr);
    read_keyboard_map();
    size_t bytes = size_t(width) * scale * height * scale * 4;
    open_shared_memory(bytes);
    if (!shm_address_) plain_pixels_ = static_cast<uint8_t*>(std::calloc(1, bytes));
    xcb_map_window(connection_, window_);
    xcb_flush(connection_);
    return true;
  }

  void present(const uint16_t* pixels, int width, int height) override {
    if (width != width_ || height != height_ || xcb_connection_has_error(connection_)) return;
    last_frame_.assign(pixels, pixels + size_t(width) * height);
    draw();
  }

  void poll(std::vector<InputEvent>& events) override {
    if (xcb_connection_has_error(connection_)) {
      events.push_back(closed());
      return;
    }
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
      handle(event, events);
      std::free(event);
    }
    if (xcb_connection_has_error(connection_)) events.push_back(closed());
  }

  void wait(int milliseconds) override {
    pollfd descriptor{xcb_get_file_descriptor(connection_), POLLIN, 0};
    ::poll(&descriptor, 1, milliseconds);
  }

  bool interactive() const override { return true; }

  bool capture(std::vector<uint16_t>& pixels, int& width, int& height) override {
    xcb_flush(connection_);
    xcb_get_image_cookie_t cookie = xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, window_, 0, 0,
                                                  uint16_t(width_ * scale_), uint16_t(height_ * scale_), ~0u);
    xcb_get_image_reply_t* reply = xcb_get_image_reply(connection_, cookie, nullptr);
    if (!reply) return false;
    const uint8_t* data = xcb_get_image_data(reply);
    int length = xcb_get_image_data_length(reply);
    int stride = width_ * scale_ * 4;
    if (length < stride * height_ * scale_) {
      std::free(reply);
      return false;
    }
    width = width_;
    height = height_;
    pixels.resize(size_t(width_) * height_);
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) {
        const uint8_t* p = data + size_t(y) * scale_ * stride + size_t(x) * scale_ * 4;
        pixels[size_t(y) * width_ + x] = rgb565_from_888((uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0]);
      }
    }
    std::free(reply);
    return true;
  }

 private:
  xcb_atom_t atom(const char* name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(connection_, xcb_intern_atom(connection_, 0, uint16_t(std::strlen(name)), name), nullptr);
    xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return value;
  }

  void open_shared_memory(size_t bytes) {
    xcb_shm_query_version_reply_t* version = xcb_shm_query_version_reply(connection_, xcb_shm_query_version(connection_), nullptr);
    if (!version) return;
    std::free(version);
    int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (id < 0) return;
    void* address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
      shmctl(id, IPC_RMID, nullptr);
      return;
    }
    segment_ = xcb_generate_id(connection_);
    xcb_generic_error_t* failure = xcb_request_check(connection_, xcb_shm_attach_checked(connection_, segment_, uint32_t(id), 0));
    // Marked for removal now: it goes when both sides have detached, even after a crash.
    shmctl(id, IPC_RMID, nullptr);
    if (failure) {
      std::free(failure);
      shmdt(address);
      return;
    }
    shm_address_ = static_cast<uint8_t*>(address);
    shm_attached_ = true;
  }

  void read_keyboard_map() {
    const xcb_setup_t* setup = xcb_get_setup(connection_);
    first_keycode_ = setup->min_keycode;
    uint8_t count = uint8_t(setup->max_keycode - setup->min_keycode + 1);
    xcb_get_keyboard_mapping_reply_t* reply =
        xcb_get_keyboard_mapping_reply(connection_, xcb_get_keyboard_mapping(connection_, first_keycode_, count), nullptr);
    if (!reply) return;
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(reply);
    int per_code = reply->keysyms_per_keycode;
    keysyms_.assign(count, 0);
    for (int i = 0; i < count; ++i) keysyms_[size_t(i)] = per_code > 0 ? keysyms[i * per_code] : 0;
    std::free(reply);
  }

  void draw() {
    if (last_frame_.empty()) return;
    uint8_t* target = shm_address_ ? shm_address_ : plain_pixels_;
    if (!target) return;
    int out_width = width_ * scale_;
    for (int y = 0; y < height_; ++y) {
      uint32_t* row = reinterpret_cast<uint32_t*>(target) + size_t(y) * scale_ * out_width;
      for (int x = 0; x < width_; ++x) {
        uint32_t colour = rgb888_from_565(last_frame_[size_t(y) * width_ + x]);
        for (int dx = 0; dx < scale_; ++dx) row[x * scale_ + dx] = colour;
      }
      for (int dy = 1; dy < scale_; ++dy) std::memcpy(row + size_t(dy) * out_width, row, size_t(out_width) * 4);
    }
    uint16_t out_height = uint16_t(height_ * scale_);
    if (shm_address_) {
      xcb_shm_put_image(connection_, window_, context_, uint16_t(out_width), out_height, 0, 0, uint16_t(out_width),
                        out_height, 0, 0, depth_, XCB_IMAGE_FORMAT_Z_PIXMAP, 0, segment_, 0);
    } else {
      // Without shared memory the rows go in requests the server accepts.
      uint32_t limit = xcb_get_maximum_request_length(connection_) * 4 - 64;
      int rows = std::max(1, int(limit / uint32_t(out_width * 4)));
      for (int y = 0; y < out_height; y += rows) {
        int band = std::min(rows, out_height - y);
        xcb_put_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, window_, context_, uint16_t(out_width), uint16_t(band), 0,
                      int16_t(y), 0, depth_, uint32_t(out_width * 4 * band), target + size_t(y) * out_width * 4);
      }
    }
    xcb_flush(connection_);
  }

  void handle(xcb_generic_event_t* event, std::vector<InputEvent>& events) {
    switch (event->response_type & 0x7F) {
      case XCB_EXPOSE: draw(); break;
      case XCB_BUTTON_PRESS:
      case XCB_BUTTON_RELEASE: {
        auto* button = reinterpret_cast<xcb_button_press_event_t*>(event);
        if (button->detail != 1) break;
        InputEvent made;
        made.kind = (event->response_type & 0x7F) == XCB_BUTTON_PRESS ? InputKind::StylusDown : InputKind::StylusUp;
        made.x = button->event_x / scale_;
        made.y = button->event_y / scale_;
        events.push_back(made);
        break;
      }
      case XCB_MOTION_NOTIFY: {
        auto* motion = reinterpret_cast<xcb_motion_notify_event_t*>(event);
        InputEvent made;
        made.kind = InputKind::StylusMove;
        made.x = motion->event_x / scale_;
        made.y = motion->event_y / scale_;
        events.push_back(made);
        break;
      }
      case XCB_KEY_PRESS:
      case XCB_KEY_RELEASE: {
        auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
        size_t index = size_t(key->detail - first_keycode_);
        int virtual_key = index < keysyms_.size() ? key_of(keysyms_[index]) : 0;
        if (!virtual_key) break;
        InputEvent made;
        made.kind = (event->response_type & 0x7F) == XCB_KEY_PRESS ? InputKind::KeyDown : InputKind::KeyUp;
        made.key = virtual_key;
        events.push_back(made);
        break;
      }
      case XCB_CLIENT_MESSAGE: {
        auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
        if (message->type == protocols_ && message->data.data32[0] == delete_window_) {
          events.push_back(closed());
        }
        break;
      }
      default: break;
    }
  }

  xcb_connection_t* connection_ = nullptr;
  xcb_window_t window_ = 0;
  xcb_gcontext_t context_ = 0;
  xcb_atom_t protocols_ = 0;
  xcb_atom_t delete_window_ = 0;
  xcb_shm_seg_t segment_ = 0;
  uint8_t* shm_address_ = nullptr;
  bool shm_attached_ = false;
  uint8_t* plain_pixels_ = nullptr;
  uint8_t depth_ = 24;
  int width_ = 0;
  int height_ = 0;
  int scale_ = 1;
  uint8_t first_keycode_ = 8;
  std::vector<uint32_t> keysyms_;
  std::vector<uint16_t> last_frame_;
};

}  // namespace

std::unique_ptr<DisplayBackend> open_x11_display(int width, int height, int scale, std::string& error) {
  auto display = std::make_unique<X11Display>();
  if (!display->open(width, height, scale, error)) return nullptr;
  return display;
}

}  // namespace platform::display
