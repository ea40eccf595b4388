#!/usr/bin/env python3
"""Publishes one release shape for the WAN benchmark: a game tree of COUNT files of MIN..MAX bytes
of random data (incompressible, as most game data is once packed) published as version 101 by
quorvel-publish, plus the list of server paths a player fetches, in the order the patcher asks.
Deterministic for a given seed.

  make_release.py --publish BIN --out DIR --count N --min-bytes A --max-bytes B --base-url URL

Writes DIR/tree (the game as the player has it afterwards), DIR/release (the server's root) and
DIR/paths.txt (one server path a line: patch.txt, PatchInfo.ini, then every item), DIR/bytes (the
tree's size) and DIR/served (the items' size on the server)."""
import argparse
import os
import random
import re
import shutil
import subprocess
import sys

VERSION = 101


def write_tree(tree, count, low, high, rng):
    total = 0
    for i in range(count):
        size = rng.randint(low, high)
        # A game's spread: a few dozen folders, two levels deep.
        name = os.path.join(tree, "data%02d" % (i % 24), "set%d" % (i % 5), "item%05d.dat" % i)
        os.makedirs(os.path.dirname(name), exist_ok=True)
        with open(name, "wb") as f:
            f.write(rng.randbytes(size))
        total += size
    return total


def served_items(info):
    """The item names of the version's section, in list order."""
    items, section = [], None
    with open(info, encoding="latin-1") as f:
        for line in f:
            line = line.strip()
            m = re.fullmatch(r"\[(.*)\]", line)
            if m:
                section = m.group(1)
            elif section == str(VERSION) and "=" in line:
                key, value = line.split("=", 1)
                items.append((int(key), value))
    return [name for _, name in sorted(items)]


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--publish", required=True)
    p.add_argument("--out", required=True)
    p.add_argument("--count", type=int, required=True)
    p.add_argument("--min-bytes", type=int, required=True)
    p.add_argument("--max-bytes", type=int, required=True)
    p.add_argument("--base-url", required=True)
    p.add_argument("--seed", type=int, default=17)
    a = p.parse_args()

    shutil.rmtree(a.out, ignore_errors=True)
    tree, release = os.path.join(a.out, "tree"), os.path.join(a.out, "release")
    os.makedirs(tree)
    os.makedirs(release)
    total = write_tree(tree, a.count, a.min_bytes, a.max_bytes, random.Random(a.seed))
    # Plain items only: the peers fetch the same paths, so every tool moves the same bytes.
    subprocess.run([a.publish, "--release", release, "--tree", tree, "--version", str(VERSION),
                    "--base-url", a.base_url, "--deltas", "0"], check=True, stdout=subprocess.DEVNULL)
    # The patch list names a news page; an empty one keeps the server's log free of misses.
    open(os.path.join(release, "tzan", "news.html"), "w").close()
    # A version lists at most 1,000 names, so the publisher packs what is left into the version's
    # archive: the list then holds fewer items than the tree has files.
    items = served_items(os.path.join(release, "tzan", "PatchInfo.ini"))
    if not items:
        sys.exit("make_release.py: the release lists no items")
    with open(os.path.join(a.out, "paths.txt"), "w") as f:
        f.write("tzan/patch.txt\ntzan/PatchInfo.ini\n")
        f.writelines("tzan/patch/%s\n" % name for name in items)
    served = sum(os.path.getsize(os.path.join(release, "tzan", "patch", name)) for name in items)
    with open(os.path.join(a.out, "served"), "w") as f:
        f.write("%d\n" % served)
    with open(os.path.join(a.out, "bytes"), "w") as f:
        f.write("%d\n" % total)


if __name__ == "__main__":
    main()
