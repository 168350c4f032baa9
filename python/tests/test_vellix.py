"""The package against the library's own texts (as the tool prints them),
its failures, its writers, per-thread options and how it finds the library."""
import json
import os
import shutil
import subprocess
import sys
import threading

import pytest

import vellix
from conftest import SAMPLE, SOURCE_DIR
from pdfgen import minimal_pdf

# Package function, tool command.
REPORTS = [(vellix.read, "info"), (vellix.read_xmp, "xmp"), (vellix.fonts, "fonts"), (vellix.images, "images"),
           (vellix.bookmarks, "bookmarks"), (vellix.security, "security"), (vellix.analyze, "analyze"),
           (vellix.page_labels, "labels"), (vellix.traces, "traces")]


@pytest.fixture
def rich(tmp_path):
    """Info with PDFDocEncoding bytes, escapes and a control byte."""
    p = tmp_path / "rich.pdf"
    p.write_bytes(minimal_pdf(2, {"Title": b"caf\xe9 (q) tab\tx", "Author": b"\x01ctl", "Producer": b"gen"}))
    return str(p)


@pytest.mark.parametrize("fn,command", REPORTS, ids=[c for _, c in REPORTS])
def test_reports_are_the_library_texts(fn, command, tool, rich, library):
    for path in (SAMPLE, rich):
        default = tool(command, path)
        assert default.returncode == 0, default.stderr
        # (Valid UTF-8 by the library's rule; "replace" keeps a fault visible
        # as a difference rather than an exception here.)
        assert fn(path) == json.loads(default.stdout.decode("utf-8", "replace"))
        exact = tool(command, "--exact", path)
        got = fn(path, exact=True)
        want = json.loads(exact.stdout.decode("utf-8", "surrogateescape"))
        # The same values, every string given as bytes.
        assert json.loads(json.dumps(got, default=lambda b: b.decode("utf-8", "surrogateescape"))) == want


def test_texts_are_str_by_default_and_the_file_bytes_when_exact(rich, tool):
    title = vellix.read(rich)["title"]
    assert isinstance(title, str)
    assert title == json.loads(tool("info", rich).stdout.decode("utf-8", "replace"))["title"]
    info = vellix.read(rich, exact=True)
    assert info["title"] == b"caf\xe9 (q) tab\tx"
    assert info["author"] == b"\x01ctl"
    assert info["pages"] == 2
    # Options one by one: without Unicode texts the bytes come through.
    assert vellix.read(rich, unicode=False)["title"] == b"caf\xe9 (q) tab\tx"


def test_failures_raise_the_library_message(tmp_path, tool):
    missing = str(tmp_path / "missing.pdf")
    text = tmp_path / "notes.pdf"
    text.write_bytes(b"plain text")
    for call, path in [(vellix.read, missing), (vellix.fonts, str(text)), (vellix.read_xmp, missing)]:
        with pytest.raises(vellix.Error) as e:
            call(path)
        want = tool("info", path).stderr.decode("utf-8").strip()
        assert "vellix: " + str(e.value) == want
        assert e.value.message == str(e.value)
    with pytest.raises(vellix.Error, match="invalid XMP property key"):
        vellix.write_xmp(SAMPLE, str(tmp_path / "o.pdf"), {"title": "x"})
    assert not (tmp_path / "o.pdf").exists()
    with pytest.raises(vellix.Error, match="cannot open directory"):
        vellix.batch_read(str(tmp_path / "nowhere"))


def test_writers(tmp_path, rich):
    out = str(tmp_path / "w.pdf")
    vellix.write(rich, out, title="Gr\u00fc\u00dfe", keywords=b"k1, k2")
    info = vellix.read(out)
    assert (info["title"], info["keywords"], info["producer"]) == ("Gr\u00fc\u00dfe", "k1, k2", "gen")

    vellix.write_full(rich, out, {"author": 'q"uote\\ \n', "creation_date": "2024-01-15"})
    info = vellix.read(out)
    assert (info["author"], info["creation_date"], info["title"]) == ('q"uote\\ \n', "2024-01-15", vellix.read(rich)["title"])

    # Exact: the bytes given are the bytes stored.
    vellix.write(rich, out, subject=b"\xe9t\xe9", exact=True)
    assert vellix.read(out, exact=True)["subject"] == b"\xe9t\xe9"

    vellix.clear(SAMPLE, out)
    assert vellix.read(out)["author"] == ""
    vellix.write_xmp(SAMPLE, out, {"dc:title": "Neu", "dc:subject": "a, b"})
    xmp, info = vellix.read_xmp(out), vellix.read(out)
    assert xmp["dc:title"] == "Neu" and info["title"] == "Neu"  # kept in agreement
    assert xmp["dc:creator"] == vellix.read_xmp(SAMPLE)["dc:creator"]  # the packet is edited, not replaced
    vellix.write_xmp(SAMPLE, out, {"dc:title": "Neu"}, sync=False)
    assert vellix.read_xmp(out)["dc:creator"] == "" and vellix.read(out)["title"] != "Neu"
    vellix.clear_xmp(SAMPLE, out)
    assert vellix.read_xmp(out)["dc:creator"] == ""


SIGNED = os.path.join(SOURCE_DIR, "tests", "signed", "self-signed.pdf")


def test_writers_keep_signatures_and_object_streams_as_the_tool_does(tmp_path):
    out = str(tmp_path / "o.pdf")
    # A full rewrite of a signed file is refused unless asked for.
    with pytest.raises(vellix.Error) as e:
        vellix.write(SIGNED, out, title="T")
    assert str(e.value) == "the document is signed; rewriting it would invalidate its signatures: " + SIGNED
    assert not os.path.exists(out)
    vellix.write(SIGNED, out, title="T", keep_signatures=False)
    assert vellix.read(out)["title"] == "T"
    # An update appended to the input's bytes keeps it signed.
    for fn, arg in ((vellix.write, {"title": "T2"}),):
        fn(SIGNED, out, incremental=True, **arg)
    data, signed = open(out, "rb").read(), open(SIGNED, "rb").read()
    assert data.startswith(signed) and len(data) - len(signed) < 4096
    assert vellix.read(out)["title"] == "T2"
    vellix.write_xmp(SIGNED, out, {"dc:title": "X"}, incremental=True)
    assert open(out, "rb").read().startswith(signed) and vellix.read_xmp(out)["dc:title"] == "X"

    # Object streams no edit touches are copied as they are.
    if not shutil.which("qpdf"):
        pytest.skip("qpdf makes the object-stream input")
    plain, packed = tmp_path / "plain.pdf", str(tmp_path / "packed.pdf")
    plain.write_bytes(minimal_pdf(150, {"Title": b"Old"}))  # two object streams, Info in the second
    subprocess.run(["qpdf", "--object-streams=generate", str(plain), packed], check=True)
    vellix.write(packed, out, title="T")
    assert b"/ObjStm" in open(out, "rb").read()
    vellix.write(packed, out, title="T", keep_streams=False)
    assert b"/ObjStm" not in open(out, "rb").read()
    vellix.write(packed, out, title="T", exact=True)  # options 0: every object written plainly
    assert b"/ObjStm" not in open(out, "rb").read()


def test_scrub_leaves_only_a_new_identifier(tmp_path):
    out = str(tmp_path / "s.pdf")
    before = vellix.traces(SAMPLE)
    assert {i["kind"] for i in before["items"]} >= {"xmp"} and before["revisions"][0]["info"]
    vellix.scrub(SAMPLE, out)
    after = vellix.traces(out)
    assert [i["kind"] for i in after["items"]] == ["id"]
    assert [r["info"] for r in after["revisions"]] == [None]
    assert vellix.read(out)["pages"] == vellix.read(SAMPLE)["pages"]
    assert not any(vellix.read_xmp(out).values())
    with pytest.raises(vellix.Error) as e:
        vellix.scrub(SIGNED, out)
    assert str(e.value).startswith("the document is signed")
    vellix.scrub(SIGNED, out, keep_signatures=False)
    assert [i["kind"] for i in vellix.traces(out)["items"]] == ["id"]


def test_compare_and_the_directory_exports(tmp_path):
    a, b = tmp_path / "in" / "a.pdf", tmp_path / "in" / "b.pdf"
    a.parent.mkdir()
    a.write_bytes(minimal_pdf(1, {"Title": b"Outline", "Author": b"Ann"}))
    b.write_bytes(minimal_pdf(1, {"Title": b"Final", "Author": b"Ann"}))
    cmp = vellix.compare(a, b)
    assert cmp["changed"] == {"title": {"from": "Outline", "to": "Final"}}
    assert "author" in cmp["same"]
    entries = vellix.batch_read(a.parent)
    assert sorted(e["file"] for e in entries) == ["a.pdf", "b.pdf"]
    assert vellix.batch_clear(a.parent, tmp_path / "out") == 2
    assert vellix.read(tmp_path / "out" / "a.pdf")["title"] == ""


def test_options_are_per_thread(rich):
    want = {True: vellix.read(rich, exact=True), False: vellix.read(rich)}
    errors = []

    def run(exact):
        for _ in range(300):
            got = vellix.read(rich, exact=exact)
            if got != want[exact]:
                errors.append((exact, got))
                return

    threads = [threading.Thread(target=run, args=(k % 2 == 0,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []


def _python(code, env_extra, cwd):
    env = {k: v for k, v in os.environ.items() if k not in ("VELLIX_LIBRARY", "PYTHONPATH")}
    env.update(env_extra)
    return subprocess.run([sys.executable, "-c", code], env=env, cwd=cwd, capture_output=True, text=True)


def test_the_library_is_found_by_variable_beside_the_package_or_not_at_all(tmp_path, library):
    pkg = tmp_path / "site" / "vellix"
    shutil.copytree(os.path.join(SOURCE_DIR, "python", "vellix"), pkg)
    code = "import vellix; print(vellix.library_path()); print(vellix.read(%r)['pages'])" % SAMPLE
    site = {"PYTHONPATH": str(tmp_path / "site")}

    beside = shutil.copy(library, pkg / "libvellix.so")
    r = _python(code, site, tmp_path)
    assert r.returncode == 0, r.stderr
    assert r.stdout.split() == [str(beside), "3"]

    # The variable wins over a copy beside the package.
    r = _python(code, dict(site, VELLIX_LIBRARY=library), tmp_path)
    assert r.stdout.split() == [library, "3"]

    r = _python("import vellix\ntry:\n vellix.read('x')\nexcept vellix.Error as e: print(e)",
                dict(site, VELLIX_LIBRARY=str(tmp_path / "none.so")), tmp_path)
    assert r.stdout.startswith("cannot load libvellix: "), r.stdout + r.stderr


def test_pip_installs_it_without_network(tmp_path, library):
    # From a copy, since the build leaves its files beside the sources.
    src, target = tmp_path / "src", tmp_path / "target"
    shutil.copytree(os.path.join(SOURCE_DIR, "python"), src,
                    ignore=shutil.ignore_patterns("tests", "__pycache__", "build", "*.egg-info"))
    r = subprocess.run([sys.executable, "-m", "pip", "install", "--no-index", "--no-deps", "--quiet",
                        "--target", str(target), str(src)],
                       capture_output=True, text=True, cwd=tmp_path)
    assert r.returncode == 0, r.stdout + r.stderr
    assert (target / "vellix" / "py.typed").exists()
    r = _python("import vellix; print(vellix.__file__); print(vellix.read(%r)['pdf_version'])" % SAMPLE,
                {"PYTHONPATH": str(target), "VELLIX_LIBRARY": library}, tmp_path)
    assert r.returncode == 0, r.stderr
    assert r.stdout.split() == [str(target / "vellix" / "__init__.py"), "1.7"]
