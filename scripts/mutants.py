#!/usr/bin/env python3
"""Mutation check: how many single-point faults in the library does the test suite catch?

Draws a seeded sample of mutants of the library sources (one small change each: a flipped
comparison, && for ||, + 1 for - 1, a constant plus one, TRUE for FALSE, a removed break or
continue), builds each one incrementally in a scratch copy of the tree and runs CTest on it.
A mutant is killed when CTest fails or times out; one that does not compile is not counted and
the next one of the sample takes its place, so that N mutants are always judged. The same
library sources and the same seed always give the same mutants, whatever the tests are.

Prints "killed K of N" and the survivors with file, line and change.

The scratch copy is a detached git worktree of the chosen revision with ../shared beside it
(a link to the real one); the checkout you work in is never touched.
"""

import argparse
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

LIBRARY_DIRS = ["api", "codec", "engine", "extract", "model", "pack", "platform", "resources", "unpack"]

# (name, pattern, replacement). Binary operators are matched with the spaces that the
# formatting rules put around them, which keeps template brackets, shifts, arrows and
# include lines out of the sample.
OPERATORS = [
    ("==", re.compile(r"(?<= )==(?= )"), "!="),
    ("!=", re.compile(r"(?<= )!=(?= )"), "=="),
    ("<", re.compile(r"(?<= )<(?= )"), "<="),
    ("<=", re.compile(r"(?<= )<=(?= )"), "<"),
    (">", re.compile(r"(?<= )>(?= )"), ">="),
    (">=", re.compile(r"(?<= )>=(?= )"), ">"),
    ("&&", re.compile(r"(?<= )&&(?= )"), "||"),
    ("||", re.compile(r"(?<= )\|\|(?= )"), "&&"),
    ("+1", re.compile(r"(?<= )\+ 1\b"), "- 1"),
    ("-1", re.compile(r"(?<= )- 1\b"), "+ 1"),
    ("n+1", re.compile(r"(?<![\w.])\d+(?![\w.'])"), None),
    ("TRUE", re.compile(r"\bTRUE\b"), "FALSE"),
    ("FALSE", re.compile(r"\bFALSE\b"), "TRUE"),
    ("break", re.compile(r"\bbreak;"), ";"),
    ("continue", re.compile(r"\bcontinue;"), ";"),
]


def mask_literals(line):
    """Returns the line with string and character literals and any // comment blanked out,
    so that patterns only match code; positions are kept."""
    out = []
    i, n = 0, len(line)
    while i < n:
        c = line[i]
        if c == "/" and i + 1 < n and line[i + 1] == "/":
            out.append(" " * (n - i))
            break
        if c in "\"'":
            j = i + 1
            while j < n and line[j] != c:
                j += 2 if line[j] == "\\" else 1
            j = min(j + 1, n)
            out.append(c + " " * (j - i - 2) + (line[j - 1] if j - i >= 2 else ""))
            i = j
            continue
        out.append(c)
        i += 1
    return "".join(out)


def mutation_sites(root):
    """Every possible mutant of the library sources, in a fixed order."""
    sites = []
    for folder in LIBRARY_DIRS:
        base = os.path.join(root, folder)
        if not os.path.isdir(base):
            continue
        for name in sorted(os.listdir(base)):
            if not name.endswith((".cpp", ".h")):
                continue
            rel = f"{folder}/{name}"
            with open(os.path.join(root, rel), encoding="latin-1") as f:
                lines = f.read().split("\n")
            in_block_comment = False
            for number, line in enumerate(lines, 1):
                stripped = line.strip()
                if in_block_comment:
                    if "*/" in stripped:
                        in_block_comment = False
                    continue
                if stripped.startswith("/*"):
                    in_block_comment = "*/" not in stripped
                    continue
                if not stripped or stripped.startswith(("#", "//", "*", "static_assert")):
                    continue
                code = mask_literals(line)
                for op, pattern, replacement in OPERATORS:
                    for m in pattern.finditer(code):
                        new = str(int(m.group()) + 1) if replacement is None else replacement
                        sites.append((rel, number, m.start(), m.end(), op, new))
    return sites


def run(cmd, cwd, timeout=None, quiet=True):
    return subprocess.run(cmd, cwd=cwd, timeout=timeout, stdout=subprocess.PIPE if quiet else None,
                          stderr=subprocess.STDOUT if quiet else None, text=True, errors="replace")


def first_failure(output):
    """The first test CTest reports as failed or timed out, with how it ended."""
    m = re.search(r"Test\s+#\d+: (.+?) \.*\s*\*+(Failed|Timeout|Exception)", output)
    return f"{m.group(1)} ({m.group(2).lower()})" if m else "ctest failed"


def baseline(build, jobs):
    """Runs the whole suite once; returns about three times its slowest test in seconds (the
    per-test timeout), the slowest time, the number of tests and the names of the slow ones."""
    result = run(["ctest", "--test-dir", build, "-j", str(jobs), "--timeout", "1200"], build)
    if result.returncode != 0:
        sys.stderr.write(result.stdout[-4000:])
        sys.exit("mutants: the unmutated suite fails; nothing to measure")
    times = {name: float(t) for name, t in re.findall(r"Test\s+#\d+: (.+?) \.*\s*Passed\s+([\d.]+) sec", result.stdout)}
    slowest = max(times.values()) if times else 60.0
    slow = sorted(name for name, t in times.items() if t >= 2.0)
    return max(10, int(3 * slowest + 1)), slowest, len(times), slow


def judge(build, jobs, timeout, slow):
    """Runs CTest on a mutant: the quick tests first, then the slow ones (CTest would start
    the slowest first), each phase stopping at its first failure. The verdict is the same as
    one run of the whole suite, found sooner. Returns (killed, how)."""
    # CTest's regular expressions: escape only their special characters.
    pattern = "^(" + "|".join(re.sub(r"([][.*+?()^$|\\])", r"\\\1", name) for name in slow) + ")$"
    phases = [["-E", pattern], ["-R", pattern]] if slow else [[]]
    for phase in phases:
        try:
            tested = run(["ctest", "--test-dir", build, "-j", str(jobs), "--stop-on-failure",
                          "--timeout", str(timeout)] + phase, build, timeout=timeout * 20)
        except subprocess.TimeoutExpired:
            return True, "whole run timed out"
        if tested.returncode != 0:
            return True, first_failure(tested.stdout)
    return False, ""


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-n", "--count", type=int, default=80, help="mutants to judge (default 80)")
    parser.add_argument("-s", "--seed", type=int, default=1, help="seed of the sample (default 1)")
    parser.add_argument("-r", "--rev", default="HEAD", help="revision to mutate (default HEAD)")
    parser.add_argument("-j", "--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--list", action="store_true", help="only print the sample, build nothing")
    parser.add_argument("--sites", help="judge only these mutants of the sample, given as FILE:LINE:OP "
                        "separated by commas (as printed), e.g. to re-judge survivors after adding tests")
    parser.add_argument("--keep", action="store_true", help="keep the scratch copy")
    args = parser.parse_args()
    # An interrupted run still removes its scratch copy.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("mutants: interrupted"))
    # Objects of the scratch copy are shared with earlier runs through ccache.
    os.environ.setdefault("CCACHE_NOHASHDIR", "1")

    repo = run(["git", "rev-parse", "--show-toplevel"], os.getcwd()).stdout.strip()
    shared = os.path.realpath(os.path.join(repo, "..", "shared"))
    scratch = tempfile.mkdtemp(prefix="mimeengine-mutants.")
    source = os.path.join(scratch, "src")
    build = os.path.join(scratch, "build")
    os.environ.setdefault("CCACHE_BASEDIR", source)
    subprocess.run(["git", "-C", repo, "worktree", "add", "--detach", "--quiet", source, args.rev], check=True)
    if os.path.isdir(shared):
        os.symlink(shared, os.path.join(scratch, "shared"))
    try:
        sites = mutation_sites(source)
        order = list(range(len(sites)))
        random.Random(args.seed).shuffle(order)
        if args.sites:
            # The first mutant of the sample order with each key is the one that was judged.
            wanted, picked = set(args.sites.split(",")), []
            for i in order:
                key = f"{sites[i][0]}:{sites[i][1]}:{sites[i][4]}"
                if key in wanted:
                    picked.append(i)
                    wanted.discard(key)
            order, args.count = picked, len(picked)
        if args.list:
            for i in order[: args.count]:
                rel, line, _, _, op, new = sites[i]
                print(f"{rel}:{line}: {op} -> {new}")
            return
        print(f"mutants: {len(sites)} possible mutants of {args.rev}, seed {args.seed}; scratch copy {scratch}")
        run(["cmake", "-S", source, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo"], scratch)
        built = run(["cmake", "--build", build, "-j", str(args.jobs)], scratch)
        if built.returncode != 0:
            sys.stderr.write(built.stdout[-4000:])
            sys.exit("mutants: the unmutated tree does not build")
        timeout, slowest, count, slow = baseline(build, args.jobs)
        print(f"mutants: {count} tests pass unmutated, slowest {slowest:.1f} s; per-test timeout {timeout} s; "
              f"{len(slow)} slow tests run last", flush=True)

        killed, judged, skipped, survivors = 0, 0, 0, []
        started = time.time()
        for i in order:
            if judged == args.count:
                break
            rel, number, start, end, op, new = sites[i]
            path = os.path.join(source, rel)
            with open(path, encoding="latin-1", newline="") as f:
                original = f.read()
            lines = original.split("\n")
            old_line = lines[number - 1]
            lines[number - 1] = old_line[:start] + new + old_line[end:]
            with open(path, "w", encoding="latin-1", newline="") as f:
                f.write("\n".join(lines))
            try:
                if run(["cmake", "--build", build, "-j", str(args.jobs)], scratch).returncode != 0:
                    skipped += 1
                    continue
                judged += 1
                dead, how = judge(build, args.jobs, timeout, slow)
                change = f"{rel}:{number}: {op} -> {new}: {old_line.strip()}"
                if dead:
                    killed += 1
                else:
                    survivors.append(change)
                verdict = f"killed by {how}" if dead else "SURVIVED"
                print(f"[{judged:3}/{args.count}] {change}\n          {verdict}", flush=True)
            finally:
                with open(path, "w", encoding="latin-1", newline="") as f:
                    f.write(original)

        minutes = (time.time() - started) / 60
        print(f"\nkilled {killed} of {judged} ({100.0 * killed / max(judged, 1):.1f}%); "
              f"{skipped} mutants did not compile and were not counted; {minutes:.0f} min")
        if survivors:
            print("survivors:")
            for s in survivors:
                print(f"  {s}")
    finally:
        if args.keep:
            print(f"mutants: scratch copy kept in {scratch}")
        else:
            subprocess.run(["git", "-C", repo, "worktree", "remove", "--force", source])
            shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
