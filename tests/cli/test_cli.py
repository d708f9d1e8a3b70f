"""Runs the built `quorlina` tool (QUORLINA_CLI) as a subprocess and checks
its output, its error lines and its exit statuses against the library
(called directly through ctypes)."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

from quorlina import _native

CLI = os.environ["QUORLINA_CLI"]
HEADER = os.environ.get("QUORLINA_HEADER")
EXAMPLE = os.environ["QUORLINA_EXAMPLE_SITE"]
# What a failure that one file causes adds to its error line.
HINT = " (run 'quorlina check' to list every file that fails)"


def child_env():
    env = dict(os.environ)
    # The interpreter may run with a preloaded sanitizer runtime; the tool
    # is an instrumented program of its own and gets the defaults.
    if env.pop("QUORLINA_TEST_PRELOADED", None):
        env.pop("LD_PRELOAD", None)
        env.pop("ASAN_OPTIONS", None)
    return env


def run(*args, stdin=b"", cwd=None):
    args = [a if isinstance(a, bytes) else str(a).encode() for a in args]
    return subprocess.run([CLI.encode()] + args, input=stdin, cwd=cwd, env=child_env(),
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)


def library_text(fn, root, *args):
    """The text an export hands back, byte for byte, and its code."""
    code, data = _native.call_text(fn, os.fsencode(root), *args)
    return code, data


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def _fish_quoted(text):
    return "'" + text.replace("\\", "\\\\").replace("'", "\\'") + "'"


def _zsh_quoted(text):
    return "'" + text.replace("'", "'\\''") + "'"


def parse_table(text):
    """Splits an aligned table at the header's column starts."""
    lines = text.split("\n")
    assert lines[-1] == "", "table does not end with a line feed"
    header = lines[0]
    starts = [m.start() for m in re.finditer(r"\S+", header)]
    names = header.split()
    rows = []
    for line in lines[1:-1]:
        cells = [line[a:b].rstrip() if b else line[a:]
                 for a, b in zip(starts, starts[1:] + [None])]
        rows.append(dict(zip(names, cells)))
    return names, rows


class CliCase(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="quorlina-cli-")
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        # A site root has a content/ directory; the tool refuses any other.
        os.mkdir(os.path.join(self.root, "content"))

    def cli(self, *args, stdin=b"", cwd=None):
        """Runs the tool on the temporary site; expects success."""
        r = run("--root", self.root, *args, stdin=stdin, cwd=cwd)
        self.assertEqual((r.returncode, r.stderr), (0, b""), args)
        return r.stdout.decode("utf-8", "surrogateescape")

    def assertFails(self, status, line, *args, stdin=b"", root=None):
        """Runs the tool and expects exit `status`, no standard output and
        exactly one error line; `line` is a regex for its text after
        "quorlina: ", or the exact text when it is a plain str."""
        r = run("--root", self.root if root is None else root, *args, stdin=stdin)
        err = r.stderr.decode("utf-8", "replace")
        self.assertEqual(r.returncode, status, (args, err))
        self.assertEqual(r.stdout, b"", args)
        self.assertTrue(err.startswith("quorlina: ") and err.endswith("\n") and err.count("\n") == 1, err)
        text = err[len("quorlina: "):-1]
        if isinstance(line, re.Pattern):
            self.assertRegex(text, line)
        else:
            self.assertEqual(text, line)
        return text

    def path(self, *parts):
        return os.path.join(self.root, *parts)


class Basics(CliCase):
    def test_version_comes_from_the_header(self):
        r = run("--version")
        self.assertEqual(r.returncode, 0)
        if HEADER:
            with open(HEADER) as f:
                version = re.search(r'#define QUORLINA_VERSION "([^"]+)"', f.read()).group(1)
            self.assertEqual(r.stdout, ("quorlina %s\n" % version).encode())
        else:
            self.assertRegex(r.stdout.decode(), r"^quorlina \d+\.\d+\.\d+\n$")

    def test_help_for_the_tool_and_every_subcommand(self):
        r = run("--help")
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        for word in (b"snippet", b"post", b"note", b"--root", b"--format", b"--json", b"--version"):
            self.assertIn(word, r.stdout)
        expected = {
            ("snippet", "create"): ["--timestamp", "--description", "--filename", "--code", "--code-file"],
            ("snippet", "update"): ["TIMESTAMP", "--description", "--filename", "--code-file"],
            ("post", "create"): ["SLUG", "--title", "--description", "--tags", "--date"],
            ("post", "update"): ["--title", "--description", "--tags", "--add-tags", "--remove-tags"],
            ("note", "create"): ["--timestamp", "--slug", "--content", "--content-file"],
            ("note", "update"): ["ID", "--slug", "--clear-slug", "--content-file"],
        }
        for family in ("snippet", "post", "note"):
            r = run(family, "--help")
            self.assertEqual(r.returncode, 0)
            for verb in ("list", "read", "create", "update", "delete"):
                self.assertIn(verb.encode(), r.stdout)
                sub = run(family, verb, "--help")
                self.assertEqual((sub.returncode, sub.stderr), (0, b""), (family, verb))
                for word in expected.get((family, verb), []):
                    self.assertIn(word.encode(), sub.stdout, (family, verb))

    def test_usage_errors_exit_64(self):
        self.assertFails(64, re.compile("subcommand is required"))
        self.assertFails(64, re.compile("subcommand is required"), "post")
        self.assertFails(64, "unknown command 'paste list' (did you mean 'post list'?)", "paste", "list")
        self.assertFails(64, re.compile("xml"), "--format", "xml", "post", "list")
        self.assertFails(64, re.compile("excludes"), "--format", "table", "--json", "post", "list")
        self.assertFails(64, re.compile("--title"), "post", "create", "slug", "-d", "D")
        self.assertFails(64, re.compile("SLUG"), "post", "read")
        self.assertFails(64, re.compile("excludes"), "snippet", "create", "-d", "D", "-f", "a.py",
                         "--code", "x", "--code-file", "-")
        self.assertFails(64, "snippet create needs --code or --code-file", "snippet", "create",
                         "-d", "D", "-f", "a.py")
        self.assertFails(64, re.compile("not expected"), "post", "read", "a", "b")
        self.assertEqual(os.listdir(self.path("content")), [])


class ExampleSite(CliCase):
    """Read-only commands on the shipped example site."""

    def setUp(self):
        super().setUp()
        self.root = EXAMPLE

    def test_json_output_is_the_library_text(self):
        lib = _native.lib
        # Posts are listed with their full records, which say which are drafts.
        for family, fn, extra in (("snippet", lib.quorlina_snippet_list, ()), ("post", lib.quorlina_post_list_ext, (None,)),
                                  ("note", lib.quorlina_note_list, ())):
            code, text = library_text(fn, EXAMPLE, *extra)
            self.assertEqual(code, 0)
            self.assertEqual(run("--root", EXAMPLE, family, "list", "--json").stdout, text + b"\n")
            self.assertEqual(run("--root", EXAMPLE, "--format", "json", family, "list").stdout, text + b"\n")
            # Global options may follow the subcommand.
            self.assertEqual(run(family, "list", "--root", EXAMPLE, "--json").stdout, text + b"\n")
        for family, key, fn, arg in (
                ("snippet", "1710000000", lib.quorlina_snippet_read, 1710000000),
                ("post", "notes-on-notes", lib.quorlina_post_read, b"notes-on-notes"),
                ("note", "reading-list", lib.quorlina_note_read, b"reading-list"),
                ("note", "1700003600", lib.quorlina_note_read, b"1700003600")):
            code, text = library_text(fn, EXAMPLE, arg)
            self.assertEqual(code, 0)
            if family == "snippet":
                # The code as it was written: without the break of the empty
                # line after the front matter.
                self.assertIn(b'"code":"\\n', text)
                text = text.replace(b'"code":"\\n', b'"code":"', 1)
            self.assertEqual(run("--root", EXAMPLE, family, "read", key, "--format", "json").stdout,
                             text + b"\n")

    def test_tables_have_a_fixed_header_and_a_row_per_item(self):
        lib = _native.lib
        import json
        for family, fn, header in (
                ("snippet", lib.quorlina_snippet_list, ["ID", "DATE", "FILENAME", "DESCRIPTION"]),
                ("post", lib.quorlina_post_list_ext, ["DATE", "SLUG", "TAGS", "TITLE"]),
                ("note", lib.quorlina_note_list, ["DATE", "ID", "SLUG"])):
            items = json.loads(library_text(fn, EXAMPLE, *((None,) if family == "post" else ()))[1])
            names, rows = parse_table(self.cli(family, "list"))
            self.assertEqual(names, header)
            self.assertEqual(len(rows), len(items))
            for row, item in zip(rows, items):
                for name in names:
                    value = item[name.lower()]
                    if isinstance(value, list):
                        value = ",".join(value) or "-"
                    elif value is None:
                        value = "-"
                    self.assertEqual(row[name], value, (family, name))

    def test_post_list_table_exactly(self):
        self.assertEqual(self.cli("post", "list"), (
            "DATE        SLUG            TAGS              TITLE\n"
            "2024-08-30  summer-break    -                 Summer break\n"
            "2024-06-02  notes-on-notes  meta,writing      Notes on \"notes\"\n"
            "2024-03-09  rust-file-io    rust,programming  Reading files in Rust\n"
            "2024-03-09  tag-queries     sql,programming   Counting tags with SQL\n"
            "2024-01-20  rsync-backups   ops,shell         Backing up a static site with rsync\n"
            "2023-11-14  hello-world     meta              Hello, world\n"))

    def test_read_shows_fields_then_body(self):
        self.assertEqual(self.cli("note", "read", "reading-list"), (
            "date: 2024-03-01\n"
            "id:   reading-list\n"
            "slug: reading-list\n"
            "\n"
            "- \"The Pragmatic Programmer\"\n"
            "- \"A Philosophy of Software Design\"\n"
            "- the rsync manual page\n"))
        out = self.cli("post", "read", "notes-on-notes")
        self.assertTrue(out.startswith(
            "date:        2024-06-02\n"
            "slug:        notes-on-notes\n"
            "title:       Notes on \"notes\"\n"
            "description: How the notes section works\n"
            "tags:        meta, writing\n"
            "\n"
            "Notes are short and dated."), out)
        out = self.cli("note", "read", "1700003600")
        self.assertIn("slug: -\n\nStarted the site today.", out)

    def test_default_root_is_the_current_directory(self):
        r = run("post", "list", "--json", cwd=EXAMPLE)
        # The records' paths are as the library writes them for the root "".
        here = os.getcwd()
        os.chdir(EXAMPLE)
        try:
            text = library_text(_native.lib.quorlina_post_list_ext, "", None)[1]
        finally:
            os.chdir(here)
        self.assertIn(b'"path":"content/blog/', text)
        self.assertEqual(r.stdout, text + b"\n")


class SnippetCommands(CliCase):
    def test_create_from_option_file_and_stdin(self):
        out = self.cli("snippet", "create", "-t", "1700000000", "-d", "Sort a list", "-f", "sort.py",
                       "--code", "x = 1")
        path = self.path("content", "snippets", "1700000000.py")
        self.assertEqual(out, path + "\n")
        self.assertEqual(read_bytes(path), b'+++\ndescription = "Sort a list"\nfilename = "sort.py"\n+++\n\nx = 1')

        code_file = self.path("code.sh")
        with open(code_file, "wb") as f:
            f.write(b"echo 'hi'\n")
        self.cli("snippet", "create", "--timestamp", "5", "--description", "Greet", "--filename", "hi.sh",
                 "--code-file", code_file)
        self.assertTrue(read_bytes(self.path("content", "snippets", "5.sh")).endswith(b"\n\necho 'hi'\n"))

        self.cli("snippet", "create", "-t", "6", "-d", "From stdin", "-f", "s.rb", "--code-file", "-",
                 stdin=b"puts 1\n\xff\n")
        self.assertTrue(read_bytes(self.path("content", "snippets", "6.rb")).endswith(b"\n\nputs 1\n\xff\n"))

    def test_code_read_then_written_back_leaves_the_file_alone(self):
        import json
        snippets = self.path("content", "snippets")
        os.makedirs(snippets)
        with open(os.path.join(snippets, "7.py"), "wb") as f:
            f.write(b'+++\ndescription = "Hand"\nfilename = "a.py"\n+++\n\n\nafter an empty line\n')
        self.cli("snippet", "create", "-t", "8", "-d", "Made", "-f", "b.py", "--code", "x = 1\n")
        for ts in ("7", "8"):
            path = os.path.join(snippets, ts + ".py")
            before = read_bytes(path)
            code = json.loads(self.cli("snippet", "read", ts, "--json"))["code"]
            self.cli("snippet", "update", ts, "--code-file", "-", stdin=code.encode())
            self.assertEqual(read_bytes(path), before, ts)

    def test_default_timestamp_is_now(self):
        import time
        before = int(time.time())
        out = self.cli("snippet", "create", "-d", "Now", "-f", "n.py", "--code", "")
        stem = int(os.path.basename(out.strip()).split(".")[0])
        self.assertTrue(before <= stem <= int(time.time()) + 1)

    def test_read_update_delete(self):
        self.cli("snippet", "create", "-t", "1700000000", "-d", "Sort a list", "-f", "sort.py", "--code", "x = 1")
        self.assertEqual(self.cli("snippet", "read", "1700000000"),
                         "id:          1700000000\n"
                         "date:        2023-11-14\n"
                         "filename:    sort.py\n"
                         "description: Sort a list\n"
                         "\nx = 1\n")
        self.assertEqual(self.library_code(1700000000), "\nx = 1")
        self.assertEqual(self.cli("snippet", "update", "1700000000", "-f", "sort.rb"), "")
        self.assertEqual(os.listdir(self.path("content", "snippets")), ["1700000000.rb"])
        self.cli("snippet", "update", "1700000000", "--code-file", "-", "-d", "Ruby", stdin=b"p 1")
        code, text = library_text(_native.lib.quorlina_snippet_read, self.root, 1700000000)
        self.assertIn(b'"description":"Ruby","filename":"sort.rb","code":"\\np 1"}', text)
        self.assertEqual(self.cli("snippet", "read", "1700000000", "--json"),
                         text.decode().replace('"code":"\\n', '"code":"') + "\n")
        self.assertEqual(self.cli("snippet", "delete", "1700000000"), "")
        self.assertFails(3, "no snippet with timestamp 1700000000", "snippet", "delete", "1700000000")
        self.assertFails(3, "no snippet with timestamp 1700000000", "snippet", "read", "1700000000")
        self.assertFails(3, "no snippet with timestamp 1700000000", "snippet", "update", "1700000000", "-d", "x")
        # A negative number is a timestamp, not an option.
        self.assertFails(3, "no snippet with timestamp -5", "snippet", "read", "-5")

    def library_code(self, ts):
        import json
        return json.loads(library_text(_native.lib.quorlina_snippet_read, self.root, ts)[1])["code"]

    def test_failures_exit_with_the_result_code(self):
        create = ("snippet", "create", "-t", "1")
        self.assertFails(1, "snippet -1: invalid timestamp (it must not be negative)",
                         "snippet", "create", "-t", "-1", "-d", "D", "-f", "a.py", "--code", "")
        self.assertFails(1, "invalid timestamp '0x10' (expected Unix seconds)", "snippet", "read", "0x10")
        for bad in ("99999999999999999999", "9223372036854775808", "-", "", "1e9", " 5", "+5"):
            self.assertFails(1, "invalid timestamp '%s' (expected Unix seconds)" % bad, "snippet", "read", bad)
        self.assertFails(3, "no snippet with timestamp -9223372036854775808", "snippet", "read",
                         "-9223372036854775808")
        self.assertFails(4, re.compile("^snippet 1: invalid file name extension"), *create,
                         "-d", "D", "-f", "Makefile", "--code", "")
        self.assertFails(5, re.compile("^snippet 1: invalid description"), *create,
                         "-d", 'say "hi"', "-f", "a.py", "--code", "")
        self.assertFails(6, re.compile("^snippet 1: invalid file name "), *create,
                         "-d", "D", "-f", "a/b.py", "--code", "")
        self.cli(*create, "-d", "D", "-f", "a.py", "--code", "")
        self.assertFails(2, "a snippet with timestamp 1 already exists", *create,
                         "-d", "D", "-f", "b.md", "--code", "")
        self.assertFails(65, "standard input holds a NUL byte, which the library cannot store",
                         "snippet", "create", "-t", "2", "-d", "D", "-f", "a.py", "--code-file", "-",
                         stdin=b"a\0b")
        self.assertFails(66, re.compile("^cannot read '.*/missing': No such file"),
                         "snippet", "create", "-t", "2", "-d", "D", "-f", "a.py", "--code-file",
                         self.path("missing"))
        self.assertEqual(os.listdir(self.path("content", "snippets")), ["1.py"])

    def test_file_system_and_internal_failures(self):
        with open(self.path("content", "snippets"), "w"):
            pass
        self.assertFails(8, re.compile("^snippets: .*/content/snippets: Not a directory$"), "snippet", "list")
        # A site whose paths are too long for the library.
        deep = os.path.join(self.root, *["x" * 200] * 6)
        os.makedirs(os.path.join(deep, "content"))
        self.assertFails(100, re.compile("^snippets: internal error"), "snippet", "list", root=deep)

    def test_control_bytes_never_break_the_table(self):
        # The library refuses such bytes, so the file is written by hand.
        os.makedirs(self.path("content", "snippets"))
        with open(self.path("content", "snippets", "7.py"), "wb") as f:
            f.write(b'+++\ndescription = "tab\there\x01"\nfilename = "a.py"\n+++\n\nx')
        names, rows = parse_table(self.cli("snippet", "list"))
        self.assertEqual(rows, [{"ID": "7", "DATE": "1970-01-01", "FILENAME": "a.py",
                                 "DESCRIPTION": "tab\\there\\x01"}])


class PostCommands(CliCase):
    def test_create_list_read(self):
        out = self.cli("post", "create", "hello", "--title", "Héllo", "-d", "First post",
                       "--tags", "a, b", "--date", "2024-03-09")
        path = self.path("content", "blog", "2024", "03", "09", "hello.md")
        self.assertEqual(out, path + "\n")
        self.assertEqual(read_bytes(path),
                         '+++\ntitle = "Héllo"\ndescription = "First post"\ndate = 2024-03-09\ntags = ["a", "b"]\n+++\n\n'.encode())
        self.cli("post", "create", "second-one", "--title", "Second", "-d", "D", "--date", "2024-03-10")
        # Columns align by characters, not bytes.
        self.assertEqual(self.cli("post", "list"),
                         "DATE        SLUG        TAGS  TITLE\n"
                         "2024-03-10  second-one  -     Second\n"
                         "2024-03-09  hello       a,b   Héllo\n")
        self.assertEqual(self.cli("post", "read", "hello"),
                         "date:        2024-03-09\n"
                         "slug:        hello\n"
                         "title:       Héllo\n"
                         "description: First post\n"
                         "tags:        a, b\n")
        for args, fn, extra in ((("post", "list"), _native.lib.quorlina_post_list_ext, (None,)),
                                (("post", "read", "hello"), _native.lib.quorlina_post_read, (b"hello",))):
            self.assertEqual(self.cli(*args, "--json"),
                             library_text(fn, self.root, *extra)[1].decode() + "\n")

    def test_update_and_delete(self):
        self.cli("post", "create", "p", "--title", "T", "-d", "D", "--tags", "travel,notes", "--date", "2024-03-09")
        self.assertEqual(self.cli("post", "update", "p", "--add-tags", "travel,food", "--remove-tags", "notes"), "")
        self.assertIn("tags:        travel, food\n", self.cli("post", "read", "p"))
        self.cli("post", "update", "p", "--title", "New", "--description", "Desc", "--tags", "")
        self.assertEqual(self.cli("post", "read", "p"),
                         "date:        2024-03-09\nslug:        p\ntitle:       New\n"
                         "description: Desc\ntags:        -\n")
        self.assertFails(14, "post 'p': nothing to update", "post", "update", "p")
        self.assertEqual(self.cli("post", "delete", "p"), "")
        self.assertFalse(os.path.exists(self.path("content", "blog", "2024")))
        self.assertFails(3, "no post with slug 'p'", "post", "delete", "p")

    def test_failures_exit_with_the_result_code(self):
        self.assertFails(10, re.compile(r"^post 'a b': invalid slug"), "post", "create", "a b",
                         "--title", "T", "-d", "D")
        self.assertFails(7, re.compile(r"^post 'a': invalid content"), "post", "create", "a",
                         "--title", "", "-d", "D")
        self.assertFails(11, re.compile(r"^post 'a': invalid date"), "post", "create", "a",
                         "--title", "T", "-d", "D", "--date", "2023-02-29")
        self.cli("post", "create", "a", "--title", "T", "-d", "D", "--date", "2024-01-01")
        self.assertFails(2, "a post with slug 'a' already exists on that date", "post", "create", "a",
                         "--title", "T", "-d", "D", "--date", "2024-01-01")
        # A slug that is also a subcommand name is still a slug.
        self.assertFails(3, "no post with slug 'list'", "post", "read", "list")
        # Item names stay on one line.
        self.assertFails(3, "no post with slug 'a\\nb'", "post", "read", "a\nb")

    def test_a_broken_post_fails_every_listing_without_output(self):
        self.cli("post", "create", "good", "--title", "T", "-d", "D", "--date", "2024-01-01")
        os.makedirs(self.path("content", "blog", "2024", "01", "02"))
        with open(self.path("content", "blog", "2024", "01", "02", "bad.md"), "w") as f:
            f.write("+++\ndescription = \"no title\"\n+++\n")
        # The line names the broken file, wherever the call started.
        bad = self.path("content", "blog", "2024", "01", "02", "bad.md")
        self.assertFails(7, "posts: %s: title is missing%s" % (bad, HINT), "post", "list")
        self.assertFails(7, "post 'good': %s: title is missing%s" % (bad, HINT), "post", "read", "good")


class NoteCommands(CliCase):
    def test_create_read_update_delete(self):
        out = self.cli("note", "create", "-t", "1733570000", "--slug", "hello-world", "--content-file", "-",
                       stdin=b'First line.\nSecond "quoted".')
        path = self.path("content", "notes", "1733570000.md")
        self.assertEqual(out, path + "\n")
        self.assertEqual(read_bytes(path), b'+++\nslug = "hello-world"\n+++\n\nFirst line.\nSecond "quoted".')
        self.cli("note", "create", "--timestamp", "1700000000", "--content", "Plain note")
        self.assertEqual(self.cli("note", "list"),
                         "DATE        ID           SLUG\n"
                         "2024-12-07  hello-world  hello-world\n"
                         "2023-11-14  1700000000   -\n")
        code, text = library_text(_native.lib.quorlina_note_list, self.root)
        self.assertEqual(self.cli("note", "list", "--json"), text.decode() + "\n")
        expected = ("date: 2024-12-07\nid:   hello-world\nslug: hello-world\n\n"
                    "First line.\nSecond \"quoted\".\n")
        self.assertEqual(self.cli("note", "read", "hello-world"), expected)
        self.assertEqual(self.cli("note", "read", "1733570000"), expected)

        self.assertEqual(self.cli("note", "update", "hello-world", "--clear-slug"), "")
        self.assertEqual(read_bytes(path), b'First line.\nSecond "quoted".')
        self.cli("note", "update", "1733570000", "--slug", "again", "--content", "New")
        self.assertEqual(read_bytes(path), b'+++\nslug = "again"\n+++\n\nNew')
        self.assertEqual(self.cli("note", "delete", "again"), "")
        self.assertFails(3, "no note with id 'again'", "note", "read", "again")

    def test_default_timestamp_is_now(self):
        import time
        before = int(time.time())
        out = self.cli("note", "create")
        self.assertRegex(os.path.basename(out), r"^\d+\.md\n$")
        stem = os.path.basename(out)[:-len(".md\n")]
        self.assertTrue(before <= int(stem) <= int(time.time()) + 1)
        self.assertFails(2, "a note with timestamp %s already exists" % stem, "note", "create", "-t", stem)

    def test_failures_exit_with_the_result_code(self):
        self.assertFails(1, "note -5: invalid timestamp (it must not be negative)",
                         "note", "create", "-t", "-5")
        self.assertFails(10, re.compile("^new note: invalid slug"), "note", "create", "--slug", "a/b")
        self.cli("note", "create", "-t", "1", "--content", "x")
        self.assertFails(2, "a note with timestamp 1 already exists", "note", "create", "-t", "1")
        self.assertFails(14, "note '1': nothing to update", "note", "update", "1")
        self.assertFails(64, re.compile("--slug excludes --clear-slug"), "note", "update", "1",
                         "--slug", "x", "--clear-slug")
        self.assertFails(3, "no note with id 'nope'", "note", "delete", "nope")
        with open(self.path("content", "notes", "todo.md"), "w") as f:
            f.write("x")
        r = run("--root", self.root, "note", "list")
        self.assertEqual((r.returncode, r.stdout), (1, b""))
        # The library's own warning line, then the tool's error line.
        self.assertEqual(r.stderr.decode().splitlines()[-1],
                         "quorlina: notes: %s: the file name is not a timestamp%s" % (self.path("content", "notes", "todo.md"), HINT))


class SiteDiscovery(CliCase):
    def test_a_root_that_is_not_a_site_is_refused(self):
        empty = tempfile.mkdtemp(prefix="quorlina-nosite-")
        self.addCleanup(shutil.rmtree, empty, ignore_errors=True)
        for root in ("/nonexistent", empty):
            self.assertFails(66, "'%s' is not a site: it has no content/ directory and none of hugo.toml, "
                             "config.toml, hugo.yaml, config.yaml (run 'quorlina init' to make one)" % root,
                             "post", "create", "x", "--title", "T", "-d", "D", root=root)
        # Without --root: nothing at or above the current directory.
        r = run("post", "list", cwd=empty)
        self.assertEqual((r.returncode, r.stdout), (66, b""))
        self.assertRegex(r.stderr.decode(), r"^quorlina: no site found: neither '.*' nor a directory above it")
        self.assertEqual(os.listdir(empty), [])

    def test_the_nearest_site_above_the_current_directory(self):
        self.cli("post", "create", "p", "--title", "T", "-d", "D", "--date", "2024-03-09")
        inside = self.path("content", "blog", "2024")
        r = run("--json", "note", "create", "-t", "5", cwd=inside)
        self.assertEqual(r.stdout, b'{"path":"../../../content/notes/5.md","id":"5"}\n')
        self.assertTrue(os.path.isfile(self.path("content", "notes", "5.md")))
        # A configuration file marks a site as well as content/ does.
        other = os.path.join(self.root, "other")
        os.makedirs(os.path.join(other, "sub"))
        open(os.path.join(other, "hugo.toml"), "w").close()
        r = run("post", "list", "--json", cwd=os.path.join(other, "sub"))
        self.assertEqual((r.returncode, r.stdout), (0, b"[]\n"))

    def test_init_makes_the_skeleton(self):
        target = os.path.join(self.root, "new", "site")
        r = run("init", target)
        self.assertEqual((r.returncode, r.stdout, r.stderr), (0, (target + "\n").encode(), b""))
        self.assertEqual(sorted(os.listdir(os.path.join(target, "content"))), ["blog", "notes", "snippets"])
        # Again, through --root and as JSON: existing directories are kept.
        r = run("--root", target, "--json", "init")
        self.assertEqual(r.stdout, ('{"path":"%s"}\n' % target).encode())
        with open(os.path.join(self.root, "file"), "w"):
            pass
        self.assertFails(73, re.compile(r"^cannot create '.*/file/content/snippets': Not a directory$"),
                         "init", os.path.join(self.root, "file"))


class ListFilters(CliCase):
    def setUp(self):
        super().setUp()
        for slug, date, tags in (("a", "2024-03-01", "rust,web"), ("b", "2024-02-01", "rust"),
                                 ("c", "2024-01-01", "web,rust"), ("d", "2023-12-31", "")):
            self.cli("post", "create", slug, "--title", "T " + slug, "-d", "D", "--tags", tags, "--date", date)
        for ts in (86400 * 19723, 86400 * 19753, 86400 * 19783):  # 2024-01-01, -01-31, -03-01
            self.cli("note", "create", "-t", ts)
            self.cli("snippet", "create", "-t", ts, "-d", "D", "-f", "a.py", "--code", "")

    def slugs(self, *args):
        import json
        return [item.get("slug") or item["id"] for item in json.loads(self.cli(*args, "--json"))]

    def test_filters_keep_matching_items_in_order(self):
        cases = [
            (("post", "list"), ["a", "b", "c", "d"]),
            (("post", "list", "--tag", "rust"), ["a", "b", "c"]),
            (("post", "list", "--tag", "rust", "--tag", "web"), ["a", "c"]),
            (("post", "list", "--tag", "Rust"), []),
            (("post", "list", "--since", "2024-01-01"), ["a", "b", "c"]),
            (("post", "list", "--until", "2024-02-01"), ["b", "c", "d"]),
            (("post", "list", "--since", "2024-01-01", "--until", "2024-02-01", "--tag", "web"), ["c"]),
            (("post", "list", "--tag", "rust", "--limit", "2"), ["a", "b"]),
            (("post", "list", "--limit", "0"), []),
            (("note", "list", "--since", "2024-01-31"), ["1709251200", "1706659200"]),
            (("note", "list", "--until", "2024-01-31", "--limit", "1"), ["1706659200"]),
            (("snippet", "list", "--since", "2024-01-01", "--until", "2024-01-01"), ["1704067200"]),
        ]
        for args, expected in cases:
            self.assertEqual(self.slugs(*args), expected, args)

    def test_json_keeps_the_library_bytes(self):
        self.assertEqual(self.cli("post", "list", "--tag", "web", "--until", "2024-01-01", "--json"),
                         '[{"date":"2024-01-01","slug":"c","title":"T c","description":"D","tags":["web","rust"],'
                         '"path":"%s","draft":false,"date_key":"2024-01-01"}]\n'
                         % self.path("content", "blog", "2024", "01", "01", "c.md"))
        code, text = library_text(_native.lib.quorlina_post_list_ext, self.root, None)
        self.assertEqual(self.cli("post", "list", "--limit", "9", "--json"), text.decode() + "\n")

    def test_tables_are_filtered_too(self):
        self.assertEqual(self.cli("post", "list", "--tag", "web"),
                         "DATE        SLUG  TAGS      TITLE\n"
                         "2024-03-01  a     rust,web  T a\n"
                         "2024-01-01  c     web,rust  T c\n")

    def test_bad_filter_values(self):
        self.assertFails(11, "invalid date '2024-02-30' for --since (expected YYYY-MM-DD)",
                         "post", "list", "--since", "2024-02-30")
        self.assertFails(11, "invalid date '24-1-1' for --until (expected YYYY-MM-DD)",
                         "note", "list", "--until", "24-1-1")
        self.assertFails(64, "invalid --limit '-1' (expected a whole number, 0 or more)",
                         "snippet", "list", "--limit", "-1")
        self.assertFails(64, re.compile("^unknown option '--tag' for 'quorlina note list'"),
                         "note", "list", "--tag", "x")


class JsonFromEveryVerb(CliCase):
    def test_create_update_delete(self):
        cases = [
            (("post", "create", "p", "--title", "T", "-d", "D", "--date", "2024-03-09"),
             '{"path":"%s/content/blog/2024/03/09/p.md","slug":"p"}'),
            (("post", "update", "p", "--title", "U"), '{"ok":true}'),
            (("post", "delete", "p"), '{"ok":true}'),
            (("snippet", "create", "-t", "7", "-d", "D", "-f", "a.py", "--code", ""),
             '{"path":"%s/content/snippets/7.py","id":"7"}'),
            (("snippet", "update", "7", "-d", "E"), '{"ok":true}'),
            (("note", "create", "-t", "9", "--slug", "todo"), '{"path":"%s/content/notes/9.md","id":"todo"}'),
            (("note", "create", "-t", "10"), '{"path":"%s/content/notes/10.md","id":"10"}'),
            (("note", "delete", "todo"), '{"ok":true}'),
        ]
        for args, expected in cases:
            self.assertEqual(self.cli("--json", *args), (expected.replace("%s", self.root)) + "\n", args)
        # Failures are still one line on standard error.
        self.assertFails(3, "no note with id 'todo'", "--json", "note", "delete", "todo")


class Mistakes(CliCase):
    def test_unknown_words_get_the_nearest_valid_one(self):
        cases = [
            (("pots", "list"), "unknown command 'pots list' (did you mean 'post list'?)"),
            (("post", "lsit"), "unknown command 'post lsit' (did you mean 'post list'?)"),
            (("ntoe", "creat", "--slug", "x"), "unknown command 'ntoe creat' (did you mean 'note create'?)"),
            (("post", "frob"), "unknown command 'post frob' (expected one of: list, read, create, update, delete, publish, edit)"),
            (("post", "list", "--tagg", "x"), "unknown option '--tagg' for 'quorlina post list' (did you mean '--tag'?)"),
            (("--rot", "x", "post", "list"), "unknown option '--rot' for 'quorlina' (did you mean '--root'?)"),
            (("help", "snipet"), "unknown command 'snipet' (did you mean 'snippet'?)"),
            (("post",), "a subcommand is required after 'quorlina post': list, read, create, update, delete, publish, edit"),
        ]
        for args, line in cases:
            self.assertFails(64, line, *args)

    def test_help_verb_matches_the_help_option(self):
        for words in ((), ("post",), ("post", "list"), ("note", "update")):
            by_verb = run("help", *words)
            by_option = run(*words, "--help")
            self.assertEqual((by_verb.returncode, by_verb.stderr), (0, b""), words)
            self.assertEqual(by_verb.stdout, by_option.stdout, words)
        self.assertIn(b"--tag TAG", run("help", "post", "list").stdout)


class Tags(CliCase):
    def setUp(self):
        super().setUp()
        # Hand-written posts too: a tag given twice in one post counts once.
        for slug, date, tags in (("a", "2024-03-01", "rust,web"), ("b", "2024-02-01", "rust"),
                                 ("c", "2024-01-01", "web,rust,zig"), ("d", "2023-12-31", ""),
                                 ("e", "2023-12-30", "ada")):
            self.cli("post", "create", slug, "--title", "T " + slug, "-d", "D", "--tags", tags, "--date", date)
        os.makedirs(self.path("content", "blog", "2023", "01", "01"))
        with open(self.path("content", "blog", "2023", "01", "01", "hugo.md"), "w") as f:
            f.write('+++\ntitle = "Hugo"\ndescription = ""\ntags = [\n  "zig",\n  "zig",  # twice\n]\n+++\nBody\n')

    def test_list_counts_most_used_first_then_by_name(self):
        self.assertEqual(self.cli("tag", "list"),
                         "POSTS  TAG\n"
                         "3      rust\n"
                         "2      web\n"
                         "2      zig\n"
                         "1      ada\n")
        self.assertEqual(self.cli("tag", "list", "--json"),
                         '[{"tag":"rust","posts":3},{"tag":"web","posts":2},{"tag":"zig","posts":2},'
                         '{"tag":"ada","posts":1}]\n')

    def test_an_empty_site_has_no_tags(self):
        empty = tempfile.mkdtemp(prefix="quorlina-cli-")
        self.addCleanup(shutil.rmtree, empty, ignore_errors=True)
        os.mkdir(os.path.join(empty, "content"))
        r = run("--root", empty, "tag", "list")
        self.assertEqual((r.returncode, r.stdout, r.stderr), (0, b"POSTS  TAG\n", b""))
        r = run("--root", empty, "--json", "tag", "list")
        self.assertEqual((r.returncode, r.stdout, r.stderr), (0, b"[]\n", b""))

    def test_a_comma_in_tag_is_refused(self):
        for value in ("rust, release", "rust,", ","):
            self.assertFails(64, "each --tag takes one tag, not a list: '%s' holds a comma "
                                 "(repeat --tag for each tag)" % value, "post", "list", "--tag", value)
        self.assertFails(64, re.compile("holds a comma"), "post", "list", "--tag", "rust", "--tag", "a,b")


class Check(CliCase):
    def write(self, rel, text):
        path = self.path(*rel.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(text)
        return path

    def test_a_clean_site_passes(self):
        self.cli("post", "create", "p", "--title", "T", "-d", "D", "--date", "2024-01-01")
        r = run("--root", self.root, "check")
        self.assertEqual((r.returncode, r.stdout, r.stderr), (0, b"", b""))
        self.assertEqual(self.cli("check", "--json"), "[]\n")

    def test_every_failing_file_with_its_reason(self):
        self.cli("post", "create", "good", "--title", "T", "-d", "D", "--date", "2024-01-01")
        no_desc = self.write("content/blog/2024/01/02/no-desc.md", b'+++\ntitle = "T"\n+++\n')
        no_title = self.write("content/blog/2024/01/03/no-title.md", b'+++\ndescription = "D"\n+++\n')
        bad_note = self.write("content/notes/todo.md", b"x")
        bad_snippet = self.write("content/snippets/7.py", b'+++\nfilename = "a.py"\n+++\n\nx')
        before = {p: read_bytes(p) for p in (no_desc, no_title, bad_note, bad_snippet)}
        r = run("--root", self.root, "check")
        lines = r.stdout.decode().splitlines()
        self.assertEqual(sorted(lines), sorted([
            "%s: description is missing" % no_desc,
            "%s: title is missing" % no_title,
            "%s: the file name is not a timestamp" % bad_note,
            "%s: description is missing" % bad_snippet,
        ]), r.stdout)
        # Snippets first, then posts, then notes.
        self.assertEqual(lines[0].split(":")[0], bad_snippet)
        self.assertEqual(lines[-1].split(":")[0], bad_note)
        self.assertEqual(r.stderr, b"quorlina: 4 files fail the check\n")
        self.assertNotEqual(r.returncode, 0)
        r = run("--root", self.root, "check", "post")
        self.assertEqual(sorted(r.stdout.decode().splitlines()), sorted([
            "%s: description is missing" % no_desc, "%s: title is missing" % no_title]))
        self.assertEqual((r.returncode, r.stderr), (7, b"quorlina: 2 files fail the check\n"))
        r = run("--root", self.root, "check", "note")
        self.assertEqual((r.returncode, r.stdout), (1, ("%s: the file name is not a timestamp\n" % bad_note).encode()))
        # JSON is the library's text.
        import ctypes

        options = _native.CheckOptions(_native.CheckOptions.VERSION, b"post")
        code, text = library_text(_native.lib.quorlina_check, self.root, ctypes.byref(options))
        self.assertEqual(code, 0)
        r = run("--root", self.root, "--json", "check", "post")
        self.assertEqual((r.returncode, r.stdout), (7, text + b"\n"))
        # Nothing was changed by looking.
        self.assertEqual({p: read_bytes(p) for p in before}, before)
        self.assertFails(64, re.compile("FAMILY: blog not in"), "check", "blog")


class PostWriting(CliCase):
    def test_create_with_content_from_each_source(self):
        body_file = self.path("body.md")
        with open(body_file, "wb") as f:
            f.write(b"From a file.\n")
        cases = [
            ("inline", ("--content", "Inline *text*.\n"), b"", b"Inline *text*.\n"),
            ("file", ("--content-file", body_file), b"", b"From a file.\n"),
            ("stdin", ("--content-file", "-"), b"From stdin.", b"From stdin."),
            ("dash", ("-",), b"Dash\r\nkept\r\n", b"Dash\r\nkept\r\n"),
            ("empty", (), b"", b""),
        ]
        for slug, args, stdin, body in cases:
            out = self.cli("post", "create", slug, "--title", "T", "-d", "D", "--date", "2024-05-01", *args,
                           stdin=stdin)
            path = self.path("content", "blog", "2024", "05", "01", slug + ".md")
            self.assertEqual(out, path + "\n")
            self.assertEqual(read_bytes(path),
                             b'+++\ntitle = "T"\ndescription = "D"\ndate = 2024-05-01\n+++\n\n' + body, slug)
        self.assertFails(64, re.compile("excludes"), "post", "create", "x", "--title", "T", "-d", "D",
                         "--content", "a", "--content-file", body_file)
        self.assertFails(64, "'-' and --content or --content-file exclude each other", "post", "create", "x",
                         "--title", "T", "-d", "D", "--content", "a", "-")
        self.assertFails(64, "unexpected argument 'extra' after the slug (only '-', which reads the content "
                             "from standard input)", "post", "create", "x", "--title", "T", "-d", "D", "extra")
        self.assertFails(65, "standard input holds a NUL byte, which the library cannot store", "post", "create",
                         "x", "--title", "T", "-d", "D", "-", stdin=b"a\0b")
        self.assertFalse(os.path.exists(self.path("content", "blog", "2024", "05", "01", "x.md")))

    def test_date_key_and_drafts(self):
        self.cli("post", "create", "plain", "--title", "Plain", "-d", "D", "--date", "2024-05-01", "--no-date-key")
        self.cli("post", "create", "wip", "--title", "Work in progress", "-d", "D", "--date", "2024-05-02",
                 "--draft", "--tags", "a")
        self.assertEqual(read_bytes(self.path("content", "blog", "2024", "05", "01", "plain.md")),
                         b'+++\ntitle = "Plain"\ndescription = "D"\n+++\n\n')
        wip = self.path("content", "blog", "2024", "05", "02", "wip.md")
        self.assertEqual(read_bytes(wip),
                         b'+++\ntitle = "Work in progress"\ndescription = "D"\ndate = 2024-05-02\ndraft = true\n'
                         b'tags = ["a"]\n+++\n\n')
        self.assertEqual(self.cli("post", "list"),
                         "DATE        SLUG   TAGS  TITLE\n"
                         "2024-05-02  wip    a     Work in progress [draft]\n"
                         "2024-05-01  plain  -     Plain\n")
        self.assertEqual(self.slugs("post", "list", "--drafts"), ["wip"])
        self.assertEqual(self.slugs("post", "list", "--published"), ["plain"])
        self.assertEqual(self.slugs("post", "list", "--drafts", "--tag", "b"), [])
        self.assertFails(64, re.compile("excludes"), "post", "list", "--drafts", "--published")
        self.assertEqual(self.cli("post", "publish", "wip"), "")
        self.assertEqual(read_bytes(wip),
                         b'+++\ntitle = "Work in progress"\ndescription = "D"\ndate = 2024-05-02\ndraft = false\n'
                         b'tags = ["a"]\n+++\n\n')
        # Publishing a published post changes nothing.
        self.assertEqual(self.cli("post", "publish", "plain"), "")
        self.assertEqual(read_bytes(self.path("content", "blog", "2024", "05", "01", "plain.md")),
                         b'+++\ntitle = "Plain"\ndescription = "D"\n+++\n\n')
        self.assertEqual(self.slugs("post", "list", "--drafts"), [])
        self.assertFails(3, "no post with slug 'wipp' (did you mean 'wip'?)", "post", "publish", "wipp")

    def test_update_replaces_the_body_and_keeps_the_front_matter(self):
        path = self.path("content", "blog", "2024", "05", "01", "hand.md")
        os.makedirs(os.path.dirname(path))
        head = b'+++\n# written by hand\ntitle   = "Hand"  # spaced\ndescription = \'D\'\n+++\n'
        with open(path, "wb") as f:
            f.write(head + b"Old body\n")
        self.assertEqual(self.cli("post", "update", "hand", "--content", "New body\n"), "")
        self.assertEqual(read_bytes(path), head + b"New body\n")

    def test_read_path(self):
        self.cli("post", "create", "p", "--title", "T", "-d", "D", "--date", "2024-05-01")
        self.cli("note", "create", "-t", "1700000000", "--slug", "todo")
        self.assertEqual(self.cli("post", "read", "p", "--path"),
                         self.path("content", "blog", "2024", "05", "01", "p.md") + "\n")
        self.assertEqual(self.cli("note", "read", "--path", "todo"), self.path("content", "notes", "1700000000.md") + "\n")
        self.assertEqual(self.cli("note", "read", "--path", "1700000000", "--json"),
                         '{"path":"%s"}\n' % self.path("content", "notes", "1700000000.md"))
        self.assertFails(3, "no note with id 'tod' (did you mean 'todo'?)", "note", "read", "--path", "tod")
        self.assertFails(64, re.compile("--path"), "snippet", "read", "1", "--path")

    def slugs(self, *args):
        import json
        return [item["slug"] for item in json.loads(self.cli(*args, "--json"))]


class Editing(CliCase):
    """post edit and note edit, with EDITOR set to small scripts."""

    def setUp(self):
        super().setUp()
        self.cli("post", "create", "p", "--title", "Title", "-d", "D", "--date", "2024-05-01", "--content", "Body\n")
        self.post = self.path("content", "blog", "2024", "05", "01", "p.md")
        self.cli("note", "create", "-t", "1700000000", "--slug", "todo", "--content", "milk")
        self.note = self.path("content", "notes", "1700000000.md")
        self.tmp = tempfile.mkdtemp(prefix="quorlina-edit-")
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)

    def editor(self, script):
        path = os.path.join(self.tmp, "editor.sh")
        with open(path, "w") as f:
            f.write("#!/bin/sh\n" + script + "\n")
        os.chmod(path, 0o755)
        return path

    def edit(self, *args, editor, visual=None):
        env = child_env()
        env.pop("VISUAL", None)
        env["EDITOR"] = editor
        if visual is not None:
            env["VISUAL"] = visual
        env["TMPDIR"] = self.tmp
        return subprocess.run([CLI, "--root", self.root, *args], env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)

    def copies(self):
        return sorted(n for n in os.listdir(self.tmp) if n.startswith("quorlina-"))

    def test_a_valid_edit_is_published(self):
        seen = os.path.join(self.tmp, "seen")
        # The copy is private and holds the file's bytes.
        ed = self.editor('stat -c %%a "$1" > %s; cat "$1" >> %s; sed -i "s/Body/New body/; s/Title/New title/" "$1"'
                         % (seen, seen))
        r = self.edit("post", "edit", "p", editor=ed)
        self.assertEqual((r.returncode, r.stdout, r.stderr), (0, b"", b""))
        self.assertEqual(read_bytes(seen), b"600\n" + b'+++\ntitle = "Title"\ndescription = "D"\n'
                                                    b'date = 2024-05-01\n+++\n\nBody\n')
        self.assertEqual(read_bytes(self.post),
                         b'+++\ntitle = "New title"\ndescription = "D"\ndate = 2024-05-01\n+++\n\nNew body\n')
        self.assertEqual(self.copies(), [])
        r = self.edit("note", "edit", "todo", editor=self.editor('printf "eggs\\n" >> "$1"'))
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        self.assertEqual(read_bytes(self.note), b'+++\nslug = "todo"\n+++\n\nmilkeggs\n')

    def test_visual_wins_over_editor_and_a_command_with_arguments_runs(self):
        vis = os.path.join(self.tmp, "visual.sh")
        with open(vis, "w") as f:
            f.write('#!/bin/sh\nsed -i "s/Body/From $1/" "$2"\n')
        os.chmod(vis, 0o755)
        ed = self.editor('sed -i "s/Body/From EDITOR/" "$1"')
        # The value is a command: its words are split as the shell splits them.
        r = self.edit("post", "edit", "p", editor=ed, visual=vis + " VISUAL")
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        self.assertTrue(read_bytes(self.post).endswith(b"\n\nFrom VISUAL\n"), read_bytes(self.post))
        # An empty VISUAL counts as unset.
        r = self.edit("note", "edit", "todo", editor=self.editor('sed -i "s/milk/From EDITOR/" "$1"'), visual="")
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        self.assertTrue(read_bytes(self.note).endswith(b"\n\nFrom EDITOR"), read_bytes(self.note))

    def test_an_unchanged_copy_writes_nothing(self):
        before = os.stat(self.post)
        r = self.edit("post", "edit", "p", editor="true")
        self.assertEqual((r.returncode, r.stdout, r.stderr), (0, b"no changes\n", b""))
        after = os.stat(self.post)
        self.assertEqual((after.st_ino, after.st_mtime_ns), (before.st_ino, before.st_mtime_ns))
        self.assertEqual(self.copies(), [])

    def test_an_invalid_edit_is_refused_and_the_copy_kept(self):
        before = read_bytes(self.post)
        r = self.edit("post", "edit", "p", editor=self.editor('sed -i "/^title/d" "$1"'))
        self.assertEqual(r.returncode, 7)
        self.assertEqual(r.stdout, b"")
        copies = self.copies()
        self.assertEqual(len(copies), 1)
        copy = os.path.join(self.tmp, copies[0])
        self.assertTrue(copies[0].startswith("quorlina-p-") and copies[0].endswith(".md"), copies)
        self.assertEqual(r.stderr.decode(),
                         "quorlina: post 'p': %s: title is missing; the file is unchanged and the edited copy "
                         "is kept at %s\n" % (self.post, copy))
        self.assertEqual(read_bytes(self.post), before)
        self.assertEqual(read_bytes(copy), before.replace(b'title = "Title"\n', b""))
        self.assertEqual(os.stat(copy).st_mode & 0o777, 0o600)

    def test_an_editor_that_fails_publishes_nothing(self):
        before = read_bytes(self.note)
        r = self.edit("note", "edit", "todo", editor=self.editor('echo changed >> "$1"; exit 3'))
        self.assertNotEqual(r.returncode, 0)
        copy = os.path.join(self.tmp, self.copies()[0])
        self.assertEqual(r.stderr.decode(), "quorlina: the editor '%s' exited with status 3; the file is unchanged "
                                            "and the edited copy is kept at %s\n"
                         % (os.path.join(self.tmp, "editor.sh"), copy))
        self.assertEqual(read_bytes(self.note), before)

    def test_a_file_changed_meanwhile_is_not_overwritten(self):
        ed = self.editor('sed -i "s/Body/Mine/" "$1"; printf "theirs\\n" >> %s' % self.post)
        r = self.edit("post", "edit", "p", editor=ed)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn(b"changed while it was being edited", r.stderr)
        self.assertTrue(read_bytes(self.post).endswith(b"Body\ntheirs\n"))

    def test_ctrl_c_while_editing_is_the_editor_s(self):
        # The editor interrupts the tool (found up its parents), as a Ctrl-C
        # in the terminal would; the tool waits on and publishes the edit.
        ed = self.editor('p=$PPID\n'
                         'while [ "$(cat /proc/$p/comm)" != quorlina ]; do p=$(cut -d" " -f4 /proc/$p/stat); done\n'
                         'kill -INT $p; kill -QUIT $p\n'
                         'sed -i "s/Body/After the signal/" "$1"')
        r = self.edit("post", "edit", "p", editor=ed)
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        self.assertTrue(read_bytes(self.post).endswith(b"\n\nAfter the signal\n"), read_bytes(self.post))

    def test_unknown_items(self):
        self.assertFails(3, "no post with slug 'q' (did you mean 'p'?)", "post", "edit", "q")
        self.assertFails(3, "no note with id 'tod' (did you mean 'todo'?)", "note", "edit", "tod")


class TagChanges(CliCase):
    def setUp(self):
        super().setUp()
        for slug, date, tags in (("a", "2024-03-01", "rust,web"), ("b", "2024-02-01", "rust"),
                                 ("c", "2024-01-01", "web"), ("d", "2023-12-31", "rustlang,rust")):
            self.cli("post", "create", slug, "--title", "T", "-d", "D", "--tags", tags, "--date", date,
                     "--no-date-key")

    def tags(self, slug, date):
        with open(self.path("content", "blog", *date.split("-"), slug + ".md"), "rb") as f:
            return [l for l in f.read().split(b"\n") if l.startswith(b"tags")][0]

    def test_rename_and_remove_report_the_posts_changed(self):
        self.assertEqual(self.cli("tag", "rename", "rust", "rustlang"), "3 posts changed\n")
        self.assertEqual([self.tags(*p) for p in (("a", "2024-03-01"), ("b", "2024-02-01"), ("c", "2024-01-01"),
                                                  ("d", "2023-12-31"))],
                         [b'tags = ["web", "rustlang"]', b'tags = ["rustlang"]', b'tags = ["web"]',
                          b'tags = ["rustlang"]'])
        self.assertEqual(self.cli("tag", "remove", "web"), "2 posts changed\n")
        self.assertEqual(self.cli("tag", "remove", "web"), "0 posts changed\n")
        self.assertEqual(self.cli("--json", "tag", "rename", "rustlang", "go"), '{"changed":3}\n')
        self.assertEqual(self.cli("tag", "rename", "go", "rust"), "3 posts changed\n")
        self.assertEqual(self.cli("tag", "list"), "POSTS  TAG\n3      rust\n")
        self.cli("post", "create", "e", "--title", "T", "-d", "D", "--tags", "solo", "--date", "2024-04-01")
        self.assertEqual(self.cli("tag", "remove", "solo"), "1 post changed\n")

    def test_a_broken_post_stops_before_any_change(self):
        os.makedirs(self.path("content", "blog", "2024", "04", "01"))
        bad = self.path("content", "blog", "2024", "04", "01", "bad.md")
        with open(bad, "w") as f:
            f.write('+++\ntitle = "T"\ntags = ["rust"]\n+++\n')
        self.assertFails(7, "tag 'rust': %s: description is missing%s" % (bad, HINT), "tag", "rename", "rust", "x")
        self.assertEqual(self.tags("a", "2024-03-01"), b'tags = ["rust", "web"]')
        self.assertFails(64, re.compile("NEW"), "tag", "rename", "rust")


class Search(CliCase):
    def setUp(self):
        super().setUp()
        self.cli("post", "create", "rust-io", "--title", "Reading files in Rust", "-d", "Buffered I/O",
                 "--tags", "rust,Programming", "--date", "2024-03-09", "--content", "Intro\nUse a BufReader here.\n")
        self.cli("post", "create", "sql", "--title", "Counting", "-d", "Tags with SQL", "--tags", "sql",
                 "--date", "2024-03-08", "--content", "SELECT tag, count(*)\nFROM tags;\n")
        self.cli("note", "create", "-t", "1700000000", "--slug", "reading-list", "--content", "- the Rust book\n")
        self.cli("snippet", "create", "-t", "1721000000", "-d", "Swap two ints", "-f", "swap.c",
                 "--code", "void swap(int *a, int *b);\n")

    def test_matches_with_the_first_matching_line(self):
        self.assertEqual(self.cli("search", "rust"),
                         "FAMILY  ID            FIELD    LINE\n"
                         "post    rust-io       title    Reading files in Rust\n"
                         "note    reading-list  content  - the Rust book\n")
        cases = [
            (("search", "BUFREADER"), [("post", "rust-io", "content", "Use a BufReader here.")]),
            (("search", "i/o"), [("post", "rust-io", "description", "Buffered I/O")]),
            (("search", "programming"), [("post", "rust-io", "tags", "Programming")]),
            (("search", "tag"), [("post", "sql", "description", "Tags with SQL")]),
            (("search", "count(*)"), [("post", "sql", "content", "SELECT tag, count(*)")]),
            (("search", "SWAP"), [("snippet", "1721000000", "description", "Swap two ints")]),
            (("search", "int *b"), [("snippet", "1721000000", "code", "void swap(int *a, int *b);")]),
            (("search", "reading"), [("post", "rust-io", "title", "Reading files in Rust"),
                                     ("note", "reading-list", "slug", "reading-list")]),
            (("search", "reading", "--in", "note"), [("note", "reading-list", "slug", "reading-list")]),
            (("search", "rust", "--in", "snippet"), []),
            (("search", "nowhere"), []),
        ]
        import json
        for args, expected in cases:
            got = [(h["family"], h["id"], h["field"], h["line"]) for h in json.loads(self.cli(*args, "--json"))]
            self.assertEqual(got, expected, args)

    def test_only_ascii_letters_fold(self):
        self.cli("note", "create", "-t", "1700000001", "--content", "Crème BRÛLÉE\n")
        self.assertEqual(len(json_list(self.cli("search", "brÛlÉe", "--json"))), 1)
        self.assertEqual(len(json_list(self.cli("search", "crÈme", "--json"))), 0)

    def test_bad_search_texts(self):
        self.assertFails(64, "search needs a text to look for", "search", "")
        self.assertFails(64, "search looks within lines: the text cannot hold a line break", "search", "a\nb")
        self.assertFails(64, re.compile("^--in: blog not in"), "search", "x", "--in", "blog")


def json_list(text):
    import json
    return json.loads(text)


class KeySuggestions(CliCase):
    def setUp(self):
        super().setUp()
        self.cli("post", "create", "rust-file-io", "--title", "T", "-d", "D", "--date", "2024-03-09")
        self.cli("post", "create", "summer-break", "--title", "T", "-d", "D", "--date", "2024-03-10")
        self.cli("note", "create", "-t", "1700000000", "--slug", "reading-list")
        self.cli("note", "create", "-t", "1700003600")
        self.cli("snippet", "create", "-t", "1721000000", "-d", "D", "-f", "a.py", "--code", "")

    def test_an_unknown_key_gets_the_nearest_existing_one(self):
        cases = [
            (("post", "read", "rust-fille-io"), "no post with slug 'rust-fille-io' (did you mean 'rust-file-io'?)"),
            (("post", "delete", "sumer-break"), "no post with slug 'sumer-break' (did you mean 'summer-break'?)"),
            (("post", "update", "rust-file-oi", "--title", "X"),
             "no post with slug 'rust-file-oi' (did you mean 'rust-file-io'?)"),
            (("note", "read", "readinglist"), "no note with id 'readinglist' (did you mean 'reading-list'?)"),
            (("note", "delete", "1700003601"), "no note with id '1700003601' (did you mean '1700003600'?)"),
            (("snippet", "read", "1721000001"), "no snippet with timestamp 1721000001 (did you mean '1721000000'?)"),
            # Nothing near: no suggestion.
            (("post", "read", "zebra"), "no post with slug 'zebra'"),
            (("note", "read", "abc"), "no note with id 'abc'"),
            (("snippet", "delete", "5"), "no snippet with timestamp 5"),
        ]
        for args, line in cases:
            self.assertFails(3, line, *args)
        # Nothing was changed by the failed verbs.
        self.assertEqual(self.cli("post", "read", "rust-file-io").split("\n")[2], "title:       T")


class ShellFit(CliCase):
    def complete(self, line, tool="quorlina"):
        """The words bash completion offers for `line` (completing its last word);
        `tool` is the word the line starts with instead of "quorlina"."""
        script = run("completion", "bash").stdout.decode()
        words = line.split(" ")
        words[0] = tool
        program = script + "\nCOMP_WORDS=(%s)\nCOMP_CWORD=%d\n_quorlina\nprintf '%%s\\n' \"${COMPREPLY[@]}\"\n" % (
            " ".join("'%s'" % w for w in words), len(words) - 1)
        r = subprocess.run(["bash", "-c", program], stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=child_env())
        self.assertEqual(r.stderr, b"")
        return r.stdout.decode().split()

    def test_bash_completion(self):
        cases = [
            ("quorlina po", ["post"]),
            ("quorlina post l", ["list"]),
            ("quorlina --root x post list --t", ["--tag"]),
            ("quorlina note list --", ["--help", "--since", "--until", "--limit", "--root", "--format", "--json"]),
            ("quorlina --format j", ["json"]),
            ("quorlina completion ", ["bash", "zsh", "fish"]),
            ("quorlina help n", ["note"]),
            ("quorlina post read --tag ", []),
        ]
        for line, expected in cases:
            self.assertEqual(self.complete(line), expected, line)

    def test_bash_completion_offers_the_items_of_the_site(self):
        self.cli("post", "create", "rust-file-io", "--title", "T", "-d", "D", "--tags", "rust,io",
                 "--date", "2024-03-09")
        self.cli("post", "create", "rsync", "--title", "T", "-d", "D", "--tags", "ops,rust", "--date", "2024-03-10")
        self.cli("note", "create", "-t", "1700000000", "--slug", "reading-list")
        self.cli("note", "create", "-t", "1700003600")
        self.cli("snippet", "create", "-t", "1721000000", "-d", "D", "-f", "a.py", "--code", "")
        cases = [
            ("quorlina --root %s post read r", ["rsync", "rust-file-io"]),
            ("quorlina --root %s post delete ru", ["rust-file-io"]),
            ("quorlina post update -r %s ", ["rsync", "rust-file-io"]),
            ("quorlina --root=%s note read ", ["1700003600", "reading-list"]),
            ("quorlina --root %s snippet delete 17", ["1721000000"]),
            ("quorlina --root %s post list --tag ", ["rust", "io", "ops"]),
            ("quorlina --root %s post list --tag o", ["ops"]),
            # A new post's slug is not an existing one.
            ("quorlina --root %s post create ", []),
            ("quorlina --root %s post publish rs", ["rsync"]),
            ("quorlina --root %s post edit rust", ["rust-file-io"]),
            ("quorlina --root %s note edit r", ["reading-list"]),
            ("quorlina --root %s tag rename o", ["ops"]),
            ("quorlina --root %s tag remove ", ["rust", "io", "ops"]),
            ("quorlina --root %s check ", ["snippet", "post", "note"]),
            ("quorlina --root %s search x --in p", ["post"]),
        ]
        for line, expected in cases:
            self.assertEqual(sorted(self.complete(line % self.root, tool=CLI)), sorted(expected), line)
        # The hidden command prints one item a line, in list order; tags most used first.
        self.assertEqual(self.cli("__complete", "post"), "rsync\nrust-file-io\n")
        self.assertEqual(self.cli("__complete", "note"), "1700003600\nreading-list\n")
        self.assertEqual(self.cli("__complete", "snippet"), "1721000000\n")
        self.assertEqual(self.cli("__complete", "tag"), "rust\nio\nops\n")
        # It is none of the commands people see.
        self.assertNotIn(b"__complete", run("--help").stdout)
        self.assertNotIn(b"__complete", run("help", "--man").stdout)

    def test_zsh_completion_offers_the_items_of_the_site(self):
        if shutil.which("zsh") is None:
            self.skipTest("zsh is not installed")
        self.cli("post", "create", "rust-file-io", "--title", "T", "-d", "D", "--tags", "rust,io", "--date", "2024-03-09")
        self.cli("note", "create", "-t", "1700000000", "--slug", "reading-list")
        # The completion system's functions stand in as printers of what they are given.
        stubs = ('compadd() { [[ $1 == -- ]] && shift; print -l -- "$@"; }\n'
                 '_describe() { print -- "-describe-"; }\n_files() { :; }\n_message() { :; }\ncompdef() { :; }\n')
        with tempfile.NamedTemporaryFile("wb", suffix=".zsh") as f:
            f.write(run("completion", "zsh").stdout)
            f.flush()
            for words, expected in ((["--root", self.root, "post", "read", ""], ["rust-file-io"]),
                                    (["-r", self.root, "note", "edit", ""], ["reading-list"]),
                                    (["--root=" + self.root, "post", "list", "--tag", ""], ["io", "rust"]),
                                    (["--root", self.root, "post", "create", ""], ["-describe-"])):
                line = [CLI] + words
                program = "%ssource %s\nwords=(%s)\nCURRENT=%d\nPREFIX=''\n_quorlina\n" % (
                    stubs, f.name, " ".join(_zsh_quoted(w) for w in line), len(line))
                r = subprocess.run(["zsh", "-fc", program], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   env=child_env(), timeout=60)
                self.assertEqual(r.stderr, b"", words)
                self.assertEqual(r.stdout.decode().splitlines(), expected, words)

    def test_fish_completion_offers_the_items_of_the_site(self):
        if shutil.which("fish") is None:
            self.skipTest("fish is not installed")
        self.cli("post", "create", "rust-file-io", "--title", "T", "-d", "D", "--tags", "rust", "--date", "2024-03-09")
        with tempfile.NamedTemporaryFile("wb", suffix=".fish") as f:
            f.write(run("completion", "fish").stdout)
            f.flush()
            for line, expected in (("%s --root %s post read ", ["rust-file-io"]),
                                   ("%s -r %s post list --tag ", ["rust"])):
                r = subprocess.run(["fish", "--no-config", "-c", "source %s; complete -C%s" % (
                    f.name, _fish_quoted(line % (CLI, self.root)))], stdout=subprocess.PIPE,
                    stderr=subprocess.PIPE, env=child_env(), timeout=60)
                self.assertEqual(r.stderr, b"")
                self.assertEqual([w.split("\t")[0] for w in r.stdout.decode().splitlines()], expected, line)

    # zsh, fish and groff read these in test_shell_syntax.py.
    def test_zsh_and_fish_scripts(self):
        for shell, first in (("zsh", "#compdef quorlina\n"), ("fish", "# fish completion")):
            r = run("completion", shell)
            self.assertEqual(r.returncode, 0)
            self.assertTrue(r.stdout.decode().startswith(first), shell)
            self.assertIn(b"--content-file", r.stdout)

    def test_manual_page(self):
        r = run("help", "--man")
        self.assertEqual(r.returncode, 0)
        page = r.stdout.decode()
        self.assertTrue(page.startswith(".TH QUORLINA 1 "), page[:40])
        for text in (r"quorlina post list", r"\fB\-\-tag\fR \fITAG\fR", ".B 66\n", r"\fB\-\-clear\-slug\fR"):
            self.assertIn(text, page)

    def test_alignment_counts_display_width(self):
        self.cli("post", "create", "cjk", "--title", "日本語のタイトル", "-d", "D", "--tags", "日本", "--date", "2024-01-02")
        self.cli("post", "create", "emoji", "--title", "Party", "-d", "D", "--tags", "🎉,e\u0301", "--date", "2024-01-01")
        self.assertEqual(self.cli("post", "list"),
                         "DATE        SLUG   TAGS  TITLE\n"
                         "2024-01-02  cjk    日本  日本語のタイトル\n"
                         "2024-01-01  emoji  🎉,e\u0301  Party\n")

    def test_a_terminal_clips_the_last_column(self):
        import fcntl
        import pty
        import struct
        import termios
        self.cli("post", "create", "p", "--title", "A title that is far too long 日本語", "-d", "D",
                 "--date", "2024-01-02")
        master, slave = pty.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 40, 0, 0))
        proc = subprocess.Popen([CLI, "--root", self.root, "post", "list"], stdout=slave,
                                stderr=subprocess.PIPE, env=child_env())
        os.close(slave)
        out = b""
        while True:
            try:
                chunk = os.read(master, 4096)
            except OSError:  # the terminal closes when the tool ends
                break
            if not chunk:
                break
            out += chunk
        os.close(master)
        self.assertEqual(proc.wait(), 0)
        self.assertEqual(out.decode().replace("\r\n", "\n"),
                         "DATE        SLUG  TAGS  TITLE\n"
                         "2024-01-02  p     -     A title that is \n")

    def test_a_closed_pipe_ends_quietly(self):
        self.cli("snippet", "create", "-t", "1", "-d", "D", "-f", "a.py", "--code-file", "-", stdin=b"x" * 300000)
        proc = subprocess.Popen([CLI, "--root", self.root, "snippet", "list", "--json"],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=child_env())
        proc.stdout.read(10)
        proc.stdout.close()
        self.assertEqual((proc.wait(), proc.stderr.read()), (0, b""))
        proc.stderr.close()


if __name__ == "__main__":
    unittest.main()
