#!/usr/bin/env python3
"""Builds the demo data set: an install at version 100, a patch server tree bringing versions 101 to
103, and the install as it must look at version 103.

  make_demo.py OUT --base-url http://127.0.0.1:PORT   writes OUT/install, OUT/server, OUT/expected
  make_demo.py OUT --check INSTALL                     compares INSTALL with OUT/expected

The server tree is served at "/" by tools/patch_server.py: "/tzan/patch.txt" is the patch list, whose
line 1 names "/tzan/PatchInfo.ini", line 2 the news page and line 3 the patch file base "/tzan/patch".
Only standard library modules are used, and the content is the same on every run.
"""

import argparse
import configparser
import io
import os
import random
import shutil
import sys
import zipfile

INSTALLED_VERSION = 100
PATCH_LIST_EXAMINED_BYTES = 200  # the launcher looks no further into the patch list

# What each version brings, in the order the launcher fetches it. A name ending in ".map" is kept
# on the server under ".bap"; names ending in ".zip" are archives unpacked into the install.
VERSIONS = {
    101: ["readme.txt", "data/map01.map", "patch101.zip", "data/items/weapons.dat"],
    102: ["patch102.zip", "data/map01.map", "data/npc/dialog/town.txt", "data/world/zone1/zone1.map"],
    103: ["client/config.dat", "patch103.zip", "readme.txt", "sound/bgm/battle.ogg"],
}


def noise(seed, size):
    return random.Random(seed).randbytes(size)


def text_lines(title, count):
    """Compressible text, so deflated archive entries really shrink."""
    return "".join("%s line %04d: the quick brown fox jumps over the lazy dog\r\n" % (title, i)
                   for i in range(count)).encode("ascii")


def install_files():
    """The demo install at version 100 (VersionInfo.ini apart)."""
    return {
        "QuorvelRPG.bin": b"QuorvelRPG demo stand-in: the launcher starts this file; it is not a game.\r\n",
        "option.ini": b"[Member]\r\nid=demo\r\n",
        "readme.txt": text_lines("readme v100", 20),
        "data/map01.map": noise(1001, 40_000),
        "data/map02.map": noise(1002, 30_000),
        "data/items/weapons.dat": noise(1003, 12_000),
        "ui/skin/button.bmp": noise(1004, 9_000),
        "sound/bgm/title.ogg": noise(1005, 300_000),
    }


def archive(entries):
    """A ZIP archive from (name, data or None for a directory, stored?) triples."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as zf:
        for name, data, stored in entries:
            info = zipfile.ZipInfo(name, date_time=(2024, 5, 1, 12, 0, 0))
            if data is None:
                info.external_attr = (0o40755 << 16) | 0x10
                zf.writestr(info, b"")
            else:
                info.external_attr = 0o644 << 16
                info.compress_type = zipfile.ZIP_STORED if stored else zipfile.ZIP_DEFLATED
                zf.writestr(info, data)
    return buffer.getvalue()


def patch_files():
    """What the server holds under the patch base, by listed name (before the ".bap" renaming)."""
    return {
        "readme.txt": text_lines("readme v103", 24),
        "data/map01.map": noise(2001, 45_000),
        "data/items/weapons.dat": noise(2002, 15_000),
        "data/npc/dialog/town.txt": text_lines("town dialog", 40),
        "data/world/zone1/zone1.map": noise(2003, 64_000),
        "client/config.dat": b"[client]\r\nresolution=1024x768\r\nsound=on\r\n",
        "sound/bgm/battle.ogg": noise(2004, 1_500_000),
        "patch101.zip": archive([
            ("ui/skin/", None, False),
            ("ui/skin/button.bmp", noise(3001, 9_500), True),
            ("ui/font/readme.txt", text_lines("font notes", 30), False),
            ("data/quest/q001.dat", text_lines("quest 1 v101", 200), False),
        ]),
        "patch102.zip": archive([
            ("data/quest/q002.dat", text_lines("quest 2", 300), False),
            ("effects/fire/fire01.dds", noise(3002, 70_000), True),
            ("effects/fire/fire02.dds", noise(3003, 65_536), False),
        ]),
        "patch103.zip": archive([
            ("ui/skin/button.bmp", noise(3004, 10_000), False),
            ("data/quest/q001.dat", text_lines("quest 1 v103", 210), False),
            ("screenshots/", None, False),
        ]),
    }


def server_name(name):
    return name[:-4] + ".bap" if name.endswith(".map") else name


def download_list():
    names = []
    for version in sorted(VERSIONS):
        for name in VERSIONS[version]:
            if name not in names:
                names.append(name)
    return names


def patch_info(last_version):
    lines = ["[VERSION]", "version=%d" % last_version]
    for version in sorted(VERSIONS):
        lines.append("[%03d]" % version)
        lines += ["%d=%s" % (i, name) for i, name in enumerate(VERSIONS[version])]
    return ("\r\n".join(lines) + "\r\n").encode("ascii")


def patch_list(base_url):
    text = ("[QuorvelRPG]\n"
            "info=%s/tzan/PatchInfo.ini\n"
            "news=%s/tzan/news.html\n"
            "base=%s/tzan/patch\n" % (base_url, base_url, base_url)).encode("ascii")
    if len(text) > PATCH_LIST_EXAMINED_BYTES:
        raise SystemExit("make_demo: base URL too long: the patch list must fit in %d bytes"
                         % PATCH_LIST_EXAMINED_BYTES)
    return text


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


def generate(out, base_url):
    base_url = base_url.rstrip("/")
    # The server may already be serving OUT/server, so only the three trees are replaced.
    for part in ("install", "server", "expected"):
        shutil.rmtree(os.path.join(out, part), ignore_errors=True)
    install = os.path.join(out, "install")
    server = os.path.join(out, "server")
    expected = os.path.join(out, "expected")

    files = install_files()
    for name, data in files.items():
        write(os.path.join(install, name), data)
    write(os.path.join(install, "VersionInfo.ini"), version_file(INSTALLED_VERSION))

    patches = patch_files()
    last = max(VERSIONS)
    write(os.path.join(server, "tzan", "patch.txt"), patch_list(base_url))
    write(os.path.join(server, "tzan", "PatchInfo.ini"), patch_info(last))
    write(os.path.join(server, "tzan", "news.html"), NEWS_PAGE.encode("utf-8"))
    for name in download_list():
        write(os.path.join(server, "tzan", "patch", *server_name(name).split("/")), patches[name])

    # The install at the last version: every listed name in fetch order, archives unpacked.
    result = dict(files)
    directories = set()
    for name in download_list():
        if not name.endswith(".zip"):
            result[name] = patches[name]
            continue
        with zipfile.ZipFile(io.BytesIO(patches[name])) as zf:
            for info in zf.infolist():
                if info.filename.endswith("/"):
                    directories.add(info.filename.rstrip("/"))
                else:
                    result[info.filename] = zf.read(info)
    for name, data in result.items():
        write(os.path.join(expected, name), data)
    for d in directories:
        os.makedirs(os.path.join(expected, d), exist_ok=True)
    write(os.path.join(expected, "VersionInfo.ini"), version_file(last))
    print("demo data in %s: install at %d, server up to %d (%d files to fetch)"
          % (out, INSTALLED_VERSION, last, len(download_list())))


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
    args = p.parse_args(argv)
    if args.check:
        return 0 if check(args.out, args.check) else 1
    generate(args.out, args.base_url)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
