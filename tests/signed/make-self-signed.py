#!/usr/bin/python3
"""Makes self-signed.pdf: one page, an Info dictionary, a signature field whose
signature dictionary holds a detached CMS signature (openssl, a throw-away
self-signed certificate) over the /ByteRange of the file.

    tests/signed/make-self-signed.py [OUT]
"""
import os
import subprocess
import sys
import tempfile

CONTENTS_HEX = 8192  # room for the signature, in hex digits


def build(contents_hex, byte_range):
    objs = [
        b"<</Type /Catalog /Pages 2 0 R /AcroForm <</Fields [5 0 R] /SigFlags 3>>>>",
        b"<</Type /Pages /Kids [3 0 R] /Count 1>>",
        b"<</Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Annots [5 0 R] /Contents 4 0 R>>",
        None,  # content stream
        b"<</Type /Annot /Subtype /Widget /FT /Sig /T (Signature1) /Rect [0 0 0 0] /F 132 /P 3 0 R /V 6 0 R>>",
        b"<</Type /Sig /Filter /Adobe.PPKLite /SubFilter /adbe.pkcs7.detached /M (D:20240101000000Z) /ByteRange ["
        + byte_range + b"] /Contents <" + contents_hex + b">>>",
        b"<</Title (Signed fixture) /Producer (make-self-signed.py)>>",
    ]
    content = b"BT /F1 12 Tf 20 100 Td (signed) Tj ET"
    out = bytearray(b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n")
    offs = []
    for i, body in enumerate(objs, 1):
        offs.append(len(out))
        if body is None:
            out += b"%d 0 obj\n<</Length %d>>\nstream\n" % (i, len(content)) + content + b"\nendstream\nendobj\n"
        else:
            out += b"%d 0 obj\n" % i + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
    for o in offs:
        out += b"%010d 00000 n \n" % o
    out += b"trailer\n<</Size %d /Root 1 0 R /Info 7 0 R /ID [<0123456789ABCDEF0123456789ABCDEF><0123456789ABCDEF0123456789ABCDEF>]>>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref)
    return bytes(out)


def main():
    out_path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "self-signed.pdf")
    placeholder = b"0" * CONTENTS_HEX
    draft = build(placeholder, b"0 0000000000 0000000000 0000000000")
    start = draft.index(b"/Contents <") + len(b"/Contents ")
    end = start + CONTENTS_HEX + 2  # the hex string with its brackets
    br = b"0 %010d %010d %010d" % (start, end, len(draft) - end)
    pdf = build(placeholder, br)
    assert len(pdf) == len(draft)
    signed = pdf[:start] + pdf[end:]
    with tempfile.TemporaryDirectory() as tmp:
        key, cert, data = (os.path.join(tmp, n) for n in ("key.pem", "cert.pem", "data.bin"))
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                        "-days", "3650", "-subj", "/CN=vellix test signer"], check=True, capture_output=True)
        with open(data, "wb") as f:
            f.write(signed)
        der = subprocess.run(["openssl", "cms", "-sign", "-binary", "-in", data, "-signer", cert, "-inkey", key,
                              "-outform", "DER", "-md", "sha256"], check=True, capture_output=True).stdout
    sig = der.hex().upper().encode()
    assert len(sig) <= CONTENTS_HEX
    pdf = pdf[:start + 1] + sig + b"0" * (CONTENTS_HEX - len(sig)) + pdf[end - 1:]
    with open(out_path, "wb") as f:
        f.write(pdf)


if __name__ == "__main__":
    main()
