"""The planted files, the search that measures them, traces naming every
planted value, and scrub leaving none of them (VELLIX_TOOL names the build's
vellix tool; the test command sets it)."""
import json
import os
import subprocess
import sys
import zlib

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import planted  # noqa: E402
import search  # noqa: E402

BUILT = planted.built()
FILES = [name for name, _, _ in BUILT]
PLANTED = [(name, v) for name, m, _ in BUILT for v in m["values"]]


@pytest.fixture(scope="module")
def tool():
    path = os.environ.get("VELLIX_TOOL")
    if not path or not os.path.exists(path):
        pytest.fail("VELLIX_TOOL must name the build's vellix tool (got %r)" % path, pytrace=False)
    return path


@pytest.fixture(scope="module")
def inputs(tmp_path_factory):
    """name -> (path, manifest) of the files written once for the module."""
    d = tmp_path_factory.mktemp("planted")
    return {os.path.splitext(os.path.basename(p))[0]: (p, m) for p, m in planted.generate(str(d))}


def render(pdf, prefix):
    r = subprocess.run(["pdftoppm", "-r", "36", "-f", "1", "-l", "1", "-singlefile", pdf, prefix],
                       capture_output=True)
    assert r.returncode == 0, r.stderr
    with open(prefix + ".ppm", "rb") as f:
        return f.read()


def traces(tool, path):
    r = subprocess.run([tool, "traces", path], capture_output=True)
    assert r.returncode == 0, r.stderr
    return json.loads(r.stdout.decode("utf-8"))  # strict: a fault in the JSON raises here


def strings(x):
    """Every key and string value in a JSON value."""
    if isinstance(x, str):
        yield x
    elif isinstance(x, dict):
        for k, v in x.items():
            yield k
            yield from strings(v)
    elif isinstance(x, list):
        for v in x:
            yield from strings(v)


# --- The planted files -------------------------------------------------------

@pytest.mark.parametrize("name", FILES)
def test_planted_files_are_sound_and_render_text_and_image(name, inputs, tmp_path):
    path, manifest = inputs[name]
    check = subprocess.run(["qpdf", "--check", path], capture_output=True)
    assert check.returncode == 0, check.stdout + check.stderr
    ppm = render(path, str(tmp_path / "page"))
    # P6 header: magic, width, height, maximum, then the pixels.
    parts = ppm.split(b"\n", 3)
    width, height = map(int, parts[1].split())
    pixels = parts[3]
    assert len(pixels) == width * height * 3
    rgb = {pixels[i:i + 3] for i in range(0, len(pixels), 3)}
    assert any(p[0] == p[1] == p[2] and p[0] < 128 for p in rgb), "no dark grey pixel: the text is missing"
    assert any(p[2] > p[0] + 80 for p in rgb), "no blue pixel: the image is missing"
    # The search finds every value in the file as written.
    found, total = search.search_file(path, manifest)
    assert sorted(found) == sorted(v["value"] for v in manifest["values"])


# --- The search ----------------------------------------------------------------

V = "plant-probe-1a2b3c"
OTHER = "plant-other-9f8e7d"


def literal_escaped(b):
    """b as a literal string with every byte an octal escape."""
    return b"(" + b"".join(b"\\%03o" % c for c in b) + b")"


def stream(data):
    return b"1 0 obj\n<< /Length %d /Filter /FlateDecode >>\nstream\n%s\nendstream\nendobj\n" % (len(data), data)


SEARCH_CASES = [
    # (id, file bytes, values expected found among [V, OTHER])
    ("raw", b"%PDF-1.4\n(" + V.encode() + b")", [V]),
    ("utf16be", b"(\xfe\xff" + V.encode("utf-16-be") + b")", [V]),
    ("utf16le", b"(" + V.encode("utf-16-le") + b")", [V]),
    ("hex-upper", b"<" + V.encode().hex().upper().encode() + b">", [V]),
    ("hex-lower", b"<" + V.encode().hex().encode() + b">", [V]),
    ("hex-mixed", b"<" + V.encode().hex().encode()[:10] + V.encode().hex().upper().encode()[10:] + b">", [V]),
    ("hex-utf16be", b"<FEFF" + V.encode("utf-16-be").hex().upper().encode() + b">", [V]),
    ("flate", stream(zlib.compress(V.encode())), [V]),
    ("flate-utf16be", stream(zlib.compress(b"\xfe\xff" + V.encode("utf-16-be"))), [V]),
    ("flate-crlf", stream(zlib.compress(V.encode())).replace(b"stream\n", b"stream\r\n", 1), [V]),
    ("octal-escapes", literal_escaped(V.encode()), [V]),
    ("escapes-in-flate", stream(zlib.compress(b"<< /T " + literal_escaped(OTHER.encode()) + b" >>")), [OTHER]),
    ("every-form-counts-once", b"(" + V.encode() + b")<" + V.encode().hex().encode() + b">" +
     stream(zlib.compress(V.encode())), [V]),
    ("both", b"(" + V.encode() + b") (" + OTHER.encode("utf-16-le") + b")", [V, OTHER]),
    ("absent", b"%PDF-1.4\n(plant-probe) (1a2b3c)", []),
    ("truncated", b"(" + V.encode()[:-1] + b")", []),
    ("split-by-a-byte", b"(" + V.encode()[:6] + b"\n" + V.encode()[6:] + b")", []),
    ("stream-not-deflate", b"stream\n" + V.encode()[::-1] + b"\nendstream", []),
]


@pytest.mark.parametrize("data,want", [c[1:] for c in SEARCH_CASES], ids=[c[0] for c in SEARCH_CASES])
def test_search_finds_each_form_of_a_value_once(data, want):
    assert search.found_values(data, [V, OTHER]) == want


# --- traces names every planted value ------------------------------------------

def day(date):
    """The day of a PDF date as the reports give it."""
    return "%s-%s-%s" % (date[2:6], date[6:8], date[8:10])


@pytest.fixture(scope="module")
def reports(tool, inputs):
    return {name: traces(tool, inputs[name][0]) for name in FILES}


@pytest.mark.parametrize("name,value", PLANTED, ids=["%s:%s" % (n, v["place"]) for n, v in PLANTED])
def test_traces_names_every_planted_value(name, value, reports):
    t = reports[name]
    wanted = [value["value"]] + ([day(value["value"])] if value["date"] else [])
    items = [i for i in t["items"] if i["kind"] == value["kind"]]
    named = [i for i in items if any(w in s for s in strings(i["values"]) for w in wanted)]
    assert named, "%s (%s) is in no %s item" % (value["value"], value["where"], value["kind"])
    if value["place"].startswith("rev1-"):
        # The Info an update replaced: the first revision's and not reachable.
        assert any(i["revision"] == 1 and not i["reachable"] for i in named)
        assert any(w in s for s in strings(t["revisions"][0]["info"]) for w in wanted)
    if value["place"].startswith("orphan-"):
        assert any(not i["reachable"] and i["owner"] == "none" for i in named)


# --- scrub leaves no metadata ------------------------------------------------

@pytest.mark.parametrize("name", FILES)
def test_scrub_leaves_no_planted_value(name, tool, inputs, tmp_path):
    path, manifest = inputs[name]
    out = str(tmp_path / "scrubbed.pdf")
    r = subprocess.run([tool, "scrub", path, "-o", out], capture_output=True)
    assert r.returncode == 0, r.stderr
    found, _ = search.search_file(out, manifest)
    assert found == []
    t = traces(tool, out)
    assert [i["kind"] for i in t["items"]] == ["id"]
    assert len(t["revisions"]) == 1 and t["revisions"][0]["info"] is None
    old = {h for i in traces(tool, path)["items"] if i["kind"] == "id" for h in i["values"].values()}
    new = t["items"][0]["values"]
    assert new["first"] not in old and new["second"] not in old, "the /ID is not new"
    assert render(out, str(tmp_path / "after")) == render(path, str(tmp_path / "before"))
    check = subprocess.run(["qpdf", "--check", out], capture_output=True)
    assert check.returncode == 0, check.stdout + check.stderr
