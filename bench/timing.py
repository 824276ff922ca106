#!/usr/bin/env python3
"""Runs the jobs of compare.sh in turn with the copy floor and the peers, and prints a table.

    timing.py INPUTS SCRATCH RUNS GMIME_DRIVER|- LABEL=BUILD_DIR...

Every build directory must hold mimeengine and bench/unpack_many. Outputs go to
SCRATCH (tmpfs), which is emptied before every run; only the run itself is timed.

Besides the copy floor (cat, which copies inside the kernel), every job has an io floor: the
first build's bench/io_floor reads the job's inputs and writes files of the sizes that build
wrote, in the same directories, and nothing else: what any engine pays that reads and writes
through user space. The kernel % column is the system time's share of the processor time
of all of a column's runs (the shell's rusage, which holds the commands it waited for).
"""
import os
import shutil
import statistics
import subprocess
import sys
import time


def run(cmd, scratch):
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    # The kernel frees what the last run wrote for a while after its removal, on another
    # core: that is no part of this run.
    time.sleep(0.1)
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, shell=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - start
    # The engine's result code is no failure here (a plain text has no MIME header); a
    # signal or a shell error is.
    code = os.waitstatus_to_exitcode(status)
    if code < 0 or code >= 126:
        sys.exit(f"failed ({code}): {cmd}")
    # Processor time in the kernel and in all, the shell and what it waited for included.
    return elapsed, (usage.ru_stime, usage.ru_utime + usage.ru_stime)


def peak_rss(cmd, scratch):
    """Peak resident set of the command in MiB, from one more run under GNU time (the
    rusage of a child forked from Python would count Python's own pages)."""
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    report = os.path.join(scratch, ".rss")
    subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report, "sh", "-c", cmd],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(report) as f:
        return int(f.read().split()[-1]) / 1024.0


def write_plan(scratch, groups, path):
    """The io floor's plan from what the engine left in scratch: groups is a list of
    (inputs, names), the inputs of a message and the entries of scratch it made."""
    lines = []
    for inputs, names in groups:
        lines += [f"M {i}" for i in inputs]
        for name in names:
            top = os.path.join(scratch, name)
            if os.path.isfile(top):
                lines.append(f"F {top} {os.path.getsize(top)}")
                continue
            for parent, dirs, files in os.walk(top):
                dirs.sort()
                lines.append(f"D {parent}")
                lines += [f"F {os.path.join(parent, f)} {os.path.getsize(os.path.join(parent, f))}"
                          for f in sorted(files)]
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


def main():
    inputs, scratch, runs, gmime = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
    builds = [a.split("=", 1) for a in sys.argv[5:]]
    i = lambda n: os.path.join(inputs, n)
    o = scratch
    with open(i("many.list")) as f:
        many = [line.strip() for line in f if line.strip()]
    # Which inputs each message reads and which entries of the scratch directory it makes.
    single = lambda *names: lambda: [([i(n) for n in names], sorted(os.listdir(o)))]
    per_list = lambda: [([m], [str(n)]) for n, m in enumerate(many)]
    per_dir = lambda: [([i(os.path.join("many", m))], [m + ".parts"]) for m in sorted(os.listdir(i("many")))]
    jobs = [
        ("parse base64", 1, f"cat {i('b64.eml')} > {o}/out",
         "{me} unpack " + i("b64.eml") + f" -d {o}/d", f"{gmime} parse {i('b64.eml')} {o}", single("b64.eml"), 1),
        ("parse QP", 1, f"cat {i('qp.eml')} > {o}/out",
         "{me} unpack " + i("qp.eml") + f" -d {o}/d", f"{gmime} parse {i('qp.eml')} {o}", single("qp.eml"), 1),
        ("scan uuencode", 1, f"cat {i('uu.txt')} > {o}/out",
         "{me} unpack " + i("uu.txt") + f" -d {o}/d", f"{gmime} uu {i('uu.txt')} {o}", single("uu.txt"), 1),
        ("compose", 1, f"cat {i('text.txt')} {i('attach.bin')} > {o}/out",
         "{me} pack --keep-line-ends -o " + f"{o}/c.eml --text {i('text.txt')} --attach {i('attach.bin')}",
         f"{gmime} compose {i('text.txt')} {i('attach.bin')} {o}/c.eml", single("text.txt", "attach.bin"), 1),
        ("parse many", 2000, f"xargs cat < {i('many.list')} > {o}/out",
         "{many} " + i("many.list") + f" {o}", f"{gmime} many {i('many.list')} {o}", per_list, 1),
        # The program's batch over the same messages, one thread and two: GMime's column is
        # its one-process run again, for scale.
        ("batch, --jobs 1", 2000, f"xargs cat < {i('many.list')} > {o}/out",
         "{me} unpack " + i("many") + f" --jobs 1 -d {o}", f"{gmime} many {i('many.list')} {o}", per_dir, 1),
        ("batch, --jobs 2", 2000, f"xargs cat < {i('many.list')} > {o}/out",
         "{me} unpack " + i("many") + f" --jobs 2 -d {o}", f"{gmime} many {i('many.list')} {o}", per_dir, 2),
    ]
    print(f"{runs} runs per column, medians; outputs in {scratch}", file=sys.stderr)
    rows = []
    plans = os.path.join(os.path.dirname(os.path.abspath(scratch)), "mimeengine-bench-plans")
    os.makedirs(plans, exist_ok=True)
    for index, (name, msgs, floor, engine, peer, groups, threads) in enumerate(jobs):
        columns = [("floor", floor)]
        for label, build in builds:
            me = os.path.join(build, "mimeengine")
            unpack_many = os.path.join(build, "bench", "unpack_many")
            columns.append((label, engine.format(me=me, many=unpack_many)))
        # The first build's outputs, once and untimed, make the io floor's plan.
        run(columns[1][1], scratch)
        plan = os.path.join(plans, f"{index}.plan")
        write_plan(scratch, groups(), plan)
        columns.insert(1, ("io floor", f"{os.path.join(builds[0][1], 'bench', 'io_floor')} {plan} {threads}"))
        if gmime != "-":
            columns.append(("GMime", peer))
        times = {c: [] for c, _ in columns}
        splits = {c: [] for c, _ in columns}
        for _ in range(runs):
            for label, cmd in columns:
                elapsed, split = run(cmd, scratch)
                times[label].append(elapsed)
                splits[label].append(split)
        rss = {c: peak_rss(cmd, scratch) for c, cmd in columns}
        med = {c: statistics.median(v) for c, v in times.items()}
        # The kernel splits user and system time by its timer tick, a few ticks a run: the
        # share is pooled over all runs of a column.
        share = {c: sum(k for k, _ in v) / max(sum(t for _, t in v), 1e-9) for c, v in splits.items()}
        rows.append((name, msgs, med, rss, share))
        print(f"  {name}: " + ", ".join(f"{c} {med[c]:.3f}s" for c in med), file=sys.stderr)
    shutil.rmtree(scratch, ignore_errors=True)
    shutil.rmtree(plans, ignore_errors=True)

    labels = ["io floor"] + [l for l, _ in builds] + (["GMime"] if gmime != "-" else [])
    print("| job | column | median s | × floor | × io floor | × GMime | msgs/s | kernel % | peak RSS MiB |")
    print("|---|---|---|---|---|---|---|---|---|")
    for name, msgs, med, rss, kernel in rows:
        rate = f"{msgs / med['floor']:.0f}" if msgs > 1 else ""
        print(f"| {name} | floor (cat) | {med['floor']:.3f} | 1.00 | | | {rate} | "
              f"{100 * kernel['floor']:.0f} | {rss['floor']:.1f} |")
        for label in labels:
            vs = f"{med[label] / med['GMime']:.2f}" if "GMime" in med else "n/a"
            rate = f"{msgs / med[label]:.0f}" if msgs > 1 else ""
            print(f"| {name} | {label} | {med[label]:.3f} | {med[label] / med['floor']:.2f} | "
                  f"{med[label] / med['io floor']:.2f} | {vs} | {rate} | {100 * kernel[label]:.0f} | "
                  f"{rss[label]:.1f} |")
    batch = {name: med for name, _, med, _, _ in rows if name.startswith("batch")}
    print()
    for label in ["io floor"] + [l for l, _ in builds]:
        one, two = batch["batch, --jobs 1"][label], batch["batch, --jobs 2"][label]
        print(f"batch, {label}: two threads run {one / two:.2f} times the rate of one")


if __name__ == "__main__":
    main()
