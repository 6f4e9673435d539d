"""Generated scripts that call the core built-ins (texts, lists, packed lists, structures,
arrays, objects, the value stack, eval and memory blocks) with values of the wrong kind,
the same variable given twice, sizes 0 and at the 32-bit limits, and on a variable that an
earlier statement freed or redefined (free, freeobject, empty, clear, dim, struct, list ...),
inside FOREACH over that variable, inside a function that was given it, and from code that
eval and call() run.

Addresses are only ever given as live blocks of the case's own: the raw memory built-ins
fault on a wild address by design, and that is not what this kind looks for.

A case is a script; the same random generator state gives the same case."""

import re

from calls import EDGE_NUMBERS, checked_against_table

# Argument kinds, one letter each:
#   V any variable of the case   X any value (a variable, a literal, a member, an element)
#   T a text (a literal or a text variable)   N a number   Z a size   C a type code
#   L a list-ish variable (mostly lists)   O an object (mostly live ones)   K a class name
#   E an evaluation scope   S a piece of code for eval   P a procedure name for call()
#   F fields of a structure   B a live memory block of 64 bytes   Y a count within a block
# A trailing "*K" makes the built-in variadic with a few more arguments of kind K;
# a trailing "+" makes it variadic with no more arguments than those given.
SIGNATURES = """
mid X Z Z
length X
dup X
pos X X
rpos X X
cpos X X
npos X X Z
delete V Z Z
insert X V Z
replace V X X
change V Z Z X
strip V X
upper X
lower X
capitalize X
swapcase X
reverse X
trim X
ltrim X
rtrim X
lpad X T Z
rpad X T Z
str X
wstr X
int X
chr N
wchr N
wide T
char T
iswide T
evalstring T
concat X *X
crc16 X Z
crc32 X Z
list V *V
add V X *X
addlist V V *V
ins V X *X
del L *L
count L *L
first L *L
last L *L
next L *L
prev L *L
isfirst L *L
islast L *L
islist V *V
lpos L
goto L Z
lmove L Z Z
pop L
find L Z Z X T Z Z N
delall L X T Z Z N
split L Z V
sort L N N
lcopy V V
lcopyex V V Z Z
copy V V
ltype V
vartype V
empty V *V
arraytolist V V
listtoarray V V
tlisttoarray V V
strtolist T T V
strtoarray T T V
listtostr V T T T
structtolist V V
listtostruct V V
structdeftolist V V
mcount X N
madd X X
mdel X Z Z
mmid X Z Z
matrixtoarray X V
matrixtostr X
strtomatrix T
arraytostr V T T T
fill V X *X
dim V Z *Z
sdim V C Z *Z
tdim V Z *Z
redim V Z *Z
type V C +
clear V *V
columnmajor V *V
rowmajor V *V
struct V F +
restruct V F +
new V C
wnew V Z
resize V C
free V *V
malloc Z
memsize B
memset B N Y
memchr B N Y
memcmp B B Y
memmove B B Y
memcpy B B Y
sizeof X
size X
ispointer X
getvar T
setvar T X
varexists T
isvalidvar T
vmax V
isarray V *V
ismatrix V *V
isobject V *V
isstruct V *V
newobject V K Z
freeobject V *V
assign X V
classes V
classinherit K
objaddr V
class O
is X K
push X *X
pull V *V
countstack V
dupstack
dropstack
clearstack
eval S E N
alloceval
freeeval E
call Z P *X
"""


def parse_signatures():
    """[(name, kinds, extra kind or None, variadic)] of the list above."""
    entries = []
    for line in SIGNATURES.strip().splitlines():
        words = line.split()
        name, kinds, extra, variadic = words[0], [], None, False
        for word in words[1:]:
            if word == "+":
                variadic = True
            elif word.startswith("*"):
                variadic, extra = True, word[1:]
            else:
                kinds.append(word)
        entries.append((name, kinds, extra, variadic))
    return entries


def signatures(table_source):
    """The built-ins above that the table has with the same form, and the ones it has not."""
    return checked_against_table(parse_signatures(), table_source)


# The case's variables and what each holds after the set-up; all are global, so the
# functions, eval'd code and called procedures see the same ones.
TEXT_VARS = ["s$", "t$", "w$", "fs$"]
LIST_VARS = ["l%", "l2%", "ln%"]
VARIABLES = TEXT_VARS + LIST_VARS + ["n%", "k%", "m%", "a%", "b%", "st%", "sa%", "o$", "o2$", "fo$",
                                    "e%", "r%", "u%"]
OBJECTS = ["o$", "o2$", "fo$"]
MEMBERS = ["st.x%", "st.y%", "st.z%", "sa.p%", "sa.q%", "st.x$"]
ELEMENTS = ["a%[0]", "a%[3]", "a%[4]", "b%[1]", "l%[0]", "l%[1]", "m%[0]", "m%[1]", "s$[1]", "sa.p%[2]"]
SIZES = ["0", "1", "-1", "2", "3", "8", "9", "255", "256", "65535", "65536", "2147483647",
         "-2147483648", "4294967296", "1e18", "0.5"]
TYPE_CODES = ["-9", "-8", "-5", "-4", "-3", "-2", "-1", "0", "1", "4", "8", "100", "1000", "65536",
              "2147483647", "-10", "-2147483648"]
TEXTS = ['""', '"x"', '"some text"', '"a,b,c"', '","', '"{n%}"', '"{s$}{l%}"', '"[1, [2], \\"x\\"]"',
         '"[[], [[]]]"', '"%s%d%n"', '"\\\\"', '"thing"']
CLASS_NAMES = ['"Thing"', '"Other"', '"THING"', '""', '"nosuch"', "n%", "0"]
FIELDS = ['"x"', '"y"', '"z"', '""', '"x", "x"', '"x", -8', '"y", 300', '"x", st%', '"p", sa%',
          '"x", 0', '"q", -2147483648']
PROCEDURES = ['"f_clear"', '"f_rec"', '"f_free"', '"f_walk"', '"nosuch"', '""', "n%"]
# Code that eval runs: it changes the case's variables under the caller's feet.
EVAL_CODE = ['"s$ = 1;"', '"free(l%);"', '"clearstack();"', '"list(s$);"', '"n% = f_rec(2);"',
             '"struct(st%, \\"x\\");"', '"dim(st%, 2);"', '""', '"bad syntax ("', '"empty(l%);"',
             '"push(a%); clearstack();"', '"freeobject(o$);"', '"r% = eval(\\"n% = 1;\\", e%, 1);"',
             '"s$ = s$ % s$;"', '"x% = o$.get();"', '"freeeval(e%);"']
SCOPES = ["e%", "e%", "ge%", "0", "-1", "n%", "p%", "o$"]

# Shapes a pass can leave out, one letter each, to look past a known fault of that shape:
#   o  methods, is() and class() on values that are not live objects (the objects they
#      are called on are never freed by the shapes that free a variable)
#   m  the structures whose members the case reads given another value (dim, struct, free ...)
#   p  packed lists stored into structure members and array elements
#   t  blocks made by new, wnew, resize and type (texts that are not zero-ended)
#   c  clearstack, in called procedures, eval'd code and the loops of main alike
#   e  eval'd code (eval, evalstring) that calls procedures or methods: the program it
#      runs under ends; and freed scopes
#   s  the same variable given twice, and a variable assigned to itself
#   w  a FOREACH whose body frees or redefines the variable it walks
AVOIDABLE = "omptcesw"
LEFT_OUT = {"o": ("class",), "t": ("new", "wnew", "resize", "type"), "c": ("clearstack",),
            "e": ("freeeval",)}
STRUCTURES = ["st%", "sa%"]


class CoreGenerator:
    def __init__(self, rng, builtins, avoid=""):
        self.rng = rng
        self.avoid = avoid
        dropped = {name for letter in avoid for name in LEFT_OUT.get(letter, ())}
        self.builtins = [entry for entry in builtins if entry[0] not in dropped]
        self.variables = [v for v in VARIABLES if "m" not in avoid or v not in STRUCTURES]
        self.objects = ["o$", "o2$"] if "o" in avoid else OBJECTS
        self.scopes = [v for v in SCOPES if "e" not in avoid or v == "e%"]
        self.eval_code = [c for c in EVAL_CODE if not (
            ("c" in avoid and "clearstack" in c) or ("e" in avoid and re.search(r"f_rec|\.get|eval|freeeval", c)) or
            ("m" in avoid and "st%" in c) or ("o" in avoid and "freeobject" in c))]
        self.procedures = [p for p in PROCEDURES if "c" not in avoid or p != '"f_clear"']

    def pick(self, items):
        return self.rng.choice(items)

    def variable(self):
        return self.pick(self.variables)

    def literal(self):
        roll = self.rng.random()
        if roll < 0.35:
            return self.pick(EDGE_NUMBERS)
        if roll < 0.7:
            return self.pick(TEXTS)
        if roll < 0.85:
            return self.pick(("[1, 2]", "[]", "[[], [[]]]", '[1, "x", [2, 3]]'))
        return '"' + "w" * self.pick((255, 256, 4096)) + '"'

    def value(self, kind):
        rng = self.rng
        if kind == "V":
            if "o" in self.avoid:
                return self.pick([v for v in self.variables if v not in self.objects])
            return self.variable()
        if kind == "X":
            roll = rng.random()
            if roll < 0.5:
                return self.variable()
            if roll < 0.6:
                return self.pick(MEMBERS + ELEMENTS)
            return self.literal()
        if kind == "T":
            return self.pick(TEXTS + TEXT_VARS) if rng.random() < 0.95 else self.variable()
        if kind == "N":
            return self.pick(EDGE_NUMBERS) if rng.random() < 0.5 else str(rng.randint(-3, 10))
        if kind == "Z":
            return self.pick(SIZES) if rng.random() < 0.6 else str(rng.randint(0, 12))
        if kind == "C":
            return self.pick(TYPE_CODES)
        if kind == "L":
            return self.pick(LIST_VARS) if rng.random() < 0.7 else self.variable()
        if kind == "O":
            if "o" in self.avoid:
                return self.pick(self.objects)
            return self.pick(OBJECTS) if rng.random() < 0.9 else self.pick(("0", "n%", "s$", "l%"))
        if kind == "K":
            return self.pick(CLASS_NAMES)
        if kind == "E":
            return self.pick(self.scopes)
        if kind == "S":
            return self.pick(self.eval_code)
        if kind == "P":
            return self.pick(self.procedures)
        if kind == "F":
            return ", ".join(self.pick(FIELDS) for _ in range(rng.randint(0, 3))).strip(", ") or '"x"'
        if kind == "B":
            return self.pick(("p%", "q%"))
        if kind == "Y":
            return self.pick(("0", "1", "8", "63", "64"))
        raise ValueError(kind)

    def call(self, name=None):
        """One call statement of a built-in, its result kept when it gives one."""
        if name:
            entry = [e for e in self.builtins if e[0] == name][0]
        else:
            entry = self.pick(self.builtins)
        name, kinds, extra, gives_value = entry
        args = [self.value(kind) for kind in kinds]
        if name == "newobject":
            args[2] = "0"  # another address would be taken as an object's record by design
        if name == "call":
            args[0] = "0"
        # The same variable twice: the first variable argument again.
        if len(args) > 1 and self.rng.random() < 0.2 and kinds[0] in "VL" and "s" not in self.avoid:
            args[self.rng.randrange(1, len(args))] = args[0]
        if extra:
            args += [self.value(extra) for _ in range(self.rng.randint(0, 2))]
        if name == "is" and "o" in self.avoid:
            args[0] = self.value("O")
        text = "%s(%s);" % (name, ", ".join(args))
        if gives_value and self.rng.random() < 0.6:
            text = self.pick(("r% = ", "u% = ", "s$ = ", "r% = n% + ")) + text
        return text

    def use(self, var):
        """A statement that reads or writes the variable (or its members and elements)."""
        rng = self.rng
        avoid = self.avoid
        if "o" in avoid and var not in self.objects:
            var_method = self.pick(self.objects)
        else:
            var_method = var
        stored = self.value("X")
        if "p" in avoid:
            while stored.startswith("["):
                stored = self.value("X")
        choices = [
            lambda: "r%% = %s;" % var,
            lambda: "%s = %s;" % (var, self.value("X")),
            lambda: "%s = %s;" % (var, var if "s" not in avoid else self.value("X")),
            lambda: "r$ = %s %% %s;" % (var, self.value("X")),
            lambda: "r%% = %s + %s;" % (var, self.value("X")),
            lambda: "%s.put(%s);" % (var_method, self.value("X")),
            lambda: "r%% = %s.get();" % var_method,
            lambda: "r%% = is(%s, %s);" % (var_method, self.value("K")),
            lambda: "%s = %s;" % (self.pick(MEMBERS), stored),
            lambda: "r%% = %s;" % self.pick(MEMBERS + ELEMENTS),
            lambda: "%s = %s;" % (self.pick(ELEMENTS), stored),
            lambda: "%s = [[], [[]]];" % self.pick(MEMBERS + ELEMENTS) if "p" not in avoid else "r% = 0;",
            lambda: "%s++;" % self.pick(MEMBERS + [var]),
            lambda: "%s += %s;" % (self.pick(MEMBERS + [var]), self.value("X")),
            lambda: "add(%s, %s);" % (var, var if "s" not in avoid else self.value("X")),
            lambda: "push(%s);" % var,
            lambda: "f_use(%s);" % var,
        ]
        return rng.choice(choices)()

    def destroy(self, var):
        """A statement that frees or redefines the variable."""
        while ("m" in self.avoid and var in STRUCTURES) or ("o" in self.avoid and var in self.objects):
            var = self.variable()
        lines = [
            "free(%s);", "freeobject(%s);", "empty(%s);", "clear(%s);", "list(%s);", "dim(%s, 3);",
            "dim(%s, 0);", "redim(%s, 2);", "sdim(%s, -1, 2);", 'struct(%s, "x");', 'struct(%s, "y", "z");',
            'restruct(%s, "x");', "new(%s, 0);", "new(%s, 4);", "resize(%s, 1);", "resize(%s, 0);",
            "tdim(%s, 2);", "type(%s, -8);", "%s = 0;", '%s = "";', "lcopy(l2%, %s);",
            "r% = strtoarray(\"1,2\", \",\", %s);", "r% = split(%s, 1, %s);",
            "newobject(%s, \"Thing\", 0);", "r% = classes(%s);", "r% = arraytolist(a%, %s);",
        ]
        if "t" in self.avoid:
            lines = [line for line in lines if not re.match(r"(new|resize|type)\(", line)]
        if "s" in self.avoid:
            lines = [line for line in lines if not line.startswith("r% = split")]
        return self.pick(lines).replace("%s", var)

    def statement(self, depth=0):
        """A random statement: mostly a call, else a shape that walks, frees or reuses."""
        rng = self.rng
        roll = rng.random()
        if roll < 0.55 or depth > 1:
            return [self.call()]
        var = self.variable()
        if roll < 0.7:
            return [self.destroy(var), self.use(var)]
        if roll < 0.85:
            walked = self.pick(LIST_VARS) if rng.random() < 0.7 else var
            loop = self.pick(("foreach", "foreachrev"))
            body = []
            for _ in range(rng.randint(1, 3)):
                body += self.pick((lambda: self.statement(depth + 1),
                                   lambda: [self.destroy(walked) if "w" not in self.avoid else self.call()],
                                   lambda: [self.use("x$")],
                                   lambda: [self.call()]))()
            if rng.random() < 0.2:
                body.append("break;")
            return ["%s (x$, %s)" % (loop, walked)] + ["  " + line for line in body] + ["end;"]
        if roll < 0.93:
            return [self.use(var)]
        return [self.pick(("r% = f_rec(3);", "r%% = call(0, %s) + 1;" % self.value("P"), "f_walk();",
                           "r%% = eval(%s, %s, %s);" % (self.value("S"), self.value("E"), self.pick(("0", "1"))),
                           "r$ = evalstring(\"{%s}\");" % ("n%" if "e" in self.avoid else "f_rec(2)"), "f_free();"))]


CLASSES = """#class Thing
  public(a$);
  a$ = 1;
  public proc put(v$)
    a$ = v$;
  end;
  public func get()
    return(a$);
  end;
#endclass

#class Thing Other
  public(b$);
  b$ = "other";
#endclass
"""

SETUP = """
s$ = "some text 0123456789";
t$ = "";
n% = 5;
k% = -1;
list(l%);
add(l%, "alpha", 2, "beta", 3.5);
list(l2%);
add(l2%, 1, "x");
list(ln%);
m% = [1, [2, 3], "x"];
dim(a%, 4);
sdim(b%, -2, 8);
struct(st%, "x", "y", -8, "z", 16);
struct(sa%, "p", "q");
tdim(sa%, 3);
newobject(o$, "Thing", 0);
newobject(o2$, "Other", 0);
newobject(fo$, "Thing", 0);
freeobject(fo$);
add(l2%, o$);
e% = alloceval();
ge% = alloceval();
freeeval(ge%);
p% = malloc(64);
q% = malloc(64);
fs$ = "freed";
free(fs$);
r% = new(w$, 16);
"""


def make_case(rng, builtins, calls, avoid=""):
    """The script of one generated case with about calls random statements, leaving out the
    shapes whose letters avoid holds."""
    gen = CoreGenerator(rng, builtins, avoid)
    names = sorted(set(VARIABLES + ["p%", "q%", "ge%", "r$", "x$", "depth%"]))
    globals_line = "GLOBAL(%s);" % ", ".join(names)

    def body(count, indent, depth=0):
        lines = []
        for _ in range(count):
            lines += [indent + line for line in gen.statement(depth)]
        return lines

    lines = ["// A generated core call case.", "", CLASSES]
    # Procedures that call() and eval'd code reach: one empties the value stack, one
    # recurses through call(), one frees what its caller may be walking.
    lines += ["forcelink func f_clear()", "  " + globals_line, "  clearstack();" if "c" not in avoid else "",
              "  return(1);", "end;", "",
              "forcelink func f_rec(d%)", "  " + globals_line, "  if (d% <= 0)", "    return(0);", "  end;",
              "  return(call(0, \"f_rec\", d% - 1) + 1);", "end;", "",
              "forcelink func f_free()", "  " + globals_line, "  depth% = depth% + 1;",
              "  if (depth% < 3)"] + body(rng.randint(1, 3), "    ", 2) + [
              "  end;", "  depth% = depth% - 1;", "  return(0);", "end;", "",
              "forcelink func f_walk()", "  " + globals_line, "  foreach (x$, %s)" % gen.pick(LIST_VARS)] + \
        body(rng.randint(1, 2), "    ", 2) + ["  end;", "  return(0);", "end;", "",
                                           "forcelink func f_use(v$)", "  " + globals_line] + \
        ["  " + gen.use("v$") for _ in range(rng.randint(1, 2))] + ["  return(v$);", "end;", ""]
    lines += ["proc main", "  " + globals_line, "  depth% = 0;"]
    guarded = rng.random() < 0.9  # inside TRY a run-time error sets ERROR% and the block goes on
    indent = "    " if guarded else "  "
    if guarded:
        lines.append("  try")
    lines += [indent + line for line in SETUP.strip().splitlines()]
    lines += body(calls, indent)
    if guarded:
        lines += ["  except", "    r% = 1;", "  end;"]
    lines += ['  showmessage("done");', "end;", ""]
    return "\n".join(lines)
