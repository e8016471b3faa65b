#!/usr/bin/python3
"""What extended reading should show of an image, worked out from GDAL's samples: a single
band with a colour table through the table; unsigned samples of up to 16 bits by their
top 8 bits after widening their ABPP significant bits (the low ones, or the high ones
when PJUST is L) to the sample width; other samples (unsigned 32 and 64 bits, signed,
float, complex magnitudes) stretched linearly from the smallest to the largest finite
value of the shown bands onto 0..255 (NaN and infinities 0); with "ycc", the three bands
as Y, Cb, Cr turned into R, G, B (ITU-R BT.601, full range). Writes a binary PGM (one
band) or PPM (three).

usage: levels.py FILE OUT BANDS [ycc]    (BANDS: GDAL's band numbers, "1" or "1,2,3")
"""
import sys

import numpy as np
from osgeo import gdal

gdal.UseExceptions()
gdal.PushErrorHandler("CPLQuietErrorHandler")


def through_table(band):
    table = band.GetColorTable()
    entries = [table.GetColorEntry(i)[:3] for i in range(table.GetCount())]
    entries += [(0, 0, 0)] * (256 - len(entries))
    return np.moveaxis(np.array(entries, np.uint8)[band.ReadAsArray()], -1, 0)


def levels(ds, bands):
    if len(bands) == 1 and ds.GetRasterBand(bands[0]).GetColorTable():
        return through_table(ds.GetRasterBand(bands[0]))
    a = np.stack([ds.GetRasterBand(b).ReadAsArray() for b in bands])
    if a.dtype.kind == "u" and a.dtype.itemsize <= 2:
        bits = 8 * a.dtype.itemsize
        abpp = int(ds.GetMetadataItem("NITF_ABPP") or bits)
        wide = a.astype(np.uint64)
        if abpp < bits:  # the significant bits, as PJUST places them, widened
            left = ds.GetMetadataItem("NITF_PJUST") == "L"
            wide = wide >> (bits - abpp) if left else wide & ((1 << abpp) - 1)
            wide = wide * ((1 << bits) - 1) // ((1 << abpp) - 1)
        return (wide >> (bits - 8)).astype(np.uint8)
    v = np.abs(a).astype(np.float64) if a.dtype.kind == "c" else a.astype(np.float64)
    finite = np.isfinite(v)
    lo, hi = (v[finite].min(), v[finite].max()) if finite.any() else (0.0, 0.0)
    if hi <= lo:
        return np.zeros(a.shape, np.uint8)
    out = np.floor((np.where(finite, v, lo) - lo) * 255.0 / (hi - lo))
    return np.clip(out, 0, 255).astype(np.uint8)


def rgb_of_ycc(a):
    y, cb, cr = (a[i].astype(np.float64) for i in range(3))
    cb, cr = cb - 128, cr - 128
    rgb = [y + 1.402 * cr, y - 0.344136 * cb - 0.714136 * cr, y + 1.772 * cb]
    return np.stack([np.clip(np.round(c), 0, 255) for c in rgb]).astype(np.uint8)


def main():
    path, out, bands = sys.argv[1], sys.argv[2], [int(b) for b in sys.argv[3].split(",")]
    a = levels(gdal.Open(path), bands)
    if len(sys.argv) > 4 and sys.argv[4] == "ycc":
        a = rgb_of_ycc(a)
    h, w = a.shape[1:]
    with open(out, "wb") as f:
        f.write(b"P%d\n%d %d\n255\n" % (6 if a.shape[0] == 3 else 5, w, h))
        f.write(np.ascontiguousarray(np.moveaxis(a, 0, -1)).tobytes())


main()
