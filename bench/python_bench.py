#!/usr/bin/python3
"""Benchmarks of the Python package (not tests), on the Release tree:

  bench/python_bench.py [COPIES]     (after cmake --build build/release --target kvntfu_python)

1. The catalogue in files per second over a tree of the samples repeated COPIES times
   (8 by default): in one process, on a 2-worker LocalCluster, and the same job written
   with GDAL's Python binding (open, metadata, TREs, corners, a 256-pixel thumbnail).
2. Reading a 16384 x 16384 JPEG (C3) image in 1024 x 1024 blocks: to_dask on 2 workers,
   read() in one thread, GDAL's ReadAsArray. The file is made once by gdal_translate.
Figures are wall-clock seconds of one run each; the machine is shared, so compare
figures of the same run.
"""
import os
import pathlib
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "build" / "release" / "python"))
import numpy as np  # noqa: E402
from osgeo import gdal  # noqa: E402

import kvntfu  # noqa: E402
from kvntfu import _catalog  # noqa: E402

gdal.UseExceptions()
gdal.PushErrorHandler("CPLQuietErrorHandler")
SAMPLES = pathlib.Path(os.environ.get("NITF_SAMPLES") or ROOT.parent / "shared" / "samples")
OUT = ROOT / "build" / "release" / "bench"


def timed(what, fn):
    start = time.perf_counter()
    result = fn()
    seconds = time.perf_counter() - start
    print(f"{what:48s} {seconds:8.2f} s", flush=True)
    return seconds, result


def gdal_catalog(paths, thumbs):
    for path in paths:
        try:
            ds = gdal.Open(path)
            ds.GetMetadata(), ds.GetMetadata("TRE"), ds.GetGCPs(), ds.GetMetadata("SUBDATASETS")
            scale = 256 / max(ds.RasterXSize, ds.RasterYSize, 1)
            gdal.Translate(os.path.join(thumbs, os.path.basename(path) + ".png"), ds, format="PNG",
                           width=max(1, int(ds.RasterXSize * scale)),
                           height=max(1, int(ds.RasterYSize * scale)))
        except Exception:
            pass


def catalogue(copies):
    with tempfile.TemporaryDirectory() as tmp:
        tree = pathlib.Path(tmp) / "tree"
        files = [p for p in SAMPLES.rglob("*") if p.suffix.lower() in (".ntf", ".nsf")]
        for c in range(copies):
            for p in files:
                target = tree / str(c) / p.relative_to(SAMPLES)
                target.parent.mkdir(parents=True, exist_ok=True)
                os.symlink(p, target)
        n = len(_catalog.walk(str(tree)))
        print(f"catalogue of {n} files ({len(files)} samples x {copies})")
        for name, serial in (("one process", True), ("2-worker LocalCluster", False)):
            t, _ = timed(f"  kvntfu {name}", lambda: _catalog.catalog(
                str(tree), f"{tmp}/{serial}.db", thumbnails=f"{tmp}/th{serial}", serial=serial))
            print(f"{'':48s} {n / t:8.1f} files/s")
        os.makedirs(f"{tmp}/gth")
        t, _ = timed("  GDAL's binding, one process", lambda: gdal_catalog(_catalog.walk(str(tree)), f"{tmp}/gth"))
        print(f"{'':48s} {n / t:8.1f} files/s")


def big_read():
    OUT.mkdir(parents=True, exist_ok=True)
    path = OUT / "c3_16384.ntf"
    if not path.exists():
        side = 16384
        y, x = np.mgrid[0:side:16, 0:side:16]
        small = ((x ^ y) & 255).astype(np.uint8)
        src = OUT / "c3_16384_src.tif"
        mem = gdal.GetDriverByName("GTiff").Create(str(src), side, side, 1, gdal.GDT_Byte,
                                                     ["TILED=YES"])
        band = mem.GetRasterBand(1)
        for r in range(0, side, 1024):
            rows = np.repeat(np.repeat(small[r // 16:(r + 1024) // 16], 16, 0), 16, 1)
            band.WriteArray(rows + np.arange(side, dtype=np.uint8), 0, r)
        mem = None
        subprocess.run(["gdal_translate", "-q", "-of", "NITF", "-co", "IC=C3", "-co", "QUALITY=90",
                        "-co", "BLOCKXSIZE=1024", "-co", "BLOCKYSIZE=1024", str(src), str(path)],
                       check=True)
        src.unlink()
    print(f"reading {path.name} (16384 x 16384, C3, 1024 x 1024 blocks)")
    from distributed import Client, LocalCluster

    with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        timed("  to_dask on 2 workers (sum)", lambda: int(kvntfu.to_dask(path).sum().compute()))
    timed("  read() in one thread (sum)", lambda: int(kvntfu.open(path).images[0].read().sum()))
    timed("  GDAL ReadAsArray (sum)", lambda: int(gdal.Open(str(path)).ReadAsArray().sum()))


if __name__ == "__main__":
    catalogue(int(sys.argv[1]) if len(sys.argv) > 1 else 8)
    big_read()
