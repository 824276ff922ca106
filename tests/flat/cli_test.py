"""Runs the rows of a table under tests/data/flat/ in order, in one scratch directory {D}.
Columns: command, exit code, regex searched in stdout (or @NAME: equal to the golden file
NAME, with {D} and work-file names replaced; MIMEENGINE_REGEN rewrites it), regex searched
in stderr; '-' for any. A command is a shell-quoted mimeengine command line after optional
NAME=value words for its environment, with <FILE for its stdin and >FILE for its stdout (then
empty), or a step of this script:
!cat FILE, !ls DIR, !same A B (equal but for CR LF), !mkdir DIR, !write FILE TEXT, !cp FROM TO
(a file or a tree), !ln TARGET LINK, !decode MESSAGE [FUNCTION] (below), !email MESSAGE (below),
!big FILE SIZE (random bytes), !rm FILE, !tmpfs DIR SIZE [ro] (mounts a tmpfs, unmounted at the
end; where mounting fails the rest of the table is SKIPPED), !interrupt SIGNAL GLOB COMMAND...
(the signal to a mimeengine command once GLOB names a file that is not empty; exit 128+N).
{R} is examples/messages/report.eml, {C} examples/compose, {F} tests/data/flat.
Usage: cli_test.py TABLE MIMEENGINE_PROGRAM EXAMPLES_DIR"""
import ctypes, email as email_package, glob, os, re, shlex, shutil, signal, subprocess, sys, tempfile, time

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "flat")


read = lambda path: open(path, "rb").read()


def decode(d, message, call="DecodeMimeMessage"):
    """DecodeMimeMessage (or call) through ctypes, library from MIMEENGINE_LIBRARY, message
    "-" for null: with every receiver, without the count, the list, both, and the text. The
    attachments are copied to {D}/got, and links to {D}/keep and {D}/got planted beside them."""
    lib, by, out = ctypes.CDLL(os.environ["MIMEENGINE_LIBRARY"]), ctypes.byref, ""
    tmp = os.environ["TMPDIR"] = os.path.join(d, "tmp")
    for receivers in range(5):
        text, count = ctypes.c_char_p(None if receivers == 4 else b"?"), ctypes.c_ulong(99)
        paths = ctypes.POINTER(ctypes.c_char_p)()
        ok = getattr(lib, call)(None if message.endswith("/-") else message.encode(), None if receivers == 4 else by(text),
                                None if receivers in (1, 3) else by(count), None if receivers in (2, 3) else by(paths))
        out += "%d: ok %d text %r count %d list %s\n" % (receivers, ok, text.value, count.value, bool(paths))
        for p in [paths[i].decode() for i in range(count.value if paths else 0)]:
            out += "%s %o %r\n" % (os.path.relpath(p, tmp), os.stat(os.path.dirname(p)).st_mode & 0o777, read(p))
            shutil.copy(p, os.path.join(d, "got"))
            os.symlink(os.path.join(d, "keep"), p + ".file-link")
            os.symlink(os.path.join(d, "got"), p + ".dir-link")
        for free in (lambda: lib.FreeMimeAttachmentList(0, by(paths)), lambda: lib.FreeMimeAttachmentList(3, None),
                     lambda: lib.FreeMimeMsgText(None), lambda: lib.FreeMimeMsgText(by(text)),
                     lambda: lib.FreeMimeAttachmentList(count, by(paths))) * 2:  # the first lambdas do nothing
            free()
        out += "freed %s %s %s\n" % (text.value, bool(paths), os.listdir(tmp))
    return out.encode()


def email(path):
    """Parses MESSAGE with Python's email package: "CRLF True" when every line ends in CR LF,
    then per leaf its type, Content-Disposition, Content-Transfer-Encoding and decoded body."""
    data, parts = read(path), ""
    for p in email_package.message_from_bytes(data).walk():
        if not p.is_multipart():
            parts += "%s %s %s %r\n" % (p.get_content_type(), p["Content-Disposition"], p["Content-Transfer-Encoding"],
                                       p.get_payload(decode=True))
    return ("CRLF %s\n%s" % (re.search(rb"[^\r]\n|\r[^\n]|\A\n|\r\Z", data) is None, parts)).encode()


def interrupt(d, sig, pattern, args, env):
    p = subprocess.Popen([PROGRAM] + args, cwd=d, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    while not any(map(os.path.getsize, glob.glob(os.path.join(d, pattern)))) and p.poll() is None:
        time.sleep(0.0005)
    p.send_signal(getattr(signal, sig))
    out, err = p.communicate()
    return (128 - p.returncode if p.returncode < 0 else 1), out, err  # 1: it ended before


def step(d, args, env):
    a, unlf = [os.path.join(d, x) for x in args[1:]], lambda i: read(a[i]).replace(b"\r\n", b"\n")
    steps = {"!cat": lambda: read(a[0]), "!ls": lambda: "".join(n + "\n" for n in sorted(os.listdir(a[0]))).encode(),
             "!same": lambda: b"" if unlf(0) == unlf(1) else None, "!mkdir": lambda: os.makedirs(a[0]) or b"",
             "!write": lambda: open(a[0], "w").write(args[2]) and b"", "!decode": lambda: decode(d, a[0], *args[2:]),
             "!email": lambda: email(a[0]), "!rm": lambda: os.remove(a[0]) or b"",
             "!ln": lambda: os.symlink(args[1], a[1]) or b"",
             "!cp": lambda: (shutil.copytree if os.path.isdir(a[0]) else shutil.copy)(a[0], a[1]) and b"",
             "!big": lambda: open(a[0], "wb").write(os.urandom(int(args[2]))) and b"",
             "!tmpfs": lambda: MOUNTS.append(os.makedirs(a[0]) or a[0]) or subprocess.run(
                 ["mount", "-t", "tmpfs", "-o", "size=" + ",".join(args[2:]), "tmpfs", a[0]], capture_output=True).stderr}
    if args[0] == "!interrupt":
        return interrupt(d, args[1], args[2], args[3:], env)
    if args[0] in steps:
        out = steps[args[0]]()
        return int(out is None), out or b"", b""
    stdin = [open(os.path.join(d, w[1:]), "rb") for w in args if w.startswith("<")] + [subprocess.DEVNULL]
    stdout = [open(os.path.join(d, w[1:]), "wb") for w in args if w.startswith(">")] + [subprocess.PIPE]
    r = subprocess.run([PROGRAM] + [w for w in args if w[0] not in "<>"], cwd=d, env=env, stdout=stdout[0],
                       stderr=subprocess.PIPE, timeout=120, stdin=stdin[0])
    return r.returncode, r.stdout or b"", r.stderr


def main(table):
    failures, ran, d = 0, 0, tempfile.mkdtemp(prefix="mimeengine-cli.")
    rows = [(n, l.rstrip("\n").split("\t")) for n, l in enumerate(open(os.path.join(DATA, table)), 1)]
    rows = [(n, cells) for n, cells in rows if cells[0] and not cells[0].startswith("#")]
    try:
        for n, (command, code, out, err) in rows:
            ran += 1
            for k, v in (("{D}", d), ("{R}", EXAMPLES + "/messages/report.eml"), ("{C}", EXAMPLES + "/compose"), ("{F}", DATA)):
                command = command.replace(k, v)
            words, env = shlex.split(command), dict(os.environ)
            while "=" in words[0] and not words[0].startswith("!"):
                env.update([words.pop(0).split("=", 1)])
            try:
                got = step(d, words, env)
            except OSError as e:
                got = 1, b"", str(e).encode()
            if words[0] == "!tmpfs" and not os.path.ismount(MOUNTS[-1]):
                print("SKIPPED: %s: %s: no tmpfs could be mounted (%s); rows %d on did not run"
                      % (table, command, ((got[1] + got[2]).decode() or "?").splitlines()[0], n))
                ran -= 1
                break
            got = (got[0],) + tuple(re.sub(r"\b(md\w{6}|\w{8}(?=\.TMP|\.HDR))\b", "*", s.decode("latin-1").replace(d, "{D}"))
                                    for s in got[1:])
            if out.startswith("@") and os.environ.get("MIMEENGINE_REGEN"):
                open(os.path.join(DATA, out[1:]), "w").write(got[1])
            if got[0] != int(code) or not all(
                    want == "-" or (got[i] == open(os.path.join(DATA, want[1:])).read() if want[0] == "@" else
                                    re.search(want, got[i], re.S)) for i, want in ((1, out), (2, err))):
                failures += 1
                print("%s:%d: %s\n  got exit %d\n  stdout: %r\n  stderr: %r" % (table, n, command, *got))
    finally:
        for mount in filter(os.path.ismount, MOUNTS):
            subprocess.run(["umount", mount])
    shutil.rmtree(d)
    print("%d passed, %d failed" % (ran - failures, failures))
    return failures == 0


MOUNTS = []
if __name__ == "__main__":
    PROGRAM, EXAMPLES = sys.argv[2], sys.argv[3]
    sys.exit(0 if main(sys.argv[1]) else 1)
