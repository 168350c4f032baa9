#!/usr/bin/env python3
"""Catalogue the PDF files of a directory tree on a Dask cluster.

    dask_catalog.py ROOT OUT_DIR [--scheduler ADDRESS] [--workers N]
                    [--partitions N] [--op info|xmp|fonts|...] [--exact]

Without --scheduler a LocalCluster of N worker processes runs on this
machine; with it, the workers of that scheduler do the work (they need the
vellix package, libvellix and the files at the same paths, e.g. on a shared
file system). The files are those `vellix batch -r ROOT` reads (*.pdf in any
case, hidden names left out, each directory once however links lead to it),
in the same order, cut into contiguous partitions. Each partition is written
as OUT_DIR/part-NNNNN.jsonl, one record per file like the tool's:
{"path": ..., "result": {...}} or {"path": ..., "error": "..."}. Reading the
parts in name order gives the records in the order of the tool.

Prints a summary line (files, failures, parts) and exits 1 when any file
failed.
"""
import argparse
import json
import os
import sys
from typing import List, Tuple

OPS = {"info": "read", "xmp": "read_xmp", "fonts": "fonts", "images": "images", "bookmarks": "bookmarks",
       "security": "security", "analyze": "analyze", "labels": "page_labels"}


def pdf_files(root: str) -> List[str]:
    """The files of the tree in the tool's order: each directory's entries by
    name (byte order), files taken where met, subdirectories walked in place."""
    seen = set()
    out: List[str] = []
    stack = [(root.rstrip("/") or "/", None)]
    while stack:
        path, entries = stack.pop()
        if entries is None:
            try:
                st = os.stat(path)
                if (st.st_dev, st.st_ino) in seen:
                    continue
                seen.add((st.st_dev, st.st_ino))
                entries = sorted(os.fsencode(e) for e in os.listdir(path))
            except OSError:
                continue
            entries = [os.fsdecode(e) for e in entries if not e.startswith(b".")]
            entries.reverse()
        while entries:
            name = entries.pop()
            full = os.path.join(path, name)
            if os.path.isdir(full):
                stack.append((path, entries))
                stack.append((full, None))
                break
            if len(name) >= 5 and name[-4:].lower() == ".pdf":
                out.append(full)
    return out


def catalog_part(part: int, paths: List[str], out_dir: str, op: str, exact: bool) -> Tuple[int, int]:
    """Runs on a worker: one record per file into part-NNNNN.jsonl; returns
    (files, failures)."""
    import vellix
    fn = getattr(vellix, OPS[op])
    failed = 0
    tmp = os.path.join(out_dir, ".part-%05d.jsonl.tmp" % part)
    with open(tmp, "w", encoding="utf-8", errors="surrogateescape") as f:
        for p in paths:
            try:
                rec = {"path": p, "result": fn(p, exact=exact)}
            except vellix.Error as e:
                rec = {"path": p, "error": str(e)}
                failed += 1
            if exact:
                rec = json.loads(json.dumps(rec, default=lambda b: b.decode("utf-8", "surrogateescape")))
            f.write(json.dumps(rec, ensure_ascii=False, separators=(",", ":")) + "\n")
    os.replace(tmp, os.path.join(out_dir, "part-%05d.jsonl" % part))
    return len(paths), failed


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("root")
    ap.add_argument("out_dir")
    ap.add_argument("--scheduler", help="address of a running scheduler (default: a LocalCluster)")
    ap.add_argument("--workers", type=int, default=os.cpu_count() or 1, help="worker processes of the LocalCluster")
    ap.add_argument("--partitions", type=int, default=0, help="number of parts (default: 4 per worker)")
    ap.add_argument("--op", choices=sorted(OPS), default="info")
    ap.add_argument("--exact", action="store_true", help="library options 0 (texts as the file's bytes)")
    args = ap.parse_args(argv)

    from dask.distributed import Client, LocalCluster

    files = pdf_files(args.root)
    os.makedirs(args.out_dir, exist_ok=True)
    cluster = None
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
    try:
        workers = max(1, len(client.scheduler_info()["workers"]))
        parts = args.partitions or 4 * workers
        parts = max(1, min(parts, len(files))) if files else 0
        chunks = [files[k * len(files) // parts:(k + 1) * len(files) // parts] for k in range(parts)]
        futures = client.map(catalog_part, range(parts), chunks, out_dir=args.out_dir, op=args.op,
                             exact=args.exact, pure=False)
        results = client.gather(futures)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    done = sum(n for n, _ in results)
    failed = sum(f for _, f in results)
    print("%d files, %d failed, %d parts in %s" % (done, failed, parts, args.out_dir))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
