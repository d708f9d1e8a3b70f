"""Exceptions for the library's result codes: one class per code.

Each class also derives from the standard exception that fits, so callers
can catch ``LookupError`` (not found), ``FileExistsError`` (duplicate),
``ValueError`` (invalid arguments), ``OSError`` (file system) or
``MemoryError`` (out of memory) without knowing this package. Every
exception carries ``code`` (the result code) and ``detail`` (the library's
text about the failure: the file at fault and why, when a file caused it).
"""

from __future__ import annotations

from typing import Dict, Optional, Type

from . import _native

__all__ = [
    "QuorlinaError", "InvalidTimestampError", "DuplicateError", "NotFoundError",
    "InvalidExtensionError", "InvalidDescriptionError", "InvalidFilenameError",
    "InvalidContentError", "FileSystemError", "OutOfMemoryError", "InvalidSlugError",
    "InvalidDateError", "NoUpdatesError", "InternalError", "error_text", "error_for_code",
]


class QuorlinaError(Exception):
    """A call into libquorlina_ffi failed.

    ``code`` is its result code and ``detail`` the library's explanation
    ("" when there is none). A QuorlinaError made without a code has code
    100, the library's code for any other failure.
    """

    code: int = 100

    def __init__(self, message: str, code: Optional[int] = None, detail: str = "") -> None:
        # One argument only: OSError would read two as (errno, strerror).
        super().__init__(message)
        if code is not None:
            self.code = code
        self.detail = detail


class InvalidTimestampError(QuorlinaError, ValueError):
    """A negative timestamp, or a file name that is not a timestamp (1)."""

    code = 1


class DuplicateError(QuorlinaError, FileExistsError):
    """An item with that key already exists (2)."""

    code = 2


class NotFoundError(QuorlinaError, LookupError):
    """No item with that key (3)."""

    code = 3


class InvalidExtensionError(QuorlinaError, ValueError):
    """A snippet file name without a usable extension (4)."""

    code = 4


class InvalidDescriptionError(QuorlinaError, ValueError):
    """A snippet description that is empty or has a forbidden byte (5)."""

    code = 5


class InvalidFilenameError(QuorlinaError, ValueError):
    """A snippet file name that is empty or has a forbidden byte (6)."""

    code = 6


class InvalidContentError(QuorlinaError, ValueError):
    """A missing title or description, or malformed front matter (7)."""

    code = 7


class FileSystemError(QuorlinaError, OSError):
    """A file or directory is missing, refused, or of the wrong kind (8)."""

    code = 8


class OutOfMemoryError(QuorlinaError, MemoryError):
    """The library ran out of memory (9)."""

    code = 9


class InvalidSlugError(QuorlinaError, ValueError):
    """A slug that is empty or has a byte outside [A-Za-z0-9_-] (10)."""

    code = 10


class InvalidDateError(QuorlinaError, ValueError):
    """A date that is not a valid YYYY-MM-DD (11)."""

    code = 11


class NoUpdatesError(QuorlinaError):
    """An update that changes nothing (14)."""

    code = 14


class InternalError(QuorlinaError):
    """Any other failure: path too long, file too big, I/O error (100)."""

    code = 100


_CLASSES: Dict[int, Type[QuorlinaError]] = {cls.code: cls for cls in (
    InvalidTimestampError, DuplicateError, NotFoundError, InvalidExtensionError,
    InvalidDescriptionError, InvalidFilenameError, InvalidContentError, FileSystemError,
    OutOfMemoryError, InvalidSlugError, InvalidDateError, NoUpdatesError, InternalError)}


def error_text(code: int) -> str:
    """The library's static text of a result code ("unknown error" for
    codes it does not know)."""
    return _native.strerror(code)


def error_for_code(code: int, what: str, detail: str = "") -> QuorlinaError:
    """The exception for a non-zero result code; ``what`` names the call
    and ``detail`` is the library's explanation, when it gave one."""
    cls = _CLASSES.get(code, QuorlinaError)
    text = error_text(code)
    # The detail names the file at fault when one caused the failure; else it
    # is the code's own text, said once.
    if detail and detail != text:
        message = "%s: %s (code %d)" % (what, detail, code)
    else:
        message = "%s: %s (code %d)" % (what, text, code)
    return cls(message, code, detail)
