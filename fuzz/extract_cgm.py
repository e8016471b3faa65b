#!/usr/bin/env python3
"""Writes the data of every graphic segment of the given NITF files into OUT_DIR, one
file per segment (NAME.sN.cgm), as seeds for the CGM harness.

Positions come from the file header's length tables (HL, NUMI/LISH/LI, NUMS/LSSH/LS);
files whose header does not parse are skipped, so any file may be passed."""
import os
import sys


def field(data, at, width):
    return int(data[at:at + width].decode("ascii")), at + width


def graphic_segments(data):
    if data[:4] not in (b"NITF", b"NSIF"):
        return
    at = 342  # FHDR .. FSCPYS (296 bytes), ENCRYP, FBKGC, ONAME, OPHONE
    _fl, at = field(data, at, 12)
    hl, at = field(data, at, 6)
    numi, at = field(data, at, 3)
    offset = hl
    for _ in range(numi):
        lish, at = field(data, at, 6)
        li, at = field(data, at, 10)
        offset += lish + li
    nums, at = field(data, at, 3)
    for _ in range(nums):
        lssh, at = field(data, at, 4)
        ls, at = field(data, at, 6)
        yield data[offset + lssh:offset + lssh + ls]
        offset += lssh + ls


def main():
    if len(sys.argv) < 3:
        sys.exit("usage: extract_cgm.py OUT_DIR FILE...")
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    count = 0
    for path in sys.argv[2:]:
        with open(path, "rb") as f:
            data = f.read()
        try:
            segments = list(graphic_segments(data))
        except (ValueError, UnicodeDecodeError):
            continue
        base = os.path.basename(path)
        for i, segment in enumerate(segments):
            if segment:
                with open(os.path.join(out, "%s.s%d.cgm" % (base, i)), "wb") as f:
                    f.write(segment)
                count += 1
    print("extract_cgm: %d graphic segments" % count)


if __name__ == "__main__":
    main()
