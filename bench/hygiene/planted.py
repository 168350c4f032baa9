#!/usr/bin/env python3
"""Small PDFs with metadata planted in every place it can hide, each value a
unique token, and a manifest per file naming the values and where they are.

    planted.py OUTDIR        writes NAME.pdf and NAME.json for every file

As a module: generate(outdir) writes them and returns [(pdf_path, manifest)].
Every file has one page with visible text (a standard font with a font
descriptor) and a small image, so that a rewrite can be checked to render
the same. The bytes are written by hand, offsets and cross-reference
sections computed here, so that nothing but this file decides what the
inputs hold.
"""
import hashlib
import json
import os
import sys
import zlib

MEDIA_BOX = b"[0 0 200 100]"
CONTENT = (b"BT /F1 18 Tf 12 60 Td (Hygiene check) Tj ET\n"
           b"q 48 0 0 32 140 14 cm /Im1 Do Q\n")


def token(file, place):
    """A value that appears nowhere else: the place's name and a hash."""
    return "plant-%s-%s" % (place, hashlib.sha1(("%s/%s" % (file, place)).encode()).hexdigest()[:6])


def date_token(file, place):
    """A PDF date no tool writes by itself: a day before 1980 from a hash,
    a time of day too."""
    h = int(hashlib.sha1(("%s/%s" % (file, place)).encode()).hexdigest()[:12], 16)
    return "D:%04d%02d%02d%02d%02d%02dZ" % (1901 + h % 79, 1 + (h >> 7) % 12, 1 + (h >> 11) % 28,
                                           (h >> 16) % 24, (h >> 21) % 60, (h >> 27) % 60)


def literal(s):
    """A PDF literal string of the bytes s."""
    out = bytearray(b"(")
    for c in s:
        if c in b"()\\":
            out += b"\\" + bytes([c])
        elif c == 0x0D:
            out += b"\\r"
        else:
            out.append(c)
    return bytes(out + b")")


def utf16_literal(s):
    return literal(b"\xfe\xff" + s.encode("utf-16-be"))


def hex_string(s):
    return b"<" + s.encode().hex().upper().encode() + b">"


def xmp_packet(props):
    """An XMP packet with the given (prefix:name, value) pairs; dc:title is an
    Alt, dc:creator a Seq, the others simple properties."""
    body = []
    for name, value in props:
        if name == "dc:title":
            body.append('<dc:title><rdf:Alt><rdf:li xml:lang="x-default">%s</rdf:li></rdf:Alt></dc:title>' % value)
        elif name == "dc:creator":
            body.append("<dc:creator><rdf:Seq><rdf:li>%s</rdf:li></rdf:Seq></dc:creator>" % value)
        else:
            body.append("<%s>%s</%s>" % (name, value, name))
    return ('<?xpacket begin="\ufeff" id="W5M0MpCehiHzreSzNTczkc9d"?>\n'
            '<x:xmpmeta xmlns:x="adobe:ns:meta/">\n'
            '<rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">\n'
            '<rdf:Description rdf:about="" xmlns:dc="http://purl.org/dc/elements/1.1/" '
            'xmlns:xmp="http://ns.adobe.com/xap/1.0/" xmlns:pdf="http://ns.adobe.com/pdf/1.3/">\n'
            + "\n".join(body) +
            '\n</rdf:Description>\n</rdf:RDF>\n</x:xmpmeta>\n<?xpacket end="w"?>').encode("utf-8")


def stream_obj(entries, data, compress=False):
    if compress:
        data = zlib.compress(data)
        entries += b" /Filter /FlateDecode"
    return b"<< " + entries + b" /Length %d >>\nstream\n" % len(data) + data + b"\nendstream"


def image_data():
    """A 4x4 RGB checker of red and blue."""
    px = bytearray()
    for y in range(4):
        for x in range(4):
            px += b"\xd0\x20\x20" if (x + y) % 2 else b"\x20\x30\xd0"
    return bytes(px)


class Pdf:
    """Objects by number, written with a classic table or, as PDF 1.5, with
    chosen objects in an object stream and a cross-reference stream; then
    incremental updates appended."""

    def __init__(self, version):
        self.version = version
        self.objs = {}
        self.data = b""
        self.offsets = {}  # number -> offset of the newest copy
        self.last_xref = 0

    def add(self, num, body):
        self.objs[num] = body

    def _obj(self, out, num, body):
        self.offsets[num] = len(out)
        out += b"%d 0 obj\n" % num + body + b"\nendobj\n"

    def write_classic(self, trailer):
        out = bytearray(b"%%PDF-%s\n%%\xe2\xe3\xcf\xd3\n" % self.version.encode())
        for num in sorted(self.objs):
            self._obj(out, num, self.objs[num])
        size = max(self.objs) + 1
        self.last_xref = len(out)
        out += b"xref\n0 %d\n0000000000 65535 f\r\n" % size
        for num in range(1, size):
            if num in self.offsets:
                out += b"%010d 00000 n\r\n" % self.offsets[num]
            else:
                out += b"0000000000 00000 f\r\n"
        out += b"trailer\n<< /Size %d " % size + trailer + b" >>\nstartxref\n%d\n%%%%EOF\n" % self.last_xref
        self.data = bytes(out)
        self.size = size

    def write_compressed(self, trailer, in_stream, stream_num):
        """Objects numbered in in_stream go into object stream stream_num;
        the cross-reference stream takes the next free number."""
        out = bytearray(b"%%PDF-%s\n%%\xe2\xe3\xcf\xd3\n" % self.version.encode())
        for num in sorted(self.objs):
            if num not in in_stream:
                self._obj(out, num, self.objs[num])
        heads, bodies = [], b""
        for num in in_stream:
            heads.append(b"%d %d" % (num, len(bodies)))
            bodies += self.objs[num] + b"\n"
        head = b" ".join(heads) + b"\n"
        self._obj(out, stream_num, stream_obj(b"/Type /ObjStm /N %d /First %d" % (len(in_stream), len(head)),
                                              head + bodies, compress=True))
        xref_num = max(max(self.objs), stream_num) + 1
        size = xref_num + 1
        self.offsets[xref_num] = len(out)
        rows = bytearray(b"\x00\x00\x00\x00\x00\xff\xff")
        for num in range(1, size):
            if num in in_stream:
                rows += bytes([2]) + stream_num.to_bytes(4, "big") + in_stream.index(num).to_bytes(2, "big")
            elif num in self.offsets:
                rows += bytes([1]) + self.offsets[num].to_bytes(4, "big") + b"\x00\x00"
            else:
                rows += b"\x00\x00\x00\x00\x00\x00\x00"
        self.last_xref = len(out)
        out += b"%d 0 obj\n" % xref_num + stream_obj(
            b"/Type /XRef /Size %d /W [1 4 2] " % size + trailer, bytes(rows), compress=True) + b"\nendobj\n"
        out += b"startxref\n%d\n%%%%EOF\n" % self.last_xref
        self.data = bytes(out)
        self.size = size

    def update(self, objs, trailer):
        """Appends an incremental update replacing or adding objs (classic)."""
        out = bytearray(self.data)
        nums = sorted(objs)
        for num in nums:
            self.objs[num] = objs[num]
            self._obj(out, num, objs[num])
        prev = self.last_xref
        self.last_xref = len(out)
        out += b"xref\n"
        for num in nums:  # one subsection per object keeps it simple
            out += b"%d 1\n%010d 00000 n\r\n" % (num, self.offsets[num])
        self.size = max(self.size, max(nums) + 1)
        out += b"trailer\n<< /Size %d /Prev %d " % (self.size, prev) + trailer + \
            b" >>\nstartxref\n%d\n%%%%EOF\n" % self.last_xref
        self.data = bytes(out)


def file_id(name):
    h = hashlib.md5(name.encode()).hexdigest().encode()
    return b"/ID [<%s> <%s>]" % (h, h)


class Planter:
    """Collects the planted values of one file for its manifest."""

    def __init__(self, name):
        self.name = name
        self.values = []

    def plant(self, place, kind, where, encoding="ascii", date=False):
        v = date_token(self.name, place) if date else token(self.name, place)
        self.values.append({"value": v, "place": place, "kind": kind, "where": where, "encoding": encoding,
                            "date": date})
        return v


def page_objects(p, pdf, xmp_compress=False, page_meta=True):
    """Pages 2, page 3, contents 5, font 6, its descriptor 7, image 8 and
    their XMP (9 page, 10 image, 11 font); a /PieceInfo on the page."""
    pdf.add(2, b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
    app = p.plant("piece-app", "piece_info", "name of the page's /PieceInfo entry")
    modified = p.plant("piece-modified", "piece_info", "/LastModified of the page's /PieceInfo entry", date=True)
    private = p.plant("piece-private", "piece_info", "/Private of the page's /PieceInfo entry")
    page = (b"<< /Type /Page /Parent 2 0 R /MediaBox " + MEDIA_BOX + b" /Contents 5 0 R"
            b" /Resources << /Font << /F1 6 0 R >> /XObject << /Im1 8 0 R >> >>"
            b" /PieceInfo << /" + app.encode() + b" << /LastModified " + literal(modified.encode()) +
            b" /Private << /Note " + literal(private.encode()) + b" >> >> >>")
    if page_meta:
        page += b" /Metadata 9 0 R"
    pdf.add(3, page + b" >>")
    pdf.add(5, stream_obj(b"", CONTENT, compress=True))
    widths = b" ".join(b"556" for _ in range(32, 127))
    pdf.add(6, b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding"
               b" /FirstChar 32 /LastChar 126 /Widths [" + widths + b"] /FontDescriptor 7 0 R >>")
    pdf.add(7, b"<< /Type /FontDescriptor /FontName /Helvetica /Flags 32 /FontBBox [-166 -225 1000 931]"
               b" /ItalicAngle 0 /Ascent 718 /Descent -207 /CapHeight 718 /StemV 88 /Metadata 11 0 R >>")
    pdf.add(8, stream_obj(b"/Type /XObject /Subtype /Image /Width 4 /Height 4 /ColorSpace /DeviceRGB"
                          b" /BitsPerComponent 8 /Metadata 10 0 R", image_data(), compress=True))
    meta = b"/Type /Metadata /Subtype /XML"
    if page_meta:
        t = p.plant("page-xmp-title", "xmp", "dc:title of the page's XMP (/Metadata on the page)")
        pdf.add(9, stream_obj(meta, xmp_packet([("dc:title", t)]), xmp_compress))
    t = p.plant("image-xmp-title", "xmp", "dc:title of the image XObject's XMP")
    pdf.add(10, stream_obj(meta, xmp_packet([("dc:title", t)]), xmp_compress))
    t = p.plant("font-xmp-title", "xmp", "dc:title of the XMP on the font descriptor")
    pdf.add(11, stream_obj(meta, xmp_packet([("dc:title", t)]), xmp_compress))


def catalog_xmp(p, where):
    return xmp_packet([
        ("dc:title", p.plant("xmp-title", "xmp", "dc:title of the catalog XMP " + where)),
        ("dc:creator", p.plant("xmp-creator", "xmp", "dc:creator of the catalog XMP " + where)),
        ("xmp:CreatorTool", p.plant("xmp-tool", "xmp", "xmp:CreatorTool of the catalog XMP " + where)),
        ("pdf:Producer", p.plant("xmp-producer", "xmp", "pdf:Producer of the catalog XMP " + where)),
    ])


def info_dict(p, prefix, where):
    """Title, Author (UTF-16BE with a byte-order mark), Subject (a hex
    string), Keywords, Creator, Producer and two dates."""
    def f(field, enc="ascii", date=False):
        return p.plant("%s-%s" % (prefix, field.lower()), "info", "/%s of %s" % (field, where), enc, date)
    title = f("Title")
    author = f("Author", "utf-16be")
    subject = f("Subject", "hex")
    keywords, creator, producer = f("Keywords"), f("Creator"), f("Producer")
    created, modified = f("CreationDate", date=True), f("ModDate", date=True)
    return (b"<< /Title " + literal(title.encode()) + b" /Author " + utf16_literal(author) +
            b" /Subject " + hex_string(subject) + b" /Keywords " + literal(keywords.encode()) +
            b" /Creator " + literal(creator.encode()) + b" /Producer " + literal(producer.encode()) +
            b" /CreationDate " + literal(created.encode()) + b" /ModDate " + literal(modified.encode()) + b" >>")


def make_classic():
    """PDF 1.4, one classic section: Info, catalog XMP as written, page,
    image and font XMP, /PieceInfo and an Info-like dictionary nothing
    references."""
    p, pdf = Planter("classic"), Pdf("1.4")
    pdf.add(1, b"<< /Type /Catalog /Pages 2 0 R /Metadata 12 0 R >>")
    page_objects(p, pdf)
    pdf.add(4, info_dict(p, "info", "the trailer's Info"))
    pdf.add(12, stream_obj(b"/Type /Metadata /Subtype /XML", catalog_xmp(p, "(uncompressed)")))
    orphan_t = p.plant("orphan-title", "info", "/Title of a dictionary nothing references")
    orphan_a = p.plant("orphan-author", "info", "/Author of a dictionary nothing references")
    pdf.add(13, b"<< /Title " + literal(orphan_t.encode()) + b" /Author " + literal(orphan_a.encode()) + b" >>")
    pdf.write_classic(b"/Root 1 0 R /Info 4 0 R " + file_id(p.name))
    return p, pdf.data


def make_updated():
    """PDF 1.4 with an incremental update: the first revision's Info values
    stay in the file, the update replaces Info 4 with new values."""
    p, pdf = Planter("updated"), Pdf("1.4")
    pdf.add(1, b"<< /Type /Catalog /Pages 2 0 R /Metadata 12 0 R >>")
    page_objects(p, pdf, page_meta=False)
    pdf.add(4, info_dict(p, "rev1-info", "revision 1's Info (replaced by the update)"))
    pdf.add(12, stream_obj(b"/Type /Metadata /Subtype /XML", catalog_xmp(p, "(uncompressed)")))
    pdf.write_classic(b"/Root 1 0 R /Info 4 0 R " + file_id(p.name))
    pdf.update({4: info_dict(p, "info", "the updated Info")}, b"/Root 1 0 R /Info 4 0 R " + file_id(p.name))
    return p, pdf.data


def make_objstm():
    """PDF 1.5 with a cross-reference stream: Info and the catalog in a
    compressed object stream, catalog XMP and the other XMP Flate-compressed."""
    p, pdf = Planter("objstm"), Pdf("1.5")
    pdf.add(1, b"<< /Type /Catalog /Pages 2 0 R /Metadata 12 0 R >>")
    page_objects(p, pdf, xmp_compress=True)
    pdf.add(4, info_dict(p, "info", "the Info held in an object stream"))
    pdf.add(12, stream_obj(b"/Type /Metadata /Subtype /XML", catalog_xmp(p, "(Flate)"), compress=True))
    pdf.write_compressed(b"/Root 1 0 R /Info 4 0 R " + file_id(p.name), [1, 4, 2], 14)
    return p, pdf.data


MAKERS = [make_classic, make_updated, make_objstm]


def built():
    """[(name, manifest, bytes)] of every file, in memory."""
    out = []
    for make in MAKERS:
        p, data = make()
        seen = [v["value"] for v in p.values]
        assert all(a == b or a not in b for a in seen for b in seen), "a value contains another"
        days = [v["value"][:10] for v in p.values if v["date"]]
        assert len(set(days)) == len(days), "two planted dates share a day"
        out.append((p.name, {"file": p.name + ".pdf", "values": p.values}, data))
    return out


def generate(outdir):
    os.makedirs(outdir, exist_ok=True)
    made = []
    for name, manifest, data in built():
        path = os.path.join(outdir, name + ".pdf")
        with open(path, "wb") as f:
            f.write(data)
        with open(os.path.join(outdir, name + ".json"), "w") as f:
            json.dump(manifest, f, indent=1)
        made.append((path, manifest))
    return made


def main(argv):
    if len(argv) != 2:
        print("usage: planted.py OUTDIR", file=sys.stderr)
        return 2
    for path, manifest in generate(argv[1]):
        print("%s: %d values" % (path, len(manifest["values"])))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
