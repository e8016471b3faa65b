#!/usr/bin/python3
"""Checks files made by `nitf create` and `nitf append` with GDAL as the reader: every
image is listed with its size, bands and IREP, its pixels agree with the source picture
within JPEG's tolerance (PSNR of at least 40 dB at the best quality), and the text and
CGM segments are there.

usage: check_created.py NITF_TOOL SAMPLES_DIR
"""
import json
import math
import os
import subprocess
import sys
import tempfile

import numpy as np
from osgeo import gdal

gdal.UseExceptions()
gdal.PushErrorHandler("CPLQuietErrorHandler")

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def picture(path, driver, bands, width=96, height=64):
    """A smooth picture written with a GDAL driver: red across, blue down, green fixed."""
    y, x = np.mgrid[0:height, 0:width]
    planes = [x * 255 // width, x * 0 + 128, y * 255 // height] if bands == 3 \
        else [(x + y) * 255 // (width + height)]
    mem = gdal.GetDriverByName("MEM").Create("", width, height, bands, gdal.GDT_Byte)
    for b, plane in enumerate(planes):
        mem.GetRasterBand(b + 1).WriteArray(plane.astype(np.uint8))
    gdal.GetDriverByName(driver).CreateCopy(path, mem)
    return mem


def psnr(a, b):
    sa, sb = a.ReadAsArray().astype(float), b.ReadAsArray().astype(float)
    if sa.shape != sb.shape:
        return 0
    error = ((sa - sb) ** 2).mean()
    return 99 if error == 0 else 10 * math.log10(255 * 255 / error)


def cgm_of_sample(tool, samples, name, out):
    """The first graphic segment's bytes of a sample, found through its header lengths."""
    path = os.path.join(samples, name)
    info = json.loads(subprocess.run([tool, "info", "--json", path], capture_output=True).stdout)
    start = info["hl"] + sum(info["lish"]) + sum(info["li"]) + info["lssh"][0]
    open(out, "wb").write(open(path, "rb").read()[start:start + info["ls"][0]])
    return len(info["ls"])


def main():
    tool, samples = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as tmp:
        sources = {
            "rgb.png": picture(os.path.join(tmp, "rgb.png"), "PNG", 3),
            "grey.pgm": picture(os.path.join(tmp, "grey.pgm"), "PNM", 1),
            "rgb.ppm": picture(os.path.join(tmp, "rgb.ppm"), "PNM", 3),
        }
        text = os.path.join(tmp, "note.txt")
        open(text, "wb").write(b"A note for the file.\r\nSecond line.\r\n")
        cgm = os.path.join(tmp, "g.cgm")
        has_cgm = os.path.isdir(samples) and cgm_of_sample(tool, samples, "jitc/i_3113g.ntf", cgm) > 0
        out = os.path.join(tmp, "made.ntf")
        args = [tool, "create", out, "--title", "Made by nitf create",
                "--image", os.path.join(tmp, "rgb.png"), "--quality", "100",
                "--image", os.path.join(tmp, "grey.pgm"), "--quality", "100",
                "--image", os.path.join(tmp, "rgb.ppm"), "--rgb", "--quality", "100",
                "--text", text] + (["--graphic", cgm] if has_cgm else [])
        run = subprocess.run(args, capture_output=True, text=True)
        check(run.returncode == 0, "nitf create failed: " + run.stderr)
        if run.returncode != 0:
            return
        ds = gdal.Open(out)
        check(ds.GetMetadataItem("NITF_FTITLE") == "Made by nitf create", "FTITLE")
        subs = ds.GetMetadata("SUBDATASETS")
        names = [subs[f"SUBDATASET_{i}_NAME"] for i in range(1, 4)]
        expected = [("rgb.png", 3, "YCbCr601"), ("grey.pgm", 1, "MONO"), ("rgb.ppm", 3, "RGB")]
        for name, (source, bands, irep) in zip(names, expected):
            im = gdal.Open(name)
            src = sources[source]
            check((im.RasterXSize, im.RasterYSize) == (96, 64), f"{source}: size")
            check(im.RasterCount == bands, f"{source}: bands")
            check(im.GetMetadataItem("NITF_IREP") == irep, f"{source}: IREP")
            check(im.GetMetadataItem("NITF_IC") == "C3", f"{source}: IC")
            quality = psnr(im, src)
            check(quality >= 40, f"{source}: PSNR {quality:.1f} dB")
        texts = ds.GetMetadata("TEXT")
        check(any("A note for the file." in v for v in texts.values()), "text segment")
        if has_cgm:
            check(ds.GetMetadata("CGM").get("SEGMENT_COUNT") == "1", "CGM segment")

        appended = os.path.join(tmp, "appended.ntf")
        run = subprocess.run([tool, "append", out, appended, "--text", text],
                             capture_output=True, text=True)
        check(run.returncode == 0, "nitf append failed: " + run.stderr)
        if run.returncode == 0:
            more = gdal.Open(appended).GetMetadata("TEXT")
            check(sum(1 for k in more if k.startswith("DATA_")) == 2, "appended text")


main()
for f in failures:
    print("FAIL:", f)
print(f"{len(failures)} failures")
sys.exit(1 if failures else 0)
