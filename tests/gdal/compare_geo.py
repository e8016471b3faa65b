#!/usr/bin/python3
"""`nitf info --geojson` corners and `nitf locate` against GDAL's georeferencing and RPC
transformer, on every located sample and on files GDAL writes (and variants of them).
usage: compare_geo.py NITF_TOOL SAMPLES_DIR...
"""
import glob, json, os, subprocess, sys, tempfile
import numpy
from osgeo import gdal, osr

gdal.UseExceptions()
gdal.PushErrorHandler("CPLQuietErrorHandler")
gdal.SetConfigOption("NITF_OPEN_UNDERLYING_DS", "NO")
gdal.SetConfigOption("GDAL_PAM_ENABLED", "NO")
TOOL, LIMIT = sys.argv[1], {"corner": 1e-6, "ground": 1e-6, "image": 0.01}
WGS84 = osr.SpatialReference()
WGS84.ImportFromEPSG(4326)
WGS84.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
worst, checked, failures = {k: 0.0 for k in LIMIT}, {k: 0 for k in LIMIT}, []


def check(what, error, where):
    worst[what], checked[what] = max(worst[what], error), checked[what] + 1
    if not error <= LIMIT[what]:
        failures.append(f"{where}: {what} off by {error:g}")


def images(path):
    ds = gdal.Open(path)
    return [ds] + [gdal.Open(s[0]) for s in ds.GetSubDatasets()[1:]]


def corners(path, features):
    for index, ds in enumerate(images(path)):
        gt, gcps = ds.GetGeoTransform(can_return_null=True), ds.GetGCPs()
        if not (gt or gcps) or ds.GetMetadataItem("NITF_IC") in ("C4", "M4"):
            continue  # no oracle: GDAL places map frames (VQ) by their RPF zone, not IGEOLO
        if index >= len(features) or not features[index]["geometry"]:
            failures.append(f"{path} image {index}: located by GDAL, not by nitf")
            continue
        ring = features[index]["geometry"]["coordinates"][0]
        ours = [ring[0], ring[3], ring[2], ring[1]]  # back into IGEOLO's order
        w, h = ds.RasterXSize, ds.RasterYSize
        centres = [(0.5, 0.5), (w - 0.5, 0.5), (w - 0.5, h - 0.5), (0.5, h - 0.5)]
        if gcps:
            theirs = [(g.GCPX, g.GCPY) for g in gcps]
        else:  # GDAL fits an affine transform to the corners: fit ours as it does
            srs = ds.GetSpatialRef()
            srs.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
            there, back = osr.CoordinateTransformation(WGS84, srs), osr.CoordinateTransformation(srs, WGS84)
            a = numpy.array([[1, px, py] for px, py in centres])
            xy = numpy.array([there.TransformPoint(*p)[:2] for p in ours])
            ours = [back.TransformPoint(*p)[:2] for p in a @ numpy.linalg.lstsq(a, xy, rcond=None)[0]]
            theirs = [back.TransformPoint(gt[0] + x * gt[1] + y * gt[2], gt[3] + x * gt[4] + y * gt[5])[:2]
                      for x, y in centres]
        check("corner", max(abs(a - b) for p, q in zip(ours, theirs) for a, b in zip(p, q)),
              f"{path} image {index}")


def locate(*args):
    out = subprocess.run([TOOL, "locate", *map(str, args)], capture_output=True, text=True)
    return [float(v) for v in out.stdout.split()] if out.returncode == 0 else None


def rpc(path):
    for index, ds in enumerate(images(path)):
        md = ds.GetMetadata("RPC")
        if not md:
            continue
        t = gdal.Transformer(ds, None, ["METHOD=RPC", "RPC_PIXEL_ERROR_THRESHOLD=1e-9"])
        z0 = float(md["HEIGHT_OFF"])
        for x in numpy.linspace(0, ds.RasterXSize, 4):
            for y in numpy.linspace(0, ds.RasterYSize, 4):
                for z in (z0 - 100, z0, z0 + 250):
                    where = f"{path} image {index} at {x:g},{y:g},{z:g}"
                    ok, (lon, lat, _) = t.TransformPoint(0, x, y, z)
                    got = locate(path, "--image", index, y - 0.5, x - 0.5, z)  # GDAL's 0: the edge
                    if not ok or not got:
                        failures.append(f"{where}: GDAL {ok}, nitf {got}")
                        continue
                    check("ground", max(abs(got[0] - lat), abs(got[1] - lon)), where)
                    ok, (px, py, _) = t.TransformPoint(1, lon, lat, z)
                    got = locate(path, "--image", index, "--ground", lat, lon, z)
                    check("image", max(abs(got[0] + 0.5 - py), abs(got[1] + 0.5 - px)), where)


def written(folder, sample):
    """Files GDAL writes, and variants of them patched byte for byte."""
    blocka = "BLOCK_COUNT=1 L_LINES_01=16 FRLC_LOC_01=+49.900000+010.900000 LRLC_LOC_01=+49.1" \
             "00000+010.950000 LRFC_LOC_01=+49.150000+010.100000 FRFC_LOC_01=+49.950000+010.050000"
    made = []
    for name, options in [
            ("g", "-a_ullr 10.1 49.9 10.3 49.7 -a_srs EPSG:4326 -co ICORDS=G"),
            ("d", "-a_ullr -70.1234 -20.4 -69.9 -20.6 -a_srs EPSG:4326 -co ICORDS=D"),
            ("n", "-a_ullr 500000 5500000 502000 5498400 -a_srs EPSG:32633"),
            ("s", "-a_ullr 300000 6500000 302000 6498400 -a_srs EPSG:32733"),
            ("geolob", "-a_ullr 10 50 11 49 -a_srs EPSG:4326 -co SDE_TRE=YES"),
            ("blocka", "-a_ullr 10 50 11 49 -a_srs EPSG:4326 -co BLOCKA_" + " -co BLOCKA_".join(blocka.split()))]:
        made.append(os.path.join(folder, name + ".ntf"))
        gdal.Translate(made[-1], sample, format="NITF", width=20, height=16, options=options.split())

    def patch(name, old, new, source=2):
        data = open(made[source], "rb").read()
        assert old in data, (name, old)
        made.append(os.path.join(folder, name + ".ntf"))
        open(made[-1], "wb").write(data.replace(old, new, 1))
    patch("u", b"N335000505499950335019505499950335019505498450335000505498450",
          b"U33UWQ000509995033UWQ019509995033UWQ019509845033UWQ0005098450")
    rng = numpy.random.default_rng(7)
    for name, zero in [("rpc", False), ("rpc-a", True)]:  # zero: without L², P², H², PLH
        terms = lambda *first: " ".join("%.6E" % (0 if 7 <= i <= 10 and zero else v) for i, v in
                                        enumerate(list(first) + list(rng.normal(0, 1e-4, 20 - len(first)))))
        src = gdal.GetDriverByName("MEM").Create("", 200, 150, 1)
        src.SetMetadata(dict(zip("LINE_OFF SAMP_OFF LAT_OFF LONG_OFF HEIGHT_OFF LINE_SCALE SAMP_SCALE "
                                 "LAT_SCALE LONG_SCALE HEIGHT_SCALE".split(),
                                 "75 100 -33.8765 151.2345 50 80 110 0.0125 0.0155 500".split()),
                             LINE_NUM_COEFF=terms(0, 0.01, -1.02, 0.03), LINE_DEN_COEFF=terms(1),
                             SAMP_NUM_COEFF=terms(0, 1.01, 0.02, -0.04), SAMP_DEN_COEFF=terms(1)), "RPC")
        made.append(os.path.join(folder, name + ".ntf"))
        gdal.GetDriverByName("NITF").CreateCopy(made[-1], src)
    # GDAL reads RPC00A's eighth to eleventh terms in an order of its own: they stay 0.
    patch("rpc00a", b"RPC00B", b"RPC00A", -1)
    return made


def bad(folder):
    """Malformed IGEOLO and RPC TREs give codes, never a crash (the tool runs sanitized)."""
    def variant(name, edit):
        data = open(os.path.join(folder, name), "rb").read()
        ds = gdal.Open(os.path.join(folder, name))
        at = data.find(b"RPC00B01041") if "rpc" in name else data.find(
            (ds.GetMetadataItem("NITF_ICORDS") + ds.GetMetadataItem("NITF_IGEOLO")).encode())
        open(os.path.join(folder, "bad.ntf"), "wb").write(data[:at] + edit(data[at:]))
        return os.path.join(folder, "bad.ntf")
    for name, edit in [("g.ntf", lambda b: b"G9" + b[2:]), ("g.ntf", lambda b: b"X" + b[1:]),
                       ("d.ntf", lambda b: b[:3] + b"x" + b[4:]), ("u.ntf", lambda b: b[:3] + b"I" + b[4:]),
                       ("n.ntf", lambda b: b"N61" + b[3:]),
                       ("g.ntf", lambda b: b[:3] + b"6" + b[4:]), ("n.ntf", lambda b: b[:9] + b"9999999" + b[16:]), ("rpc.ntf", lambda b: b[:6] + b"00500" + b[11:]),
                       ("rpc.ntf", lambda b: b[:6] + b"99999" + b[11:]),
                       ("rpc.ntf", lambda b: b[:92] + b"         nan" + b[104:])]:
        path = variant(name, edit)
        info = subprocess.run([TOOL, "info", "--geojson", path], capture_output=True, text=True)
        run = subprocess.run([TOOL, "locate", path, "5", "5"], capture_output=True, text=True)
        feature = json.loads(info.stdout)["features"][0] if info.returncode == 0 else {}
        if "rpc" in name and not (run.returncode == 1 and "(-9)" in run.stderr) or \
           "rpc" not in name and "error" not in feature.get("properties", {}):
            failures.append(f"bad {name}: {info.returncode} {info.stdout[:200]} {run.stderr}")


with tempfile.TemporaryDirectory() as folder:
    samples = [f for d in sys.argv[2:] for f in sorted(glob.glob(d + "/**/*", recursive=True))
               if os.path.isfile(f) and open(f, "rb").read(4) in (b"NITF", b"NSIF")]
    for path in samples + written(folder, os.path.join(sys.argv[2], "jitc", "i_3001a.ntf")):
        try:
            images(path)
        except RuntimeError:
            continue  # GDAL cannot open it: no oracle
        listing = subprocess.run([TOOL, "info", "--geojson", path], capture_output=True, text=True)
        # A file nitf refuses fails only where GDAL locates an image in it.
        corners(path, json.loads(listing.stdout)["features"] if listing.returncode == 0 else [])
        rpc(path)
    bad(folder)
print("checked %(corner)d images' corners, %(ground)d points image to ground, %(image)d back" % checked)
print("largest differences: corners %(corner).2g degree, ground %(ground).2g degree, "
      "image %(image).2g pixel" % worst)
print("\n".join(failures) or "all agree")
sys.exit(1 if failures else 0)
