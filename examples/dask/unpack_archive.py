#!/usr/bin/python3
"""Unpacks mail archives on a Dask cluster with the mimeengine program.

    unpack_archive.py -d DIR [--scheduler ADDRESS | --workers N] [-r] [--format F]
                      [--mimeengine PROGRAM] [--per-task N] MESSAGE|DIRECTORY|MBOX|- ...

The arguments are what `mimeengine unpack` takes: message files, directories, Maildirs, mbox
files, or - for paths on standard input. `mimeengine unpack --list` reads them here, and the
files are spread over tasks: message files in shares of --per-task, each mbox in a task of its
own, which splits it as it unpacks it (an mbox is read once, by one worker). Every task runs

    mimeengine unpack - --jobs 1 --json --replace -d DIR

on its share, so that a task run again after its worker was lost replaces what the first run
left. DIR and the archives must be on storage that every worker sees under the same paths
(they are made absolute here), and PROGRAM must run on every worker.

--scheduler uses an existing cluster; otherwise a LocalCluster of N worker processes (default
2) runs on this machine, on 127.0.0.1. Standard output has the JSON Lines of the messages in
input order; standard error a summary (messages, failed, parts, messages per second, the
cluster's start-up not counted) and, on a terminal, Dask's progress bar. Exit status: 0, 3 when
some message failed, 1 when a task or the listing failed.

Debian's python3-distributed and python3-dask serve /usr/bin/python3, which the first line names.
"""
import argparse
import contextlib
import json
import math
import os
import subprocess
import sys
import time


def unpack_share(program, directory, lines):
    """The task: unpacks a share ("PATH<TAB>NAME" lines) and returns its JSON Lines."""
    run = subprocess.run([program, "unpack", "-", "--jobs", "1", "--json", "--replace", "-d", directory],
                         input=b"".join(os.fsencode(line) + b"\n" for line in lines), capture_output=True)
    if run.returncode not in (0, 3):  # 3: some message failed, and its line says so
        raise RuntimeError("mimeengine unpack exited with %d: %s" % (run.returncode, run.stderr.decode(errors="replace")))
    return run.stdout.decode(errors="replace").splitlines()


def shares(listing, per_task):
    """Groups the lines of --list: runs of up to per_task message files, each mbox alone."""
    share = []
    for line in listing:
        path, name, kind = line.split("\t")
        if kind == "mbox" and share:
            yield share
            share = []
        share.append(path + "\t" + name)
        if kind == "mbox" or len(share) == per_task:
            yield share
            share = []
    if share:
        yield share


def count_parts(block):
    return 0 if block is None else 1 + sum(count_parts(child) for child in block["children"])


def run(args, client, threads):
    """Lists, submits, prints in order; returns the exit status."""
    start = time.monotonic()
    paths = [path if path == "-" else os.path.abspath(path) for path in args.paths]
    options = ["-r"] * args.recursive + ["--format", args.format]
    listed = subprocess.run([args.mimeengine, "unpack", "--list"] + options + ["--"] + paths, stdout=subprocess.PIPE)
    if listed.returncode not in (0, 3):
        return 1
    listing = listed.stdout.decode(errors="surrogateescape").splitlines()
    per_task = args.per_task or max(1, min(500, math.ceil(len(listing) / (4 * threads))))
    program, directory = os.path.abspath(args.mimeengine) if os.sep in args.mimeengine else args.mimeengine, args.dir
    futures = [client.submit(unpack_share, program, directory, share, pure=False)
               for share in shares(listing, per_task)]
    if sys.stderr.isatty():
        from distributed import progress
        with contextlib.redirect_stdout(sys.stderr):  # the bar goes to stdout otherwise
            progress(futures)
    messages = failed = parts = 0
    for future in futures:
        for line in future.result():
            print(line, flush=True)
            result = json.loads(line)
            messages += 1
            failed += result["result"] != 0 or result["root"] is None
            parts += count_parts(result["root"])
    seconds = time.monotonic() - start
    print("unpack_archive: %d messages, %d failed, %d parts, %.0f msgs/s on %d workers' threads in %d tasks"
          % (messages, failed, parts, messages / seconds if seconds > 0 else 0, threads, len(futures)),
          file=sys.stderr)
    return 3 if failed or listed.returncode else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("paths", nargs="+", metavar="PATH")
    parser.add_argument("-d", "--dir", required=True, help="where the parts go, seen by every worker")
    where = parser.add_mutually_exclusive_group()
    where.add_argument("--scheduler", metavar="ADDRESS", help="an existing cluster's scheduler")
    where.add_argument("--workers", type=int, default=2, metavar="N", help="a LocalCluster of N processes")
    parser.add_argument("-r", "--recursive", action="store_true")
    parser.add_argument("--format", default="auto", choices=["auto", "mbox", "maildir", "file"])
    parser.add_argument("--mimeengine", default="mimeengine", metavar="PROGRAM")
    parser.add_argument("--per-task", type=int, default=0, metavar="N", help="message files per task")
    args = parser.parse_args()
    args.dir = os.path.abspath(args.dir)
    from distributed import Client, LocalCluster
    with contextlib.ExitStack() as stack:
        if args.scheduler:
            client = stack.enter_context(Client(args.scheduler))
        else:
            cluster = stack.enter_context(LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                                                       host="127.0.0.1", dashboard_address=None))
            client = stack.enter_context(Client(cluster))
        try:
            return run(args, client, max(1, sum(client.nthreads().values())))
        except Exception as error:  # a task that failed: its message says why
            print("unpack_archive: %s" % error, file=sys.stderr)
            return 1


if __name__ == "__main__":
    sys.exit(main())
