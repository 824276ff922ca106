#!/usr/bin/env python3
"""Checks that two builds give the same output bytes: every decoded file and header file of
`mimeengine unpack` (and of --body-only) over the given messages, and the message of
`mimeengine pack` over the compose inputs of compare.sh.

    same_outputs.py BEFORE_BUILD AFTER_BUILD BENCH_INPUTS PATH...

PATH is a message or a directory searched for files. Work-file names are random, and so is
a composed message's boundary: both are compared by content, not by name. Prints one line
per difference and a count; exit status 1 when anything differs.
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile

WORK = re.compile(rb"[A-Za-z0-9]{8}((?:_[0-9A-F]+)?\.[A-Za-z0-9]+)$")


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()[:16]


def unpack(build, message, out, extra):
    os.makedirs(out)
    proc = subprocess.run([os.path.join(build, "mimeengine"), "unpack", message, "-d", out] + extra,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    lines = []
    for line in proc.stdout.split(b"\n"):
        m = re.match(rb"(\s*(?:data|header):\s+)(\S.*)$", line)
        if m:
            path = m.group(2)
            name = os.path.basename(path)
            w = WORK.match(name)
            shown = b"work" + w.group(1) if w else name
            content = digest(path) if os.path.isfile(path) else "missing"
            line = m.group(1) + shown + b" " + content.encode()
        # A message taken as a batch (an mbox, say) names its directory below out.
        lines.append(line.replace(out.encode(), b"OUT"))
    files = sorted(digest(os.path.join(d, f)) for d, _, names in os.walk(out) for f in names)
    return proc.returncode, lines, files


def pack(build, inputs, out):
    target = os.path.join(out, "c.eml")
    os.makedirs(out)
    subprocess.run([os.path.join(build, "mimeengine"), "pack", "--keep-line-ends", "-o", target, "--text",
                    os.path.join(inputs, "text.txt"), "--attach", os.path.join(inputs, "attach.bin")],
                   check=True, stdout=subprocess.DEVNULL)
    with open(target, "rb") as f:
        data = f.read()
    for b in set(re.findall(rb'boundary="([^"]+)"', data)):
        data = data.replace(b, b"BOUNDARY")
    data = re.sub(rb"\nDate: [^\r\n]*", b"\nDate: D", data)
    return hashlib.sha256(data).hexdigest()


def main():
    before, after, inputs = sys.argv[1:4]
    messages = []
    for p in sys.argv[4:]:
        if os.path.isdir(p):
            for d, _, names in os.walk(p):
                messages += [os.path.join(d, n) for n in sorted(names)]
        else:
            messages.append(p)
    scratch = tempfile.mkdtemp(dir="/dev/shm")
    differ = 0
    checked = 0
    for i, message in enumerate(messages):
        for extra in ([], ["--body-only"]):
            a = unpack(before, message, os.path.join(scratch, f"a{i}{len(extra)}"), extra)
            b = unpack(after, message, os.path.join(scratch, f"b{i}{len(extra)}"), extra)
            checked += 1
            if a != b:
                differ += 1
                print(f"DIFFERENT: {message} {' '.join(extra)}")
        shutil.rmtree(scratch)
        os.makedirs(scratch)
    if pack(before, inputs, os.path.join(scratch, "pa")) != pack(after, inputs, os.path.join(scratch, "pb")):
        differ += 1
        print("DIFFERENT: composed message")
    shutil.rmtree(scratch)
    print(f"{len(messages)} messages, {checked} unpack runs and 1 compose per build: {differ} different")
    sys.exit(1 if differ else 0)


if __name__ == "__main__":
    main()
