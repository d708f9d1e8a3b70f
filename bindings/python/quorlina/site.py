"""``Site``: the snippets, posts and notes below one site root."""

import datetime
import json
import os
import time

from . import _native
from .errors import error_for_code

__all__ = ["Site", "Snippets", "Posts", "Notes"]

_INT64_MIN = -(1 << 63)
_INT64_MAX = (1 << 63) - 1


def _bytes(value, name):
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


def _opt_bytes(value, name):
    return None if value is None else _bytes(value, name)


def _timestamp(value, name="timestamp"):
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError("%s must be an int, not %s" % (name, type(value).__name__))
    if not _INT64_MIN <= value <= _INT64_MAX:
        raise OverflowError("%s %d does not fit in 64 bits" % (name, value))
    return value


def _tags(value, name):
    """Tags as the library's comma-separated text: a str or bytes is passed
    as it is, an iterable of tags is joined with ","."""
    if value is None or isinstance(value, (str, bytes, bytearray)):
        return _opt_bytes(value, name)
    items = [_bytes(tag, name) for tag in value]
    for tag in items:
        if b"," in tag:
            raise ValueError("a tag in %s contains ',', which separates tags" % name)
    return b",".join(items)


def _decode(data):
    return data.decode("utf-8", "surrogateescape")


def _json(data):
    return json.loads(_decode(data))


class _Family:
    def __init__(self, site):
        self._site = site
        self._root = site._root

    def _check(self, code, what):
        if code != 0:
            raise error_for_code(code, what)

    def _text(self, fn, what, *args):
        code, data = _native.call_text(fn, self._root, *args)
        self._check(code, what)
        return data


class Snippets(_Family):
    """Code snippets, keyed by a Unix timestamp."""

    def list(self):
        """All snippets, newest first, as dicts with the keys id, date,
        description, filename and code."""
        return _json(self._text(_native.lib.quorlina_snippet_list, "snippet list"))

    def read(self, timestamp):
        """One snippet as a dict; NotFoundError when there is none."""
        ts = _timestamp(timestamp)
        return _json(self._text(_native.lib.quorlina_snippet_read, "snippet read %d" % ts, ts))

    def create(self, description, code, filename, timestamp=None):
        """Creates a snippet (at the current time unless ``timestamp`` is
        given) and returns the new file's path."""
        ts = int(time.time()) if timestamp is None else _timestamp(timestamp)
        data = self._text(_native.lib.quorlina_snippet_create, "snippet create %d" % ts, ts,
                          _bytes(description, "description"), _bytes(code, "code"),
                          _bytes(filename, "filename"))
        return _decode(data)

    def update(self, timestamp, description=None, code=None, filename=None):
        """Rewrites a snippet; None keeps a stored value."""
        ts = _timestamp(timestamp)
        self._check(_native.lib.quorlina_snippet_update(
            self._root, ts, _opt_bytes(description, "description"), _opt_bytes(code, "code"),
            _opt_bytes(filename, "filename")), "snippet update %d" % ts)

    def delete(self, timestamp):
        ts = _timestamp(timestamp)
        self._check(_native.lib.quorlina_snippet_delete(self._root, ts), "snippet delete %d" % ts)


class Posts(_Family):
    """Blog posts, filed by date and addressed by slug."""

    def list(self):
        """All posts, newest first, as dicts with the keys date, slug, title
        and tags (a list)."""
        return _json(self._text(_native.lib.quorlina_post_list, "post list"))

    def read(self, slug):
        """One post as a dict with date, slug, title, description, tags and
        content; NotFoundError when no post has that slug."""
        return _json(self._text(_native.lib.quorlina_post_read, "post read %r" % (slug,),
                                _bytes(slug, "slug")))

    def create(self, slug, title, description, tags=None, date=None):
        """Creates a post with an empty body and returns its path. ``tags``
        is a comma-separated str or a list of tags; ``date`` a
        ``datetime.date`` or "YYYY-MM-DD" (default: today, UTC)."""
        if isinstance(date, datetime.date):
            date = "%04d-%02d-%02d" % (date.year, date.month, date.day)
        data = self._text(_native.lib.quorlina_post_create, "post create %r" % (slug,),
                          _bytes(slug, "slug"), _bytes(title, "title"),
                          _bytes(description, "description"), _tags(tags, "tags"),
                          _opt_bytes(date, "date"))
        return _decode(data)

    def update(self, slug, title=None, description=None, tags=None, add_tags=None, remove_tags=None):
        """Changes a post's front matter; None leaves a value as it is.
        ``tags`` replaces all tags ("" or [] clears them)."""
        self._check(_native.lib.quorlina_post_update(
            self._root, _bytes(slug, "slug"), _opt_bytes(title, "title"),
            _opt_bytes(description, "description"), _tags(tags, "tags"),
            _tags(add_tags, "add_tags"), _tags(remove_tags, "remove_tags")),
            "post update %r" % (slug,))

    def delete(self, slug):
        self._check(_native.lib.quorlina_post_delete(self._root, _bytes(slug, "slug")),
                    "post delete %r" % (slug,))


class Notes(_Family):
    """Short notes, addressed by slug or by file stem (the timestamp)."""

    def list(self):
        """All notes, newest first, as dicts with date, id and slug (None
        for a note without slug)."""
        return _json(self._text(_native.lib.quorlina_note_list, "note list"))

    def read(self, id):
        """One note as a dict with date, id, slug and content."""
        return _json(self._text(_native.lib.quorlina_note_read, "note read %r" % (id,),
                                _bytes(id, "id")))

    def create(self, content=None, slug=None, timestamp=0):
        """Creates a note and returns its path. A timestamp of 0 means now."""
        ts = _timestamp(timestamp)
        data = self._text(_native.lib.quorlina_note_create, "note create", ts,
                          _opt_bytes(slug, "slug"), _opt_bytes(content, "content"))
        return _decode(data)

    def update(self, id, slug=None, clear_slug=False, content=None):
        """Changes a note's slug or content; None keeps them."""
        self._check(_native.lib.quorlina_note_update(
            self._root, _bytes(id, "id"), _opt_bytes(slug, "slug"), 1 if clear_slug else 0,
            _opt_bytes(content, "content")), "note update %r" % (id,))

    def delete(self, id):
        self._check(_native.lib.quorlina_note_delete(self._root, _bytes(id, "id")),
                    "note delete %r" % (id,))


class Site:
    """The content below one site root directory (str, bytes or a path)."""

    def __init__(self, root="."):
        self.root = root
        self._root = os.fsencode(root)
        if b"\0" in self._root:
            raise ValueError("root must not contain a NUL character")
        self.snippets = Snippets(self)
        self.posts = Posts(self)
        self.notes = Notes(self)

    def __repr__(self):
        return "Site(%r)" % (self.root,)
