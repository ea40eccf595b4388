#!/usr/bin/env bash
# quorvel-publish on a large tree: 1 GB in 10 files of 100 MB built from this machine's own programs
# and libraries, published as version 101, then with every file edited in place (overwritten, inserted
# and cut ranges) as version 102 with --deltas 3. Prints each publish's time and peak memory, and the
# peer measured in the same run: `zstd -19 --long=27` whole and `--patch-from` of the same 10 files,
# one process per core. No test runs it.
#   scripts/bench-publish.sh [FILES [MB]]      (default 10 files of 100 MB; KEEP=1 keeps build/bench-publish)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="$root/build/bench-publish"
files="${1:-10}"
mb="${2:-100}"
for tool in zstd python3 xargs /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "bench-publish.sh: $tool is missing" >&2; exit 1; }
done
cmake --build "$root/build/native" --target quorvel-publish -j "$(nproc)" >/dev/null
publish="$root/build/native/tools/publish/quorvel-publish"
[ "${KEEP:-0}" = 1 ] || trap 'rm -rf "$work"' EXIT
rm -rf "$work" && mkdir -p "$work/release"

python3 - "$work" "$files" "$mb" <<'PY'
import os, random, sys
work, files, mb = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
# Machine code and data as a game ships them: this machine's libraries and programs, in a shuffled order.
pool = []
for top in ("/usr/lib/x86_64-linux-gnu", "/usr/bin", "/usr/lib/wine"):
    for d, _, names in os.walk(top):
        pool += [os.path.join(d, n) for n in names if os.path.isfile(os.path.join(d, n))
                 and not os.path.islink(os.path.join(d, n))]
pool.sort()
for i in range(files):
    rng = random.Random(i)
    rng.shuffle(pool)
    data = bytearray()
    for path in pool:
        if len(data) >= mb << 20:
            break
        with open(path, "rb") as f:
            data += f.read(mb * (1 << 20) - len(data))
    name = "data/pack%02d.bin" % i
    for version in (101, 102):
        path = os.path.join(work, "tree%d" % version, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        # The next version: 200 edits across the file, as a rebuilt game data pack has them.
        for _ in range(200):
            at = rng.randrange(len(data))
            kind = rng.randrange(3)
            if kind == 0:
                data[at:at + 4096] = os.urandom(min(4096, len(data) - at))
            elif kind == 1:
                data[at:at] = os.urandom(1024)
            else:
                del data[at:at + 2048]
PY
echo "tree: $files files of $mb MB, $(du -sm "$work/tree101" | cut -f1) MB; $(nproc) cores"
for version in 101 102; do
  /usr/bin/time -f "quorvel-publish --deltas 3, version $version: %e s, peak %M KB" \
    "$publish" --release "$work/release" --tree "$work/tree$version" --version $version --deltas 3 --base-url http://127.0.0.1:1 \
    >"$work/publish$version.out" 2>"$work/time$version" || { cat "$work/publish$version.out" "$work/time$version" >&2; exit 1; }
  tail -1 "$work/time$version"
done
grep -iE "delta|compressed|bytes" "$work/publish102.out" | tail -3 || true
# The peer: the same 10 wholes and 10 deltas, one zstd per file and core.
/usr/bin/time -f "peer zstd -19 --long=27, whole and --patch-from: %e s, peak %M KB (of one zstd)" \
  python3 - "$work" 2>"$work/time-peer" <<'PY' || { cat "$work/time-peer" >&2; exit 1; }
import concurrent.futures, os, subprocess, sys
work = sys.argv[1]
names = sorted(os.path.relpath(os.path.join(d, n), work + "/tree102") for d, _, ns in os.walk(work + "/tree102") for n in ns)
def make(name):
    new = "%s/tree102/%s" % (work, name)
    subprocess.run(["zstd", "-q", "-19", "--long=27", "-c", new], stdout=subprocess.DEVNULL, check=True)
    subprocess.run(["zstd", "-q", "-19", "--long=27", "-c", "--patch-from=%s/tree101/%s" % (work, name), new],
                   stdout=subprocess.DEVNULL, check=True)
with concurrent.futures.ThreadPoolExecutor(os.cpu_count()) as pool:
    list(pool.map(make, names))
PY
tail -1 "$work/time-peer"
python3 - "$work" <<'PY'
import re, sys
work = sys.argv[1]
def seconds(name):
    return float(re.search(r": ([0-9.]+) s", open("%s/%s" % (work, name)).read().splitlines()[-1]).group(1))
print("publish of version 102 / peer: %.2fx" % (seconds("time102") / seconds("time-peer")))
PY
