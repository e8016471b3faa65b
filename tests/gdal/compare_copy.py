#!/usr/bin/python3
"""Checks `nitf copy` against GDAL: in the copy of every sample our reader takes, GDAL
must see what it sees in the original: image sizes, bands, block layout, sample type,
the NITF_* metadata, the CGM, TEXT, DES and TRE metadata, and the pixels (band
checksums, decoded by GDAL itself).

usage: compare_copy.py NITF_TOOL SAMPLES_DIR
"""
import glob
import os
import subprocess
import sys
import tempfile

from osgeo import gdal

gdal.UseExceptions()
gdal.PushErrorHandler("CPLQuietErrorHandler")


def checksum(band):
    try:
        return band.Checksum()
    except RuntimeError as e:  # a codec GDAL lacks fails alike on both sides
        return "unreadable: " + str(e).split(":")[0]


def reading(path):
    ds = gdal.Open(path)
    seen = {d: ds.GetMetadata(d) for d in ("", "CGM", "TEXT", "xml:DES", "TRE", "xml:TRE")}
    subs = ds.GetMetadata("SUBDATASETS") or {}
    names = [v for k, v in sorted(subs.items(), key=lambda kv: int(kv[0].split("_")[1]))
             if k.endswith("_NAME")]
    for i, im in enumerate([gdal.Open(n) for n in names] or ([ds] if ds.RasterCount else [])):
        bands = [im.GetRasterBand(b + 1) for b in range(im.RasterCount)]
        seen[f"image {i}"] = (im.RasterXSize, im.RasterYSize, len(bands),
                              [(b.GetBlockSize(), b.DataType, checksum(b)) for b in bands],
                              {k: v for k, v in im.GetMetadata().items() if k.startswith("NITF_")})
    return seen


def main():
    tool, samples = sys.argv[1], sys.argv[2]
    passed = failed = 0
    with tempfile.TemporaryDirectory() as scratch:
        for path in sorted(glob.glob(os.path.join(samples, "*", "*.[nN][tTsS][fF]"))):
            name, copy = os.path.relpath(path, samples), os.path.join(scratch, "copy.ntf")
            if subprocess.run([tool, "copy", path, copy], capture_output=True).returncode != 0:
                print(f"note: {name} is refused by our reader; not compared")
                continue
            try:
                theirs = reading(path)
            except RuntimeError:
                print(f"note: GDAL cannot open {name}; not compared")
                continue
            ours = reading(copy)
            for key in sorted(set(theirs) | set(ours)):
                if theirs.get(key) == ours.get(key):
                    passed += 1
                else:
                    failed += 1
                    print(f"FAIL {name}: {key}:\n  original {theirs.get(key)!r}\n"
                          f"  copy     {ours.get(key)!r}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or passed == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
