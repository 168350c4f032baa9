"""Read and rewrite the metadata of PDF files through libvellix.

Every function of the library has one here, with keyword options. By default
the library runs with the options the vellix tool uses (``unicode=True``:
texts as UTF-8 ``str``; ``resolve=True``: structures read as the PDF standard
defines them). ``exact=True`` runs it with options 0, the byte-exact rules,
and gives every string value as ``bytes``, exactly as the file holds it.

Writers also keep what the tool's writers keep: ``keep_streams`` (object
streams no edit touches are copied as they are, still compressed) and
``keep_signatures`` (a full rewrite of a signed document is refused, as it
would break the signatures) are on unless ``exact=True`` or set to False;
``incremental=True`` (write, write_full, write_xmp) appends the change to the
input's bytes instead of rewriting them, which keeps signatures valid;
``sync`` (write, write_full, write_xmp; on unless ``exact=True``) keeps Info
and XMP in agreement, editing the document's packet in place.

Reports return dicts and lists; writers return None. A failed call raises
:class:`Error` with the library's message.

The library is looked up in this order: the path in the environment variable
``VELLIX_LIBRARY``, ``libvellix.so`` beside this package, then the system's
library path.
"""
from __future__ import annotations

import ctypes
import ctypes.util
import json
import os
import threading
from typing import Any, Callable, Dict, List, Mapping, Optional, Union

__all__ = [
    "Error", "UNICODE", "RESOLVE", "KEEP_STREAMS", "INCREMENTAL", "SYNC", "KEEP_SIGNATURES", "library_path",
    "read", "read_xmp", "fonts", "images", "bookmarks", "security", "analyze", "page_labels",
    "compare", "batch_read",
    "traces", "write", "write_full", "clear", "write_xmp", "clear_xmp", "scrub", "batch_clear",
]
__version__ = "0.1.0"

UNICODE = 0x01
RESOLVE = 0x02
KEEP_STREAMS = 0x04
INCREMENTAL = 0x08
SYNC = 0x10
KEEP_SIGNATURES = 0x20

Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
Text = Union[str, bytes]


class Error(Exception):
    """A library call failed; ``str(error)`` and ``error.message`` are the library's message."""

    def __init__(self, message: str, function: str = "") -> None:
        super().__init__(message)
        self.message = message
        self.function = function


_lock = threading.Lock()
_lib: Optional[ctypes.CDLL] = None
_lib_path = ""


def _candidates() -> List[str]:
    found = []
    env = os.environ.get("VELLIX_LIBRARY")
    if env:
        return [env]
    here = os.path.dirname(os.path.abspath(__file__))
    for name in ("libvellix.so", "libvellix.so.0"):
        p = os.path.join(here, name)
        if os.path.exists(p):
            found.append(p)
    found.append(ctypes.util.find_library("vellix") or "libvellix.so.0")
    return found


_REPORTS = ["vellix_read", "vellix_read_xmp", "vellix_fonts", "vellix_images", "vellix_bookmarks",
            "vellix_security", "vellix_analyze", "vellix_page_labels", "vellix_traces"]


def _load() -> ctypes.CDLL:
    global _lib, _lib_path
    with _lock:
        if _lib is not None:
            return _lib
        errors = []
        for path in _candidates():
            try:
                lib = ctypes.CDLL(path)
                break
            except OSError as e:
                errors.append(str(e))
        else:
            raise Error("cannot load libvellix: " + "; ".join(errors), "load")
        s, i, u = ctypes.c_char_p, ctypes.c_int, ctypes.c_uint
        for name in _REPORTS:
            f = getattr(lib, name)
            f.argtypes, f.restype = [s], s
        lib.vellix_compare.argtypes, lib.vellix_compare.restype = [s, s], s
        lib.vellix_batch_read.argtypes = [s, ctypes.POINTER(s)]
        lib.vellix_batch_read.restype = i
        lib.vellix_write.argtypes, lib.vellix_write.restype = [s, s, s, s, s, s], i
        for name in ("vellix_clear", "vellix_clear_xmp", "vellix_scrub", "vellix_batch_clear"):
            getattr(lib, name).argtypes, getattr(lib, name).restype = [s, s], i
        for name in ("vellix_write_full", "vellix_write_xmp"):
            getattr(lib, name).argtypes, getattr(lib, name).restype = [s, s, s], i
        lib.vellix_last_error.argtypes, lib.vellix_last_error.restype = [], s
        lib.vellix_set_options.argtypes, lib.vellix_set_options.restype = [u], u
        _lib, _lib_path = lib, path
        return lib


def library_path() -> str:
    """The path (or name) of the library in use; loads it when needed."""
    _load()
    return _lib_path


def _options(unicode: bool, resolve: bool, exact: bool) -> int:
    if exact:
        return 0
    return (UNICODE if unicode else 0) | (RESOLVE if resolve else 0)


def _writer_options(unicode: bool, resolve: bool, exact: bool, keep_streams: Optional[bool],
                    keep_signatures: Optional[bool], incremental: bool = False,
                    sync: Optional[bool] = False) -> int:
    """The reading options, plus the edit options: keep_streams,
    keep_signatures (and sync, for the Info and XMP writers) default to on
    (as in the tool) unless exact."""
    bits = _options(unicode, resolve, exact)
    if sync if sync is not None else not exact:
        bits |= SYNC
    if keep_streams if keep_streams is not None else not exact:
        bits |= KEEP_STREAMS
    if keep_signatures if keep_signatures is not None else not exact:
        bits |= KEEP_SIGNATURES
    if incremental:
        bits |= INCREMENTAL
    return bits


def _call(name: str, options: int, *args: Any) -> Any:
    """Runs one export on this thread with the given options (the library's
    options, results and messages are per thread)."""
    lib = _load()
    lib.vellix_set_options(options)
    return getattr(lib, name)(*args)


def _fail(name: str) -> Error:
    msg = (_load().vellix_last_error() or b"").decode("utf-8", "replace")
    return Error(msg or "operation failed", name)


def _as_bytes(value: Any) -> Any:
    """Every string value as the bytes the library passed (keys stay str)."""
    if isinstance(value, str):
        return value.encode("utf-8", "surrogateescape")
    if isinstance(value, list):
        return [_as_bytes(v) for v in value]
    if isinstance(value, dict):
        return {k: _as_bytes(v) for k, v in value.items()}
    return value


def _decode(text: bytes, options: int) -> Any:
    if options & UNICODE:
        return json.loads(text.decode("utf-8", "replace"))
    # Without Unicode texts the library passes the file's bytes through;
    # surrogateescape keeps every byte so it can be given back exactly.
    return _as_bytes(json.loads(text.decode("utf-8", "surrogateescape")))


def _path(p: Path) -> bytes:
    return os.fsencode(p)


def _text(v: Optional[Text]) -> Optional[bytes]:
    if v is None or isinstance(v, bytes):
        return v
    return v.encode("utf-8", "surrogateescape")


def _report(name: str) -> Callable[..., Any]:
    def report(path: Path, *, unicode: bool = True, resolve: bool = True, exact: bool = False) -> Any:
        options = _options(unicode, resolve, exact)
        text = _call(name, options, _path(path))
        if text is None:
            raise _fail(name)
        return _decode(text, options)
    return report


_read = _report("vellix_read")
_read_xmp = _report("vellix_read_xmp")
_fonts = _report("vellix_fonts")
_images = _report("vellix_images")
_bookmarks = _report("vellix_bookmarks")
_security = _report("vellix_security")
_analyze = _report("vellix_analyze")
_page_labels = _report("vellix_page_labels")
_traces = _report("vellix_traces")


def read(path: Path, *, unicode: bool = True, resolve: bool = True, exact: bool = False) -> Dict[str, Any]:
    """The eight Info fields, page count, file size and PDF version."""
    return _read(path, unicode=unicode, resolve=resolve, exact=exact)


def read_xmp(path: Path, *, unicode: bool = True, resolve: bool = True, exact: bool = False) -> Dict[str, Any]:
    """The XMP properties as a flat dict."""
    return _read_xmp(path, unicode=unicode, resolve=resolve, exact=exact)


def fonts(path: Path, *, unicode: bool = True, resolve: bool = True, exact: bool = False) -> List[Dict[str, Any]]:
    """The fonts: name, type, embedded, subset."""
    return _fonts(path, unicode=unicode, resolve=resolve, exact=exact)


def images(path: Path, *, unicode: bool = True, resolve: bool = True, exact: bool = False) -> List[Dict[str, Any]]:
    """The images with the first page using each, size, bits per pixel, filters."""
    return _images(path, unicode=unicode, resolve=resolve, exact=exact)


def bookmarks(path: Path, *, unicode: bool = True, resolve: bool = True, exact: bool = False) -> List[Dict[str, Any]]:
    """The bookmark tree with page numbers."""
    return _bookmarks(path, unicode=unicode, resolve=resolve, exact=exact)


def security(path: Path, *, unicode: bool = True, resolve: bool = True, exact: bool = False) -> Dict[str, Any]:
    """The encryption summary (encrypted files are read too)."""
    return _security(path, unicode=unicode, resolve=resolve, exact=exact)


def analyze(path: Path, *, unicode: bool = True, resolve: bool = True, exact: bool = False) -> Dict[str, Any]:
    """The size breakdown: fonts, images, streams, overhead, pages, objects."""
    return _analyze(path, unicode=unicode, resolve=resolve, exact=exact)


def page_labels(path: Path, *, unicode: bool = True, resolve: bool = True, exact: bool = False) -> List[Dict[str, Any]]:
    """The page-label ranges: start, style, prefix, first number."""
    return _page_labels(path, unicode=unicode, resolve=resolve, exact=exact)


def traces(path: Path, *, unicode: bool = True, resolve: bool = True, exact: bool = False) -> Dict[str, Any]:
    """Every place metadata lives in the file: "revisions" (the incremental
    sections oldest first, each with the Info values its trailer named) and
    "items" (every Info-like dictionary, XMP packet, /PieceInfo and /ID, with
    its object, revision, owner, offset, reachability and values)."""
    return _traces(path, unicode=unicode, resolve=resolve, exact=exact)


def compare(path_a: Path, path_b: Path, *, unicode: bool = True, resolve: bool = True,
            exact: bool = False) -> Dict[str, Any]:
    """The Info fields of two files grouped as added, removed, changed and same."""
    options = _options(unicode, resolve, exact)
    text = _call("vellix_compare", options, _path(path_a), _path(path_b))
    if text is None:
        raise _fail("vellix_compare")
    return _decode(text, options)


def batch_read(directory: Path, *, unicode: bool = True, resolve: bool = True,
               exact: bool = False) -> List[Dict[str, Any]]:
    """The Info of every .pdf file of one directory, one dict per file read
    (with its name under "file"); unreadable files are left out."""
    options = _options(unicode, resolve, exact)
    out = ctypes.c_char_p()
    if not _call("vellix_batch_read", options, _path(directory), ctypes.byref(out)):
        raise _fail("vellix_batch_read")
    return _decode(out.value or b"[]", options)


def _check(name: str, ok: int) -> None:
    if not ok:
        raise _fail(name)


def write(in_path: Path, out_path: Path, *, title: Optional[Text] = None, author: Optional[Text] = None,
          subject: Optional[Text] = None, keywords: Optional[Text] = None, unicode: bool = True,
          resolve: bool = True, exact: bool = False, keep_streams: Optional[bool] = None,
          keep_signatures: Optional[bool] = None, incremental: bool = False, sync: Optional[bool] = None) -> None:
    """Writes a copy with up to four Info values replaced (None keeps a field)."""
    _check("vellix_write", _call("vellix_write", _writer_options(unicode, resolve, exact, keep_streams,
                                                                   keep_signatures, incremental, sync), _path(in_path), _path(out_path),
                                 _text(title), _text(author), _text(subject), _text(keywords)))


def _flat_json(pairs: Mapping[Text, Text]) -> bytes:
    """A flat JSON object the library's writers decode to exactly these bytes:
    quote and backslash escaped, line feed, tab and carriage return escaped in
    values, every other byte as it is."""
    def enc(s: Text, value: bool) -> bytes:
        b = _text(s) or b""
        b = b.replace(b"\\", b"\\\\").replace(b'"', b'\\"')
        if value:
            b = b.replace(b"\n", b"\\n").replace(b"\t", b"\\t").replace(b"\r", b"\\r")
        return b'"' + b + b'"'
    return b"{" + b",".join(enc(k, False) + b":" + enc(v, True) for k, v in pairs.items()) + b"}"


def write_full(in_path: Path, out_path: Path, fields: Mapping[Text, Text], *, unicode: bool = True,
               resolve: bool = True, exact: bool = False, keep_streams: Optional[bool] = None,
               keep_signatures: Optional[bool] = None, incremental: bool = False,
               sync: Optional[bool] = None) -> None:
    """Writes a copy with any of the eight Info values (keys title, author,
    subject, keywords, creator, producer, creation_date, mod_date)."""
    _check("vellix_write_full", _call("vellix_write_full", _writer_options(unicode, resolve, exact, keep_streams,
                                                                             keep_signatures, incremental, sync), _path(in_path),
                                      _path(out_path), _flat_json(fields)))


def clear(in_path: Path, out_path: Path, *, unicode: bool = True, resolve: bool = True, exact: bool = False,
          keep_streams: Optional[bool] = None, keep_signatures: Optional[bool] = None) -> None:
    """Writes a copy without the Info dictionary."""
    _check("vellix_clear", _call("vellix_clear", _writer_options(unicode, resolve, exact, keep_streams, keep_signatures), _path(in_path), _path(out_path)))


def write_xmp(in_path: Path, out_path: Path, properties: Mapping[Text, Text], *, unicode: bool = True,
              resolve: bool = True, exact: bool = False, keep_streams: Optional[bool] = None,
              keep_signatures: Optional[bool] = None, incremental: bool = False,
              sync: Optional[bool] = None) -> None:
    """Sets these XMP properties (keys like "dc:title"; an empty value removes
    one). With sync (the default) the document's packet is edited in place and
    the matching Info fields are set; otherwise a new packet holds exactly
    these properties."""
    _check("vellix_write_xmp", _call("vellix_write_xmp", _writer_options(unicode, resolve, exact, keep_streams,
                                                                           keep_signatures, incremental, sync), _path(in_path),
                                     _path(out_path), _flat_json(properties)))


def clear_xmp(in_path: Path, out_path: Path, *, unicode: bool = True, resolve: bool = True,
              exact: bool = False, keep_streams: Optional[bool] = None,
              keep_signatures: Optional[bool] = None) -> None:
    """Writes a copy without the XMP metadata stream."""
    _check("vellix_clear_xmp", _call("vellix_clear_xmp", _writer_options(unicode, resolve, exact, keep_streams, keep_signatures), _path(in_path),
                                     _path(out_path)))


def scrub(in_path: Path, out_path: Path, *, keep_streams: Optional[bool] = None,
          keep_signatures: Optional[bool] = None, exact: bool = False) -> None:
    """Writes a copy that keeps no metadata: no Info, no XMP anywhere, no
    /PieceInfo, no earlier revision, no unused object, a new random /ID. The
    copy is read back first; if any trace remains nothing is written and
    Error is raised. A signed document is refused unless keep_signatures=False."""
    _check("vellix_scrub", _call("vellix_scrub", _writer_options(True, True, exact, keep_streams, keep_signatures),
                                 _path(in_path), _path(out_path)))


def batch_clear(in_dir: Path, out_dir: Path, *, unicode: bool = True, resolve: bool = True,
                exact: bool = False, keep_streams: Optional[bool] = None,
                keep_signatures: Optional[bool] = None) -> int:
    """Writes copies of every .pdf file of in_dir without Info and XMP into
    out_dir; returns the number written."""
    n = _call("vellix_batch_clear", _writer_options(unicode, resolve, exact, keep_streams, keep_signatures), _path(in_dir), _path(out_dir))
    if n < 0:
        raise _fail("vellix_batch_clear")
    return int(n)
