#!/usr/bin/env python3
"""The draft flag and date key of post records against tomllib.

Writes posts whose front matter gives `date` and `draft` in the forms Hugo,
Zola and people write (local dates and date-times, offset date-times,
strings of every kind, booleans and strings for draft, keys quoted or
dotted, inside a table, CRLF, comments), lists them with records_driver
(quorlina_post_list_ext) and checks every record against what tomllib reads
from the same block:
  - "draft" is true exactly when the top-level draft is the boolean true;
  - "date_key" is null when there is no top-level date value; a string's
    value when it is a string; otherwise TOML text that tomllib reads as the
    same value, and that is the text as written.

usage: records_differential.py DRIVER [CASES] [SEED]
Exits 77 (skipped) when this Python has no tomllib.
"""
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile

try:
    import tomllib
except ImportError:  # Python before 3.11
    print("tomllib not available; skipped")
    sys.exit(77)

DATES = [
    "2024-05-01", "1979-05-27", "2024-05-01T10:00:00Z", "2024-05-01t10:00:00z",
    "2024-05-01T10:00:00+02:00", "2024-05-01T10:00:00.123-07:30", "2024-05-01 10:00:00Z",
    "2024-05-01T10:00:00", "2024-05-01T10:00:00.5", "1979-05-27 07:32:00", "07:32:00", "20240501",
]
STRINGS = ["2024-05-01", "May 1st, 2024", "", "caf\u00e9 \u65e5", "a\\\"b", "tab\\there"]


def date_value(rnd):
    """A TOML value for `date`, and whether it is a string."""
    kind = rnd.randrange(7)
    if kind < 3:
        return rnd.choice(DATES), False
    s = rnd.choice(STRINGS)
    if kind == 3:
        return '"%s"' % s, True
    if kind == 4:
        return "'%s'" % s.replace("\\", ""), True
    if kind == 5:
        return '"""%s"""' % s, True
    return rnd.choice(["[2024, 5, 1]", "{ year = 2024 }", "true"]), False


def draft_value(rnd):
    return rnd.choice(["true", "false", '"true"', "'true'", "1", "[true]", "true # still writing", "false # done"])


def make_post(rnd):
    nl = "\r\n" if rnd.random() < 0.25 else "\n"
    top = ['title = "T"', 'description = "D"']
    table = []
    if rnd.random() < 0.8:
        v, _ = date_value(rnd)
        form = rnd.randrange(5)
        if form == 0:
            top.append('"date" = ' + v)
        elif form == 1:
            table.append("date = " + v)  # inside [params]: not the post's
        elif form == 2:
            top.append("date.year = 2024")  # dotted: a table, not a value
        else:
            top.append("date = " + v)
    if rnd.random() < 0.8:
        v = draft_value(rnd)
        form = rnd.randrange(5)
        if form == 0:
            top.append("'draft' = " + v)
        elif form == 1:
            table.append("draft = " + v)
        elif form == 2:
            top.append("draft.really = " + v)
        else:
            top.append("draft = " + v)
    rnd.shuffle(top)
    if rnd.random() < 0.3:
        top.insert(rnd.randrange(len(top) + 1), "# a comment with date = 1 and draft = true")
    lines = top + (["", "[params]"] + table if table or rnd.random() < 0.2 else [])
    return "+++" + nl + nl.join(lines) + nl + "+++" + nl + "Body" + nl


def expected(block):
    """What tomllib reads: the draft flag, the top-level date value (None
    when there is none, or when `date` is a table made by dotted keys), and
    whether that value is a string."""
    doc = tomllib.loads(block)
    draft = doc.get("draft") is True
    date = doc.get("date")
    if date is None or "date.year" in block:
        return draft, None, None
    return draft, date, isinstance(date, str)


def main():
    driver = sys.argv[1]
    cases = int(sys.argv[2]) if len(sys.argv) > 2 else 500
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    rnd = random.Random(seed)
    root = tempfile.mkdtemp(prefix="quorlina-records-")
    try:
        posts = {}
        for i in range(cases):
            # One post per day, so the list order is the dates'.
            y, d = 2000 + i // 300, 1 + i % 28
            m = 1 + (i // 28) % 10
            rel = "content/blog/%04d/%02d/%02d/p%d.md" % (y, m, d, i)
            text = make_post(rnd)
            path = os.path.join(root, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(text.encode("utf-8"))
            posts[path] = text
        run = subprocess.run([driver, root], capture_output=True)
        if run.returncode != 0:
            print("the driver failed:", run.stderr.decode(errors="replace"))
            return 1
        records = json.loads(run.stdout.decode("utf-8"))
        failures = 0
        seen = {"draft": 0, "string date": 0, "other date": 0, "no date": 0}
        if len(records) != len(posts):
            print("records: %d, posts: %d" % (len(records), len(posts)))
            failures += 1
        for rec in records:
            text = posts[rec["path"]]
            block = text[3:text.index("+++", 3)]
            draft, date, is_string = expected(block)
            seen["draft"] += draft
            seen["no date" if date is None else "string date" if is_string else "other date"] += 1
            problems = []
            if rec["draft"] != draft:
                problems.append("draft %r, tomllib %r" % (rec["draft"], draft))
            key = rec["date_key"]
            if date is None:
                if key is not None:
                    problems.append("date_key %r, tomllib has no date" % key)
            elif key is None:
                problems.append("date_key null, tomllib %r" % (date,))
            elif is_string:
                if key != date:
                    problems.append("date_key %r, tomllib %r" % (key, date))
            else:
                if tomllib.loads("d = " + key)["d"] != date:
                    problems.append("date_key %r reads as %r, tomllib %r" % (key, tomllib.loads("d = " + key)["d"], date))
                if ("date = " + key) not in block and ('"date" = ' + key) not in block:
                    problems.append("date_key %r is not the text as written" % key)
            if problems:
                failures += 1
                if failures <= 10:
                    print("%s:\n%s\n  %s" % (rec["path"], text, "\n  ".join(problems)))
        print("%d posts (%s), %d records differ"
              % (len(posts), ", ".join("%s %d" % kv for kv in seen.items()), failures))
        return 1 if failures else 0
    finally:
        shutil.rmtree(root)


if __name__ == "__main__":
    sys.exit(main())
