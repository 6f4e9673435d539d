// The regular-expression engine against Python's re over generated patterns: every
// difference must belong to one of the known classes below, each following from a rule
// of the engine that Python's re (even with possessive and atomic forms) does not share.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "library/regex/regex_engine.h"

namespace {

std::u16string decode(const std::string& hex) {
  std::u16string text;
  if (hex == "_") return text;
  for (size_t i = 0; i + 4 <= hex.size(); i += 4) {
    text.push_back(static_cast<char16_t>(std::stoul(hex.substr(i, 4), nullptr, 16)));
  }
  return text;
}

std::string printable(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else {
      char escape[12];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    }
  }
  return out;
}

// {group count, then start and end of each group (-1 when it took no part)}, or {0}.
using Result = std::vector<int>;

Result parse_result(const std::string& token) {
  Result result;
  std::stringstream stream(token);
  std::string field;
  while (std::getline(stream, field, ',')) result.push_back(std::stoi(field));
  return result;
}

Result engine_result(RegexProgram* program, const char16_t* subject, bool matched) {
  if (!matched) return {0};
  Result result{regex_group_count(program)};
  for (int group = 0; group < regex_group_count(program); ++group) {
    RegexCapture capture{};
    regex_group(program, group, &capture);
    if (!capture.start) {
      result.insert(result.end(), {-1, -1});
    } else {
      int start = static_cast<int>(capture.start - subject);
      result.insert(result.end(), {start, start + capture.length});
    }
  }
  return result;
}

std::string show(const Result& result) {
  std::string out;
  for (int value : result) out += std::to_string(value) + " ";
  return out;
}

struct Case {
  std::u16string pattern;
  std::u16string python;
  std::string flags;
};

// The known classes of difference, each with the rule that causes it.
enum class Explanation { None, EndAttempt, CodePageClass, ZeroWidthPass, CaptureCounter };

const char* explanation_name(Explanation explanation) {
  switch (explanation) {
    case Explanation::EndAttempt:
      return "search makes no attempt after the last character of a non-empty subject";
    case Explanation::CodePageClass:
      return "named classes take units 128-255 as characters of the device's code page (Python's ASCII sets do not)";
    case Explanation::ZeroWidthPass:
      return "a repetition counts only passes that consume a character, and makes none at the subject end";
    case Explanation::CaptureCounter:
      return "a group records its start only when its number is the attempt's next capture number, "
             "so groups under a repetition or an alternation keep their first pass or lose their capture";
    default:
      return "unexplained";
  }
}

Explanation explain(const Case& pattern, const std::u16string& subject, bool search, const Result& engine,
                    const Result& python) {
  // Python's first match is an empty one at the end; the engine never looks there.
  if (search && engine.size() == 1 && python.size() > 1 && !subject.empty() &&
      python[1] == static_cast<int>(subject.size())) {
    return Explanation::EndAttempt;
  }
  // A named class met a unit of the code page's upper half: the engine's runtime table
  // knows its letters, the translation's ASCII sets do not.
  bool upper_half = false;
  for (char16_t c : subject) upper_half = upper_half || (c >= 0x80 && c <= 0xFF);
  if (upper_half && pattern.flags.find("named_class") != std::string::npos) return Explanation::CodePageClass;
  // Same overall match; only the groups differ.
  bool same_match = engine.size() > 1 && python.size() > 1 && engine[1] == python[1] && engine[2] == python[2];
  // Repetitions of something that can match empty: Python counts empty passes.
  if (!same_match && pattern.flags.find("zero_width_pass") != std::string::npos) return Explanation::ZeroWidthPass;
  if (same_match && pattern.flags.find("capture_counter") != std::string::npos) return Explanation::CaptureCounter;
  return Explanation::None;
}

TEST(RegexDifferential, AgreesWithPythonUpToExplainedRules) {
  std::ifstream input(std::string(ZRK_TEST_BINARY_DIR) + "/regex_cases.txt");
  ASSERT_TRUE(input) << "regex_cases.txt was not generated";
  std::map<Explanation, int> explained;
  int patterns = 0, subjects = 0, matches = 0, unexplained = 0;
  Case current;
  RegexProgram* program = nullptr;
  std::string line;
  while (std::getline(input, line)) {
    std::stringstream fields(line);
    std::string kind;
    fields >> kind;
    if (kind == "P") {
      std::string pattern, python;
      fields >> pattern >> python >> current.flags;
      current.pattern = decode(pattern);
      current.python = decode(python);
      regex_free(program);
      const WCHAR* error = nullptr;
      program = regex_compile(current.pattern.c_str(), &error);
      ASSERT_NE(program, nullptr) << "pattern " << printable(current.pattern) << " failed: "
                                  << (error ? printable(error) : "no text");
      ++patterns;
      continue;
    }
    ASSERT_EQ(kind, "S") << line;
    std::string subject_hex, match_token, search_token;
    fields >> subject_hex >> match_token >> search_token;
    const std::u16string subject = decode(subject_hex);
    ++subjects;
    for (bool search : {false, true}) {
      Result python = parse_result(search ? search_token : match_token);
      Result engine;
      if (search) {
        const WCHAR *start = nullptr, *end = nullptr;
        bool found = regex_search(program, subject.c_str(), &start, &end) == 1;
        engine = engine_result(program, subject.c_str(), found);
        if (found) {
          // The reported span is the whole pattern's capture.
          EXPECT_EQ(start - subject.c_str(), engine[1]) << printable(current.pattern);
          EXPECT_EQ(end - subject.c_str(), engine[2]) << printable(current.pattern);
        }
      } else {
        engine = engine_result(program, subject.c_str(), regex_match_at_start(program, subject.c_str()) == 1);
      }
      if (engine.size() > 1) ++matches;
      if (engine == python) continue;
      Explanation explanation = explain(current, subject, search, engine, python);
      if (explanation == Explanation::None) {
        ++unexplained;
        ADD_FAILURE() << (search ? "search" : "match") << " of " << printable(current.pattern) << " (python "
                      << printable(current.python) << ") on \"" << printable(subject) << "\": engine "
                      << show(engine) << "python " << show(python);
      } else {
        ++explained[explanation];
      }
    }
  }
  regex_free(program);
  EXPECT_GE(patterns, 1000);
  EXPECT_EQ(unexplained, 0);
  // Enough of the cases must match for the comparison to mean something.
  EXPECT_GE(matches, subjects / 4);
  std::printf("%d patterns, %d subjects, %d matches; explained differences:\n", patterns, subjects, matches);
  for (const auto& [explanation, count] : explained) std::printf("  %5d  %s\n", count, explanation_name(explanation));
}

}  // namespace
