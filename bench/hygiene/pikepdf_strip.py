#!/usr/bin/python3
"""pikepdf_strip.py IN OUT: deletes the trailer's /Info and the catalog's
/Metadata with pikepdf and saves (pikepdf's plain save, a full rewrite)."""
import sys

import pikepdf

with pikepdf.open(sys.argv[1]) as pdf:
    if "/Info" in pdf.trailer:
        del pdf.trailer["/Info"]
    if "/Metadata" in pdf.Root:
        del pdf.Root["/Metadata"]
    pdf.save(sys.argv[2])
