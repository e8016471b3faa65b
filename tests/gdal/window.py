#!/usr/bin/python3
"""GDAL's samples of windows of a NITF file's images, for the raw sample reader's test.

usage: window.py FILE OUTDIR REQUEST...
REQUEST is "IMAGE,ROW,COL,ROWS,COLS,STEP,BANDS" (BANDS: band indices from 0 joined by
"+"); the samples of request N go to OUTDIR/N.bin in the machine's byte order, row by
row, every band of a pixel together, and its type to OUTDIR/N.txt (numpy's dtype
string), or "-" and GDAL's reason when it cannot read it. A step above 1 takes every STEP-th sample from
the window's first; for JPEG 2000 data it reads instead the overview of that reduction,
which GDAL takes from the codestream's resolution levels.
"""
import os
import sys

import numpy as np
from osgeo import gdal

gdal.UseExceptions()
gdal.PushErrorHandler("CPLQuietErrorHandler")


def window(ds, row, col, rows, cols, step, bands):
    j2k = (ds.GetMetadataItem("NITF_IC") or "") in ("C8", "M8")
    level = step.bit_length() - 1
    planes = []
    for b in bands:
        band = ds.GetRasterBand(b + 1)
        if j2k and step > 1:
            band = band.GetOverview(level - 1)
            r0, c0 = -(-row // step), -(-col // step)
            h, w = -(-(row + rows) // step) - r0, -(-(col + cols) // step) - c0
            planes.append(band.ReadAsArray(c0, r0, w, h))
        else:
            planes.append(band.ReadAsArray(col, row, cols, rows)[::step, ::step])
    return np.stack(planes, axis=-1)


def main():
    path, out = sys.argv[1], sys.argv[2]
    for n, request in enumerate(sys.argv[3:]):
        fields = request.split(",")
        image, row, col, rows, cols, step = (int(f) for f in fields[:6])
        bands = [int(b) for b in fields[6].split("+")]
        try:
            ds = gdal.Open(f"NITF_IM:{image}:{path}") if image else gdal.Open(path)
            a = np.ascontiguousarray(window(ds, row, col, rows, cols, step, bands))
            a.tofile(os.path.join(out, f"{n}.bin"))
            kind = a.dtype.str
        except Exception as e:
            kind = "- " + str(e)
        with open(os.path.join(out, f"{n}.txt"), "w") as f:
            f.write(kind)


if __name__ == "__main__":
    main()
