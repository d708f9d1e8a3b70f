"""``Site``: the snippets, posts and notes below one site root, as typed
records."""

from __future__ import annotations

import datetime
import json
import os
import re
import time
from dataclasses import dataclass
from typing import Any, Callable, Dict, Iterable, List, Optional, Tuple, Union

from . import _native
from .errors import error_for_code

__all__ = ["Site", "Snippets", "Posts", "Notes", "Snippet", "Post", "Note"]

_INT64_MIN = -(1 << 63)
_INT64_MAX = (1 << 63) - 1

Text = Union[str, bytes, bytearray]
"""Text for the library: str (UTF-8) or bytes taken as they are."""

Tags = Union[Text, Iterable[Text], None]
"""Tags as one comma-separated text, or as an iterable of tags."""

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

_DATE = re.compile(r"([0-9]{4})-([0-9]{2})-([0-9]{2})\Z")


@dataclass(frozen=True)
class Snippet:
    """A code snippet. ``id`` is its Unix timestamp; ``date`` the UTC day of
    that timestamp, or its "YYYY-MM-DD" text when the year is outside 1 to
    9999. ``code`` is the code as it was written: reading a snippet and
    updating it with the same code leaves its file byte for byte."""

    id: int
    date: Union[datetime.date, str]
    description: str
    filename: str
    code: str


@dataclass(frozen=True)
class Post:
    """A blog post. ``date`` is the day its directories name, or their
    "YYYY-MM-DD" text when that is no calendar date (the library reads
    "2_24" as a year and lets a day 31 stand in any month). ``description``
    and ``content`` are None in the records of ``Posts.list()``, which the
    library returns without them."""

    date: Union[datetime.date, str]
    slug: str
    title: str
    tags: Tuple[str, ...]
    description: Optional[str] = None
    content: Optional[str] = None


@dataclass(frozen=True)
class Note:
    """A short note. ``id`` is its slug, or its file stem (the timestamp)
    when it has none; ``date`` the UTC day of its timestamp, or its text
    when the year is outside 1 to 9999. ``content`` is None in the records
    of ``Notes.list()``."""

    date: Union[datetime.date, str]
    id: str
    slug: Optional[str]
    content: Optional[str] = None


def _bytes(value: Text, name: str) -> bytes:
    """Text for the C interface: str as UTF-8 (lone surrogates from
    undecodable bytes turn back into those bytes), bytes as they are."""
    if isinstance(value, str):
        data = value.encode("utf-8", "surrogateescape")
    elif isinstance(value, (bytes, bytearray)):
        data = bytes(value)
    else:
        raise TypeError("%s must be str or bytes, not %s" % (name, type(value).__name__))
    if b"\0" in data:
        raise ValueError("%s must not contain a NUL character" % name)
    return data


def _opt_bytes(value: Optional[Text], name: str) -> Optional[bytes]:
    return None if value is None else _bytes(value, name)


def _timestamp(value: int, name: str = "timestamp") -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError("%s must be an int, not %s" % (name, type(value).__name__))
    if not _INT64_MIN <= value <= _INT64_MAX:
        raise OverflowError("%s %d does not fit in 64 bits" % (name, value))
    return value


def _tags(value: Tags, name: str) -> Optional[bytes]:
    """Tags as the library's comma-separated text: a str or bytes is passed
    as it is, an iterable of tags is joined with ","."""
    if value is None or isinstance(value, (str, bytes, bytearray)):
        return _opt_bytes(value, name)
    items = [_bytes(tag, name) for tag in value]
    for tag in items:
        if b"," in tag:
            raise ValueError("a tag in %s contains ',', which separates tags" % name)
    return b",".join(items)


def _decode(data: Optional[bytes]) -> str:
    return (data or b"").decode("utf-8", "surrogateescape")


def _date(text: str) -> Union[datetime.date, str]:
    """A "YYYY-MM-DD" date; text that is no such date, or that
    datetime.date cannot hold (a year outside 1 to 9999, which a timestamp
    far from today gives, a post directory "2_24" or "+3", a day 31 of a
    30-day month), stays text."""
    m = _DATE.match(text)
    if m:
        try:
            return datetime.date(int(m.group(1)), int(m.group(2)), int(m.group(3)))
        except ValueError:
            pass
    return text


def _snippet(d: Dict[str, Any]) -> Snippet:
    # A snippet file puts one empty line between its front matter and its
    # code, and the library's code keeps that line's break; the code as it
    # was written is what follows it. Writing it back leaves the file as it
    # was.
    code: str = d["code"]
    return Snippet(id=int(d["id"]), date=_date(d["date"]), description=d["description"],
                   filename=d["filename"], code=code[1:] if code.startswith("\n") else code)


def _post(d: Dict[str, Any]) -> Post:
    return Post(date=_date(d["date"]), slug=d["slug"], title=d["title"], tags=tuple(d["tags"]),
                description=d.get("description"), content=d.get("content"))


def _note(d: Dict[str, Any]) -> Note:
    return Note(date=_date(d["date"]), id=d["id"], slug=d["slug"], content=d.get("content"))


def _json(data: Optional[bytes]) -> Any:
    return json.loads(_decode(data))


class _Family:
    def __init__(self, site: "Site") -> None:
        self._site = site
        self._root = site._root

    def _check(self, code: int, what: str) -> None:
        if code != 0:
            raise error_for_code(code, what, _native.last_error())

    def _text(self, fn: Callable[..., int], what: str, *args: Any) -> Optional[bytes]:
        code, data = _native.call_text(fn, self._root, *args)
        self._check(code, what)
        return data


class Snippets(_Family):
    """Code snippets, keyed by a Unix timestamp (``Snippet.id``)."""

    def list(self) -> List[Snippet]:
        """All snippets, newest first."""
        return [_snippet(d) for d in _json(self._text(_native.lib.quorlina_snippet_list, "snippet list"))]

    def read(self, timestamp: int) -> Snippet:
        """The snippet with this timestamp (its ``id``); NotFoundError when
        there is none."""
        ts = _timestamp(timestamp)
        return _snippet(_json(self._text(_native.lib.quorlina_snippet_read, "snippet read %d" % ts, ts)))

    def create(self, description: Text, code: Text, filename: Text, timestamp: Optional[int] = None) -> str:
        """Creates a snippet (at the current time unless ``timestamp`` is
        given) and returns the new file's path. The file's extension is the
        one of ``filename``."""
        ts = int(time.time()) if timestamp is None else _timestamp(timestamp)
        data = self._text(_native.lib.quorlina_snippet_create, "snippet create %d" % ts, ts,
                          _bytes(description, "description"), _bytes(code, "code"),
                          _bytes(filename, "filename"))
        return _decode(data)

    def update(self, timestamp: int, description: Optional[Text] = None, code: Optional[Text] = None,
               filename: Optional[Text] = None) -> None:
        """Rewrites a snippet; None keeps a stored value. A file name with
        another extension renames the file."""
        ts = _timestamp(timestamp)
        self._check(_native.lib.quorlina_snippet_update(
            self._root, ts, _opt_bytes(description, "description"), _opt_bytes(code, "code"),
            _opt_bytes(filename, "filename")), "snippet update %d" % ts)

    def delete(self, timestamp: int) -> None:
        """Deletes the snippet with this timestamp; NotFoundError when there
        is none."""
        ts = _timestamp(timestamp)
        self._check(_native.lib.quorlina_snippet_delete(self._root, ts), "snippet delete %d" % ts)


class Posts(_Family):
    """Blog posts, filed by date and addressed by slug."""

    def list(self) -> List[Post]:
        """All posts, newest first, without description and content."""
        return [_post(d) for d in _json(self._text(_native.lib.quorlina_post_list, "post list"))]

    def read(self, slug: Text) -> Post:
        """The post with this slug, with its description and content;
        NotFoundError when there is none."""
        return _post(_json(self._text(_native.lib.quorlina_post_read, "post read %r" % (slug,),
                                      _bytes(slug, "slug"))))

    def create(self, slug: Text, title: Text, description: Text, tags: Tags = None,
               date: Union[datetime.date, Text, None] = None) -> str:
        """Creates a post with an empty body and returns its path. ``tags``
        is a comma-separated text or an iterable of tags; ``date`` a
        ``datetime.date`` or "YYYY-MM-DD" (default: today, UTC)."""
        if isinstance(date, datetime.date):
            date = "%04d-%02d-%02d" % (date.year, date.month, date.day)
        data = self._text(_native.lib.quorlina_post_create, "post create %r" % (slug,),
                          _bytes(slug, "slug"), _bytes(title, "title"),
                          _bytes(description, "description"), _tags(tags, "tags"),
                          _opt_bytes(date, "date"))
        return _decode(data)

    def update(self, slug: Text, title: Optional[Text] = None, description: Optional[Text] = None,
               tags: Tags = None, add_tags: Tags = None, remove_tags: Tags = None) -> None:
        """Changes a post's front matter; None leaves a value as it is.
        ``tags`` replaces all tags ("" or [] clears them); ``add_tags`` and
        ``remove_tags`` change some. NoUpdatesError when nothing changes."""
        self._check(_native.lib.quorlina_post_update(
            self._root, _bytes(slug, "slug"), _opt_bytes(title, "title"),
            _opt_bytes(description, "description"), _tags(tags, "tags"),
            _tags(add_tags, "add_tags"), _tags(remove_tags, "remove_tags")),
            "post update %r" % (slug,))

    def delete(self, slug: Text) -> None:
        """Deletes the post with this slug and its emptied date
        directories; NotFoundError when there is none."""
        self._check(_native.lib.quorlina_post_delete(self._root, _bytes(slug, "slug")),
                    "post delete %r" % (slug,))


class Notes(_Family):
    """Short notes, addressed by slug or by file stem (the timestamp)."""

    def list(self) -> List[Note]:
        """All notes, newest first, without content. A note whose date is
        outside datetime.date's range has its date as text."""
        return [_note(d) for d in _json(self._text(_native.lib.quorlina_note_list, "note list"))]

    def read(self, id: Text) -> Note:
        """The note whose slug or file stem is ``id``, with its content;
        NotFoundError when there is none."""
        return _note(_json(self._text(_native.lib.quorlina_note_read, "note read %r" % (id,),
                                      _bytes(id, "id"))))

    def create(self, content: Optional[Text] = None, slug: Optional[Text] = None, timestamp: int = 0) -> str:
        """Creates a note and returns its path. A timestamp of 0 means now."""
        ts = _timestamp(timestamp)
        data = self._text(_native.lib.quorlina_note_create, "note create", ts,
                          _opt_bytes(slug, "slug"), _opt_bytes(content, "content"))
        return _decode(data)

    def update(self, id: Text, slug: Optional[Text] = None, clear_slug: bool = False,
               content: Optional[Text] = None) -> None:
        """Changes a note's slug (``clear_slug`` removes it) or content;
        None keeps them. NoUpdatesError when nothing changes."""
        self._check(_native.lib.quorlina_note_update(
            self._root, _bytes(id, "id"), _opt_bytes(slug, "slug"), 1 if clear_slug else 0,
            _opt_bytes(content, "content")), "note update %r" % (id,))

    def delete(self, id: Text) -> None:
        """Deletes the note whose slug or file stem is ``id``; NotFoundError
        when there is none."""
        self._check(_native.lib.quorlina_note_delete(self._root, _bytes(id, "id")),
                    "note delete %r" % (id,))


class Site:
    """The content below one site root directory (str, bytes or a path).

    Each family is an attribute with the same five methods:

    - ``site.snippets``: ``list() -> list[Snippet]``, ``read(timestamp)``,
      ``create(description, code, filename, timestamp=None) -> path``,
      ``update(timestamp, description=None, code=None, filename=None)``,
      ``delete(timestamp)``
    - ``site.posts``: ``list() -> list[Post]``, ``read(slug)``,
      ``create(slug, title, description, tags=None, date=None) -> path``,
      ``update(slug, title=None, description=None, tags=None, add_tags=None,
      remove_tags=None)``, ``delete(slug)``
    - ``site.notes``: ``list() -> list[Note]``, ``read(id)``,
      ``create(content=None, slug=None, timestamp=0) -> path``,
      ``update(id, slug=None, clear_slug=False, content=None)``,
      ``delete(id)``

    Failures raise a QuorlinaError subclass (see quorlina.errors).
    """

    def __init__(self, root: PathLike = ".") -> None:
        """Opens the site at ``root``; nothing is read until a method runs."""
        self.root = root
        self._root = os.fsencode(root)
        if b"\0" in self._root:
            raise ValueError("root must not contain a NUL character")
        self._snippets = Snippets(self)
        self._posts = Posts(self)
        self._notes = Notes(self)

    @property
    def snippets(self) -> Snippets:
        """The code snippets: list, read, create, update and delete by
        timestamp (see Snippets)."""
        return self._snippets

    @property
    def posts(self) -> Posts:
        """The blog posts: list, read, create, update and delete by slug
        (see Posts)."""
        return self._posts

    @property
    def notes(self) -> Notes:
        """The notes: list, read, create, update and delete by slug or
        timestamp (see Notes)."""
        return self._notes

    def __repr__(self) -> str:
        """``Site('<root>', library='<path> <version>')``: the site and the
        library this binding loaded."""
        return "Site(%r, library=%r)" % (self.root, "%s %s" % (_native.path, _native.version))
