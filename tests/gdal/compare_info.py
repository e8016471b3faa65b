#!/usr/bin/python3
"""Checks `nitf info --json` and `nitf text` against GDAL's independent reading of every
real sample: image geometry, graphic placement, text bytes, DES identifiers.

usage: compare_info.py NITF_TOOL SAMPLES_DIR
"""
import glob
import json
import os
import subprocess
import sys

from osgeo import gdal

gdal.UseExceptions()
gdal.PushErrorHandler("CPLQuietErrorHandler")
# Metadata only: the comparison is about headers, not about GDAL decoding every codec.
gdal.SetConfigOption("NITF_OPEN_UNDERLYING_DS", "NO")

REFUSED = {"U_0006A.NTF", "ns3034d.nsf"}  # other NITF versions
UNSUPPORTED = {"rgb16.ntf", "rgb16_11ABPP.ntf", "rgb16_11ABPPLeft.ntf",
               "066_389x298_s_11_3_rgb_jp2.ntf"}  # 16 bits in more than one band


class Checker:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def equal(self, where, what, ours, theirs):
        if ours == theirs:
            self.passed += 1
        else:
            self.failed += 1
            print(f"FAIL {where}: {what}: ours {ours!r}, GDAL {theirs!r}")


def info(tool, path):
    out = subprocess.run([tool, "info", "--json", path], capture_output=True, check=True)
    return json.loads(out.stdout)


def gdal_images(path):
    ds = gdal.Open(path)
    subs = ds.GetMetadata("SUBDATASETS") or {}
    names = [subs[k] for k in sorted(subs, key=lambda k: int(k.split("_")[1])) if k.endswith("_NAME")]
    if names:
        return ds, [gdal.Open(n) for n in names]
    return ds, [ds] if ds.RasterCount > 0 else []


def check_images(c, name, ours, images):
    c.equal(name, "image count", len(ours), len(images))
    # GDAL's NITF_* metadata of each field fields_test compares with the module's records.
    for i, (mine, ds) in enumerate(zip(ours, images)):
        where = f"{name} image {i}"
        c.equal(where, "ncols", mine["ncols"], ds.RasterXSize)
        c.equal(where, "nrows", mine["nrows"], ds.RasterYSize)
        c.equal(where, "bands", mine.get("nbands", mine.get("xbands")), ds.RasterCount)
        if mine["ic"] in ("NC", "NM") and mine["nbpr"] * mine["nbpc"] > 1:
            c.equal(where, "block", [mine["nppbh"], mine["nppbv"]],
                    list(ds.GetRasterBand(1).GetBlockSize()))


def check_graphics(c, name, ours, ds):
    cgm = ds.GetMetadata("CGM") or {}
    c.equal(name, "graphic count", len(ours), int(cgm.get("SEGMENT_COUNT", "0")))
    for i, g in enumerate(ours):
        p = f"SEGMENT_{i}_"
        if p + "SDLVL" not in cgm:
            continue
        where = f"{name} graphic {i}"
        c.equal(where, "sdlvl", g["sdlvl"], int(cgm[p + "SDLVL"]))
        c.equal(where, "salvl", g["salvl"], int(cgm[p + "SALVL"]))
        c.equal(where, "sloc", g["sloc"], [int(cgm[p + "SLOC_ROW"]), int(cgm[p + "SLOC_COL"])])


def check_texts(c, tool, path, name, ours, ds):
    text = ds.GetMetadata("TEXT") or {}
    for i, t in enumerate(ours):
        where = f"{name} text {i}"
        header = text.get(f"HEADER_{i}")
        if header is None:
            c.equal(where, "present in GDAL", True, False)
            continue
        c.equal(where, "textid", t["textid"], header[2:9].strip())
        data = subprocess.run([tool, "text", path, str(i)], capture_output=True, check=True).stdout
        theirs = text.get(f"DATA_{i}", "").encode("latin-1")
        c.equal(where, "bytes", data, theirs)


def check_des(c, name, ours, ds):
    xml = (ds.GetMetadata("xml:DES") or [""])[0]
    theirs = [part.split('"')[0] for part in xml.split('<des name="')[1:]]
    c.equal(name, "desid", [d["desid"] for d in ours], theirs)


def main():
    tool, samples = sys.argv[1], sys.argv[2]
    c = Checker()
    files = sorted(glob.glob(os.path.join(samples, "*", "*.ntf")) +
                   glob.glob(os.path.join(samples, "*", "*.NTF")) +
                   glob.glob(os.path.join(samples, "*", "*.nsf")))
    for path in files:
        name = os.path.relpath(path, samples)
        if os.path.basename(path) in REFUSED | UNSUPPORTED:
            continue
        ours = info(tool, path)
        try:
            ds, images = gdal_images(path)
        except RuntimeError:
            ds, images = None, []
        if ds is None:
            print(f"note: GDAL cannot open {name}; not compared")
            continue
        check_images(c, name, ours["images"], images)
        check_graphics(c, name, ours["graphics"], ds)
        check_texts(c, tool, path, name, ours["texts"], ds)
        check_des(c, name, ours["des"], ds)
    print(f"{c.passed} passed, {c.failed} failed")
    return 1 if c.failed or c.passed == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
