#!/usr/bin/env python3
"""Draws patterns from the engine's grammar (seeded, so the cases are the same on every
run), writes each in the engine's syntax and as an equivalent Python pattern, and records
what Python's re finds for several subjects.

The engine never backtracks, so the translation makes Python's re behave the same way:
every repetition is possessive (X{m,n}+), every alternation atomic ((?>L|R)), '^' and '$'
are \\A and \\Z, and the named classes are written out as explicit ASCII sets.

Output, one line per record, texts as 4-digit hex UTF-16 units ('_' for empty):
  P <engine pattern> <python pattern> <flags or ->
  S <subject> <match result> <search result>
where a result is 'N,s0,e0,s1,e1,...' for N groups (-1,-1 for a group that took no
part), or '0' for no match.
"""
import random
import re
import string
import sys

SEED = 20261209
PATTERN_COUNT = 1500
SPECIALS = set("$()*+.?[^{|}\\")
CLASS_LETTERS = "ACDPSWXacdlpsuwx"
CONTROL_ESCAPES = {12: "f", 10: "n", 13: "r", 9: "t"}
LITERALS = "abcxyzAB09_ -.,]!\t\n*+?{}()[^$|\\"


def ascii_class(letter):
    """The ASCII members of a named class, from Python's own character tables."""
    base = letter.lower()
    members = {
        "a": string.ascii_letters,
        "d": string.digits,
        "s": string.whitespace,
        "w": string.ascii_letters + string.digits,
        "x": string.hexdigits,
        "p": string.punctuation,
        "c": "".join(chr(c) for c in list(range(32)) + [127]),
        "l": string.ascii_lowercase,
        "u": string.ascii_uppercase,
    }[base]
    codes = {ord(c) for c in members}
    if letter.isupper():
        # Outside ASCII nothing belongs to a class, so a negated class takes all of it.
        codes = {c for c in range(1, 128) if c not in codes} | {"high"}
    return codes


def python_set_items(codes):
    items = "".join("\\x%02x" % c for c in sorted(c for c in codes if c != "high"))
    if "high" in codes:
        items += "\\x80-\\uffff"
    return items


# ---- Pattern trees ----
# pattern: list of alternatives; alternative: (caret, [items]); item: (atom, counts or None)
# atom: ('lit', code) ('any',) ('end',) ('class', letter) ('group', pattern)
#       ('set', negated, [members]); member: ('lit', code) ('range', low, high) ('class', letter)


class Generator:
    def __init__(self, rng):
        self.rng = rng

    def pattern(self, depth):
        count = self.rng.choice([1, 1, 1, 2, 2, 3])
        return [self.alternative(depth) for _ in range(count)]

    def alternative(self, depth):
        caret = self.rng.random() < 0.1
        length = self.rng.choice([0, 1, 1, 2, 2, 3, 3, 4, 5]) if self.rng.random() < 0.97 else 0
        return (caret, [self.item(depth) for _ in range(length)])

    def item(self, depth):
        atom = self.atom(depth)
        if self.rng.random() < 0.4:
            return (atom, self.counts())
        return (atom, None)

    def counts(self):
        form = self.rng.choice(["?", "*", "+", "{m}", "{m,}", "{m,n}"])
        if form == "?":
            return (0, 1, "?")
        if form == "*":
            return (0, None, "*")
        if form == "+":
            return (1, None, "+")
        low = self.rng.randint(0, 3)
        if form == "{m}":
            return (low, low, "{%s}" % self.number(low))
        if form == "{m,}":
            return (low, None, "{%s,}" % self.number(low))
        high = self.rng.randint(low, 4)
        return (low, high, "{%s,%s}" % (self.number(low), self.number(high)))

    def number(self, value):
        """The count as written: sometimes with leading zeros or extra bits above 16."""
        roll = self.rng.random()
        if roll < 0.05:
            return "00" + str(value)
        if roll < 0.1:
            return str(value + 65536 * self.rng.randint(1, 1000))
        return str(value)

    def literal(self):
        if self.rng.random() < 0.05:
            return self.rng.choice([0x3A9, 0xE9])  # beyond ASCII
        return ord(self.rng.choice(LITERALS))

    def atom(self, depth):
        roll = self.rng.random()
        if roll < 0.45:
            return ("lit", self.literal())
        if roll < 0.52:
            return ("any",)
        if roll < 0.55:
            return ("end",)
        if roll < 0.67:
            return ("class", self.rng.choice(CLASS_LETTERS))
        if roll < 0.82 and depth < 3:
            return ("group", self.pattern(depth + 1))
        return self.set()

    def set(self):
        members = []
        for _ in range(self.rng.randint(1, 4)):
            roll = self.rng.random()
            if roll < 0.5:
                members.append(("lit", self.literal()))
            elif roll < 0.8:
                low = ord(self.rng.choice(string.ascii_letters + string.digits + "!-+]"))
                high = min(0x7E, low + self.rng.randint(0, 12))
                members.append(("range", low, high))
            else:
                members.append(("class", self.rng.choice(CLASS_LETTERS)))
        return ("set", self.rng.random() < 0.3, members)


# ---- The engine's syntax ----


def engine_literal(code, rng):
    c = chr(code)
    if code in CONTROL_ESCAPES and rng.random() < 0.5:
        return "\\" + CONTROL_ESCAPES[code]
    if c in SPECIALS:
        return "\\" + c
    # An escaped letter that names no class and no control character is itself.
    if c in "bBeEzZ]" and rng.random() < 0.3:
        return "\\" + c
    return c


def engine_member(member, rng, first):
    kind = member[0]
    if kind == "class":
        return "\\" + member[1]
    if kind == "lit":
        c = chr(member[1])
        if first and c in "]-" and rng.random() < 0.5:
            return c
        if c in SPECIALS or c in "]-":
            return "\\" + c
        return engine_literal(member[1], rng)
    low, high = member[1], member[2]
    low_text = engine_member(("lit", low), rng, first)
    if high in CONTROL_ESCAPES:
        high_text = "\\" + CONTROL_ESCAPES[high]
    elif chr(high) == "\\":
        high_text = "\\\\"
    else:
        high_text = chr(high)  # the upper end is taken literally, specials included
    return low_text + "-" + high_text


def engine_atom(atom, rng):
    kind = atom[0]
    if kind == "lit":
        return engine_literal(atom[1], rng)
    if kind == "any":
        return "."
    if kind == "end":
        return "$"
    if kind == "class":
        return "\\" + atom[1]
    if kind == "group":
        return "(" + engine_pattern(atom[1], rng) + ")"
    text = "[" + ("^" if atom[1] else "")
    for index, member in enumerate(atom[2]):
        text += engine_member(member, rng, index == 0)
    return text + "]"


def engine_pattern(pattern, rng):
    parts = []
    for caret, items in pattern:
        text = "^" if caret else ""
        for atom, counts in items:
            text += engine_atom(atom, rng) + (counts[2] if counts else "")
        parts.append(text)
    return "|".join(parts)


# ---- The Python translation ----


def python_code(code):
    return "\\x%02x" % code if code < 0x100 else "\\u%04x" % code


def python_atom(atom):
    kind = atom[0]
    if kind == "lit":
        return python_code(atom[1])
    if kind == "any":
        return "[\\x00-\\uffff]"
    if kind == "end":
        return "\\Z"
    if kind == "class":
        return "[" + python_set_items(ascii_class(atom[1])) + "]"
    if kind == "group":
        return "(" + python_pattern(atom[1]) + ")"
    items = ""
    for member in atom[2]:
        if member[0] == "lit":
            items += python_code(member[1])
        elif member[0] == "range":
            items += python_code(member[1]) + "-" + python_code(member[2])
        else:
            items += python_set_items(ascii_class(member[1]))
    return "[" + ("^" if atom[1] else "") + items + "]"


def python_alternative(alternative):
    caret, items = alternative
    text = "\\A" if caret else ""
    for atom, counts in items:
        if counts is None:
            text += python_atom(atom)
        else:
            low, high, _ = counts
            text += "(?:%s){%d,%s}+" % (python_atom(atom), low, "" if high is None else high)
    return text


def python_pattern(pattern):
    # Right-nested like the engine's, each choice final once made.
    text = python_alternative(pattern[-1])
    for alternative in reversed(pattern[:-1]):
        text = "(?>%s|%s)" % (python_alternative(alternative), text)
    return text if len(pattern) > 1 else "(?:%s)" % text


# ---- Properties that explain known differences ----


def nullable(node):
    if isinstance(node, list):
        return any(all(nullable_item(item) for item in items) for _, items in node)
    kind = node[0]
    if kind == "end":
        return True
    if kind == "group":
        return nullable(node[1])
    return False


def nullable_item(item):
    atom, counts = item
    return (counts is not None and counts[0] == 0) or nullable(atom)


def flags(pattern):
    found = set()

    def walk(pattern, repeated, alternated):
        alternated = alternated or len(pattern) > 1
        for _, items in pattern:
            for atom, counts in items:
                if counts is not None and counts[0] > 0 and nullable(atom):
                    found.add("zero_width_pass")
                if atom[0] == "class" or (atom[0] == "set" and any(m[0] == "class" for m in atom[2])):
                    found.add("named_class")
                if atom[0] == "group":
                    inside_repetition = repeated or counts is not None
                    if inside_repetition or alternated:
                        found.add("capture_counter")
                    walk(atom[1], inside_repetition, alternated)

    walk(pattern, False, False)
    return ",".join(sorted(found)) or "-"


# ---- Subjects ----


def sample(node, rng):
    """A text the pattern is likely to match."""
    if isinstance(node, list):
        caret, items = rng.choice(node)
        return "".join(sample_item(item, rng) for item in items)
    kind = node[0]
    if kind == "lit":
        return chr(node[1])
    if kind == "any":
        return rng.choice("ab.\n")
    if kind == "end":
        return ""
    if kind == "class":
        codes = sorted(c for c in ascii_class(node[1]) if c != "high" and c != 0)
        return chr(rng.choice(codes)) if codes else "Q"
    if kind == "group":
        return sample(node[1], rng)
    member = rng.choice(node[2])
    if member[0] == "lit":
        return chr(member[1])
    if member[0] == "range":
        return chr(rng.randint(member[1], member[2]))
    return sample(("class", member[1]), rng)


def sample_item(item, rng):
    atom, counts = item
    if counts is None:
        return sample(atom, rng)
    low, high, _ = counts
    top = low + 3 if high is None else high
    return "".join(sample(atom, rng) for _ in range(rng.randint(low, max(low, top))))


def subjects(pattern, rng):
    noise = "abxAB0_ .-\n]" + chr(0x3A9)
    texts = ["", sample(pattern, rng), sample(pattern, rng) + sample(pattern, rng)]
    texts.append(rng.choice(noise) + sample(pattern, rng))
    mutated = list(sample(pattern, rng) + "ab")
    mutated[rng.randrange(len(mutated))] = rng.choice(noise)
    texts.append("".join(mutated))
    texts.append("".join(rng.choice(noise) for _ in range(rng.randint(1, 6))))
    return [t.replace("\0", "a") for t in texts]


# ---- Output ----


def hex_text(text):
    return "".join("%04x" % ord(c) for c in text) or "_"


def result(found, groups):
    if not found:
        return "0"
    spans = []
    for index in range(groups + 1):
        spans.extend(found.span(index))
    return " ".join([str(groups + 1)] + [str(s) for s in spans])


def main():
    rng = random.Random(SEED)
    generator = Generator(rng)
    lines = []
    for _ in range(PATTERN_COUNT):
        tree = generator.pattern(0)
        engine = engine_pattern(tree, rng)
        python = python_pattern(tree)
        compiled = re.compile(python)
        lines.append("P %s %s %s" % (hex_text(engine), hex_text(python), flags(tree)))
        for subject in subjects(tree, rng):
            try:
                match = compiled.match(subject)
                search = compiled.search(subject)
            except SystemError:
                # Python 3.11's re trips over some possessive repetitions of groups with
                # an empty alternative; such a subject has no oracle.
                continue
            lines.append("S %s %s %s" % (hex_text(subject), result(match, compiled.groups).replace(" ", ","),
                                         result(search, compiled.groups).replace(" ", ",")))
    with open(sys.argv[1], "w", encoding="ascii") as output:
        output.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
