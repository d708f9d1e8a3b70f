"""Tests of the ctypes binding against the built library (QUORLINA_LIB)."""

import datetime
import os
import pathlib
import shutil
import tempfile
import unittest

import quorlina
from quorlina import _native


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


class SiteCase(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="quorlina-py-")
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        self.site = quorlina.Site(self.root)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def assertRaisesCode(self, cls, code, fn, *args, **kwargs):
        with self.assertRaises(cls) as ctx:
            fn(*args, **kwargs)
        self.assertEqual(ctx.exception.code, code)
        self.assertIsInstance(ctx.exception, quorlina.QuorlinaError)
        return ctx.exception


class LibraryLoading(unittest.TestCase):
    def test_uses_the_library_named_in_QUORLINA_LIB(self):
        self.assertEqual(os.path.realpath(_native.lib._name),
                         os.path.realpath(os.environ["QUORLINA_LIB"]))


class ErrorClasses(unittest.TestCase):
    def test_one_class_per_result_code(self):
        expected = {
            1: quorlina.InvalidTimestampError, 2: quorlina.DuplicateError,
            3: quorlina.NotFoundError, 4: quorlina.InvalidExtensionError,
            5: quorlina.InvalidDescriptionError, 6: quorlina.InvalidFilenameError,
            7: quorlina.InvalidContentError, 8: quorlina.FileSystemError,
            9: quorlina.OutOfMemoryError, 10: quorlina.InvalidSlugError,
            11: quorlina.InvalidDateError, 14: quorlina.NoUpdatesError,
            100: quorlina.InternalError,
        }
        for code, cls in expected.items():
            err = quorlina.error_for_code(code, "call")
            self.assertIs(type(err), cls)
            self.assertEqual(err.code, code)
        self.assertEqual(len(set(expected.values())), len(expected))

    def test_unknown_code_is_the_base_class_with_static_text(self):
        err = quorlina.error_for_code(42, "snippet list")
        self.assertIs(type(err), quorlina.QuorlinaError)
        self.assertEqual(err.code, 42)
        self.assertEqual(str(err), "snippet list: unknown error (code 42)")
        self.assertEqual(quorlina.error_text(12), "unknown error")
        self.assertEqual(quorlina.error_text(3), "not found")


class Snippets(SiteCase):
    def test_create_writes_the_file_and_returns_its_path(self):
        path = self.site.snippets.create("Sort a list", "x = 1", "sort.py", timestamp=1700000000)
        self.assertEqual(path, self.path("content", "snippets", "1700000000.py"))
        self.assertEqual(read_bytes(path),
                         b'+++\ndescription = "Sort a list"\nfilename = "sort.py"\n+++\n\nx = 1')

    def test_list_and_read_return_parsed_records(self):
        self.assertEqual(self.site.snippets.list(), [])
        self.site.snippets.create("Old", "a", "a.py", timestamp=86400)
        self.site.snippets.create("New", "b", "b.sh", timestamp=1700000000)
        listed = self.site.snippets.list()
        self.assertEqual([s.id for s in listed], [1700000000, 86400])
        self.assertTrue(all(isinstance(s, quorlina.Snippet) for s in listed))
        one = self.site.snippets.read(listed[0].id)
        self.assertEqual(one, listed[0])
        self.assertEqual((one.date, one.description, one.filename),
                         (datetime.date(2023, 11, 14), "New", "b.sh"))
        self.assertTrue(one.code.endswith("b"))

    def test_update_and_delete(self):
        self.site.snippets.create("Sort", "x = 1", "sort.py", timestamp=1700000000)
        self.site.snippets.update(1700000000, filename="sort.rb")
        self.assertEqual(os.listdir(self.path("content", "snippets")), ["1700000000.rb"])
        self.site.snippets.update(1700000000, description="Sorted")
        self.assertEqual(self.site.snippets.read(1700000000).description, "Sorted")
        self.site.snippets.delete(1700000000)
        self.assertRaisesCode(quorlina.NotFoundError, 3, self.site.snippets.delete, 1700000000)

    def test_each_failure_raises_its_class(self):
        s = self.site.snippets
        self.assertRaisesCode(quorlina.InvalidTimestampError, 1, s.create, "d", "c", "a.py", timestamp=-1)
        self.assertRaisesCode(quorlina.InvalidExtensionError, 4, s.create, "d", "c", "Makefile", timestamp=1)
        self.assertRaisesCode(quorlina.InvalidDescriptionError, 5, s.create, 'say "hi"', "c", "a.py", timestamp=1)
        self.assertRaisesCode(quorlina.InvalidFilenameError, 6, s.create, "d", "c", "a/b.py", timestamp=1)
        s.create("d", "c", "a.py", timestamp=1)
        self.assertRaisesCode(quorlina.DuplicateError, 2, s.create, "d", "c", "b.md", timestamp=1)
        err = self.assertRaisesCode(quorlina.NotFoundError, 3, s.read, 2)
        self.assertIsInstance(err, LookupError)
        self.assertEqual(os.listdir(self.path("content", "snippets")), ["1.py"])

    def test_front_matter_takes_only_utf8_and_code_any_bytes(self):
        # Front matter holds UTF-8 only: such a description is refused and
        # nothing is written. Code is not front matter.
        self.assertRaisesCode(quorlina.InvalidDescriptionError, 5, self.site.snippets.create,
                              b"caf\xe9 \xff", "c", "a.py", timestamp=5)
        self.assertFalse(os.path.exists(self.path("content", "snippets", "5.py")))
        self.site.snippets.create("d", b"\x01\tz \xff", "a.py", timestamp=5)
        self.assertIn(b"\x01\tz \xff", self.site.snippets.read(5).code.encode("utf-8", "surrogateescape"))
        # A file written by hand with such bytes still reads, and the decoded
        # text goes back in as the same bytes, which are refused again.
        desc = b"caf\xe9 \xff"
        path = self.path("content", "snippets", "6.py")
        with open(path, "wb") as f:
            f.write(b'+++\ndescription = "' + desc + b'"\n+++\n\ncode')
        got = self.site.snippets.read(6)
        self.assertEqual(got.description.encode("utf-8", "surrogateescape"), desc)
        self.assertRaisesCode(quorlina.InvalidDescriptionError, 5, self.site.snippets.update, 6,
                              description=got.description + "!")
        self.assertEqual(read_bytes(path), b'+++\ndescription = "' + desc + b'"\n+++\n\ncode')

    def test_arguments_are_checked_before_the_call(self):
        s = self.site.snippets
        with self.assertRaises(TypeError):
            s.read("17")
        with self.assertRaises(TypeError):
            s.read(True)
        with self.assertRaises(OverflowError):
            s.read(1 << 63)
        with self.assertRaises(ValueError):
            s.create("a\0b", "c", "a.py", timestamp=1)
        with self.assertRaises(TypeError):
            s.create(3, "c", "a.py", timestamp=1)
        self.assertFalse(os.path.exists(self.path("content")))

    def test_default_timestamp_is_now(self):
        path = self.site.snippets.create("Now", "x", "a.py")
        stem = int(os.path.basename(path).split(".")[0])
        self.assertLessEqual(abs(stem - int(datetime.datetime.now().timestamp())), 5)


class FreesEveryString(SiteCase):
    """Every string the library hands back goes to quorlina_free."""

    def setUp(self):
        super().setUp()
        self.freed = []
        original = _native.lib.quorlina_free

        def counting_free(ptr):
            self.freed.append(ptr)
            original(ptr)

        _native.lib.quorlina_free = counting_free
        self.addCleanup(setattr, _native.lib, "quorlina_free", original)

    def test_success_and_failure(self):
        self.site.snippets.create("d", "c", "a.py", timestamp=1)
        self.site.snippets.list()
        self.site.snippets.read(1)
        with self.assertRaises(quorlina.NotFoundError):
            self.site.snippets.read(2)
        # Three strings came back (path, list, record) and were freed; the
        # failed call handed back NULL, which is passed on harmlessly.
        self.assertEqual(len([p for p in self.freed if p]), 3)
        self.assertEqual(len(self.freed), 4)


class Posts(SiteCase):
    def test_create_list_read(self):
        path = self.site.posts.create("hello", "Say \"hi\"", "First post", tags=["travel", "notes"],
                                      date=datetime.date(2024, 3, 9))
        self.assertEqual(path, self.path("content", "blog", "2024", "03", "09", "hello.md"))
        self.assertEqual(read_bytes(path),
                         b'+++\ntitle = "Say \\"hi\\""\ndescription = "First post"\ndate = 2024-03-09\n'
                         b'tags = ["travel", "notes"]\n+++\n\n')
        older = self.site.posts.create("older", "Older", "D", tags="a, b", date="2023-01-02", date_key=False)
        self.assertEqual(read_bytes(older), b'+++\ntitle = "Older"\ndescription = "D"\ntags = ["a", "b"]\n+++\n\n')
        self.assertEqual(self.site.posts.list(), [
            quorlina.Post(datetime.date(2024, 3, 9), "hello", 'Say "hi"', ("travel", "notes"), "First post",
                          path=path, date_key="2024-03-09"),
            quorlina.Post(datetime.date(2023, 1, 2), "older", "Older", ("a", "b"), "D", path=older),
        ])
        self.assertEqual(self.site.posts.read("older"), quorlina.Post(
            date=datetime.date(2023, 1, 2), slug="older", title="Older", tags=("a", "b"),
            description="D", content="", path=older, draft=False, date_key=None))

    def test_update_tags_and_delete(self):
        self.site.posts.create("p", "T", "D", tags="travel,notes", date="2024-03-09")
        self.site.posts.update("p", add_tags=["travel", "food"], remove_tags="notes")
        self.assertEqual(self.site.posts.read("p").tags, ("travel", "food"))
        self.site.posts.update("p", tags=[])
        self.assertEqual(self.site.posts.read("p").tags, ())
        self.site.posts.delete("p")
        self.assertFalse(os.path.exists(self.path("content", "blog", "2024")))
        self.assertRaisesCode(quorlina.NotFoundError, 3, self.site.posts.read, "p")

    def test_failures(self):
        p = self.site.posts
        self.assertRaisesCode(quorlina.InvalidSlugError, 10, p.create, "a b", "T", "D")
        self.assertRaisesCode(quorlina.InvalidContentError, 7, p.create, "a", "", "D")
        self.assertRaisesCode(quorlina.InvalidDateError, 11, p.create, "a", "T", "D", date="2023-02-29")
        p.create("a", "T", "D", date="2024-01-01")
        self.assertRaisesCode(quorlina.DuplicateError, 2, p.create, "a", "T", "D", date="2024-01-01")
        self.assertRaisesCode(quorlina.NoUpdatesError, 14, p.update, "a")
        self.assertRaisesCode(quorlina.NotFoundError, 3, p.update, "zz", title="x")
        with self.assertRaises(ValueError):
            p.create("b", "T", "D", tags=["a,b"])


class Notes(SiteCase):
    def test_create_list_read_by_slug_and_stem(self):
        path = self.site.notes.create("First line.\nSecond \"quoted\".", slug="hello-world",
                                      timestamp=1733570000)
        self.assertEqual(read_bytes(path),
                         b'+++\nslug = "hello-world"\n+++\n\nFirst line.\nSecond "quoted".')
        plain = self.site.notes.create("Plain note", timestamp=1700000000)
        self.assertEqual(self.site.notes.list(), [
            quorlina.Note(datetime.date(2024, 12, 7), "hello-world", "hello-world", path=path),
            quorlina.Note(datetime.date(2023, 11, 14), "1700000000", None, path=plain),
        ])
        expected = quorlina.Note(datetime.date(2024, 12, 7), "hello-world", "hello-world",
                                 'First line.\nSecond "quoted".', path)
        self.assertEqual(self.site.notes.read("hello-world"), expected)
        self.assertEqual(self.site.notes.read("1733570000"), expected)

    def test_update_and_delete(self):
        self.site.notes.create("Body", slug="hello", timestamp=10)
        self.site.notes.update("hello", clear_slug=True)
        self.assertEqual(read_bytes(self.path("content", "notes", "10.md")), b"Body")
        self.site.notes.update("10", slug="new", content="Text")
        self.assertEqual(self.site.notes.read("new").content, "Text")
        self.site.notes.delete("new")
        self.assertEqual(self.site.notes.list(), [])

    def test_failures(self):
        n = self.site.notes
        self.assertRaisesCode(quorlina.InvalidTimestampError, 1, n.create, "x", timestamp=-5)
        self.assertRaisesCode(quorlina.InvalidSlugError, 10, n.create, "x", slug="a b", timestamp=1)
        n.create("x", timestamp=1)
        self.assertRaisesCode(quorlina.DuplicateError, 2, n.create, "y", timestamp=1)
        self.assertRaisesCode(quorlina.NoUpdatesError, 14, n.update, "1")
        self.assertRaisesCode(quorlina.InvalidSlugError, 10, n.update, "1", slug="x", clear_slug=True)
        self.assertRaisesCode(quorlina.NotFoundError, 3, n.delete, "nope")


class SiteRoot(unittest.TestCase):
    def test_accepts_str_bytes_and_paths(self):
        root = tempfile.mkdtemp(prefix="quorlina-py-")
        self.addCleanup(shutil.rmtree, root, ignore_errors=True)
        quorlina.Site(pathlib.Path(root)).notes.create("a", timestamp=1)
        self.assertEqual(len(quorlina.Site(root.encode()).notes.list()), 1)
        self.assertTrue(repr(quorlina.Site(root)).startswith("Site(%r, library=" % root))
        with self.assertRaises(ValueError):
            quorlina.Site("a\0b")

    def test_a_file_as_root_is_a_file_system_error(self):
        with tempfile.NamedTemporaryFile() as f:
            self.assertRaises(quorlina.FileSystemError, quorlina.Site(f.name).snippets.list)


if __name__ == "__main__":
    unittest.main()
