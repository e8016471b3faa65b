"""PNG and TIFF files from numpy arrays, without a picture library."""

from __future__ import annotations

import os
import struct
import zlib
from typing import Union

import numpy as np

PathLike = Union[str, "os.PathLike[str]"]


def write_png(path: PathLike, rgb: np.ndarray) -> None:
    """Writes (rows, columns, 3) or (rows, columns) bytes as an 8-bit PNG, compressed at
    zlib's fastest level: a catalogue's thumbnails are written far more often than read."""
    picture = np.ascontiguousarray(rgb, dtype=np.uint8)
    rows, columns = picture.shape[:2]
    colour = 2 if picture.ndim == 3 else 0
    raw = np.zeros((rows, 1 + picture[0].size), np.uint8)  # filter byte 0 on every row
    raw[:, 1:] = picture.reshape(rows, -1)

    def chunk(kind: bytes, data: bytes) -> bytes:
        return struct.pack(">I", len(data)) + kind + data + struct.pack(
            ">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", columns, rows, 8, colour, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                chunk(b"IDAT", zlib.compress(raw.tobytes(), 1)) + chunk(b"IEND", b""))


def write_tiff(path: PathLike, samples: np.ndarray) -> None:
    """Writes (bands, rows, columns) samples of any numeric type as a plain TIFF, one
    strip, bands interleaved by pixel, in the machine's (little-endian) byte order."""
    bands, rows, columns = samples.shape
    data = np.ascontiguousarray(np.moveaxis(samples, 0, -1)).astype(samples.dtype.newbyteorder("<"))
    kind = samples.dtype.kind
    fmt = {"u": 1, "b": 1, "i": 2, "f": 3, "c": 6}[kind]
    bits = samples.dtype.itemsize * 8 // (2 if kind == "c" else 1)
    payload = data.tobytes()
    entries: list[tuple[int, int, int, bytes]] = []  # tag, type, count, value bytes

    def short(tag: int, *values: int) -> None:
        entries.append((tag, 3, len(values), struct.pack(f"<{len(values)}H", *values)))

    def long(tag: int, *values: int) -> None:
        entries.append((tag, 4, len(values), struct.pack(f"<{len(values)}I", *values)))

    long(256, columns)
    long(257, rows)
    short(258, *([bits * (2 if kind == "c" else 1)] * bands))
    short(259, 1)
    short(262, 2 if bands == 3 and kind == "u" and bits == 8 else 1)
    long(273, 0)  # the strip's offset, set below
    short(277, bands)
    long(278, rows)
    long(279, len(payload))
    short(284, 1)
    short(339, *([fmt] * bands))
    if bands > 1 and not (bands == 3 and kind == "u" and bits == 8):
        short(338, *([0] * (bands - 1)))
    entries.sort()
    count = len(entries)
    ifd_size = 2 + 12 * count + 4
    extra_at = 8 + ifd_size
    extra = b""
    fields = []
    for tag, kind_code, n, value in entries:
        if len(value) <= 4:
            fields.append((tag, kind_code, n, value.ljust(4, b"\0")))
        else:
            fields.append((tag, kind_code, n, struct.pack("<I", extra_at + len(extra))))
            extra += value + b"\0" * (len(value) % 2)
    strip_at = extra_at + len(extra)
    ifd = struct.pack("<H", count)
    for tag, kind_code, n, value in fields:
        if tag == 273:
            value = struct.pack("<I", strip_at)
        ifd += struct.pack("<HHI", tag, kind_code, n) + value
    ifd += struct.pack("<I", 0)
    with open(path, "wb") as f:
        f.write(b"II*\0" + struct.pack("<I", 8) + ifd + extra + payload)
