"""examples/dask_catalog.py on a LocalCluster of two worker processes,
against `vellix batch -r` over the same generated tree."""
import json
import os
import subprocess
import sys

from conftest import SOURCE_DIR
from pdfgen import minimal_pdf

EXAMPLE = os.path.join(SOURCE_DIR, "examples", "dask_catalog.py")


def make_tree(root):
    """300 files over nested directories; every 25th is not a PDF, and a link
    leads back up (walked once)."""
    for i in range(300):
        d = os.path.join(root, "d%d" % (i % 7), "e%d" % (i % 3)) if i % 5 else root
        os.makedirs(d, exist_ok=True)
        body = b"not a pdf %d" % i if i % 25 == 7 else minimal_pdf(1 + i % 4, {"Title": b"File %d" % i})
        with open(os.path.join(d, "f%03d.pdf" % i), "wb") as f:
            f.write(body)
    os.symlink("..", os.path.join(root, "d1", "up"))


def test_catalog_on_two_workers_matches_the_tool(tmp_path, tool, library):
    root, out = str(tmp_path / "tree"), str(tmp_path / "parts")
    make_tree(root)
    env = dict(os.environ, VELLIX_LIBRARY=library,
               PYTHONPATH=os.pathsep.join([os.path.join(SOURCE_DIR, "python"), os.environ.get("PYTHONPATH", "")]))
    r = subprocess.run([sys.executable, EXAMPLE, root, out, "--workers", "2", "--partitions", "6"],
                       env=env, capture_output=True, text=True, timeout=240)
    assert r.returncode == 1, r.stdout + r.stderr  # some files are not PDFs
    assert r.stdout.strip().endswith("300 files, 12 failed, 6 parts in %s" % out)

    parts = sorted(p for p in os.listdir(out))
    assert parts == ["part-%05d.jsonl" % k for k in range(6)]
    records = []
    for p in parts:
        with open(os.path.join(out, p), encoding="utf-8") as f:
            lines = f.read().splitlines()
        assert lines, p  # every part holds a share
        records += [json.loads(line) for line in lines]

    batch = tool("batch", "-r", "-j", "2", root)
    assert batch.returncode == 1
    want = [json.loads(line) for line in batch.stdout.decode("utf-8").splitlines()]
    assert len(want) == 300
    assert records == want
    assert sum("error" in rec for rec in records) == 12
