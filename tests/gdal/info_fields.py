#!/usr/bin/python3
# `nitf info --json` of every sample against docs/nitf-info.schema.json, and every
# header and image field GDAL reports as metadata against the same field in it.
# usage: info_fields.py NITF_TOOL SCHEMA SAMPLES_DIR...
import glob, json, os, subprocess, sys
import jsonschema
from osgeo import gdal

gdal.PushErrorHandler("CPLQuietErrorHandler")
TOOL, SCHEMA, DIRS = sys.argv[1], sys.argv[2], sys.argv[3:]
# GDAL's names for what is not one field as stored here (FHDR joins FHDR and FVER, FBKGC
# is three numbers), and for the 2.0 names.
KEYS = {"FHDR": [], "FBKGC": [], "ILOC_ROW": [], "ILOC_COLUMN": [], "IID1": ["iid1", "iid"]}
MUST = {"FTITLE", "FSCLAS", "FSCODE", "FSCTLN", "IID2", "ISORCE", "IDATIM", "TGTID", "ICORDS",
        "IGEOLO", "ISCLAS", "ISDG", "LUT"}


def same(ours, theirs):  # GDAL keeps a blank after IMAG
    number = theirs.strip().lstrip("-").isdigit() and isinstance(ours, int)
    return ours == int(theirs) if number else str(ours).rstrip() == theirs.rstrip()


def main():
    validator = jsonschema.Draft202012Validator(json.load(open(SCHEMA)))
    files = sorted(f for d in DIRS for f in glob.glob(os.path.join(d, "**", "*"), recursive=True)
                   if os.path.isfile(f) and not f.endswith((".png", ".md", ".tsv")))
    failures, compared, listed = [], {}, 0
    for path in files:
        run = subprocess.run([TOOL, "info", "--json", path], capture_output=True, text=True)
        if run.returncode != 0:
            continue
        listed, info = listed + 1, json.loads(run.stdout)
        failures += [f"{path}: {'/'.join(map(str, e.absolute_path))}: {e.message[:160]}"
                     for e in validator.iter_errors(info)]
        if (ds := gdal.Open(path)) is None:
            continue
        subs = ds.GetSubDatasets()
        for k, image in enumerate([gdal.Open(s[0]) for s in subs] if len(subs) > 1 else [ds]):
            objects = [info] + info.get("images", [])[k:k + 1]
            for key, theirs in image.GetMetadata().items():
                name = key[5:]
                ours = [o[n] for o in objects for n in KEYS.get(name, [name.lower()]) if n in o]
                if key.startswith("NITF_") and ours:
                    compared[name] = compared.get(name, 0) + 1
                    if not same(ours[0], theirs):
                        failures.append(f"{path} image {k}: {name} {ours[0]!r}, GDAL {theirs!r}")
            # Each band's LUTs against GDAL's colour table (red, green, blue; one LUT grey),
            # to NELUT entries: GDAL adds one for the pad value of an RPF frame.
            for lut in objects[1].get("luts", []) if len(objects) > 1 else []:
                table, d = image.GetRasterBand(lut["band"]).GetColorTable(), lut["lutd"]
                if table is None or lut["nluts"] == 2:
                    continue
                ours = [tuple(d[min(t, len(d) - 1)][e] for t in range(3)) for e in range(lut["nelut"])]
                theirs = [table.GetColorEntry(e)[:3] for e in range(table.GetCount())][:len(ours)]
                compared["LUT"] = compared.get("LUT", 0) + 1
                if ours != theirs:
                    failures.append(f"{path} image {k} band {lut['band']}: LUT {ours[:4]}, GDAL {theirs[:4]}")
    failures += [f"{name} never compared" for name in sorted(MUST - set(compared))]
    print(f"{listed} listings valid by the schema; {sum(compared.values())} values of "
          f"{len(compared)} fields compared with GDAL", *failures[:40], sep="\n")
    return 1 if failures or listed == 0 else 0


sys.exit(main())
