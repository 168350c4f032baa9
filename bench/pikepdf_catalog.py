#!/usr/bin/env python3
"""The pikepdf peer of `vellix batch DIR`: the Info values and page count of
every *.pdf file of DIR as JSON Lines (a failure as an error record)."""
import json
import os
import sys

import pikepdf

d = sys.argv[1]
for name in sorted(os.listdir(d)):
    if not name.lower().endswith(".pdf") or name.startswith("."):
        continue
    path = os.path.join(d, name)
    try:
        with pikepdf.open(path) as pdf:
            info = {str(k)[1:]: str(v) for k, v in pdf.docinfo.items()}
            rec = {"path": path, "result": dict(info, pages=len(pdf.pages))}
    except Exception as e:  # a damaged or encrypted file
        rec = {"path": path, "error": str(e)}
    print(json.dumps(rec))
