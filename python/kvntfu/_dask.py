"""Images as dask arrays, read chunk by chunk on whichever worker computes each chunk."""

from __future__ import annotations

import os
import threading
from typing import Any

import numpy as np

from ._document import Document, PathLike, Window

# One open document per thread and file: a chunk's task reopens nothing when its
# thread read the same file last, and no document is shared between threads.
_local = threading.local()


def _document(path: str, strict: bool) -> Document:
    key = (path, strict, os.stat(path).st_mtime_ns)
    cached = getattr(_local, "open", None)
    if cached is None or cached[0] != key:
        if cached is not None:
            cached[1].close()
        cached = (key, Document(path, strict))
        _local.open = cached
    return cached[1]


def _read_chunk(path: str, image: int, strict: bool, window: Window) -> np.ndarray:
    return _document(path, strict).images[image].read(window=window)


def _spans(total: int, block: int, target: int) -> tuple[int, ...]:
    # Whole blocks per chunk, as many as reach the target; the last chunk takes the rest.
    step = max(block, (max(target, 1) // block) * block)
    spans = [step] * (total // step)
    if total % step:
        spans.append(total % step)
    return tuple(spans)


def to_dask(path: PathLike, image: int = 0, strict: bool = False,
            chunk_bytes: int = 64 << 20) -> Any:
    """Image ``image`` of ``path`` as a ``dask.array`` of (bands, rows, columns).

    Chunks hold whole blocks of the image (every band), grouped to about ``chunk_bytes``
    each; each chunk is read by ``Image.read(window=...)`` on the worker that computes
    it, which opens the file itself: the path must be reachable there.
    """
    import dask.array as da
    from dask.base import tokenize

    name = os.path.abspath(os.fspath(path))
    with Document(name, strict) as doc:
        img = doc.images[image]
        bands, rows, columns = img.shape
        dtype = img.dtype
        block_rows, block_columns = img.blocks
    per_row = max(1, bands * dtype.itemsize)
    side = int((chunk_bytes / per_row) ** 0.5)
    column_spans: tuple[int, ...]
    if block_columns >= columns:  # one column of blocks: chunks are bands of rows
        column_spans = (columns,)
        row_target = chunk_bytes // max(1, per_row * columns)
    else:
        column_spans = _spans(columns, block_columns, side)
        row_target = chunk_bytes // max(1, per_row * column_spans[0])
    row_spans = _spans(rows, min(block_rows, rows), row_target)

    token = tokenize(name, os.stat(name).st_mtime_ns, image, strict, row_spans, column_spans)
    key = f"kvntfu-read-{token}"
    graph: dict[Any, Any] = {}
    top = 0
    for i, height in enumerate(row_spans):
        left = 0
        for j, width in enumerate(column_spans):
            graph[(key, 0, i, j)] = (_read_chunk, name, image, strict, (top, left, height, width))
            left += width
        top += height
    return da.Array(graph, key, chunks=((bands,), row_spans, column_spans), dtype=dtype)
