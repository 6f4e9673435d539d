// The regular-expression compiler (pattern to node array) and the matcher that walks the
// nodes over a UTF-16 subject, each node matching in exactly one way.
#include "library/regex/regex_engine.h"

#include <cstring>

#include "platform/kernel/memory.h"
#include "platform/kernel/wide_string.h"

const WCHAR* const kRegexErrorExpectedParen = u"expected paren";
const WCHAR* const kRegexErrorLetterExpected = u"letter expected";
const WCHAR* const kRegexErrorInvalidRange = u"invalid range";
const WCHAR* const kRegexErrorClassInRange = u"cannot use character classes in ranges";
const WCHAR* const kRegexErrorNumberOverflow = u"overflow in numeric constant";
const WCHAR* const kRegexErrorNumberExpected = u"number expected";
const WCHAR* const kRegexErrorCommaOrBraceExpected = u", or } expected";
const WCHAR* const kRegexErrorUnexpectedCharacter = u"unexpected character";
const WCHAR* const kRegexErrorTooDeep = u"pattern nested too deeply";
const WCHAR* const kRegexErrorOutOfMemory = u"out of memory";

namespace {

// Thrown inside the compiler only and caught by regex_compile.
struct CompileError {
  const WCHAR* text;
};

[[noreturn]] void fail(const WCHAR* text) { throw CompileError{text}; }

bool is_special(WCHAR c) {
  switch (c) {
    case u'$': case u'(': case u')': case u'*': case u'+': case u'.': case u'?':
    case u'[': case u'^': case u'{': case u'|': case u'}': case u'\\':
      return true;
    default:
      return false;
  }
}

bool is_class_letter(WCHAR c) {
  switch (c) {
    case u'A': case u'C': case u'D': case u'P': case u'S': case u'W': case u'X':
    case u'a': case u'c': case u'd': case u'l': case u'p': case u's': case u'u': case u'w': case u'x':
      return true;
    default:
      return false;
  }
}

bool is_digit(WCHAR c) { return c >= u'0' && c <= u'9'; }

// The units a backslash gives for f, n, r and t; 0 for any other letter.
WCHAR control_escape(WCHAR c) {
  switch (c) {
    case u'f': return 12;
    case u'n': return 10;
    case u'r': return 13;
    case u't': return 9;
    default: return 0;
  }
}

// ---- Compiler ----

WCHAR peek(const RegexProgram& program) { return *program.pattern_cursor; }
void advance(RegexProgram& program) { ++program.pattern_cursor; }

int32_t add_node(RegexProgram& program, int32_t op, int32_t child = -1, int32_t arg = -1) {
  if (program.node_count == program.capacity) {
    if (program.capacity > 0x3FFFFFFF / static_cast<int32_t>(sizeof(RegexNode))) fail(kRegexErrorOutOfMemory);
    int32_t capacity = program.capacity * 2;
    auto* nodes = static_cast<RegexNode*>(crt::realloc(program.nodes, static_cast<size_t>(capacity) * sizeof(RegexNode)));
    if (!nodes) fail(kRegexErrorOutOfMemory);
    program.nodes = nodes;
    program.capacity = capacity;
  }
  int32_t index = program.node_count++;
  program.nodes[index] = RegexNode{op, child, arg, -1};
  return index;
}

int32_t parse_pattern(RegexProgram& program);

// Decimal digits, at most nine; the count keeps its low 16 bits.
int32_t parse_number(RegexProgram& program) {
  int32_t value = 0;
  int digits = 0;
  while (is_digit(peek(program))) {
    if (digits == 9) fail(kRegexErrorNumberOverflow);
    value = value * 10 + (peek(program) - u'0');
    ++digits;
    advance(program);
  }
  return value & 0xFFFF;
}

// After a backslash: a named class, a control character or the unit itself.
int32_t parse_escape(RegexProgram& program) {
  advance(program);
  WCHAR c = peek(program);
  // A trailing backslash would otherwise make the terminator a literal and read past it.
  if (c == 0) fail(kRegexErrorLetterExpected);
  advance(program);
  if (is_class_letter(c)) return add_node(program, kRegexNamedClass, c);
  WCHAR control = control_escape(c);
  return add_node(program, control ? control : c);
}

// The upper end of a range: a unit, or a backslash with f, n, r, t or any unit taken literally.
WCHAR parse_range_end(RegexProgram& program) {
  WCHAR c = peek(program);
  if (c == u'\\') {
    advance(program);
    c = peek(program);
    if (c == 0) fail(kRegexErrorInvalidRange);
    WCHAR control = control_escape(c);
    if (control) c = control;
  }
  if (c == 0) fail(kRegexErrorInvalidRange);
  advance(program);
  return c;
}

int32_t parse_set(RegexProgram& program) {
  advance(program);  // '['
  bool negated = peek(program) == u'^';
  if (negated) advance(program);
  int32_t set = add_node(program, negated ? kRegexNegatedSet : kRegexSet);
  int32_t last = -1;
  auto append = [&](int32_t member) {
    if (last < 0) {
      program.nodes[set].child = member;
    } else {
      program.nodes[last].next = member;
    }
    last = member;
  };
  if (peek(program) == u']' || peek(program) == u'-') {
    append(add_node(program, peek(program)));
    advance(program);
  }
  while (peek(program) != u']') {
    WCHAR c = peek(program);
    if (c == 0) fail(kRegexErrorExpectedParen);
    if (c == u'-' && last >= 0) {
      advance(program);
      WCHAR high = parse_range_end(program);
      RegexNode& low = program.nodes[last];
      if (low.op == kRegexNamedClass) fail(kRegexErrorClassInRange);
      // A range's lower end must be one unit; after another range there is none.
      if (low.op == kRegexRange || low.op > high) fail(kRegexErrorInvalidRange);
      low = RegexNode{kRegexRange, low.op, high, -1};
    } else if (c == u'\\') {
      append(parse_escape(program));
    } else if (is_special(c)) {
      fail(kRegexErrorLetterExpected);
    } else {
      append(add_node(program, c));
      advance(program);
    }
  }
  advance(program);  // ']'
  return set;
}

int32_t parse_atom(RegexProgram& program) {
  WCHAR c = peek(program);
  switch (c) {
    case u'.':
      advance(program);
      return add_node(program, kRegexAnyCharacter);
    case u'$':
      advance(program);
      return add_node(program, kRegexEndOfSubject);
    case u'(': {
      advance(program);
      int32_t group = add_node(program, kRegexGroup, -1, program.group_count++);
      int32_t child = parse_pattern(program);
      program.nodes[group].child = child;
      if (peek(program) != u')') fail(kRegexErrorExpectedParen);
      advance(program);
      return group;
    }
    case u'[':
      return parse_set(program);
    case u'\\':
      return parse_escape(program);
    default:
      if (c == 0 || is_special(c)) fail(kRegexErrorLetterExpected);
      advance(program);
      return add_node(program, c);
  }
}

// '{' min '}', '{' min ',' '}' or '{' min ',' max '}'; the cursor is on '{'.
int32_t parse_counts(RegexProgram& program) {
  advance(program);
  if (!is_digit(peek(program))) fail(kRegexErrorNumberExpected);
  int32_t minimum = parse_number(program);
  int32_t maximum = minimum;
  if (peek(program) == u',') {
    advance(program);
    if (peek(program) == u'}') {
      maximum = kRegexNoLimit;
    } else {
      if (!is_digit(peek(program))) fail(kRegexErrorExpectedParen);
      maximum = parse_number(program);
      if (peek(program) != u'}') fail(kRegexErrorExpectedParen);
    }
  } else if (peek(program) != u'}') {
    fail(kRegexErrorCommaOrBraceExpected);
  }
  advance(program);
  return static_cast<int32_t>(static_cast<uint32_t>(minimum) << 16 | static_cast<uint32_t>(maximum));
}

int32_t parse_item(RegexProgram& program) {
  int32_t atom = parse_atom(program);
  int32_t counts;
  switch (peek(program)) {
    case u'?': counts = 1; advance(program); break;
    case u'*': counts = kRegexNoLimit; advance(program); break;
    case u'+': counts = 1 << 16 | kRegexNoLimit; advance(program); break;
    case u'{': counts = parse_counts(program); break;
    default: return atom;
  }
  return add_node(program, kRegexRepetition, atom, counts);
}

// Items up to '|', ')', '*', '+' or the end. Nothing before '|', ')' or the end is an
// empty sequence (-1), so that "", "a|" and "()" match the empty text.
int32_t parse_sequence(RegexProgram& program) {
  WCHAR c = peek(program);
  if (c == 0 || c == u'|' || c == u')') return -1;
  int32_t first = -1, last = -1;
  do {
    int32_t item = parse_item(program);
    if (last < 0) {
      first = item;
    } else {
      program.nodes[last].next = item;
    }
    last = item;
    c = peek(program);
  } while (c != 0 && c != u'|' && c != u')' && c != u'*' && c != u'+');
  return first;
}

int32_t parse_alternative(RegexProgram& program) {
  if (peek(program) != u'^') return parse_sequence(program);
  advance(program);
  int32_t start = add_node(program, kRegexStartOfSubject);
  int32_t sequence = parse_sequence(program);
  program.nodes[start].next = sequence;
  return start;
}

// alternative ('|' pattern)?: the right side nests, so every alternative and every group
// is one level deeper.
int32_t parse_pattern(RegexProgram& program) {
  if (++program.depth > kRegexMaximumDepth) fail(kRegexErrorTooDeep);
  int32_t left = parse_alternative(program);
  int32_t result = left;
  if (peek(program) == u'|') {
    advance(program);
    int32_t right = parse_pattern(program);
    result = add_node(program, kRegexAlternation, left, right);
  }
  --program.depth;
  return result;
}

// ---- Matcher ----

bool in_named_class(WCHAR letter, WCHAR c) {
  int type = 0;
  switch (letter) {
    case u'a': case u'A': type = crt::_ALPHA; break;
    case u'd': case u'D': type = crt::_DIGIT; break;
    case u's': case u'S': type = crt::_SPACE; break;
    case u'w': case u'W': type = crt::_ALPHA | crt::_DIGIT; break;
    case u'x': case u'X': type = crt::_HEX; break;
    case u'p': case u'P': type = crt::_PUNCT; break;
    case u'c': case u'C': type = crt::_CONTROL; break;
    case u'l': type = crt::_LOWER; break;
    case u'u': type = crt::_UPPER; break;
  }
  // The runtime's class table covers the 256 units of the code page; above it nothing
  // belongs to a class.
  bool member = c <= 0xFF && crt::_isctype(c, type) != 0;
  bool negated = letter >= u'A' && letter <= u'Z';
  return member != negated;
}

bool in_set(const RegexProgram& program, int32_t member, WCHAR c) {
  for (; member >= 0; member = program.nodes[member].next) {
    const RegexNode& node = program.nodes[member];
    if (node.op == kRegexRange) {
      if (node.child <= c && c <= node.arg) return true;
    } else if (node.op == kRegexNamedClass) {
      if (in_named_class(static_cast<WCHAR>(node.child), c)) return true;
    } else if (node.op == c) {
      return true;
    }
  }
  return false;
}

const WCHAR* match_node(RegexProgram& program, int32_t index, const WCHAR* position);

// Matches the chain from index node after node; an empty chain (-1) matches nothing.
const WCHAR* match_chain(RegexProgram& program, int32_t index, const WCHAR* position) {
  while (index >= 0) {
    position = match_node(program, index, position);
    if (!position) return nullptr;
    index = program.nodes[index].next;
  }
  return position;
}

// The position after the node's one match at position, or null.
const WCHAR* match_node(RegexProgram& program, int32_t index, const WCHAR* position) {
  const RegexNode& node = program.nodes[index];
  const bool at_end = position >= program.subject_end;
  switch (node.op) {
    case kRegexAnyCharacter:
      return at_end ? nullptr : position + 1;
    case kRegexSet:
      return !at_end && in_set(program, node.child, *position) ? position + 1 : nullptr;
    case kRegexNegatedSet:
      return !at_end && !in_set(program, node.child, *position) ? position + 1 : nullptr;
    case kRegexNamedClass:
      return !at_end && in_named_class(static_cast<WCHAR>(node.child), *position) ? position + 1 : nullptr;
    case kRegexEndOfSubject:
      return at_end ? position : nullptr;
    case kRegexStartOfSubject:
      return position == program.subject_start ? position : nullptr;
    case kRegexRepetition: {
      const uint32_t minimum = static_cast<uint32_t>(node.arg) >> 16;
      const uint32_t maximum = static_cast<uint32_t>(node.arg) & 0xFFFF;
      uint32_t count = 0;
      // Greedy and never giving back: each pass starts where the last success ended,
      // and a pass that consumes nothing ends the repetition without counting.
      while ((maximum == kRegexNoLimit || count < maximum) && position < program.subject_end) {
        const WCHAR* after = match_node(program, node.child, position);
        if (!after || after == position) break;
        position = after;
        ++count;
      }
      return count >= minimum ? position : nullptr;
    }
    case kRegexAlternation: {
      const WCHAR* after = match_chain(program, node.child, position);
      return after ? after : match_chain(program, node.arg, position);
    }
    case kRegexGroup: {
      RegexCapture& capture = program.captures[node.arg];
      if (node.arg == program.next_capture) {
        capture.start = position;
        ++program.next_capture;
      }
      const WCHAR* after = match_chain(program, node.child, position);
      if (after) {
        capture.length = static_cast<int32_t>(after - position);
      } else {
        capture = RegexCapture{nullptr, 0};
      }
      return after;
    }
    default:
      return !at_end && *position == node.op ? position + 1 : nullptr;
  }
}

// Nodes that match exactly one unit or nothing, whatever lies around them.
bool matches_one_unit(int32_t op) {
  return op < kRegexRepetition || op == kRegexAnyCharacter || op == kRegexSet || op == kRegexNegatedSet ||
         op == kRegexNamedClass;
}

// Where the next search attempt may start after the attempt at position failed. When the
// pattern opens with an unbounded repetition of a one-unit node, that repetition never
// gives back and matching depends on nothing before it (no back references), so every
// start inside its run would end the run at the same place and fail the same way: the
// search goes on where the run ended. Otherwise the next unit.
const WCHAR* next_search_start(RegexProgram& program, const WCHAR* position) {
  const int32_t first = program.nodes[program.root].child;
  if (first < 0) return position + 1;
  const RegexNode& node = program.nodes[first];
  if (node.op != kRegexRepetition || (static_cast<uint32_t>(node.arg) & 0xFFFF) != kRegexNoLimit ||
      !matches_one_unit(program.nodes[node.child].op)) {
    return position + 1;
  }
  const WCHAR* run_end = position;
  while (run_end < program.subject_end && match_node(program, node.child, run_end)) ++run_end;
  return run_end > position + 1 ? run_end : position + 1;
}

void set_subject(RegexProgram& program, const WCHAR* text) {
  if (!text) text = u"";
  program.subject_start = text;
  program.subject_end = text + crt::wcslen(text);
}

}  // namespace

RegexProgram* regex_compile(const WCHAR* pattern, const WCHAR** error) {
  if (!pattern) pattern = u"";
  auto* program = static_cast<RegexProgram*>(crt::calloc(1, sizeof(RegexProgram)));
  if (!program) {
    if (error) *error = kRegexErrorOutOfMemory;
    return nullptr;
  }
  program->pattern_cursor = pattern;
  program->error_out = error;
  try {
    size_t length = crt::wcslen(pattern);
    if (length > 0x0FFFFFFF / sizeof(RegexNode)) fail(kRegexErrorOutOfMemory);
    program->capacity = length > 0 ? static_cast<int32_t>(length * 2) : 1;
    program->nodes = static_cast<RegexNode*>(crt::malloc(static_cast<size_t>(program->capacity) * sizeof(RegexNode)));
    if (!program->nodes) fail(kRegexErrorOutOfMemory);
    program->root = add_node(*program, kRegexGroup, -1, program->group_count++);
    int32_t child = parse_pattern(*program);
    program->nodes[program->root].child = child;
    if (peek(*program) != 0) fail(kRegexErrorUnexpectedCharacter);
    program->captures = static_cast<RegexCapture*>(crt::calloc(static_cast<size_t>(program->group_count), sizeof(RegexCapture)));
    if (!program->captures) fail(kRegexErrorOutOfMemory);
  } catch (const CompileError& failure) {
    if (error) *error = failure.text;
    regex_free(program);
    return nullptr;
  }
  program->pattern_cursor = nullptr;
  return program;
}

int regex_match_at_start(RegexProgram* program, const WCHAR* text) {
  if (!program) return 0;
  set_subject(*program, text);
  program->next_capture = 0;
  return match_node(*program, program->root, program->subject_start) ? 1 : 0;
}

int regex_search(RegexProgram* program, const WCHAR* text, const WCHAR** start, const WCHAR** end) {
  if (!program) return 0;
  set_subject(*program, text);
  const WCHAR* position = program->subject_start;
  // A non-empty subject gets no attempt after its last unit.
  do {
    program->next_capture = 0;
    const WCHAR* after = match_chain(*program, program->root, position);
    if (after) {
      if (start) *start = position;
      if (end) *end = after;
      return 1;
    }
    position = next_search_start(*program, position);
  } while (position < program->subject_end);
  return 0;
}

int regex_group_count(const RegexProgram* program) { return program ? program->group_count : 0; }

int regex_group(const RegexProgram* program, int index, RegexCapture* capture) {
  if (!program || index < 0 || index >= program->group_count) return 0;
  if (capture) *capture = program->captures[index];
  return 1;
}

void regex_free(RegexProgram* program) {
  if (!program) return;
  crt::free(program->nodes);
  crt::free(program->captures);
  crt::free(program);
}
