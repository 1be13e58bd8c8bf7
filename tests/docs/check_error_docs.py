#!/usr/bin/env python3
"""Checks the error-code tables of the user documentation against the driver's sources.

    check_error_docs.py [--root DIR]

The driver's failure texts live in its sources as Russian/English pairs
(`Msg{"...", "..."}`) whose first character is the code mark, and as texts
composed at the raise (`RaiseText("8..." + name + "...")`). The documentation
lists them in docs/ru/errors.md and docs/en/errors.md, one table row per
message:

    | 8 | `Russian text without the mark` | `English text without the mark` | advice |

A value filled in when the message is raised is written as `{name}` inside
the text; "\\r" stands for the carriage return some messages hold.

The check fails when
  - a message of the sources has no row with its code and its texts (both
    languages in the same row) in either file;
  - a row names a code or a text that no message of the sources carries;
  - a text piece that the user sees without a code (captions, questions,
    the fixed ends of composed messages) appears in no page of its language;
  - the Russian and English texts of one message begin with different codes.
"""

import argparse
import os
import re
import sys

MARKS = {"1": 1, "2": 2, "3": 3, "4": 4, "5": 5, "6": 6, "7": 7, "8": 8, "9": 9,
         "*": 10, "~": 11, "№": 12}
SOURCE_DIRS = ("base", "addin", "link", "store", "catalogue", "selection", "platform")
DOC_LANGUAGES = ("ru", "en")
PLACEHOLDER = "\x00"


# ---------------------------------------------------------------- sources

def strip_comments(code):
    """The C++ text with comments blanked out; string and character literals kept."""
    out = []
    i, n = 0, len(code)
    while i < n:
        c = code[i]
        if code.startswith("//", i):
            j = code.find("\n", i)
            i = n if j < 0 else j
        elif code.startswith("/*", i):
            j = code.find("*/", i + 2)
            i = n if j < 0 else j + 2
            out.append(" ")
        elif c in "\"'":
            j = i + 1
            while j < n and code[j] != c:
                j += 2 if code[j] == "\\" else 1
            out.append(code[i:j + 1])
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


ESCAPES = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", "\"": "\"", "'": "'", "0": "\0"}


def read_literal(code, i):
    """Reads the string literal starting at code[i] == '"'; returns (text, end index)."""
    assert code[i] == "\""
    out = []
    j = i + 1
    while code[j] != "\"":
        if code[j] == "\\":
            out.append(ESCAPES.get(code[j + 1], code[j + 1]))
            j += 2
        else:
            out.append(code[j])
            j += 1
    return "".join(out), j + 1


def skip_space(code, i):
    while i < len(code) and code[i].isspace():
        i += 1
    return i


def read_literal_run(code, i):
    """Adjacent string literals from i, joined; (text, end) or (None, i) when none starts here."""
    i = skip_space(code, i)
    if i >= len(code) or code[i] != "\"":
        return None, i
    parts = []
    while i < len(code) and code[i] == "\"":
        text, i = read_literal(code, i)
        parts.append(text)
        i = skip_space(code, i)
    return "".join(parts), i


MSG_START = re.compile(r"\bMsg(?:\s+\w+)?\s*\{")
RAISE_TEXT = re.compile(r"\bRaiseText\s*\(")


def msg_pairs(code):
    """(ru, en) of every Msg built from two literal texts."""
    pairs = []
    for m in MSG_START.finditer(code):
        ru, i = read_literal_run(code, m.end())
        if ru is None or code[i] != ",":
            continue
        en, i = read_literal_run(code, i + 1)
        if en is None or code[i] != "}":
            continue
        pairs.append((ru, en))
    return pairs


def raise_text_templates(code):
    """Texts composed at a RaiseText call from literal pieces: a list of pieces each.

    Only calls whose first operand is a literal are read; every operand that is
    not a literal becomes a placeholder between pieces."""
    templates = []
    for m in RAISE_TEXT.finditer(code):
        i = m.end()
        first, i = read_literal_run(code, i)
        if first is None:
            continue
        pieces = [first]
        depth = 0
        while i < len(code):
            c = code[i]
            if c == "\"" and depth == 0:
                text, i = read_literal_run(code, i)
                pieces.append(text)
                continue
            if c == "(":
                depth += 1
            elif c == ")":
                if depth == 0:
                    break
                depth -= 1
            elif c == "+" and depth == 0:
                i = skip_space(code, i + 1)
                if code[i] != "\"":
                    pieces.append(None)  # a value filled in at the raise
                continue
            i += 1
        # Literal neighbours join; neighbouring values make one placeholder.
        template = []
        for p in pieces:
            if template and (p is None) == (template[-1] is None):
                if p is not None:
                    template[-1] += p
            else:
                template.append(p)
        templates.append(template)
    return templates


def string_literals(code):
    """Every string literal run in the text."""
    found = []
    i = 0
    while True:
        i = code.find("\"", i)
        if i < 0:
            return found
        if i > 0 and code[i - 1] == "'":  # the character literal '"'
            i += 1
            continue
        text, i = read_literal_run(code, i)
        found.append(text)


class Sources:
    def __init__(self, root):
        self.marked = []      # (code, ru, en): messages and message beginnings
        self.unmarked = []    # (ru, en): texts shown without a code
        self.mismatched = []  # (ru, en): a pair whose two texts carry different codes
        self.composed = []    # (code, template text with PLACEHOLDERs) from RaiseText
        self.literals = set()
        for folder in SOURCE_DIRS:
            base = os.path.join(root, folder)
            for dirpath, _, files in os.walk(base):
                for name in sorted(files):
                    if name.endswith((".cpp", ".hpp")):
                        with open(os.path.join(dirpath, name), encoding="utf-8") as f:
                            self._add(strip_comments(f.read()))

    def _add(self, code):
        for ru, en in msg_pairs(code):
            mark = ru[:1]
            if mark in MARKS and en[:1] == mark:
                self.marked.append((MARKS[mark], ru[1:], en[1:]))
            elif mark in MARKS or en[:1] in MARKS:
                self.mismatched.append((ru, en))
            else:
                self.unmarked.append((ru, en))
        for template in raise_text_templates(code):
            head = template[0]
            if head and head[0] in MARKS:
                text = "".join(PLACEHOLDER if p is None else p for p in template)
                self.composed.append((MARKS[head[0]], text[1:]))
        self.literals.update(string_literals(code))


# ---------------------------------------------------------------- docs

ROW = re.compile(r"^\|\s*(\S+)\s*\|\s*`([^`]*)`\s*\|\s*`([^`]*)`\s*\|")
PLACEHOLDER_IN_DOC = re.compile(r"\{[^{}]*\}")


def doc_text(cell):
    """A documented text as the driver composes it: {value} becomes PLACEHOLDER, \\r a CR."""
    return PLACEHOLDER_IN_DOC.sub(PLACEHOLDER, cell.replace("\\r", "\r"))


def read_rows(path):
    """(line number, code text, ru, en) of every error-table row of a page."""
    rows = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            m = ROW.match(line)
            if m and m.group(1) not in ("Code", "Код"):
                rows.append((number, m.group(1), doc_text(m.group(2)), doc_text(m.group(3))))
    return rows


def read_pages(root, language):
    folder = os.path.join(root, "docs", language)
    texts = []
    for name in sorted(os.listdir(folder)):
        if name.endswith(".md"):
            with open(os.path.join(folder, name), encoding="utf-8") as f:
                texts.append(f.read().replace("\\r", "\r"))
    return "\n".join(texts)


# ---------------------------------------------------------------- the check

def matches_message(doc, message):
    """A documented text carries a source message: equal, or the message starts it
    and a value follows (a composed text whose beginning is the message)."""
    return doc == message or doc.startswith(message + PLACEHOLDER)


def backed(doc, code, language, sources):
    """Whether a documented text is one the driver raises under that code."""
    index = 1 if language == "ru" else 2
    for c, text in sources.composed:
        if c == code and doc == text:
            return True
    for m in sources.marked:
        if m[0] == code and matches_message(doc, m[index]):
            # The pieces after the first value must be texts of the sources too.
            rest = doc[len(m[index]):].split(PLACEHOLDER)[1:]
            if all(piece == "" or piece in sources.literals for piece in rest):
                return True
    return False


def check(root):
    """The list of problems found; empty when the docs and the sources agree."""
    sources = Sources(root)
    problems = []
    if not sources.marked:
        problems.append("no coded messages found in the sources")
    for ru, en in sources.mismatched:
        problems.append("the Russian and English texts carry different codes: %r / %r" % (ru, en))
    for language in DOC_LANGUAGES:
        path = os.path.join(root, "docs", language, "errors.md")
        if not os.path.exists(path):
            problems.append("%s is missing" % path)
            continue
        rows = read_rows(path)
        where = os.path.relpath(path, root)
        parsed = []
        for number, code_text, ru, en in rows:
            if not code_text.isdigit() or int(code_text) not in MARKS.values():
                problems.append("%s:%d: %r is no code a message carries" % (where, number, code_text))
                continue
            code = int(code_text)
            parsed.append((code, ru, en))
            for lang, text in (("ru", ru), ("en", en)):
                if not backed(text, code, lang, sources):
                    problems.append("%s:%d: code %d, %s text %r is not raised by the driver"
                                    % (where, number, code, lang, text.replace(PLACEHOLDER, "{}")))
        for code, ru, en in sources.marked:
            if not any(c == code and matches_message(r, ru) and matches_message(e, en)
                       for c, r, e in parsed):
                problems.append("%s: no row for code %d %r / %r" % (where, code, ru, en))
        for code, text in sources.composed:
            if not any(c == code and text in (r, e) for c, r, e in parsed):
                problems.append("%s: no row for code %d %r"
                                % (where, code, text.replace(PLACEHOLDER, "{}")))
    for language, index in (("ru", 0), ("en", 1)):
        if not os.path.isdir(os.path.join(root, "docs", language)):
            continue
        pages = read_pages(root, language)
        for pair in sources.unmarked:
            text = pair[index]
            if text.strip() and text not in pages:
                problems.append("docs/%s: the text %r is shown by the driver but documented nowhere"
                                % (language, text))
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=os.path.join(os.path.dirname(__file__), "..", ".."))
    args = parser.parse_args()
    problems = check(os.path.abspath(args.root))
    for p in problems:
        print(p)
    if problems:
        print("error docs: %d problem(s)" % len(problems))
        return 1
    print("error docs: every message of the driver is documented")
    return 0


if __name__ == "__main__":
    sys.exit(main())
