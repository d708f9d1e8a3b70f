#!/usr/bin/env python3
"""Differential test of the front-matter readers and editor against tomllib.

Generates valid TOML front-matter blocks the way people and other tools write
them (every string form, comments, tables, dotted and quoted keys, CRLF,
arrays over lines) and random updates, and checks through
frontmatter_driver that:
  - the values the library reads are the values tomllib reads;
  - tomllib reads the updated block as the old one with exactly the
    requested change;
  - every byte outside the edited spans is unchanged;
  - every block the writers write is TOML that reads the same under both.

usage: toml_differential.py DRIVER [CASES] [SEED]
Exits 77 (skipped) when this Python has no tomllib.
"""
import json
import random
import subprocess
import sys
import time

try:
    import tomllib
except ImportError:  # Python before 3.11
    print("tomllib not available; skipped")
    sys.exit(77)

WRITABLE = ("abcxyzABC012 -_.,:;!?/()[]{}<>=#'&%$@*~`^|+" "\t"
            "\u00e9\u00fc\u00df\u65e5\u672c\u2014\u201c\u201d\U0001F600\u00a0")
SLUG = "abcdefghijklmnopqrstuvwxyzABCXYZ0123456789_-"
EXTRA = random.Random(0)  # the draft and body steps' own draws; seeded in main


class Driver:
    def __init__(self, path):
        self.p = subprocess.Popen([path], stdin=subprocess.PIPE, stdout=subprocess.PIPE)

    def ask(self, op, *fields):
        out = [("%s %d\n" % (op, len(fields))).encode()]
        for f in fields:
            if f is None:
                out.append(b"-1\n")
            else:
                b = f.encode("utf-8", "surrogateescape") if isinstance(f, str) else f
                out.append(b"%d\n" % len(b))
                out.append(b)
        self.p.stdin.write(b"".join(out))
        self.p.stdin.flush()
        line = self.p.stdout.readline()
        if not line:
            raise RuntimeError("the driver stopped")
        return json.loads(line.decode("utf-8", "surrogateescape"))

    def close(self):
        self.p.stdin.close()
        self.p.wait()


class Doc:
    """A block under construction, with the spans of what was written."""

    def __init__(self, nl):
        self.nl = nl
        self.text = "+++" + nl
        self.items = {}  # key -> dict(begin, end (after its line break), vb, ve)
        self.used = set()

    def line(self, s):
        self.text += s + self.nl

    def key(self, name, spelled, value, rnd, comment=True):
        begin = len(self.text)
        ws = rnd.choice([(" ", " "), ("", ""), ("  ", "\t"), ("\t", " ")])
        self.text += spelled + ws[0] + "=" + ws[1]
        vb = len(self.text)
        self.text += value
        ve = len(self.text)
        if comment and rnd.random() < 0.3:
            self.text += rnd.choice(["  # note", " #", "\t# ' \" [ ] = caf\u00e9"])
        self.text += self.nl
        self.items[name] = dict(begin=begin, end=len(self.text), vb=vb, ve=ve)


class Gen:
    def __init__(self, rnd):
        self.r = rnd

    def string(self, lo=0, hi=12, plus=True):
        """A value: with `plus`, now and then one holding "+++" (as a person
        may write, never the library)."""
        s = "".join(self.r.choice(WRITABLE) for _ in range(self.r.randint(lo, hi))).replace("+++", "++")
        if plus and self.r.random() < 0.1:
            s += "C+++"
        return s

    def words(self, hi=8):
        """Text for a comment: "+++" there would close the block."""
        return "".join(self.r.choice("abc XYZ'\"[]=,.#\t\u00e9\u65e5") for _ in range(self.r.randint(0, hi)))

    def basic(self, s):
        out = []
        for ch in s:
            if ch == '"':
                out.append('\\"')
            elif ch == "\\":
                out.append("\\\\")
            elif ch == "\n":
                out.append("\\n")
            elif ch == "\t":
                out.append(self.r.choice(["\t", "\\t"]))
            elif ord(ch) > 127 and self.r.random() < 0.3:
                out.append("\\u%04X" % ord(ch) if ord(ch) < 0x10000 else "\\U%08X" % ord(ch))
            elif ch.isalpha() and ord(ch) < 128 and self.r.random() < 0.05:
                out.append("\\u%04x" % ord(ch))
            else:
                out.append(ch)
        return '"' + "".join(out) + '"'

    def ml_basic(self, s, nl):
        body = s.replace("\\", "\\\\").replace('"', '\\"').replace("\n", nl)
        lead = nl if self.r.random() < 0.6 else ""
        if self.r.random() < 0.3:
            # A line-ending backslash joins two lines without a trace.
            cut = self.r.randint(0, len(body))
            if body[:cut].endswith("\\") or (cut and body[cut - 1] in " \t"):
                cut = 0
            if not body[cut:cut + 1].isspace():
                body = body[:cut] + "\\" + nl + "   " + body[cut:]
        return '"""' + lead + body + '"""'

    def ml_literal(self, s, nl):
        lead = nl if self.r.random() < 0.6 or s.startswith("\n") else ""
        return "'''" + lead + s.replace("\n", nl) + "'''"

    def value(self, s, nl):
        """A TOML string for s, in any form that can hold it."""
        forms = ["basic"]
        if "'" not in s and "\n" not in s:
            forms.append("literal")
        forms.append("ml_basic")
        if "'''" not in s and not s.endswith("'" * 3) and "\r" not in s:
            forms.append("ml_literal")
        form = self.r.choice(forms)
        if form == "basic":
            return self.basic(s)
        if form == "literal":
            return "'" + s + "'"
        if form == "ml_basic":
            return self.ml_basic(s, nl)
        return self.ml_literal(s, nl)

    def spelled(self, name):
        return self.r.choice([name, name, '"%s"' % name, "'%s'" % name])

    def tag_items(self):
        """(source text, tomllib value, reading) of each item."""
        items = []
        for _ in range(self.r.randint(0, 5)):
            x = self.r.random()
            if x < 0.08:
                n = self.r.randint(0, 99)
                items.append((str(n), n, str(n)))
            elif x < 0.12:
                b = self.r.choice([True, False])
                items.append(("true" if b else "false", b, "true" if b else "false"))
            elif x < 0.15:
                items.append(('""', "", None))
            else:
                s = self.string(1, 8)
                src = self.basic(s) if "'" in s or self.r.random() < 0.6 else "'" + s + "'"
                items.append((src, s, s))
        return items

    def array(self, items, nl):
        if not items and self.r.random() < 0.5:
            return "[]"
        if self.r.random() < 0.5:
            sep = self.r.choice([", ", ",", " , "])
            trail = "," if items and self.r.random() < 0.2 else ""
            return "[" + sep.join(i[0] for i in items) + trail + "]"
        indent = self.r.choice(["  ", "    ", "\t"])
        out = "[" + (" # list" if self.r.random() < 0.2 else "") + nl
        for k, item in enumerate(items):
            if self.r.random() < 0.15:
                out += indent + "# about the next one" + nl
            last = k == len(items) - 1
            comma = "," if not last or self.r.random() < 0.6 else ""
            if not out.endswith(" "):
                out += indent
            out += item[0] + comma
            if self.r.random() < 0.2:
                out += "  # " + self.words() + nl
                continue
            if not last and self.r.random() < 0.2:
                out += " "
                continue  # the next item on this line
            out += nl
        if not out.endswith(nl):
            out += nl
        return out + "]"

    def extra(self, doc, nl):
        kind = self.r.randrange(8)
        # Keys once each; comments and blank lines as often as they come.
        while kind in doc.used:
            kind = self.r.randrange(8)
        if kind not in (5, 6):
            doc.used.add(kind)
        if kind == 0:
            doc.line("draft = " + self.r.choice(["true", "false"]))
        elif kind == 1:
            doc.line("weight = %d" % self.r.randint(-5, 50))
        elif kind == 2:
            doc.line("date = " + self.r.choice(["2024-05-01", "2024-05-01T10:20:30Z", "1979-05-27 07:32:00-07:00"]))
        elif kind == 3:
            doc.line("site.mood = " + self.basic(self.string()))
        elif kind == 4:
            doc.line("author = { name = %s, links = [ \"a\", 'b' ] }" % self.basic(self.string()))
        elif kind == 5:
            doc.line("# " + self.words(10))
        elif kind == 6:
            doc.line("")
        else:
            doc.line('"odd key" = ' + self.value(self.string(0, 6, plus=False), nl))

    def tables(self, doc, nl):
        if self.r.random() < 0.3:
            doc.line("[params]")
            doc.line("title = " + self.basic("not the title"))
            doc.line("tags = [\"not\", \"these\"]")
        if self.r.random() < 0.2:
            doc.line("[[menu.main]]")
            doc.line("name = " + self.basic(self.string()))


def order(rnd, names):
    names = list(names)
    rnd.shuffle(names)
    return names


def check(cond, what, case):
    if not cond:
        raise AssertionError(what + "\n--- case ---\n" + case)


def toml_of(text, tail):
    """tomllib's reading of the block of a file text that ends with `tail`,
    the text from the block's closing "+++" on."""
    if not text.endswith(tail):
        raise AssertionError("the text after the block changed: %r" % text)
    return tomllib.loads(text[3:len(text) - len(tail)])


def tag_reading(v):
    if isinstance(v, bool):
        return "true" if v else "false"
    if isinstance(v, int):
        return str(v)
    return v


def writer_quote(s):
    return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'


def writer_list(tags):
    return "[" + ", ".join(writer_quote(t) for t in tags) + "]"


def merge_tags(base, add, remove):
    out = list(base)
    for t in add:
        if t not in out:
            out.append(t)
    return [t for t in out if t not in remove]


def apply_edits(text, edits, offset=0):
    out, pos = [], 0
    for b, e, with_ in sorted(edits):
        out.append(text[pos:b - offset])
        out.append(with_)
        pos = e - offset
    out.append(text[pos:])
    return "".join(out)


def expect_spans(old, new, edits, case):
    """new must be old with each edit (begin, end, text) applied and nothing
    else changed; one edit may have None for its text (any text there)."""
    where = case + "\n--- new ---\n" + repr(new)
    wild = [x for x in edits if x[2] is None]
    if not wild:
        check(new == apply_edits(old, edits), "bytes outside the edited spans changed", where)
        return
    wb, we, _ = wild[0]
    before = apply_edits(old[:wb], [x for x in edits if x[1] <= wb and x[2] is not None])
    after = apply_edits(old[we:], [x for x in edits if x[0] >= we and x[2] is not None], we)
    check(new.startswith(before) and new.endswith(after) and len(new) >= len(before) + len(after),
          "bytes outside the edited spans changed", where)


def post_case(rnd, gen, drv):
    nl = rnd.choice(["\n", "\n", "\r\n"])
    doc = Doc(nl)
    title, description = gen.string(), gen.string(0, 30)
    if rnd.random() < 0.3:
        description += "\n" + gen.string() + "\n[not a table]\ntitle = \"inside\"\n"
    items = gen.tag_items() if rnd.random() < 0.8 else None
    slug = "".join(rnd.choice(SLUG) for _ in range(rnd.randint(1, 10))) if rnd.random() < 0.2 else None
    if rnd.random() < 0.3:
        doc.line("# written by hand")
    for name in order(rnd, ["title", "description", "tags", "slug", "x1", "x2"]):
        if name == "title":
            doc.key("title", gen.spelled("title"), gen.value(title, nl), rnd)
        elif name == "description":
            doc.key("description", gen.spelled("description"), gen.value(description, nl), rnd)
        elif name == "tags" and items is not None:
            doc.key("tags", gen.spelled("tags"), gen.array(items, nl), rnd)
        elif name == "slug" and slug is not None:
            doc.key("slug", gen.spelled("slug"), gen.value(slug, nl), rnd)
        elif name.startswith("x"):
            for _ in range(rnd.randint(0, 2)):
                gen.extra(doc, nl)
    gen.tables(doc, nl)
    tail = "+++" + nl + rnd.choice(["", nl, nl + "Body C+++ text" + nl])
    old = doc.text + tail
    case = repr(old)

    want = toml_of(old, tail)
    got = drv.ask("post", old)
    check("error" not in got, "read failed: %s" % got, case)
    check(got["title"] == want["title"] and got["description"] == want["description"], "values differ: %s" % got, case)
    old_tags = [tag_reading(t) for t in want.get("tags", []) if t != ""]
    check(got["tags"] == old_tags, "tags differ: %s vs %s" % (got["tags"], old_tags), case)
    check(got["slug"] == want.get("slug"), "slug differs", case)

    # A random update.
    new_title = gen.string(plus=False) if rnd.random() < 0.5 else None
    new_description = gen.string(0, 20, plus=False) if rnd.random() < 0.3 else None
    new_tags = None
    x = rnd.random()
    if x < 0.5:
        add = [gen.string(1, 6, plus=False) for _ in range(rnd.randint(0, 2))]
        remove = rnd.sample(old_tags, rnd.randint(0, len(old_tags))) if old_tags else []
        new_tags = merge_tags(old_tags, add, remove)
    elif x < 0.6:
        new_tags = [gen.string(1, 6, plus=False) for _ in range(rnd.randint(0, 3))]
    tags_field = None if new_tags is None else "\0".join(new_tags)
    res = drv.ask("post-update", old, new_title, new_description, tags_field)
    check("error" not in res, "update failed: %s" % res, case)
    new = res["text"]
    case += "\n--- update: title %r description %r tags %r" % (new_title, new_description, new_tags)

    after = toml_of(new, tail)
    after_tags = [tag_reading(t) for t in after.get("tags", []) if t != ""]
    expected = dict(want)
    if new_title is not None:
        expected["title"] = new_title
    if new_description is not None:
        expected["description"] = new_description
    tags_changed = new_tags is not None and new_tags != old_tags
    if tags_changed:
        expected.pop("tags", None)
        got_tags = after.pop("tags", None)
        if new_tags:
            check(got_tags is not None and [tag_reading(t) for t in got_tags if t != ""] == new_tags,
                  "tags after the update: %r" % (got_tags,), case + "\n--- new ---\n" + new)
        else:
            check(got_tags is None, "cleared tags stay", case + "\n--- new ---\n" + new)
    check(after == expected, "the update changed more than asked: %r" % after, case + "\n--- new ---\n" + new)

    edits = []
    if new_title is not None and new_title != title:
        it = doc.items["title"]
        edits.append((it["vb"], it["ve"], writer_quote(new_title)))
    if new_description is not None and new_description != description:
        it = doc.items["description"]
        edits.append((it["vb"], it["ve"], writer_quote(new_description)))
    if tags_changed:
        it = doc.items.get("tags")
        if it is None:
            anchor = max(doc.items[k]["end"] for k in doc.items if k in ("title", "description", "slug"))
            edits.append((anchor, anchor, "tags = " + writer_list(new_tags) + nl))
        elif not new_tags:
            edits.append((it["begin"], it["end"], ""))
        else:
            edits.append((it["vb"], it["ve"], None))
    expect_spans(old, new, edits, case)
    if not edits:
        check(new == old, "an update without change changed the text", case)

    back = drv.ask("post", new)
    check(back.get("title") == after["title"] and back.get("tags") == after_tags,
          "the update does not read back: %s" % back, case + "\n--- new ---\n" + new)
    flag_and_body(new, tail, drv, case + "\n--- new ---\n" + repr(new))


def flag_and_body(text, tail, drv, case):
    """The draft flag set or cleared, then the body replaced, on an edited
    text: the flag is the top-level key tomllib reads (never one in a
    table), nothing else changes, and the block stays byte for byte when
    only the body is new. Drawn from their own generator, so the cases
    before them stay the ones the seed always gave."""
    rnd = EXTRA
    before = toml_of(text, tail)
    flag = rnd.random() < 0.6
    res = drv.ask("post-draft", text, "1" if flag else "0")
    check("error" not in res, "draft update failed: %s" % res, case)
    flagged = res["text"]
    where = case + "\n--- draft %r ---\n%r" % (flag, flagged)
    expected = dict(before)
    if flag or "draft" in before:
        expected["draft"] = flag
    check(toml_of(flagged, tail) == expected, "the draft update changed more than asked", where)
    if before.get("draft", None if flag else False) == flag:
        check(flagged == text, "a draft update without change changed the text", where)
    got = drv.ask("post", flagged)
    check("error" not in got, "the draft update does not read back: %s" % got, where)

    body = rnd.choice(["", "New body", "+++" + NL_OF(tail) + "x = 1" + NL_OF(tail) + "+++", "ends +++"])
    res = drv.ask("post-body", flagged, body)
    check("error" not in res, "body update failed: %s" % res, where)
    bodied = res["text"]
    close = len(flagged) - len(tail) + 3
    where += "\n--- body %r ---\n%r" % (body, bodied)
    check(bodied.startswith(flagged[:close]) and bodied.endswith(body), "the body update changed the block", where)
    check(toml_of(bodied, bodied[close - 3:]) == expected, "the body update changed the values", where)
    again = drv.ask("post", bodied)
    check(again == got, "the body update reads back otherwise: %s" % again, where)


def NL_OF(tail):
    return "\r\n" if "\r\n" in tail else "\n"


def note_case(rnd, gen, drv):
    nl = rnd.choice(["\n", "\r\n"])
    doc = Doc(nl)
    slug = "".join(rnd.choice(SLUG) for _ in range(rnd.randint(1, 10)))
    has_slug = rnd.random() < 0.8
    for name in order(rnd, ["slug", "x1", "x2"]):
        if name == "slug" and has_slug:
            doc.key("slug", gen.spelled("slug"), gen.value(slug, nl) if rnd.random() < 0.5 else gen.basic(slug), rnd)
        elif name.startswith("x"):
            for _ in range(rnd.randint(1, 2)):
                gen.extra(doc, nl)
    gen.tables(doc, nl)
    body = rnd.choice(["", nl + "Body", nl + nl + "    indented code" + nl, nl + "text +++ more"])
    tail = "+++" + body
    old = doc.text + tail
    case = repr(old)
    want = toml_of(old, tail)
    got = drv.ask("note", old)
    check(got.get("slug") == want.get("slug"), "slug differs: %s" % got, case)

    new_slug = rnd.choice(["", "".join(rnd.choice(SLUG) for _ in range(rnd.randint(1, 8)))])
    res = drv.ask("note-update", old, new_slug, None)
    new = res["text"]
    case += "\n--- slug %r\n--- new ---\n%r" % (new_slug, new)
    if new.startswith("+++"):
        after = toml_of(new, tail)
        expected = dict(want)
        expected.pop("slug", None)
        if new_slug:
            expected["slug"] = new_slug
        check(after == expected, "the update changed more than asked", case)
    else:
        check(not new_slug and set(want) <= {"slug"}, "the block went", case)
    if not new.startswith("+++"):
        return
    edits = []
    if new_slug and has_slug and new_slug != slug:
        it = doc.items["slug"]
        edits.append((it["vb"], it["ve"], writer_quote(new_slug)))
    elif new_slug and not has_slug:
        edits.append((4 if nl == "\n" else 5, 4 if nl == "\n" else 5, "slug = " + writer_quote(new_slug) + nl))
    elif not new_slug and has_slug:
        it = doc.items["slug"]
        edits.append((it["begin"], it["end"], ""))
    expect_spans(old, new, edits, case)


def snippet_case(rnd, gen, drv):
    nl = rnd.choice(["\n", "\r\n"])
    doc = Doc(nl)
    description = gen.string(1, 20)
    filename = (gen.string(1, 6, plus=False).replace("/", "") + ".py") if rnd.random() < 0.7 else None
    for name in order(rnd, ["description", "filename", "x1"]):
        if name == "description":
            doc.key("description", gen.spelled("description"), gen.value(description, nl), rnd)
        elif name == "filename" and filename is not None:
            doc.key("filename", gen.spelled("filename"), gen.value(filename, nl), rnd)
        elif name == "x1":
            for _ in range(rnd.randint(0, 2)):
                gen.extra(doc, nl)
    tail = "+++" + nl + nl + "code = 1" + nl
    old = doc.text + tail
    case = repr(old)
    want = toml_of(old, tail)
    got = drv.ask("snippet", old)
    check(got.get("description") == want["description"] and got.get("filename") == want.get("filename"),
          "values differ: %s" % got, case)
    check(got.get("code") == nl + "code = 1" + nl, "code differs", case)

    new_description = (gen.string(1, 20, plus=False).replace('"', "") or "d") if rnd.random() < 0.7 else None
    res = drv.ask("snippet-update", old, new_description, None, None)
    new = res["text"]
    case += "\n--- new ---\n%r" % new
    after = toml_of(new, tail)
    expected = dict(want)
    if new_description is not None:
        expected["description"] = new_description
    check(after == expected, "the update changed more than asked", case)
    edits = []
    if new_description is not None and new_description != description:
        it = doc.items["description"]
        edits.append((it["vb"], it["ve"], writer_quote(new_description)))
    expect_spans(old, new, edits, case)


def writer_case(rnd, gen, drv):
    """Every block the writers write is TOML that reads the same both ways."""
    title, description = gen.string(plus=False), gen.string(plus=False)
    tags = [gen.string(1, 6, plus=False) for _ in range(rnd.randint(0, 4))]
    slug = "".join(rnd.choice(SLUG) for _ in range(rnd.randint(1, 8))) if rnd.random() < 0.3 else None
    text = drv.ask("post-build", title, description, slug, "\0".join(tags))["text"]
    want = dict(title=title, description=description)
    if slug:
        want["slug"] = slug
    if tags:
        want["tags"] = tags
    check(toml_of(text, "+++\n\n") == want, "tomllib reads the written post otherwise", repr(text))
    got = drv.ask("post", text)
    check(got["title"] == title and got["description"] == description and got["tags"] == tags and got["slug"] == slug,
          "the written post reads back otherwise", repr(text))

    nslug = "".join(rnd.choice(SLUG) for _ in range(rnd.randint(1, 8)))
    body = rnd.choice(["", "Body", "+++ starts like a block", "text\n+++\nmore"])
    text = drv.ask("note-build", nslug, body)["text"]
    check(toml_of(text, "+++\n" + ("\n" + body if body else "")) == {"slug": nslug},
          "tomllib reads the written note otherwise", repr(text))
    got = drv.ask("note", text)
    check(got["slug"] == nslug and got["body"] == body, "the written note reads back otherwise", repr(text))

    sdesc = gen.string(1, 20, plus=False).replace('"', "") or "d"
    sname = gen.string(1, 6, plus=False).replace('"', "").replace("/", "").replace("\\", "") + ".c"
    text = drv.ask("snippet-build", sdesc, sname, "int x;")["text"]
    check(toml_of(text, "+++\n\nint x;") == {"description": sdesc, "filename": sname},
          "tomllib reads the written snippet otherwise", repr(text))
    got = drv.ask("snippet", text)
    check(got["description"] == sdesc and got["filename"] == sname, "the written snippet reads back otherwise",
          repr(text))


def main():
    driver = sys.argv[1]
    cases = int(sys.argv[2]) if len(sys.argv) > 2 else 3000
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else 20240501
    rnd = random.Random(seed)
    global EXTRA
    EXTRA = random.Random(seed + 1)
    gen = Gen(rnd)
    drv = Driver(driver)
    start = time.monotonic()
    counts = dict(post=0, note=0, snippet=0, writer=0)
    failures = 0
    try:
        for i in range(cases):
            for name, fn in (("post", post_case), ("note", note_case), ("snippet", snippet_case),
                             ("writer", writer_case)):
                if name != "post" and i % 3:
                    continue
                try:
                    fn(rnd, gen, drv)
                    counts[name] += 1
                except AssertionError as e:
                    failures += 1
                    if failures <= 5:
                        print("FAIL (%s, case %d, seed %d): %s" % (name, i, seed, e))
    finally:
        drv.close()
    total = sum(counts.values())
    print("%d cases (%s) in %.1f s" % (total, ", ".join("%s %d" % kv for kv in counts.items()),
                                       time.monotonic() - start))
    print("%d passed, %d failed" % (total, failures))
    return 1 if failures or drv.p.returncode else 0


if __name__ == "__main__":
    sys.exit(main())
