"""The binding speaks Python: typed records, standard exception bases with
code and detail, documented methods, and a library search that says where
it looked."""

import dataclasses
import datetime
import os
import pydoc
import shutil
import subprocess
import sys
import tempfile
import unittest

import quorlina
from quorlina import _native

PACKAGE = os.path.dirname(os.path.abspath(quorlina.__file__))


class SiteCase(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="quorlina-py-")
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        self.site = quorlina.Site(self.root)


class TypedRecords(SiteCase):
    def test_a_listed_id_reads_the_snippet(self):
        self.site.snippets.create("Sort", "x = 1", "sort.py", timestamp=1700000000)
        listed = self.site.snippets.list()[0]
        self.assertEqual(self.site.snippets.read(listed.id), quorlina.Snippet(
            id=1700000000, date=datetime.date(2023, 11, 14), description="Sort", filename="sort.py",
            code=listed.code))
        with self.assertRaises(dataclasses.FrozenInstanceError):
            listed.id = 5  # type: ignore[misc]

    def test_field_types(self):
        self.site.posts.create("p", "T", "D", tags="a,b", date="2024-03-09")
        note_path = self.site.notes.create("x", slug="n", timestamp=86400)
        post, note = self.site.posts.read("p"), self.site.notes.list()[0]
        self.assertEqual((post.date, post.tags, post.description, post.content, post.draft, post.date_key),
                         (datetime.date(2024, 3, 9), ("a", "b"), "D", "", False, "2024-03-09"))
        self.assertEqual(note, quorlina.Note(datetime.date(1970, 1, 2), "n", "n", None, note_path))

    def test_a_date_out_of_range_stays_text(self):
        # 253402300800 is 10000-01-01: datetime.date cannot hold it.
        self.site.notes.create("far", timestamp=253402300800)
        self.site.notes.create("near", timestamp=86400)
        self.site.snippets.create("far", "x", "a.py", timestamp=253402300800)
        self.assertEqual({n.id: n.date for n in self.site.notes.list()},
                         {"253402300800": "10000-01-01", "86400": datetime.date(1970, 1, 2)})
        self.assertEqual(self.site.notes.read("253402300800").date, "10000-01-01")
        self.assertEqual(self.site.snippets.list()[0].date, "10000-01-01")

    def test_a_post_date_that_is_no_calendar_date_stays_text(self):
        # The library's number reader takes "+" and "_": 2_24/ is a year
        # directory and its posts date "2_24-...". A day 31 of a 30-day
        # month is a directory the tree allows too. Neither fails a list.
        def write(rel, title):
            path = os.path.join(self.root, "content", "blog", *rel.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write('+++\ntitle = "%s"\ndescription = "D"\n+++\nBody\n' % title)
        write("2_24/01/01/odd.md", "Odd")
        write("2024/+2/09/plus.md", "Plus")
        write("2024/04/31/late.md", "Late")
        write("2024/03/09/plain.md", "Plain")
        self.assertEqual({p.slug: p.date for p in self.site.posts.list()},
                         {"odd": "2_24-01-01", "plus": "2024-+2-09", "late": "2024-04-31",
                          "plain": datetime.date(2024, 3, 9)})
        self.assertEqual(self.site.posts.read("odd").date, "2_24-01-01")
        self.assertEqual(self.site.posts.read("plain").date, datetime.date(2024, 3, 9))


class Exceptions(SiteCase):
    def test_standard_bases_code_and_detail(self):
        cases = [
            (lambda: self.site.posts.read("missing"), quorlina.NotFoundError, LookupError, 3),
            (lambda: self.site.notes.create("y", timestamp=1), quorlina.DuplicateError, FileExistsError, 2),
            (lambda: self.site.posts.create("a b", "T", "D"), quorlina.InvalidSlugError, ValueError, 10),
            (lambda: self.site.snippets.create("d", "c", "a.py", timestamp=-1),
             quorlina.InvalidTimestampError, ValueError, 1),
        ]
        self.site.notes.create("x", timestamp=1)
        for call, cls, base, code in cases:
            with self.assertRaises(base) as ctx:
                call()
            err = ctx.exception
            self.assertIs(type(err), cls)
            # No file caused these: the detail is the code's own text.
            self.assertEqual((err.code, err.detail), (code, quorlina.error_text(code)))
            self.assertTrue(str(err).endswith("(code %d)" % code), str(err))
        # A file-system failure names the path and the system's reason.
        beside = os.path.join(self.root, "content", "notes", "1.md")
        with self.assertRaises(OSError) as ctx:
            quorlina.Site(beside).notes.list()
        self.assertIs(type(ctx.exception), quorlina.FileSystemError)
        self.assertEqual((ctx.exception.code, ctx.exception.detail),
                         (8, os.path.join(beside, "content", "notes") + ": Not a directory"))
        self.assertTrue(issubclass(quorlina.OutOfMemoryError, MemoryError))
        dup = quorlina.error_for_code(2, "note create")
        self.assertEqual((str(dup), dup.args, dup.errno), ("note create: already exists (code 2)",
                                                           ("note create: already exists (code 2)",), None))


class Documentation(unittest.TestCase):
    def test_every_method_is_documented(self):
        page = pydoc.render_doc(quorlina.Site)
        for cls in (quorlina.Site, quorlina.Snippets, quorlina.Posts, quorlina.Notes):
            for name, member in vars(cls).items():
                if name.startswith("__") and name not in ("__init__", "__repr__"):
                    continue
                if callable(member) or isinstance(member, property):
                    self.assertTrue((member.__doc__ or "").strip(), "%s.%s" % (cls.__name__, name))
        for method in ("list()", "read(timestamp)", "create(slug, title, description", "update(id, slug=None",
                       "delete(slug)", "snippets", "posts", "notes"):
            self.assertIn(method, page)


class LibrarySearch(unittest.TestCase):
    """Imports a copy of the package in a child interpreter whose only
    library candidates are the ones a test lays out."""

    def setUp(self):
        self.tree = tempfile.mkdtemp(prefix="quorlina-tree-")
        self.addCleanup(shutil.rmtree, self.tree, ignore_errors=True)
        shutil.copytree(PACKAGE, os.path.join(self.tree, "bindings", "python", "quorlina"))
        self.empty = os.path.join(self.tree, "empty")
        os.mkdir(self.empty)

    def load(self):
        env = dict(os.environ, PKG_CONFIG_LIBDIR=self.empty, PYTHONPATH=os.path.join(self.tree, "bindings", "python"))
        for name in ("QUORLINA_LIB", "PKG_CONFIG_PATH", "LD_LIBRARY_PATH"):
            env.pop(name, None)
        return subprocess.run([sys.executable, "-c", "from quorlina import _native; print(_native.lib._name)"],
                              env=env, cwd=self.empty, stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def test_nothing_found_says_where_it_looked(self):
        r = self.load()
        self.assertNotEqual(r.returncode, 0)
        err = r.stderr.decode()
        self.assertIn("ImportError: libquorlina_ffi not found. Looked at:", err)
        for place in ("QUORLINA_LIB: not set", "the system's library path: not found", "pkg-config",
                      "build tree: this package is not in a source checkout"):
            self.assertIn(place, err)

    def test_the_newest_build_tree_library_wins(self):
        os.makedirs(os.path.join(self.tree, "include", "quorlina"))
        open(os.path.join(self.tree, "include", "quorlina", "quorlina.h"), "w").close()
        libs = {}
        for i, name in enumerate(("release", "default")):
            os.makedirs(os.path.join(self.tree, "build", name))
            libs[name] = os.path.join(self.tree, "build", name, "libquorlina_ffi.so")
            shutil.copy(os.environ["QUORLINA_LIB"], libs[name])
            os.utime(libs[name], (1000000000 + i, 1000000000 + i))
        self.assertEqual(self.load().stdout.decode().strip(), libs["default"])
        os.utime(libs["release"], (1000000005, 1000000005))
        self.assertEqual(self.load().stdout.decode().strip(), libs["release"])

    def test_library_names_follow_the_system(self):
        self.assertEqual(_native._library_names("Darwin"), ("libquorlina_ffi.dylib", "libquorlina_ffi.0.dylib"))
        for system in ("Linux", "FreeBSD"):
            self.assertEqual(_native._library_names(system), ("libquorlina_ffi.so", "libquorlina_ffi.so.0"))

    def test_a_dylib_in_the_build_tree_is_found_on_macos(self):
        os.makedirs(os.path.join(self.tree, "include", "quorlina"))
        open(os.path.join(self.tree, "include", "quorlina", "quorlina.h"), "w").close()
        os.makedirs(os.path.join(self.tree, "build", "default"))
        dylib = os.path.join(self.tree, "build", "default", "libquorlina_ffi.dylib")
        # The loader takes the file by its path, whatever its suffix.
        shutil.copy(os.environ["QUORLINA_LIB"], dylib)
        shutil.copy(os.environ["QUORLINA_LIB"], os.path.join(self.tree, "build", "default", "libquorlina_ffi.so"))
        env = dict(os.environ, PKG_CONFIG_LIBDIR=self.empty, PYTHONPATH=os.path.join(self.tree, "bindings", "python"))
        for name in ("QUORLINA_LIB", "PKG_CONFIG_PATH", "LD_LIBRARY_PATH"):
            env.pop(name, None)
        # The system's own library search is asked for "quorlina_ffi" and
        # finds nothing here on either system.
        code = ("import platform, sys; platform.system = lambda: 'Darwin'; "
                "from quorlina import _native; print(_native.lib._name)")
        r = subprocess.run([sys.executable, "-c", code], env=env, cwd=self.empty,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual(r.returncode, 0, r.stderr.decode())
        self.assertEqual(r.stdout.decode().strip(), dylib)


if __name__ == "__main__":
    unittest.main()


class Explained(SiteCase):
    def test_the_broken_file_is_named(self):
        raw = os.path.join(self.root, "content", "blog", "2024", "11", "01", "raw.md")
        os.makedirs(os.path.dirname(raw))
        with open(raw, "w") as f:
            f.write("just text\n")
        with self.assertRaises(quorlina.InvalidContentError) as ctx:
            self.site.posts.read("hello-world")
        self.assertEqual(ctx.exception.detail, raw + ": no front matter")
        self.assertEqual(str(ctx.exception), "post read 'hello-world': %s: no front matter (code 7)" % raw)
        self.assertIn(quorlina._native.version, repr(self.site))

    def test_snippet_code_round_trips_byte_for_byte(self):
        path = self.site.snippets.create("Sort", "x = 1\n", "sort.py", timestamp=1700000000)
        hand = os.path.join(self.root, "content", "snippets", "1700000001.py")
        with open(hand, "wb") as f:
            f.write(b'+++\ndescription = "Hand"\n+++\n\n\nstarts with an empty line\n')
        for ts, file, code in ((1700000000, path, "x = 1\n"), (1700000001, hand, "\nstarts with an empty line\n")):
            with open(file, "rb") as f:
                before = f.read()
            self.assertEqual(self.site.snippets.read(ts).code, code)
            self.site.snippets.update(ts, code=self.site.snippets.read(ts).code)
            with open(file, "rb") as f:
                self.assertEqual(f.read(), before)
