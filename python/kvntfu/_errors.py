"""The exceptions of kvntfu: one class per family of the module's return codes."""

from __future__ import annotations


class NitfError(Exception):
    """A failure the module reported.

    ``code`` is the module's return code (``RET_*`` of ``kvntfu.h``, negative or 0 for
    failures) and ``reason`` what the module said about it, when it said something.
    """

    def __init__(self, code: int, reason: str = "") -> None:
        self.code = code
        self.reason = reason
        name = CODE_NAMES.get(code, "failed")
        super().__init__(f"{name}: {reason} ({code})" if reason else f"{name} ({code})")


class FormatError(NitfError):
    """The file is not NITF as the module reads it: a field or the data fail a check."""


class UnsupportedError(NitfError):
    """The file uses something the module does not read (version, level, pixel type)."""


class FileError(NitfError, OSError):
    """A file could not be opened, read or written."""


class ParameterError(NitfError, ValueError):
    """An argument or a value the module refuses."""


class ClosedError(NitfError):
    """The document was closed."""


CODE_NAMES = {
    0: "the operation failed",
    -1: "out of memory, or a size beyond the allocation limit",
    -2: "no usable bitmap",
    -5: "cannot write the file",
    -7: "the file is cut short or cannot be read",
    -9: "a field or the data fail their check",
    -10: "no such file",
    -13: "invalid parameter",
    -14: "cannot open the file",
    -16: "not supported",
    -21: "JPEG quality outside 2 to 255",
    -27: "bits per pixel must be 8 or 24",
    -78: "unsupported NITF version",
    -261: "no document",
    -501: "the drawing is empty",
    -814: "missing data",
    -700000: "unsupported pixel value type",
    -700001: "unsupported complexity level",
    -700002: "unsupported bits per pixel",
    -700003: "an image block holds a stream of an unaccepted format",
    87: "bad argument",
}

_CLASSES: dict[int, type[NitfError]] = {
    -9: FormatError,
    -700003: FormatError,
    -501: FormatError,
    -16: UnsupportedError,
    -78: UnsupportedError,
    -700000: UnsupportedError,
    -700001: UnsupportedError,
    -700002: UnsupportedError,
    -5: FileError,
    -7: FileError,
    -10: FileError,
    -14: FileError,
    -13: ParameterError,
    -21: ParameterError,
    -27: ParameterError,
    87: ParameterError,
}


def error_for(code: int, reason: str = "") -> NitfError:
    """The exception for a return code (used by the extension)."""
    if code == -261 and reason == "the document is closed":
        return ClosedError(code, reason)
    return _CLASSES.get(code, NitfError)(code, reason)
