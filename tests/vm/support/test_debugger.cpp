// A small outside debugger for the tests: reads a session from a file and plays it
// against a running program through HKEY_CURRENT_USER\ZRKDEBUGGER, printing every answer
// the runtime writes to "RUNTIME" on one line ("\n" shown as \n, other control bytes as
// \xNN). Session lines:
//   send TEXT   waits until the last command was taken, then writes TEXT to "IDE"; each
//               "$FRAME" in TEXT becomes the first 0x address of the last answer
//   expect      waits for "RUNTIME", prints it and deletes it
//   attach      writes "RUNNING": a debugger is there before the program starts
//   detach      deletes "RUNNING": the debugger goes away
//   start CMD   runs the shell command CMD beside the session (the program debugged)
//   exit        waits for that command and prints "exit N" with its status
//   gone        waits until the runtime has deleted "RUNTIME" and "RUNNING"
// A wait longer than ten seconds prints "TIMEOUT" and ends with status 1.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "platform/platform.h"

namespace {

const char16_t* const kKey = u"ZRKDEBUGGER";

std::u16string wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

HKEY open_key() {
  HKEY key = nullptr;
  RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  return key;
}

bool read_value(const char16_t* name, std::string* text) {
  HKEY key = open_key();
  char16_t buffer[40000] = {};
  DWORD bytes = sizeof(buffer) - sizeof(char16_t);
  DWORD type = 0;
  LONG status = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return false;
  if (text) {
    text->clear();
    for (const char16_t* c = buffer; *c; ++c) text->push_back(static_cast<char>(*c));
  }
  return true;
}

void write_value(const char16_t* name, const std::string& text) {
  HKEY key = open_key();
  std::u16string value = wide(text);
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(char16_t)));
  RegCloseKey(key);
}

void delete_value(const char16_t* name) {
  HKEY key = open_key();
  RegDeleteValueW(key, name);
  RegCloseKey(key);
}

std::string shown(const std::string& text) {
  std::string result;
  for (unsigned char c : text) {
    if (c == '\n') result += "\\n";
    else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      result += escaped;
    } else {
      result += static_cast<char>(c);
    }
  }
  return result;
}

// Polls until done() holds; false after ten seconds.
template <typename Done>
bool wait_until(Done done) {
  for (int step = 0; step < 1000; ++step) {
    if (done()) return true;
    Sleep(10);
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: test_debugger SESSION\n");
    return 2;
  }
  std::ifstream session(argv[1]);
  std::string line;
  std::string frame;  // the first address of the last answer
  pid_t program = -1;
  while (std::getline(session, line)) {
    bool in_time = true;
    if (line.rfind("send ", 0) == 0) {
      in_time = wait_until([] { return !read_value(u"IDE", nullptr); });
      std::string text = line.substr(5);
      for (size_t at; (at = text.find("$FRAME")) != std::string::npos;) text.replace(at, 6, frame);
      if (in_time) write_value(u"IDE", text);
    } else if (line == "expect") {
      std::string answer;
      in_time = wait_until([&] { return read_value(u"RUNTIME", &answer); });
      if (in_time) {
        size_t at = answer.find("0x");
        if (at != std::string::npos) frame = answer.substr(at, 10);
        delete_value(u"RUNTIME");
        std::printf("%s\n", shown(answer).c_str());
      }
    } else if (line == "attach") {
      write_value(u"RUNNING", "1");
    } else if (line.rfind("start ", 0) == 0) {
      std::fflush(stdout);
      program = fork();
      if (program == 0) {
        execl("/bin/sh", "sh", "-c", line.c_str() + 6, static_cast<char*>(nullptr));
        _exit(127);
      }
    } else if (line == "exit") {
      int status = 0;
      in_time = program > 0 && waitpid(program, &status, 0) == program;
      if (in_time) std::printf("exit %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    } else if (line == "detach") {
      delete_value(u"RUNNING");
    } else if (line == "gone") {
      in_time = wait_until([] { return !read_value(u"RUNTIME", nullptr) && !read_value(u"IDE", nullptr); });
      if (in_time) std::printf("gone\n");
    }
    std::fflush(stdout);
    if (!in_time) {
      std::printf("TIMEOUT at: %s\n", line.c_str());
      return 1;
    }
  }
  return 0;
}
