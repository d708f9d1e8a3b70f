#!/usr/bin/env python3
"""A peer for the benchmark: lists the snippets, posts and notes of a site
as the library's three list calls do, in plain Python with tomllib (3.11),
and prints the three lists as one JSON object. Reads every file whole.

    python3 bench/peers/list_site.py SITE_ROOT
"""
import datetime
import json
import os
import sys
import tomllib


def split_front_matter(text):
    """The TOML between the opening and the closing "+++", and the rest."""
    if not text.startswith("+++"):
        return None, text
    end = text.find("\n+++", 3)
    if end < 0:
        raise ValueError("unclosed front matter")
    block = text[3:end].lstrip("\r\n")
    rest = text[end + 4:]
    return tomllib.loads(block), rest


def read(path):
    with open(path, "rb") as f:
        return f.read().decode("utf-8", "surrogateescape")


def date_of(stem):
    return datetime.datetime.fromtimestamp(int(stem), datetime.timezone.utc).strftime("%Y-%m-%d")


def snippets(root):
    out = []
    d = os.path.join(root, "content", "snippets")
    for e in os.scandir(d) if os.path.isdir(d) else []:
        stem, dot, ext = e.name.rpartition(".")
        if not dot or not stem or not ext or stem in ("index", "_index") or not e.is_file(follow_symlinks=False):
            continue
        fm, rest = split_front_matter(read(e.path))
        code = rest[1:] if rest.startswith("\n") else rest
        out.append({"id": stem, "date": date_of(stem), "description": fm.get("description", ""),
                    "filename": fm.get("filename", e.name), "code": code})
    out.sort(key=lambda r: r["date"], reverse=True)
    return out


def posts(root):
    out = []
    blog = os.path.join(root, "content", "blog")
    for dirpath, dirnames, filenames in os.walk(blog):
        parts = os.path.relpath(dirpath, blog).split(os.sep)
        if len(parts) != 3:
            continue
        for name in filenames:
            if not name.endswith(".md") or name in ("index.md", "_index.md"):
                continue
            fm, _ = split_front_matter(read(os.path.join(dirpath, name)))
            out.append({"date": "-".join(parts), "slug": fm.get("slug", name[:-3]), "title": fm["title"],
                        "tags": fm.get("tags", [])})
    out.sort(key=lambda r: r["date"], reverse=True)
    return out


def notes(root):
    out = []
    d = os.path.join(root, "content", "notes")
    for e in os.scandir(d) if os.path.isdir(d) else []:
        if not e.name.endswith(".md") or e.name in ("index.md", "_index.md") or not e.is_file(follow_symlinks=False):
            continue
        fm, _ = split_front_matter(read(e.path))
        slug = (fm or {}).get("slug")
        stem = e.name[:-3]
        out.append({"date": date_of(stem), "id": slug or stem, "slug": slug})
    out.sort(key=lambda r: r["date"], reverse=True)
    return out


def main(root):
    json.dump({"snippets": snippets(root), "posts": posts(root), "notes": notes(root)}, sys.stdout,
              ensure_ascii=False, separators=(",", ":"))


if __name__ == "__main__":
    main(sys.argv[1])
