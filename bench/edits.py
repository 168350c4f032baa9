"""Edits that keep the document, measured for bench/bench.py: the output
size of `set title` on every input as a full rewrite with every object
written plainly (--exact), as the tool's default full rewrite (untouched
object streams copied) and as an incremental update, and the time of an in-place incremental `set title` on the large
input and on a 1 GB input, beside exiftool and qpdf doing the same edit in
place."""
import os
import shutil
import subprocess

TITLE = "Benchmark title"
GB_TARGET = 1 << 30


def _tool_set(tool, path, out, incremental, exact=False):
    argv = [tool, "set", path, "--title", TITLE] + (["--in-place"] if out is None else ["-o", out])
    return argv + (["--incremental"] if incremental else []) + (["--exact"] if exact else [])


def sizes(tool, inputs, names, scratch):
    """Rows (input, input bytes, --exact full rewrite bytes, default full
    rewrite bytes (object streams kept), incremental bytes)."""
    rows = []
    out = os.path.join(scratch, "size-out.pdf")
    for name in names:
        path = os.path.join(inputs, name + ".pdf")
        if not os.path.exists(path):
            continue
        row = [name, os.path.getsize(path)]
        for incremental, exact in ((False, True), (False, False), (True, False)):
            r = subprocess.run(_tool_set(tool, path, out, incremental, exact), capture_output=True)
            row.append(os.path.getsize(out) if r.returncode == 0 else None)
            if os.path.exists(out):
                os.remove(out)
        rows.append(tuple(row))
    return rows


def make_gb_input(large, path):
    """A file of about 1 GB: the large input followed by an update holding one
    unreferenced stream that fills it up, with its own cross-reference table
    (so the last section is a table and the document is the large one)."""
    if os.path.exists(path) and os.path.getsize(path) >= GB_TARGET:
        return path
    shutil.copyfile(large, path)
    data = open(large, "rb").read()
    sx = data.rindex(b"startxref")
    prev = int(data[sx + 9:].split()[0])
    tail = data[prev:sx]
    size = int(tail[tail.index(b"/Size") + 5:].split()[0].rstrip(b">/"))
    root = tail[tail.index(b"/Root") + 5:].split()[0]
    fill = GB_TARGET - len(data)
    with open(path, "ab") as f:
        off = f.tell()
        f.write(b"%d 0 obj\n<</Length %d>>\nstream\n" % (size, fill))
        chunk = b"\0" * (1 << 20)
        left = fill
        while left > 0:
            f.write(chunk[:min(left, len(chunk))])
            left -= len(chunk)
        f.write(b"\nendstream\nendobj\n")
        xref = f.tell()
        f.write(b"xref\n%d 1\n%010d 00000 n \ntrailer\n<</Size %d /Root %s 0 R /Prev %d>>\nstartxref\n%d\n%%%%EOF\n"
                % (size, off, size + 1, root, prev, xref))
    return path


def in_place_times(timer, tool, files, scratch):
    """Rows (label, bytes, vellix ms, exiftool ms, qpdf ms): each command edits
    its own copy in place; the copy is cut back to its length before each run
    (untimed), so every run appends to the same file."""
    rows = []
    for label, src in files:
        if not os.path.exists(src):
            continue
        n = os.path.getsize(src)
        cmds = []
        names = [("vellix", None), ("exiftool", "exiftool"), ("qpdf", "qpdf")]
        for who, need in names:
            if need and shutil.which(need) is None:
                cmds.append(None)
                continue
            copy = os.path.join(scratch, "inplace-%s.pdf" % who)
            shutil.copyfile(src, copy)
            if who == "vellix":
                argv = _tool_set(tool, copy, None, True)
                prep = ["truncate", "-s", str(n), copy]
            elif who == "exiftool":
                argv = ["exiftool", "-overwrite_original", "-Title=" + TITLE, copy]
                prep = ["truncate", "-s", str(n), copy]
            else:
                argv = ["qpdf", "--replace-input", copy]
                prep = None
            cmds.append((argv, prep))
        live = [c for c in cmds if c]
        t = iter(timer.medians(live))
        times = [next(t) if c else None for c in cmds]
        for who, _ in names:
            p = os.path.join(scratch, "inplace-%s.pdf" % who)
            if os.path.exists(p):
                os.remove(p)
        rows.append((label, n) + tuple(times))
    return rows


def hyperfine_in_place(tool, files, scratch, runs):
    """Rows (label, bytes, {who: (median s, min s, mean s)}) measured with
    hyperfine: the same in-place edits as in_place_times, each on its own
    copy, vellix and exiftool cut back to the input's length before every
    run (hyperfine --prepare, untimed). The copy is synced first so that
    write-back of the copy stays out of the figures."""
    import json
    import shlex
    rows = []
    for label, src in files:
        if not os.path.exists(src):
            continue
        n = os.path.getsize(src)
        result = {}
        for who in ("vellix", "exiftool", "qpdf"):
            if who != "vellix" and shutil.which(who) is None:
                continue
            copy = os.path.join(scratch, "hf-%s.pdf" % who)
            shutil.copyfile(src, copy)
            subprocess.run(["sync"], check=False)
            if who == "vellix":
                cmd, prep, k = shlex.join(_tool_set(tool, copy, None, True)), "truncate -s %d %s" % (n, copy), runs
            elif who == "exiftool":
                cmd, prep, k = "exiftool -q -overwrite_original -Title='%s' %s" % (TITLE, copy), \
                    "truncate -s %d %s" % (n, copy), max(3, runs // 4)
            else:
                cmd, prep, k = "qpdf --replace-input %s" % copy, None, max(3, runs // 8)
            out = os.path.join(scratch, "hf.json")
            argv = ["hyperfine", "-w", "1", "-r", str(k), "--export-json", out]
            if prep:
                argv += ["--prepare", prep]
            subprocess.run(argv + [cmd], check=True, stdout=subprocess.DEVNULL)
            r = json.load(open(out))["results"][0]
            result[who] = (r["median"], r["min"], r["mean"])
            os.remove(copy)
        rows.append((label, n, result))
    return rows


def report(size_rows, time_rows, ms, load_avg):
    out = ["", "Edits that keep the document: `vellix set FILE --title T` written with `-o` as a full rewrite "
           "with every object plain (`--exact`, options 0), as a full rewrite with the tool's defaults "
           "(untouched object streams copied, VELLIX_KEEP_STREAMS) and with `--incremental`. Sizes in bytes:", "",
           "| input | input | full rewrite --exact | full rewrite | full ÷ input | incremental | incremental − input |",
           "|---|---:|---:|---:|---:|---:|---:|"]
    goals = []
    shown = lambda v: v if v is not None else "failed"
    for name, n, exact, full, inc in size_rows:
        delta = None if inc is None else inc - n
        ratio = "%.4f" % (full / n) if full is not None and n else "—"
        out.append("| %s | %d | %s | %s | %s | %s | %s |" % (name, n, shown(exact), shown(full), ratio, shown(inc),
                                                            delta if delta is not None else "—"))
        if full is not None:
            goals.append((full <= n * 1.02 + 65536,
                          "full rewrite set title on %s within 2%% (+64 KB for the objects written out plainly) "
                          "of the input (%+.2f%%)" % (name, 100.0 * (full - n) / n)))
        if delta is not None:
            goals.append((delta < 4096, "incremental set title on %s adds under 4 KB (%d bytes)" % (name, delta)))
    out += ["", "In-place `set title`: vellix `--in-place --incremental`, exiftool `-overwrite_original` (appends "
            "an update too), qpdf `--replace-input` (rewrites). Median ms; load average before: %s." % load_avg, "",
            "| input | bytes | vellix | exiftool | qpdf |", "|---|---:|---:|---:|---:|"]
    for label, n, v, e, q in time_rows:
        out.append("| %s | %d | %s | %s | %s |" % (label, n, ms(v), ms(e), ms(q)))
        if v is not None:
            goals.append((v < 0.010, "in-place incremental set title on %s under 10 ms (%s ms)" % (label, ms(v))))
    return out, goals


def main():
    """Only these measurements: bench/edits.py --tool build/vellix --inputs DIR [--scratch DIR]
    (DIR holding the inputs of bench/gen_inputs.py at full size)."""
    import argparse
    import tempfile

    import bench

    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--inputs", required=True)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--scratch")
    ap.add_argument("--hyperfine", action="store_true",
                    help="only the in-place times, measured with hyperfine (large input and 1 GB input)")
    a = ap.parse_args()
    scratch = tempfile.mkdtemp(prefix="vellix-edits-", dir=a.scratch or a.inputs)
    if a.hyperfine:
        try:
            gb = make_gb_input(os.path.join(a.inputs, "large.pdf"), os.path.join(a.inputs, "gb.pdf"))
            rows = hyperfine_in_place(a.tool, [("large", os.path.join(a.inputs, "large.pdf")), ("1 GB", gb)],
                                      scratch, max(a.runs, 20))
        finally:
            shutil.rmtree(scratch, ignore_errors=True)
        print("| input | bytes | tool | median ms | min ms | mean ms |")
        print("|---|---:|---|---:|---:|---:|")
        for label, n, result in rows:
            for who, (med, lo, mean) in result.items():
                print("| %s | %d | %s | %.1f | %.1f | %.1f |" % (label, n, who, med * 1e3, lo * 1e3, mean * 1e3))
        return
    try:
        load = bench.load_avg()
        size_rows = sizes(a.tool, a.inputs, bench.FILES, scratch)
        gb = make_gb_input(os.path.join(a.inputs, "large.pdf"), os.path.join(a.inputs, "gb.pdf"))
        time_rows = in_place_times(bench.Timer(a.runs, 1), a.tool,
                                   [("large", os.path.join(a.inputs, "large.pdf")), ("1 GB", gb)], scratch)
        lines, goals = report(size_rows, time_rows, bench.ms, load)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    lines += ["", "Goals:", ""] + ["- %s %s" % ("met:   " if ok else "MISSED:", t) for ok, t in goals]
    lines += ["", "Load average after: %s." % bench.load_avg()]
    print("\n".join(lines))


if __name__ == "__main__":
    main()
