#!/usr/bin/env python3
"""Reads composed messages back with Python's email package and checks them.

Usage: interop.py MANIFEST

The manifest lists messages and, for each, its parts in the order of Message.walk():
    MESSAGE <path>
    PART <type/subtype> <mode> <data file or ->
Modes:
    type      only the content type is checked
    bytes     the decoded payload equals the data file byte for byte
    text      the decoded payload equals the data file after CR LF -> LF
    copytext  as text, but the data's last line break belongs to the delimiter that follows
Every part must also parse without defects. Exit status 0 when everything matched.
"""
import email
import sys
from email import policy


def normalise(data):
    return data.replace(b"\r\n", b"\n")


def read_manifest(path):
    messages = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            fields = line.split()
            if not fields:
                continue
            if fields[0] == "MESSAGE":
                messages.append((fields[1], []))
            elif fields[0] == "PART":
                messages[-1][1].append((fields[1], fields[2], fields[3]))
            else:
                raise ValueError("bad manifest line: " + line)
    return messages


def check_part(part, expected_type, mode, data_file):
    problems = []
    seen = part.get_content_type()
    if seen != expected_type.lower():
        problems.append("type %s, expected %s" % (seen, expected_type))
    if part.defects:
        problems.append("defects %r" % (part.defects,))
    if mode == "type":
        return problems
    with open(data_file, "rb") as f:
        data = f.read()
    payload = part.get_payload(decode=True)
    if mode == "bytes":
        ok = payload == data
    elif mode == "text":
        ok = normalise(payload) == normalise(data)
    elif mode == "copytext":
        expected = data[:-2] if data.endswith(b"\r\n") else data
        ok = normalise(payload) == normalise(expected)
    else:
        raise ValueError("bad mode " + mode)
    if not ok:
        where = next((i for i, (a, b) in enumerate(zip(payload, data)) if a != b), min(len(payload), len(data)))
        problems.append("%s payload differs from %s (%d vs %d bytes, first difference at %d)"
                        % (mode, data_file, len(payload), len(data), where))
    return problems


def main():
    failures = 0
    checked = 0
    for path, expected_parts in read_manifest(sys.argv[1]):
        # From bytes, not from a binary file: the file reader would translate line ends.
        with open(path, "rb") as f:
            message = email.message_from_bytes(f.read(), policy=policy.compat32)
        parts = list(message.walk())
        if len(parts) != len(expected_parts):
            print("%s: %d parts, expected %d: %s" % (path, len(parts), len(expected_parts),
                                                     [p.get_content_type() for p in parts]))
            failures += 1
            continue
        for index, (part, (expected_type, mode, data_file)) in enumerate(zip(parts, expected_parts)):
            checked += 1
            for problem in check_part(part, expected_type, mode, data_file):
                print("%s part %d: %s" % (path, index, problem))
                failures += 1
    print("%d parts checked, %d problems" % (checked, failures))
    return 1 if failures or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
