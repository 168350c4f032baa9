"""Small PDF files for the tests: a catalog, a page tree, pages and an Info
dictionary, with a correct cross-reference table."""
from typing import Mapping


def _pdf_string(value: bytes) -> bytes:
    return b"(" + value.replace(b"\\", b"\\\\").replace(b"(", b"\\(").replace(b")", b"\\)") + b")"


def minimal_pdf(pages: int = 1, info: Mapping[str, bytes] = None) -> bytes:
    objects = [b"<< /Type /Catalog /Pages 2 0 R >>",
               b"<< /Type /Pages /Kids [" + b" ".join(b"%d 0 R" % (3 + i) for i in range(pages)) +
               b"] /Count %d >>" % pages]
    objects += [b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>"] * pages
    trailer = b"/Size %d /Root 1 0 R" % (len(objects) + 1 + (1 if info else 0))
    if info:
        objects.append(b"<< " + b" ".join(b"/" + k.encode() + b" " + _pdf_string(v) for k, v in info.items()) + b" >>")
        trailer += b" /Info %d 0 R" % len(objects)
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for n, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % n + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for off in offsets:
        out += b"%010d 00000 n \n" % off
    out += b"trailer\n<< " + trailer + b" >>\nstartxref\n%d\n%%%%EOF\n" % xref
    return bytes(out)
