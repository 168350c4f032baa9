#!/usr/bin/env python3
"""How many planted values a file still holds, in any form a reader could
recover them from.

    search.py FILE MANIFEST.json     prints found/total and the values found

The haystack is the file's bytes, every stream's data inflated (object
streams included; streams found by their "stream" and "endstream" keywords,
so that unreachable and replaced objects count too) and the decoded text of
every literal string in both. Each value is looked for as itself, in UTF-16BE
and UTF-16LE, and as hex digits of each of those in either case (as a hex
string writes it). A value counts once however many forms it appears in.
"""
import json
import re
import sys
import zlib

STREAM = re.compile(rb"stream\r?\n")
ESCAPES = {ord("n"): 10, ord("r"): 13, ord("t"): 9, ord("b"): 8, ord("f"): 12}


def inflated_streams(data):
    """The Flate-decoded data of every stream in data that decodes (a
    truncated or trailing-garbage stream gives what decodes of it)."""
    out = []
    for m in STREAM.finditer(data):
        start = m.end()
        end = data.find(b"endstream", start)
        if end < 0:
            break
        d = zlib.decompressobj()
        try:
            plain = d.decompress(data[start:end])
        except zlib.error:
            continue
        if plain:
            out.append(plain)
    return out


def literal_strings(data):
    """The decoded bytes of every balanced literal string in data (escapes,
    octal codes and line continuations resolved)."""
    out = []
    i, n = 0, len(data)
    while True:
        i = data.find(b"(", i)
        if i < 0:
            return out
        depth, j, s = 1, i + 1, bytearray()
        while j < n and depth:
            c = data[j]
            if c == 0x5C and j + 1 < n:  # backslash
                e = data[j + 1]
                j += 2
                if e in ESCAPES:
                    s.append(ESCAPES[e])
                elif 0x30 <= e <= 0x37:
                    k, v = 1, e - 0x30
                    while k < 3 and j < n and 0x30 <= data[j] <= 0x37:
                        v, j, k = v * 8 + data[j] - 0x30, j + 1, k + 1
                    s.append(v & 0xFF)
                elif e == 0x0D:
                    if j < n and data[j] == 0x0A:
                        j += 1
                elif e != 0x0A:
                    s.append(e)
                continue
            if c == 0x28:
                depth += 1
            elif c == 0x29:
                depth -= 1
                if not depth:
                    break
            s.append(c)
            j += 1
        if depth == 0 and b"\\" in data[i:j]:
            out.append(bytes(s))  # strings without escapes are in the raw text already
        i += 1


def haystacks(data):
    plain = [data] + inflated_streams(data)
    return plain + [s for h in plain for s in literal_strings(h)]


def forms(value):
    """(bytes, case-insensitive) forms of one value."""
    texts = [value.encode("utf-8"), value.encode("utf-16-be"), value.encode("utf-16-le")]
    return [(t, False) for t in texts] + [(t.hex().encode(), True) for t in texts]


def found_values(data, values):
    """The values (strings) of `values` found in the file bytes `data`."""
    hay = haystacks(data)
    lower = [h.lower() for h in hay]
    found = []
    for v in values:
        for f, fold in forms(v):
            if any(f in h for h in (lower if fold else hay)):
                found.append(v)
                break
    return found


def search_file(path, manifest):
    """(found values, total) for the file at path against a manifest."""
    with open(path, "rb") as f:
        data = f.read()
    values = [v["value"] for v in manifest["values"]]
    return found_values(data, values), len(values)


def main(argv):
    if len(argv) != 3:
        print("usage: search.py FILE MANIFEST.json", file=sys.stderr)
        return 2
    with open(argv[2]) as f:
        manifest = json.load(f)
    found, total = search_file(argv[1], manifest)
    print("%d/%d" % (len(found), total))
    where = {v["value"]: v["where"] for v in manifest["values"]}
    for v in found:
        print("  %s  (%s)" % (v, where[v]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
