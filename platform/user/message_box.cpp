// Message boxes: the headless form (a log line and an answer from the environment)
// and the seam through which the windowed interface takes over.
#include "platform/user/message_box.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <iterator>
#include <mutex>
#include <string>

#include "platform/kernel/config.h"
#include "platform/kernel/utf.h"
#include "platform/user/window_state.h"

namespace platform {
namespace {

std::atomic<MessageBoxHandler> installed_handler{nullptr};
std::mutex log_mutex;

struct ButtonName {
  const char* name;
  int id;
};
constexpr ButtonName kButtonNames[] = {{"OK", IDOK},       {"CANCEL", IDCANCEL}, {"ABORT", IDABORT}, {"RETRY", IDRETRY},
                                       {"IGNORE", IDIGNORE}, {"YES", IDYES},       {"NO", IDNO}};

// The buttons of each box type, first button first. Unknown types show OK alone.
struct Buttons {
  int ids[3];
  int count;
};
constexpr Buttons kButtonsOfType[] = {
    {{IDOK}, 1},                            // MB_OK
    {{IDOK, IDCANCEL}, 2},                  // MB_OKCANCEL
    {{IDABORT, IDRETRY, IDIGNORE}, 3},      // MB_ABORTRETRYIGNORE
    {{IDYES, IDNO, IDCANCEL}, 3},           // MB_YESNOCANCEL
    {{IDYES, IDNO}, 2},                     // MB_YESNO
    {{IDRETRY, IDCANCEL}, 2},               // MB_RETRYCANCEL
};

// The button an answer names: a name ("yes", "IDYES") or a number; 0 when unknown.
int button_from_answer(std::string answer) {
  while (!answer.empty() && (answer.back() == ' ' || answer.back() == '\t')) answer.pop_back();
  while (!answer.empty() && (answer.front() == ' ' || answer.front() == '\t')) answer.erase(0, 1);
  if (answer.empty()) return 0;
  if (answer.find_first_not_of("0123456789") == std::string::npos) {
    return answer.size() <= 3 ? std::atoi(answer.c_str()) : 0;
  }
  for (char& c : answer) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  for (const ButtonName& button : kButtonNames) {
    if (answer == button.name || answer == std::string("ID") + button.name) return button.id;
  }
  return 0;
}

int answer_for(UINT type) {
  UINT kind = type & MB_TYPEMASK;
  const Buttons& buttons = kind < std::size(kButtonsOfType) ? kButtonsOfType[kind] : kButtonsOfType[MB_OK];
  int wanted = button_from_answer(setting("ZRK_MSGBOX_ANSWER"));
  for (int i = 0; i < buttons.count; ++i) {
    if (buttons.ids[i] == wanted) return wanted;
  }
  return buttons.ids[0];
}

// For logs one box is one line: line breaks become the two characters "\n" (a lone CR,
// "\r"). For a reader at a terminal every break (a lone CR too) is a real line break.
void append_text(std::string* line, const std::string& text, bool real_breaks) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;  // CR LF is one break
    if (real_breaks && (text[i] == '\n' || text[i] == '\r')) *line += '\n';
    else if (text[i] == '\n') *line += "\\n";
    else if (text[i] == '\r') *line += "\\r";
    else *line += text[i];
  }
}

void write_all(int descriptor, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t written = write(descriptor, data.data() + done, data.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    done += static_cast<size_t>(written);
  }
}

}  // namespace

void set_message_box_handler(MessageBoxHandler handler) { installed_handler.store(handler); }

int headless_message_box(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  std::string log = setting("ZRK_MSGBOX_LOG");
  const bool terminal = log.empty() && isatty(STDERR_FILENO);
  std::string line;
  append_text(&line, caption ? utf8_from_utf16(caption) : std::string("Error"), terminal);
  line += '\t';
  append_text(&line, utf8_from_utf16(text), terminal);
  line += '\n';

  {
    std::lock_guard lock(log_mutex);
    int descriptor = log.empty() ? -1 : open(log.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    write_all(descriptor >= 0 ? descriptor : STDERR_FILENO, line);
    if (descriptor >= 0) close(descriptor);
  }
  return answer_for(type);
}

}  // namespace platform

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  platform::MessageBoxHandler handler = platform::installed_handler.load();
  if (handler) return handler(owner, text, caption, type);
  // A box is a real window when someone looks at the screen; headless runs log it.
  if (platform::user::input_is_interactive()) return platform::user::windowed_message_box(owner, text, caption, type);
  return platform::headless_message_box(owner, text, caption, type);
}
