"""The example site is in the exact formats the library writes: it loads
without error, and writing its items again through the library gives the
same bytes."""

import os
import shutil
import tempfile
import unittest

import quorlina

EXAMPLE = os.environ.get("QUORLINA_EXAMPLE_SITE") or os.path.join(
    os.path.dirname(__file__), "..", "..", "examples", "site")


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


class ExampleSite(unittest.TestCase):
    def setUp(self):
        self.site = quorlina.Site(EXAMPLE)
        self.scratch = tempfile.mkdtemp(prefix="quorlina-example-")
        self.addCleanup(shutil.rmtree, self.scratch, ignore_errors=True)
        self.copy = quorlina.Site(self.scratch)

    def test_every_family_lists(self):
        snippets = self.site.snippets.list()
        posts = self.site.posts.list()
        notes = self.site.notes.list()
        self.assertGreaterEqual(len({s.filename.rsplit(".", 1)[1] for s in snippets}), 4)
        self.assertGreaterEqual(len({p.date for p in posts}), 4)
        self.assertTrue(any(len(p.tags) > 1 for p in posts))
        self.assertTrue(any(n.slug is None for n in notes))
        self.assertTrue(any(n.slug is not None for n in notes))

    def test_snippets_are_written_as_the_library_writes_them(self):
        for s in self.site.snippets.list():
            original = os.path.join(EXAMPLE, "content", "snippets",
                                    "%d.%s" % (s.id, s.filename.rsplit(".", 1)[1]))
            data = read_bytes(original)
            code = data.split(b"+++\n\n", 1)[1]
            path = self.copy.snippets.create(s.description, code, s.filename, timestamp=s.id)
            self.assertEqual(read_bytes(path), data, original)

    def test_posts_are_written_as_the_library_writes_them(self):
        for summary in self.site.posts.list():
            p = self.site.posts.read(summary.slug)
            original = os.path.join(EXAMPLE, "content", "blog", p.date.strftime("%Y"), p.date.strftime("%m"),
                                    p.date.strftime("%d"), p.slug + ".md")
            data = read_bytes(original)
            assert p.description is not None and p.content is not None
            path = self.copy.posts.create(p.slug, p.title, p.description, tags=p.tags, date=p.date,
                                          date_key=p.date_key is not None, draft=p.draft)
            # A new post has an empty body: the example adds its text after it.
            created = read_bytes(path)
            self.assertEqual(data[:len(created)], created, original)
            self.assertEqual(data[len(created):].decode(), p.content)

    def test_notes_are_written_as_the_library_writes_them(self):
        notes_dir = os.path.join(EXAMPLE, "content", "notes")
        for name in sorted(os.listdir(notes_dir)):
            stem = name[:-len(".md")]
            n = self.site.notes.read(stem)  # a note is found by its file stem too
            path = self.copy.notes.create(n.content, slug=n.slug, timestamp=int(stem))
            self.assertEqual(read_bytes(path), read_bytes(os.path.join(notes_dir, name)), name)


if __name__ == "__main__":
    unittest.main()
