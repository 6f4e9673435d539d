// Parsing the input timeline of a headless run.
#include "platform/backend/display/input_timeline.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

#include "platform/kernel/utf.h"

namespace platform::display {
namespace {

struct KeyName {
  const char* name;
  int key;
};

constexpr KeyName kKeyNames[] = {
    {"left", 0x25},      {"right", 0x27},    {"up", 0x26},      {"down", 0x28},   {"enter", 0x0D},
    {"action", 0x0D},    {"escape", 0x1B},   {"space", 0x20},   {"backspace", 0x08}, {"tab", 0x09},
    {"home", 0x5B},      {"end", 0x23},      {"softleft", 0x70}, {"softright", 0x71}, {"talk", 0x72},
    {"app1", 0xC1},      {"app2", 0xC2},     {"app3", 0xC3},    {"app4", 0xC4},   {"app5", 0xC5},
    {"app6", 0xC6},
};

bool read_int(std::istringstream& in, int& value) {
  std::string word;
  if (!(in >> word)) return false;
  char* end = nullptr;
  long parsed = std::strtol(word.c_str(), &end, 0);
  if (*end || word.empty() || parsed < -100000 || parsed > 100000) return false;
  value = int(parsed);
  return true;
}

bool at_end(std::istringstream& in) {
  std::string rest;
  return !(in >> rest);
}

// The quoted text of a text command: "..." with \" and \\.
bool read_quoted(std::istringstream& in, std::string& text) {
  std::string rest;
  std::getline(in, rest);
  size_t start = rest.find_first_not_of(" \t");
  if (start == std::string::npos || rest[start] != '"') return false;
  size_t i = start + 1;
  for (; i < rest.size() && rest[i] != '"'; ++i) {
    if (rest[i] == '\\' && i + 1 < rest.size()) ++i;
    text += rest[i];
  }
  if (i >= rest.size()) return false;
  return rest.find_first_not_of(" \t\r", i + 1) == std::string::npos;
}

}  // namespace

int key_from_name(const std::string& name) {
  if (name.size() == 1 && std::isalnum(static_cast<unsigned char>(name[0]))) {
    return std::toupper(static_cast<unsigned char>(name[0]));
  }
  std::string lower;
  for (char c : name) lower += char(std::tolower(static_cast<unsigned char>(c)));
  for (const KeyName& entry : kKeyNames) {
    if (lower == entry.name) return entry.key;
  }
  if (lower.size() >= 2 && lower[0] == 'f' && std::isdigit(static_cast<unsigned char>(lower[1]))) {
    int number = std::atoi(lower.c_str() + 1);
    if (number >= 1 && number <= 12 && lower.find_first_not_of("0123456789", 1) == std::string::npos) {
      return 0x6F + number;
    }
  }
  if (!lower.empty() && std::isdigit(static_cast<unsigned char>(lower[0]))) {
    char* end = nullptr;
    long value = std::strtol(lower.c_str(), &end, 0);
    if (!*end && value > 0 && value < 256) return int(value);
  }
  return -1;
}

bool parse_input_timeline(const std::string& text, std::vector<TimedEvent>& events, std::string& error) {
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  uint64_t previous = 0;
  auto fail = [&](const std::string& why) {
    error = "line " + std::to_string(number) + ": " + why;
    return false;
  };
  while (std::getline(lines, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    std::istringstream in(line);
    std::string time_word, command;
    in >> time_word;
    char* end = nullptr;
    unsigned long long time = std::strtoull(time_word.c_str(), &end, 10);
    if (time_word.empty() || *end || !std::isdigit(static_cast<unsigned char>(time_word[0]))) {
      return fail("expected a time in milliseconds, found \"" + time_word + "\"");
    }
    if (time < previous) return fail("the time " + time_word + " is earlier than the line before");
    previous = time;
    if (!(in >> command)) return fail("a command must follow the time");
    InputEvent event;
    auto add = [&](uint64_t at, const InputEvent& made) { events.push_back({at, made}); };
    if (command == "tap" || command == "down" || command == "move" || command == "up") {
      if (!read_int(in, event.x) || !read_int(in, event.y) || !at_end(in)) return fail(command + " needs X Y");
      if (command == "tap") {
        event.kind = InputKind::StylusDown;
        add(time, event);
        event.kind = InputKind::StylusUp;
      } else {
        event.kind = command == "down" ? InputKind::StylusDown : command == "move" ? InputKind::StylusMove : InputKind::StylusUp;
      }
      add(time, event);
    } else if (command == "drag") {
      int x1, y1, x2, y2, duration = 100;
      if (!read_int(in, x1) || !read_int(in, y1) || !read_int(in, x2) || !read_int(in, y2)) {
        return fail("drag needs X1 Y1 X2 Y2 [MS]");
      }
      if (!at_end(in)) {
        std::istringstream again(line);
        std::string skip;
        for (int i = 0; i < 6; ++i) again >> skip;
        if (!read_int(again, duration) || duration < 0 || !at_end(again)) return fail("drag needs X1 Y1 X2 Y2 [MS]");
      }
      event.kind = InputKind::StylusDown;
      event.x = x1;
      event.y = y1;
      add(time, event);
      constexpr int kSteps = 10;
      for (int step = 1; step <= kSteps; ++step) {
        event.kind = InputKind::StylusMove;
        event.x = x1 + (x2 - x1) * step / kSteps;
        event.y = y1 + (y2 - y1) * step / kSteps;
        add(time + uint64_t(duration) * step / kSteps, event);
      }
      event.kind = InputKind::StylusUp;
      add(time + uint64_t(duration), event);
    } else if (command == "key" || command == "keydown" || command == "keyup") {
      std::string name;
      if (!(in >> name) || !at_end(in)) return fail(command + " needs a key name");
      event.key = key_from_name(name);
      if (event.key < 0) return fail("unknown key \"" + name + "\"");
      if (command != "keyup") {
        event.kind = InputKind::KeyDown;
        add(time, event);
      }
      if (command != "keydown") {
        event.kind = InputKind::KeyUp;
        add(time, event);
      }
    } else if (command == "text") {
      std::string typed;
      if (!read_quoted(in, typed)) return fail("text needs a quoted text");
      event.kind = InputKind::Text;
      event.text = utf16_from_utf8(typed);
      add(time, event);
    } else if (command == "menu") {
      if (!read_int(in, event.key) || event.key < 0 || event.key > 0xFFFF || !at_end(in)) {
        return fail("menu needs a command id (0 to 65535)");
      }
      event.kind = InputKind::Menu;
      add(time, event);
    } else if (command == "ok" || command == "close" || command == "end") {
      if (!at_end(in)) return fail(command + " takes nothing more");
      event.kind = command == "ok" ? InputKind::CaptionOk : command == "close" ? InputKind::CaptionClose : InputKind::End;
      add(time, event);
    } else if (command == "screenshot") {
      std::string rest;
      std::getline(in, rest);
      size_t start = rest.find_first_not_of(" \t");
      if (start == std::string::npos) return fail("screenshot needs a file path");
      event.kind = InputKind::Screenshot;
      event.path = rest.substr(start);
      while (!event.path.empty() && (event.path.back() == ' ' || event.path.back() == '\t')) event.path.pop_back();
      add(time, event);
    } else {
      return fail("unknown command \"" + command + "\"");
    }
  }
  // A drag's later moves may pass the lines after it.
  std::stable_sort(events.begin(), events.end(),
                   [](const TimedEvent& a, const TimedEvent& b) { return a.time_ms < b.time_ms; });
  return true;
}

}  // namespace platform::display
