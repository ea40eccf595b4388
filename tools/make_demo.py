#!/usr/bin/env python3
"""Builds the demo data set the way an operator works: four successive game trees (100 to 103) are
published one after another with quorvel-publish into a patch server tree, signed with the demo key.
It writes an install at version 100 and the install as it must look at version 103.

  make_demo.py OUT --base-url http://127.0.0.1:PORT [--publish PATH] [--key PEM]
      writes OUT/trees/NNN, OUT/server, OUT/install and OUT/expected
  make_demo.py OUT --check INSTALL                     compares INSTALL with OUT/expected

The server tree is served at "/" by tools/patch_server.py (or any static web server): "/tzan/patch.txt"
is the patch list, whose line 1 names "/tzan/PatchInfo.ini", line 2 the news page and line 3 the patch
file base "/tzan/patch". Version 101 brings plain files, 102 one archive, 103 plain files again; the
publisher moves into 103's archive what an older archive would otherwise overwrite. Only standard
library modules are used, and every file but the signature is the same on every run.
"""

import argparse
import configparser
import os
import random
import shutil
import subprocess
import sys

INSTALLED_VERSION = 100
PATCH_LIST_EXAMINED_BYTES = 200  # the launcher looks no further into the patch list
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_PUBLISH = os.path.join(ROOT, "build", "native", "tools", "publish", "quorvel-publish")
DEFAULT_KEY = os.path.join(ROOT, "tools", "demo-keys", "demo-release-key.pem")
# Files of the player's own: in the install, never published.
PLAYER_FILES = {"option.ini": b"[Member]\r\nid=demo\r\n"}


def noise(seed, size):
    return random.Random(seed).randbytes(size)


def text_lines(title, count):
    """Compressible text, so deflated archive entries really shrink."""
    return "".join("%s line %04d: the quick brown fox jumps over the lazy dog\r\n" % (title, i)
                   for i in range(count)).encode("ascii")


def tree_100():
    """The game as the installer ships it, published as version 100."""
    return {
        "QuorvelRPG.bin": b"QuorvelRPG demo stand-in: the launcher starts this file; it is not a game.\r\n",
        "readme.txt": text_lines("readme v100", 20),
        "data/map01.map": noise(1001, 40_000),
        "data/map02.map": noise(1002, 30_000),
        "data/items/weapons.dat": noise(1003, 12_000),
        "ui/skin/button.bmp": noise(1004, 9_000),
        "sound/bgm/title.ogg": noise(1005, 300_000),
    }


# What changes in each version, and whether it is published as one archive.
CHANGES = {
    101: (False, {
        "readme.txt": text_lines("readme v101", 22),
        "data/map01.map": noise(2001, 45_000),
        "data/items/weapons.dat": noise(2002, 15_000),
        "ui/font/readme.txt": text_lines("font notes", 30),
        "data/quest/q001.dat": text_lines("quest 1 v101", 200),
    }),
    102: (True, {
        "readme.txt": text_lines("readme v102", 23),
        "data/quest/q002.dat": text_lines("quest 2", 300),
        "data/npc/dialog/town.txt": text_lines("town dialog", 40),
        "data/world/zone1/zone1.map": noise(2003, 64_000),
        "effects/fire/fire01.dds": noise(3002, 70_000),
        "effects/fire/fire02.dds": noise(3003, 65_536),
    }),
    103: (False, {
        "readme.txt": text_lines("readme v103", 24),
        "data/items/weapons.dat": noise(2005, 16_000),
        "client/config.dat": b"[client]\r\nresolution=1024x768\r\nsound=on\r\n",
        "sound/bgm/battle.ogg": noise(2004, 1_500_000),
        "ui/skin/button.bmp": noise(3004, 10_000),
        "data/quest/q001.dat": text_lines("quest 1 v103", 210),
        "screenshots/read me first.txt": b"Screenshots land here.\r\n",
    }),
}


def trees():
    """Version -> the whole game tree at that version."""
    result = {INSTALLED_VERSION: tree_100()}
    current = dict(result[INSTALLED_VERSION])
    for version in sorted(CHANGES):
        current.update(CHANGES[version][1])
        result[version] = dict(current)
    return result


def patch_list_fits(base_url):
    text = ("[QuorvelRPG]\ninfo=%s/tzan/PatchInfo.ini\nnews=%s/tzan/news.html\nbase=%s/tzan/patch\n"
            % (base_url, base_url, base_url))
    return len(text.encode("ascii")) <= PATCH_LIST_EXAMINED_BYTES


NEWS_PAGE = """<!DOCTYPE html>
<html lang="ko"><head><meta charset="utf-8"><title>QuorvelRPG 소식</title></head>
<body style="font-family: sans-serif; background: #10141c; color: #e8e0c8">
<h2>QuorvelRPG 데모 패치 서버</h2>
<ul>
<li>101: 새 지도와 무기 자료</li>
<li>102: 퀘스트와 마을 대화</li>
<li>103: 전투 음악과 설정</li>
</ul>
</body></html>
"""


def write(path, data):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def version_file(version):
    return ("[VERSION]\r\nversion=%d\r\n" % version).encode("ascii")


def publish(tool, key, server, tree_dir, version, base_url, archive):
    args = [tool, "--release", server, "--tree", tree_dir, "--version", str(version), "--sign", key,
            "--base-url", base_url]
    if archive:
        args.append("--archive")
    p = subprocess.run(args, capture_output=True, text=True)
    sys.stdout.write(p.stdout)
    sys.stderr.write(p.stderr)
    if p.returncode != 0:
        raise SystemExit("make_demo: quorvel-publish failed for version %d" % version)


def generate(out, base_url, tool, key):
    base_url = base_url.rstrip("/")
    if not patch_list_fits(base_url):
        raise SystemExit("make_demo: base URL too long: the patch list must fit in %d bytes"
                         % PATCH_LIST_EXAMINED_BYTES)
    if not os.access(tool, os.X_OK):
        raise SystemExit("make_demo: %s is missing (scripts/build.sh builds it)" % tool)
    # The server may already be serving OUT/server: its contents are replaced, not the folder.
    for part in ("install", "expected", "trees"):
        shutil.rmtree(os.path.join(out, part), ignore_errors=True)
    server = os.path.join(out, "server")
    os.makedirs(server, exist_ok=True)
    for entry in os.listdir(server):
        path = os.path.join(server, entry)
        shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)
    install = os.path.join(out, "install")
    expected = os.path.join(out, "expected")

    all_trees = trees()
    for version, files in sorted(all_trees.items()):
        tree_dir = os.path.join(out, "trees", str(version))
        for name, data in files.items():
            write(os.path.join(tree_dir, *name.split("/")), data)
        archive = CHANGES[version][0] if version in CHANGES else False
        publish(tool, key, server, tree_dir, version, base_url, archive)
    write(os.path.join(server, "tzan", "news.html"), NEWS_PAGE.encode("utf-8"))

    last = max(all_trees)
    for name, data in list(all_trees[INSTALLED_VERSION].items()) + list(PLAYER_FILES.items()):
        write(os.path.join(install, *name.split("/")), data)
    write(os.path.join(install, "VersionInfo.ini"), version_file(INSTALLED_VERSION))
    for name, data in list(all_trees[last].items()) + list(PLAYER_FILES.items()):
        write(os.path.join(expected, *name.split("/")), data)
    write(os.path.join(expected, "VersionInfo.ini"), version_file(last))
    print("demo data in %s: install at %d, server up to %d (published with %s)"
          % (out, INSTALLED_VERSION, last, os.path.basename(tool)))


def tree(root):
    """Relative paths of files and of directories (the latter with a trailing "/")."""
    entries = {}
    for here, dirs, names in os.walk(root):
        rel = os.path.relpath(here, root).replace(os.sep, "/")
        prefix = "" if rel == "." else rel + "/"
        for d in dirs:
            entries[prefix + d + "/"] = None
        for n in names:
            entries[prefix + n] = os.path.join(here, n)
    return entries


def installed_version(path):
    parser = configparser.ConfigParser(interpolation=None)
    try:
        with open(path, "rb") as f:
            parser.read_string(f.read().decode("latin-1"))
        return parser.get("VERSION", "version").strip()
    except (OSError, configparser.Error):
        return None


def check(out, install):
    """Prints every difference between INSTALL and OUT/expected; true when there is none."""
    expected = tree(os.path.join(out, "expected"))
    actual = tree(install)
    problems = []
    for name in sorted(set(expected) | set(actual)):
        if name not in actual:
            problems.append("missing: " + name)
        elif name not in expected:
            problems.append("unexpected: " + name)
        elif name == "VersionInfo.ini":
            want, got = installed_version(expected[name]), installed_version(actual[name])
            if want != got:
                problems.append("VersionInfo.ini: version %s, expected %s" % (got, want))
        elif expected[name] is not None:
            with open(expected[name], "rb") as a, open(actual[name], "rb") as b:
                if a.read() != b.read():
                    problems.append("different: " + name)
    for p in problems:
        print("  " + p)
    return not problems


def main(argv):
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("out", help="directory for install/, server/ and expected/")
    mode = p.add_mutually_exclusive_group(required=True)
    mode.add_argument("--base-url", help="address the server is reached at, e.g. http://127.0.0.1:8080")
    mode.add_argument("--check", metavar="INSTALL", help="compare INSTALL with OUT/expected")
    p.add_argument("--publish", default=os.environ.get("QUORVEL_PUBLISH", DEFAULT_PUBLISH),
                   help="the quorvel-publish program (default: the native build's)")
    p.add_argument("--key", default=DEFAULT_KEY, help="the release key (default: the demo key)")
    args = p.parse_args(argv)
    if args.check:
        return 0 if check(args.out, args.check) else 1
    generate(args.out, args.base_url, args.publish, args.key)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
