"""Editing and saving, errors, threads and Dask, on real files with GDAL reading back."""
import shutil
import threading
import time

import numpy as np
import pytest
from osgeo import gdal

import kvntfu
from conftest import MORE, SAMPLES, files

gdal.UseExceptions()
gdal.PushErrorHandler("CPLQuietErrorHandler")


def test_edit_append_save(tmp_path):
    out = tmp_path / "out.ntf"
    picture = np.stack([np.add.outer(np.arange(40), np.arange(60)).astype(np.uint8) * k
                        for k in (1, 2, 3)])
    with kvntfu.open(SAMPLES / "jitc/i_3113g.ntf") as doc:
        cgm = doc.graphics[0].cgm
        drawn = doc.graphics[0].render()
        doc.header["FTITLE"] = "python title"
        doc.images[0].header["IID2"] = "renamed"
        doc.graphics[1].header["SLOC"] = (5, 12)
        with pytest.raises(kvntfu.ParameterError):
            doc.header["FTITLE"] = "x" * 81
        for field, value in (("CLEVEL", "42"), ("FSCLAS", "XX"), ("FDT", "2020")):
            with pytest.raises(kvntfu.ParameterError):
                doc.header[field] = value
        with pytest.raises(kvntfu.ParameterError):
            doc.images[0].header["NROWS"] = "7"
        doc.append_image(picture, quality=100, rgb=True)
        doc.append_text(b"hello from python\r\n")
        doc.append_graphic(cgm)
        doc.save(out)
    assert len(cgm) > 0 and drawn.ndim == 3 and drawn.any()
    with kvntfu.open(out) as doc:
        assert doc.header["FTITLE"].rstrip() == "python title"
        assert doc.images[0].header["IID2"].rstrip() == "renamed"
        assert doc.graphics[1].header["SLOC"] == "0000500012"
        assert doc.texts[-1].read() == b"hello from python\r\n"
        np.testing.assert_array_equal(doc.graphics[-1].render(), drawn)
        got = doc.images[-1].read()
    ds = gdal.Open(f"NITF_IM:2:{out}")
    assert gdal.Open(str(out)).GetMetadataItem("NITF_FTITLE") == "python title"
    np.testing.assert_array_equal(got, ds.ReadAsArray())
    assert np.abs(got.astype(int) - picture).max() <= 3


HOSTILE = files(MORE / "nitf20", MORE / "clevel") + [SAMPLES / "misc/rgb16.ntf"]


@pytest.mark.parametrize("cut", [0, 100, 400, 1000, 5000, -1])
def test_hostile_files_raise(tmp_path, cut):
    """Cut and garbled copies of real files, and the refused ones: exceptions, no crash."""
    for n, path in enumerate(HOSTILE + files(SAMPLES / "jitc")[::3]):
        data = bytearray(path.read_bytes())
        if cut >= 0:
            data = data[:cut] if cut < len(data) // 2 else data
            data[cut // 2::97] = b"9" * len(data[cut // 2::97])
        target = tmp_path / f"{n}.ntf"
        target.write_bytes(bytes(data))
        try:
            with kvntfu.open(target) as doc:
                for image in doc.images:
                    image.read(reduce=8 if min(image.shape[1:]) >= 8 else 1)
                doc.render(size=(64, 64))
                [t.read() for t in doc.texts], [i.tres for i in doc.images]
        except kvntfu.NitfError as e:
            assert e.code != 1 and str(e)


def test_errors_carry_codes(tmp_path):
    with pytest.raises(kvntfu.FileError) as e:
        kvntfu.open(tmp_path / "missing.ntf")
    assert e.value.code in (-10, -14) and isinstance(e.value, OSError)
    (tmp_path / "junk.ntf").write_bytes(b"NITF02.10" + b"\0" * 500)
    with pytest.raises(kvntfu.UnsupportedError) as e:
        kvntfu.open(tmp_path / "junk.ntf")
    assert e.value.code == -700001 and "CLEVEL" in e.value.reason
    with pytest.raises(kvntfu.UnsupportedError):
        kvntfu.open(SAMPLES / "misc/U_0006A.NTF", strict=True)
    doc = kvntfu.open(SAMPLES / "jitc/i_3301a.ntf")
    image = doc.images[0]
    for bad in ({"window": (0, 0, 0, 5)}, {"window": (0, 0, 9999, 5)}, {"bands": [7]},
                {"reduce": 3}, {"window": (-1, 0, 1, 1)}):
        with pytest.raises(kvntfu.ParameterError):
            image.read(**bad)
    with pytest.raises(kvntfu.ParameterError):
        doc.render(window=(0, 0, 10**6, 5))
    with pytest.raises(kvntfu.ParameterError):
        image.header["IMODE"] = "Q"
    doc.close()
    for use in (lambda: image.read(), lambda: doc.header["FTITLE"], doc.render,
                lambda: len(doc.images), lambda: doc.save(tmp_path / "x.ntf")):
        with pytest.raises(kvntfu.ClosedError):
            use()


def test_decoding_lets_other_threads_run():
    """While one thread composes, the interpreter runs another: the longest pause the
    main thread sees is far below the composition's time."""
    with kvntfu.open(SAMPLES / "j2k/046_512x512_s_8_3_rgb_j2c.ntf") as doc:
        worker = threading.Thread(target=lambda: [doc.render() for _ in range(3)])
        start = last = time.perf_counter()
        longest = 0.0
        worker.start()
        while worker.is_alive():
            now = time.perf_counter()
            longest, last = max(longest, now - last), now
        assert longest < (last - start) / 4


DASKED = ["jitc/i_3301a.ntf", "jitc/i_3430a.ntf", "j2k/p0_12a.ntf", "jitc/i_3001a.ntf"]


@pytest.mark.parametrize("name", DASKED)
def test_dask_equals_read(name):
    array = kvntfu.to_dask(SAMPLES / name, chunk_bytes=16 << 10)
    with kvntfu.open(SAMPLES / name) as doc:
        want = doc.images[0].read()
        block = doc.images[0].blocks
    assert array.shape == want.shape and array.dtype == want.dtype
    assert all(c % block[0] == 0 for c in array.chunks[1][:-1])
    np.testing.assert_array_equal(array.compute(scheduler="threads"), want)


def test_dask_on_local_cluster(tmp_path):
    distributed = pytest.importorskip("distributed")
    path = tmp_path / "copy.ntf"
    shutil.copy(SAMPLES / "jitc/i_3301a.ntf", path)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        array = kvntfu.to_dask(path, chunk_bytes=16 << 10)
        got = client.compute(array).result()
    with kvntfu.open(path) as doc:
        np.testing.assert_array_equal(got, doc.images[0].read())
