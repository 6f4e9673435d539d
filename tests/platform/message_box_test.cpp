// Headless message boxes: one log line per box (real line breaks for a terminal),
// answers chosen by the environment, and the seam the windowed interface takes over.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/user/message_box.h"

namespace {

namespace fs = std::filesystem;

class MessageBox : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"ZRK_MSGBOX_LOG", "ZRK_MSGBOX_ANSWER"}) {
      const char* value = getenv(name);
      saved_.push_back({name, value ? value : "", value != nullptr});
    }
    log_ = fs::temp_directory_path() / ("zrk_msgbox_" + std::to_string(getpid()) + ".log");
    fs::remove(log_);
    setenv("ZRK_MSGBOX_LOG", log_.c_str(), 1);
    unsetenv("ZRK_MSGBOX_ANSWER");
  }
  void TearDown() override {
    platform::set_message_box_handler(nullptr);
    for (const auto& saved : saved_) {
      if (saved.set) setenv(saved.name, saved.value.c_str(), 1);
      else unsetenv(saved.name);
    }
    fs::remove(log_);
  }

  std::vector<std::string> logged_lines() {
    std::vector<std::string> lines;
    std::ifstream in(log_);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  struct Saved {
    const char* name;
    std::string value;
    bool set;
  };
  std::vector<Saved> saved_;
  fs::path log_;
};

TEST_F(MessageBox, EachBoxIsOneLogLine) {
  struct Case {
    const char* name;
    const WCHAR* caption;
    const WCHAR* text;
    const char* line;
  } cases[] = {
      {"plain", u"Title", u"Hello", "Title\tHello"},
      {"line breaks", u"Title", u"one\ntwo\r\nthree\n", "Title\tone\\ntwo\\nthree\\n"},
      {"lone carriage return", u"Title", u"a\rb", "Title\ta\\rb"},
      {"break in the caption", u"Two\nparts", u"x", "Two\\nparts\tx"},
      {"null caption", nullptr, u"text", "Error\ttext"},
      {"null text", u"Title", nullptr, "Title\t"},
      {"empty", u"", u"", "\t"},
      {"beyond ASCII", u"Gr\u00F6\u00DFe", u"\u20AC 5 \U0001F600", "Gr\xC3\xB6\xC3\x9F" "e\t\xE2\x82\xAC 5 \xF0\x9F\x98\x80"},
  };
  for (const Case& row : cases) MessageBoxW(nullptr, row.text, row.caption, MB_OK);
  std::vector<std::string> lines = logged_lines();
  ASSERT_EQ(lines.size(), std::size(cases));
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], cases[i].line) << cases[i].name;
}

TEST_F(MessageBox, AnswersFollowTheEnvironmentAndTheBoxsButtons) {
  struct Case {
    UINT type;
    const char* answer;  // null: unset
    int result;
  } cases[] = {
      {MB_OK, nullptr, IDOK},
      {MB_OK, "CANCEL", IDOK},
      {MB_OKCANCEL, nullptr, IDOK},
      {MB_OKCANCEL, "CANCEL", IDCANCEL},
      {MB_OKCANCEL, "cancel", IDCANCEL},
      {MB_OKCANCEL, "2", IDCANCEL},
      {MB_OKCANCEL, "YES", IDOK},
      {MB_ABORTRETRYIGNORE, nullptr, IDABORT},
      {MB_ABORTRETRYIGNORE, "Retry", IDRETRY},
      {MB_ABORTRETRYIGNORE, "IDIGNORE", IDIGNORE},
      {MB_YESNOCANCEL, nullptr, IDYES},
      {MB_YESNOCANCEL, "no", IDNO},
      {MB_YESNOCANCEL, " CANCEL ", IDCANCEL},
      {MB_YESNOCANCEL, "OK", IDYES},
      {MB_YESNO, nullptr, IDYES},
      {MB_YESNO, "7", IDNO},
      {MB_YESNO, "CANCEL", IDYES},
      {MB_RETRYCANCEL, nullptr, IDRETRY},
      {MB_RETRYCANCEL, "CANCEL", IDCANCEL},
      {MB_RETRYCANCEL, "nonsense", IDRETRY},
      {MB_RETRYCANCEL, "99", IDRETRY},
      {MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2 | MB_TOPMOST, "NO", IDNO},
      {MB_OKCANCEL | MB_ICONHAND, nullptr, IDOK},
      {0x9, "CANCEL", IDOK},  // unknown button set: OK alone
  };
  for (const auto& row : cases) {
    if (row.answer) setenv("ZRK_MSGBOX_ANSWER", row.answer, 1);
    else unsetenv("ZRK_MSGBOX_ANSWER");
    EXPECT_EQ(MessageBoxW(nullptr, u"question", u"Q", row.type), row.result)
        << "type 0x" << std::hex << row.type << " answer " << (row.answer ? row.answer : "(unset)");
  }
  EXPECT_EQ(logged_lines().size(), std::size(cases));
}

TEST_F(MessageBox, WithoutALogBoxesGoToStandardError) {
  unsetenv("ZRK_MSGBOX_LOG");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxW(nullptr, u"to stderr", u"Note", MB_OK), IDOK);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Note\tto stderr\n");
}

// Standard error on the terminal side of a pseudo-terminal for a while; what was written
// there is read back from the other side. Raw mode: the bytes read are the bytes written.
class StandardErrorOnATerminal {
 public:
  StandardErrorOnATerminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    int terminal = open(ptsname(master_), O_RDWR | O_NOCTTY);
    if (terminal < 0) return;
    termios settings{};
    tcgetattr(terminal, &settings);
    cfmakeraw(&settings);
    tcsetattr(terminal, TCSANOW, &settings);
    std::fflush(stderr);
    saved_ = dup(STDERR_FILENO);
    dup2(terminal, STDERR_FILENO);
    close(terminal);
  }
  ~StandardErrorOnATerminal() {
    restore();
    if (master_ >= 0) close(master_);
  }
  bool ready() const { return saved_ >= 0; }
  void restore() {
    if (saved_ < 0) return;
    dup2(saved_, STDERR_FILENO);
    close(saved_);
    saved_ = -1;
  }
  // What the terminal received: reads until length bytes came or nothing more comes.
  std::string received(size_t length) {
    std::string text;
    char buffer[256];
    pollfd waiting{master_, POLLIN, 0};
    while (text.size() < length && poll(&waiting, 1, 2000) > 0) {
      ssize_t count = read(master_, buffer, sizeof buffer);
      if (count <= 0) break;
      text.append(buffer, size_t(count));
    }
    return text;
  }

 private:
  int master_ = -1;
  int saved_ = -1;
};

TEST_F(MessageBox, ATerminalGetsTheLineBreaksAndALogStillOneLine) {
  const WCHAR* text = u"(bad.zrk) [Syntax error]\r\nsecond\nthird\rfourth";
  const std::string shown = "Two\nparts\t(bad.zrk) [Syntax error]\nsecond\nthird\nfourth\n";
  const std::string logged = "Two\\nparts\t(bad.zrk) [Syntax error]\\nsecond\\nthird\\rfourth";
  StandardErrorOnATerminal terminal;
  ASSERT_TRUE(terminal.ready());
  unsetenv("ZRK_MSGBOX_LOG");
  MessageBoxW(nullptr, text, u"Two\nparts", MB_OK);
  // With a log the box stays one line there, terminal or not.
  setenv("ZRK_MSGBOX_LOG", log_.c_str(), 1);
  MessageBoxW(nullptr, text, u"Two\nparts", MB_OK);
  std::string received = terminal.received(shown.size());
  terminal.restore();
  EXPECT_EQ(received, shown);
  EXPECT_EQ(logged_lines(), std::vector<std::string>{logged});
}

int windowed_box(HWND, LPCWSTR text, LPCWSTR, UINT) { return text && text[0] == u'y' ? IDYES : IDNO; }

TEST_F(MessageBox, AWindowedHandlerTakesOverUntilReset) {
  platform::set_message_box_handler(windowed_box);
  EXPECT_EQ(MessageBoxW(nullptr, u"yes?", u"Q", MB_YESNO), IDYES);
  EXPECT_EQ(MessageBoxW(nullptr, u"no?", u"Q", MB_YESNO), IDNO);
  EXPECT_TRUE(logged_lines().empty());
  platform::set_message_box_handler(nullptr);
  EXPECT_EQ(MessageBoxW(nullptr, u"no?", u"Q", MB_YESNO), IDYES);
  EXPECT_EQ(logged_lines().size(), 1u);
}

TEST_F(MessageBox, BoxesFromManyThreadsStayWholeLines) {
  constexpr int kThreads = 8, kBoxes = 50;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      std::u16string text(200, static_cast<char16_t>(u'a' + t));
      for (int i = 0; i < kBoxes; ++i) MessageBoxW(nullptr, text.c_str(), u"T", MB_OK);
    });
  }
  for (auto& thread : threads) thread.join();
  std::vector<std::string> lines = logged_lines();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kBoxes));
  for (const auto& line : lines) {
    ASSERT_EQ(line.size(), 202u) << line;
    EXPECT_EQ(line.substr(0, 2), "T\t");
    EXPECT_EQ(line.find_first_not_of(line[2], 2), std::string::npos) << line;
  }
}

}  // namespace
