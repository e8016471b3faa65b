"""kvntfu: NITF files in Python, over the Kvntfu module.

Open a file with :func:`open` (a context manager), read its headers, TREs and samples
as numpy arrays, compose it into one RGB picture, edit header fields, append segments
and save. :func:`to_dask` gives an image as a dask array for work on a cluster.
Failures raise :class:`NitfError` subclasses carrying the module's return code.
"""

from ._dask import to_dask
from ._document import Des, Document, Graphic, Header, Image, Segments, Text, new, open
from ._errors import (
    ClosedError,
    FileError,
    FormatError,
    NitfError,
    ParameterError,
    UnsupportedError,
)

__all__ = [
    "open", "new", "to_dask", "Document", "Header", "Image", "Graphic", "Text", "Des",
    "Segments", "NitfError", "FormatError", "UnsupportedError", "FileError",
    "ParameterError", "ClosedError",
]
