"""Samples, composition and metadata of every real file against GDAL and the client."""
import json
import subprocess

import numpy as np
import pytest
from osgeo import gdal

import kvntfu
from conftest import MORE, NITF, SAMPLES, files, ids

gdal.UseExceptions()
gdal.PushErrorHandler("CPLQuietErrorHandler")
ALL = files(SAMPLES, MORE)


def gdal_window(path, index, window, bands):
    ds = gdal.Open(f"NITF_IM:{index}:{path}") if index else gdal.Open(str(path))
    row, col, rows, cols = window
    return np.stack([ds.GetRasterBand(b + 1).ReadAsArray(col, row, cols, rows) for b in bands])


@pytest.mark.parametrize("path", ALL, ids=ids(ALL))
def test_read_equals_gdal(path):
    """The middle of each image, bands reversed, as GDAL reads it: the package's types and
    band order (region_test holds more windows of the same call against GDAL)."""
    try:
        doc = kvntfu.open(path)
    except kvntfu.NitfError:
        pytest.skip("refused")
    with doc:
        for image in doc.images:
            try:
                bands, rows, cols = image.shape
            except kvntfu.UnsupportedError:
                continue
            # GDAL takes the nibbles of uncompressed 12-bit samples in another order.
            if image.bits == 12 and image.header["IC"] == "NC":
                continue
            window = (rows // 3, cols // 4, max(1, rows // 2), max(1, cols // 2))
            try:
                want = gdal_window(path, image.index, window, [bands - 1, 0])
            except (RuntimeError, AttributeError):
                continue  # GDAL does not read it
            got = image.read(window=window, bands=[bands - 1, 0])
            assert got.dtype == want.dtype or got.dtype.kind == want.dtype.kind == "c"
            np.testing.assert_array_equal(got, want, err_msg=f"{image} {window}")


def ppm(data):
    width, height = (int(v) for v in data.split(maxsplit=3)[1:3])
    return np.frombuffer(data[-width * height * 3:], np.uint8).reshape(height, width, 3)


COMPOSED = [p for p in files(SAMPLES) if p.stat().st_size < 4 << 20]


@pytest.mark.parametrize("path", COMPOSED, ids=ids(COMPOSED))
def test_render_equals_client(path, tmp_path):
    out = tmp_path / "out.ppm"
    done = subprocess.run([NITF, "render", "--quiet", str(path), "-o", str(out)],
                          capture_output=True)
    try:
        with kvntfu.open(path) as doc:
            got = doc.render()
    except kvntfu.NitfError as e:
        assert done.returncode != 0, e
        return
    assert done.returncode == 0, done.stderr
    np.testing.assert_array_equal(got, ppm(out.read_bytes()))


@pytest.mark.parametrize("path", ALL, ids=ids(ALL))
def test_metadata_equals_client(path):
    """Headers, TREs, data extensions and footprints as `nitf info` lists them."""
    done = subprocess.run([NITF, "info", "--json", "--quiet", str(path)], capture_output=True)
    try:
        doc = kvntfu.open(path)
    except kvntfu.NitfError as e:
        assert done.returncode != 0
        assert f"({e.code})" in done.stderr.decode()
        return
    info = json.loads(done.stdout)
    with doc:
        segments = [(doc.header, doc.tres, info)]
        for name, seq in (("images", doc.images), ("graphics", doc.graphics), ("texts", doc.texts)):
            assert len(seq) == len(info.get(name, info.get("symbols", []) if name == "graphics" else []))
            segments += [(s.header, s.tres, o) for s, o in zip(seq, info.get(name, []))]
        for header, tres, listed in segments:
            fields = {k.lower(): v for k, v in header.items()}
            for key, value in listed.items():
                if isinstance(value, str) and key in fields:
                    assert fields[key].rstrip() == value.rstrip(), key
            assert [{k: v for k, v in t.items()} for t in tres] == listed.get("tres", [])
        assert [d.details for d in doc.des] == [o["details"] for o in info.get("des", [])]
        geo = json.loads(subprocess.run([NITF, "info", "--geojson", str(path)],
                                        capture_output=True).stdout)
        for got, want in zip(doc.footprints, geo["features"], strict=True):
            assert got["properties"] == want["properties"]
            if want["geometry"]:
                np.testing.assert_allclose(got["geometry"]["coordinates"],
                                           want["geometry"]["coordinates"], atol=1e-9)
