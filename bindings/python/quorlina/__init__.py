"""Python binding of libquorlina_ffi, the static-site content library.

    from quorlina import Site, NotFoundError
    site = Site("examples/site")
    for post in site.posts.list():
        print(post.date, post.slug, post.title, post.tags)
    snippet = site.snippets.read(site.snippets.list()[0].id)

Methods return typed records (the frozen dataclasses Snippet, Post and
Note) or the path of a created file, and raise one exception class per
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
from .site import Note, Notes, Post, Posts, Site, Snippet, Snippets

__version__ = "0.2.0"

__all__ = ["Site", "Snippets", "Posts", "Notes", "Snippet", "Post", "Note"] + list(_error_names)
