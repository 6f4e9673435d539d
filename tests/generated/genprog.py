#!/usr/bin/env python3
"""Random well-formed ZRK programs, each with the output the language's rules give it.

A program is built as a tree of statements and expressions from the core of the
language: functions and procedures with parameters, '$' locals, '%' names shared by
every procedure, globals made with global(), recursion (also mutual, through a forward
declaration), calls nested in expressions and arguments, FOR with and without a step,
WHILE, IF, CASE, FOREACH over lists (with BREAK), + - * MOD DIV on doubles, comparisons,
and/or/not, '%' joins, length/mid/pos, += -= *=, ++/--, lists with add/count/sort, and
objects with public members and methods. The same tree is both printed as source and run
by the small interpreter below, which follows the language's rules, not the runtime's
code; the message boxes it predicts are the expected output.

The generator keeps to programs whose meaning the rules fix: arithmetic only on numbers,
texts that never read as numbers where that would matter, no argument that names a
variable after an argument that may change it (a parameter is bound from the variable
itself), division-like operators only inside the 32-bit range. A tree whose run leaves
that ground (an overflow, a run longer than the budget) is dropped and another is made.
"""

import random
import re

# Shapes a program may hold. Each can be left out (generate's features); by default all
# are used. KNOWN lists the shapes the runtime still gets wrong, which a pass that must
# stay green leaves out until they are mended.
FEATURES = (
    "text_builtins",  # upper/lower/trim/pad/rpos/cpos/npos/..., delete/insert/replace
    "conversions",  # str/int/ToInt, '+' of numeric texts, '/' and printed fractions
    "cursors",  # first/last/next/prev/goto/lpos, ins/del, the list variable's value
    "object_lists",  # objects held in lists, walked and called through the element
    "foreach_exits",  # BREAK mid-body, walks inside FOR, RETURN from a walk in a loop
    "object_params",  # functions given an object, with a local #object, calling both
    "self_calls",  # methods calling methods of their own object, bare and as conditions
    "builtin_stmts",  # built-ins as bare statements and as whole conditions
    "call_by_name",  # call(0, "name", ...) of forcelink procedures, bare and in values
    "call_cond",  # call(...) as the whole IF/WHILE condition
    "eval",  # eval/run of text storing '%' names, bare and as the whole IF condition
    "eval_join",  # eval/run inside an expression, storing into a '%' name a join read
    "method_stmt_in_func",  # a function method called bare on a parameter or local object
)
KNOWN = ()

# ---------------------------------------------------------------------------
# Values: (text or None, number), as a value cell holds them.


def number_to_text(x):
    s = "%f" % x
    s = s.rstrip("0")
    if s.endswith("."):
        s = s[:-1]
    return s


def text_of(v):
    return v[0] if v[0] is not None else number_to_text(v[1])


def is_numeric_text(s):
    """Whether a text reads as a number: digits, '.', a '-' in front, 'x' anywhere (hex
    after a leading 0), an 'e' with a sign after it, hex letters in hex mode."""
    if s == "":
        return False
    hex_mode = False
    i = 0
    while i < len(s):
        c = s[i]
        if c in "xX":
            if i == 1 and s[0] == "0":
                hex_mode = True
        elif c in "abcdefABCDEF":
            if c in "eE" and not hex_mode:
                if i + 1 < len(s) and s[i + 1] in "-+":
                    i += 1
                else:
                    return False
            elif not hex_mode:
                return False
        elif c == "-":
            if i != 0:
                return False
        elif not (c.isdigit() or c == "."):
            return False
        i += 1
    return True


ATOF = re.compile(r"[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?")


def text_to_number(s):
    # A text that does not read as a number is 0; else the C library's reading of its
    # longest numeric start, where a reading of 0 (also -0) gives the plain 0.
    if not is_numeric_text(s):
        return 0.0
    if "x" in s or "X" in s:
        raise Reject("hex text")
    match = ATOF.match(s)
    x = float(match.group(0)) if match else 0.0
    return x if x != 0.0 else 0.0


def value_of(v):
    """A value read as a number: its number, or its text read as one."""
    return v[1] if v[0] is None else text_to_number(v[0])


def numeric(v):
    return v[0] is None or is_numeric_text(v[0])


class ObjRef:
    """A variable that refers to an object: its members, shared by every reference."""

    def __init__(self, members):
        self.members = members


class LiveList:
    """A list variable: its elements and the element its cursor stands on."""

    def __init__(self):
        self.items = []
        self.cur = None  # index, or None for an empty list

    def current(self):
        if self.cur is None:
            raise Reject("cursor unknown")
        return self.items[self.cur]


class Reject(Exception):
    """The program left the ground whose meaning the rules fix; make another."""


def trunc32(x):
    if x != x or x >= 2147483648.0 or x <= -2147483649.0:
        raise Reject("32-bit range")
    return int(x)


def trunc64(x):
    if x != x or abs(x) >= 9.2e18:
        raise Reject("64-bit range")
    return int(x)


def check_number(x):
    if x != x or x in (float("inf"), float("-inf")) or abs(x) > 1e15:
        raise Reject("number range")
    return x


def NUM(x):
    return (None, check_number(float(x)))


def TXT(s):
    if len(s) > 400:
        raise Reject("text length")
    return (s, 0.0)


def truth(v):
    # A cell is false when its number is 0 and it carries no text.
    return v[0] is not None or v[1] != 0.0


# ---------------------------------------------------------------------------
# The interpreter's state.


class ReturnSignal(Exception):
    def __init__(self, value):
        self.value = value


class BreakSignal(Exception):
    pass


class Frame:
    def __init__(self, locals_, obj=None):
        self.locals = locals_
        self.obj = obj  # member dict of the object whose method runs
        self.lists = {}


class Machine:
    def __init__(self, program, budget):
        self.program = program
        self.shared = {}  # '%' names that are not parameters: one list for every procedure
        self.globals = {}  # names made global with global()
        self.objects = {}  # object name -> member dict
        self.lists = {}  # (frame id, list name) -> list of values
        self.out = []
        self.budget = budget
        self.frames = []
        self.depth = 0
        self.evals = 0

    def obj_members(self, name):
        ref = self.frame.locals.get(name + "$")
        if isinstance(ref, ObjRef):
            return ref.members
        return self.objects[name]

    def tick(self, n=1):
        self.budget -= n
        if self.budget < 0:
            raise Reject("budget")

    @property
    def frame(self):
        return self.frames[-1]

    def call(self, proc, args, obj=None):
        self.tick(3)
        self.depth += 1
        if self.depth > 60:
            raise Reject("depth")
        frame = Frame({}, obj)
        for (pname, _), value in zip(proc.params, args):
            frame.locals[pname] = value
        self.frames.append(frame)
        try:
            run_block(self, proc.body)
            result = (None, 0.0)  # a procedure that returned nothing leaves the number 0
        except ReturnSignal as r:
            result = r.value
        finally:
            self.frames.pop()
            self.depth -= 1
        return result


# ---------------------------------------------------------------------------
# Variables. The generator gives every variable a category, so name lookup never
# depends on an order of lists: 'local' ('$' names and parameters of the running call),
# 'shared' ('%' names of every procedure), 'global' (made global in main), 'member' (a
# member of the object whose method runs), 'objmember' (obj.member$ from outside).


class Var:
    def __init__(self, cat, name, kind, obj=None):
        self.cat, self.name, self.kind, self.obj = cat, name, kind, obj

    def emit(self):
        if self.cat == "objmember":
            return "%s.%s" % (self.obj, self.name)
        return self.name

    def has_call(self):
        return False

    def store(self, m, value):
        if self.cat == "local":
            m.frame.locals[self.name] = value
        elif self.cat == "shared":
            m.shared[self.name] = value
        elif self.cat == "global":
            m.globals[self.name] = value
        elif self.cat == "member":
            m.frame.obj[self.name] = value
        else:
            m.obj_members(self.obj)[self.name] = value

    def load(self, m):
        if self.cat == "local":
            # A local read before its first store in this call holds nothing: the number 0.
            return m.frame.locals.get(self.name, (None, 0.0))
        if self.cat == "shared":
            return m.shared[self.name]
        if self.cat == "global":
            return m.globals[self.name]
        if self.cat == "member":
            return m.frame.obj[self.name]
        return m.obj_members(self.obj)[self.name]

    def eval(self, m):
        m.tick()
        return self.load(m)


# ---------------------------------------------------------------------------
# Expressions.


class Num:
    def __init__(self, value):
        self.value = float(value)

    def emit(self):
        v = self.value
        text = ("%.10f" % abs(v)).rstrip("0").rstrip(".")
        if v < 0 or (v == 0 and str(v).startswith("-")):
            return "(0 - %s)" % text
        return text

    def has_call(self):
        return False

    def eval(self, m):
        v = self.value
        if v < 0:
            return NUM(0.0 - abs(v))
        return NUM(v)


class Str:
    def __init__(self, text):
        self.text = text

    def emit(self):
        return '"%s"' % self.text

    def has_call(self):
        return False

    def eval(self, m):
        return TXT(self.text)


class Binary:
    # An operator between two operands, written in parentheses.
    def __init__(self, op, left, right):
        self.op, self.left, self.right = op, left, right

    def emit(self):
        return "(%s %s %s)" % (self.left.emit(), self.op, self.right.emit())

    def has_call(self):
        return self.left.has_call() or self.right.has_call()


class Bin(Binary):
    # Numbers only: the generator never gives these operators a text.
    def eval(self, m):
        m.tick()
        a = self.left.eval(m)[1]
        b = self.right.eval(m)[1]
        op = self.op
        if op == "+":
            return NUM(a + b)
        if op == "-":
            return NUM(a - b)
        if op == "*":
            return NUM(a * b)
        if op == "/":
            assert b != 0.0
            return NUM(a / b)
        if op == "div":
            if b == 0.0:
                return NUM(0)
            q = a / b
            return NUM(trunc32(q))
        if op == "mod":
            d = trunc32(b)
            if d == 0:
                return NUM(0)
            n = trunc32(a)
            r = abs(n) % abs(d)
            return NUM(-r if n < 0 else r)
        if op == "<":
            return NUM(1 if a < b else 0)
        if op == "<=":
            return NUM(1 if a <= b else 0)
        if op == ">":
            return NUM(1 if a > b else 0)
        if op == ">=":
            return NUM(1 if a >= b else 0)
        if op == "==":
            return NUM(1 if a == b else 0)
        if op == "<>":
            return NUM(1 if a != b else 0)
        if op == "and":
            return NUM(1 if (a != 0.0 and b != 0.0) else 0)
        if op == "or":
            return NUM(1 if (a != 0.0 or b != 0.0) else 0)
        raise AssertionError(op)


class TextCmp(Binary):
    # Two texts compare as texts, byte by byte.
    def eval(self, m):
        m.tick()
        a = self.left.eval(m)[0]
        b = self.right.eval(m)[0]
        ab, bb = a.encode(), b.encode()
        result = {"==": ab == bb, "<>": ab != bb, "<": ab < bb, ">": ab > bb}[self.op]
        return NUM(1 if result else 0)


class Not:
    def __init__(self, operand):
        self.operand = operand

    def emit(self):
        return "(not %s)" % self.operand.emit()

    def has_call(self):
        return self.operand.has_call()

    def eval(self, m):
        m.tick()
        return NUM(1 if trunc64(self.operand.eval(m)[1]) == 0 else 0)


class Join:
    def __init__(self, left, right):
        self.left, self.right = left, right

    def emit(self):
        return "(%s %% %s)" % (self.left.emit(), self.right.emit())

    def has_call(self):
        return self.left.has_call() or self.right.has_call()

    def eval(self, m):
        m.tick()
        # Operands are pushed left to right; a variable's cell holds the value read then.
        a = self.left.eval(m)
        b = self.right.eval(m)
        return TXT(text_of(a) + text_of(b))


class Builtin:
    def __init__(self, name, args):
        self.name, self.args = name, args

    def emit(self):
        return "%s(%s)" % (self.name, ", ".join(a.emit() for a in self.args))

    def has_call(self):
        return any(a.has_call() for a in self.args)

    def eval(self, m):
        m.tick()
        vals = [a.eval(m) for a in self.args]
        if self.name == "length":
            return NUM(len(text_of(vals[0])))
        if self.name == "mid":
            # A start below 0 is 0; a count of -1 reaches to the end; both stay inside.
            text = text_of(vals[0])
            start, count = trunc32(vals[1][1]), trunc32(vals[2][1])
            assert count >= -1
            start = max(start, 0)
            if count == -1 or start + count > len(text):
                count = len(text) - start
            count = max(count, 0)
            return TXT(text[start:start + count])
        if self.name == "pos":
            sought, text = text_of(vals[0]), text_of(vals[1])
            if sought == "":
                return NUM(len(text))
            return NUM(text.find(sought))
        if self.name == "rpos":
            # An empty sought text is never found from the end.
            sought, text = text_of(vals[0]), text_of(vals[1])
            return NUM(-1 if sought == "" else text.rfind(sought))
        if self.name == "cpos":
            sought, text = text_of(vals[0]), text_of(vals[1])
            assert sought != ""
            return NUM(text.count(sought))
        if self.name == "npos":
            sought, text, start = text_of(vals[0]), text_of(vals[1]), trunc32(value_of(vals[2]))
            if start < 0 or start > len(text):
                raise Reject("npos start")
            if sought == "":
                return NUM(len(text))
            return NUM(text.find(sought, start))
        if self.name in ("upper", "lower"):
            text = text_of(vals[0])
            return TXT(text.upper() if self.name == "upper" else text.lower())
        if self.name == "capitalize":
            text = text_of(vals[0]).lower()
            if text[:1].isalpha():
                text = text[0].upper() + text[1:]
            return TXT(text)
        if self.name == "swapcase":
            return TXT(text_of(vals[0]).swapcase())
        if self.name == "reverse":
            return TXT(text_of(vals[0])[::-1])
        if self.name in ("trim", "ltrim", "rtrim"):
            # Only the space character goes.
            text = text_of(vals[0])
            if self.name != "ltrim":
                text = text.rstrip(" ")
            if self.name != "rtrim":
                text = text.lstrip(" ")
            return TXT(text)
        if self.name in ("lpad", "rpad"):
            # count fill characters added, the first character of a fill text or the
            # character of a fill number.
            text = text_of(vals[0])
            fill = vals[1]
            char = fill[0][0] if fill[0] is not None else chr(trunc32(fill[1]) & 0xFF)
            assert fill[0] != ""
            count = trunc32(value_of(vals[2]))
            pad = char * max(count, 0)
            return TXT(pad + text if self.name == "lpad" else text + pad)
        if self.name in ("str", "dup"):
            return TXT(text_of(vals[0]))
        if self.name == "int":
            return NUM(value_of(vals[0]))
        if self.name == "ToInt":
            x = value_of(vals[0])
            if x != int(x) and abs(x - round(x)) < 1e-9:
                raise Reject("near an integer")
            return NUM(trunc32(x))
        raise AssertionError(self.name)


class MixedPlus(Join):
    # '+' of any two values: a sum when both read as numbers, else the two texts joined.
    def emit(self):
        return "(%s + %s)" % (self.left.emit(), self.right.emit())

    def eval(self, m):
        m.tick()
        a = self.left.eval(m)
        b = self.right.eval(m)
        if numeric(a) and numeric(b):
            return NUM(value_of(a) + value_of(b))
        return TXT(text_of(a) + text_of(b))


class ObjArg:
    # An object variable handed to a parameter: the parameter refers to the same object.
    def __init__(self, obj):
        self.obj = obj

    def emit(self):
        return self.obj + "$"

    def has_call(self):
        return False

    def eval(self, m):
        return ObjRef(m.obj_members(self.obj))


class CallByName:
    # call(0, "name", arguments): a function's result, 0 for a procedure or a name that
    # names none.
    def __init__(self, proc, args, name=None):
        self.proc, self.args, self.name = proc, args, name

    def emit(self):
        name = self.name if self.proc is None else self.proc.name
        return "call(%s)" % ", ".join(["0", '"%s"' % name] + [a.emit() for a in self.args])

    def has_call(self):
        return True

    def eval(self, m):
        m.tick()
        args = [a.eval(m) for a in self.args]
        if self.proc is None:
            return NUM(0)
        return m.call(self.proc, args)


class Eval:
    # eval(text, mode, 1) or run(text): the text's statements run as a program of their
    # own (mode 0, run) or in the caller's scope (-1); the statements name only '%'
    # variables, which every program shares. eval ends the program and gives 0; run's
    # handle is multiplied by 0.
    def __init__(self, stmts, mode, builtin="eval"):
        self.stmts, self.mode, self.builtin = stmts, mode, builtin

    def emit(self):
        text = " ".join(line.strip() for line in emit_block(self.stmts, ""))
        text = text.replace('"', '\\"')
        if self.builtin == "run":
            return '(run("%s") * 0)' % text
        return 'eval("%s", %d, 1)' % (text, self.mode)

    def has_call(self):
        return True

    def eval(self, m):
        m.tick(40)
        m.evals += 1
        if m.evals > 6:
            raise Reject("evals")
        m.frames.append(Frame({}))
        try:
            run_block(m, self.stmts)
        finally:
            m.frames.pop()
        return NUM(0)


class ListValue:
    # The list variable itself: the value of the element its cursor stands on.
    def __init__(self, name):
        self.name = name

    def emit(self):
        return self.name

    def has_call(self):
        return False

    def eval(self, m):
        m.tick()
        return m.frame.lists[self.name].current()


class ListOp:
    # first, last, next, prev, lpos, goto of a list: the number they give.
    def __init__(self, op, name, index=None):
        self.op, self.name, self.index = op, name, index

    def emit(self):
        if self.index is not None:
            return "%s(%s, %s)" % (self.op, self.name, self.index.emit())
        return "%s(%s)" % (self.op, self.name)

    def has_call(self):
        return False

    def eval(self, m):
        m.tick()
        lst = m.frame.lists[self.name]
        n = len(lst.items)
        if self.op == "lpos":
            if n == 0:
                return NUM(-1)
            lst.current()
            return NUM(lst.cur)
        if n == 0:
            return NUM(0)
        if self.op in ("first", "last"):
            lst.cur = 0 if self.op == "first" else n - 1
            return NUM(1)
        if self.op == "goto":
            i = trunc32(value_of(self.index.eval(m)))
            lst.cur = min(max(i, 0), n - 1)
            return NUM(1)
        lst.current()
        if self.op == "next":
            if lst.cur + 1 < n:
                lst.cur += 1
                return NUM(1)
            return NUM(0)
        if self.op == "prev":
            if lst.cur > 0:
                lst.cur -= 1
                return NUM(1)
            return NUM(0)
        raise AssertionError(self.op)


class ListCount:
    def __init__(self, name):
        self.name = name

    def emit(self):
        return "count(%s)" % self.name

    def has_call(self):
        return False

    def eval(self, m):
        m.tick()
        return NUM(len(m.frame.lists[self.name].items))


class Call:
    def __init__(self, proc, args):
        self.proc, self.args = proc, args

    def emit(self):
        return "%s(%s)" % (self.proc.name, ", ".join(a.emit() for a in self.args))

    def has_call(self):
        return True

    def eval(self, m):
        args = [a.eval(m) for a in self.args]
        return m.call(self.proc, args, m.frame.obj if self.proc.method_of else None)


class MethodCall:
    def __init__(self, obj, proc, args):
        self.obj, self.proc, self.args = obj, proc, args

    def emit(self):
        return "%s$.%s(%s)" % (self.obj, self.proc.name, ", ".join(a.emit() for a in self.args))

    def has_call(self):
        return True

    def eval(self, m):
        args = [a.eval(m) for a in self.args]
        return m.call(self.proc, args, m.obj_members(self.obj))


# ---------------------------------------------------------------------------
# Statements.


def run_block(m, stmts):
    for s in stmts:
        s.run(m)


def emit_block(stmts, indent):
    lines = []
    for s in stmts:
        lines.extend(s.emit(indent))
    return lines


class Assign:
    def __init__(self, target, expr):
        self.target, self.expr = target, expr

    def emit(self, ind):
        return [ind + "%s = %s;" % (self.target.emit(), self.expr.emit())]

    def run(self, m):
        m.tick()
        v = self.expr.eval(m)
        self.target.store(m, v)


class Compound:
    # += -= *= on numbers
    def __init__(self, target, op, expr):
        self.target, self.op, self.expr = target, op, expr

    def emit(self, ind):
        return [ind + "%s %s %s;" % (self.target.emit(), self.op, self.expr.emit())]

    def run(self, m):
        m.tick()
        v = self.expr.eval(m)[1]
        old = self.target.load(m)[1]
        r = {"+=": old + v, "-=": old - v, "*=": old * v}[self.op]
        self.target.store(m, NUM(r))


class Step:
    def __init__(self, target, op):
        self.target, self.op = target, op

    def emit(self, ind):
        return [ind + "%s%s;" % (self.target.emit(), self.op)]

    def run(self, m):
        m.tick()
        old = self.target.load(m)[1]
        self.target.store(m, NUM(old + 1 if self.op == "++" else old - 1))


class Show:
    def __init__(self, label, args):
        self.label, self.args = label, args

    def emit(self, ind):
        parts = ['"%s"' % self.label] + [a.emit() for a in self.args]
        return [ind + "showmessage(%s);" % ", ".join(parts)]

    def run(self, m):
        m.tick()
        vals = [a.eval(m) for a in self.args]
        m.out.append("Message\t" + self.label + "".join(text_of(v) for v in vals))


class CallStmt:
    def __init__(self, call):
        self.call = call

    def emit(self, ind):
        return [ind + self.call.emit() + ";"]

    def run(self, m):
        self.call.eval(m)


class Edit:
    # delete(v, position, count), insert(text, v, position), replace(v, find, by): the
    # variable's text edited and stored back; positions and counts are kept inside the text.
    def __init__(self, op, var, args):
        self.op, self.var, self.args = op, var, args

    def emit(self, ind):
        if self.op == "insert":
            parts = [self.args[0].emit(), self.var.emit(), self.args[1].emit()]
        else:
            parts = [self.var.emit()] + [a.emit() for a in self.args]
        return [ind + "%s(%s);" % (self.op, ", ".join(parts))]

    def run(self, m):
        m.tick()
        if self.op == "insert":
            piece = text_of(self.args[0].eval(m))
            text = text_of(self.var.load(m))
            at = min(max(trunc32(value_of(self.args[1].eval(m))), 0), len(text))
            text = text[:at] + piece + text[at:]
        else:
            text = text_of(self.var.load(m))
            a = [a.eval(m) for a in self.args]
            if self.op == "delete":
                at = min(max(trunc32(value_of(a[0])), 0), len(text))
                count = min(max(trunc32(value_of(a[1])), 0), len(text) - at)
                text = text[:at] + text[at + count:]
            else:
                sought = text_of(a[0])
                assert sought != ""
                text = text.replace(sought, text_of(a[1]))
        self.var.store(m, TXT(text))


class ListEdit:
    # ins(l, values): each value in front of the current element, and current then;
    # del(l) followed by a move of the cursor (where del leaves it is not looked at);
    # l = value: the current element takes the value.
    def __init__(self, op, name, items, then=None):
        self.op, self.name, self.items, self.then = op, name, items, then

    def emit(self, ind):
        if self.op == "ins":
            return [ind + "ins(%s, %s);" % (self.name, ", ".join(i.emit() for i in self.items))]
        if self.op == "set":
            return [ind + "%s = %s;" % (self.name, self.items[0].emit())]
        return [ind + "del(%s);" % self.name, ind + "%s;" % self.then.emit()]

    def run(self, m):
        m.tick()
        lst = m.frame.lists[self.name]
        if self.op == "ins":
            # Every value is worked out before the first goes in.
            for v in [i.eval(m) for i in self.items]:
                if not lst.items:
                    lst.items, lst.cur = [v], 0
                else:
                    lst.current()
                    lst.items.insert(lst.cur, v)
        elif self.op == "set":
            v = self.items[0].eval(m)
            lst.current()
            lst.items[lst.cur] = v
        else:
            if lst.items:
                lst.current()
                del lst.items[lst.cur]
                lst.cur = None
            self.then.eval(m)
            if lst.items and lst.cur is None:
                raise Reject("cursor after del")


class If:
    def __init__(self, cond, then, other):
        self.cond, self.then, self.other = cond, then, other

    def emit(self, ind):
        lines = [ind + "if (%s)" % strip_parens(self.cond.emit())]
        lines += emit_block(self.then, ind + "  ")
        if self.other:
            lines.append(ind + "else")
            lines += emit_block(self.other, ind + "  ")
        lines.append(ind + "end;")
        return lines

    def run(self, m):
        m.tick()
        if truth(self.cond.eval(m)):
            run_block(m, self.then)
        elif self.other:
            run_block(m, self.other)


def strip_parens(text):
    if text.startswith("(") and text.endswith(")"):
        depth = 0
        for i, c in enumerate(text):
            depth += c == "("
            depth -= c == ")"
            if depth == 0 and i < len(text) - 1:
                return text
        return text[1:-1]
    return text


class While:
    # while (cond) body end;  The generator makes sure the body moves the condition on.
    def __init__(self, cond, body):
        self.cond, self.body = cond, body

    def emit(self, ind):
        lines = [ind + "while (%s)" % strip_parens(self.cond.emit())]
        lines += emit_block(self.body, ind + "  ")
        lines.append(ind + "end;")
        return lines

    def run(self, m):
        while True:
            m.tick()
            if not truth(self.cond.eval(m)):
                break
            try:
                run_block(m, self.body)
            except BreakSignal:
                break


class For:
    # for (var, start, limit[, step]): start, limit and step are read again before each pass.
    def __init__(self, var, start, limit, step, body):
        self.var, self.start, self.limit, self.step, self.body = var, start, limit, step, body

    def emit(self, ind):
        parts = [self.var.emit(), self.start.emit(), self.limit.emit()]
        if self.step is not None:
            parts.append(self.step.emit())
        lines = [ind + "for (%s)" % ", ".join(parts)]
        lines += emit_block(self.body, ind + "  ")
        lines.append(ind + "end;")
        return lines

    def run(self, m):
        first = True
        while True:
            m.tick()
            current = self.var.load(m)[1] if not first else None
            start = self.start.eval(m)[1]
            limit = self.limit.eval(m)[1]
            if self.step is not None:
                step = self.step.eval(m)[1]
            else:
                step = -1.0 if limit < start else 1.0
            if first:
                first = False
                value = start
            else:
                value = current + step
            self.var.store(m, NUM(value))
            done = value > limit if step > 0 else value < limit
            if done:
                break
            try:
                run_block(m, self.body)
            except BreakSignal:
                break


class Case:
    def __init__(self, selector, arms, default):
        self.selector, self.arms, self.default = selector, arms, default

    def emit(self, ind):
        lines = [ind + "case (%s)" % strip_parens(self.selector.emit())]
        for labels, stmt in self.arms:
            body = stmt.emit("")[0]
            lines.append(ind + "  %s: %s" % (", ".join(number_to_text(l) for l in labels), body))
        if self.default is not None:
            lines.append(ind + "  default: %s" % self.default.emit("")[0])
        lines.append(ind + "end;")
        return lines

    def run(self, m):
        m.tick()
        sel = self.selector.eval(m)[1]
        for labels, stmt in self.arms:
            if sel in labels:
                stmt.run(m)
                return
        if self.default is not None:
            self.default.run(m)


class MakeList:
    def __init__(self, name, items):
        self.name, self.items = name, items

    def emit(self, ind):
        lines = [ind + "list(%s);" % self.name]
        if self.items:
            lines.append(ind + "add(%s, %s);" % (self.name, ", ".join(i.emit() for i in self.items)))
        return lines

    def run(self, m):
        m.tick()
        made = LiveList()
        m.frame.lists[self.name] = made
        # Every value is worked out before the first is added.
        made.items = [i.eval(m) for i in self.items]
        if made.items:
            made.cur = len(made.items) - 1


class AddList:
    def __init__(self, name, items):
        self.name, self.items = name, items

    def emit(self, ind):
        return [ind + "add(%s, %s);" % (self.name, ", ".join(i.emit() for i in self.items))]

    def run(self, m):
        m.tick()
        vals = [i.eval(m) for i in self.items]
        made = m.frame.lists[self.name]
        made.items.extend(vals)
        if made.items:
            made.cur = len(made.items) - 1


class SortList:
    def __init__(self, name, kind):
        self.name, self.kind = name, kind

    def emit(self, ind):
        return [ind + "sort(%s, 1, 1);" % self.name]

    def run(self, m):
        m.tick(3)
        items = m.frame.lists[self.name].items
        if self.kind == "n":
            nums = [v[1] for v in items]
            # Equal values may change places: a 0 beside a -0 would print differently.
            if any(x == 0.0 for x in nums) and any(str(x) == "-0.0" for x in nums):
                raise Reject("signed zeros sorted")
            items.sort(key=lambda v: v[1])
        else:
            items.sort(key=lambda v: v[0].encode())


class Foreach:
    # The walk stands on each element in turn: the list's cursor goes with it, and a walk
    # left early (BREAK, RETURN) leaves the cursor where it stood.
    def __init__(self, elem, name, body, break_cond):
        self.elem, self.name, self.body, self.break_cond = elem, name, body, break_cond

    def emit(self, ind):
        lines = [ind + "foreach (%s, %s)" % (self.elem.emit(), self.name)]
        if self.break_cond is not None:
            lines.append(ind + "  if (%s) break; end;" % strip_parens(self.break_cond.emit()))
        lines += emit_block(self.body, ind + "  ")
        lines.append(ind + "end;")
        return lines

    def run(self, m):
        walked = m.frame.lists[self.name]
        items = list(walked.items)
        for i, v in enumerate(items):
            m.tick()
            walked.cur = i
            self.elem.store(m, v)
            if self.break_cond is not None and truth(self.break_cond.eval(m)):
                break
            try:
                run_block(m, self.body)
            except BreakSignal:
                break


class BreakIf:
    # if (cond) break; end;  inside a loop body, after other statements.
    def __init__(self, cond):
        self.cond = cond

    def emit(self, ind):
        return [ind + "if (%s) break; end;" % strip_parens(self.cond.emit())]

    def run(self, m):
        m.tick()
        if truth(self.cond.eval(m)):
            raise BreakSignal()


class Return:
    def __init__(self, expr):
        self.expr = expr

    def emit(self, ind):
        return [ind + "return(%s);" % self.expr.emit()]

    def run(self, m):
        m.tick()
        raise ReturnSignal(self.expr.eval(m))


class MakeGlobal:
    def __init__(self, var, expr):
        self.var, self.expr = var, expr

    def emit(self, ind):
        return [ind + "%s = %s;" % (self.var.name, self.expr.emit()), ind + "global(%s);" % self.var.name]

    def run(self, m):
        m.tick()
        m.globals[self.var.name] = self.expr.eval(m)


class MakeObject:
    def __init__(self, cls, obj):
        self.cls, self.obj = cls, obj

    def emit(self, ind):
        return [ind + "#object %s %s;" % (self.cls.name, self.obj)]

    def run(self, m):
        m.tick()
        m.objects[self.obj] = {name: init.eval(m) for name, _, init in self.cls.members}
        m.frame.locals[self.obj + "$"] = ObjRef(m.objects[self.obj])


class MakeLocalObject(MakeObject):
    # A function's own #object: written as main's are, but seen only by its frame.
    def run(self, m):
        m.tick()
        m.frame.locals[self.obj + "$"] = ObjRef({name: init.eval(m) for name, _, init in self.cls.members})


# ---------------------------------------------------------------------------
# Procedures, classes, programs.


class Proc:
    def __init__(self, name, params, ret_kind, is_func, method_of=None):
        self.name = name
        self.params = params  # [(name, kind)]
        self.ret_kind = ret_kind  # 'n', 't' or None (a procedure)
        self.is_func = is_func
        self.method_of = method_of
        self.body = []
        self.forward = False
        self.public = True
        self.forcelink = False  # kept by the linker, so call() finds it by name

    def header(self):
        params = ", ".join(p for p, _ in self.params)
        if self.is_func:
            return "func %s(%s)" % (self.name, params)
        return "proc %s(%s)" % (self.name, params) if self.params else "proc %s" % self.name

    def emit(self, ind=""):
        head = self.header()
        if self.method_of:
            head = "public " + head
        if self.forcelink:
            head = "forcelink " + head
        return [ind + head] + emit_block(self.body, ind + "  ") + [ind + "end;"]


class ClassDef:
    def __init__(self, name):
        self.name = name
        self.members = []  # (name, kind, init expr)
        self.methods = []

    def emit(self):
        lines = ["#class %s" % self.name]
        lines.append("  public(%s);" % ", ".join(n for n, _, _ in self.members))
        for n, _, init in self.members:
            lines.append("  %s = %s;" % (n, init.emit()))
        for meth in self.methods:
            lines += meth.emit("  ")
        lines.append("#endclass")
        return lines


class Program:
    def __init__(self):
        self.procs = []  # in definition order
        self.classes = []
        self.main = None

    def emit(self):
        lines = ["// generated"]
        for p in self.procs:
            if p.forward:
                lines.append("forward " + p.header())
        order = self.order
        for item in order:
            if isinstance(item, ClassDef):
                lines += item.emit()
            else:
                lines += item.emit()
            lines.append("")
        lines += self.main.emit()
        return "\n".join(lines) + "\n"

    def run(self, budget):
        m = Machine(self, budget)
        m.call(self.main, [])
        return m.out


# ---------------------------------------------------------------------------
# The generator.

TEXT_LETTERS = "ghijklmnopqrstuvwyz"  # never read as a number (no digits, hex letters or x)


class Scope:
    """What the code being generated may name: variables by kind, lists, objects."""

    def __init__(self, gen, proc, locals_, lists=(), objects=(), members=()):
        self.gen, self.proc = gen, proc
        self.locals = dict(locals_)  # name -> kind
        self.lists = dict(lists)  # list name -> item kind
        self.objects = list(objects)
        self.members = list(members)  # (name, kind) of the running object's members
        self.self_methods = []  # methods of the running object's class it may call
        self.loop_depth = 0
        self.fresh = 0

    def variables(self, kind):
        out = [Var("local", n, k) for n, k in self.locals.items() if k == kind]
        out += [Var("shared", n, k) for n, k in self.gen.shared.items() if k == kind]
        out += [Var("global", n, k) for n, k in self.gen.globals.items() if k == kind]
        out += [Var("member", n, k) for n, k in self.members if k == kind]
        for obj, cls in self.objects:
            out += [Var("objmember", n, k, obj) for n, k, _ in cls.members if k == kind]
        return out


def protect_arguments(args):
    """A parameter is bound from the variable an argument names once every argument is
    pushed, not from the value read then: keep a named variable from standing before a
    call that may change it."""
    for i, a in enumerate(args):
        if isinstance(a, Var) and any(b.has_call() for b in args[i + 1:]):
            args[i] = Bin("+", a, Num(0)) if a.kind == "n" else Join(a, Str(""))
    return args


class Generator:
    def __init__(self, rng, features=FEATURES):
        self.r = rng
        self.feat = frozenset(features)
        self.shared = {}
        self.globals = {}
        self.label = 0
        self.callable = []  # procs a new body may call (defined earlier, or forward)
        self.obj_funcs = []  # functions whose first parameter is an object
        self.by_name = []  # forcelink procs, for call()
        self.countdown = None  # forcelink function counting k0% down, for call() conditions
        self.index = 0  # number of the next proc's name

    def on(self, feature):
        return feature in self.feat

    def chance(self, p):
        return self.r.random() < p

    def word(self, low=0):
        n = self.r.choice([0, 1, 1, 2, 2, 3, 4])
        return "".join(self.r.choice(TEXT_LETTERS) for _ in range(max(n, low)))

    def text_literal(self):
        if self.on("text_builtins") and self.chance(0.12):
            # Spaces for the trims, on either side or alone.
            w = self.word(1)
            return Str(self.r.choice([" " + w, w + " ", "  " + w + " ", "  ", w + " " + w]))
        return Str(self.word())

    def number_literal(self):
        c = self.r.random()
        if c < 0.7:
            return Num(self.r.randint(0, 12))
        if c < 0.85:
            return Num(-self.r.randint(1, 9))
        return Num(self.r.choice([0.5, 1.25, 2.5, -1.5, 0.1, 1e-7]))

    # -- expressions --

    def expr(self, kind, sc, depth):
        if kind == "n":
            return self.num_expr(sc, depth)
        return self.text_expr(sc, depth)

    def leaf(self, kind, sc):
        vs = sc.variables(kind)
        if vs and self.chance(0.6):
            return self.r.choice(vs)
        return self.number_literal() if kind == "n" else self.text_literal()

    def call_expr(self, kind, sc, depth):
        r = self.r
        cands = [p for p in self.callable if p.is_func and p.ret_kind == kind and p is not sc.proc
                 and not p.method_of and p is not getattr(sc.proc, "partner", None)]
        choices = []
        if cands:
            choices.append("func")
        meths = []
        for obj, cls in sc.objects:
            meths += [(obj, mm) for mm in cls.methods if mm.is_func and mm.ret_kind == kind]
        if meths:
            choices.append("method")
        objf = [p for p in self.obj_funcs if p.ret_kind == kind and p is not sc.proc] if sc.objects else []
        if objf:
            choices.append("objfunc")
        selfm = [mm for mm in sc.self_methods if mm.is_func and mm.ret_kind == kind]
        if selfm:
            choices.append("self")
        named = [p for p in self.by_name if p.is_func and p.ret_kind == kind and p is not sc.proc
                 and p is not getattr(sc.proc, "partner", None)]
        if named:
            choices.append("byname")
        if kind == "n" and self.on("eval_join") and depth < 3 and self.chance(0.1):
            return self.eval_expr(sc)
        if not choices:
            return None
        what = r.choice(choices)
        if what == "func":
            p = r.choice(cands)
            return Call(p, self.args(p, sc, depth))
        if what == "method":
            obj, p = r.choice(meths)
            return MethodCall(obj, p, self.args(p, sc, depth))
        if what == "objfunc":
            p = r.choice(objf)
            return Call(p, self.args(p, sc, depth))
        if what == "self":
            p = r.choice(selfm)
            return Call(p, self.args(p, sc, depth))
        if what == "byname":
            if kind == "n" and self.chance(0.1):
                return CallByName(None, [self.num_expr(sc, depth + 1)], "nosuch")
            p = r.choice(named)
            return CallByName(p, self.args(p, sc, depth))
        p = sc.proc
        return Call(p, self.args(p, sc, depth, recursing=True))

    def eval_stmts(self, sc):
        """Statements for eval or run: they name only '%' variables."""
        r = self.r
        out = []
        names = list(self.shared)
        if not self.on("eval_join"):
            # A text stored by eval may free one that a join further out still waits with.
            names = [n for n in names if self.shared[n] == "n"]
        for _ in range(r.randint(1, 2)):
            name = r.choice(names)
            v = Var("shared", name, self.shared[name])
            if v.kind == "n":
                out.append(Assign(v, Bin("+", v, Num(r.randint(1, 9)))))
            elif self.chance(0.5):
                out.append(Assign(v, self.text_literal()))
            else:
                out.append(Assign(v, Join(v, Str(self.word(1)))))
        if self.chance(0.2):
            name = r.choice(list(self.shared))
            out.append(Show(self.label_text(), [Var("shared", name, self.shared[name])]))
        return out

    def eval_expr(self, sc):
        r = self.r
        if self.chance(0.2):
            return Eval(self.eval_stmts(sc), 0, "run")
        return Eval(self.eval_stmts(sc), r.choice([0, 0, -1]))

    def args(self, p, sc, depth, recursing=False):
        out = []
        for i, (pname, pkind) in enumerate(p.params):
            if pkind == "o":
                out.append(ObjArg(self.r.choice(sc.objects)[0]))
                continue
            if i == 0 and getattr(p, "recursive", False):
                if recursing:
                    out.append(Bin("-", Var("local", "d%", "n"), Num(1)))
                else:
                    out.append(Num(self.r.randint(0, 3)))
                continue
            out.append(self.expr(pkind, sc, depth + 1))
        return protect_arguments(out)

    def sought(self):
        return Str(self.r.choice(TEXT_LETTERS) + (self.r.choice(TEXT_LETTERS) if self.chance(0.3) else ""))

    def extra_num(self, sc, depth):
        r = self.r
        opts = []
        if self.on("text_builtins"):
            opts += ["rpos", "cpos", "npos"]
        if self.on("conversions"):
            opts += ["int", "int", "toint", "div", "div"]
        if not opts:
            return None
        what = r.choice(opts)
        if what == "rpos":
            sought = self.sought() if self.chance(0.8) else self.text_expr(sc, depth + 2)
            return Builtin("rpos", [sought, self.text_expr(sc, depth + 1)])
        if what == "cpos":
            return Builtin("cpos", [self.sought(), self.text_expr(sc, depth + 1)])
        if what == "npos":
            return Builtin("npos", [self.sought(), self.text_expr(sc, depth + 1), Num(r.randint(0, 2))])
        if what == "int":
            c = r.random()
            if c < 0.35:
                inner = Builtin("str", [self.num_expr(sc, depth + 1)])
            elif c < 0.7:
                inner = Join(self.num_expr(sc, depth + 2), self.num_expr(sc, depth + 2))
            else:
                inner = self.text_expr(sc, depth + 1)
            return Builtin("int", [inner])
        if what == "toint":
            return Builtin("ToInt", [self.num_expr(sc, depth + 1)])
        return Bin("/", self.num_expr(sc, depth + 1), Num(r.choice([2, 3, 4, 8, 0.5, -3, 7])))

    def extra_text(self, sc, depth):
        r = self.r
        opts = []
        if self.on("text_builtins"):
            opts += ["upper", "lower", "capitalize", "swapcase", "reverse", "trim", "ltrim", "rtrim",
                     "lpad", "rpad", "mid"]
        if self.on("conversions"):
            opts += ["str", "plus", "plus"]
        if not opts:
            return None
        what = r.choice(opts)
        if what in ("lpad", "rpad"):
            fill = Str(r.choice("*_#gh")) if self.chance(0.7) else Num(r.choice([42, 95, 103]))
            return Builtin(what, [self.text_expr(sc, depth + 1), fill, Num(r.randint(-1, 3))])
        if what == "mid":
            return Builtin("mid", [self.text_expr(sc, depth + 1), Num(r.randint(-2, 4)),
                                   Num(r.choice([-1, -1, 0, 1, 2, 5]))])
        if what == "str":
            return Builtin("str", [self.num_expr(sc, depth + 1)])
        if what == "plus":
            c = r.random()
            if c < 0.4:
                left = self.text_expr(sc, depth + 1)
            elif c < 0.7:
                left = Builtin("str", [self.num_expr(sc, depth + 1)])
            else:
                left = Join(self.num_expr(sc, depth + 2), Str(""))
            c = r.random()
            if c < 0.3:
                right = self.number_literal()
            elif c < 0.55:
                right = self.num_expr(sc, depth + 1)
            elif c < 0.8:
                right = self.text_literal()
            else:
                right = Builtin("str", [self.num_expr(sc, depth + 1)])
            # Joined to a text: the sum is printed, a text stays one.
            return Join(Str("<"), MixedPlus(left, right))
        return Builtin(what, [self.text_expr(sc, depth + 1)])

    def num_expr(self, sc, depth):
        r = self.r
        if depth > 3:
            return self.leaf("n", sc)
        if self.feat and depth < 3 and self.chance(0.1):
            e = self.extra_num(sc, depth)
            if e is not None:
                return e
        c = r.random()
        if c < 0.25:
            return self.leaf("n", sc)
        if c < 0.45:
            op = r.choice(["+", "-", "*", "+", "-"])
            if op == "*":
                return Bin("*", self.num_expr(sc, depth + 1), self.number_literal())
            return Bin(op, self.num_expr(sc, depth + 1), self.num_expr(sc, depth + 1))
        if c < 0.52:
            return Bin(r.choice(["mod", "div"]), self.num_expr(sc, depth + 1),
                       r.choice([self.number_literal(), self.num_expr(sc, depth + 1)]))
        if c < 0.62:
            return Bin(r.choice(["<", "<=", ">", ">=", "==", "<>"]), self.num_expr(sc, depth + 1),
                       self.num_expr(sc, depth + 1))
        if c < 0.67:
            if r.random() < 0.3:
                return Not(self.num_expr(sc, depth + 1))
            return Bin(r.choice(["and", "or"]), self.num_expr(sc, depth + 1), self.num_expr(sc, depth + 1))
        if c < 0.72:
            return TextCmp(r.choice(["==", "<>", "<", ">"]), self.text_expr(sc, depth + 1),
                           self.text_expr(sc, depth + 1))
        if c < 0.78:
            if r.random() < 0.5:
                return Builtin("length", [self.text_expr(sc, depth + 1)])
            return Builtin("pos", [self.text_expr(sc, depth + 2), self.text_expr(sc, depth + 1)])
        if c < 0.81 and sc.lists:
            return ListCount(r.choice(list(sc.lists)))
        call = self.call_expr("n", sc, depth)
        if call is not None:
            return call
        return self.leaf("n", sc)

    def text_expr(self, sc, depth):
        r = self.r
        if depth > 3:
            return self.leaf("t", sc)
        if self.feat and depth < 3 and self.chance(0.15):
            e = self.extra_text(sc, depth)
            if e is not None:
                return e
        c = r.random()
        if c < 0.3:
            return self.leaf("t", sc)
        if c < 0.6:
            left = self.expr(r.choice("nt"), sc, depth + 1)
            right = self.expr(r.choice("nt"), sc, depth + 1)
            if r.random() < 0.3:
                # A variable joined with a call that may store into it.
                vs = sc.variables("t") + sc.variables("n")
                if vs:
                    left = r.choice(vs)
                call = self.call_expr(r.choice("nt"), sc, depth + 1)
                if call is not None:
                    right = call
            return Join(left, right)
        if c < 0.68:
            return Builtin("mid", [self.text_expr(sc, depth + 1), Num(r.randint(0, 4)), Num(r.randint(0, 4))])
        call = self.call_expr("t", sc, depth)
        if call is not None:
            return call
        return self.leaf("t", sc)

    def cond(self, sc):
        r = self.r
        c = r.random()
        opts = []
        if self.on("builtin_stmts"):
            opts += ["builtin"]
        if self.on("call_cond") and self.by_name:
            opts += ["byname"]
        if self.on("eval"):
            opts += ["eval"]
        if c < 0.12 and opts:
            # The whole condition a built-in's, call()'s or eval's result.
            what = r.choice(opts)
            if what == "builtin":
                name = r.choice(["length", "pos", "rpos"])
                if name == "length":
                    return Builtin("length", [self.text_expr(sc, 2)])
                return Builtin(name, [self.sought(), self.text_expr(sc, 2)])
            if what == "byname":
                named = [p for p in self.by_name if p is not sc.proc
                         and p is not getattr(sc.proc, "partner", None) and p.ret_kind != "t"]
                if named and self.chance(0.85):
                    p = r.choice(named)
                    return CallByName(p, self.args(p, sc, 1))
                return CallByName(None, [Num(1)], "nosuch")
            return Eval(self.eval_stmts(sc), r.choice([0, -1]))
        if c < 0.25:
            call = self.call_expr("n", sc, 1)
            if isinstance(call, CallByName) and not self.on("call_cond"):
                call = None
            if call is not None:
                return call  # the whole condition a call's result
        if c < 0.35:
            vs = sc.variables("n")
            if vs:
                return r.choice(vs)
        return Bin(r.choice(["<", "<=", ">", ">=", "==", "<>"]), self.num_expr(sc, 2), self.num_expr(sc, 2))

    # -- statements --

    def assignable(self, kind, sc):
        vs = [v for v in sc.variables(kind) if not (v.cat == "local" and v.name == "d%")]
        vs = [v for v in vs if not (v.cat == "local" and v.name in [p for p, _ in (sc.proc.params if sc.proc else [])]
                                    and self.chance(0.7))]
        return vs

    def new_local(self, sc, kind):
        sc.fresh += 1
        name = "%s%d$" % ("t" if kind == "t" else "v", sc.fresh)
        return name

    def label_text(self):
        self.label += 1
        return "L%d " % self.label

    def bare_call(self, sc):
        """A call whose result, if any, is dropped: of any kind the scope may make."""
        r = self.r
        kinds = []
        procs = [p for p in self.callable if not p.method_of and p is not sc.proc
                 and p is not getattr(sc.proc, "partner", None)]
        if procs:
            kinds.append("proc")
        meths = [(o, mm) for o, cls in sc.objects for mm in cls.methods]
        if sc.proc is not None and sc.proc.is_func and not self.on("method_stmt_in_func"):
            # Inside a function only procedure methods, when function methods are left out.
            meths = [(o, mm) for o, mm in meths if not mm.is_func]
        if meths:
            kinds += ["method", "method"]
        objf = [p for p in self.obj_funcs if p is not sc.proc] if sc.objects else []
        if objf:
            kinds.append("objfunc")
        if sc.self_methods:
            kinds += ["self", "self"]
        named = [p for p in self.by_name if p is not sc.proc and p is not getattr(sc.proc, "partner", None)]
        if named:
            kinds.append("byname")
        if self.on("builtin_stmts"):
            kinds.append("builtin")
        if self.on("eval"):
            kinds.append("eval")
        if not kinds:
            return None
        if set(kinds) <= {"proc", "method"} and not sc.self_methods and not self.feat:
            # Without the added shapes: a procedure when there is one, else a method.
            what = "proc" if procs else "method"
        else:
            what = r.choice(kinds)
        if what == "proc":
            p = r.choice(procs)
            return Call(p, self.args(p, sc, 1))
        if what == "method":
            o, mm = r.choice(meths)
            return MethodCall(o, mm, self.args(mm, sc, 1))
        if what == "objfunc":
            p = r.choice(objf)
            return Call(p, self.args(p, sc, 1))
        if what == "self":
            p = r.choice(sc.self_methods)
            return Call(p, self.args(p, sc, 1))
        if what == "byname":
            p = r.choice(named)
            return CallByName(p, self.args(p, sc, 1))
        if what == "builtin":
            name = r.choice(["upper", "length", "pos", "trim", "str", "reverse"])
            if name == "pos":
                return Builtin("pos", [self.sought(), self.text_expr(sc, 2)])
            if name == "str":
                return Builtin("str", [self.num_expr(sc, 2)])
            return Builtin(name, [self.text_expr(sc, 2)])
        return Eval(self.eval_stmts(sc), r.choice([0, -1]))

    def extra_stmt(self, sc, depth):
        r = self.r
        opts = []
        if self.on("text_builtins"):
            opts += ["edit", "edit"]
        if self.on("builtin_stmts") and self.on("text_builtins"):
            opts += ["drain"]
        if self.on("call_cond") and self.countdown is not None and self.countdown is not sc.proc:
            opts += ["callwhile"]
        if self.on("eval_join"):
            opts += ["evaljoin", "evaljoin"]
        if self.on("object_params") and sc.objects:
            opts += ["objcall"]
        if self.on("self_calls") and sc.self_methods:
            opts += ["selfwhile"]
        if not opts:
            return None
        what = r.choice(opts)
        if what == "edit":
            targets = [v for v in self.assignable("t", sc) if v.cat != "objmember"]
            if not targets:
                return None
            v = r.choice(targets)
            op = r.choice(["delete", "insert", "replace"])
            if op == "delete":
                return [Edit(op, v, [Num(r.randint(-1, 4)), Num(r.randint(-1, 3))])]
            if op == "insert":
                return [Edit(op, v, [self.text_literal(), Num(r.randint(-2, 5))])]
            return [Edit(op, v, [self.sought(), self.text_literal()])]
        if what == "drain":
            # A built-in's result as the whole WHILE condition, moved on by the body.
            name = self.new_local(sc, "t")
            n = self.new_local(sc, "n")
            v, k = Var("local", name, "t"), Var("local", n, "n")
            e = self.text_expr(sc, 1)
            sc.locals[name], sc.locals[n] = "t", "n"
            body = [Edit("delete", v, [Num(0), Num(r.randint(1, 2))]), Step(k, "++")]
            return [Assign(v, e), Assign(k, Num(0)), While(Builtin("length", [v]), body),
                    Show(self.label_text(), [k, Str(" "), v])]
        if what == "callwhile":
            k = Var("shared", "k0%", "n")
            n = self.new_local(sc, "n")
            w = Var("local", n, "n")
            sc.locals[n] = "n"
            body = [Step(w, "++")]
            if self.chance(0.4):
                body += self.block(sc, 3, 1)
            return [Assign(k, Num(r.randint(0, 3))), Assign(w, Num(0)),
                    While(CallByName(self.countdown, []), body), Show(self.label_text(), [w])]
        if what == "evaljoin":
            # A '%' name read by a join or a built-in that waits while eval or run stores
            # a new text into it.
            texts = [n for n, k in self.shared.items() if k == "t"]
            name = r.choice(texts)
            g = Var("shared", name, "t")
            stmts = [Assign(g, Str(self.word(1)) if self.chance(0.5) else Join(g, Str(self.word(1))))]
            if self.chance(0.3):
                stmts += self.eval_stmts(sc)
            ev = Eval(stmts, r.choice([0, 0, -1])) if self.chance(0.8) else Eval(stmts, 0, "run")
            c = r.random()
            if c < 0.4:
                targets = self.assignable("t", sc)
                if targets:
                    return [Assign(r.choice(targets), Join(g, ev)), Show(self.label_text(), [g])]
            if c < 0.7:
                return [Show(self.label_text(), [Join(Str(self.word(1)), Join(g, ev)), Str(" "), g])]
            return [Show(self.label_text(), [g, ev, Str(" "), g])]
        if what == "objcall":
            return self.object_call_stmt(sc, depth)
        # A method counting its own object down as the whole WHILE condition.
        down = sc.self_methods[0]
        n = self.new_local(sc, "n")
        w = Var("local", n, "n")
        sc.locals[n] = "n"
        body = [Step(w, "++")]
        if self.chance(0.4):
            body += self.block(sc, 3, 1)
        return [Assign(Var("member", down.counter, "n"), Num(r.randint(0, 3))), Assign(w, Num(0)),
                While(Call(down, []), body), Show(self.label_text(), [w])]

    def object_call_stmt(self, sc, depth):
        """A method of an object in scope called bare, as the whole IF condition, as the
        whole WHILE condition, or for its value."""
        r = self.r
        obj, cls = r.choice(sc.objects)
        c = r.random()
        if c < 0.35:
            meths = list(cls.methods)
            if sc.proc is not None and sc.proc.is_func and not self.on("method_stmt_in_func"):
                meths = [mm for mm in meths if not mm.is_func]
            if meths:
                mm = r.choice(meths)
                return [CallStmt(MethodCall(obj, mm, self.args(mm, sc, 1)))]
        if c < 0.6:
            meths = [mm for mm in cls.methods if mm.is_func]
            mm = r.choice(meths)
            then = self.block(sc, depth + 1, 1)
            other = self.block(sc, depth + 1, 1) if self.chance(0.5) else []
            return [If(MethodCall(obj, mm, self.args(mm, sc, 1)), then, other)]
        if c < 0.8:
            down = cls.countdown
            n = self.new_local(sc, "n")
            w = Var("local", n, "n")
            sc.locals[n] = "n"
            return [Assign(Var("objmember", down.counter, "n", obj), Num(r.randint(0, 3))), Assign(w, Num(0)),
                    While(MethodCall(obj, down, []), [Step(w, "++")]), Show(self.label_text(), [w])]
        kind = r.choice("nt")
        call = None
        meths = [mm for mm in cls.methods if mm.is_func and mm.ret_kind == kind]
        if meths:
            mm = r.choice(meths)
            call = MethodCall(obj, mm, self.args(mm, sc, 1))
        if call is None:
            return []
        name = self.new_local(sc, kind)
        sc.locals[name] = kind
        return [Assign(Var("local", name, kind), call)]

    def stmt(self, sc, depth, budget):
        r = self.r
        if self.feat and depth <= 2 and self.chance(0.15):
            s = self.extra_stmt(sc, depth)
            if s:
                return s
        c = r.random()
        if depth > 2:
            c = r.random() * 0.45
        if c < 0.16:
            kind = r.choice("nt")
            targets = self.assignable(kind, sc)
            if targets and r.random() < 0.7:
                return [Assign(r.choice(targets), self.expr(kind, sc, 1))]
            # A new local, named once its value is made.
            name = self.new_local(sc, kind)
            e = self.expr(kind, sc, 1)
            sc.locals[name] = kind
            return [Assign(Var("local", name, kind), e)]
        if c < 0.22:
            targets = self.assignable("n", sc)
            if targets:
                t = r.choice(targets)
                if r.random() < 0.5:
                    return [Step(t, r.choice(["++", "--"]))]
                op = r.choice(["+=", "-=", "*="])
                e = self.number_literal() if op == "*=" else self.num_expr(sc, 2)
                return [Compound(t, op, e)]
        if c < 0.34:
            n = r.randint(1, 3)
            return [Show(self.label_text(), [self.expr(r.choice("nt"), sc, 1) for _ in range(n)])]
        if c < 0.42:
            call = self.bare_call(sc)
            if call is not None:
                return [CallStmt(call)]
        if c < 0.55:
            then = self.block(sc, depth + 1, 2)
            other = self.block(sc, depth + 1, 2) if r.random() < 0.5 else []
            return [If(self.cond(sc), then, other)]
        if c < 0.63:
            return self.for_loop(sc, depth)
        if c < 0.69:
            return self.while_loop(sc, depth)
        if c < 0.75:
            sel = self.num_expr(sc, 2)
            labels = list(range(0, 6))
            r.shuffle(labels)
            arms = []
            for i in range(r.randint(1, 3)):
                ls = sorted(labels[i * 2: i * 2 + r.randint(1, 2)])
                if ls:
                    arms.append(([float(l) for l in ls], self.simple_stmt(sc)))
            default = self.simple_stmt(sc) if r.random() < 0.6 else None
            return [Case(sel, arms, default)]
        if c < 0.86:
            return self.list_work(sc, depth)
        return [Show(self.label_text(), [self.expr(r.choice("nt"), sc, 1)])]

    def simple_stmt(self, sc):
        r = self.r
        c = r.random()
        if c < 0.5:
            return Show(self.label_text(), [self.expr(r.choice("nt"), sc, 2)])
        targets = self.assignable("n", sc)
        if targets:
            return Assign(r.choice(targets), self.num_expr(sc, 2))
        return Show(self.label_text(), [self.expr(r.choice("nt"), sc, 2)])

    def top_block(self, sc, depth, size):
        out = []
        for _ in range(self.r.randint(1, size)):
            out += self.stmt(sc, depth, size)
        return out

    def block(self, sc, depth, size):
        # A local or list made inside a nested block is not named after it: the block may
        # not run.
        saved_locals, saved_lists = dict(sc.locals), dict(sc.lists)
        out = self.top_block(sc, depth, size)
        sc.locals, sc.lists = saved_locals, saved_lists
        return out

    def loop_var(self, sc):
        if self.chance(0.2) and self.gen_shared_counter:
            name = self.r.choice(self.gen_shared_counter)
            return Var("shared", name, "n")
        name = self.new_local(sc, "n")
        sc.locals[name] = "n"
        return Var("local", name, "n")

    def for_loop(self, sc, depth):
        r = self.r
        var = self.loop_var(sc)
        start = Num(r.randint(-2, 4))
        limit = Num(r.randint(-2, 5))
        step = None
        if r.random() < 0.4:
            step = Num(r.choice([1, 2, 3, -1, -2, 0.5]))
        body = self.block(sc, depth + 1, 2)
        body = [s for s in body if not (isinstance(s, Assign) and s.target.name == var.name)]
        return [For(var, start, limit, step, body)]

    def while_loop(self, sc, depth):
        r = self.r
        if sc.objects and r.random() < 0.4:
            # A method's result as the whole condition, counting down to 0.
            obj, cls = r.choice(sc.objects)
            down = cls.countdown
            body = self.block(sc, depth + 1, 2)
            return [Assign(Var("objmember", down.counter, "n", obj), Num(r.randint(1, 4))),
                    While(MethodCall(obj, down, []), body)]
        name = self.new_local(sc, "n")
        sc.locals[name] = "n"
        v = Var("local", name, "n")
        body = [Step(v, "++")] + self.block(sc, depth + 1, 2)
        return [Assign(v, Num(0)), While(Bin("<", v, Num(r.randint(0, 3))), body)]

    def list_work(self, sc, depth):
        r = self.r
        if self.on("object_lists") and sc.objects and self.chance(0.3):
            return self.object_list(sc, depth)
        name = "l%d$" % (len(sc.lists) + 1)
        kind = r.choice("nt")
        items = [self.expr(kind, sc, 2) for _ in range(r.randint(0, 4))]
        sc.lists[name] = kind
        out = [MakeList(name, items)]
        size = len(items)
        if r.random() < 0.3:
            out.append(AddList(name, [self.expr(kind, sc, 2)]))
            size += 1
        if r.random() < 0.5:
            out.append(SortList(name, kind))
        if self.on("cursors") and self.chance(0.5):
            for _ in range(r.randint(1, 3)):
                stmt, size = self.cursor_stmt(sc, name, kind, size)
                out.append(stmt)
        elem = Var("local", self.new_local(sc, kind), kind)
        sc.locals[elem.name] = kind
        acc = Var("local", self.new_local(sc, "t"), "t")
        sc.locals[acc.name] = "t"
        body = [Assign(acc, Join(acc, Join(elem, Str(","))))]
        if r.random() < 0.5:
            body += self.block(sc, depth + 1, 2)
        exits = self.on("foreach_exits")
        if exits and self.chance(0.3):
            # BREAK after some of the body, more of the body after it.
            body.append(BreakIf(self.elem_cond(elem, kind, acc)))
            body.append(Assign(acc, Join(acc, Str(";"))))
        if sc.proc is not None and sc.proc.is_func and r.random() < (0.35 if exits else 0.2):
            # A function left from inside the walk: a later walk of the same loop starts anew.
            body.append(If(self.elem_cond(elem, kind, acc) if exits else
                           Bin("==", elem, elem) if kind == "n" else
                           Bin(">", Builtin("length", [acc]), Num(r.randint(0, 6))),
                           [Return(self.expr(sc.proc.ret_kind, sc, 2))], []))
        del sc.locals[elem.name]  # an empty list leaves it unset
        brk = None
        if r.random() < 0.3:
            brk = Bin("==", ListCount(name), Num(r.randint(0, 4))) if r.random() < 0.3 else \
                Bin(">", Builtin("length", [acc]), Num(r.randint(0, 6)))
        walk = [Assign(acc, Str("")), Foreach(elem, name, body, brk),
                Show(self.label_text(), [acc, Str(" n"), ListCount(name)])]
        if self.on("cursors") and size > 0 and self.chance(0.4):
            # Where the walk left the cursor: on the last element, or where it broke off.
            walk.append(Show(self.label_text(), [Str("at "), ListOp("lpos", name), Str(" "), ListValue(name)]))
        if exits and depth <= 2 and self.chance(0.3):
            # The walk inside a counted loop, which may itself be left by BREAK.
            var = self.loop_var(sc)
            if self.chance(0.3):
                walk.append(BreakIf(Bin(">", Builtin("length", [acc]), Num(r.randint(0, 8)))))
            walk = [For(var, Num(1), Num(r.randint(1, 3)), None, walk)]
        return out + walk

    def elem_cond(self, elem, kind, acc):
        r = self.r
        if kind == "n":
            return Bin(r.choice([">", "<", "=="]), elem, Num(r.randint(-2, 8)))
        if self.chance(0.5):
            return Bin(">=", Builtin("pos", [self.sought(), elem]), Num(0))
        return Bin(">", Builtin("length", [acc]), Num(r.randint(0, 6)))

    def cursor_stmt(self, sc, name, kind, size):
        """A move of the list's cursor, a change at it, or a look at it; with the number of
        elements after it."""
        r = self.r
        c = r.random()
        if c < 0.3:
            ops = [ListOp(r.choice(["first", "last", "next", "prev", "next"]), name)]
            if self.chance(0.5):
                ops.append(ListOp("goto", name, Num(r.randint(-1, 5))))
            shown = []
            for op in ops:
                shown += [op, Str(" ")]
            shown.append(ListOp("lpos", name))
            if size > 0:
                shown += [Str(" "), ListValue(name)]
            return Show(self.label_text(), shown), size
        if c < 0.5:
            values = [self.expr(kind, sc, 2) for _ in range(r.randint(1, 2))]
            return ListEdit("ins", name, values), size + len(values)
        if c < 0.65 and size > 0:
            then = ListOp(r.choice(["first", "last", "goto"]), name,
                          Num(r.randint(0, 4)) if self.chance(0.4) else None)
            if then.op != "goto":
                then.index = None
            elif then.index is None:
                then.index = Num(1)
            return ListEdit("del", name, [], then), size - 1
        if c < 0.8 and size > 0:
            return ListEdit("set", name, [self.expr(kind, sc, 2)]), size
        return Show(self.label_text(), [Str("count "), ListCount(name), Str(" at "), ListOp("lpos", name)]), size

    def object_list(self, sc, depth):
        """Objects held in a list, walked: members read and methods called through the
        element, which stands for the same object."""
        r = self.r
        name = "l%d$" % (len(sc.lists) + 1)
        sc.lists[name] = "o"
        objs = [r.choice(sc.objects) for _ in range(r.randint(1, 3))]
        cls = objs[0][1]
        out = [MakeList(name, [ObjArg(o) for o, _ in objs])]
        q = "q%d" % (len(sc.lists))
        acc = Var("local", self.new_local(sc, "t"), "t")
        sc.locals[acc.name] = "t"
        sc.objects.append((q, cls))
        body = [Assign(acc, Join(acc, Join(Var("objmember", "m0$", "n", q), Str(","))))]
        meths = [mm for mm in cls.methods if mm.is_func]
        if meths and self.chance(0.6):
            mm = r.choice(meths)
            body.append(Assign(acc, Join(acc, MethodCall(q, mm, self.args(mm, sc, 2)))))
        if self.chance(0.5):
            body += self.block(sc, depth + 1, 1)
        if self.on("foreach_exits") and self.chance(0.3):
            body.append(BreakIf(Bin(">", Builtin("length", [acc]), Num(r.randint(0, 6)))))
        sc.objects.pop()
        out += [Assign(acc, Str("")), Foreach(Var("local", q + "$", "o"), name, body, None),
                Show(self.label_text(), [acc, Str(" n"), ListCount(name)])]
        return out

    # -- procedures --

    def make_proc(self, name, is_func, recursive=False, method_of=None):
        r = self.r
        params = []
        if recursive:
            params.append(("d%", "n"))
        for i in range(r.randint(0 if not recursive else 0, 2)):
            kind = r.choice("nt")
            params.append((("a%d%%" if kind == "n" else "s%d$") % (i + 1), kind))
        ret = r.choice("nt") if is_func else None
        p = Proc(name, params, ret, is_func, method_of)
        p.recursive = recursive
        return p

    def fill_body(self, p, members=()):
        r = self.r
        locals_ = {n: k for n, k in p.params}
        sc = Scope(self, p, locals_, members=members)
        body = []
        if p.is_func and r.random() < 0.2:
            body.append(If(self.cond(sc), [Return(self.expr(p.ret_kind, sc, 2))], []))
        if r.random() < 0.15:
            # A local read before its first store: each call finds it empty.
            body.append(Show(self.label_text(), [Str("fresh "), Var("local", "fresh$", "n")]))
            body.append(Assign(Var("local", "fresh$", "n"), self.num_expr(sc, 2)))
            sc.locals["fresh$"] = "n"
        if getattr(p, "recursive", False):
            saved = dict(sc.locals), dict(sc.lists)
            d = Var("local", "d%", "n")
            inner = self.block(sc, 2, 2)
            before = []
            if r.random() < 0.5 and self.gen_shared_counter:
                # A shared name set before the recursive call is read after it.
                s = Var("shared", r.choice(self.gen_shared_counter), "n")
                before = [Assign(s, d)]
            rec = Call(p, self.args(p, sc, 1, recursing=True))
            if p.ret_kind:
                t = Var("local", self.new_local(sc, p.ret_kind), p.ret_kind)
                if r.random() < 0.4:
                    # The recursive call inside an expression.
                    rec = Bin("+", rec, self.num_expr(sc, 2)) if p.ret_kind == "n" else \
                        Join(self.text_expr(sc, 2), rec)
                sc.locals[t.name] = p.ret_kind
                rec_stmt = [Assign(t, rec)]
            else:
                rec_stmt = [CallStmt(rec)]
            if r.random() < 0.3:
                # Each level walks its own list and recurses from inside the walk.
                lname = "l%d$" % (len(sc.lists) + 1)
                sc.lists[lname] = "n"
                elem = Var("local", self.new_local(sc, "n"), "n")
                sc.locals[elem.name] = "n"
                items = [Num(r.randint(0, 9)) for _ in range(r.randint(1, 2))]
                show = Show(self.label_text(), [Str("at "), d, Str(" "), elem])
                rec_stmt = [MakeList(lname, items), Foreach(elem, lname, [show] + rec_stmt + [show], None)]
            sc.locals, sc.lists = saved
            body += [If(Bin(">", d, Num(0)), before + rec_stmt + inner, self.block(sc, 2, 1))]
            if r.random() < 0.5:
                body += self.top_block(sc, 1, 2)
        else:
            body += self.top_block(sc, 1, 3)
        if p.is_func:
            if r.random() < 0.9:
                body.append(Return(self.expr(p.ret_kind, sc, 1)))
            elif p.ret_kind == "t":
                body.append(Return(self.expr(p.ret_kind, sc, 1)))
        p.body = body

    def program(self):
        r = self.r
        prog = Program()
        order = []
        # Shared '%' names, set in main first.
        self.shared = {}
        for i in range(r.randint(1, 3)):
            self.shared["c%d%%" % i] = "n"
        for i in range(r.randint(1, 2)):
            self.shared["w%d%%" % i] = "t"
        self.gen_shared_counter = [n for n, k in self.shared.items() if k == "n"]
        self.globals = {}
        if r.random() < 0.6:
            self.globals["g0$"] = r.choice("nt")
        self.callable = []
        self.obj_funcs, self.by_name, self.countdown = [], [], None
        if self.on("call_cond"):
            # Counts a '%' name down and gives it: the whole condition of a WHILE, through call().
            k = Var("shared", "k0%", "n")
            down = Proc("f90", [], "n", True)
            down.body = [Assign(k, Bin("-", k, Num(1))), Return(k)]
            down.forcelink = True
            self.countdown = down
            order.append(down)
            prog.procs.append(down)
        nprocs = r.randint(2, 5)
        i = 0
        while i < nprocs:
            c = r.random()
            if c < 0.2 and i + 1 < nprocs:
                # Mutual recursion through a forward declaration.
                a = self.make_proc("f%d" % i, True, recursive=True)
                b = self.make_proc("f%d" % (i + 1), True, recursive=True)
                b.ret_kind = a.ret_kind
                b.params = list(a.params)
                a.forward = True
                a.partner, b.partner = b, a
                self.callable.append(a)
                self.fill_mutual(b, a)
                self.callable.append(b)
                self.fill_mutual(a, b)
                order += [b, a]
                prog.procs += [a, b]
                i += 2
                continue
            is_func = r.random() < 0.75
            p = self.make_proc("f%d" % i if is_func else "p%d" % i, is_func, recursive=r.random() < 0.4)
            self.fill_body(p)
            self.callable.append(p)
            if self.on("call_by_name") and self.chance(0.5):
                p.forcelink = True
                self.by_name.append(p)
            order.append(p)
            prog.procs.append(p)
            i += 1
        if r.random() < (0.75 if self.on("object_params") or self.on("object_lists") else 0.6):
            cls = self.make_class(prog)
            order.append(cls)
            if self.on("object_params"):
                for j in range(r.randint(1, 2)):
                    p = self.make_obj_func("f%d" % (91 + j), cls)
                    self.obj_funcs.append(p)
                    order.append(p)
                    prog.procs.append(p)
        prog.order = order
        # main
        main = Proc("main", [], None, False)
        sc = Scope(self, main, {})
        body = []
        for n, k in self.shared.items():
            body.append(Assign(Var("shared", n, k), self.leaf_literal(k)))
        for n, k in self.globals.items():
            body.append(MakeGlobal(Var("global", n, k), self.leaf_literal(k)))
        for cls in prog.classes:
            for j in range(r.randint(1, 2)):
                obj = "o%d" % (j + 1)
                body.append(MakeObject(cls, obj))
                sc.objects.append((obj, cls))
        body += self.top_block(sc, 0, 8)
        body.append(Show(self.label_text(), [Var("shared", n, k) for n, k in self.shared.items()]))
        main.body = body
        prog.main = main
        return prog

    def make_obj_func(self, name, cls):
        """A function given an object: it calls the object's methods bare, as whole
        conditions and for values, and those of an object of its own."""
        r = self.r
        params = [("ob$", "o")]
        if self.chance(0.5):
            params.append(("a1%", "n"))
        p = Proc(name, params, r.choice("nt"), True)
        sc = Scope(self, p, {n: k for n, k in params if k != "o"}, objects=[("ob", cls)])
        body = []
        if self.chance(0.5):
            body.append(MakeLocalObject(cls, "lo"))
            sc.objects.append(("lo", cls))
        for _ in range(r.randint(1, 3)):
            body += self.object_call_stmt(sc, 1)
        body += self.top_block(sc, 1, 2)
        body.append(Return(self.expr(p.ret_kind, sc, 1)))
        p.body = body
        return p

    def leaf_literal(self, kind):
        return self.number_literal() if kind == "n" else self.text_literal()

    def fill_mutual(self, p, other):
        # p calls other with d% - 1 below 0
        r = self.r
        sc = Scope(self, p, {n: k for n, k in p.params})
        d = Var("local", "d%", "n")
        args = protect_arguments([Bin("-", d, Num(1))] + [self.expr(k, sc, 2) for _, k in p.params[1:]])
        t = Var("local", self.new_local(sc, p.ret_kind), p.ret_kind)
        sc.locals[t.name] = p.ret_kind
        body = [Assign(t, self.leaf_literal(p.ret_kind))]
        body.append(If(Bin(">", d, Num(0)), [Assign(t, Call(other, args))] + self.block(sc, 2, 1), []))
        body += self.top_block(sc, 1, 2)
        body.append(Return(self.expr(p.ret_kind, sc, 1) if r.random() < 0.3 else Join(t, d) if p.ret_kind == "t"
                           else Bin("+", t, d)))
        p.body = body

    def make_class(self, prog):
        r = self.r
        cls = ClassDef("K%d" % len(prog.classes))
        cls.members = [("m0$", "n", Num(r.randint(0, 9))), ("m1$", "t", self.text_literal()),
                       ("cnt$", "n", Num(0))]
        members = [(n, k) for n, k, _ in cls.members]
        # Counts its member down and gives it: the whole condition of a WHILE.
        down = Proc("down", [], "n", True, method_of=cls)
        down.body = [Step(Var("member", "cnt$", "n"), "--"), Return(Var("member", "cnt$", "n"))]
        down.counter = "cnt$"
        cls.countdown = down
        cls.methods.append(down)
        for j in range(r.randint(1, 3)):
            p = self.make_proc("meth%d" % j, r.random() < 0.8, method_of=cls)
            sc = Scope(self, p, {n: k for n, k in p.params}, members=members)
            if self.on("self_calls"):
                sc.self_methods = list(cls.methods)
            body = self.top_block(sc, 1, 2 if not sc.self_methods else 3)
            if r.random() < 0.5:
                body.append(Assign(Var("member", "m0$", "n"), self.num_expr(sc, 2)))
            if p.is_func:
                if p.ret_kind == "n" and r.random() < 0.3:
                    pass  # ends without return: its result is 0
                elif r.random() < 0.3 and p.ret_kind == "n":
                    body.append(Return(Num(0)))
                else:
                    body.append(Return(self.expr(p.ret_kind, sc, 1)))
            p.body = body
            cls.methods.append(p)
        prog.classes.append(cls)
        return cls


def generate(seed, budget=4000, features=FEATURES):
    """The program of a seed and its expected message boxes (tries seeds seed.0, seed.1...)."""
    attempt = 0
    while True:
        rng = random.Random("%s.%d" % (seed, attempt))
        gen = Generator(rng, features)
        prog = gen.program()
        try:
            out = prog.run(budget)
            return prog.emit(), out
        except (Reject, RecursionError):
            attempt += 1


RENAMED = re.compile(r"\b(?:(?:f|p|K)\d+\b|[cwk]\d+%|g\d+\$|main\b)")


def features_without(avoid):
    """FEATURES less those named in a comma-separated list; 'known' names KNOWN, 'all'
    every one (the core programs alone, as they were before the shapes were added)."""
    left = set()
    for word in (avoid or "").split(","):
        word = word.strip()
        if word == "known":
            left.update(KNOWN)
        elif word == "all":
            left.update(FEATURES)
        elif word:
            if word not in FEATURES:
                raise ValueError("no such shape: %s" % word)
            left.add(word)
    return tuple(f for f in FEATURES if f not in left)


def generate_batch(seed, count, budget=4000, features=FEATURES):
    """count programs of seeds seed.0 ... in one source: each program's names get a prefix
    of their own (zN), its main becomes the procedure zNmain, and the real main calls
    them in turn. The programs share nothing, so the expected boxes follow each other."""
    parts, expected, mains = [], [], []
    for i in range(count):
        source, out = generate("%s.%d" % (seed, i), budget, features)
        prefix = "z%d" % i
        parts.append(RENAMED.sub(lambda m: prefix + m.group(0), source))
        expected += out
        mains.append("  %smain();" % prefix)
    return "\n".join(parts) + "\nproc main\n" + "\n".join(mains) + "\nend;\n", expected


if __name__ == "__main__":
    import sys
    args = sys.argv[1:]
    avoid = ""
    if len(args) >= 2 and args[0] == "--avoid":
        avoid, args = args[1], args[2:]
    source, out = generate(args[0] if args else "1", features=features_without(avoid))
    sys.stdout.write(source)
    sys.stdout.write("// expected:\n")
    for line in out:
        sys.stdout.write("// " + line + "\n")
