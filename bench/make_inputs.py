#!/usr/bin/env python3
"""Writes the inputs of bench/compare.sh into a cache directory, the same bytes on every run.

    make_inputs.py DIR

Files already present are kept; delete DIR to start again.
  b64.eml        88 MiB message: a short text and a 64 MiB attachment as base64
  qp.eml         33 MiB quoted-printable text
  uu.txt         22 MiB plain text holding a 16 MiB uuencoded file
  text.txt, attach.bin   the two files of the compose job (attach.bin is 64 MiB)
  many/          2,000 messages of 2 to 20 KiB, and many.list naming them
"""
import base64
import binascii
import os
import random
import sys

MiB = 1024 * 1024
WORDS = ("the of and to in is was for on that with as by at from this be are or an it "
         "message part body line header value caf\u00e9 na\u00efve r\u00e9sum\u00e9 a=b x=y "
         "\u00fcber stra\u00dfe 50% equal= tab\tend price:\u20ac10").split(" ")


def text_lines(rng, size):
    """About size bytes of UTF-8 text in lines of up to 100 characters, LF line ends."""
    out = []
    total = 0
    while total < size:
        n = rng.randint(3, 16)
        line = " ".join(rng.choices(WORDS, k=n))
        if rng.random() < 0.1:
            line += " "  # white space at the end of a line
        data = line.encode("utf-8") + b"\n"
        out.append(data)
        total += len(data)
    return b"".join(out)


def crlf(data):
    return data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


def qp(data):
    return crlf(binascii.b2a_qp(data, istext=True))


def b64_lines(data):
    return crlf(base64.encodebytes(data))


def header(fields):
    return "".join(f"{k}: {v}\r\n" for k, v in fields).encode() + b"\r\n"


def write(path, data):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def make_b64(path):
    rng = random.Random(1)
    attach = rng.randbytes(64 * MiB)
    text = crlf(text_lines(rng, 2048))
    msg = header([("From", "a@example.org"), ("To", "b@example.org"), ("Subject", "base64"),
                  ("MIME-Version", "1.0"), ("Content-Type", 'multipart/mixed; boundary="b64-bound"')])
    msg += b"--b64-bound\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n" + text
    msg += (b"--b64-bound\r\nContent-Type: application/octet-stream; name=\"data.bin\"\r\n"
            b"Content-Transfer-Encoding: base64\r\n"
            b"Content-Disposition: attachment; filename=\"data.bin\"\r\n\r\n")
    msg += b64_lines(attach) + b"--b64-bound--\r\n"
    write(path, msg)


def make_qp(path):
    rng = random.Random(2)
    body = qp(text_lines(rng, 26 * MiB))
    msg = header([("From", "a@example.org"), ("Subject", "qp"), ("MIME-Version", "1.0"),
                  ("Content-Type", "text/plain; charset=utf-8"),
                  ("Content-Transfer-Encoding", "quoted-printable")])
    write(path, msg + body)


def make_uu(path):
    rng = random.Random(3)
    data = rng.randbytes(16 * MiB)
    # A plain message without MIME header fields: its text holds the uuencoded file.
    parts = [b"From: a@example.org\nSubject: uu\n\n", text_lines(rng, 64 * 1024), b"begin 644 payload.bin\n"]
    parts += [binascii.b2a_uu(data[i:i + 45]) for i in range(0, len(data), 45)]
    parts += [b"`\nend\n", text_lines(rng, 64 * 1024)]
    write(path, b"".join(parts))


def make_compose(text_path, attach_path):
    rng = random.Random(4)
    write(text_path, crlf(text_lines(rng, 4096)))
    write(attach_path, rng.randbytes(64 * MiB))


def make_many(directory, list_path):
    rng = random.Random(5)
    os.makedirs(directory, exist_ok=True)
    names = []
    for i in range(2000):
        size = rng.randint(2 * 1024, 20 * 1024)
        kind = i % 3
        base = [("From", f"sender{i}@example.org"), ("To", "list@example.org"),
                ("Subject", f"message {i}"), ("Message-ID", f"<{i}@bench.example>"),
                ("MIME-Version", "1.0")]
        if kind == 0:
            msg = header(base + [("Content-Type", "text/plain; charset=utf-8"),
                                 ("Content-Transfer-Encoding", "quoted-printable")])
            msg += qp(text_lines(rng, size))
        elif kind == 1:
            b = f"alt-{i}"
            text = text_lines(rng, size // 2)
            html = b"<html><body><p>" + text.replace(b"\n", b"<br>\n") + b"</p></body></html>\n"
            msg = header(base + [("Content-Type", f'multipart/alternative; boundary="{b}"')])
            for sub, body in (("plain", text), ("html", html)):
                msg += (f"--{b}\r\nContent-Type: text/{sub}; charset=utf-8\r\n"
                        "Content-Transfer-Encoding: quoted-printable\r\n\r\n").encode() + qp(body) + b"\r\n"
            msg += f"--{b}--\r\n".encode()
        else:
            b = f"mix-{i}"
            msg = header(base + [("Content-Type", f'multipart/mixed; boundary="{b}"')])
            msg += (f"--{b}\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n").encode()
            msg += crlf(text_lines(rng, 512))
            count = rng.randint(1, 3)
            for k in range(count):
                blob = rng.randbytes(max(256, (size - 600) * 3 // 4 // count))
                msg += (f"--{b}\r\nContent-Type: application/octet-stream; name=\"f{k}.bin\"\r\n"
                        "Content-Transfer-Encoding: base64\r\n"
                        f"Content-Disposition: attachment; filename=\"f{k}.bin\"\r\n\r\n").encode()
                msg += b64_lines(blob)
            msg += f"--{b}--\r\n".encode()
        name = os.path.join(directory, f"m{i:04d}.eml")
        with open(name, "wb") as f:
            f.write(msg)
        names.append(name)
    write(list_path, ("\n".join(names) + "\n").encode())


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    d = sys.argv[1]
    os.makedirs(d, exist_ok=True)
    p = lambda n: os.path.join(d, n)
    if not os.path.exists(p("b64.eml")):
        make_b64(p("b64.eml"))
    if not os.path.exists(p("qp.eml")):
        make_qp(p("qp.eml"))
    if not os.path.exists(p("uu.txt")):
        make_uu(p("uu.txt"))
    if not os.path.exists(p("attach.bin")):
        make_compose(p("text.txt"), p("attach.bin"))
    if not os.path.exists(p("many.list")):
        make_many(p("many"), p("many.list"))


if __name__ == "__main__":
    main()
