// A second process for the registry tests: reads or writes values under
// HKEY_CURRENT_USER, or watches a value that another process keeps rewriting.
//   registry_probe get KEY NAME         prints "TYPE:TEXT" (a REG_SZ as UTF-8, a REG_DWORD in decimal)
//   registry_probe set KEY NAME TEXT    sets a REG_SZ with its terminator
//   registry_probe watch KEY NAME       reads NAME until the value "STOP" appears, then prints
//                                       "reads=N torn=N changes=N"
// Exit status 0 on success; on a failure it prints "error CODE" and exits 1.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/kernel/registry.h"
#include "platform/kernel/utf.h"

namespace {

int fail(LONG code) {
  std::printf("error %d\n", static_cast<int>(code));
  return 1;
}

LONG set_text(HKEY key, const char16_t* name, const std::string& text) {
  std::u16string wide = platform::utf16_from_utf8(text);
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                        static_cast<DWORD>((wide.size() + 1) * sizeof(char16_t)));
}

// A rewritten value reads "<count>;" followed by count copies of one letter and a
// terminator; anything else is a torn or partial read.
bool is_whole(const std::vector<BYTE>& buffer, DWORD type, DWORD size) {
  if (type != REG_SZ || size % 2 != 0 || size < 4) return false;
  std::u16string text(reinterpret_cast<const char16_t*>(buffer.data()), size / 2);
  if (text.back() != 0) return false;
  text.pop_back();
  size_t separator = text.find(u';');
  if (separator == std::u16string::npos || separator == 0) return false;
  size_t count = 0;
  for (size_t i = 0; i < separator; ++i) {
    if (text[i] < u'0' || text[i] > u'9') return false;
    count = count * 10 + (text[i] - u'0');
  }
  if (text.size() != separator + 1 + count || count == 0) return false;
  char16_t letter = text[separator + 1];
  for (size_t i = separator + 1; i < text.size(); ++i) {
    if (text[i] != letter) return false;
  }
  return true;
}

int watch(HKEY key, const char16_t* name) {
  LONG status = set_text(key, u"READY", "1");
  if (status != ERROR_SUCCESS) return fail(status);
  std::vector<BYTE> buffer(1 << 20), previous;
  long reads = 0, torn = 0, changes = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    if (RegQueryValueExW(key, u"STOP", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) break;
    DWORD type = 0, size = static_cast<DWORD>(buffer.size());
    status = RegQueryValueExW(key, name, nullptr, &type, buffer.data(), &size);
    if (status == ERROR_FILE_NOT_FOUND) continue;  // not written yet
    ++reads;
    if (status != ERROR_SUCCESS || !is_whole(buffer, type, size)) {
      ++torn;
      continue;
    }
    if (previous.size() != size || std::memcmp(previous.data(), buffer.data(), size) != 0) {
      previous.assign(buffer.begin(), buffer.begin() + size);
      ++changes;
      set_text(key, u"SEEN", std::to_string(changes));
    }
  }
  std::printf("reads=%ld torn=%ld changes=%ld\n", reads, torn, changes);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: registry_probe get|set|watch KEY NAME [TEXT]\n");
    return 2;
  }
  std::string command = argv[1];
  std::u16string key_path = platform::utf16_from_utf8(argv[2]);
  std::u16string name = platform::utf16_from_utf8(argv[3]);
  HKEY key = nullptr;
  LONG status = RegCreateKeyExW(HKEY_CURRENT_USER, key_path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return fail(status);

  int result = 0;
  if (command == "get") {
    DWORD type = 0, size = 0;
    status = RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
    std::vector<BYTE> data(size + 2);
    if (status == ERROR_SUCCESS) status = RegQueryValueExW(key, name.c_str(), nullptr, &type, data.data(), &size);
    if (status != ERROR_SUCCESS) {
      result = fail(status);
    } else if (type == REG_DWORD && size == 4) {
      DWORD number;
      std::memcpy(&number, data.data(), 4);
      std::printf("%u:%u\n", type, number);
    } else {
      std::u16string text(reinterpret_cast<const char16_t*>(data.data()), size / 2);
      while (!text.empty() && text.back() == 0) text.pop_back();
      std::printf("%u:%s\n", type, platform::utf8_from_utf16(text).c_str());
    }
  } else if (command == "set" && argc >= 5) {
    status = set_text(key, name.c_str(), argv[4]);
    if (status != ERROR_SUCCESS) result = fail(status);
  } else if (command == "watch") {
    result = watch(key, name.c_str());
  } else {
    std::fprintf(stderr, "registry_probe: unknown command %s\n", argv[1]);
    result = 2;
  }
  RegCloseKey(key);
  return result;
}
