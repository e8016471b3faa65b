#!/usr/bin/env python3
"""Writes every TRE of the given NITF 2.1 / NSIF files into OUT_DIR, one file per TRE
(NAME.N.TAG: the 6-character tag, then the TRE's data), as seeds for the TRE harness.
With --list it prints "file segment tag length" lines instead.

The walk follows the header's length tables and each subheader's own fields; a file
or segment that does not parse is skipped, so any file may be passed."""
import os
import sys

SECURITY = 166  # the security fields after the classification


def num(data, at, width):
    return int(data[at:at + width].decode("ascii").strip() or "0")


def tres(area):
    at = 0
    while at + 11 <= len(area):
        tag = area[at:at + 6].decode("latin-1")
        cel = num(area, at + 6, 5)
        if at + 11 + cel > len(area):
            return
        yield tag, area[at + 11:at + 11 + cel]
        at += 11 + cel


def area(data, at):
    """The TRE area whose 5-digit length is at `at`, and the position after it."""
    length = num(data, at, 5)
    at += 5
    if length == 0:
        return b"", at
    return data[at + 3:at + length], at + length


def image_areas(s):
    at = 2 + 10 + 14 + 17 + 80 + 1 + SECURITY + 1 + 42 + 8 + 8 + 3 + 8 + 8 + 2 + 1
    icords = s[at:at + 1]
    at += 1
    if icords not in (b" ", b"N"[:0]):
        at += 60
    nicom = num(s, at, 1)
    at += 1 + 80 * nicom
    ic = s[at:at + 2]
    at += 2
    if ic not in (b"NC", b"NM"):
        at += 4
    nbands = num(s, at, 1)
    at += 1
    if nbands == 0:
        nbands = num(s, at, 5)
        at += 5
    for _ in range(nbands):
        at += 2 + 6 + 1 + 3
        nluts = num(s, at, 1)
        at += 1
        if nluts:
            nelut = num(s, at, 5)
            at += 5 + nluts * nelut
    at += 1 + 1 + 4 + 4 + 4 + 4 + 2 + 3 + 3 + 10 + 4
    udid, at = area(s, at)
    ixshd, at = area(s, at)
    return [("udid", udid), ("ixshd", ixshd)]


def graphic_areas(s):
    at = 2 + 10 + 20 + 1 + SECURITY + 1 + 1 + 13 + 3 + 3 + 10 + 10 + 1 + 10 + 2
    return [("sxshd", area(s, at)[0])]


def text_areas(s):
    at = 2 + 7 + 3 + 14 + 80 + 1 + SECURITY + 1 + 3
    return [("txshd", area(s, at)[0])]


def walk(data):
    """(segment, tag, bytes) for every TRE of the file."""
    if data[:9] not in (b"NITF02.10", b"NSIF01.00"):
        return
    at = 360 - 6 - 12
    at += 12
    hl = num(data, at, 6)
    at += 6
    tables = []
    for lw, dw in ((6, 10), (4, 6), (3, 0), (4, 5), (4, 9), (4, 7)):
        n = num(data, at, 3)
        at += 3
        entries = []
        for _ in range(n):
            entries.append((num(data, at, lw), num(data, at + lw, dw) if dw else 0))
            at += lw + dw
        tables.append(entries)
    udhd, at = area(data, at)
    xhd, at = area(data, at)
    out = [("file.udhd", udhd), ("file.xhd", xhd)]
    offset = hl
    readers = {0: ("image", image_areas), 1: ("graphic", graphic_areas), 3: ("text", text_areas)}
    for kind, entries in enumerate(tables):
        for i, (lsh, ld) in enumerate(entries):
            sub = data[offset:offset + lsh]
            if kind in readers:
                name, reader = readers[kind]
                try:
                    out += [("%s%d.%s" % (name, i, a), b) for a, b in reader(sub)]
                except ValueError:
                    pass
            elif kind == 4 and sub[2:27].strip() == b"TRE_OVERFLOW":
                out.append(("des%d" % i, data[offset + lsh:offset + lsh + ld]))
            offset += lsh + ld
    for segment, bytes_ in out:
        for tag, tre in tres(bytes_):
            yield segment, tag, tre


def main():
    args = sys.argv[1:]
    listing = args and args[0] == "--list"
    if listing:
        args = args[1:]
    out_dir, files = (None, args) if listing else (args[0], args[1:])
    for path in files:
        try:
            with open(path, "rb") as f:
                data = f.read()
            found = list(walk(data))
        except (ValueError, OSError):
            continue
        for n, (segment, tag, tre) in enumerate(found):
            if listing:
                print(path, segment, tag.strip(), len(tre))
            else:
                name = "%s.%d.%s" % (os.path.basename(path), n, tag.strip() or "blank")
                with open(os.path.join(out_dir, name), "wb") as f:
                    f.write(tag.encode("latin-1") + tre)


if __name__ == "__main__":
    main()
