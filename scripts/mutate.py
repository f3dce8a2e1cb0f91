#!/usr/bin/env python3
"""Mutation check of the program's own code (run through scripts/mutate.sh).

Makes one small change at a time to a copy of the sources (build/mutate/src,
synchronised from the checkout, which is never written), rebuilds only what
the change needs in a host build of that copy, runs the host tests under a
time limit and counts the change as caught when any test fails, hangs or
crashes, or as not compiling when the build fails. Prints a table per file
and every missed change. Changes listed in scripts/mutate-equivalent.txt
(the file, the enclosing function, the original and the changed line) are
reported as equivalent instead of missed.
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
WORK = os.path.join(ROOT, "build", "mutate")
SRC = os.path.join(WORK, "src")
EQUIVALENT_FILE = os.path.join(ROOT, "scripts", "mutate-equivalent.txt")

sys.dont_write_bytecode = True  # no cache files in the source tree
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import work_tree  # noqa: E402

# Which files are the program's and which tests check it is the build's to
# say, not this script's: the files are the sources of the remove_filter
# target and of the project libraries it links (CMake's file API), less the
# stand-in (platform/host/) and what it links; the tests are those CTest
# labels "mutation",
# those also labelled "slow" running only on changes that survive the others.
PROGRAM_TARGET = "remove_filter"
STANDIN_DIR = "platform/host/"
QUICK_TIMEOUT, SLOW_TIMEOUT = 30, 120

SIZE_NAMES = ["kNameBufferLength", "MAX_PATH", "bufferSize"]


# ---------------------------------------------------------------------------
# Reading C++ well enough to change it.


def code_mask(text):
    """For every character of `text`, whether it is code: not inside a
    comment, a string or character literal, or a preprocessor line."""
    mask = [True] * len(text)
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start and c == "#":
            j = text.find("\n", i)
            j = n if j < 0 else j
            for k in range(i, j):
                mask[k] = False
            i = j
            continue
        if c == "\n":
            line_start = True
            i += 1
            continue
        if not c.isspace():
            line_start = False
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            for k in range(i, j):
                mask[k] = False
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            for k in range(i, j):
                if text[k] != "\n":
                    mask[k] = False
            i = j
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            j = min(j + 1, n)
            # The quotes stay code so that literals can be found; only
            # their insides are masked.
            for k in range(i + 1, j - 1):
                mask[k] = False
            i = j
        else:
            i += 1
    return mask


class Line:
    def __init__(self, number, text, code):
        self.number = number  # 1-based
        self.text = text  # without the newline
        self.code = code  # the text with non-code characters blanked
        self.function = ""  # enclosing function, "" outside any
        self.in_body = False  # inside a function body
        self.starts_statement = False


def read_lines(text):
    mask = code_mask(text)
    code = "".join(ch if (m or ch == "\n") else " " for ch, m in zip(text, mask))
    lines = [
        Line(i + 1, t, c) for i, (t, c) in enumerate(zip(text.split("\n"), code.split("\n")))
    ]
    # Brace kinds: "scope" (namespace, class, initialiser) or "body".
    stack = []
    header = ""
    function = ""
    previous_end = ";"
    for line in lines:
        stripped = line.code.strip()
        opened_body = False
        line.in_body = bool(stack) and stack[-1] == "body"
        line.function = function if line.in_body else ""
        if stripped and line.in_body:
            line.starts_statement = previous_end in (";", "{", "}") or previous_end == ":"
        for ch in line.code:
            if ch == "{":
                h = header.strip()
                if re.search(r"\b(namespace|class|struct|enum|union)\b", h) or h.endswith("="):
                    stack.append("scope")
                else:
                    if "body" not in stack:
                        names = [n for n in re.findall(r"([A-Za-z_][\w:~]*)\s*\(", h)
                                 if not n.startswith("__")]
                        function = names[0] if names else "?"
                        opened_body = True
                    stack.append("body")
                header = ""
            elif ch == "}":
                if stack:
                    stack.pop()
                header = ""
            elif ch == ";":
                header = ""
            else:
                header += ch
        if not line.in_body and opened_body:
            line.function = function  # a body opened on this line
        if stripped:
            previous_end = stripped[-1]
    return lines


def matching_paren(code, open_index):
    depth = 0
    for i in range(open_index, len(code)):
        if code[i] == "(":
            depth += 1
        elif code[i] == ")":
            depth -= 1
            if depth == 0:
                return i
    return -1


class Mutant:
    def __init__(self, path, line, function, original, mutated, description, new_lines):
        self.path = path
        self.line = line
        self.function = function
        self.original = original.strip()
        self.mutated = mutated.strip()
        self.description = description
        self.new_lines = new_lines  # {line index: replacement text}
        self.outcome = None
        self.detail = ""

    def key(self):
        return (self.path, self.function, squash(self.original), squash(self.mutated))


def squash(text):
    return " ".join(text.split())


DECLARATION = re.compile(
    r"^(?:const\s+|static\s+)*[A-Za-z_][\w:]*(?:<[^;]*>)?[\s*&]+[A-Za-z_]\w*\s*(?:=|;|\[|\(|\{)"
)
NOT_TYPES = {"return", "delete", "throw", "goto", "case", "else", "do"}


def make_mutants(path, text):
    lines = read_lines(text)
    mutants = []

    def add(line, start, end, replacement, description):
        mutated = line.text[:start] + replacement + line.text[end:]
        mutants.append(
            Mutant(path, line.number, line.function, line.text, mutated, description,
                   {line.number - 1: mutated}))

    for index, line in enumerate(lines):
        code = line.code
        if not code.strip():
            continue
        # Relational, equality and logical operators (binary ones are
        # spaced by the formatter; template brackets and "->" are not).
        for m in re.finditer(r"(?<=\s)(<=|>=|==|!=|<|>|&&|\|\|)(?=\s)", code):
            op = m.group(1)
            turned = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "==",
                      "&&": "||", "||": "&&"}[op]
            add(line, m.start(1), m.end(1), turned, "'%s' -> '%s'" % (op, turned))
        # Conditions negated.
        for m in re.finditer(r"\b(if|while)\s*\(", code):
            open_index = m.end() - 1
            close = matching_paren(code, open_index)
            if close < 0:
                continue
            inner = line.text[open_index + 1:close]
            add(line, open_index + 1, close, "!(%s)" % inner, "negate %s condition" % m.group(1))
        for m in re.finditer(r"\)\s\?\s", code):
            close = m.start()
            depth = 0
            for j in range(close, -1, -1):
                depth += {")": 1, "(": -1}.get(code[j], 0)
                if depth == 0:
                    inner = line.text[j + 1:close]
                    add(line, j + 1, close, "!(%s)" % inner, "negate ?: condition")
                    break
        # Boolean results inverted.
        for m in re.finditer(r"\breturn\s+(true|false)\b", code):
            other = "false" if m.group(1) == "true" else "true"
            add(line, m.start(1), m.end(1), other, "return %s" % other)
        m = re.search(r"\breturn\s+(.+);\s*$", code)
        if m and re.search(r"(==|!=|<=|>=| < | > |&&|\|\||^!)", m.group(1)):
            expr = line.text[m.start(1):m.end(1)]
            add(line, m.start(1), m.end(1), "!(%s)" % expr, "invert returned condition")
        # Integer and character constants moved by one.
        for m in re.finditer(r"(?<![\w.])(0[xX][0-9a-fA-F]+|\d+)([uUlL]*)(?![\w.])", code):
            literal, suffix = m.group(1), m.group(2)
            value = int(literal, 0)
            for moved in (value + 1, value - 1):
                if moved < 0:
                    continue
                rendered = (hex(moved).upper().replace("0X", "0x")
                            if literal.lower().startswith("0x") else str(moved))
                add(line, m.start(1), m.end(2), rendered + suffix,
                    "constant %s -> %s" % (literal + suffix, rendered + suffix))
        for m in re.finditer(r"'[^']*'", code):
            literal = line.text[m.start():m.end()]
            if literal in ("'\\0'",):
                continue
            for sign in "+-":
                add(line, m.start(), m.end(), "(%s %s 1)" % (literal, sign),
                    "constant %s %s 1" % (literal, sign))
        # Buffer sizes moved by one (not where a parameter is declared).
        for name in SIZE_NAMES:
            for m in re.finditer(r"(?<![\w.])%s(?!\w)" % name, code):
                before = code[:m.start()].rstrip()
                if re.search(r"\b(DWORD|int|size_t)$", before) or code[m.end():].lstrip(
                        ).startswith("="):
                    continue
                for sign in "+-":
                    add(line, m.start(), m.end(), "(%s %s 1)" % (name, sign),
                        "size %s %s 1" % (name, sign))
        for m in re.finditer(r"\bsizeof\s*\(", code):
            close = matching_paren(code, m.end() - 1)
            expr = line.text[m.start():close + 1]
            for sign in "+-":
                add(line, m.start(), close + 1, "(%s %s 1)" % (expr, sign),
                    "size %s %s 1" % (expr, sign))
        # The one statement of a body written on one line removed.
        for m in re.finditer(r"\{\s*([^{};]+;)\s*\}", code):
            add(line, m.start(), m.end(), "{}", "delete statement")
        # Statements removed: a whole simple statement, an if with its
        # single statement (an early return, continue or break), never a
        # declaration nor a compound statement.
        if line.starts_statement:
            stripped = code.strip()
            first = re.match(r"[A-Za-z_]\w*", stripped)
            if stripped.startswith(("}", "{", "else", "case", "default")) or stripped.endswith(":"):
                continue
            if DECLARATION.match(stripped) and not (first and first.group(0) in NOT_TYPES):
                continue
            depth = 0
            end = None
            for j in range(index, len(lines)):
                c = lines[j].code
                depth += c.count("(") - c.count(")")
                s = c.strip()
                if depth == 0 and s.endswith(";"):
                    end = j
                    break
                if depth == 0 and s.endswith("{"):
                    break
                if depth == 0 and "}" in s:
                    break
            if end is None:
                continue
            # A statement that shares its line with a closing brace or
            # another statement is left alone.
            if "{" in code or lines[end].code.count(";") > 1 and "for" not in code:
                continue
            replaced = {j: "" for j in range(index, end + 1)}
            what = "delete statement" + (" (lines %d-%d)" % (line.number, end + 1)
                                         if end > index else "")
            mutants.append(
                Mutant(path, line.number, line.function, line.text, "(deleted)", what, replaced))
    return mutants


# ---------------------------------------------------------------------------
# The list of equivalent changes.


def read_equivalent():
    """Entries of blocks:  file: / function: / - original / + changed / why:"""
    entries = {}
    if not os.path.exists(EQUIVALENT_FILE):
        return entries
    block = {}

    def flush():
        if block:
            missing = [k for k in ("file", "-", "+", "why") if k not in block]
            if missing:
                sys.exit("%s: entry without %s: %s" % (EQUIVALENT_FILE, missing, block))
            key = (block["file"], block.get("function", ""), squash(block["-"]),
                   squash(block["+"]))
            entries[key] = block["why"]
            block.clear()

    with open(EQUIVALENT_FILE) as f:
        for raw in f:
            line = raw.rstrip("\n")
            if not line.strip():
                flush()
                continue
            if line.startswith("#"):
                continue
            if line.startswith("file:"):
                flush()
                block["file"] = line[5:].strip()
            elif line.startswith("function:"):
                block["function"] = line[9:].strip()
            elif line.startswith("- "):
                block["-"] = line[2:]
            elif line.startswith("+ "):
                block["+"] = line[2:]
            elif line.startswith("why:"):
                block["why"] = line[4:].strip()
            else:
                sys.exit("%s: cannot read: %s" % (EQUIVALENT_FILE, line))
    flush()
    return entries


# ---------------------------------------------------------------------------
# The copy of the sources and its builds.


def sync_copy():
    """Makes build/mutate/src equal to the work tree, writing only the files
    whose contents differ, so that a rebuild stays incremental."""
    work_tree.copy(ROOT, SRC, prune=True)


class Build:
    """A build of the copy from one of the project's presets, with its own
    binary folder below build/mutate and the benchmarks left out."""

    def __init__(self, preset, cache=(), tests_timeout_factor=1):
        self.name = preset
        self.preset = preset
        self.dir = os.path.join(WORK, preset)
        self.cache = [("RF_BUILD_BENCH", "OFF")] + list(cache)
        self.factor = tests_timeout_factor
        self.configured = False

    def configure(self):
        if self.configured:
            return
        query = os.path.join(self.dir, ".cmake", "api", "v1", "query", "codemodel-v2")
        os.makedirs(os.path.dirname(query), exist_ok=True)
        open(query, "w").close()
        args = ["cmake", "-S", SRC, "--preset", self.preset, "-B", self.dir] + [
            "-D%s=%s" % kv for kv in self.cache]
        run_quiet(args, "configuring " + self.name, cwd=SRC)
        self.configured = True

    def program_files(self):
        """The program's own files in this build, from CMake's file API:
        the sources of PROGRAM_TARGET and of the targets it depends on,
        relative to the sources, less the stand-in, what it links, and
        generated files."""
        reply = os.path.join(self.dir, ".cmake", "api", "v1", "reply")
        index = sorted(f for f in os.listdir(reply) if f.startswith("index-"))[-1]

        def load(name):
            with open(os.path.join(reply, name)) as f:
                return json.load(f)

        model = load(load(index)["reply"]["codemodel-v2"]["jsonFile"])
        targets = {t["id"]: t for t in model["configurations"][0]["targets"]}
        program = next(t for t in targets.values() if t["name"] == PROGRAM_TARGET)
        # Every target it links (the file API lists them all, indirect ones
        # too), less the stand-in and what the stand-in links.
        linked = [program] + [targets[d["id"]] for d in load(program["jsonFile"]).get(
            "dependencies", [])]
        details = {t["id"]: load(t["jsonFile"]) for t in linked}

        def sources(target_id):
            return [s["path"] for s in details[target_id].get("sources", [])
                    if not os.path.isabs(s["path"])]

        standin = set()
        for t in linked:
            if any(path.startswith(STANDIN_DIR) for path in sources(t["id"])):
                standin.add(t["id"])
                standin.update(d["id"] for d in details[t["id"]].get("dependencies", []))
        files = []
        for t in linked:
            if t["id"] not in standin:
                files += [path for path in sources(t["id"]) if path not in files]
        return files

    def tests(self):
        """The tests labelled "mutation" as (name, command, slow)."""
        r = subprocess.run(["ctest", "--test-dir", self.dir, "-L", "mutation",
                            "--show-only=json-v1"], stdout=subprocess.PIPE, text=True,
                           check=True)
        found = []
        for test in json.loads(r.stdout)["tests"]:
            labels = next((p["value"] for p in test.get("properties", [])
                           if p["name"] == "LABELS"), [])
            if "command" not in test:
                sys.exit("mutate: the program of test %s is not built" % test["name"])
            found.append((test["name"], test["command"], "slow" in labels))
        if not found:
            sys.exit("mutate: no test of %s is labelled mutation" % self.name)
        return found

    def stages(self, all_stages):
        """The tests in stages: quick ones first, the slow ones on the
        changes that survive them (all at once with all_stages)."""
        tests = self.tests()
        quick = [t[:2] for t in tests if not t[2]]
        slow = [t[:2] for t in tests if t[2]]
        if all_stages:
            return [(quick + slow, SLOW_TIMEOUT)]
        return [s for s in [(quick, QUICK_TIMEOUT), (slow, SLOW_TIMEOUT)] if s[0]]

    def build(self, targets, jobs):
        args = ["cmake", "--build", self.dir, "-j", str(jobs), "--target"] + targets
        return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              text=True)

    def run_test(self, test, timeout):
        name, command = test
        env = dict(os.environ, GTEST_BRIEF="1")
        try:
            r = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               timeout=timeout * self.factor, env=env, cwd=self.dir)
        except subprocess.TimeoutExpired:
            return False, "%s: timed out after %d s" % (name, timeout * self.factor)
        if r.returncode != 0:
            out = r.stdout.decode(errors="replace")
            failed = re.findall(r"\[  FAILED  \] (\S+)", out)
            why = ("signal %d" % -r.returncode) if r.returncode < 0 else (
                "exit %d" % r.returncode)
            asan = "AddressSanitizer" in out or "runtime error" in out
            return False, "%s: %s%s%s" % (name, why, " (sanitizer)" if asan else "",
                                          (" " + failed[0]) if failed else "")
        return True, ""


def targets_of(tests):
    """The build targets of tests: each test's program by its file name."""
    return [os.path.basename(command[0]) for _, command in tests
            if os.path.isabs(command[0]) and command[0].startswith(WORK)]


HOST = Build("host", [("CMAKE_CXX_FLAGS_RELWITHDEBINFO", "-O2 -DNDEBUG")])
HOST_ASAN = Build("host-asan", tests_timeout_factor=4)


def run_quiet(args, what, cwd=None):
    r = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                       cwd=cwd)
    if r.returncode != 0:
        sys.stderr.write(r.stdout)
        sys.exit("mutate: %s failed" % what)


def apply(mutant, original_text):
    lines = original_text.split("\n")
    for index, replacement in mutant.new_lines.items():
        lines[index] = replacement
    with open(os.path.join(SRC, mutant.path), "w") as f:
        f.write("\n".join(lines))


def restore(path, original_text):
    with open(os.path.join(SRC, path), "w") as f:
        f.write(original_text)


def judge(build, mutant, original_text, jobs, stages):
    """Builds and tests one mutant; sets its outcome."""
    apply(mutant, original_text)
    try:
        for tests, timeout in stages:
            r = build.build(targets_of(tests), jobs)
            if r.returncode != 0:
                mutant.outcome = "not compiling"
                error = re.search(r"error: (.*)", r.stdout)
                mutant.detail = error.group(1)[:100] if error else "build failed"
                return
            for test in tests:
                passed, detail = build.run_test(test, timeout)
                if not passed:
                    mutant.outcome = "caught"
                    mutant.detail = detail
                    return
        mutant.outcome = "missed"
    finally:
        restore(mutant.path, original_text)


def baseline(build, jobs):
    # Everything first: CTest names a test's command once its program is built.
    r = build.build(["all"], jobs)
    if r.returncode != 0:
        sys.stderr.write(r.stdout[-4000:])
        sys.exit("mutate: the unchanged sources do not build (%s)" % build.name)
    tests = [test for stage, _ in build.stages(True) for test in stage]
    for test in tests:
        passed, detail = build.run_test(test, 600)
        if not passed:
            sys.exit("mutate: the unchanged sources fail a test: " + detail)


# ---------------------------------------------------------------------------
# Windows build: process_entry.cpp against the program image and end-to-end
# tests under Wine.

WIN32 = Build("win32")


def judge_win32(mutant, original_text, jobs):
    apply(mutant, original_text)
    try:
        r = WIN32.build(["all"], jobs)
        if r.returncode != 0:
            mutant.outcome = "not compiling"
            return
        t = subprocess.run(["ctest", "--test-dir", WIN32.dir, "-L", "mutation",
                            "--timeout", "900"], stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, text=True)
        mutant.outcome = "caught" if t.returncode != 0 else "missed"
        failed = re.findall(r"\d+ - (\S+) \(", t.stdout)
        mutant.detail = ", ".join(failed)
    finally:
        restore(mutant.path, original_text)


# ---------------------------------------------------------------------------


def main():
    parser = argparse.ArgumentParser(
        prog="scripts/mutate.sh",
        description="Mutation check of the program's own code against the host tests.")
    parser.add_argument("files", nargs="*",
                        help="files to mutate, relative to the project's root "
                        "(default: every file of the program's own built on the host)")
    parser.add_argument("--asan", action="store_true",
                        help="run the missed changes again under a host-asan build")
    parser.add_argument("--win32", action="store_true",
                        help="also mutate the Windows build's own files (its process entry) "
                        "against its tests labelled mutation, under Wine (slow)")
    parser.add_argument("--list", action="store_true",
                        help="print the changes that would be made and stop")
    parser.add_argument("--jobs", type=int, default=1, help="build jobs (default 1)")
    parser.add_argument("--all-stages", action="store_true",
                        help="run every test program on every change (not only the slow "
                        "ones on survivors of the quick ones)")
    args = parser.parse_args()

    started = time.time()
    os.makedirs(SRC, exist_ok=True)
    sync_copy()
    HOST.configure()
    host_files = HOST.program_files()
    win32_files = []
    wanted = [os.path.normpath(f) for f in args.files]
    if args.win32 or any(f not in host_files for f in wanted):
        WIN32.configure()
        win32_files = [f for f in WIN32.program_files() if f not in host_files]
    files = wanted or host_files + (win32_files if args.win32 else [])
    for f in files:
        if f not in host_files + win32_files:
            sys.exit("mutate: %s is not one of the program's own files: %s" % (
                f, " ".join(host_files + win32_files)))

    equivalent = read_equivalent()
    all_mutants = {}
    for f in files:
        with open(os.path.join(ROOT, f)) as handle:
            all_mutants[f] = make_mutants(f, handle.read())
    if args.list:
        for f in files:
            for m in all_mutants[f]:
                print("%s:%d [%s] %s\n  - %s\n  + %s" % (f, m.line, m.function, m.description,
                                                         m.original, m.mutated))
        return 0

    if any(f in host_files for f in files):
        t = time.time()
        baseline(HOST, args.jobs)
        print("baseline build and tests: %.0f s" % (time.time() - t), flush=True)
    stages = HOST.stages(args.all_stages)

    used_keys = set()
    mutant_seconds = []
    for f in files:
        with open(os.path.join(SRC, f)) as handle:
            original_text = handle.read()
        mutants = all_mutants[f]
        print("%s: %d changes" % (f, len(mutants)), flush=True)
        for m in mutants:
            if m.key() in equivalent:
                m.outcome = "equivalent"
                m.detail = equivalent[m.key()]
                used_keys.add(m.key())
                continue
            t = time.time()
            if f in win32_files:
                judge_win32(m, original_text, args.jobs)
            else:
                judge(HOST, m, original_text, args.jobs, stages)
            mutant_seconds.append(time.time() - t)
            if m.outcome == "missed":
                print("  missed %s:%d %s" % (f, m.line, m.description), flush=True)

    missed = [m for f in files for m in all_mutants[f] if m.outcome == "missed"]
    if args.asan and missed:
        print("host-asan: running %d missed changes again" % len(missed), flush=True)
        HOST_ASAN.configure()
        baseline(HOST_ASAN, args.jobs)
        asan_stages = HOST_ASAN.stages(True)
        texts = {}
        for m in missed:
            if m.path not in texts:
                with open(os.path.join(SRC, m.path)) as handle:
                    texts[m.path] = handle.read()
            judge(HOST_ASAN, m, texts[m.path], args.jobs, asan_stages)
            if m.outcome == "caught":
                m.outcome = "caught by asan"
            elif m.outcome == "not compiling":
                m.outcome = "missed"

    # The table.
    columns = ["caught", "caught by asan", "missed", "equivalent", "not compiling"]
    print()
    print("%-34s %7s %7s %7s %7s %7s %7s" % ("file", "changes", "caught", "asan", "missed",
                                             "equiv", "no-comp"))
    totals = [0] * (len(columns) + 1)
    for f in files:
        ms = all_mutants[f]
        counts = [len(ms)] + [sum(1 for m in ms if m.outcome == c) for c in columns]
        totals = [a + b for a, b in zip(totals, counts)]
        print("%-34s %7d %7d %7d %7d %7d %7d" % tuple([f] + counts))
    if not args.win32 and not args.files:
        print("%-34s" % "the Windows build's own files: with --win32")
    print("%-34s %7d %7d %7d %7d %7d %7d" % tuple(["total"] + totals))

    missed = [m for f in files for m in all_mutants[f] if m.outcome == "missed"]
    if missed:
        print("\nmissed:")
        for m in missed:
            print("%s:%d [%s] %s\n  - %s\n  + %s" % (m.path, m.line, m.function, m.description,
                                                     m.original, m.mutated))
    stale = [k for k in equivalent if k[0] in files and k not in used_keys]
    if stale:
        print("\nentries of %s that match no change (stale?):" %
              os.path.relpath(EQUIVALENT_FILE, ROOT))
        for k in stale:
            print("  %s [%s]\n  - %s\n  + %s" % k)
    elapsed = time.time() - started
    if mutant_seconds:
        print("\n%d changes built and tested in %.0f s (%.1f s each on average, "
              "%.1f s at most); whole run %.0f s" %
              (len(mutant_seconds), sum(mutant_seconds),
               sum(mutant_seconds) / len(mutant_seconds), max(mutant_seconds), elapsed))
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
