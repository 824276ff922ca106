#!/usr/bin/env python3
"""Adds seed inputs made from outside messages to fuzz/corpus/<target>/ (see README.md: the
committed inputs are the source of truth; the hand-made seeds are no longer generated).

Usage: make_seeds.py [--adversarial DIR] [--corpus DIR]

--adversarial: the small hostile messages of a directory made by the shared generator (run
with --scale 0.01) become whole-message seeds, and their headers header seeds; --corpus: a
few short messages of the shared test corpus likewise. Each seed starts with the selector
byte its target reads first (unpack 0: Unpack with decoding; readheader 1: with the
MIME-Version check; uuscan 0: decode the files).
"""
import argparse
import os

CORPUS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
MAX_SEED = 12000  # larger inputs slow the fuzzers down without reaching more code
PICKS = ["mime4j/ending-boundaries.eml", "mime4j/missing-boundary.eml", "mime4j/qp-body.eml",
         "mime4j/base64encoded-rfc822message-nested.eml", "mime4j/weird-boundary.eml",
         "mime4j/multipartnopart.eml", "mailparser-js/mixed.eml", "mime4j/obsolete.eml"]


def write(target, name, data):
    os.makedirs(os.path.join(CORPUS, target), exist_ok=True)
    with open(os.path.join(CORPUS, target, "seed-" + name), "wb") as f:
        f.write(data)


def header(data):
    end = data.find(b"\n\n")
    end = data.find(b"\r\n\r\n") if end < 0 else end
    return data[:end + 2] if end > 0 else b""


def add(prefix, stem, data, uuscan, readheader, unfold):
    write("unpack", prefix + stem, b"\x00" + data)
    if uuscan:
        write("uuscan", prefix + stem, b"\x00" + data)
    if header(data):
        if readheader:
            write("readheader", prefix + stem, b"\x01" + header(data))
        if unfold:
            write("unfold", prefix + stem, header(data))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--adversarial")
    parser.add_argument("--corpus")
    args = parser.parse_args()
    if args.adversarial:
        for name in sorted(os.listdir(args.adversarial)):
            path = os.path.join(args.adversarial, name)
            if name.endswith(".eml") and os.path.isfile(path) and os.path.getsize(path) <= MAX_SEED:
                stem = name[:-4]
                with open(path, "rb") as f:
                    add("adv-", stem, f.read(), stem.startswith(("uu_", "fn_")),
                        stem.startswith(("hdr_", "fn_", "cte_")), False)
    for pick in PICKS if args.corpus else []:
        path = os.path.join(args.corpus, pick)
        if os.path.isfile(path):
            with open(path, "rb") as f:
                add("corpus-", pick.replace("/", "-")[:-4], f.read()[:MAX_SEED], False, True, True)


if __name__ == "__main__":
    main()
