"""Documents, their headers and segments, over the extension's exports."""

from __future__ import annotations

import builtins
import json
import os
import tempfile
from collections.abc import ItemsView, Iterator, MutableMapping, Sequence
from typing import Any, Generic, Optional, TypeVar, Union, overload

import numpy as np

from . import _core
from ._errors import CODE_NAMES, ClosedError, NitfError, ParameterError

PathLike = Union[str, "os.PathLike[str]"]
Window = tuple[int, int, int, int]
"""(row, column, rows, columns) of an image; (left, top, width, height) of the canvas."""

_CLOSED = -261


class Header(MutableMapping[str, str]):
    """The fields of one header, by their NITF names, in file order.

    Values are the characters the file holds (blank padding kept). Assigning goes through
    the module's setter of the header: texts are given as they should stand (at most the
    field's width), numbers as digits, locations as ``"ROW,COLUMN"`` (or a pair), FBKGC
    as ``"R,G,B"``, dates with every character. A value the module refuses raises
    :class:`ParameterError` and changes nothing. Fields cannot be deleted.
    """

    def __init__(self, document: Document, kind: int, index: int) -> None:
        self._document = document
        self._kind = kind
        self._index = index

    def _fields(self) -> list[tuple[str, str]]:
        return self._document._core.fields(self._kind, self._index)

    def __getitem__(self, name: str) -> str:
        for field, value in self._fields():
            if field.upper() == name.upper():
                return value
        raise KeyError(name)

    def __setitem__(self, name: str, value: Any) -> None:
        if isinstance(value, (tuple, list)):
            value = ",".join(str(v) for v in value)
        if self._kind == _core.FIELDS_DES:
            raise ParameterError(-13, "the fields of a data extension segment cannot be set")
        self._document._core.set_field(self._kind, self._index, name.upper(), str(value))
        if self._kind == _core.FIELDS_FILE:
            # The file header's setter passes over some values it does not take (a
            # CLEVEL outside its codes) without saying so: they are refused here.
            now = self[name]
            same = now.rstrip() == str(value).rstrip() or (
                now.strip().lstrip("+-").isdigit() and str(value).strip().lstrip("+-").isdigit()
                and int(now) == int(value))
            if not same and "," not in str(value):
                raise ParameterError(-13, f"{name.upper()} = {value!r} was not taken")

    def __delitem__(self, name: str) -> None:
        raise TypeError("header fields cannot be deleted")

    def __iter__(self) -> Iterator[str]:
        return iter([field for field, _ in self._fields()])

    def items(self) -> ItemsView[str, str]:
        """Every (field, value) pair, read from the module at once: ``dict(h.items())``
        asks for the fields once where ``dict(h)`` asks once per field."""
        return dict(self._fields()).items()

    def __len__(self) -> int:
        return len(self._fields())

    def __repr__(self) -> str:
        return f"Header({dict(self._fields())!r})"


class Segment:
    """One segment of a document: its header and its decoded TREs."""

    _kind = _core.FIELDS_FILE

    def __init__(self, document: Document, index: int) -> None:
        self._document = document
        self.index = index

    @property
    def header(self) -> Header:
        """The segment's subheader fields (editable where the module allows)."""
        return Header(self._document, self._kind, self.index)

    @property
    def tres(self) -> list[dict[str, Any]]:
        """The segment's TREs in file order as docs/json.md describes them."""
        return [json.loads(t) for t in self._document._core.tres(self._kind, self.index)]

    def __repr__(self) -> str:
        return f"<{type(self).__name__} {self.index}>"


class Image(Segment):
    """An image segment."""

    _kind = _core.FIELDS_IMAGE

    def _info(self) -> tuple[int, int, int, int, np.dtype[Any]]:
        return self._document._core.image_info(self.index)

    @property
    def shape(self) -> tuple[int, int, int]:
        """(bands, rows, columns) of the stored samples."""
        rows, columns, bands, _, _ = self._info()
        return (bands, rows, columns)

    @property
    def dtype(self) -> np.dtype[Any]:
        """The stored sample type (1-bit samples are bytes of 0 or 1)."""
        return self._info()[4]

    @property
    def bits(self) -> int:
        """Bits per stored sample (NBPP)."""
        return self._info()[3]

    @property
    def blocks(self) -> tuple[int, int]:
        """(rows, columns) of one block of the image."""
        h = self.header
        rows, columns = int(h["NPPBV"] or 0), int(h["NPPBH"] or 0)
        _, nrows, ncols = self.shape
        return (rows or nrows, columns or ncols)

    def read(self, window: Optional[Window] = None, bands: Optional[Sequence[int]] = None,
             reduce: int = 1) -> np.ndarray:
        """The stored samples as a numpy array of (bands, rows, columns).

        ``window`` is (row, column, rows, columns), the whole image by default; ``bands``
        lists band indices from 0 (every band by default); ``reduce`` (a power of two)
        takes every ``reduce``-th sample of the window. JPEG 2000 images are reduced by
        the codec's resolution levels instead. Samples keep their stored type; decoding
        releases the interpreter's lock.
        """
        nbands, nrows, ncols = self.shape
        row, column, rows, columns = window if window is not None else (0, 0, nrows, ncols)
        chosen = list(range(nbands)) if bands is None else [int(b) for b in bands]
        for v in (row, column, rows, columns, reduce, *chosen):
            if int(v) < 0 or int(v) > 0xFFFFFFFF:
                raise ParameterError(-13, "negative or too large window, band or reduction")
        return self._document._core.read(self.index, int(row), int(column), int(rows),
                                         int(columns), int(reduce), chosen)

    @property
    def corners(self) -> Optional[list[tuple[float, float]]]:
        """The four corners as (longitude, latitude) in IGEOLO's order, or None."""
        found = self._document._core.corners(self.index)
        if found is None:
            return None
        lats, lons, _ = found
        return list(zip(lons, lats))


class Graphic(Segment):
    """A graphic (CGM) segment; symbols of NITF 2.0 files."""

    _kind = _core.FIELDS_GRAPHIC

    @property
    def cgm(self) -> bytes:
        """The segment's CGM bytes as the file stores them."""
        core = self._document._core
        lengths = core.lengths()
        path = self._document.path
        if path is None or self.index >= len(lengths["LS"]):
            raise NitfError(-814, "the graphic is not in a saved file yet")
        offset = lengths["HL"] + sum(lengths["LISH"]) + sum(lengths["LI"])
        offset += sum(lengths["LSSH"][: self.index + 1]) + sum(lengths["LS"][: self.index])
        size = lengths["LS"][self.index]
        with builtins.open(path, "rb") as f:
            f.seek(offset)
            data = f.read(size)
        if len(data) != size:
            raise NitfError(-7, "the file does not hold the whole graphic")
        return data

    def render(self) -> np.ndarray:
        """The drawing alone, composed as the module draws graphics: (rows, columns, 3)."""
        return _core.render_cgm(self.cgm)


class Text(Segment):
    """A text segment."""

    _kind = _core.FIELDS_TEXT

    def read(self) -> bytes:
        """The text's bytes as stored."""
        return self._document._core.text(self.index)


class Des(Segment):
    """A data extension segment."""

    _kind = _core.FIELDS_DES

    @property
    def details(self) -> dict[str, Any]:
        """The segment as docs/json.md describes it (desid, user fields, xml...)."""
        return json.loads(self._document._core.des(self.index))


S = TypeVar("S", bound=Segment)


class Segments(Sequence[S], Generic[S]):
    """The segments of one kind, indexed from 0."""

    def __init__(self, document: Document, cls: type[S]) -> None:
        self._document = document
        self._cls = cls

    def __len__(self) -> int:
        return self._document._core.count(self._cls._kind)

    @overload
    def __getitem__(self, index: int) -> S: ...
    @overload
    def __getitem__(self, index: slice) -> list[S]: ...

    def __getitem__(self, index: Union[int, slice]) -> Union[S, list[S]]:
        n = len(self)
        if isinstance(index, slice):
            return [self._cls(self._document, i) for i in range(*index.indices(n))]
        if index < 0:
            index += n
        if not 0 <= index < n:
            raise IndexError(index)
        return self._cls(self._document, index)


class Document:
    """One NITF file (or a new, empty one), opened by :func:`open`.

    A context manager: leaving the ``with`` block closes it; a closed document raises
    :class:`ClosedError`. A document is used by one thread at a time (calls from other
    threads wait); different documents decode in parallel.
    """

    def __init__(self, path: Optional[PathLike] = None, strict: bool = False) -> None:
        self.path = os.fspath(path) if path is not None else None
        self._core = _core.Document(self.path, not strict)

    def close(self) -> None:
        """Releases the document; further use raises :class:`ClosedError`."""
        self._core.close()

    @property
    def closed(self) -> bool:
        return self._core.closed

    def __enter__(self) -> Document:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __repr__(self) -> str:
        state = "open" if getattr(self, "_core", None) and not self.closed else "closed"
        return f"<kvntfu.Document {self.path!r} {state}>"

    @property
    def header(self) -> Header:
        """The file header's fields, dict-like and editable."""
        if self.closed:
            raise ClosedError(_CLOSED, "the document is closed")
        return Header(self, _core.FIELDS_FILE, 0)

    @property
    def tres(self) -> list[dict[str, Any]]:
        """The file header's TREs, decoded."""
        return [json.loads(t) for t in self._core.tres(_core.FIELDS_FILE, 0)]

    @property
    def images(self) -> Segments[Image]:
        return Segments(self, Image)

    @property
    def graphics(self) -> Segments[Graphic]:
        return Segments(self, Graphic)

    @property
    def texts(self) -> Segments[Text]:
        return Segments(self, Text)

    @property
    def des(self) -> Segments[Des]:
        return Segments(self, Des)

    @property
    def canvas(self) -> tuple[int, int]:
        """(width, height) of the composed picture."""
        return self._core.canvas()

    def render(self, window: Optional[Window] = None,
               size: Optional[tuple[int, int]] = None) -> np.ndarray:
        """The composed picture (every image, graphic and label) as (rows, columns, 3) RGB.

        ``window`` is (left, top, width, height) of the canvas (all of it by default);
        ``size`` is the (width, height) to compose it at (the window's own by default).
        """
        if window is None:
            width, height = self.canvas
            window = (0, 0, width, height)
        out_width, out_height = size if size is not None else (window[2], window[3])
        values = (*window, out_width, out_height)
        if any(not -2**31 <= int(v) < 2**31 for v in values):
            raise ParameterError(-13, "window or size out of range")
        return self._core.render(*(int(v) for v in values))

    @property
    def footprints(self) -> list[dict[str, Any]]:
        """One GeoJSON Feature per image, as ``nitf info --geojson`` gives them.

        The geometry is the footprint as a Polygon (corners counter-clockwise, as GeoJSON
        wants an outer ring), or None when the image is not located; ``properties`` hold
        the image's ``index``, whether it carries an RPC model (``rpc``), where the corners
        came from (``source``: igeolo, blocka or geolob) or the ``error`` that kept them
        from being read.
        """
        features: list[dict[str, Any]] = []
        for index in range(len(self.images)):
            properties: dict[str, Any] = {"index": index, "rpc": self._core.has_rpc(index)}
            geometry: Optional[dict[str, Any]] = None
            try:
                found = self._core.corners(index)
            except NitfError as e:
                found = None
                properties["error"] = CODE_NAMES.get(e.code, "failed")
            if found is not None:
                lats, lons, source = found
                properties["source"] = {2: "blocka", 3: "geolob"}.get(source, "igeolo")
                ring = [[lons[k], lats[k]] for k in (0, 3, 2, 1, 0)]
                geometry = {"type": "Polygon", "coordinates": [ring]}
            features.append({"type": "Feature", "properties": properties, "geometry": geometry})
        return features

    def append_image(self, array: np.ndarray, quality: int = 75, rgb: bool = False) -> Image:
        """Appends an 8-bit image, JPEG-compressed in one block, and returns it.

        ``array`` is (rows, columns), (1, rows, columns) or (3, rows, columns) of bytes;
        ``quality`` from 1 to 100; ``rgb`` stores three bands as RGB instead of YCbCr.
        Kept in memory until :meth:`save`.
        """
        samples = np.asarray(array)
        if samples.dtype != np.uint8:
            raise ParameterError(-13, "an appended image is of bytes (uint8)")
        if samples.ndim == 2:
            samples = samples[np.newaxis]
        if not 1 <= int(quality) <= 100:
            raise ParameterError(-21, "quality runs from 1 to 100")
        self._core.append_image(np.ascontiguousarray(samples), _module_quality(int(quality)), rgb)
        return self.images[-1]

    def append_text(self, data: Union[bytes, str]) -> Text:
        """Appends a text segment holding ``data`` (at most 99999 bytes)."""
        raw = data.encode("latin-1") if isinstance(data, str) else bytes(data)
        handle, name = tempfile.mkstemp(prefix="kvntfu-text-")
        try:
            with os.fdopen(handle, "wb") as f:
                f.write(raw)
            self._core.append_text(name)
        finally:
            os.unlink(name)
        return self.texts[-1]

    def append_graphic(self, cgm: bytes) -> Graphic:
        """Appends a graphic from a binary CGM of the NITF profile."""
        self._core.append_graphic(bytes(cgm))
        return self.graphics[-1]

    def save(self, path: PathLike) -> None:
        """Writes the document to ``path`` (replaced only once complete)."""
        self._core.save(os.fspath(path))


def _module_quality(quality: int) -> int:
    # The module's JPEG quality runs from 2 to 255; people think in 1 to 100.
    for q in range(2, 256):
        if 1 + ((q - 2) * 99 + 126) // 253 >= quality:
            return q
    return 255


def open(path: PathLike, strict: bool = False) -> Document:  # noqa: A001
    """Opens a NITF file.

    Without ``strict`` the module's extended reading is used (NITF 2.0, every complexity
    level, deep, signed and float samples), as the ``nitf`` client does. Raises a
    :class:`NitfError` subclass when the module refuses the file.
    """
    return Document(path, strict)


def new() -> Document:
    """An empty document to append segments to and save."""
    return Document(None)
