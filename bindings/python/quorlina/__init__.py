"""Python binding of libquorlina_ffi, the static-site content library.

    from quorlina import Site, NotFoundError
    site = Site("examples/site")
    for post in site.posts.list():
        print(post.date, post.slug, post.title, post.tags)
    snippet = site.snippets.read(site.snippets.list()[0].id)

Methods return typed records (the frozen dataclasses Snippet, Post and
Note; Problem from ``Site.check()`` and Match from ``Site.search()``) or
the path of a created file, and raise one exception class per
result code, each with ``.code`` and ``.detail`` and derived from the
standard exception that fits. The library is found through QUORLINA_LIB,
an installed copy, or a build directory of this source tree (see
quorlina._native).
"""

from ._native import lib as _lib  # noqa: F401  (loads the library on import)
from .errors import (DuplicateError, FileSystemError, InternalError, InvalidContentError,
                     InvalidDateError, InvalidDescriptionError, InvalidExtensionError,
                     InvalidFilenameError, InvalidSlugError, InvalidTimestampError, NotFoundError,
                     NoUpdatesError, OutOfMemoryError, QuorlinaError, error_for_code, error_text)
from .errors import __all__ as _error_names
from .site import Match, Note, Notes, Post, Posts, Problem, Site, Snippet, Snippets


def _source_version() -> str:
    """The version in the library's header of the source tree this package
    is part of, or "unknown" outside one."""
    import os
    import re
    header = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir, os.pardir,
                          "include", "quorlina", "quorlina.h")
    try:
        with open(header, encoding="utf-8") as f:
            m = re.search(r'^#define QUORLINA_VERSION "([^"]*)"', f.read(), re.M)
    except OSError:
        return "unknown"
    return m.group(1) if m else "unknown"


def _package_version() -> str:
    """The version written into the package when its wheel was built, else
    (in a source checkout, or an editable install of one) the header's."""
    import importlib
    try:
        module = importlib.import_module("._version", __name__)
    except ImportError:
        return _source_version()
    return str(getattr(module, "version"))


__version__ = _package_version()

__all__ = ["Site", "Snippets", "Posts", "Notes", "Snippet", "Post", "Note", "Problem", "Match"] + list(_error_names)
