"""Where the package, the client and the real samples are for the Python tests.

ctest runs pytest with PYTHONPATH at <build>/python and KVNTF_NITF at the client.
"""
import os
import pathlib

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
SAMPLES = pathlib.Path(os.environ.get("NITF_SAMPLES") or ROOT.parent / "shared" / "samples")
MORE = SAMPLES.parent / "more-samples"
NITF = os.environ.get("KVNTF_NITF", str(ROOT / "build" / "debug" / "bin" / "nitf"))


def files(*folders):
    out = []
    for folder in folders:
        if folder.exists():
            out += [p for p in folder.rglob("*") if p.suffix.lower() in (".ntf", ".nsf", ".nitf")]
    return sorted(out)


def ids(paths):
    return [f"{p.parent.name}/{p.name}" for p in paths]


def pytest_collection_modifyitems(items):
    if not SAMPLES.exists():
        for item in items:
            item.add_marker(pytest.mark.skip(reason=f"no samples at {SAMPLES}"))
