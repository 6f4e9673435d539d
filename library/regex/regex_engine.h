// The runtime's own regular-expression engine over UTF-16 text: a recursive-descent
// compiler into an array of nodes and a matcher that never backtracks.
#pragma once

#include <cstdint>

#include "platform/kernel/types.h"

// One node of a compiled pattern. child, arg and next are node indexes or -1; a sequence
// is a chain of nodes through next.
struct RegexNode {
  int32_t op;     // a literal UTF-16 unit (below 0x10000) or one of the kinds below
  int32_t child;  // repeated node, left alternative, group's sequence, set's first member, class letter, range low
  int32_t arg;    // min << 16 | max, right alternative, group number, range high
  int32_t next;
};
static_assert(sizeof(RegexNode) == 16);

// Node kinds above the literal range.
constexpr int32_t kRegexRepetition = 0x10000;
constexpr int32_t kRegexAlternation = 0x10001;
constexpr int32_t kRegexGroup = 0x10002;
constexpr int32_t kRegexAnyCharacter = 0x10003;
constexpr int32_t kRegexSet = 0x10004;
constexpr int32_t kRegexNamedClass = 0x10005;
constexpr int32_t kRegexNegatedSet = 0x10006;
constexpr int32_t kRegexRange = 0x10007;
constexpr int32_t kRegexEndOfSubject = 0x10009;
constexpr int32_t kRegexStartOfSubject = 0x1000A;

// A repetition's max of 0xFFFF means no upper limit.
constexpr int32_t kRegexNoLimit = 0xFFFF;
// Groups and alternatives nest at most this deep: the compiler and the matcher recurse
// once per level, and a deeper pattern is refused with kRegexErrorTooDeep.
constexpr int32_t kRegexMaximumDepth = 1000;

// The part of the subject one group matched: start is null when the group took no part.
struct RegexCapture {
  const WCHAR* start;
  int32_t length;  // in UTF-16 units
};

struct RegexProgram {
  const WCHAR* subject_end;     // set by every match: the position after the last unit
  const WCHAR* subject_start;   // set by every match
  const WCHAR* pattern_cursor;  // the compiler's position in the pattern
  int32_t root;                 // always 0: the group of the whole pattern
  RegexNode* nodes;
  int32_t capacity;
  int32_t node_count;
  int32_t group_count;  // the whole pattern (group 0) included
  RegexCapture* captures;
  int32_t next_capture;  // the next group number the current attempt will capture
  int32_t depth;         // the compiler's nesting depth
  const WCHAR** error_out;
};

// The error texts; constants that callers never free.
extern const WCHAR* const kRegexErrorExpectedParen;         // "expected paren"
extern const WCHAR* const kRegexErrorLetterExpected;        // "letter expected"
extern const WCHAR* const kRegexErrorInvalidRange;          // "invalid range"
extern const WCHAR* const kRegexErrorClassInRange;          // "cannot use character classes in ranges"
extern const WCHAR* const kRegexErrorNumberOverflow;        // "overflow in numeric constant"
extern const WCHAR* const kRegexErrorNumberExpected;        // "number expected"
extern const WCHAR* const kRegexErrorCommaOrBraceExpected;  // ", or } expected"
extern const WCHAR* const kRegexErrorUnexpectedCharacter;   // "unexpected character"
extern const WCHAR* const kRegexErrorTooDeep;               // "pattern nested too deeply"
extern const WCHAR* const kRegexErrorOutOfMemory;           // "out of memory"

// Compiles a null-terminated pattern (null reads as empty). Returns the program, or null
// with one of the error texts in *error when error is given.
RegexProgram* regex_compile(const WCHAR* pattern, const WCHAR** error);

// 1 when the pattern matches a prefix of the null-terminated text, else 0.
int regex_match_at_start(RegexProgram* program, const WCHAR* text);

// 1 with the first match's start and the position after it, else 0. Start positions run
// from the first unit to the last; an empty text gets one attempt.
int regex_search(RegexProgram* program, const WCHAR* text, const WCHAR** start, const WCHAR** end);

// The number of groups, group 0 (the whole pattern) included.
int regex_group_count(const RegexProgram* program);

// For 0 <= index < group count copies that group's capture of the latest match and
// returns 1; else 0.
int regex_group(const RegexProgram* program, int index, RegexCapture* capture);

// Frees the program and everything it owns; null is ignored.
void regex_free(RegexProgram* program);
