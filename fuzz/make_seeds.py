#!/usr/bin/env python3
"""Writes a small seed corpus for the archive fuzzer: the shapes of archive the launcher meets
(stored, deflated, directories, a stub in front, comments) and a few hostile ones."""
import io
import os
import random
import struct
import sys
import zipfile


def archive(entries, stub=b"", comment=b""):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as z:
        z.comment = comment
        for name, data, method in entries:
            info = zipfile.ZipInfo(name, date_time=(2024, 1, 1, 0, 0, 0))
            info.compress_type = method
            z.writestr(info, data)
    return stub + buf.getvalue()


def main(out):
    os.makedirs(out, exist_ok=True)
    rng = random.Random(3)
    text = b"quorvel patch map sword guild\n" * 40
    noise = bytes(rng.getrandbits(8) for _ in range(600))
    S, D = zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED
    seeds = {
        "empty": archive([]),
        "stored": archive([("a.txt", b"hello", S)]),
        "deflated": archive([("data/maps/a.map", text, D)]),
        "mixed": archive([("dir/", b"", S), ("dir/t.txt", text, D), ("dir\\n.bin", noise, S), ("z", b"", D)]),
        "stub": archive([("x.bin", noise, D), ("y.txt", text, S)], stub=b"MZ" + b"\0" * 300),
        "comment": archive([("c.txt", text, D)], comment=b"PK\x05\x06 inside the comment"),
        "hostile": archive([("../up.txt", b"up", S), ("/abs.txt", b"abs", S), ("C:\\drive.txt", b"c", S),
                            ("a/../../b.txt", b"b", D), ("ok.txt", b"ok", S)]),
        "reserved": archive([("f.qrtmp", b"t", S), ("f", b"f", S)]),
        "longname": archive([("n" * 600, b"long", S), ("short", b"s", S)]),
        "korean": archive([("\ud55c\uae00/\ud30c\uc77c.txt", text, D)]),
    }
    # Damage that a reader must survive: a wrong CRC, a cut data block, a stored entry claiming more.
    crc = bytearray(seeds["deflated"])
    struct.pack_into("<I", crc, crc.rfind(b"PK\x01\x02") + 16, 0xDEADBEEF)
    seeds["badcrc"] = bytes(crc)
    cut = seeds["mixed"]
    seeds["truncated"] = cut[: len(cut) // 2] + cut[-22:]
    for name, data in seeds.items():
        with open(os.path.join(out, name + ".zip"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
