#!/usr/bin/env python3
"""corpus_test.py MIMEENGINE: every message of ../shared/corpus ($MIMEENGINE_SHARED_DIR/corpus;
exit 77 when absent) unpacks without crash in both depths; MIME trees match the reference's
types, subtypes and child counts and base64 leaves its bytes; others give its uuencoded files.
Deliberate differences: rows of tests/data/corpus/expectations.tsv (file, difference, why)."""
import concurrent.futures, hashlib, json, os, pathlib, subprocess, sys, tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SHARED = os.environ.get("MIMEENGINE_SHARED_DIR", "") + "/corpus"
CORPUS = SHARED if os.path.isdir(SHARED) and SHARED != "/corpus" else os.path.join(HERE, "../../../shared/corpus")
TYPES = ["unknown", "text", "message", "multipart", "image", "audio", "video", "application"]
UU_MARKER_ENCODING = 9


def lower(s):
    return "".join(c.lower() if "A" <= c <= "Z" else c for c in s or "")


def digest(path):
    # Names with bytes that are not UTF-8 reach us with U+FFFD in their place.
    folder = os.path.dirname(path or "")
    if path and not os.path.isfile(path) and os.path.isdir(folder):
        path = next((os.path.join(folder, n) for n in os.listdir(folder)
                     if os.fsencode(n).decode("utf-8", "replace") == os.path.basename(path)), path)
    return hashlib.sha256(pathlib.Path(path).read_bytes()).hexdigest() if path and os.path.isfile(path) else "none"


def compare_node(ours, ref, diffs):
    main, _, sub = lower(ref["content_type"]).partition("/")
    our_sub, ref_children = lower(ours["subtype"]), ref.get("children") or []
    matches = ours["content_type"] == (TYPES.index(main) if main in TYPES[1:] else 0) and our_sub == sub
    # A part without Content-Type is text/plain for the reference (message/rfc822 in a
    # digest); we keep it untyped.
    matches |= ref.get("content_type_defaulted") is True and ours["content_type"] == 0 and not our_sub
    detail = "ours %s/%s enc %d children %d; reference %s header %r cte %r" % (ours["content_type_name"],
        ours["subtype"], ours["encode_type"], len(ours["children"]), ref["content_type"], ref.get("content_type_header"), ref.get("cte_header"))
    if not matches or len(ours["children"]) != len(ref_children):
        return diffs.append((("children " if matches else "type ") + ref["path"], detail))
    for child, ref_child in zip(ours["children"], ref_children):
        compare_node(child, ref_child, diffs)
    body = ref.get("body") or {}
    if ref["kind"] == "leaf" and body.get("compare") == "exact" and lower(ref.get("cte")) == "base64":
        if digest(ours["data_file"]) != body["sha256"]:
            diffs.append(("base64 " + ref["path"], detail + " reference length %d" % body["length"]))


def compare_uuscan(root, blocks, diffs):
    if root is None or root["encode_type"] != UU_MARKER_ENCODING:
        return diffs.append(("uuencode tree", "no tree from the uuencode scan"))
    # In order, up to the first block the reference finds malformed or unfinished.
    for i, block in enumerate(blocks):
        if block.get("valid_begin") is not True or block.get("complete") is not True:
            break
        child = root["children"][i] if i < len(root["children"]) else None
        if child is None or digest(child["data_file"]) != block["sha256"] or child["suggest_name"] != block["name"]:
            diffs.append(("uuencode %d" % (i + 1), child and child["suggest_name"] or "missing"))


def check(ref_path):
    """Returns (file, compared, differences as (key, detail), crash message or None)."""
    ref = json.loads(pathlib.Path(ref_path).read_text(encoding="utf-8"))
    mime, scan, diffs = ref.get("mime_version_accepted") is True, ref.get("uuencode_scan") or [], []
    for extract in (False, True):
        with tempfile.TemporaryDirectory() as work:
            args = [sys.argv[1], "unpack", os.path.join(CORPUS, ref["file"]), "-d", work, "--json"]
            args += ([] if extract else ["--no-extract"]) + (["--body-only"] if ref.get("body_only") is True else [])
            run = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            out = json.loads(run.stdout) if run.returncode >= 0 else None  # no JSON: an exception
            if out is None:
                return ref["file"], False, [], "crashed (status %d)" % run.returncode
            if extract and not mime and scan:
                compare_uuscan(out["root"], scan, diffs)
            if extract and mime and out["root"] is None:
                diffs.append(("failed rc=%d" % out["result"], "no tree"))
            elif extract and mime:
                compare_node(out["root"], ref["tree"], diffs)
    return ref["file"], mime or bool(scan), diffs, None


def main():
    if not os.path.isdir(CORPUS):
        return print("corpus not found: " + CORPUS) or 77
    refs = sorted(os.path.join(d, n) for d, _, names in os.walk(CORPUS) for n in names if n.endswith(".ref.json"))
    failures = [] if len(refs) > 400 else ["only %d reference files" % len(refs)]
    lines = pathlib.Path(HERE, "../data/corpus/expectations.tsv").read_text(encoding="utf-8").splitlines()
    rows = [(line.split("\t", 2) + ["", ""])[:3] for line in lines if line[:1] not in ("", "#")]
    expected = {file + "\t" + what: why for file, what, why in rows}
    failures += ["expectation without a reason: " + "\t".join(row) for row in rows if not row[2]]
    seen, compared, matched, documented = set(), 0, 0, 0
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        for file, was_compared, diffs, crash in pool.map(check, refs):
            failures += ["%s: %s" % (file, crash)] if crash else []
            keys = [file + "\t" + key for key, _ in diffs]
            seen.update(keys)
            failures += ["undocumented difference: %s\t%s" % (k, d[1]) for k, d in zip(keys, diffs) if k not in expected]
            compared, matched = compared + was_compared, matched + (was_compared and not diffs)
            documented += bool(diffs) and all(k in expected for k in keys)
    failures += ["expected difference did not occur: " + k for k in sorted(expected) if k not in seen]
    print("".join(f + "\n" for f in failures) + "corpus: %d messages parsed, %d compared, %d matched, %d with documented differences"
        % (len(refs), compared, matched, documented))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
