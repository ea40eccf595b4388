#!/usr/bin/env python3
"""Fails when a name of the release format is spelled out in product C++ outside release/.

  release_literals.py [--root DIR]

The names live in one place so that the launcher, the extraction, the repair and the publisher cannot
drift apart. Comments may mention them; string literals may not.
"""

import argparse
import os
import sys

# Texts a literal may not contain, and literals it may not be.
SUFFIXES = (".qrtmp", ".qrpart", ".qrnew")
FILE_NAMES = ("PatchInfo.ini", "VersionInfo.ini", "patch.txt", "QuorvelLauncher.log", "QuorvelRPG.bin")
HOME = "release/"
FOLDERS = ("common", "platform", "archive", "release", "patch", "skin", "ui", "app", "cli", "tools")


def string_literals(text):
    """The contents of the narrow and wide string literals of C++ source text, comments skipped."""
    out, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            i = text.find("\n", i)
            i = n if i < 0 else i
        elif text.startswith("/*", i):
            i = text.find("*/", i + 2)
            i = n if i < 0 else i + 2
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            if c == '"':
                out.append(text[i + 1:j])
            i = j + 1
        else:
            i += 1
    return out


def found(root):
    for folder in FOLDERS:
        for d, _, names in os.walk(os.path.join(root, folder)):
            for n in sorted(names):
                path = os.path.relpath(os.path.join(d, n), root).replace(os.sep, "/")
                if not n.endswith((".cpp", ".h")) or path.startswith(HOME):
                    continue
                with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
                    literals = string_literals(f.read())
                for literal in literals:
                    for name in SUFFIXES:
                        if name in literal.lower():
                            yield "%s: %s" % (path, name)
                    if literal in FILE_NAMES:
                        yield "%s: %s" % (path, literal)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
    seen = set(found(parser.parse_args().root))
    for pair in sorted(seen):
        print("spelled out outside %s: %s" % (HOME, pair))
    return 1 if seen else 0


if __name__ == "__main__":
    sys.exit(main())
