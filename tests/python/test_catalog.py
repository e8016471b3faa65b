"""The catalogue and the converter over real files, on a LocalCluster and serially."""
import os
import shutil
import sqlite3

import numpy as np
from osgeo import gdal

import kvntfu
from conftest import MORE, SAMPLES
from kvntfu import _catalog

gdal.UseExceptions()


def rows(db):
    with sqlite3.connect(db) as con:
        return {t: sorted(map(repr, con.execute(f"SELECT * FROM {t}"))) for t in _catalog.TABLES}


def test_cluster_equals_serial_and_reruns_touch_nothing(tmp_path):
    tree = tmp_path / "tree"
    shutil.copytree(SAMPLES / "misc", tree / "misc")
    shutil.copytree(MORE / "nitf20", tree / "nitf20")
    thumbnails = str(tmp_path / "th")
    serial = _catalog.catalog(str(tree), str(tmp_path / "a.db"), thumbnails=thumbnails, serial=True)
    assert serial["failed"] > 0 and serial["recorded"] == serial["files"]
    _catalog.catalog(str(tree), str(tmp_path / "b.db"), workers=2, thumbnails=thumbnails)
    got = rows(tmp_path / "b.db")
    assert got == rows(tmp_path / "a.db") and len(got["files"]) == serial["files"]
    before = os.stat(tmp_path / "b.db").st_mtime_ns
    again = _catalog.catalog(str(tree), str(tmp_path / "b.db"), workers=2, thumbnails=thumbnails)
    assert again["unchanged"] == serial["files"] and rows(tmp_path / "b.db") == got
    assert os.stat(tmp_path / "b.db").st_mtime_ns == before
    changed = tree / "misc" / "test_blank.ntf"
    changed.write_bytes(changed.read_bytes()[:-1] + b" ")
    third = _catalog.catalog(str(tree), str(tmp_path / "b.db"), serial=True)
    assert third["recorded"] == 1 and third["unchanged"] == serial["files"] - 1


def test_convert_tif_reads_back_in_gdal(tmp_path):
    tree = tmp_path / "in"
    tree.mkdir()
    for name in ("jitc/i_3301a.ntf", "jitc/i_3405a.ntf", "misc/two_images_jp2.ntf"):
        shutil.copy(SAMPLES / name, tree)
    results = _catalog.convert_tree(str(tree), str(tmp_path / "out"), "tif", serial=True)
    for result in results:
        with kvntfu.open(result["path"]) as doc:
            for image, name in zip(doc.images, result["written"], strict=True):
                np.testing.assert_array_equal(gdal.Open(name).ReadAsArray().reshape(image.shape),
                                              image.read())
    pngs = _catalog.convert_tree(str(tree), str(tmp_path / "png"), "png", serial=True)
    for result in pngs:
        with kvntfu.open(result["path"]) as doc:
            got = gdal.Open(result["written"][0]).ReadAsArray()
            np.testing.assert_array_equal(np.moveaxis(got, 0, -1), doc.render())
