// The x11 display under a virtual X server that the fixture starts itself: the desktop
// window shows exactly what the headless screen holds, a control draws into it and takes
// a click of the X pointer, and closing it ends the run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

extern char** environ;

namespace {

namespace fs = std::filesystem;

const char* kXvfb = "/usr/bin/Xvfb";
const std::string kDemo = ZRK_TEST_BINARY_DIR "/window_demo";

std::string read_all(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class X11Display : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(kXvfb, X_OK) != 0) GTEST_SKIP() << "Xvfb is missing: run scripts/install-deps.sh";
    work_ = fs::temp_directory_path() / ("zrk_x11_" + std::to_string(getpid()));
    fs::create_directories(work_);
    // Other programs on this machine may run X servers too: try display numbers away from
    // the usual ones until a server of ours answers.
    int base = 200 + getpid() % 600;
    for (int number = base; number < base + 10 && display_.empty(); ++number) start_server(number);
    ASSERT_FALSE(display_.empty()) << "no virtual X server could start";
  }

  void start_server(int number) {
    std::string name = ":" + std::to_string(number);
    const char* arguments[] = {kXvfb, name.c_str(), "-screen", "0", "800x700x24", "-nolisten", "tcp", "-noreset", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t server = 0;
    int spawned = posix_spawn(&server, kXvfb, &actions, nullptr, const_cast<char**>(arguments), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return;
    for (int attempt = 0; attempt < 60; ++attempt) {
      if (waitpid(server, nullptr, WNOHANG) == server) return;  // the number was taken
      xcb_connection_t* connection = xcb_connect(name.c_str(), nullptr);
      bool up = !xcb_connection_has_error(connection);
      xcb_disconnect(connection);
      if (up) {
        server_ = server;
        display_ = name;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
  }

  void TearDown() override {
    if (server_ > 0) {
      kill(server_, SIGTERM);
      waitpid(server_, nullptr, 0);
    }
    std::error_code ignored;
    fs::remove_all(work_, ignored);
  }

  // Runs the demo program with a display and a timeline; its exit status.
  int run_demo(const std::string& display, const std::string& timeline, const std::string& log) {
    fs::path timeline_file = work_ / (log + ".timeline");
    std::ofstream(timeline_file) << timeline;
    std::string command = "DISPLAY=" + display_ + " ZRK_DISPLAY=" + display + " ZRK_CLOCK=virtual ZRK_INPUT=" +
                          timeline_file.string() + " timeout 30 " + kDemo + " 2>" + (work_ / log).string();
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  fs::path work_;
  std::string display_;
  pid_t server_ = 0;
};

TEST_F(X11Display, ShowsWhatTheHeadlessScreenHolds) {
  for (const char* display : {"x11", "x11:2"}) {
    std::string timeline = "400 tap 60 240\n500 screenshot " + (work_ / "x11.bmp").string() + "\n600 end\n";
    ASSERT_EQ(run_demo(display, timeline, "x11.log"), 0) << read_all(work_ / "x11.log");
    timeline = "400 tap 60 240\n500 screenshot " + (work_ / "headless.bmp").string() + "\n600 end\n";
    ASSERT_EQ(run_demo("headless", timeline, "headless.log"), 0) << read_all(work_ / "headless.log");
    std::string shown = read_all(work_ / "x11.bmp");
    EXPECT_GT(shown.size(), 240u * 320u * 3u);
    EXPECT_TRUE(shown == read_all(work_ / "headless.bmp")) << display << ": the desktop window differs from the headless screen";
    EXPECT_NE(read_all(work_ / "x11.log").find("the input timeline ends the run"), std::string::npos);
  }
}

TEST_F(X11Display, MessageBoxesAreModalWindows) {
  fs::path timeline = work_ / "box.timeline";
  std::ofstream(timeline) << "200 screenshot " << (work_ / "box.bmp").string() << "\n300 key enter\n600 close\n";
  std::string command = "DISPLAY=" + display_ + " ZRK_DISPLAY=x11 ZRK_CLOCK=virtual ZRK_INPUT=" + timeline.string() +
                        " ZRK_MSGBOX_LOG=" + (work_ / "boxes.log").string() + " timeout 30 " ZRK_TEST_BINARY_DIR
                        "/input_probe box >" + (work_ / "box.out").string() + " 2>&1";
  int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << read_all(work_ / "box.out");
  EXPECT_EQ(read_all(work_ / "box.out"), "answer 7\nanswer 2\n");  // IDNO, then IDCANCEL
  EXPECT_FALSE(fs::exists(work_ / "boxes.log")) << "a windowed box is not logged";
  EXPECT_GT(fs::file_size(work_ / "box.bmp"), 0u);
}

TEST_F(X11Display, FileDialogsAreWindows) {
  fs::path root = work_ / "root";
  fs::create_directories(root / "sub");
  std::ofstream(root / "a.txt") << "a";
  std::ofstream(root / "b.zrk") << "b";  // not of the chosen filter
  fs::path timeline = work_ / "files.timeline";
  // The list starts below the name line (24 pixels) under the caption; rows are 18 high:
  // [sub] first, then a.txt.
  std::ofstream(timeline) << "200 tap 50 104\n300 ok\n"
                          << "400 tap 50 86\n500 text \"x.zrk\"\n600 key enter\n"
                          << "700 close\n";
  std::string command = "DISPLAY=" + display_ + " ZRK_DISPLAY=x11 ZRK_CLOCK=virtual ZRK_ROOT=" + root.string() +
                        " ZRK_INPUT=" + timeline.string() + " timeout 30 " ZRK_TEST_BINARY_DIR "/input_probe files >" +
                        (work_ / "files.out").string() + " 2>&1";
  int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << read_all(work_ / "files.out");
  EXPECT_EQ(read_all(work_ / "files.out"), "open 1 \\a.txt\nsave 1 \\sub\\x.zrk\nopen 0 \n");
}

// Finds the top-level window titled "ZRK", or 0.
xcb_window_t find_device_window(xcb_connection_t* connection, xcb_window_t root) {
  xcb_query_tree_reply_t* tree = xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr);
  if (!tree) return 0;
  xcb_window_t found = 0;
  xcb_window_t* children = xcb_query_tree_children(tree);
  for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
    xcb_get_property_reply_t* name = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, children[i], XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 0, 16), nullptr);
    if (name && xcb_get_property_value_length(name) == 3 && std::memcmp(xcb_get_property_value(name), "ZRK", 3) == 0) {
      found = children[i];
    }
    std::free(name);
  }
  std::free(tree);
  return found;
}

xcb_atom_t intern(xcb_connection_t* connection, const char* name) {
  xcb_intern_atom_reply_t* reply =
      xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr);
  xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
  std::free(reply);
  return atom;
}

// Asks the window to close, as a window manager's close button does.
void ask_to_close(xcb_connection_t* connection, xcb_window_t window) {
  xcb_client_message_event_t close_request{};
  close_request.response_type = XCB_CLIENT_MESSAGE;
  close_request.format = 32;
  close_request.window = window;
  close_request.type = intern(connection, "WM_PROTOCOLS");
  close_request.data.data32[0] = intern(connection, "WM_DELETE_WINDOW");
  xcb_send_event(connection, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&close_request));
  xcb_flush(connection);
}

TEST_F(X11Display, ClosingTheWindowEndsTheRunCleanly) {
  // No timeline: the program waits for its user, who closes the window.
  std::string command = "DISPLAY=" + display_ + " ZRK_DISPLAY=x11 timeout 30 " + kDemo + " 2>" + (work_ / "close.log").string();
  xcb_connection_t* connection = xcb_connect(display_.c_str(), nullptr);
  ASSERT_FALSE(xcb_connection_has_error(connection));
  int status = -1;
  std::thread runner([&] { status = std::system(command.c_str()); });
  xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
  xcb_window_t window = 0;
  for (int attempt = 0; attempt < 200 && !window; ++attempt) {
    window = find_device_window(connection, root);
    if (!window) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!window) {
    runner.join();  // the program ends by its time-out
    FAIL() << "the device window did not appear: " << read_all(work_ / "close.log");
  }
  ask_to_close(connection, window);
  runner.join();
  xcb_disconnect(connection);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_NE(read_all(work_ / "close.log").find("zrk: the device window was closed"), std::string::npos);
}

// The black pixels of a block of the device window (as the X server holds it), or -1.
int black_pixels(xcb_connection_t* connection, xcb_window_t window, int x, int y, int width, int height) {
  xcb_get_image_reply_t* image = xcb_get_image_reply(
      connection,
      xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, int16_t(x), int16_t(y), uint16_t(width),
                    uint16_t(height), ~0u),
      nullptr);
  if (!image) return -1;
  const uint8_t* data = xcb_get_image_data(image);
  int length = xcb_get_image_data_length(image);
  int black = 0;
  for (int at = 0; at + 3 < length; at += 4) black += (data[at] | data[at + 1] | data[at + 2]) == 0 ? 1 : 0;
  std::free(image);
  return black;
}

// Waits up to 5 s for a condition.
template <typename Condition>
bool eventually(Condition condition) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

TEST_F(X11Display, AControlDrawsAndTakesAClickOfThePointer) {
  fs::path output = work_ / "probe.out";
  std::string command = "DISPLAY=" + display_ + " ZRK_DISPLAY=x11 timeout 30 " ZRK_TEST_BINARY_DIR "/control_probe >" +
                        output.string() + " 2>&1";
  xcb_connection_t* connection = xcb_connect(display_.c_str(), nullptr);
  ASSERT_FALSE(xcb_connection_has_error(connection));
  int status = -1;
  std::thread runner([&] { status = std::system(command.c_str()); });
  xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
  xcb_window_t window = 0;
  eventually([&] { return (window = find_device_window(connection, root)) != 0; });
  if (!window) {
    runner.join();
    FAIL() << "the device window did not appear: " << read_all(output);
  }
  // The check box's square lies at the screen's (21, 49), 13 pixels wide; its inside is
  // empty until the box is checked. A window not drawn yet is all black, which would pass
  // the frame's test: the first frame is there once the inside shows empty.
  EXPECT_TRUE(eventually([&] {
    return black_pixels(connection, window, 21, 49, 13, 13) >= 40 &&
           black_pixels(connection, window, 22, 50, 11, 11) == 0;
  })) << "the box's frame is drawn, its inside empty";
  for (uint8_t type : {uint8_t(XCB_BUTTON_PRESS), uint8_t(XCB_BUTTON_RELEASE)}) {
    xcb_button_press_event_t press{};
    press.response_type = type;
    press.detail = 1;
    press.root = root;
    press.event = window;
    press.event_x = 60;
    press.event_y = 55;
    press.same_screen = 1;
    uint32_t mask = type == XCB_BUTTON_PRESS ? XCB_EVENT_MASK_BUTTON_PRESS : XCB_EVENT_MASK_BUTTON_RELEASE;
    xcb_send_event(connection, 0, window, mask, reinterpret_cast<const char*>(&press));
  }
  xcb_flush(connection);
  EXPECT_TRUE(eventually([&] { return read_all(output).find("clicked 1") != std::string::npos; })) << read_all(output);
  EXPECT_TRUE(eventually([&] { return black_pixels(connection, window, 22, 50, 11, 11) > 0; })) << "the check is drawn";
  ask_to_close(connection, window);
  runner.join();
  xcb_disconnect(connection);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
