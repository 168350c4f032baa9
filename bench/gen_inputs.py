#!/usr/bin/env python3
"""Generates the benchmark inputs into a directory.

    gen_inputs.py OUT_DIR [--scale F]

At scale 1 (the default) it writes:
  large.pdf    about 100 MB: 3 Flate content streams and one DCT image per
               page, a Flate image on every fourth page
  objects.pdf  100,000 small objects: pages with 98 link annotations each
  pages.pdf    20,000 pages under a balanced page tree
  small/       1,000 small PDFs of one to three pages
and, when qpdf is installed, large-os.pdf, objects-os.pdf and pages-os.pdf:
the same files with object streams (qpdf --object-streams=generate).
Every file has an Info dictionary and an XMP packet. Sizes and counts scale
with F. The output is deterministic for a given scale.
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import zlib

WORDS = ("lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod tempor "
         "incididunt ut labore et dolore magna aliqua enim ad minim veniam quis nostrud "
         "exercitation ullamco laboris nisi aliquip ex ea commodo consequat").split()


class Pdf:
    """Objects numbered from 1, written in order with a classic xref table."""

    def __init__(self):
        self.bodies = [None]

    def reserve(self):
        self.bodies.append(None)
        return len(self.bodies) - 1

    def put(self, num, body):
        self.bodies[num] = body.encode("latin-1") if isinstance(body, str) else body

    def add(self, body):
        num = self.reserve()
        self.put(num, body)
        return num

    def put_stream(self, num, dict_entries, data):
        head = ("<< %s /Length %d >>\nstream\n" % (dict_entries, len(data))).encode("latin-1")
        self.bodies[num] = head + data + b"\nendstream"

    def add_stream(self, dict_entries, data):
        num = self.reserve()
        self.put_stream(num, dict_entries, data)
        return num

    def write(self, path, root, info):
        offsets = []
        with open(path, "wb") as f:
            pos = f.write(b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n")
            for num in range(1, len(self.bodies)):
                offsets.append(pos)
                pos += f.write(b"%d 0 obj\n" % num)
                pos += f.write(self.bodies[num])
                pos += f.write(b"\nendobj\n")
            xref = [b"xref\n0 %d\n" % len(self.bodies), b"0000000000 65535 f \n"]
            xref += [b"%010d 00000 n \n" % off for off in offsets]
            f.write(b"".join(xref))
            f.write(b"trailer\n<< /Size %d /Root %d 0 R /Info %d 0 R >>\nstartxref\n%d\n%%%%EOF\n"
                    % (len(self.bodies), root, info, pos))


def xmp_packet(title, tool):
    return ('<?xpacket begin="\xef\xbb\xbf" id="W5M0MpCehiHzreSzNTczkc9d"?>\n'
            '<x:xmpmeta xmlns:x="adobe:ns:meta/">\n'
            '<rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">\n'
            '<rdf:Description rdf:about="" xmlns:dc="http://purl.org/dc/elements/1.1/"'
            ' xmlns:xmp="http://ns.adobe.com/xap/1.0/" xmlns:pdf="http://ns.adobe.com/pdf/1.3/">\n'
            '<dc:title><rdf:Alt><rdf:li xml:lang="x-default">%s</rdf:li></rdf:Alt></dc:title>\n'
            '<dc:creator><rdf:Seq><rdf:li>Bench Writer</rdf:li></rdf:Seq></dc:creator>\n'
            '<xmp:CreatorTool>%s</xmp:CreatorTool>\n'
            '<xmp:CreateDate>2024-03-01T10:00:00Z</xmp:CreateDate>\n'
            '<pdf:Producer>%s</pdf:Producer>\n'
            '</rdf:Description>\n</rdf:RDF>\n</x:xmpmeta>\n'
            '<?xpacket end="w"?>' % (title, tool, tool)).encode("latin-1")


def start_doc(title):
    """A document with catalog 1, page tree root 2, Info 3, font 4 and XMP 5."""
    pdf = Pdf()
    for _ in range(5):
        pdf.reserve()
    pdf.put(3, "<< /Title (%s) /Author (Bench Writer) /Subject (benchmark input) /Keywords (bench, pdf) "
               "/Creator (gen_inputs) /Producer (gen_inputs 1.0) /CreationDate (D:20240301100000Z) "
               "/ModDate (D:20240302110000Z) >>" % title)
    pdf.put(4, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>")
    pdf.put_stream(5, "/Type /Metadata /Subtype /XML", xmp_packet(title, "gen_inputs"))
    return pdf


def finish_doc(pdf, path, page_nums, page_body, fanout=32):
    """Builds a balanced page tree over page_nums (reserved), fills each page with
    page_body(index, parent) and writes the file."""
    parent = {}
    counts = {p: 1 for p in page_nums}
    level = list(page_nums)
    while len(level) > fanout:
        nxt = []
        for i in range(0, len(level), fanout):
            kids = level[i:i + fanout]
            node = pdf.reserve()
            for k in kids:
                parent[k] = node
            counts[node] = sum(counts[k] for k in kids)
            nxt.append(node)
        level = nxt
    for k in level:
        parent[k] = 2
    kids_of = {}
    for k, p in parent.items():
        kids_of.setdefault(p, []).append(k)
    for node, kids in kids_of.items():
        kids.sort()
        body = "<< /Type /Pages /Kids [%s] /Count %d" % (" ".join("%d 0 R" % k for k in kids),
                                                         sum(counts[k] for k in kids))
        if node != 2:
            body += " /Parent %d 0 R" % parent[node]
        pdf.put(node, body + " >>")
    for i, p in enumerate(page_nums):
        pdf.put(p, page_body(i, parent[p]))
    pdf.put(1, "<< /Type /Catalog /Pages 2 0 R /Metadata 5 0 R >>")
    pdf.write(path, 1, 3)


def text_ops(rng, lines, y0=760):
    out = ["BT /F1 9 Tf 11 TL 56 %d Td" % y0]
    for _ in range(lines):
        out.append("(%s) Tj T*" % " ".join(rng.choice(WORDS) for _ in range(12)))
    out.append("ET")
    return ("\n".join(out) + "\n").encode("latin-1")


def fake_jpeg(rng, n):
    # JPEG framing around incompressible bytes: no tool here decodes it.
    return b"\xff\xd8\xff\xe0" + rng.randbytes(n - 6) + b"\xff\xd9"


def gradient(w, h, shift):
    row = bytes(((x + shift) * 255 // max(1, w - 1)) & 0xFF for x in range(w)) * 3
    return row * h


def make_large(path, target_bytes, rng):
    pdf = start_doc("Large benchmark document")
    pages, extra = [], {}
    grad = zlib.compress(gradient(256, 64, 7), 6)
    size, i = 0, 0
    while size < target_bytes:
        p = pdf.reserve()
        contents = []
        for _ in range(3):
            data = zlib.compress(text_ops(rng, 60), 6)
            contents.append(pdf.add_stream("/Filter /FlateDecode", data))
            size += len(data)
        jpg = fake_jpeg(rng, 160_000 + rng.randrange(40_000))
        img = pdf.add_stream("/Type /XObject /Subtype /Image /Width 800 /Height 600 /ColorSpace /DeviceRGB "
                             "/BitsPerComponent 8 /Filter /DCTDecode", jpg)
        size += len(jpg)
        xobjs = "/Im0 %d 0 R" % img
        if i % 4 == 0:
            g = pdf.add_stream("/Type /XObject /Subtype /Image /Width 256 /Height 64 /ColorSpace /DeviceRGB "
                               "/BitsPerComponent 8 /Filter /FlateDecode", grad)
            xobjs += " /Im1 %d 0 R" % g
            size += len(grad)
        pages.append(p)
        extra[p] = (contents, xobjs)
        size += 400
        i += 1

    def body(i, parent):
        contents, xobjs = extra[pages[i]]
        return ("<< /Type /Page /Parent %d 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 4 0 R >> "
                "/XObject << %s >> >> /Contents [%s] >>"
                % (parent, xobjs, " ".join("%d 0 R" % c for c in contents)))

    finish_doc(pdf, path, pages, body)


def make_objects(path, n_objects, rng):
    pdf = start_doc("Many objects")
    per_page = 100  # the page, its content stream and 98 annotations
    n_pages = max(1, n_objects // per_page)
    pages, extra = [], {}
    for i in range(n_pages):
        p = pdf.reserve()
        c = pdf.add_stream("", text_ops(rng, 2))
        annots = []
        for a in range(per_page - 2):
            x, y = 40 + (a % 7) * 75, 40 + (a // 7) * 50
            annots.append(pdf.add("<< /Type /Annot /Subtype /Link /Rect [%d %d %d %d] /Border [0 0 0] "
                                  "/A << /S /URI /URI (https://example.org/d/%d/%d) >> >>"
                                  % (x, y, x + 60, y + 14, i, a)))
        pages.append(p)
        extra[p] = (c, annots)

    def body(i, parent):
        c, annots = extra[pages[i]]
        return ("<< /Type /Page /Parent %d 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 4 0 R >> >> "
                "/Contents %d 0 R /Annots [%s] >>" % (parent, c, " ".join("%d 0 R" % a for a in annots)))

    finish_doc(pdf, path, pages, body)


def make_pages(path, n_pages, rng):
    pdf = start_doc("Many pages")
    res = pdf.add("<< /Font << /F1 4 0 R >> /ProcSet [/PDF /Text] >>")
    pages, contents = [], {}
    for i in range(n_pages):
        p = pdf.reserve()
        contents[p] = pdf.add_stream("", b"BT /F1 12 Tf 72 720 Td (Page %d) Tj ET\n" % (i + 1))
        pages.append(p)

    def body(i, parent):
        return ("<< /Type /Page /Parent %d 0 R /MediaBox [0 0 612 792] /Resources %d 0 R /Contents %d 0 R >>"
                % (parent, res, contents[pages[i]]))

    finish_doc(pdf, path, pages, body)


def make_small(dir_path, n_files, rng):
    os.makedirs(dir_path, exist_ok=True)
    for k in range(n_files):
        pdf = start_doc("Small document %d" % k)
        pages, contents = [], {}
        for _ in range(1 + k % 3):
            p = pdf.reserve()
            contents[p] = pdf.add_stream("/Filter /FlateDecode", zlib.compress(text_ops(rng, 20), 6))
            pages.append(p)

        def body(i, parent, pages=pages, contents=contents):
            return ("<< /Type /Page /Parent %d 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 4 0 R >> >> "
                    "/Contents %d 0 R >>" % (parent, contents[pages[i]]))

        finish_doc(pdf, os.path.join(dir_path, "doc%04d.pdf" % k), pages, body)


def with_object_streams(src, dst):
    subprocess.run(["qpdf", "--object-streams=generate", src, dst], check=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("out_dir")
    ap.add_argument("--scale", type=float, default=1.0)
    args = ap.parse_args()
    s = args.scale
    os.makedirs(args.out_dir, exist_ok=True)
    j = lambda name: os.path.join(args.out_dir, name)
    make_large(j("large.pdf"), int(100 * 1000 * 1000 * s), random.Random(1))
    make_objects(j("objects.pdf"), max(100, int(100_000 * s)), random.Random(2))
    make_pages(j("pages.pdf"), max(1, int(20_000 * s)), random.Random(3))
    if os.path.isdir(j("small")):
        shutil.rmtree(j("small"))
    make_small(j("small"), max(1, int(1000 * s)), random.Random(4))
    if shutil.which("qpdf"):
        for name in ("large", "objects", "pages"):
            with_object_streams(j(name + ".pdf"), j(name + "-os.pdf"))
    else:
        print("gen_inputs: qpdf not found; no object-stream inputs", file=sys.stderr)


if __name__ == "__main__":
    main()
