#!/usr/bin/env python3
# Reads the messages packed from TABLE (tests/data/pack/messages.tsv) into SCRATCH/<case>/out.eml
# back with Python's email package: the parts, in Message.walk() order, have the types the table
# lists and no defects, and decode to the data file (bytes), to it after CR LF -> LF (text), or to
# that without its last line break, which belongs to the delimiter after it (copytext).
import email.policy
import sys

cases, problems = {}, 0
for cells in (line.rstrip("\n").split("\t") for line in open(sys.argv[1], encoding="latin-1")):
    for i, check in enumerate(cells[11].split() if len(cells) > 11 and cells[0][0] != "#" else []):
        data_file = "%s/%s/%s" % (sys.argv[2], cells[0], cells[4]) if i == 0 else None
        cases.setdefault(cells[0], []).append(check.split(":") + [data_file])
for case, expected in cases.items():
    # From bytes, not from a binary file: the file reader would translate line ends.
    with open("%s/%s/out.eml" % (sys.argv[2], case), "rb") as f:
        parts = list(email.message_from_bytes(f.read(), policy=email.policy.compat32).walk())
    if len(parts) != len(expected):
        print("%s: %d parts, expected %d" % (case, len(parts), len(expected)))
        problems += 1
    for part, (content_type, mode, data_file) in zip(parts, expected):
        ok = part.get_content_type() == content_type and not part.defects
        if mode != "type":
            data, payload = open(data_file, "rb").read(), part.get_payload(decode=True)
            if mode == "copytext" and data.endswith(b"\r\n"):
                data = data[:-2]
            if mode != "bytes":
                data, payload = data.replace(b"\r\n", b"\n"), payload.replace(b"\r\n", b"\n")
            ok = ok and payload == data
        if not ok:
            print("%s: part %s (%s) differs" % (case, content_type, mode))
            problems += 1
print("%d parts checked, %d problems" % (sum(map(len, cases.values())), problems))
sys.exit(1 if problems or not cases else 0)
