"""End-to-end tests of the mimeengine program on the bundled examples.

Usage: cli_test.py MIMEENGINE_PROGRAM EXAMPLES_DIR
"""
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest

PROGRAM = None
EXAMPLES = None

# Result codes of the engine that the program passes on as exit status.
CME_FILE_ERROR = 4
CME_INVALID_BLOCK = 7
USAGE_ERROR = 1


def run(*args, cwd=None, env=None):
    full_env = dict(os.environ)
    if env:
        full_env.update(env)
    return subprocess.run([PROGRAM, *args], cwd=cwd, env=full_env, capture_output=True, timeout=120)


def walk(block):
    yield block
    for child in block["children"]:
        yield from walk(child)


def shape(block):
    """(type name, subtype in lower case, children shapes): the structure of a tree."""
    return (block["content_type_name"], block["subtype"].lower(), [shape(c) for c in block["children"]])


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb" if isinstance(data, bytes) else "w") as f:
        f.write(data)


def unix_text(data):
    return data.replace(b"\r\n", b"\n")


class CliTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="mimeengine-cli.")
        self.dir = self.tmp.name
        self.report = os.path.join(EXAMPLES, "messages", "report.eml")
        self.compose = os.path.join(EXAMPLES, "compose")

    def tearDown(self):
        self.tmp.cleanup()

    def unpack_json(self, message, outdir):
        r = run("unpack", message, "-d", outdir, "--json")
        self.assertEqual(r.returncode, 0, r.stderr)
        return json.loads(r.stdout)

    # ---- general -------------------------------------------------------------------
    def test_version_and_help(self):
        r = run("--version")
        self.assertEqual(r.returncode, 0)
        self.assertRegex(r.stdout.decode(), r"^mimeengine \d+\.\d+\.\d+\n$")
        r = run("--help")
        self.assertEqual(r.returncode, 0)
        for command in ("unpack", "decode", "pack", "encode-word", "decode-word"):
            self.assertIn(command, r.stdout.decode())
            r2 = run(command, "--help")
            self.assertEqual(r2.returncode, 0, command)
            self.assertTrue(r2.stdout.decode().startswith("Usage: mimeengine " + command), command)

    def test_usage_errors_exit_1_and_say_why(self):
        cases = [
            ((), ""),
            (("frobnicate",), "unknown command"),
            (("unpack",), "MESSAGE"),
            (("unpack", self.report, "--bogus"), "--bogus"),
            (("unpack", self.report, "-d"), "needs a value"),
            (("decode", "a", "b"), "MESSAGE"),
            (("pack", "-o", os.path.join(self.dir, "x.eml")), "nothing to pack"),
            (("pack", "--tree", "t.json", "--text", "a"), "--tree"),
            (("encode-word",), "TEXT"),
            (("decode-word", "a", "b"), "TEXT"),
        ]
        for args, needle in cases:
            r = run(*args)
            self.assertEqual(r.returncode, USAGE_ERROR, args)
            self.assertIn(needle, r.stderr.decode(), args)
            self.assertEqual(r.stdout, b"", args)

    # ---- unpack --------------------------------------------------------------------
    def test_unpack_json_matches_the_message(self):
        out = os.path.join(self.dir, "parts")
        doc = self.unpack_json(self.report, out)
        self.assertEqual(doc["result"], 0)
        self.assertEqual(doc["result_name"], "CME_SUCCESS")
        root = doc["root"]
        self.assertEqual(shape(root), ("MULTIPART", "mixed", [
            ("TEXT", "plain", []),
            ("MESSAGE", "rfc822", [("TEXT", "plain", [])]),
            ("TEXT", "csv", []),
            ("IMAGE", "gif", []),
        ]))
        self.assertTrue(root["boundary"].endswith("outer-boundary-1"), root["boundary"])
        text, forwarded, csv, gif = root["children"]
        self.assertEqual(gif["encode_type_name"], "BASE64")
        self.assertEqual(gif["encode_type"], 3)
        self.assertEqual(gif["disposition"], 2)
        self.assertEqual(csv["disposition"], 2)
        self.assertEqual(text["disposition"], 0)
        self.assertEqual(forwarded["children"][0]["charset"].lower(), "iso-8859-1")
        self.assertEqual(forwarded["children"][0]["char_type"], 1)

        keys = {"content_type", "content_type_name", "subtype", "encode_type", "encode_type_name",
                "disposition", "char_type", "charset", "suggest_name", "data_file", "header_file",
                "parameters", "boundary", "content_id", "content_desc", "partial_part", "partial_total",
                "uid", "children"}
        uids = set()
        for block in walk(root):
            self.assertEqual(set(block), keys)
            uids.add(block["uid"])
            if block["data_file"]:
                self.assertTrue(os.path.isfile(block["data_file"]), block["data_file"])
                self.assertEqual(os.path.dirname(block["data_file"]).rstrip("/"), out)
        self.assertEqual(len(uids), 6, "every block has its own UID")
        self.assertEqual(read(gif["data_file"]), read(os.path.join(self.compose, "dot.gif")))
        self.assertIn(b"Hello Ben,", read(text["data_file"]))

    def test_unpack_text_tree_lists_every_part(self):
        r = run("unpack", self.report, "-d", os.path.join(self.dir, "p"))
        self.assertEqual(r.returncode, 0, r.stderr)
        lines = [l for l in r.stdout.decode().splitlines() if "(uid " in l]
        self.assertEqual(len(lines), 6, r.stdout)
        self.assertTrue(lines[0].startswith("MULTIPART/mixed"), lines[0])
        self.assertTrue(lines[5].startswith("  IMAGE/gif"), lines[5])
        self.assertIn("attachment", lines[5])
        self.assertTrue(lines[3].startswith("    TEXT/plain"), "the forwarded text is nested: " + lines[3])
        self.assertIn(os.path.join(self.dir, "p"), r.stderr.decode())

    def test_unpack_never_reuses_an_existing_directory(self):
        first = run("unpack", self.report, cwd=self.dir)
        self.assertEqual(first.returncode, 0, first.stderr)
        made = os.path.join(self.dir, "report.eml.parts")
        self.assertTrue(os.path.isdir(made))
        before = sorted(os.listdir(made))
        second = run("unpack", self.report, cwd=self.dir)
        self.assertEqual(second.returncode, 0, second.stderr)
        self.assertTrue(os.path.isdir(made + "-2"))
        self.assertIn("report.eml.parts-2", second.stderr.decode())
        self.assertEqual(sorted(os.listdir(made)), before)

    def test_unpack_no_extract_and_body_only(self):
        r = run("unpack", self.report, "-d", os.path.join(self.dir, "n"), "--no-extract", "--json")
        self.assertEqual(r.returncode, 0, r.stderr)
        doc = json.loads(r.stdout)
        self.assertEqual(doc["root"]["content_type_name"], "MULTIPART")
        self.assertEqual(len(doc["root"]["children"]), 4)
        # The body of report.eml without its header, as a mail program stores it: one
        # preamble line, then the first delimiter.
        raw = read(self.report)
        body = b"Preamble line.\n" + raw[raw.index(b"--outer-boundary-1"):]
        body_file = os.path.join(self.dir, "body.txt")
        write(body_file, body)
        r = run("unpack", body_file, "-d", os.path.join(self.dir, "b"), "--body-only", "--json")
        self.assertEqual(r.returncode, 0, r.stderr)
        doc = json.loads(r.stdout)
        self.assertEqual(len(doc["root"]["children"]), 4)

    def test_unpack_missing_message(self):
        missing = os.path.join(self.dir, "missing.eml")
        r = run("unpack", missing, "-d", os.path.join(self.dir, "m"), "--json")
        self.assertEqual(r.returncode, CME_FILE_ERROR)
        doc = json.loads(r.stdout)
        self.assertEqual(doc, {"result": 4, "result_name": "CME_FILE_ERROR", "root": None})
        self.assertIn(missing, r.stderr.decode())
        r = run("unpack", missing, cwd=self.dir)
        self.assertEqual(r.returncode, CME_FILE_ERROR)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "missing.eml.parts")))

    # ---- decode --------------------------------------------------------------------
    def test_decode_prints_text_and_never_overwrites(self):
        out = os.path.join(self.dir, "saved")
        os.mkdir(out)
        write(os.path.join(out, "dot.gif"), b"precious")
        r = run("decode", self.report, "-d", out)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b"Hello Ben,", r.stdout)
        self.assertEqual(read(os.path.join(out, "dot.gif")), b"precious")
        names = sorted(os.listdir(out))
        self.assertEqual(len(names), 3, names)
        self.assertEqual(len(re.findall(r"wrote ", r.stderr.decode())), 2, r.stderr)
        gif = read(os.path.join(self.compose, "dot.gif"))
        saved = [read(os.path.join(out, n)) for n in names]
        self.assertIn(gif, saved)
        csv = read(os.path.join(self.compose, "figures.csv"))
        self.assertIn(csv, [unix_text(s) for s in saved])

        again = run("decode", self.report, "-d", out)
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertEqual(len(os.listdir(out)), 5)
        for n in names:
            self.assertEqual(read(os.path.join(out, n)), saved[names.index(n)])

    def test_decode_leaves_no_work_directory(self):
        temp = os.path.join(self.dir, "tmp")
        os.mkdir(temp)
        out = os.path.join(self.dir, "o")
        os.mkdir(out)
        r = run("decode", self.report, "-d", out, env={"TMPDIR": temp})
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(os.listdir(temp), [])

    def test_decode_errors(self):
        r = run("decode", os.path.join(self.dir, "missing.eml"), "-d", self.dir)
        self.assertEqual(r.returncode, CME_FILE_ERROR)
        self.assertIn("missing.eml", r.stderr.decode())
        # A missing directory is made; one whose parent is missing, or a file in the
        # way, is an error that names it.
        made = os.path.join(self.dir, "made")
        r = run("decode", self.report, "-d", made)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(os.path.isdir(made))
        r = run("decode", self.report, "-d", os.path.join(self.dir, "nodir", "deeper"))
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("nodir", r.stderr.decode())
        r = run("decode", self.report, "-d", self.report)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("report.eml", r.stderr.decode())

    # ---- pack ----------------------------------------------------------------------
    def test_pack_files_and_parse_back(self):
        out = os.path.join(self.dir, "notes.eml")
        c = self.compose
        r = run("pack", "-o", out, "--header", f"{c}/header.txt", "--text", f"{c}/note.txt",
                "--html", f"{c}/note.html", "--attach", f"{c}/figures.csv", "--attach", f"{c}/dot.gif")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.decode().strip(), out)
        raw = read(out)
        self.assertTrue(raw.startswith(b"MIME-Version: 1.0\r\n"), raw[:40])
        self.assertIn(b"Subject: Meeting notes", raw)

        root = self.unpack_json(out, os.path.join(self.dir, "parts"))["root"]
        self.assertEqual(shape(root)[0:2], ("MULTIPART", "mixed"))
        alternative, csv, gif = root["children"]
        self.assertEqual(shape(alternative), ("MULTIPART", "alternative",
                                              [("TEXT", "plain", []), ("TEXT", "html", [])]))
        self.assertEqual(unix_text(read(alternative["children"][0]["data_file"])),
                         read(f"{c}/note.txt"))
        self.assertEqual(read(gif["data_file"]), read(f"{c}/dot.gif"))
        self.assertEqual(gif["content_type_name"], "IMAGE")
        self.assertEqual(gif["encode_type_name"], "BASE64", "attachments are sent mail-safe")

        r = run("decode", out, "-d", self.dir)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(unix_text(r.stdout), read(f"{c}/note.txt"))

    def test_pack_single_text(self):
        out = os.path.join(self.dir, "single.eml")
        r = run("pack", "-o", out, "--text", os.path.join(self.compose, "note.txt"))
        self.assertEqual(r.returncode, 0, r.stderr)
        root = self.unpack_json(out, os.path.join(self.dir, "p"))["root"]
        self.assertEqual(shape(root), ("TEXT", "plain", []))

    def test_pack_tree_json(self):
        out = os.path.join(self.dir, "tree.eml")
        r = run("pack", "-o", out, "--tree", os.path.join(self.compose, "tree.json"))
        self.assertEqual(r.returncode, 0, r.stderr)
        root = self.unpack_json(out, os.path.join(self.dir, "p"))["root"]
        self.assertEqual(shape(root)[0:2], ("MULTIPART", "mixed"))
        alternative, csv, gif = root["children"]
        self.assertEqual([b["content_type_name"] for b in alternative["children"]], ["TEXT", "TEXT"])
        self.assertEqual(gif["content_type_name"], "IMAGE")
        self.assertEqual(read(gif["data_file"]),
                         read(os.path.join(self.compose, "dot.gif")))

    def test_pack_without_output_reports_the_generated_file(self):
        temp = os.path.join(self.dir, "tmp")
        os.mkdir(temp)
        r = run("pack", "--text", os.path.join(self.compose, "note.txt"), env={"TMPDIR": temp})
        self.assertEqual(r.returncode, 0, r.stderr)
        path = r.stdout.decode().strip()
        self.assertTrue(path.endswith(".MME"), path)
        self.assertEqual(os.path.dirname(path).rstrip("/"), temp)
        self.assertTrue(read(path).startswith(b"MIME-Version: 1.0\r\n"))

    def test_pack_errors_name_the_file(self):
        missing = os.path.join(self.dir, "missing.pdf")
        r = run("pack", "-o", os.path.join(self.dir, "x.eml"), "--text",
                os.path.join(self.compose, "note.txt"), "--attach", missing)
        self.assertEqual(r.returncode, CME_INVALID_BLOCK, r.stderr)
        self.assertIn(missing, r.stderr.decode())
        self.assertFalse(os.path.exists(os.path.join(self.dir, "x.eml")))

        bad = os.path.join(self.dir, "bad.json")
        for content, needle in [("{not json", "not valid JSON"),
                                ('{"content_type": "nonsense"}', "content type"),
                                ('{"content_type": 3, "children": 5}', "children")]:
            write(bad, content)
            r = run("pack", "-o", os.path.join(self.dir, "y.eml"), "--tree", bad)
            self.assertEqual(r.returncode, USAGE_ERROR, content)
            self.assertIn(needle, r.stderr.decode(), content)

        write(bad, '{"content_type": "multipart", "subtype": "mixed", "data_file": "x"}')
        r = run("pack", "-o", os.path.join(self.dir, "y.eml"), "--tree", bad)
        self.assertEqual(r.returncode, CME_INVALID_BLOCK, r.stderr)

    # ---- encoded words -------------------------------------------------------------
    def test_encoded_words_follow_the_code_page(self):
        r = run("encode-word", "abc", env={"MIMEENGINE_ACP": "932"})
        self.assertEqual((r.returncode, r.stdout), (0, b"=?iso-2022-jp?B?YWJj?=\n"))
        r = run("encode-word", "abc", env={"MIMEENGINE_ACP": "1252"})
        self.assertEqual((r.returncode, r.stdout), (0, b"abc\n"))
        r = run("encode-word", "x" * 39, env={"MIMEENGINE_ACP": "932"})
        words = r.stdout.decode().rstrip("\n").split("\r\n ")
        self.assertEqual(len(words), 2, r.stdout)
        self.assertTrue(words[1].endswith("==?="), words[1])
        r = run("decode-word", "=?iso-8859-1?B?SGVsbG8=?=")
        self.assertEqual((r.returncode, r.stdout), (0, b"Hello\n"))
        r = run("decode-word", "plain text")
        self.assertEqual((r.returncode, r.stdout), (0, b"plain text\n"))


if __name__ == "__main__":
    PROGRAM, EXAMPLES = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0]], verbosity=2)
