"""A mail program in Python: loads libmimeengine with ctypes and decodes a message
through DecodeMimeMessage, then releases what it got.

Usage: ctypes_client.py LIBRARY EXAMPLES_DIR
"""
import ctypes
import os
import sys
import tempfile


def main():
    library_path, examples = sys.argv[1], sys.argv[2]
    temp = tempfile.mkdtemp(prefix="mimeengine-ctypes.")
    # The library takes its temporary directory from the environment at each call.
    os.environ["TMPDIR"] = temp

    lib = ctypes.CDLL(library_path)
    lib.DecodeMimeMessage.argtypes = [
        ctypes.c_char_p,
        ctypes.POINTER(ctypes.c_char_p),
        ctypes.POINTER(ctypes.c_ulong),
        ctypes.POINTER(ctypes.POINTER(ctypes.c_char_p)),
    ]
    lib.DecodeMimeMessage.restype = ctypes.c_int
    lib.FreeMimeMsgText.argtypes = [ctypes.POINTER(ctypes.c_char_p)]
    lib.FreeMimeMsgText.restype = None
    lib.FreeMimeAttachmentList.argtypes = [ctypes.c_ulong, ctypes.POINTER(ctypes.POINTER(ctypes.c_char_p))]
    lib.FreeMimeAttachmentList.restype = None

    message = os.path.join(examples, "messages", "report.eml")
    text = ctypes.c_char_p()
    count = ctypes.c_ulong(99)
    attachments = ctypes.POINTER(ctypes.c_char_p)()
    ok = lib.DecodeMimeMessage(message.encode(), ctypes.byref(text), ctypes.byref(count), ctypes.byref(attachments))
    assert ok == 1, "DecodeMimeMessage failed"
    body = text.value.decode("latin-1")
    assert "Hello Ben," in body and "Regards," in body, body
    assert "Carl" not in body.split("Regards,")[1], "the forwarded message is not part of the text"

    assert count.value == 2, count.value
    paths = [attachments[i].decode() for i in range(count.value)]
    work_dir = os.path.dirname(paths[0])
    assert os.path.basename(work_dir).startswith("md"), work_dir
    assert os.path.dirname(work_dir) == temp.rstrip("/"), work_dir
    assert all(os.path.dirname(p) == work_dir for p in paths), paths
    assert oct(os.stat(work_dir).st_mode & 0o777) == oct(0o700)

    with open(os.path.join(examples, "compose", "dot.gif"), "rb") as f:
        gif = f.read()
    with open(os.path.join(examples, "compose", "figures.csv"), "rb") as f:
        csv = f.read()
    contents = []
    for p in paths:
        with open(p, "rb") as f:
            contents.append(f.read().replace(b"\r\n", b"\n"))
    assert gif in contents, "the GIF attachment is not decoded byte for byte"
    assert csv in contents, "the CSV attachment is not decoded"

    lib.FreeMimeMsgText(ctypes.byref(text))
    assert text.value is None
    lib.FreeMimeAttachmentList(count, ctypes.byref(attachments))
    assert not attachments, "the list receiver is reset"
    assert not os.path.exists(work_dir), "the work directory is removed"

    # A message that cannot be opened: FALSE and nothing left on disk.
    ok = lib.DecodeMimeMessage(b"/nonexistent/x.eml", ctypes.byref(text), ctypes.byref(count),
                               ctypes.byref(attachments))
    assert ok == 0 and text.value is None and count.value == 0 and not attachments
    assert not [n for n in os.listdir(temp) if n.startswith("md")], os.listdir(temp)

    os.rmdir(temp)
    print("ctypes client: all checks passed")


if __name__ == "__main__":
    main()
