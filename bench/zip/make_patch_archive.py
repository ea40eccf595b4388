#!/usr/bin/env python3
"""Writes a realistic patch archive for the extraction benchmark: about 200 MB uncompressed in a
few thousand files over a game's directory tree, text and tables (compressible), textures and
models (partly compressible), sounds and random data (incompressible, some stored), one large file.
Deterministic for a given seed. Optional arguments set the file count and the uncompressed total
and large-file sizes in MB (defaults 2800, 200, 48).
  make_patch_archive.py OUT.zip [FILES TOTAL_MB LARGE_MB]"""
import math
import random
import sys
import zipfile

TOTAL = 200 * 1000 * 1000
LARGE = 48 * 1000 * 1000
FILES = 2800


def pools(rng):
    words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))) for _ in range(3000)]
    words += [b"quorvel", b"guild", b"sword", b"map", b"npc", b"=", b"\n", b"0", b"1", b"{", b"}"] * 50
    text = b" ".join(rng.choices(words, k=900000))
    # Textures: low-entropy bytes, 16 levels with long-ish runs.
    levels = bytes(rng.randrange(16) * 16 for _ in range(256))
    texture = rng.randbytes(6 * 1000 * 1000).translate(levels)
    noise = rng.randbytes(6 * 1000 * 1000)
    return {"text": text, "texture": texture, "noise": noise}


def piece(rng, pool, size):
    start = rng.randrange(0, len(pool) - size)
    return pool[start:start + size]


def main(path, files=FILES, total=TOTAL, large=LARGE, seed=7):
    rng = random.Random(seed)
    p = pools(rng)
    kinds = [  # extension, pool, compression, weight
        ("txt", "text", zipfile.ZIP_DEFLATED, 3), ("lua", "text", zipfile.ZIP_DEFLATED, 2),
        ("dds", "texture", zipfile.ZIP_DEFLATED, 4), ("map", "texture", zipfile.ZIP_DEFLATED, 2),
        ("ogg", "noise", zipfile.ZIP_STORED, 2), ("bin", "noise", zipfile.ZIP_DEFLATED, 1),
    ]
    sizes = [math.exp(rng.uniform(math.log(256), math.log(400000))) for _ in range(files)]
    scale = (total - large) / sum(sizes)
    with zipfile.ZipFile(path, "w", compresslevel=6) as z:
        for d in ("data/", "data/maps/", "sound/", "script/"):
            z.writestr(zipfile.ZipInfo(d), b"")
        for i, raw in enumerate(sizes):
            ext, pool, method, _ = rng.choices(kinds, weights=[k[3] for k in kinds])[0]
            size = max(1, min(int(raw * scale), len(p[pool]) - 1))
            folder = {"txt": "script", "lua": "script", "ogg": "sound"}.get(ext, "data/maps" if ext == "map" else "data")
            name = "%s/%02d/f%04d.%s" % (folder, i % 40, i, ext)
            z.writestr(zipfile.ZipInfo(name, (2024, 5, 1, 12, 0, 0)), piece(rng, p[pool], size), method)
        chunks = []
        while sum(map(len, chunks)) < large:
            chunks.append(piece(rng, p[rng.choice(["text", "texture", "noise"])], 1000 * 1000))
        z.writestr(zipfile.ZipInfo("data/world.pak", (2024, 5, 1, 12, 0, 0)), b"".join(chunks)[:large],
                   zipfile.ZIP_DEFLATED)


if __name__ == "__main__":
    if len(sys.argv) == 5:
        main(sys.argv[1], int(sys.argv[2]), int(sys.argv[3]) * 1000 * 1000, int(sys.argv[4]) * 1000 * 1000)
    else:
        main(sys.argv[1])
