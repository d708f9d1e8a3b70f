"""``Site``: the snippets, posts and notes below one site root, as typed
records."""

from __future__ import annotations

import ctypes
import datetime
import json
import os
import re
import time
from dataclasses import dataclass
from typing import Any, Callable, Dict, Iterable, List, Optional, Tuple, Union

from . import _native
from .errors import InternalError, error_for_code

__all__ = ["Site", "Snippets", "Posts", "Notes", "Snippet", "Post", "Note", "Problem", "Match"]

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
    "2_24" as a year and lets a day 31 stand in any month).

    ``content`` is the body after the front matter (also readable as
    ``body``); it is None in the records of ``Posts.list()`` unless
    ``body=True`` asked for it. ``path`` is the file's path as the site root
    was given joined with the rest. ``draft`` is True when the front
    matter's top-level ``draft`` is the boolean true. ``date_key`` is its
    top-level ``date`` as written (a string's value, or the TOML text of a
    date or date-time such as "2024-05-01" or "2024-05-01T10:00:00Z"), or
    None when there is none; the day the post is filed under is ``date``."""

    date: Union[datetime.date, str]
    slug: str
    title: str
    tags: Tuple[str, ...]
    description: Optional[str] = None
    content: Optional[str] = None
    path: Optional[str] = None
    draft: bool = False
    date_key: Optional[str] = None

    @property
    def body(self) -> Optional[str]:
        """The body after the front matter: ``content`` under the name the
        write methods use."""
        return self.content


@dataclass(frozen=True)
class Note:
    """A short note. ``id`` is its slug, or its file stem (the timestamp)
    when it has none; ``date`` the UTC day of its timestamp, or its text
    when the year is outside 1 to 9999. ``content`` (also readable as
    ``body``) is None in the records of ``Notes.list()`` unless
    ``body=True`` asked for it. ``path`` is the file's path."""

    date: Union[datetime.date, str]
    id: str
    slug: Optional[str]
    content: Optional[str] = None
    path: Optional[str] = None

    @property
    def body(self) -> Optional[str]:
        """The note's text after its front matter (``content``)."""
        return self.content


@dataclass(frozen=True)
class Problem:
    """A file that the family calls fail on, as ``Site.check()`` finds it.
    ``family`` is "snippet", "post" or "note"; ``path`` the file as the
    site root was given joined with the rest; ``code`` the result code a
    list or read of it gives (see quorlina.errors) and ``reason`` the
    library's text about it. ``str()`` gives "path: reason", the text of
    the exception a list would raise."""

    family: str
    path: str
    code: int
    reason: str

    def __str__(self) -> str:
        """The text "path: reason"."""
        return "%s: %s" % (self.path, self.reason)


@dataclass(frozen=True)
class Match:
    """An item that ``Site.search()`` found. ``item`` is its record (a
    Snippet, a Post with its content, or a Note with its content);
    ``field`` names where the text was found first, in the order the
    family's fields are searched (posts: "title", "description", "tags",
    "body"; notes: "body"; snippets: "description", "code"); ``line`` is
    the line of that field holding the first match (for "tags", the tag),
    without its line break."""

    family: str
    item: Union[Snippet, Post, Note]
    field: str
    line: str


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
                description=d.get("description"), content=d.get("content"), path=d.get("path"),
                draft=bool(d.get("draft", False)), date_key=d.get("date_key"))


def _note(d: Dict[str, Any]) -> Note:
    return Note(date=_date(d["date"]), id=d["id"], slug=d["slug"], content=d.get("content"),
                path=d.get("path"))


def _problem(d: Dict[str, Any]) -> Problem:
    return Problem(family=d["family"], path=d["path"], code=int(d["code"]), reason=d["reason"])


def _flag(value: bool, name: str) -> int:
    if not isinstance(value, bool):
        raise TypeError("%s must be a bool, not %s" % (name, type(value).__name__))
    return 1 if value else 0


def _record_options(body: bool) -> _native.RecordOptions:
    return _native.RecordOptions(_native.RecordOptions.VERSION, _flag(body, "body"))


# ASCII letters fold to lower case; every other character, and every byte
# that is not UTF-8 (a lone surrogate here), stays as it is, so that a
# match never depends on the interpreter's Unicode tables.
_ASCII_FOLD = {c: c + 32 for c in range(ord("A"), ord("Z") + 1)}


def _fold(text: str) -> str:
    return text.translate(_ASCII_FOLD)


def _matching_line(value: str, needle: str) -> Optional[str]:
    """The line of ``value`` where the first match of the folded ``needle``
    starts, without its line break; None when there is no match."""
    at = _fold(value).find(needle)
    if at < 0:
        return None
    start = value.rfind("\n", 0, at) + 1
    end = value.find("\n", at)
    line = value[start:] if end < 0 else value[start:end]
    return line[:-1] if line.endswith("\r") else line


def _first_match(fields: Iterable[Tuple[str, Union[str, Tuple[str, ...], None]]],
                 needle: str) -> Optional[Tuple[str, str]]:
    for name, value in fields:
        if value is None:
            continue
        for part in (value,) if isinstance(value, str) else value:
            line = _matching_line(part, needle)
            if line is not None:
                return name, line
    return None


def _json(data: Optional[bytes]) -> Any:
    return json.loads(_decode(data))


def _extended(name: str, what: str) -> Callable[..., int]:
    """An export added in 0.3; a library without it fails the call that
    needs it, and the rest of the binding still works with it."""
    fn = _native.extended(name)
    if fn is None:
        detail = "%s (version %s) has no %s: this needs libquorlina_ffi 0.3 or later" % (
            _native.path, _native.version, name)
        raise InternalError("%s: %s" % (what, detail), 100, detail)
    return fn


_FAMILIES = ("snippet", "post", "note")


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

    def _ext(self, name: str, what: str) -> Callable[..., int]:
        return _extended(name, what)


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

    def list(self, body: bool = False) -> List[Post]:
        """All posts, newest first, with description, path, draft flag and
        date key; ``body=True`` adds each one's content (a plain list reads
        only the front matter)."""
        options = _record_options(body)
        fn = self._ext("quorlina_post_list_ext", "post list")
        return [_post(d) for d in _json(self._text(fn, "post list", ctypes.byref(options)))]

    def read(self, slug: Text, body: bool = True) -> Post:
        """The post with this slug, with its content unless ``body=False``;
        NotFoundError when there is none."""
        what = "post read %r" % (slug,)
        options = _record_options(body)
        fn = self._ext("quorlina_post_read_ext", what)
        return _post(_json(self._text(fn, what, _bytes(slug, "slug"), ctypes.byref(options))))

    def create(self, slug: Text, title: Text, description: Text, tags: Tags = None,
               date: Union[datetime.date, Text, None] = None, body: Optional[Text] = None,
               draft: bool = False, date_key: bool = True) -> str:
        """Creates a post and returns its path. ``tags`` is a
        comma-separated text or an iterable of tags; ``date`` a
        ``datetime.date`` or "YYYY-MM-DD" (default: today, UTC). ``body``
        is written after the front matter byte for byte (default: empty);
        ``draft=True`` writes ``draft = true``; ``date_key`` (the default)
        writes the date as ``date = YYYY-MM-DD``, the key Hugo and Zola
        date a post by."""
        what = "post create %r" % (slug,)
        if isinstance(date, datetime.date):
            date = "%04d-%02d-%02d" % (date.year, date.month, date.day)
        options = _native.PostCreateOptions(_native.PostCreateOptions.VERSION, _opt_bytes(body, "body"),
                                            _flag(draft, "draft"), _flag(date_key, "date_key"))
        fn = self._ext("quorlina_post_create_ext", what)
        data = self._text(fn, what, _bytes(slug, "slug"), _bytes(title, "title"),
                          _bytes(description, "description"), _tags(tags, "tags"),
                          _opt_bytes(date, "date"), ctypes.byref(options))
        return _decode(data)

    def update(self, slug: Text, title: Optional[Text] = None, description: Optional[Text] = None,
               tags: Tags = None, add_tags: Tags = None, remove_tags: Tags = None,
               body: Optional[Text] = None, draft: Optional[bool] = None,
               text: Optional[Text] = None) -> None:
        """Changes a post; None leaves a value as it is. ``tags`` replaces
        all tags ("" or [] clears them); ``add_tags`` and ``remove_tags``
        change some; ``body`` replaces the body and keeps the front matter
        byte for byte; ``draft`` sets (True) or clears (False) the draft
        flag. ``text`` replaces the whole file with a text that reads as a
        post (as an editor saved it) and cannot be combined with the
        others. NoUpdatesError when no value is given."""
        what = "post update %r" % (slug,)
        options = _native.PostUpdateOptions(
            _native.PostUpdateOptions.VERSION, _opt_bytes(title, "title"),
            _opt_bytes(description, "description"), _tags(tags, "tags"), _tags(add_tags, "add_tags"),
            _tags(remove_tags, "remove_tags"), _opt_bytes(body, "body"),
            -1 if draft is None else _flag(draft, "draft"), _opt_bytes(text, "text"))
        fn = self._ext("quorlina_post_update_ext", what)
        self._check(fn(self._root, _bytes(slug, "slug"), ctypes.byref(options)), what)

    def set_body(self, slug: Text, body: Text) -> None:
        """Replaces a post's body; its front matter stays byte for byte. A
        body equal to the one stored writes nothing."""
        self.update(slug, body=body)

    def publish(self, slug: Text) -> None:
        """Clears a post's draft flag: an existing ``draft`` becomes
        ``false``; a post without one is left as it is."""
        self.update(slug, draft=False)

    def rename_tag(self, old: Text, new: Text) -> int:
        """Renames the tag ``old`` to ``new`` in every post that has it, in
        one scan, and returns the number of posts changed (0 when none has
        it). A post that has both keeps one ``new``. Every post is read
        first, so a broken file fails the call before anything changes."""
        return self._rename_tag(old, _bytes(new, "new"), "tag rename %r to %r" % (old, new))

    def remove_tag(self, tag: Text) -> int:
        """Removes the tag from every post that has it, in one scan, and
        returns the number of posts changed."""
        return self._rename_tag(tag, None, "tag remove %r" % (tag,))

    def _rename_tag(self, old: Text, new: Optional[bytes], what: str) -> int:
        """Renames ``old`` to ``new`` across the posts, or removes it when
        ``new`` is None; the number of posts rewritten."""
        old_bytes = _bytes(old, "tag")
        options = _native.TagOptions(_native.TagOptions.VERSION)
        changed = ctypes.c_size_t(0)
        fn = self._ext("quorlina_post_rename_tag", what)
        code = fn(self._root, old_bytes, new, ctypes.byref(options), ctypes.byref(changed))
        if code != 0 and changed.value:
            # The posts rewritten before the failure stay rewritten.
            what = "%s, after changing %d post%s" % (what, changed.value, "" if changed.value == 1 else "s")
        self._check(code, what)
        return int(changed.value)

    def delete(self, slug: Text) -> None:
        """Deletes the post with this slug and its emptied date
        directories; NotFoundError when there is none."""
        self._check(_native.lib.quorlina_post_delete(self._root, _bytes(slug, "slug")),
                    "post delete %r" % (slug,))


class Notes(_Family):
    """Short notes, addressed by slug or by file stem (the timestamp)."""

    def list(self, body: bool = False) -> List[Note]:
        """All notes, newest first, with their paths; ``body=True`` adds
        each one's content. A note whose date is outside datetime.date's
        range has its date as text."""
        options = _record_options(body)
        fn = self._ext("quorlina_note_list_ext", "note list")
        return [_note(d) for d in _json(self._text(fn, "note list", ctypes.byref(options)))]

    def read(self, id: Text, body: bool = True) -> Note:
        """The note whose slug or file stem is ``id``, with its content
        unless ``body=False``; NotFoundError when there is none."""
        what = "note read %r" % (id,)
        options = _record_options(body)
        fn = self._ext("quorlina_note_read_ext", what)
        return _note(_json(self._text(fn, what, _bytes(id, "id"), ctypes.byref(options))))

    def create(self, content: Optional[Text] = None, slug: Optional[Text] = None, timestamp: int = 0) -> str:
        """Creates a note and returns its path. A timestamp of 0 means now."""
        ts = _timestamp(timestamp)
        data = self._text(_native.lib.quorlina_note_create, "note create", ts,
                          _opt_bytes(slug, "slug"), _opt_bytes(content, "content"))
        return _decode(data)

    def update(self, id: Text, slug: Optional[Text] = None, clear_slug: bool = False,
               content: Optional[Text] = None, text: Optional[Text] = None) -> None:
        """Changes a note's slug (``clear_slug`` removes it) or content;
        None keeps them. ``text`` replaces the whole file with a text that
        reads as a note (as an editor saved it) and cannot be combined with
        the others. NoUpdatesError when no value is given."""
        what = "note update %r" % (id,)
        options = _native.NoteUpdateOptions(
            _native.NoteUpdateOptions.VERSION, _opt_bytes(slug, "slug"), 1 if clear_slug else 0,
            _opt_bytes(content, "content"), _opt_bytes(text, "text"))
        fn = self._ext("quorlina_note_update_ext", what)
        self._check(fn(self._root, _bytes(id, "id"), ctypes.byref(options)), what)

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
    - ``site.posts``: ``list(body=False) -> list[Post]``,
      ``read(slug, body=True)``, ``create(slug, title, description,
      tags=None, date=None, body=None, draft=False, date_key=True) ->
      path``, ``update(slug, title=None, description=None, tags=None,
      add_tags=None, remove_tags=None, body=None, draft=None, text=None)``,
      ``delete(slug)``, and ``set_body(slug, body)``, ``publish(slug)``,
      ``rename_tag(old, new) -> count``, ``remove_tag(tag) -> count``
    - ``site.notes``: ``list(body=False) -> list[Note]``,
      ``read(id, body=True)``, ``create(content=None, slug=None,
      timestamp=0) -> path``, ``update(id, slug=None, clear_slug=False,
      content=None, text=None)``, ``delete(id)``

    and the whole site:

    - ``check(family=None) -> list[Problem]``: every file the family calls
      fail on
    - ``search(text, family=None) -> list[Match]``: the items whose text
      holds ``text``

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

    def check(self, family: Optional[str] = None) -> List[Problem]:
        """Every file that the family calls would fail on, in list order:
        ``family`` "snippet", "post" or "note" checks one family, None all
        three (snippets, posts, notes). A clean site gives []. Only a
        family directory that cannot be read fails the call."""
        what = "check" if family is None else "check %s" % (family,)
        options = _native.CheckOptions(_native.CheckOptions.VERSION, _opt_bytes(family, "family"))
        code, data = _native.call_text(_extended("quorlina_check", what), self._root, ctypes.byref(options))
        if code != 0:
            raise error_for_code(code, what, _native.last_error())
        return [_problem(d) for d in _json(data)]

    def search(self, text: Text, family: Optional[str] = None) -> List[Match]:
        """The items whose fields hold ``text``, ignoring the case of ASCII
        letters, with the first matching line of each (see Match). Posts
        are searched in their titles, descriptions, tags and bodies, notes
        in their bodies, snippets in their descriptions and code. ``family``
        "snippet", "post" or "note" searches one family, None all three, in
        that order; each family is read in one scan and its items come in
        list order."""
        if family is not None and family not in _FAMILIES:
            raise ValueError("family must be one of %s or None, not %r" % (", ".join(_FAMILIES), family))
        needle = _fold(_decode(_bytes(text, "text")))
        if not needle:
            raise ValueError("text must not be empty")
        found: List[Match] = []

        def add(kind: str, item: Union[Snippet, Post, Note],
                fields: Iterable[Tuple[str, Union[str, Tuple[str, ...], None]]]) -> None:
            hit = _first_match(fields, needle)
            if hit is not None:
                found.append(Match(kind, item, hit[0], hit[1]))

        if family in (None, "snippet"):
            for s in self._snippets.list():
                add("snippet", s, (("description", s.description), ("code", s.code)))
        if family in (None, "post"):
            for p in self._posts.list(body=True):
                add("post", p, (("title", p.title), ("description", p.description), ("tags", p.tags),
                                ("body", p.content)))
        if family in (None, "note"):
            for n in self._notes.list(body=True):
                add("note", n, (("body", n.content),))
        return found

    def __repr__(self) -> str:
        """``Site('<root>', library='<path> <version>')``: the site and the
        library this binding loaded."""
        return "Site(%r, library=%r)" % (self.root, "%s %s" % (_native.path, _native.version))
