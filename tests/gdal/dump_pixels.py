#!/usr/bin/python3
"""Writes GDAL's reading of one image segment as raw samples, for the image data tests.

usage: dump_pixels.py FILE INDEX OUT

OUT gets one text line "width height bands bytes_per_sample", then every band in file
order, each as its rows top to bottom, samples little-endian. GDAL reads the NCOLS x
NROWS picture without pad pixels and without applying any lookup table. Exit status 2
means GDAL could not be used (missing bindings, or a file it refuses).
"""
import sys

try:
    from osgeo import gdal
    import numpy
except ImportError:
    sys.exit(2)


def main():
    path, index, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    gdal.UseExceptions()
    gdal.PushErrorHandler("CPLQuietErrorHandler")
    try:
        ds = gdal.Open(f"NITF_IM:{index}:{path}")
    except RuntimeError:
        return 2
    bands = [ds.GetRasterBand(b + 1).ReadAsArray() for b in range(ds.RasterCount)]
    size = bands[0].dtype.itemsize
    with open(out, "wb") as f:
        f.write(f"{ds.RasterXSize} {ds.RasterYSize} {ds.RasterCount} {size}\n".encode())
        for band in bands:
            f.write(band.astype(band.dtype.newbyteorder("<")).tobytes())
    return 0


if __name__ == "__main__":
    sys.exit(main())
