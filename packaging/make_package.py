#!/usr/bin/env python3
"""Writes one release zip: the DLL and kqhost as given, the user guides as
HTML, the example script and the install note, under one top folder.

The zip depends only on its inputs' contents: entries in a fixed order, each
with the same time (SOURCE_DATE_EPOCH, else the source's last commit), fixed
permissions and no extra fields, so two builds of one commit give the same
bytes wherever and whenever they ran.
"""
import argparse
import html
import os
import posixpath
import re
import subprocess
import sys
import tempfile
import time
import zipfile

# Documents shipped, by their path in the source tree and in the package.
# A link between them is rewritten to the shipped file; a link to anything
# not shipped keeps its text and loses the link.
SHIPPED_DOCS = {
    "docs/actions.md": "docs/actions.html",
    "docs/host.md": "docs/host.html",
}
SHIPPED_FILES = {
    "examples/demo.kq": "examples/demo.kq",
}
ZIP_EPOCH = 315532800  # 1980-01-01, the earliest time a zip entry can hold

PAGE = """<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>{title}</title>
<style>
body {{ font-family: sans-serif; max-width: 50em; margin: 2em auto; padding: 0 1em; line-height: 1.4; }}
table {{ border-collapse: collapse; }}
th, td {{ border: 1px solid #999; padding: 0.2em 0.5em; text-align: left; vertical-align: top; }}
pre {{ background: #f4f4f4; padding: 0.5em; overflow-x: auto; }}
code {{ background: #f4f4f4; }}
</style>
</head>
<body>
{body}</body>
</html>
"""

LINK = re.compile(r'<a href="([^"]*)"((?: title="[^"]*")?)>(.*?)</a>', re.DOTALL)


def entry_time(source):
    if "SOURCE_DATE_EPOCH" in os.environ:
        return int(os.environ["SOURCE_DATE_EPOCH"])
    try:
        out = subprocess.run(["git", "-C", source, "log", "-1", "--format=%ct"],
                             capture_output=True, text=True, check=True).stdout.strip()
        return int(out)
    except (OSError, subprocess.CalledProcessError, ValueError):
        return ZIP_EPOCH


def rewrite_links(body, doc_path, shipped):
    """Points links between shipped files at their package paths."""
    here = posixpath.dirname(shipped[doc_path])

    def fix(m):
        target, title, text = m.group(1), m.group(2), m.group(3)
        if re.match(r"^[a-z][a-z0-9+.-]*:", target, re.I) or target.startswith("#"):
            return m.group(0)
        path, _, fragment = target.partition("#")
        source = posixpath.normpath(posixpath.join(posixpath.dirname(doc_path), html.unescape(path)))
        if source not in shipped:
            return text
        new = posixpath.relpath(shipped[source], here) + ("#" + fragment if fragment else "")
        return '<a href="{}"{}>{}</a>'.format(html.escape(new), title, text)

    return LINK.sub(fix, body)


def doc_html(source, doc_path, shipped):
    with open(os.path.join(source, doc_path), encoding="utf-8") as f:
        text = f.read()
    body = subprocess.run(["cmark-gfm", "--extension", "table"], input=text,
                          capture_output=True, text=True, check=True).stdout
    first = re.search(r"^# (.+)$", text, re.M)
    title = html.escape(first.group(1)) if first else doc_path
    return PAGE.format(title=title, body=rewrite_links(body, doc_path, shipped)).encode("utf-8")


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--source", required=True, help="source tree")
    p.add_argument("--dll", required=True)
    p.add_argument("--kqhost", required=True)
    p.add_argument("--name", required=True, help="package name: the zip's top folder")
    p.add_argument("--version", required=True)
    p.add_argument("--arch", required=True, choices=["win32", "win64"])
    p.add_argument("--out", required=True, help="zip to write")
    a = p.parse_args()

    shipped = dict(SHIPPED_DOCS)
    shipped.update(SHIPPED_FILES)
    entries = {}  # package path -> (bytes, mode)
    for path in (a.dll, a.kqhost):
        with open(path, "rb") as f:
            entries[os.path.basename(path)] = (f.read(), 0o755)
    for doc in SHIPPED_DOCS:
        entries[SHIPPED_DOCS[doc]] = (doc_html(a.source, doc, shipped), 0o644)
    for src, dst in SHIPPED_FILES.items():
        with open(os.path.join(a.source, src), "rb") as f:
            entries[dst] = (f.read(), 0o644)
    with open(os.path.join(a.source, "packaging", "INSTALL.txt.in"), encoding="utf-8") as f:
        note = f.read()
    bits = "64" if a.arch == "win64" else "32"
    note = note.replace("@VERSION@", a.version).replace("@BITS@", bits).replace("@NAME@", a.name)
    # Windows line ends: the note is read in Windows' own editors.
    entries["INSTALL.txt"] = (note.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8"), 0o644)

    stamp = time.gmtime(max(entry_time(a.source), ZIP_EPOCH))[:6]
    os.makedirs(os.path.dirname(os.path.abspath(a.out)), exist_ok=True)
    fd, tmp = tempfile.mkstemp(dir=os.path.dirname(os.path.abspath(a.out)), suffix=".zip.tmp")
    os.close(fd)
    try:
        with zipfile.ZipFile(tmp, "w") as z:
            for path in sorted(entries):
                data, mode = entries[path]
                info = zipfile.ZipInfo(a.name + "/" + path, date_time=stamp)
                info.create_system = 3  # Unix, so the permissions below are kept
                info.external_attr = (0o100000 | mode) << 16
                info.compress_type = zipfile.ZIP_DEFLATED
                z.writestr(info, data, compresslevel=9)
        os.chmod(tmp, 0o644)
        os.replace(tmp, a.out)
    except BaseException:
        os.unlink(tmp)
        raise
    return 0


if __name__ == "__main__":
    sys.exit(main())
