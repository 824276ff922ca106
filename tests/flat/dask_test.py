"""dask_test.py MIMEENGINE SCRIPT: examples/dask/unpack_archive.py on Dask clusters of two worker
processes on 127.0.0.1, over an archive made with Python's mailbox and email modules (a Maildir
with a Maildir++ folder, and an mbox; 300 messages), against `mimeengine unpack` run directly:
the same messages in the same order, each with the same result, tree and part count, and DIR
the same tree of directories and file sizes. First on the script's own LocalCluster; then on
one of the test's, where a worker that has tasks is killed with SIGKILL after the first line:
the run still ends, every message once, one whole directory each and nothing else in DIR.
Run by /usr/bin/python3, which Debian's python3-distributed serves; exit 77 without it."""
import contextlib, email.message, json, mailbox, os, shutil, signal, subprocess, sys, tempfile, threading

try:
    from distributed import Client, LocalCluster
except ImportError:
    print("no Dask distributed for %s (scripts/install-deps.sh dask)" % sys.executable)
    sys.exit(77)


def make_archive(root, count=300):
    inbox = mailbox.Maildir(os.path.join(root, "mail"), create=True)
    boxes = (inbox, inbox.add_folder("Sent"), mailbox.mbox(os.path.join(root, "archive.mbox")))
    for i in range(count):
        m = email.message.EmailMessage()
        m["From"], m["To"], m["Subject"] = "ada@example.org", "ben@example.org", "message %d" % i
        m.set_content("Hello %d,\nFrom the start of a line\n%s" % (i, "more text\n" * (i % 40)))
        if i % 5 == 0:
            m.add_alternative("<p>message %d</p>" % i, subtype="html")
        if i % 3:
            m.add_attachment(bytes(range(256)) * (i % 7 + 1), maintype="application", subtype="octet-stream",
                             filename="data%d.bin" % i)
        boxes[i % 3].add(m)
    boxes[2].close()


def results(stdout):
    """(message, index) -> (result, part count, tree without its paths and uids), in order."""
    def tree(block):
        return block and {k: [tree(c) for c in v] if k == "children" else v for k, v in block.items()
                          if k not in ("data_file", "header_file", "uid")}
    def count(block):
        return block and 1 + sum(count(c) for c in block["children"]) or 0
    lines = [json.loads(line) for line in stdout.decode().splitlines()]
    return [((o["message"], o.get("index")), (o["result"], count(o["root"]), tree(o["root"]))) for o in lines]


def layout(top):
    """Every directory below top, with the sizes of its files (work-file names vary)."""
    return {os.path.relpath(d, top): sorted(os.path.getsize(os.path.join(d, n)) for n in names)
            for d, _, names in os.walk(top)}


def script(args, after_first_line=lambda: None):
    """Runs the script in a session of its own, all of which is killed when it ends or after
    300 s; returns its status, stdout and stderr."""
    errors = tempfile.TemporaryFile()
    run = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=errors, start_new_session=True)
    watchdog = threading.Timer(300, os.killpg, (run.pid, signal.SIGKILL))
    try:
        watchdog.start()
        out = run.stdout.readline()
        after_first_line()
        out += run.stdout.read()
        run.wait()
    finally:
        watchdog.cancel()
        with contextlib.suppress(ProcessLookupError):
            os.killpg(run.pid, signal.SIGKILL)
    errors.seek(0)
    return run.returncode, out, errors.read().decode()


def check(ok, what, details=""):
    if not ok:
        raise AssertionError(what + ("\n" + details[-3000:] if details else ""))


def main(program, example):
    root = tempfile.mkdtemp(prefix="mimeengine-dask.")
    try:
        make_archive(root)
        archive = [os.path.join(root, "mail"), os.path.join(root, "archive.mbox")]
        direct = subprocess.run([program, "unpack", "-r", "--json", "--jobs", "2", "-d", root + "/direct"] + archive,
                                capture_output=True, timeout=300)
        expected, tree = results(direct.stdout), layout(root + "/direct")
        check(direct.returncode == 0 and len(expected) == 300, "the direct run", direct.stderr.decode())
        command = ["/usr/bin/python3", example, "--mimeengine", program, "-r"] + archive

        status, out, errors = script(command + ["--workers", "2", "-d", root + "/own"])
        check(status == 0 and results(out) == expected, "the run on the script's cluster", errors)
        check(layout(root + "/own") == tree, "DIR of the run on the script's cluster")

        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                          dashboard_address=None) as cluster, Client(cluster) as client:
            addresses = [cluster.scheduler_address] + list(client.nthreads())
            check(all(a.startswith("tcp://127.0.0.1:") for a in addresses), "addresses " + " ".join(addresses))
            killed = []

            def kill_a_busy_worker():
                busy, tasks = max(client.processing().items(), key=lambda item: len(item[1]))
                check(tasks, "no worker has tasks after the first line")
                os.kill(client.run(os.getpid, workers=[busy])[busy], signal.SIGKILL)
                killed.append(busy)

            status, out, errors = script(command + ["--scheduler", cluster.scheduler_address, "--per-task", "10",
                                                    "-d", root + "/faulty"], kill_a_busy_worker)
            check(killed and killed[0] not in client.nthreads(), "the killed worker is still there")
        check(status == 0 and results(out) == expected, "the run that lost a worker", errors)
        check(layout(root + "/faulty") == tree, "DIR of the run that lost a worker")
        print("dask: 300 messages on two clusters of two workers, one worker killed, the same as unpacked directly")
        return 0
    finally:
        shutil.rmtree(root)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
