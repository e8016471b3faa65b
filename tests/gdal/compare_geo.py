#!/usr/bin/python3
"""Checks `nitf info --geojson` corners and `nitf locate` projections against GDAL's
georeferencing and its RPC transformer, on every located sample and on files GDAL writes
(ICORDS G, D, N, S; MGRS, BLOCKA, GEOLOB and RPC00A variants made from them).

usage: compare_geo.py NITF_TOOL SAMPLES_DIR...
"""
import glob, json, os, subprocess, sys, tempfile
import numpy
from osgeo import gdal, osr

gdal.UseExceptions()
gdal.PushErrorHandler("CPLQuietErrorHandler")
gdal.SetConfigOption("NITF_OPEN_UNDERLYING_DS", "NO")
gdal.SetConfigOption("GDAL_PAM_ENABLED", "NO")
TOOL, DEG, PIXEL = sys.argv[1], 1e-6, 0.01
WGS84 = osr.SpatialReference()
WGS84.ImportFromEPSG(4326)
WGS84.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
worst = {"corner": 0.0, "ground": 0.0, "image": 0.0}
failures = []


def check(what, error, limit, where):
    worst[what] = max(worst[what], error)
    if not error <= limit:
        failures.append(f"{where}: {what} off by {error:g}")


def images(path):
    ds = gdal.Open(path)
    subs = [s[0] for s in ds.GetSubDatasets()]
    return [ds] + [gdal.Open(s) for s in subs[1:]]


def corners(path, feature_list):
    for index, ds in enumerate(images(path)):
        gt, gcps = ds.GetGeoTransform(can_return_null=True), ds.GetGCPs()
        if not (gt or gcps) or ds.GetMetadataItem("NITF_IC") in ("C4", "M4"):
            continue  # no oracle: GDAL places map frames (VQ) by their RPF zone, not IGEOLO
        if index >= len(feature_list) or not feature_list[index]["geometry"]:
            failures.append(f"{path} image {index}: located by GDAL, not by nitf")
            continue
        ring = feature_list[index]["geometry"]["coordinates"][0]
        ours = [ring[0], ring[3], ring[2], ring[1]]  # back into IGEOLO's order
        w, h = ds.RasterXSize, ds.RasterYSize
        centres = [(0.5, 0.5), (w - 0.5, 0.5), (w - 0.5, h - 0.5), (0.5, h - 0.5)]
        if gcps:
            theirs = [(g.GCPX, g.GCPY) for g in gcps]
        else:  # GDAL fits an affine transform to the corners: fit ours as it does
            srs = ds.GetSpatialRef()
            srs.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
            there = osr.CoordinateTransformation(WGS84, srs)
            back = osr.CoordinateTransformation(srs, WGS84)
            xy = numpy.array([there.TransformPoint(*p)[:2] for p in ours])
            a = numpy.array([[1, px, py] for px, py in centres])
            fit = a @ numpy.linalg.lstsq(a, xy, rcond=None)[0]
            ours = [back.TransformPoint(*p)[:2] for p in fit]
            theirs = [back.TransformPoint(gt[0] + px * gt[1] + py * gt[2],
                                          gt[3] + px * gt[4] + py * gt[5])[:2]
                      for px, py in centres]
        error = max(abs(a - b) for p, q in zip(ours, theirs) for a, b in zip(p, q))
        check("corner", error, DEG, f"{path} image {index}")


def locate(*args):
    out = subprocess.run([TOOL, "locate", *map(str, args)], capture_output=True, text=True)
    return [float(v) for v in out.stdout.split()] if out.returncode == 0 else None


def rpc(path):
    for index, ds in enumerate(images(path)):
        md = ds.GetMetadata("RPC")
        if not md:
            continue
        t = gdal.Transformer(ds, None, ["METHOD=RPC", "RPC_PIXEL_ERROR_THRESHOLD=1e-9",
                                        "RPC_MAX_ITERATIONS=200"])
        w, h = ds.RasterXSize, ds.RasterYSize
        z0 = float(md["HEIGHT_OFF"])
        for x, y, z in [(x, y, z) for x in numpy.linspace(0, w, 4) for y in numpy.linspace(0, h, 4)
                        for z in (z0 - 100, z0, z0 + 250)]:
            where = f"{path} image {index} at {x:g},{y:g},{z:g}"
            ok, (lon, lat, _) = t.TransformPoint(0, x, y, z)
            got = locate(path, "--image", index, y - 0.5, x - 0.5, z)  # GDAL: 0 is the edge
            if not ok or not got:
                failures.append(f"{where}: GDAL {ok}, nitf {got}")
                continue
            check("ground", max(abs(got[0] - lat), abs(got[1] - lon)), DEG, where)
            ok, (px, py, _) = t.TransformPoint(1, lon, lat, z)
            got = locate(path, "--image", index, "--ground", lat, lon, z)
            check("image", max(abs(got[0] + 0.5 - py), abs(got[1] + 0.5 - px)), PIXEL, where)


def written(folder, sample):
    """Files GDAL writes, and variants of them patched byte for byte."""
    def make(name, *options):
        out = os.path.join(folder, name)
        gdal.Translate(out, sample, format="NITF", width=20, height=16, options=list(options))
        return out
    made = [make("g.ntf", "-a_ullr", "10.1", "49.9", "10.3", "49.7", "-a_srs", "EPSG:4326",
                 "-co", "ICORDS=G"),
            make("d.ntf", "-a_ullr", "-70.1234", "-20.4", "-69.9", "-20.6", "-a_srs",
                 "EPSG:4326", "-co", "ICORDS=D"),
            make("n.ntf", "-a_ullr", "500000", "5500000", "502000", "5498400", "-a_srs",
                 "EPSG:32633"),
            make("s.ntf", "-a_ullr", "300000", "6500000", "302000", "6498400", "-a_srs",
                 "EPSG:32733"),
            make("geolob.ntf", "-a_ullr", "10", "50", "11", "49", "-a_srs", "EPSG:4326",
                 "-co", "SDE_TRE=YES"),
            make("blocka.ntf", "-a_ullr", "10", "50", "11", "49", "-a_srs", "EPSG:4326",
                 "-co", "BLOCKA_BLOCK_COUNT=1", "-co", "BLOCKA_L_LINES_01=16",
                 "-co", "BLOCKA_FRLC_LOC_01=+49.900000+010.900000",
                 "-co", "BLOCKA_LRLC_LOC_01=+49.100000+010.950000",
                 "-co", "BLOCKA_LRFC_LOC_01=+49.150000+010.100000",
                 "-co", "BLOCKA_FRFC_LOC_01=+49.950000+010.050000")]
    def patch(source, name, old, new):
        data = open(source, "rb").read()
        assert old in data, (source, old)
        open(os.path.join(folder, name), "wb").write(data.replace(old, new, 1))
        made.append(os.path.join(folder, name))
    patch(made[2], "u.ntf", b"N335000505499950335019505499950335019505498450335000505498450",
          b"U33UWQ000509995033UWQ019509995033UWQ019509845033UWQ0005098450")
    rng = numpy.random.default_rng(7)
    def rpc(name, zero):  # `zero`: the terms L², P², H², PLH left out
        terms = lambda *first: " ".join("%.6E" % (0 if 7 <= i <= 10 and zero else v) for i, v in
                                        enumerate(list(first) + list(rng.normal(0, 1e-4, 20 - len(first)))))
        src = gdal.GetDriverByName("MEM").Create("", 200, 150, 1)
        src.SetMetadata({"LINE_OFF": "75", "SAMP_OFF": "100", "LAT_OFF": "-33.8765",
                         "LONG_OFF": "151.2345", "HEIGHT_OFF": "50", "LINE_SCALE": "80",
                         "SAMP_SCALE": "110", "LAT_SCALE": "0.0125", "LONG_SCALE": "0.0155",
                         "HEIGHT_SCALE": "500", "LINE_NUM_COEFF": terms(0, 0.01, -1.02, 0.03),
                         "LINE_DEN_COEFF": terms(1), "SAMP_NUM_COEFF": terms(0, 1.01, 0.02, -0.04),
                         "SAMP_DEN_COEFF": terms(1)}, "RPC")
        gdal.GetDriverByName("NITF").CreateCopy(os.path.join(folder, name), src)
        made.append(os.path.join(folder, name))
    rpc("rpc.ntf", False)
    # GDAL reads RPC00A's eighth to eleventh terms in an order of its own: they stay 0.
    rpc("rpc-a.ntf", True)
    patch(made[-1], "rpc00a.ntf", b"RPC00B", b"RPC00A")
    return made


with tempfile.TemporaryDirectory() as folder:
    samples = [f for d in sys.argv[2:] for f in sorted(glob.glob(d + "/**/*", recursive=True))
               if os.path.isfile(f) and open(f, "rb").read(4) in (b"NITF", b"NSIF")]
    files = samples + written(folder, os.path.join(sys.argv[2], "jitc", "i_3001a.ntf"))
    for path in files:
        try:
            images(path)
        except RuntimeError:
            continue  # GDAL cannot open it: no oracle
        listing = subprocess.run([TOOL, "info", "--geojson", path], capture_output=True, text=True)
        # A file nitf refuses fails only where GDAL locates an image in it.
        corners(path, json.loads(listing.stdout)["features"] if listing.returncode == 0 else [])
        rpc(path)
print("largest differences: corners %.2g degree, ground %.2g degree, image %.2g pixel" %
      (worst["corner"], worst["ground"], worst["image"]))
print("\n".join(failures) or "all agree")
sys.exit(1 if failures else 0)
