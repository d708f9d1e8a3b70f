"""Exceptions for the library's result codes: one class per code."""

__all__ = [
    "QuorlinaError", "InvalidTimestampError", "DuplicateError", "NotFoundError",
    "InvalidExtensionError", "InvalidDescriptionError", "InvalidFilenameError",
    "InvalidContentError", "FileSystemError", "OutOfMemoryError", "InvalidSlugError",
    "InvalidDateError", "NoUpdatesError", "InternalError", "error_text", "error_for_code",
]


class QuorlinaError(Exception):
    """A call into libquorlina_ffi failed. ``code`` is its result code."""

    code = None

    def __init__(self, message, code=None):
        super().__init__(message)
        if code is not None:
            self.code = code


class InvalidTimestampError(QuorlinaError):
    code = 1


class DuplicateError(QuorlinaError):
    code = 2


class NotFoundError(QuorlinaError, LookupError):
    code = 3


class InvalidExtensionError(QuorlinaError, ValueError):
    code = 4


class InvalidDescriptionError(QuorlinaError, ValueError):
    code = 5


class InvalidFilenameError(QuorlinaError, ValueError):
    code = 6


class InvalidContentError(QuorlinaError, ValueError):
    code = 7


class FileSystemError(QuorlinaError):
    code = 8


class OutOfMemoryError(QuorlinaError, MemoryError):
    code = 9


class InvalidSlugError(QuorlinaError, ValueError):
    code = 10


class InvalidDateError(QuorlinaError, ValueError):
    code = 11


class NoUpdatesError(QuorlinaError):
    code = 14


class InternalError(QuorlinaError):
    code = 100


# Static text for each result code; codes not listed read "unknown error".
_TEXT = {
    0: "success",
    1: "invalid timestamp",
    2: "already exists",
    3: "not found",
    4: "invalid file name extension",
    5: "invalid description",
    6: "invalid file name",
    7: "invalid content (missing title or description, or malformed front matter)",
    8: "file system error (missing, refused, or of the wrong kind)",
    9: "out of memory",
    10: "invalid slug",
    11: "invalid date",
    14: "nothing to update",
    100: "internal error",
}

_CLASSES = {cls.code: cls for cls in (
    InvalidTimestampError, DuplicateError, NotFoundError, InvalidExtensionError,
    InvalidDescriptionError, InvalidFilenameError, InvalidContentError, FileSystemError,
    OutOfMemoryError, InvalidSlugError, InvalidDateError, NoUpdatesError, InternalError)}


def error_text(code):
    """The static text of a result code, "unknown error" for unknown codes."""
    return _TEXT.get(code, "unknown error")


def error_for_code(code, what):
    """The exception for a non-zero result code; ``what`` names the call."""
    cls = _CLASSES.get(code, QuorlinaError)
    return cls("%s: %s (code %d)" % (what, error_text(code), code), code)
