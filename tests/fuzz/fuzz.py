#!/usr/bin/env python3
"""Mutation fuzzing of zrk's inputs: scripts, compiled programs, codec streams, packages,
WAV files, music modules and images. Each case is a seed input with a few random mutations, run through a zrk
built with the sanitizers (ZRK_SANITIZE=ON) under a time-out; a case that crashes, trips
a sanitizer or hangs is kept as a reproducer with its log. The kind "calls" is generated,
not mutated: scripts of random calls to the window, control, menu, display, game and COM
built-ins with good, bad and freed handles, edge sizes and destructive event procedures
(see calls.py), each with an input timeline. The kind "core" is generated too: scripts of
random calls to the core built-ins (texts, lists, structures, arrays, objects, the value
stack, eval, memory blocks) with values of the wrong kind, the same variable twice, edge
sizes, and variables freed or redefined while they are walked or used (see core_calls.py).

Seeds are the project's own: the script tests and examples, the compiled files zrk writes
for them, and codec streams, a package, a WAV file, a module and a BMP image that the harness scripts in
harness/ make with zrk itself (<kind>_make.zrk; <kind>.zrk reads a case). The same seed number gives the same cases.

Exit status: 0 when no case failed, 1 when some did (see the reproducer folder), 77 when
the zrk given does not exist (CTest reads that as skipped)."""

import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

import calls
import core_calls

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
HARNESS = os.path.join(HERE, "harness")
KINDS = ("script", "zrc", "codec", "package", "wav", "module", "image")
GENERATED_KINDS = ("calls", "core")
# Files a generated call case reads: the VGA font of the game tests.
CALL_CASE_FILES = [os.path.join(ROOT, "tests", "scripts", "game", "Vgarom.fnt")]

# Words that break scripts in interesting ways when dropped into them.
SCRIPT_TOKENS = [
    b"(", b")", b"[", b"]", b"{", b"}", b'"', b";", b",", b"%", b"$", b".", b"&", b"\n",
    b"end;", b"proc main", b"func f(a%)", b"return(", b"if (", b"while (", b"foreach (",
    b"try", b"except", b"#class C", b"#endclass", b"#object C o;", b"list(l%);",
    b"2147483647", b"-2147483648", b"4294967296", b"-1", b"0", b"0.1", b"1e308", b"-0.5",
    b"x%", b"s$", b"l%", b"o$", b"wstr(", b"new(", b"malloc(", b"free(", b"add(", b"mid(",
    b"run(", b"eval(", b"createthread(", b"search(", b"sort(", b"dim(",
]
INTERESTING_BYTES = [0x00, 0x01, 0x7F, 0x80, 0xFF, 0x20, 0x0A, 0x22, 0x28, 0x29]
INTERESTING_WORDS = [0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFF, 0x10000, 44, 8]


def mutate(data, rng, text):
    """A copy of data with one to eight random edits (text-aware ones for scripts)."""
    out = bytearray(data)
    for _ in range(rng.randint(1, 8)):
        op = rng.randrange(9 if text else 7)
        pos = rng.randrange(len(out) + 1)
        if op == 0 and out:
            out[min(pos, len(out) - 1)] ^= 1 << rng.randrange(8)
        elif op == 1 and out:
            out[min(pos, len(out) - 1)] = rng.choice(INTERESTING_BYTES)
        elif op == 2 and out:
            out[min(pos, len(out) - 1)] = rng.randrange(256)
        elif op == 3 and len(out) >= 4:
            pos = min(pos, len(out) - 4)
            out[pos:pos + 4] = rng.choice(INTERESTING_WORDS).to_bytes(4, "little")
        elif op == 4 and out:
            end = min(len(out), pos + rng.randint(1, 64))
            del out[pos:end]
        elif op == 5 and out:
            start = rng.randrange(len(out))
            chunk = out[start:start + rng.randint(1, 256)]
            out[pos:pos] = chunk * rng.randint(1, 4)
        elif op == 6:
            del out[rng.randrange(len(out) + 1):]
        elif op == 7:
            out[pos:pos] = rng.choice(SCRIPT_TOKENS) * rng.choice((1, 1, 1, 2, 60))
        elif op == 8:
            out[pos:pos] = b" " + rng.choice(SCRIPT_TOKENS) + b" "
    return bytes(out)


def run_zrk(zrk, folder, args, seconds, extra_env=None):
    """Runs zrk headless in folder; (status, output). Status 124 is a time-out."""
    env = dict(os.environ)
    env.update({
        "ZRK_DISPLAY": "headless", "ZRK_CLOCK": "virtual", "ZRK_AUDIO": "null",
        "ZRK_ROOT": os.path.join(folder, "root"), "ZRK_PROGRAM": os.path.join(folder, "zrk"),
        "ZRK_MSGBOX_LOG": os.path.join(folder, "boxes.log"), "ZRK_MSGBOX_ANSWER": "OK",
        # Leaks are not faults here; everything else stops the run with a report.
        "ASAN_OPTIONS": "detect_leaks=0:abort_on_error=0:exitcode=86:allocator_may_return_null=1",
        "UBSAN_OPTIONS": "halt_on_error=1:exitcode=86:print_stacktrace=1",
    })
    env.update(extra_env or {})
    os.makedirs(os.path.join(folder, "root"), exist_ok=True)
    try:
        done = subprocess.run([zrk] + args, cwd=folder, env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=seconds,
                              start_new_session=True)
        return done.returncode, done.stdout
    except subprocess.TimeoutExpired as expired:
        return 124, expired.stdout or b""


# The raw memory built-ins (peek, poke, getint, memcpy ...) fault on a wild address by
# design; the normal build's fault guard turns that into a run-time error.
RAW_MEMORY_FRAME = re.compile(
    rb"#0 \S+ in (builtin_(peek|poke|get\w+|set\w+|mem\w+)|read_at|write_at)(<[^>]*>)?\S* \S*memory_builtins\.cpp")


def failure_of(status, output):
    """What went wrong in a run, or None for a run that ended by itself (any exit code)."""
    if status == 124:
        return "hang"
    if status == 86 or b"ERROR: AddressSanitizer" in output or b"runtime error:" in output:
        first_frame = re.search(rb"#0 [^\n]*", output)
        if first_frame and RAW_MEMORY_FRAME.match(first_frame.group(0)):
            return None
        return "sanitizer"
    if status < 0 or status > 128:
        return "signal"
    return None


def script_seeds():
    seeds = []
    for base in (os.path.join(ROOT, "tests", "scripts"), os.path.join(ROOT, "examples")):
        for folder, _, files in os.walk(base):
            for name in sorted(files):
                if name.endswith(".zrk") and not name.startswith("_"):
                    seeds.append(os.path.join(folder, name))
    return sorted(seeds)


class Fuzzer:
    def __init__(self, zrk, work, out, seconds, rng):
        self.zrk, self.work, self.out, self.seconds, self.rng = zrk, work, out, seconds, rng
        self.failures = []
        self.call_builtins = None
        self.core_builtins = None
        self.trusted = ""
        self.avoid = ""

    def load_call_signatures(self):
        """The built-ins the call cases use, checked against the built-in table."""
        with open(os.path.join(ROOT, "app", "builtin_table.cpp")) as f:
            found, wrong = calls.signatures(f.read())
        self.call_builtins = found
        return wrong

    def load_core_signatures(self):
        """The core built-ins the core cases use, checked against the built-in table."""
        with open(os.path.join(ROOT, "app", "builtin_table.cpp")) as f:
            found, wrong = core_calls.signatures(f.read())
        self.core_builtins = found
        return wrong

    def run_core_case(self, index, count):
        """One generated core case: a script alone."""
        script = core_calls.make_case(self.rng, self.core_builtins, count, self.avoid)
        folder = tempfile.mkdtemp(dir=self.work)
        with open(os.path.join(folder, "case.zrk"), "w") as f:
            f.write(script)
        status, output = run_zrk(self.zrk, folder, ["case.zrk"], self.seconds)
        self.keep_if_failed("core", index, failure_of(status, output), output, ["case.zrk"],
                            [os.path.join(folder, "case.zrk")])
        shutil.rmtree(folder, ignore_errors=True)

    def run_call_case(self, index, count):
        """One generated call case: a script, its input timeline and the files it reads."""
        script, timeline = calls.make_case(self.rng, self.call_builtins, count, self.trusted)
        folder = tempfile.mkdtemp(dir=self.work)
        with open(os.path.join(folder, "case.zrk"), "w") as f:
            f.write(script)
        with open(os.path.join(folder, "case.timeline"), "w") as f:
            f.write(timeline)
        for path in CALL_CASE_FILES:
            shutil.copy(path, folder)
        status, output = run_zrk(self.zrk, folder, ["case.zrk"], self.seconds,
                                 {"ZRK_INPUT": "case.timeline"})
        self.keep_if_failed("calls", index, failure_of(status, output), output, ["case.zrk"],
                            [os.path.join(folder, "case.zrk"), os.path.join(folder, "case.timeline")])
        shutil.rmtree(folder, ignore_errors=True)

    def keep_if_failed(self, kind, index, failure, output, args, files):
        if not failure:
            return
        os.makedirs(self.out, exist_ok=True)
        stem = os.path.join(self.out, "%s-%s-%d" % (kind, failure, index))
        for path in files:
            shutil.copy(path, stem + os.path.splitext(path)[1])
        with open(stem + ".log", "wb") as f:
            f.write(b"zrk " + " ".join(args).encode() + b"\n" + output)
        self.failures.append(stem)
        print("%s case %d: %s, kept as %s" % (kind, index, failure, stem), flush=True)

    def make_seeds(self, kinds):
        """Seed inputs per kind: (bytes, file name) pairs."""
        seeds = {kind: [] for kind in kinds}
        scripts = script_seeds()
        if "script" in seeds:
            for path in scripts:
                with open(path, "rb") as f:
                    seeds["script"].append((f.read(), "case.zrk"))
        if "zrc" in seeds:
            # A few scripts compiled by zrk itself: a run leaves its .zrc beside the source.
            for path in self.rng.sample(scripts, min(6, len(scripts))):
                folder = tempfile.mkdtemp(dir=self.work)
                shutil.copy(path, os.path.join(folder, "seed.zrk"))
                run_zrk(self.zrk, folder, ["seed.zrk"], self.seconds)
                compiled = os.path.join(folder, "seed.zrc")
                if os.path.exists(compiled):
                    with open(compiled, "rb") as f:
                        seeds["zrc"].append((f.read(), "case.zrc"))
        made = {"codec": ["codec0.bin", "codec1.bin", "codec2.bin"], "package": ["case.pkg"], "wav": ["case.wav"],
                "module": ["case.mod"], "image": ["case.bmp"]}
        for kind, names in made.items():
            if kind not in seeds:
                continue
            folder = tempfile.mkdtemp(dir=self.work)
            shutil.copy(os.path.join(HARNESS, kind + "_make.zrk"), folder)
            run_zrk(self.zrk, folder, [kind + "_make.zrk"], self.seconds)
            for name in names:
                path = os.path.join(folder, name)
                if not os.path.exists(path):
                    path = os.path.join(folder, "root", name)  # a device path's file
                if os.path.exists(path):
                    with open(path, "rb") as f:
                        seeds[kind].append((f.read(), "case" + os.path.splitext(name)[1]))
        return seeds

    def run_case(self, kind, index, data, name):
        folder = tempfile.mkdtemp(dir=self.work)
        # Images are read by device path (see harness/image.zrk), from the device root.
        place = os.path.join(folder, "root") if kind == "image" else folder
        os.makedirs(place, exist_ok=True)
        with open(os.path.join(place, name), "wb") as f:
            f.write(data)
        if kind in ("script", "zrc"):
            args = [name]
        else:
            shutil.copy(os.path.join(HARNESS, kind + ".zrk"), folder)
            args = [kind + ".zrk"]
        status, output = run_zrk(self.zrk, folder, args, self.seconds)
        failure = failure_of(status, output)
        if failure == "hang" and kind in ("script", "zrc"):
            # A mutated program may loop for ever; only a compile or load that does not
            # end is a fault. Switch C compiles (or loads) without running.
            status, compile_output = run_zrk(self.zrk, folder, args + ["C"], self.seconds)
            failure = failure_of(status, compile_output)
            output += b"\n-- compile only (switch C):\n" + compile_output
        self.keep_if_failed(kind, index, failure, output, args, [os.path.join(place, name)])
        shutil.rmtree(folder, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--zrk", required=True, help="a zrk built with ZRK_SANITIZE=ON")
    parser.add_argument("--cases", type=int, default=20000, help="cases per kind")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--budget", type=float, default=0, help="seconds for the whole pass (0: no limit)")
    parser.add_argument("--timeout", type=float, default=10, help="seconds a case may run")
    parser.add_argument("--kinds", default=",".join(KINDS),
                        help="of " + ", ".join(KINDS + GENERATED_KINDS) + " (calls and core are not in the default)")
    parser.add_argument("--calls", type=int, default=40, help="random calls in a generated call or core case")
    parser.add_argument("--trust", default="", metavar="KINDS",
                        help="handle kinds (letters of calls.py) that call cases always give live and never free")
    parser.add_argument("--avoid", default="", metavar="SHAPES",
                        help="shapes (letters of core_calls.py) that core cases leave out, to look past a known fault")
    parser.add_argument("--out", default=os.path.join(os.getcwd(), "fuzz-reproducers"))
    options = parser.parse_args()
    if not os.path.exists(options.zrk):
        print("SKIPPED: no sanitizer build of zrk at %s (build one with ZRK_SANITIZE=ON)" % options.zrk)
        return 77
    kinds = [kind for kind in options.kinds.split(",") if kind]
    start = time.monotonic()
    work = tempfile.mkdtemp(prefix="zrk-fuzz-")
    try:
        fuzzer = Fuzzer(os.path.abspath(options.zrk), work, os.path.abspath(options.out), options.timeout,
                        random.Random(options.seed))
        fuzzer.trusted = options.trust
        fuzzer.avoid = options.avoid
        seeds = fuzzer.make_seeds([kind for kind in kinds if kind not in GENERATED_KINDS])
        if "calls" in kinds:
            wrong = fuzzer.load_call_signatures()
            if wrong:
                print("the call signatures disagree with the built-in table:\n  " + "\n  ".join(wrong))
                return 1
        if "core" in kinds:
            wrong = fuzzer.load_core_signatures()
            if wrong:
                print("the core signatures disagree with the built-in table:\n  " + "\n  ".join(wrong))
                return 1
        counts = {kind: 0 for kind in kinds}
        # Kinds take turns, so a budget that runs out leaves every kind tried.
        for index in range(options.cases):
            for kind in kinds:
                if options.budget and time.monotonic() - start > options.budget:
                    break
                if kind == "calls":
                    fuzzer.run_call_case(index, options.calls)
                    counts[kind] += 1
                    continue
                if kind == "core":
                    fuzzer.run_core_case(index, options.calls)
                    counts[kind] += 1
                    continue
                if not seeds[kind]:
                    continue
                data, name = fuzzer.rng.choice(seeds[kind])
                fuzzer.run_case(kind, index, mutate(data, fuzzer.rng, kind == "script"), name)
                counts[kind] += 1
            else:
                continue
            break
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("cases: " + ", ".join("%s %d" % (kind, counts[kind]) for kind in kinds) +
          "; failures: %d (%.0f s)" % (len(fuzzer.failures), time.monotonic() - start))
    missing = [kind for kind in kinds if kind not in GENERATED_KINDS and not seeds[kind]]
    if missing:
        print("no seeds for: " + ", ".join(missing))
    return 1 if fuzzer.failures else 0


if __name__ == "__main__":
    sys.exit(main())
