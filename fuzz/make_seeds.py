#!/usr/bin/env python3
"""Writes the seed inputs of fuzz/corpus/<target>/.

Usage: make_seeds.py [--adversarial DIR] [--corpus DIR]

The seeds are small hand-made inputs for each target; with --adversarial, the small
hostile messages of a directory made by the shared generator (run with --scale 0.01) are
added to the whole-message targets; with --corpus, a few short messages of the shared test
corpus are added as header and body snippets. Each seed starts with the selector byte that
its target reads first, where it has one. Inputs found by fuzzing are added to the same
folders by hand (named after what they found) and are not touched by this script.
"""
import argparse
import binascii
import base64
import os
import quopri

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")
# Larger inputs slow the fuzzers down without reaching more code.
MAX_SEED = 12000


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(folder, "seed-" + name), "wb") as f:
        f.write(data)


def uu(payload, name="file.bin", mode="644"):
    lines = [b"begin %s %s\n" % (mode.encode(), name.encode())]
    for i in range(0, len(payload), 45):
        lines.append(binascii.b2a_uu(payload[i:i + 45]))
    lines.append(b"`\nend\n")
    return b"".join(lines)


PAYLOAD = bytes(range(256)) + b"The quick brown fox\r\n" * 3


def header_fields():
    # Selector byte: index into the field names of headerfield_fuzz.cpp (7 = no name).
    rows = [
        (0, ' text/plain; charset="iso-8859-1"; name=a.txt\n'),
        (0, " multipart/mixed;\n boundary=\"----=_Part_1\"\n"),
        (0, " message/partial; id=\"abc@x\"; number=2; total=3\n"),
        (0, " message/external-body; access-type=anon-ftp; site=\"ftp.example.org\"; name=\"f.zip\"\n"),
        (0, " application/octet-stream; name=\"=?iso-8859-1?B?YWJjLmRhdA==?=\"\n"),
        (0, " text/plain; charset=\n"),
        (0, " ;;;; = \"\" ( comment ( nested ) ) \n"),
        (0, " image/" + "g" * 300 + "\n"),
        (6, "text/html;\n\tcharset=utf-8;\n\tname=\"" + "n" * 600 + "\"\n"),
        (1, " base64\n"),
        (1, " Quoted-Printable (comment)\n"),
        (1, " x-uuencode\n"),
        (1, "\n 8bit\n"),
        (2, " attachment; filename=\"..\\\\..\\\\evil.exe\"\n"),
        (2, " inline; filename=report.pdf; size=12\n"),
        (2, " attachment;\n filename*=utf-8''%e2%82%ac.txt\n"),
        (3, " \"quoted name.doc\"\n"),
        (4, " <part1.abc@example.org>\n"),
        (5, " A description (with a comment) that is folded\n over two lines\n"),
        (7, "X-Other: value\nContent-Type: text/plain\n"),
        (0, " text/plain; name=\"" + "\\\"" * 200 + "\"\n"),
        (0, " " + "a" * 2100 + "\n"),
    ]
    for i, (selector, text) in enumerate(rows):
        write("headerfield", "%02d" % i, bytes([selector]) + text.encode("latin-1"))


def header_blocks():
    # readheader_fuzz.cpp: selector bit 0 asks for the MIME-Version check.
    headers = [
        "MIME-Version: 1.0\nContent-Type: text/plain; charset=us-ascii\n\nbody\n",
        "MIME-Version: 1.0 (produced by x)\r\nContent-Type: multipart/mixed;\r\n boundary=b\r\n\r\n",
        "Subject: no version\nContent-Type: text/plain\n\n",
        "MIME-Version: 2.0\n\n",
        "Mime-Version: 1.0\nContent-Transfer-Encoding: base64\nContent-Disposition: attachment; filename=x\n\n",
        "MIME-Version: 1.0\n" + "X-Long: " + "y" * 2100 + "\n\n",
        "MIME-Version: 1.0\nContent-Type: text/plain;\n" + " a=b;\n" * 50 + "\n",
    ]
    for i, text in enumerate(headers):
        write("readheader", "%02d" % i, b"\x01" + text.encode("latin-1"))
    write("readheader", "nocheck", b"\x00Content-Type: image/gif\n\n")


def unfolding():
    texts = [
        "Subject: a\n b\n\tc\nNext: d\n",
        "A: " + "x" * 2050 + "\n continued\n",
        "A:\r\n \r\n \r\nB: c\r\n",
        " leading fold\nA: b",
        "A: no final line end",
    ]
    for i, text in enumerate(texts):
        write("unfold", "%02d" % i, text)


def parse_utilities():
    texts = [
        'text/plain; charset="us-ascii" (comment); name=a.txt',
        "a(b(c)d)e; f=\"g;h\"; i",
        "\"unterminated; x=y",
        "(unterminated comment; x=y",
        "; ; ;=;=\"\";",
        "charset=" + "c" * 300,
        "x=\"\\\"\\\\\"; charset=utf-8",
    ]
    for i, text in enumerate(texts):
        write("parseutilities", "%02d" % i, text)


def encoded_words():
    texts = [
        "=?iso-8859-1?B?SGVsbG8gV29ybGQ=?=",
        "=?utf-8?b?w6nDqcOp?= and =?utf-8?Q?caf=C3=A9?=",
        "=?x?B?====?=",
        "=?iso-2022-jp?B?GyRCJUYlOSVIGyhC?=",
        "=?" + "a" * 100 + "?B?QUJD?=",
        "=?us-ascii?B?QUJD",
        "plain text \x80\x81\xff with high bytes",
    ]
    for i, text in enumerate(texts):
        write("encodedword", "%02d" % i, text)


def uu_lines():
    lines = [binascii.b2a_uu(PAYLOAD[:45]), binascii.b2a_uu(PAYLOAD[45:50]), b"`\n", b"\n",
             b"M" + b"~" * 60 + b"\n", b"}" + b"!" * 78 + b"\n", b". 8   \n", b"#86)C\n",
             b"#86)CX\n", b"M" + b"A" * 100 + b"\n"]
    write("uuline", "lines", b"".join(lines))
    write("uuline", "long-length", b"\x7f\x7f\x7f\n_" + b"\xff" * 79)
    write("uuline", "file", uu(PAYLOAD))


def uu_scan():
    # uuscan_fuzz.cpp: selector bit 0 lists the files without decoding them.
    write("uuscan", "plain", b"\x00Some text first.\n\n" + uu(PAYLOAD, "report.bin") + b"\nafter\n")
    write("uuscan", "two", b"\x00" + uu(b"one", "a.txt") + uu(b"two", "a.txt"))
    write("uuscan", "list", b"\x01" + uu(PAYLOAD, "listed.bin"))
    write("uuscan", "traversal", b"\x00" + uu(b"x", "../../../escape.txt") + uu(b"y", "/etc/passwd"))
    write("uuscan", "backslash", b"\x00" + uu(b"x", "..\\..\\escape.txt") + uu(b"y", "C:evil.txt"))
    write("uuscan", "dots", b"\x00" + uu(b"x", "..") + uu(b"y", ".") + uu(b"z", ""))
    write("uuscan", "no-end", b"\x00begin 644 cut.bin\n" + binascii.b2a_uu(PAYLOAD[:45]))
    write("uuscan", "bad-mode", b"\x00begin 999 x\nbegin 644\nbegin 6444 y\nbegin  644  z\n")
    write("uuscan", "long-name", b"\x00" + uu(b"x", "n" * 400))


def body_decoders():
    # bodydecode_fuzz.cpp: bits 0-2 the encoding (base64, quoted-printable, binary, 7bit,
    # 8bit, x-uuencode, uuencode, none), bits 3-5 the type, bit 6 set: no decoding.
    b64 = base64.encodebytes(PAYLOAD)
    qp = quopri.encodestring(PAYLOAD + b"=" + b"q" * 200)
    rows = [
        (0 | 1 << 3, "base64", b64),
        (0 | 1 << 3, "base64-broken", b"QUJD\n====\n!!!!\nQU\nJD\nQUJDRA=\nQ\n"),
        (0 | 0 << 3, "base64-text", base64.encodebytes(b"line one\r\nline two\r\n")),
        (1 | 0 << 3, "qp", qp),
        (1 | 1 << 3, "qp-escapes", b"=41=4=\n=ZZ=0a==\n=\ntrailing =  \nsoft=\n"),
        (2 | 1 << 3, "binary", PAYLOAD + b"\r\n--=b1 not a delimiter\r\n" + bytes(300)),
        (2 | 2 << 3, "binary-cr", b"\r" * 50 + b"\n\r\n--=b1-\r\n"),
        (3 | 0 << 3, "text", b"Hello\r\n.\r\n--=b1x\r\n--=b\r\n"),
        (4 | 5 << 3, "text-html", b"<p>\xe9t\xe9</p>\n" * 20),
        (5 | 1 << 3, "xuu", uu(PAYLOAD, "inner.bin")),
        (5 | 1 << 3, "xuu-traversal", uu(b"x", "../../escape.bin")),
        (6 | 3 << 3, "uu-bare", b"\n" + uu(PAYLOAD)[len(b"begin 644 file.bin\n"):]),
        (7 | 6 << 3, "rfc822", b"MIME-Version: 1.0\r\nContent-Type: text/plain\r\n\r\ninner\r\n"),
        (0 | 1 << 3 | 1 << 6, "base64-no-extract", b64),
        (2 | 4 << 3 | 1 << 6, "binary-no-extract", PAYLOAD),
        (3 | 0 << 3, "long-line", b"x" * 5000 + b"\n" + b"y" * 2046 + b"\n"),
    ]
    for selector, name, body in rows:
        write("bodydecode", name, bytes([selector]) + body)


def whole_messages():
    # unpack_fuzz.cpp: bit 0 UnpackBody instead of Unpack, bit 1 no decoding.
    body = (b"--b\r\nContent-Type: text/plain\r\n\r\nfirst\r\n--b\r\n"
            b"Content-Type: application/octet-stream; name=\"../x.bin\"\r\n"
            b"Content-Transfer-Encoding: base64\r\n\r\nQUJD\r\n--b--\r\n")
    write("unpack", "body", b"\x01" + body)
    write("unpack", "body-no-extract", b"\x03" + body)
    write("unpack", "body-no-delimiter", b"\x01just text\r\n")
    write("unpack", "body-preamble", b"\x01preamble\r\n\r\n" + body)
    message = (b"MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n" + body)
    write("unpack", "message", b"\x00" + message)
    write("unpack", "message-no-extract", b"\x02" + message)
    nested = (b"MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=o\n\n--o\n"
              b"Content-Type: multipart/alternative; boundary=i\n\n--i\nContent-Type: text/plain\n\nt\n"
              b"--i\nContent-Type: text/html\n\n<p>t</p>\n--i--\n--o\nContent-Type: message/rfc822\n\n"
              b"MIME-Version: 1.0\nContent-Type: image/gif; name=a.gif\nContent-Transfer-Encoding: base64\n\n"
              b"R0lGODlh\n--o--\n")
    write("unpack", "nested", b"\x00" + nested)
    write("unpack", "partial", b"\x00MIME-Version: 1.0\nContent-Type: message/partial; id=a; number=1; total=2\n\n"
          b"Content-Type: text/plain\n\nhalf\n")
    write("unpack", "external", b"\x00MIME-Version: 1.0\nContent-Type: message/external-body; "
          b"access-type=local-file; name=\"/etc/passwd\"\n\nContent-Type: text/plain\n\n")
    write("unpack", "not-mime", b"\x00Subject: x\n\n" + uu(PAYLOAD, "../up.bin"))


def adversarial(folder):
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if not name.endswith(".eml") or not os.path.isfile(path) or os.path.getsize(path) > MAX_SEED:
            continue
        with open(path, "rb") as f:
            data = f.read()
        stem = name[:-4]
        write("unpack", "adv-" + stem, b"\x00" + data)
        if stem.startswith(("uu_", "fn_")):
            write("uuscan", "adv-" + stem, b"\x00" + data)
        # The header alone for the header reader, with the MIME-Version check.
        end = data.find(b"\n\n")
        if end < 0:
            end = data.find(b"\r\n\r\n")
        if stem.startswith(("hdr_", "fn_", "cte_")) and end > 0:
            write("readheader", "adv-" + stem, b"\x01" + data[:end + 2])


def shared_corpus(folder):
    picks = ["mime4j/ending-boundaries.eml", "mime4j/missing-boundary.eml", "mime4j/qp-body.eml",
             "mime4j/base64encoded-rfc822message-nested.eml", "mime4j/weird-boundary.eml",
             "mime4j/multipartnopart.eml", "mailparser-js/mixed.eml", "mime4j/obsolete.eml"]
    for pick in picks:
        path = os.path.join(folder, pick)
        if not os.path.isfile(path):
            continue
        with open(path, "rb") as f:
            data = f.read()[:MAX_SEED]
        stem = pick.replace("/", "-")[:-4]
        write("unpack", "corpus-" + stem, b"\x00" + data)
        end = data.find(b"\n\n")
        if end < 0:
            end = data.find(b"\r\n\r\n")
        if end > 0:
            write("readheader", "corpus-" + stem, b"\x01" + data[:end + 2])
            write("unfold", "corpus-" + stem, data[:end + 2])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--adversarial")
    parser.add_argument("--corpus")
    args = parser.parse_args()
    header_fields()
    header_blocks()
    unfolding()
    parse_utilities()
    encoded_words()
    uu_lines()
    uu_scan()
    body_decoders()
    whole_messages()
    if args.adversarial:
        adversarial(args.adversarial)
    if args.corpus:
        shared_corpus(args.corpus)


if __name__ == "__main__":
    main()
