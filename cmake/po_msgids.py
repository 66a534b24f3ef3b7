#!/usr/bin/env python3
"""Writes the msgids of a PO catalogue as C string literals, one a line
("...", each followed by a comma), for the program to look them up in the
catalogue: po_msgids.py CATALOGUE OUTPUT. The PO escapes (\\r, \\n, \\")
are C's, so each msgid's quoted pieces are copied as they stand."""
import sys


def msgids(path):
    ids, current, field = [], None, None
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if line.startswith("msgid "):
                current, field = [line[6:]], "msgid"
            elif line.startswith('"') and field == "msgid":
                current.append(line)
            else:
                if field == "msgid" and current is not None:
                    ids.append(current)
                field = "msgstr" if line.startswith("msgstr") else None
                current = None
    return ids


def main():
    source, output = sys.argv[1], sys.argv[2]
    lines = ["// Made from %s at build time: do not edit.\n" % source.rsplit("/", 1)[-1]]
    for pieces in msgids(source):
        if all(p == '""' for p in pieces):
            continue  # the header
        lines.append(" ".join(pieces) + ",\n")
    text = "".join(lines)
    try:
        with open(output, encoding="utf-8") as f:
            if f.read() == text:
                return
    except OSError:
        pass
    with open(output, "w", encoding="utf-8") as f:
        f.write(text)


if __name__ == "__main__":
    main()
