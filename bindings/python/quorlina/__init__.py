"""Python binding of libquorlina_ffi, the static-site content library.

    from quorlina import Site, NotFoundError
    site = Site("examples/site")
    for post in site.posts.list():
        print(post["date"], post["slug"], post["title"])

Methods return parsed JSON (lists of dicts, or one dict) or the path of a
created file, and raise one exception class per result code, each with
``.code``. The library is found through QUORLINA_LIB, a build directory of
this source tree, or the system's library path.
"""

from ._native import lib as _lib  # noqa: F401  (loads the library on import)
from .errors import *  # noqa: F401,F403
from .errors import __all__ as _error_names
from .site import Notes, Posts, Site, Snippets

__version__ = "0.2.0"

__all__ = ["Site", "Snippets", "Posts", "Notes"] + list(_error_names)
