#!/usr/bin/env python3
"""Every relative link and picture in the documentation names a file that exists.

    check_links.py [--root DIR]

Reads README.md and every page under docs/; links to web addresses and
anchors within a page are not followed.
"""

import argparse
import os
import re
import sys

LINK = re.compile(r"!?\[[^\]]*\]\(([^)\s]+)\)")


def pages(root):
    yield os.path.join(root, "README.md")
    for dirpath, dirnames, files in os.walk(os.path.join(root, "docs")):
        dirnames.sort()
        for name in sorted(files):
            if name.endswith(".md"):
                yield os.path.join(dirpath, name)


def check(root):
    problems = []
    for page in pages(root):
        with open(page, encoding="utf-8") as f:
            text = f.read()
        # Code blocks and code spans hold examples, not links.
        text = re.sub(r"```.*?```", "", text, flags=re.S)
        text = re.sub(r"`[^`]*`", "", text)
        for target in LINK.findall(text):
            if re.match(r"^[a-z]+:", target) or target.startswith("#"):
                continue
            path = os.path.normpath(os.path.join(os.path.dirname(page), target.split("#")[0]))
            if not os.path.exists(path):
                problems.append("%s: link to %s, which does not exist" % (os.path.relpath(page, root), target))
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=os.path.join(os.path.dirname(__file__), "..", ".."))
    args = parser.parse_args()
    problems = check(os.path.abspath(args.root))
    for p in problems:
        print(p)
    print("links: %s" % ("%d broken" % len(problems) if problems else "every link resolves"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
