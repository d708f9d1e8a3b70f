"""Writing posts completely (bodies, drafts, date keys), full records with
paths, tag renames across posts, checking a whole site and searching it,
against files written the way people and Hugo write them."""

import ctypes
import datetime
import os
import shutil
import subprocess
import tempfile
import unittest

try:
    import tomllib
except ImportError:  # Python before 3.11
    tomllib = None

import quorlina
from quorlina import _native


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def front_matter(data):
    """The TOML between the opening "+++" line and the closing one."""
    assert data.startswith(b"+++\n"), data
    block, _, _ = data[4:].partition(b"\n+++\n")
    return block.decode("utf-8") + "\n"


# Posts as a blogger moving a Hugo site over has them: `hugo new content`
# writes date and draft, people write single quotes, comments, tables and
# dates of every TOML kind. Each is (directory date, slug, file bytes,
# expected record fields beyond the directory date and slug).
HUGO_POSTS = [
    ("2019/11/07", "rust-1-39-0",
     b"+++\ntitle = 'Rust 1.39.0'\ndate = 2019-11-07T00:00:00+00:00\ndraft = false\n"
     b"description = \"Async/await is stable\"\ntags = ['rust', 'release']\n+++\n"
     b"Rust 1.39.0 is out.\n\nIt brings async/await.\n",
     dict(title="Rust 1.39.0", tags=("rust", "release"), description="Async/await is stable",
          draft=False, date_key="2019-11-07T00:00:00+00:00",
          content="Rust 1.39.0 is out.\n\nIt brings async/await.\n")),
    ("2024/05/01", "wip",
     b"+++\ntitle = \"Work in progress\"\ndescription = \"Soon\"\ndate = 2024-05-01\n"
     b"draft = true  # not yet\n+++\nDraft text.\n",
     dict(title="Work in progress", tags=(), description="Soon", draft=True, date_key="2024-05-01",
          content="Draft text.\n")),
    ("2023/02/03", "quoted-date",
     b"+++\ntitle = \"Quoted\"\ndescription = \"D\"\ndate = \"2023-02-03\"\ndraft = \"true\"\n"
     b"tags = [\"go\"]\n+++\n\nBody\n",
     dict(title="Quoted", tags=("go",), description="D", draft=False, date_key="2023-02-03",
          content="Body\n")),
    ("2022/12/24", "tabled",
     b"+++\ntitle = \"In a table\"\ndescription = \"D\"\n\n[params]\ndraft = true\n"
     b"date = 2020-01-01\n+++\n\nBody\n",
     dict(title="In a table", tags=(), description="D", draft=False, date_key=None, content="Body\n")),
]


class SiteCase(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="quorlina-py-")
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        self.site = quorlina.Site(self.root)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def write(self, rel, data):
        path = self.path(*rel.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def write_post(self, day, slug, data):
        return self.write("content/blog/%s/%s.md" % (day, slug), data)

    def assertRaisesCode(self, cls, code, fn, *args, **kwargs):
        with self.assertRaises(cls) as ctx:
            fn(*args, **kwargs)
        self.assertEqual(ctx.exception.code, code)
        return ctx.exception

    def snapshot(self):
        """Every file below the root and its bytes."""
        files = {}
        for dirpath, _, names in os.walk(self.root):
            for name in names:
                full = os.path.join(dirpath, name)
                files[os.path.relpath(full, self.root)] = read_bytes(full)
        return files


class HandWrittenPosts(SiteCase):
    def setUp(self):
        super().setUp()
        self.paths = {slug: self.write_post(day, slug, data) for day, slug, data, _ in HUGO_POSTS}

    def expected(self, with_body):
        records = []
        for day, slug, _, fields in HUGO_POSTS:
            fields = dict(fields)
            if not with_body:
                fields["content"] = None
            records.append(quorlina.Post(date=datetime.date(*map(int, day.split("/"))), slug=slug,
                                         path=self.paths[slug], **fields))
        # Newest first.
        return sorted(records, key=lambda p: p.date, reverse=True)

    def test_list_and_read_give_full_records(self):
        self.assertEqual(self.site.posts.list(), self.expected(False))
        self.assertEqual(self.site.posts.list(body=True), self.expected(True))
        for record in self.expected(True):
            self.assertEqual(self.site.posts.read(record.slug), record)
            self.assertEqual(self.site.posts.read(record.slug).body, record.content)
            self.assertEqual(self.site.posts.read(record.slug, body=False).content, None)

    @unittest.skipIf(tomllib is None, "tomllib needs Python 3.11")
    def test_draft_and_date_key_agree_with_tomllib(self):
        for record in self.site.posts.list():
            toml = tomllib.loads(front_matter(read_bytes(record.path)))
            self.assertEqual(record.draft, toml.get("draft") is True, record.slug)
            if "date" not in toml:
                self.assertIsNone(record.date_key, record.slug)
            elif isinstance(toml["date"], str):
                self.assertEqual(record.date_key, toml["date"], record.slug)
            else:
                # A date or date-time comes as written: read as TOML again,
                # it is the same value.
                self.assertEqual(tomllib.loads("d = " + record.date_key)["d"], toml["date"], record.slug)

    def test_publish_clears_the_flag_in_place(self):
        before = read_bytes(self.paths["wip"])
        self.site.posts.publish("wip")
        self.assertEqual(read_bytes(self.paths["wip"]),
                         before.replace(b"draft = true  # not yet", b"draft = false  # not yet"))
        self.assertFalse(self.site.posts.read("wip").draft)
        # A post that is no draft, or whose only draft key is in a table,
        # is left as it was.
        for slug in ("rust-1-39-0", "tabled", "wip"):
            data = read_bytes(self.paths[slug])
            self.site.posts.publish(slug)
            self.assertEqual(read_bytes(self.paths[slug]), data, slug)

    def test_update_draft_sets_the_flag_after_the_last_top_level_key(self):
        self.site.posts.update("quoted-date", draft=True)
        self.assertEqual(read_bytes(self.paths["quoted-date"]),
                         b"+++\ntitle = \"Quoted\"\ndescription = \"D\"\ndate = \"2023-02-03\"\ndraft = true\n"
                         b"tags = [\"go\"]\n+++\n\nBody\n")
        self.site.posts.update("tabled", draft=True)
        self.assertEqual(read_bytes(self.paths["tabled"]),
                         b"+++\ntitle = \"In a table\"\ndescription = \"D\"\ndraft = true\n\n[params]\n"
                         b"draft = true\ndate = 2020-01-01\n+++\n\nBody\n")
        self.assertEqual([p.slug for p in self.site.posts.list() if p.draft], ["wip", "quoted-date", "tabled"])

    def test_set_body_keeps_the_front_matter_bytes(self):
        data = read_bytes(self.paths["rust-1-39-0"])
        head = data[:data.index(b"\n+++\n") + len(b"\n+++\n")]
        self.site.posts.set_body("rust-1-39-0", "New text.\n")
        after = read_bytes(self.paths["rust-1-39-0"])
        self.assertEqual(after, head + b"New text.\n")
        self.assertEqual(self.site.posts.read("rust-1-39-0").content, "New text.\n")
        # The same body again writes nothing.
        self.site.posts.set_body("rust-1-39-0", "New text.\n")
        self.assertEqual(read_bytes(self.paths["rust-1-39-0"]), after)

    def test_body_bytes_that_are_not_utf8_go_back_as_they_were(self):
        self.site.posts.set_body("wip", b"caf\xe9 \xff\n")
        body = self.site.posts.read("wip").content
        self.assertEqual(body.encode("utf-8", "surrogateescape"), b"caf\xe9 \xff\n")
        self.site.posts.set_body("wip", body + "more\n")
        data = HUGO_POSTS[1][2]
        self.assertEqual(read_bytes(self.paths["wip"]), data[:data.index(b"+++\n", 4) + 4] + b"caf\xe9 \xff\nmore\n")

    def test_text_replaces_the_whole_file_only_when_it_reads_as_a_post(self):
        text = b"+++\ntitle = \"Edited\"\ndescription = \"D\"\n+++\nEdited body\n"
        self.site.posts.update("quoted-date", text=text)
        self.assertEqual(read_bytes(self.paths["quoted-date"]), text)
        before = self.snapshot()
        self.assertRaisesCode(quorlina.InvalidContentError, 7, self.site.posts.update, "quoted-date",
                              text="+++\ntitle = \"No description\"\n+++\n")
        self.assertRaisesCode(quorlina.InternalError, 100, self.site.posts.update, "quoted-date",
                              text=text, title="And a title")
        self.assertEqual(self.snapshot(), before)


class CreatedPosts(SiteCase):
    def test_body_draft_and_date_key_read_back(self):
        path = self.site.posts.create("hello", "Hello", "First", tags=["a", "b"], date="2024-05-01",
                                      body="Hello, world.\n", draft=True)
        self.assertEqual(path, self.path("content", "blog", "2024", "05", "01", "hello.md"))
        self.assertEqual(read_bytes(path),
                         b"+++\ntitle = \"Hello\"\ndescription = \"First\"\ndate = 2024-05-01\n"
                         b"draft = true\ntags = [\"a\", \"b\"]\n+++\n\nHello, world.\n")
        self.assertEqual(self.site.posts.read("hello"), quorlina.Post(
            date=datetime.date(2024, 5, 1), slug="hello", title="Hello", tags=("a", "b"),
            description="First", content="Hello, world.\n", path=path, draft=True, date_key="2024-05-01"))
        self.site.posts.publish("hello")
        self.assertEqual(read_bytes(path),
                         b"+++\ntitle = \"Hello\"\ndescription = \"First\"\ndate = 2024-05-01\n"
                         b"draft = false\ntags = [\"a\", \"b\"]\n+++\n\nHello, world.\n")

    @unittest.skipIf(tomllib is None, "tomllib needs Python 3.11")
    def test_the_front_matter_is_toml_that_a_generator_reads(self):
        cases = [
            (dict(), {"title": "T", "description": "D", "date": datetime.date(2024, 5, 1)}),
            (dict(draft=True, tags="x, y"), {"title": "T", "description": "D", "date": datetime.date(2024, 5, 1),
                                            "draft": True, "tags": ["x", "y"]}),
            (dict(date_key=False), {"title": "T", "description": "D"}),
            (dict(date_key=False, draft=True), {"title": "T", "description": "D", "draft": True}),
        ]
        for i, (options, expected) in enumerate(cases):
            path = self.site.posts.create("p%d" % i, "T", "D", date=datetime.date(2024, 5, 1), **options)
            self.assertEqual(tomllib.loads(front_matter(read_bytes(path))), expected, options)
            record = self.site.posts.read("p%d" % i)
            self.assertEqual((record.draft, record.date_key),
                             (expected.get("draft", False), "2024-05-01" if "date" in expected else None))

    def test_a_refused_create_writes_nothing(self):
        self.assertRaisesCode(quorlina.InvalidSlugError, 10, self.site.posts.create, "a b", "T", "D",
                              body="x")
        with self.assertRaises(TypeError):
            self.site.posts.create("a", "T", "D", draft=1)
        self.assertEqual(self.snapshot(), {})


class TagRenames(SiteCase):
    def setUp(self):
        super().setUp()
        self.a = self.write_post("2024/01/01", "a", b"+++\ntitle = \"A\"\ndescription = \"D\"\n"
                                                    b"tags = ['rust', 'release']  # kept\n+++\nA\n")
        self.b = self.write_post("2024/01/02", "b", b"+++\ntitle = \"B\"\ndescription = \"D\"\n"
                                                    b"tags = [\n  \"go\",\n  \"rust\",\n]\n+++\nB\n")
        self.c = self.write_post("2024/01/03", "c", b"+++\ntitle = \"C\"\ndescription = \"D\"\n"
                                                    b"tags = [\"go\"]\n+++\nC\n")

    def tags(self):
        return {p.slug: p.tags for p in self.site.posts.list()}

    def test_rename_counts_the_posts_it_changed(self):
        c = read_bytes(self.c)
        self.assertEqual(self.site.posts.rename_tag("rust", "rustlang"), 2)
        # The new name goes after the other tags, as an update that removes
        # one tag and adds another writes it; the rest stays as written.
        self.assertEqual(self.tags(), {"a": ("release", "rustlang"), "b": ("go", "rustlang"), "c": ("go",)})
        self.assertEqual(read_bytes(self.a), b"+++\ntitle = \"A\"\ndescription = \"D\"\n"
                                             b"tags = ['release', \"rustlang\"]  # kept\n+++\nA\n")
        self.assertEqual(read_bytes(self.b), b"+++\ntitle = \"B\"\ndescription = \"D\"\n"
                                             b"tags = [\n  \"go\",\n  \"rustlang\",\n]\n+++\nB\n")
        self.assertEqual(read_bytes(self.c), c)
        self.assertEqual(self.site.posts.rename_tag("absent", "x"), 0)

    def test_a_post_with_both_names_keeps_one(self):
        self.assertEqual(self.site.posts.rename_tag("go", "rust"), 2)
        self.assertEqual(self.tags(), {"a": ("rust", "release"), "b": ("rust",), "c": ("rust",)})

    def test_remove_counts_the_posts_it_changed(self):
        self.assertEqual(self.site.posts.remove_tag("go"), 2)
        self.assertEqual(self.tags(), {"a": ("rust", "release"), "b": ("rust",), "c": ()})
        self.assertEqual(self.site.posts.remove_tag("go"), 0)

    def test_a_broken_post_fails_the_rename_before_any_change(self):
        broken = self.write_post("2024/01/04", "broken", b"+++\ntitle = \"X\"\ntags = [\"rust\"]\n+++\n")
        before = self.snapshot()
        err = self.assertRaisesCode(quorlina.InvalidContentError, 7, self.site.posts.rename_tag, "rust", "r")
        self.assertEqual(err.detail, broken + ": description is missing")
        self.assertEqual(self.snapshot(), before)


class Check(SiteCase):
    def test_a_clean_or_empty_site_gives_nothing(self):
        self.assertEqual(self.site.check(), [])
        self.site.posts.create("p", "T", "D", date="2024-01-01")
        self.site.notes.create("n", timestamp=5)
        self.site.snippets.create("d", "c", "a.py", timestamp=7)
        self.assertEqual(self.site.check(), [])
        self.assertEqual(self.site.check("post"), [])

    def test_every_broken_file_with_the_code_and_text_a_list_gives(self):
        self.site.posts.create("good", "T", "D", date="2024-01-01")
        self.site.snippets.create("d", "c", "a.py", timestamp=7)
        no_fm = self.write_post("2019/11/07", "raw", b"Just text\n")
        no_desc = self.write_post("2019/11/08", "Rust-1-39-0", b"+++\ntitle = \"Rust\"\n+++\n")
        snippet = self.write("content/snippets/sort.py", b"+++\ndescription = \"d\"\n+++\n\nx\n")
        note = self.write("content/notes/12.md", b"+++\nslug = \"a b\"\n+++\n\nText\n")
        problems = self.site.check()
        self.assertTrue(all(isinstance(p, quorlina.Problem) for p in problems))
        self.assertEqual([p.family for p in problems], ["snippet", "post", "post", "note"])
        self.assertEqual((problems[0].path, problems[0].code), (snippet, 1))
        # Posts come in the order of the directory walk.
        self.assertEqual(sorted((p.path, p.code, p.reason) for p in problems[1:3]),
                         sorted([(no_fm, 7, "no front matter"), (no_desc, 7, "description is missing")]))
        self.assertEqual((problems[3].path, problems[3].code), (note, 10))
        self.assertEqual(self.site.check("post"), problems[1:3])
        self.assertEqual(self.site.check("note"), problems[3:])
        self.assertEqual(self.site.check("snippet"), problems[:1])
        # Each is what the family's list or read says about that file.
        for problem, call in ((problems[0], self.site.snippets.list), (problems[3], self.site.notes.list)):
            with self.assertRaises(quorlina.QuorlinaError) as ctx:
                call()
            self.assertEqual((ctx.exception.code, ctx.exception.detail), (problem.code, str(problem)))
        # A post list stops at one of the broken posts.
        with self.assertRaises(quorlina.QuorlinaError) as ctx:
            self.site.posts.list()
        self.assertIn((ctx.exception.code, ctx.exception.detail), [(p.code, str(p)) for p in problems[1:3]])

    def test_an_unknown_family_is_refused_by_the_library(self):
        err = self.assertRaisesCode(quorlina.InternalError, 100, self.site.check, "posts")
        self.assertEqual(err.detail, 'unknown family: give "snippet", "post" or "note", or none for all three')


class Search(SiteCase):
    def setUp(self):
        super().setUp()
        self.site.snippets.create("Sort a list", "items.sort()\nprint(Await)\n", "sort.py", timestamp=7)
        self.site.snippets.create("Backup", "rsync -a src dst\n", "b.sh", timestamp=8)
        self.write_post("2019/11/07", "rust", HUGO_POSTS[0][2])
        self.write_post("2024/02/02", "unicode",
                        b"+++\ntitle = \"\xc3\x9cber Go\"\ndescription = \"D\"\ntags = [\"golang\"]\n+++\n"
                        b"First line\r\nSecond AWAIT line\r\n")
        self.site.notes.create("A note\nabout async/await\n", slug="n", timestamp=9)
        self.site.notes.create("Nothing here", timestamp=10)

    def found(self, text, family=None):
        return [(m.family, m.field, m.line, getattr(m.item, "slug", None) or getattr(m.item, "id"))
                for m in self.site.search(text, family=family)]

    def test_fields_lines_and_order(self):
        self.assertEqual(self.found("await"), [
            ("snippet", "code", "print(Await)", 7),
            ("post", "body", "Second AWAIT line", "unicode"),
            ("post", "description", "Async/await is stable", "rust"),
            ("note", "body", "about async/await", "n"),
        ])
        self.assertEqual(self.found("RUST"), [("post", "title", "Rust 1.39.0", "rust")])
        self.assertEqual(self.found("golang"), [("post", "tags", "golang", "unicode")])
        self.assertEqual(self.found("sort", "snippet"), [("snippet", "description", "Sort a list", 7)])
        self.assertEqual(self.found("await", "note"), [("note", "body", "about async/await", "n")])
        self.assertEqual(self.found("no such text"), [])

    def test_only_ascii_letters_fold(self):
        self.assertEqual(self.found("\u00dcber"), [("post", "title", "\u00dcber Go", "unicode")])
        self.assertEqual(self.found("\u00fcber"), [])
        self.assertEqual(self.found("BER GO"), [("post", "title", "\u00dcber Go", "unicode")])

    def test_items_are_full_records(self):
        match = self.site.search("rsync")[0]
        self.assertEqual(match.item, self.site.snippets.read(8))
        match = self.site.search("1.39")[0]
        self.assertEqual(match.item, self.site.posts.read("rust"))
        match = self.site.search("async", "note")[0]
        self.assertEqual(match.item, self.site.notes.read("n"))

    def test_one_list_per_family_and_no_reads(self):
        calls = []
        for name in ("quorlina_post_list_ext", "quorlina_note_list_ext", "quorlina_post_read_ext",
                     "quorlina_note_read_ext"):
            original = _native._extended[name]

            def counting(*args, _name=name, _original=original):
                calls.append(_name)
                return _original(*args)
            _native._extended[name] = counting
            self.addCleanup(_native._extended.__setitem__, name, original)
        self.site.search("await")
        self.assertEqual(calls, ["quorlina_post_list_ext", "quorlina_note_list_ext"])

    def test_arguments(self):
        with self.assertRaises(ValueError):
            self.site.search("")
        with self.assertRaises(ValueError):
            self.site.search("x", family="posts")


class Notes(SiteCase):
    def test_records_carry_the_path_and_the_body_on_request(self):
        path = self.site.notes.create("Text\n", slug="n", timestamp=86400)
        self.assertEqual(self.site.notes.list(), [quorlina.Note(datetime.date(1970, 1, 2), "n", "n", None, path)])
        self.assertEqual(self.site.notes.list(body=True),
                         [quorlina.Note(datetime.date(1970, 1, 2), "n", "n", "Text\n", path)])
        self.assertEqual(self.site.notes.read("n", body=False).content, None)
        self.assertEqual(self.site.notes.read("86400").body, "Text\n")

    def test_text_replaces_the_whole_note(self):
        path = self.site.notes.create("Text\n", slug="n", timestamp=86400)
        self.site.notes.update("n", text="+++\nslug = \"renamed\"\n+++\n\nNew\n")
        self.assertEqual(read_bytes(path), b"+++\nslug = \"renamed\"\n+++\n\nNew\n")
        self.assertEqual(self.site.notes.read("renamed").content, "New\n")
        self.assertRaisesCode(quorlina.InvalidSlugError, 10, self.site.notes.update, "renamed",
                              text="+++\nslug = \"a b\"\n+++\n")
        self.assertEqual(read_bytes(path), b"+++\nslug = \"renamed\"\n+++\n\nNew\n")


class OptionsStructs(SiteCase):
    """The ctypes structs have the header's layout and versions, and the
    binding's defaults are the INIT macros': a C program compiled against
    the header prints them."""

    # struct name: (ctypes class, export, a call that passes the defaults)
    STRUCTS = {
        "quorlina_check_options": (_native.CheckOptions, "quorlina_check", lambda s: s.check()),
        "quorlina_post_create_options": (_native.PostCreateOptions, "quorlina_post_create_ext",
                                         lambda s: s.posts.create("p", "T", "D")),
        "quorlina_post_update_options": (_native.PostUpdateOptions, "quorlina_post_update_ext",
                                         lambda s: s.posts.update("p")),
        "quorlina_record_options": (_native.RecordOptions, "quorlina_post_list_ext", lambda s: s.posts.list()),
        "quorlina_tag_options": (_native.TagOptions, "quorlina_post_rename_tag",
                                 lambda s: s.posts.rename_tag("a", "b")),
        "quorlina_note_update_options": (_native.NoteUpdateOptions, "quorlina_note_update_ext",
                                         lambda s: s.notes.update("n")),
    }

    def header_says(self):
        root = _native._source_root()
        compiler = shutil.which(os.environ.get("CC", "cc")) or shutil.which("cc")
        if root is None or compiler is None:
            self.skipTest("needs the source tree's header and a C compiler")
        lines = ["#include <stddef.h>", "#include <stdio.h>", "#include <quorlina/quorlina.h>", "int main(void) {"]
        for name, (cls, _, _) in self.STRUCTS.items():
            init = name.upper() + "_INIT"
            lines.append("{ %s o = %s;" % (name, init))
            lines.append('printf("%s size %%zu\\n", sizeof(%s));' % (name, name))
            for field, ctype in cls._fields_:
                lines.append('printf("%s %s at %%zu\\n", offsetof(%s, %s));' % (name, field, name, field))
                if ctype is ctypes.c_char_p:
                    lines.append('printf("%s %s = %%s\\n", o.%s ? "set" : "NULL");' % (name, field, field))
                else:
                    lines.append('printf("%s %s = %%d\\n", (int)o.%s);' % (name, field, field))
            lines.append("}")
        lines.append("return 0; }")
        scratch = tempfile.mkdtemp(prefix="quorlina-structs-")
        self.addCleanup(shutil.rmtree, scratch, ignore_errors=True)
        source, program = os.path.join(scratch, "layout.c"), os.path.join(scratch, "layout")
        with open(source, "w") as f:
            f.write("\n".join(lines) + "\n")
        subprocess.run([compiler, "-std=c11", "-Wall", "-Werror", "-I", os.path.join(root, "include"),
                        source, "-o", program], check=True)
        return subprocess.run([program], stdout=subprocess.PIPE, check=True).stdout.decode().splitlines()

    def passed_by_default(self, export, call):
        """The options struct a call hands to ``export``, which answers 3
        (not found) instead of running."""
        seen = []

        def capture(*args):
            options = next(a._obj for a in args if hasattr(a, "_obj") and isinstance(a._obj, ctypes.Structure))
            seen.append(type(options).from_buffer_copy(options))
            return 3
        original = _native._extended.get(export)
        _native._extended[export] = capture
        try:
            with self.assertRaises(quorlina.NotFoundError):
                call(self.site)
        finally:
            if original is None:
                del _native._extended[export]
            else:
                _native._extended[export] = original
        self.assertEqual(len(seen), 1, export)
        return seen[0]

    def test_layout_and_defaults_match_the_header(self):
        printed = self.header_says()
        expected = []
        for name, (cls, export, call) in self.STRUCTS.items():
            options = self.passed_by_default(export, call)
            expected.append("%s size %d" % (name, ctypes.sizeof(cls)))
            for field, ctype in cls._fields_:
                expected.append("%s %s at %d" % (name, field, getattr(cls, field).offset))
                value = getattr(options, field)
                if ctype is ctypes.c_char_p:
                    expected.append("%s %s = %s" % (name, field, "NULL" if value is None else "set"))
                else:
                    expected.append("%s %s = %d" % (name, field, value))
        self.assertEqual(printed, expected)


class OlderLibrary(SiteCase):
    def test_a_missing_export_fails_only_the_calls_that_need_it(self):
        original = _native._extended.pop("quorlina_check")
        self.addCleanup(_native._extended.__setitem__, "quorlina_check", original)
        err = self.assertRaisesCode(quorlina.InternalError, 100, self.site.check)
        self.assertEqual(str(err), "check: " + err.detail)
        self.assertIn("has no quorlina_check: this needs libquorlina_ffi 0.3 or later", err.detail)
        self.site.snippets.create("d", "c", "a.py", timestamp=1)
        self.assertEqual([s.id for s in self.site.snippets.list()], [1])


if __name__ == "__main__":
    unittest.main()
