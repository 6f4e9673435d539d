// The device's input from a timeline reaching windows: taps at the window under the
// stylus (in its client coordinates), double taps, keys and text at the focus, menu and
// caption presses, accelerators; the run's end when the timeline is used up; a bad line.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

struct ProbeRun {
  int status = -1;
  std::string output;
  std::string errors;
};

ProbeRun run_probe(const std::string& timeline) {
  fs::path work = fs::temp_directory_path() / ("zrk_input_" + std::to_string(getpid()));
  fs::create_directories(work);
  std::ofstream(work / "timeline") << timeline;
  std::string command = "ZRK_DISPLAY=headless ZRK_CLOCK=virtual ZRK_INPUT=" + (work / "timeline").string() +
                        " timeout 20 " ZRK_TEST_BINARY_DIR "/input_probe >" + (work / "out").string() + " 2>" +
                        (work / "err").string();
  ProbeRun run;
  int status = std::system(command.c_str());
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  auto read = [](const fs::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  run.output = read(work / "out");
  run.errors = read(work / "err");
  fs::remove_all(work);
  return run;
}

TEST(DeviceInput, TimelineEventsReachTheirWindows) {
  ProbeRun run = run_probe(
      "100 tap 30 50\n"          // the child: its client point 20,14 (form at 0,26, child at 10,10)
      "200 tap 100 200\n"        // the form
      "250 tap 100 200\n"        // again within half a second: a double tap
      "300 key a\n"              // the focus: the form
      "310 text \"hi\"\n"
      "320 keydown 0x11\n"       // CONTROL+S: the accelerator's command
      "330 key s\n"
      "340 keyup 0x11\n"
      "350 menu 77\n"
      "400 key p\n"              // opens the captioned pop-up
      "500 tap 210 110\n"        // its caption's OK button
      "600 close\n"              // the pop-up has its own caption: WM_CLOSE
      "700 ok\n");
  EXPECT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(run.output,
            "child mouse 513 20,14\n"
            "child mouse 514 20,14\n"
            "form mouse 513 100,174\n"
            "form mouse 514 100,174\n"
            "form mouse 515 100,174\n"
            "form mouse 514 100,174\n"
            "form key 256 0x41\n"
            "form char a\n"
            "form key 257 0x41\n"
            "form char h\n"
            "form char i\n"
            "form key 256 0x11\n"
            "form command 900\n"
            "form key 257 0x53\n"
            "form key 257 0x11\n"
            "form command 77\n"
            "form key 256 0x50\n"
            "form char p\n"
            "form key 257 0x50\n"
            "popup command 1\n"
            "popup close\n"
            "popup command 1\n");
  EXPECT_NE(run.errors.find("zrk: the input timeline is exhausted and nothing else is pending; ending the run"),
            std::string::npos)
      << run.errors;
}

TEST(DeviceInput, TheShellsCloseButtonSendsAFormBehindTheDesktop) {
  ProbeRun run = run_probe("100 close\n200 tap 230 10\n");
  EXPECT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(run.output, "form behind the desktop\n");
}

TEST(DeviceInput, AnUnreadableTimelineStopsTheRunNamingItsLine) {
  ProbeRun run = run_probe("100 tap 1 2\n200 swipe left\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.errors.find(", line 2: unknown command \"swipe\""), std::string::npos) << run.errors;
  EXPECT_EQ(run.output, "");
}

TEST(DeviceInput, WithoutATimelineAHeadlessRunEndsAtOnce) {
  std::string command = "ZRK_DISPLAY=headless ZRK_CLOCK=virtual timeout 20 " ZRK_TEST_BINARY_DIR "/input_probe 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string text;
  char buffer[256];
  while (fgets(buffer, sizeof buffer, pipe)) text += buffer;
  int status = pclose(pipe);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_NE(text.find("zrk: no input can come (headless display) and nothing is pending; ending the run"),
            std::string::npos)
      << text;
}

}  // namespace
