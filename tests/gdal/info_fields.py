#!/usr/bin/python3
"""`nitf info --json` of every sample against docs/nitf-info.schema.json, and every
header and image field GDAL reports as metadata against the same field in it.
usage: info_fields.py NITF_TOOL SCHEMA SAMPLES_DIR...
"""
import glob, json, os, subprocess, sys
import jsonschema
from osgeo import gdal

gdal.UseExceptions()
gdal.PushErrorHandler("CPLQuietErrorHandler")
gdal.SetConfigOption("GDAL_PAM_ENABLED", "NO")
TOOL, SCHEMA, DIRS = sys.argv[1], sys.argv[2], sys.argv[3:]
# GDAL's FHDR joins FHDR and FVER and its FBKGC is three numbers; ILOC comes in halves.
SKIP = {"FHDR", "FBKGC"}
HALVES = {"ILOC_ROW": ("iloc", 0), "ILOC_COLUMN": ("iloc", 1)}
# Fields every run must have compared at least once.
MUST = {"FTITLE", "FDT", "ONAME", "FSCLAS", "FSCODE", "FSCTLN", "FSCOP", "IID1", "IID2",
        "ISORCE", "IDATIM", "TGTID", "ICORDS", "IGEOLO", "ISCLAS", "ISCODE", "ISDG", "IC"}


def value(obj, name):
    """Our value of GDAL's field `name` in one header object, or None."""
    if name in HALVES:
        key, half = HALVES[name]
        return obj[key][half] if key in obj else None
    # NITF 2.0 calls IID1 IID and IID2 ITITLE; GDAL reports both under the 2.1 names.
    for key in {"IID1": ["iid1", "iid"], "IID2": ["iid2"]}.get(name, [name.lower()]):
        if key in obj:
            return obj[key]
    return None


def same(ours, theirs):
    if isinstance(ours, int):
        return theirs.strip().lstrip("+-").isdigit() and ours == int(theirs)
    # GDAL keeps a blank at the end of a few fields (IMAG "1.0 ").
    return isinstance(ours, str) and ours.rstrip() == theirs.rstrip()


def gdal_images(path):
    ds = gdal.Open(path)
    subs = ds.GetSubDatasets()
    return [gdal.Open(s[0]) for s in subs] if len(subs) > 1 else [ds]


def main():
    schema = json.load(open(SCHEMA))
    validator = jsonschema.Draft202012Validator(schema)
    files = sorted(f for d in DIRS for f in glob.glob(os.path.join(d, "**", "*"), recursive=True)
                   if os.path.isfile(f) and not f.endswith((".png", ".md", ".tsv")))
    failures, compared, listed = [], {}, 0
    for path in files:
        run = subprocess.run([TOOL, "info", "--json", path], capture_output=True, text=True)
        if run.returncode != 0:
            continue
        listed += 1
        info = json.loads(run.stdout)
        for e in validator.iter_errors(info):
            failures.append(f"{path}: schema: {'/'.join(map(str, e.absolute_path))}: {e.message[:160]}")
        try:
            datasets = gdal_images(path)
        except RuntimeError:
            continue
        images = info.get("images", [])
        for k, ds in enumerate(datasets):
            for key, theirs in ds.GetMetadata().items():
                name = key[5:]
                if not key.startswith("NITF_") or name in SKIP:
                    continue
                ours = value(info, name)
                if ours is None and k < len(images):
                    ours = value(images[k], name)
                if ours is None:
                    continue  # what GDAL adds of its own (CCS, RPF names)
                compared[name] = compared.get(name, 0) + 1
                if not same(ours, theirs):
                    failures.append(f"{path} image {k}: {name} {ours!r}, GDAL {theirs!r}")
    missing = MUST - set(compared)
    print(f"{listed} files listed and checked against the schema; "
          f"{sum(compared.values())} values of {len(compared)} fields compared with GDAL")
    for f in failures[:40]:
        print(f)
    if missing:
        print("never compared:", " ".join(sorted(missing)))
    return 1 if failures or missing or listed == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
