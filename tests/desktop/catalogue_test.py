#!/usr/bin/env python3
"""The message catalogue po/en.po beside the sources: every Russian text
the program can show (each string literal with Cyrillic letters in its
sources, adjacent literals joined) is a msgid with a non-empty English
msgstr that keeps the msgid's line breaks and its leading and trailing
spaces, and msgfmt's own checks pass.

Usage: catalogue_test.py --source DIR --msgfmt PATH TEST...
"""
import argparse
import os
import re
import subprocess
import sys
import traceback

OPTIONS = None
AREAS = ("app", "base", "codec", "display", "pipeline", "platform", "ui")
# A C++ string literal ("..." with its escapes), with an optional u or u8 prefix.
LITERAL = r'(?:u8|u)?"(?:[^"\\\n]|\\.)*"'


def unescape(body):
    """The text of a C or PO string literal's body (both escape alike)."""
    out, i = [], 0
    escapes = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\", "'": "'", "a": "\a", "b": "\b",
               "f": "\f", "v": "\v", "?": "?"}
    while i < len(body):
        c = body[i]
        if c == "\\":
            i += 1
            if body[i] in escapes:
                out.append(escapes[body[i]])
            else:
                raise ValueError("an escape the catalogue test does not read: \\%s" % body[i])
        else:
            out.append(c)
        i += 1
    return "".join(out)


def strip_comments(code):
    """C++ code with its comments blanked out (string literals kept)."""
    pattern = re.compile(r'//[^\n]*|/\*.*?\*/|' + LITERAL + r"|'(?:[^'\\\n]|\\.)*'", re.S)
    return pattern.sub(lambda m: m.group(0) if m.group(0)[0] in "u\"'" else " ", code)


def russian_literals():
    """{text: "file:line"} for every string literal with Cyrillic letters."""
    found = {}
    sequence = re.compile(r'u"(?:[^"\\\n]|\\.)*"(?:\s*"(?:[^"\\\n]|\\.)*")*')
    for area in AREAS:
        for root, _, files in os.walk(os.path.join(OPTIONS.source, area)):
            for name in sorted(files):
                if not name.endswith((".cpp", ".h")):
                    continue
                path = os.path.join(root, name)
                with open(path, encoding="utf-8") as f:
                    code = strip_comments(f.read())
                for match in sequence.finditer(code):
                    pieces = re.findall(r'"((?:[^"\\\n]|\\.)*)"', match.group(0))
                    text = unescape("".join(pieces))
                    if re.search("[А-Яа-яЁё]", text):
                        line = code.count("\n", 0, match.start()) + 1
                        found.setdefault(text, "%s:%d" % (os.path.relpath(path, OPTIONS.source), line))
    return found


def catalogue():
    """[(msgid, msgstr)] of po/en.po, the header left out."""
    entries, current, field = [], {}, None
    with open(os.path.join(OPTIONS.source, "po", "en.po"), encoding="utf-8") as f:
        lines = f.read().splitlines() + [""]
    for line in lines:
        line = line.strip()
        keyword = re.match(r'(msgid|msgstr)\s+"(.*)"$', line)
        if keyword:
            if keyword.group(1) == "msgid" and "msgid" in current:
                entries.append(current)
                current = {}
            field = keyword.group(1)
            current[field] = unescape(keyword.group(2))
        elif line.startswith('"') and field:
            current[field] += unescape(line[1:-1])
        elif line.startswith("msg"):
            raise AssertionError("a catalogue line the test does not read: %r" % line)
        else:
            field = None
    if "msgid" in current:
        entries.append(current)
    return [(e["msgid"], e.get("msgstr", "")) for e in entries if e["msgid"]]


def test_every_russian_text_has_an_english_one():
    entries = catalogue()
    ids = [msgid for msgid, _ in entries]
    assert len(ids) == len(set(ids)), "a msgid twice: %r" % sorted({i for i in ids if ids.count(i) > 1})
    translations = dict(entries)
    literals = russian_literals()
    assert len(literals) >= 30, "the scan found only %d Russian texts" % len(literals)
    missing = ["%s: %r" % (where, text) for text, where in sorted(literals.items(), key=lambda x: x[1])
               if text not in translations]
    assert not missing, "po/en.po has no entry for:\n  " + "\n  ".join(missing)
    for msgid, msgstr in entries:
        assert msgstr.strip(), "no English text for %r" % msgid
        assert not re.search("[А-Яа-яЁё]", msgstr), "Russian left in the English text %r" % msgstr
        # A message is put together from these texts and names: the English
        # text keeps the Russian one's line breaks and spaces at its ends.
        lead = lambda s: re.match(r"[\r\n ]*", s).group(0)
        trail = lambda s: re.search(r"[\r\n ]*$", s).group(0)
        assert lead(msgstr) == lead(msgid) and trail(msgstr) == trail(msgid), (msgid, msgstr)
        assert msgstr.count("\r") == msgid.count("\r") and msgstr.count("\n") == msgid.count("\n"), (msgid, msgstr)
    # Entries for texts the sources no longer hold are left over.
    stale = [msgid for msgid in ids if msgid not in literals]
    assert not stale, "po/en.po has entries for texts no source holds: %r" % stale


def test_the_catalogue_passes_msgfmts_checks():
    done = subprocess.run([OPTIONS.msgfmt, "--check", "--statistics", "-o", os.devnull,
                           os.path.join(OPTIONS.source, "po", "en.po")],
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    said = done.stderr.decode(errors="replace")
    assert done.returncode == 0, said
    # Every entry translated, none fuzzy, and no warning.
    assert re.fullmatch(r"\d+ translated messages\.\n", said), said


def main():
    global OPTIONS
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--msgfmt", default="msgfmt")
    parser.add_argument("tests", nargs="*")
    OPTIONS = parser.parse_args()
    OPTIONS.source = os.path.abspath(OPTIONS.source)
    tests = {name[5:]: f for name, f in globals().items() if name.startswith("test_")}
    failed = 0
    for name in OPTIONS.tests or sorted(tests):
        try:
            tests[name]()
            print("ok   %s" % name)
        except Exception:
            failed += 1
            print("FAIL %s" % name)
            traceback.print_exc()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
