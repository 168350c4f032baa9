#!/usr/bin/env python3
"""Times vellix against peer tools and the floors cat and cp, as whole
processes, and prints the medians as Markdown tables. Run through bench/run."""
import argparse
import os
import platform
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import edits

HERE = os.path.dirname(os.path.abspath(__file__))
FILES = ["large", "large-os", "objects", "objects-os", "pages", "pages-os"]
SCALES = [0.25, 0.5, 1.0]
TITLE = "Benchmark title"


def log(msg):
    print(msg, file=sys.stderr, flush=True)


# ---- inputs -----------------------------------------------------------------

def ensure_inputs(data_dir, size_mb, scale):
    """Generates the inputs of one scale unless a matching set is there."""
    d = os.path.join(data_dir, "%gmb" % (size_mb * scale))
    stamp = os.path.join(d, "STAMP")
    gen = os.path.join(HERE, "gen_inputs.py")
    want = "scale=%r mtime=%d\n" % (size_mb / 100.0 * scale, os.path.getmtime(gen))
    if os.path.exists(stamp) and open(stamp).read() == want:
        return d
    log("generating inputs in %s" % d)
    if os.path.isdir(d):
        shutil.rmtree(d)
    subprocess.run([sys.executable, gen, d, "--scale", repr(size_mb / 100.0 * scale)], check=True)
    with open(stamp, "w") as f:
        f.write(want)
    return d


# ---- timing -----------------------------------------------------------------

class Timer:
    """Median wall times of several commands that are compared with each
    other. The commands take turns, one run of each per round, so that a
    change in the machine's load touches them all alike. Output goes to
    /dev/null; `prepare` runs untimed before every run of a command. There
    are at least `runs` rounds, more when a round is short (for about
    `budget` seconds, at most MAX_RUNS rounds)."""

    MAX_RUNS = 40

    def __init__(self, runs, warmup, budget=2.0):
        self.runs, self.warmup, self.budget = runs, warmup, budget

    def medians(self, cmds):
        """cmds: [(argv, prepare)]. Seconds for each, None for one that fails."""
        ok, once = [], 0.0
        for argv, prep in cmds:  # the first run checks the command and warms it up
            t, rc = self._timed(argv, prep)
            if rc != 0:
                log("  failed (%d): %s" % (rc, shlex.join(argv)))
            ok.append(rc == 0)
            once += t if rc == 0 else 0.0
        live = [c for c, good in zip(cmds, ok) if good]
        for _ in range(self.warmup - 1):
            for argv, prep in live:
                self._timed(argv, prep)
        rounds = max(self.runs, min(self.MAX_RUNS, int(self.budget / max(once, 1e-3))))
        times = [[] for _ in cmds]
        for _ in range(rounds):
            for k, (argv, prep) in enumerate(cmds):
                if ok[k]:
                    times[k].append(self._timed(argv, prep)[0])
        return [statistics.median(t) if t else None for t in times]

    def median(self, argv, prepare=None):
        return self.medians([(argv, prepare)])[0]

    @staticmethod
    def _timed(argv, prepare):
        """(wall seconds, exit status) of one run."""
        if prepare:
            subprocess.run(prepare, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        actions = [(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0),
                   (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0)]
        t0 = time.perf_counter()
        try:
            pid = os.posix_spawnp(argv[0], argv, os.environ, file_actions=actions)
        except OSError:
            return 0.0, 127
        _, status = os.waitpid(pid, 0)
        t = time.perf_counter() - t0
        return t, os.waitstatus_to_exitcode(status)


# ---- the work ---------------------------------------------------------------

def have(tool):
    return shutil.which(tool) is not None


def file_ops(tool, driver, path, out):
    """(operation, vellix argv, driver argv, (floor, argv), [(peer, needed tool, argv)], prepare)."""
    rm = ["rm", "-f", out]
    ops = [
        ("info", [tool, "info", path], [driver, "read", path], ("cat", ["cat", path]),
         [("pdfinfo", "pdfinfo", ["pdfinfo", path]),
          ("qpdf --show-npages", "qpdf", ["qpdf", "--show-npages", path]),
          ("exiftool", "exiftool", ["exiftool", "-PDF:all", path])], None),
        ("xmp", [tool, "xmp", path], [driver, "xmp", path], ("cat", ["cat", path]),
         [("pdfinfo -meta", "pdfinfo", ["pdfinfo", "-meta", path]),
          ("exiftool", "exiftool", ["exiftool", "-XMP:all", path])], None),
        ("analyze", [tool, "analyze", path], [driver, "analyze", path], ("cat", ["cat", path]), [], None),
        ("set title", [tool, "set", path, "-o", out, "--title", TITLE], [driver, "write", path, out, TITLE],
         ("cp", ["cp", path, out]),
         [("qpdf in out", "qpdf", ["qpdf", path, out]),
          ("exiftool", "exiftool", ["exiftool", "-Title=" + TITLE, "-o", out, path])],
         rm),
    ]
    return ops


def dir_ops(tool, driver, d, out):
    rm = ["rm", "-rf", out]
    pdfs = "for f in %s/*.pdf; do pdfinfo \"$f\"; done" % shlex.quote(d)
    return [
        ("batch read", [tool, "batch", d], [driver, "batch-read", d],
         ("cat", ["sh", "-c", "cat %s/*.pdf" % shlex.quote(d)]),
         [("pdfinfo (loop)", "pdfinfo", ["sh", "-c", pdfs]), ("exiftool", "exiftool", ["exiftool", "-PDF:all", d])],
         None),
        ("batch clear", [tool, "batch-clear", d, out], [driver, "batch-clear", d, out],
         ("cp", ["cp", "-r", d, out]),
         [("exiftool", "exiftool", ["exiftool", "-PDF:all=", "-XMP:all=", "-o", out + "/", d])], rm),
    ]


def all_ops(tool, driver, inputs, scratch):
    """(input name, op tuple) for every input present."""
    out = []
    for name in FILES:
        path = os.path.join(inputs, name + ".pdf")
        if os.path.exists(path):
            out += [(name, op) for op in file_ops(tool, driver, path, os.path.join(scratch, "out.pdf"))]
    out += [("small/", op) for op in dir_ops(tool, driver, os.path.join(inputs, "small"),
                                            os.path.join(scratch, "outdir"))]
    return out


# ---- report -----------------------------------------------------------------

def ms(t):
    return "—" if t is None else ("%.1f" % (t * 1000) if t < 10 else "%.0f" % (t * 1000))


def ratio(a, b):
    return "—" if a is None or b is None or b == 0 else "%.2f" % (a / b)


def size_of(path):
    if os.path.isdir(path):
        return sum(os.path.getsize(os.path.join(path, f)) for f in os.listdir(path))
    return os.path.getsize(path)


def default_scratch(data_dir):
    """Outputs go to memory (/dev/shm) when it has room: then the figures of
    the writers do not depend on the disk's write-back."""
    shm = "/dev/shm"
    try:
        st = os.statvfs(shm)
        if os.access(shm, os.W_OK) and st.f_bavail * st.f_frsize >= 2 << 30:
            return shm
    except OSError:
        pass
    return data_dir


def cpu_model():
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def load_avg():
    return "%.2f %.2f %.2f" % os.getloadavg()


def tool_version(argv):
    try:
        r = subprocess.run(argv, capture_output=True, text=True)
        return (r.stdout + r.stderr).strip().splitlines()[0]
    except (OSError, IndexError):
        return "not installed"


def measure_full(timer, tool, driver, full, scratch):
    """Rows (input, op, vellix, driver, floor name, floor, [(peer, time)])."""
    rows = []
    for name, (op, vcmd, dcmd, (floor_name, fcmd), peers, prep) in all_ops(tool, driver, full, scratch):
        log("%s %s" % (name, op))
        peers = [(pn, pc) for pn, need, pc in peers if have(need)]
        t = timer.medians([(vcmd, prep), (dcmd, prep), (fcmd, prep)] + [(pc, prep) for _, pc in peers])
        rows.append((name, op, t[0], t[1], floor_name, t[2], [(pn, x) for (pn, _), x in zip(peers, t[3:])]))
    return rows


def measure_scaling(timer, tool, driver, inputs, scratch):
    """(input, op) -> {scale: vellix time}, the three sizes of an operation
    taking turns."""
    per_scale = {s: all_ops(tool, driver, inputs[s], scratch) for s in SCALES}
    sc = {}
    for k, (name, (op, *_)) in enumerate(per_scale[1.0]):
        log("scaling: %s %s" % (name, op))
        cmds = [(per_scale[s][k][1][1], per_scale[s][k][1][5]) for s in SCALES]
        sc[(name, op)] = dict(zip(SCALES, timer.medians(cmds)))
    return sc


def goals_of(rows, sc):
    """(met, text) for every goal of the suite that the measurements cover."""
    goals = []
    for name, op, v, d, fname, f, pt in rows:
        peer = dict(pt)
        if op == "info" and not name.startswith("large") and peer.get("pdfinfo") is not None and v is not None:
            goals.append((v < peer["pdfinfo"], "info on %s faster than pdfinfo (%s vs %s ms)"
                          % (name, ms(v), ms(peer["pdfinfo"]))))
        if op == "info" and name == "large" and v is not None and f is not None:
            goals.append((v <= 3 * f, "info on large within 3x of cat (%s x)" % ratio(v, f)))
        if op == "set title" and v is not None:
            times = [p for _, p in pt if p is not None]
            if times:
                goals.append((3 * v <= min(times), "rewrite on %s at least 3x faster than the fastest peer "
                              "(the fastest peer takes %s x)" % (name, ratio(min(times), v))))
            if f is not None:
                goals.append((v <= 2.5 * f, "rewrite on %s within 2.5x of cp (%s x)" % (name, ratio(v, f))))
    for (name, op), t in sc.items():
        q, h, f = t.get(0.25), t.get(0.5), t.get(1.0)
        if q and h and f:
            goals.append((h / q <= 2.2 and f / h <= 2.2, "%s on %s scales linearly (½÷¼ %.2f, full÷½ %.2f)"
                          % (op, name, h / q, f / h)))
    return goals


def report(a, full, rows, sc, goals, loads, scratch_dir):
    out = []
    emit = out.append
    emit("Command: `%s`. Inputs of %g MB (the large file; the others in proportion). Wall time in ms: the median "
         "of at least %d runs (up to %d when they are short) after %d warm-up run; the commands of one row take "
         "turns, one run each per round. Outputs written to %s." % (a.command, a.size_mb, a.runs, Timer.MAX_RUNS,
                                                                     a.warmup, scratch_dir))
    emit("")
    emit("| input | size MB | operation | vellix | driver | floor | vellix ÷ floor | peers: ms (vellix ÷ peer) |")
    emit("|---|---:|---|---:|---:|---:|---:|---|")
    for name, op, v, d, fname, f, pt in rows:
        path = os.path.join(full, name + ".pdf") if name != "small/" else os.path.join(full, "small")
        peers = "; ".join("%s %s (%s)" % (pn, ms(p), ratio(v, p)) for pn, p in pt) or "none does this"
        emit("| %s | %.1f | %s | %s | %s | %s %s | %s | %s |" % (name, size_of(path) / 1e6, op, ms(v), ms(d), fname,
                                                             ms(f), ratio(v, f), peers))
    if sc and any(len(t) > 1 for t in sc.values()):
        emit("")
        emit("Scaling of the vellix tool: time at a quarter, half and the full size, the three taking turns "
             "(linear when each doubling takes at most 2.2x the time):")
        emit("")
        emit("| input | operation | ¼ ms | ½ ms | full ms | ½ ÷ ¼ | full ÷ ¼ | full ÷ ½ |")
        emit("|---|---|---:|---:|---:|---:|---:|---:|")
        for (name, op), t in sc.items():
            q, h, f = t.get(0.25), t.get(0.5), t.get(1.0)
            emit("| %s | %s | %s | %s | %s | %s | %s | %s |" % (name, op, ms(q), ms(h), ms(f), ratio(h, q),
                                                              ratio(f, q), ratio(f, h)))
    emit("")
    emit("Goals:")
    emit("")
    for ok, text in goals:
        emit("- %s %s" % ("met:   " if ok else "MISSED:", text))
    emit("")
    emit("Machine: %s, nproc %d. Load average (1, 5, 15 min): %s." % (cpu_model(), os.cpu_count(), "; ".join(
        "%s %s" % (k, v) for k, v in loads)))
    emit("Peers: %s; %s; exiftool %s." % (
        tool_version(["pdfinfo", "-v"]), tool_version(["qpdf", "--version"]), tool_version(["exiftool", "-ver"])))
    return "\n".join(out) + "\n"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--data", required=True)
    ap.add_argument("--size-mb", type=float, default=100)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--warmup", type=int, default=1)
    ap.add_argument("--no-scaling", action="store_true")
    ap.add_argument("--out")
    ap.add_argument("--command", default="bench/run")
    ap.add_argument("--scratch", help="directory for the outputs (default: /dev/shm when it has room)")
    a = ap.parse_args()

    tool = os.path.join(a.build, "vellix")
    driver = os.path.join(a.build, "bench", "driver")
    scales = [1.0] if a.no_scaling else SCALES
    inputs = {s: ensure_inputs(a.data, a.size_mb, s) for s in scales}
    scratch = tempfile.mkdtemp(prefix="vellix-bench-", dir=a.scratch or default_scratch(a.data))
    timer = Timer(a.runs, a.warmup)
    try:
        loads = [("before", load_avg())]
        rows = measure_full(timer, tool, driver, inputs[1.0], scratch)
        loads.append(("after the full size", load_avg()))
        sc = {(name, op): {1.0: v} for name, op, v, *_ in rows}
        if not a.no_scaling:
            sc = measure_scaling(timer, tool, driver, inputs, scratch)
            loads.append(("after the scaling runs", load_avg()))
        size_rows = edits.sizes(tool, inputs[1.0], FILES, scratch)
        gb = edits.make_gb_input(os.path.join(inputs[1.0], "large.pdf"), os.path.join(a.data, "gb.pdf"))
        edit_load = load_avg()
        edit_dir = tempfile.mkdtemp(prefix="vellix-edits-", dir=a.data)  # on disk: the syncs count
        try:
            time_rows = edits.in_place_times(timer, tool, [("large", os.path.join(inputs[1.0], "large.pdf")),
                                                           ("1 GB", gb)], edit_dir)
        finally:
            shutil.rmtree(edit_dir, ignore_errors=True)
        loads.append(("after the edits", load_avg()))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    edit_lines, edit_goals = edits.report(size_rows, time_rows, ms, edit_load)
    text = report(a, inputs[1.0], rows, sc, goals_of(rows, sc) + edit_goals, loads, os.path.dirname(scratch))
    text += "\n".join(edit_lines) + "\n"
    sys.stdout.write(text)
    if a.out:
        with open(a.out, "w") as f:
            f.write(text)


if __name__ == "__main__":
    main()
