#!/usr/bin/env python3
"""Fails when a product source includes, or a product target links, something from a higher layer.

  include_direction.py [--root DIR]

A folder may use its own layer and the layers below it.
"""

import argparse
import os
import re
import sys

# Lowest first.
LAYERS = [("common",), ("platform",), ("archive",), ("release",), ("patch",), ("ui", "res"), ("skin",),
          ("app", "cli", "tools")]
# Folders held below their layer: the publisher needs the release format, not the worker or the app.
CEILINGS = {"tools/publish": "release"}
SOURCE_SUFFIXES = (".cpp", ".h", ".hpp", ".inc")

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
DEFINE = re.compile(r"\badd_(?:library|executable)\(\s*([\w.+-]+)")
LINK = re.compile(r"\btarget_link_libraries\(\s*([\w.+-]+)([^)]*)\)")


def layer_of(folder):
    for i, names in enumerate(LAYERS):
        if folder in names:
            return i
    return None


def allowed_layer(path):
    """The highest layer the file at path (relative, "/"-separated) may use."""
    top = layer_of(path.split("/")[0])
    for prefix, ceiling in CEILINGS.items():
        if path.startswith(prefix + "/"):
            top = min(top, layer_of(ceiling))
    return top


def points_up(user, used):
    """Whether the file or folder `user` may not use `used` (both relative, "/"-separated)."""
    if any(user.startswith(p + "/") and used.startswith(p + "/") for p in CEILINGS):
        return False
    layer = layer_of(used.split("/")[0]) if "/" in used else None
    return layer is not None and layer > allowed_layer(user)


def product_files(root, suffixes):
    for folder in (name for names in LAYERS for name in names):
        for d, _, names in os.walk(os.path.join(root, folder)):
            for n in sorted(names):
                if n.endswith(suffixes):
                    yield os.path.relpath(os.path.join(d, n), root).replace(os.sep, "/")


def include_pairs(root):
    for path in product_files(root, SOURCE_SUFFIXES):
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            for header in INCLUDE.findall(f.read()):
                if points_up(path, header):
                    yield "%s -> %s" % (path, header)


def link_pairs(root):
    files = list(product_files(root, ("CMakeLists.txt", ".cmake")))
    texts = {}
    folder_of = {}  # target -> the folder of the CMakeLists that defines it
    for path in files:
        with open(os.path.join(root, path), encoding="utf-8") as f:
            texts[path] = f.read()
        for name in DEFINE.findall(texts[path]):
            folder_of[name] = os.path.dirname(path)
    for path, text in texts.items():
        for target, args in LINK.findall(text):
            if target not in folder_of:
                continue
            for used in re.findall(r"[\w.+-]+", args):
                if used in folder_of and points_up(folder_of[target] + "/", folder_of[used] + "/"):
                    yield "%s -> %s" % (target, used)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
    root = parser.parse_args().root
    upward = sorted(set(include_pairs(root)) | set(link_pairs(root)))
    for pair in upward:
        print("points up: %s" % pair)
    return 1 if upward else 0


if __name__ == "__main__":
    sys.exit(main())
