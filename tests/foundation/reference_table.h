// Reads the reference tables that oracles/make_reference_tables.py writes at build time.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace reference {

struct Row {
  int line;                         // in the table file, for failure messages
  std::vector<std::string> fields;  // after the kind word
};

// Every row of one kind, in file order; empty when the file is missing.
inline std::vector<Row> rows(const std::string& kind) {
  std::vector<Row> found;
  std::ifstream file(ZRK_REFERENCE_TABLES);
  std::string text;
  for (int line = 1; std::getline(file, text); ++line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab; (tab = text.find('\t', start)) != std::string::npos; start = tab + 1) {
      fields.push_back(text.substr(start, tab - start));
    }
    fields.push_back(text.substr(start));
    if (fields.front() != kind) continue;
    fields.erase(fields.begin());
    found.push_back({line, fields});
  }
  return found;
}

// Hex digits ('-' for none) to bytes.
inline std::string bytes(const std::string& hex) {
  std::string out;
  if (hex == "-") return out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

// Hex of little-endian UTF-16 ('-' for none) to units.
inline std::u16string units(const std::string& hex) {
  std::string raw = bytes(hex);
  std::u16string out;
  for (size_t i = 0; i + 1 < raw.size(); i += 2) {
    out += static_cast<char16_t>(static_cast<uint8_t>(raw[i]) | static_cast<uint8_t>(raw[i + 1]) << 8);
  }
  return out;
}

inline uint32_t word(const std::string& hex) { return static_cast<uint32_t>(std::stoul(hex, nullptr, 16)); }

inline double number_from_bits(const std::string& hex) {
  uint64_t bits = std::stoull(hex, nullptr, 16);
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

}  // namespace reference
