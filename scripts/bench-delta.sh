#!/usr/bin/env bash
# Deltas on real releases: consecutive versions of Debian packages (fetched by name and version with
# `apt-get download`, unpacked with dpkg-deb) published one after another with `quorvel-publish
# --deltas 3` and with `--deltas 0`. For a player one and two versions behind it prints the bytes a
# launcher fetches without deltas (plain items), with them (per changed file the described delta from
# the player's copy, else the compressed whole, else the plain item), and zstd's own
# `--patch-from -19 --long` of the same changed files (the peer), with the ratios; and each publish's
# time and peak memory. Then nginx serves each release and quorvel-patch brings a copy of every older
# version to the newest: the bytes nginx sent and the patch time, with deltas and without.
#   scripts/bench-delta.sh [PACKAGE=V1,V2[,V3]]...     (KEEP=1 keeps build/bench-delta)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="$root/build/bench-delta"
for tool in zstd apt-get dpkg-deb python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "bench-delta.sh: $tool is missing" >&2; exit 1; }
done
cmake --build "$root/build/native" --target quorvel-publish quorvel-patch -j 2 >/dev/null
publish="$root/build/native/tools/publish/quorvel-publish"
patcher="$root/build/native/cli/quorvel-patch"
port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
[ "${KEEP:-0}" = 1 ] || trap 'rm -rf "$work"' EXIT
mkdir -p "$work"

# Debian keeps a stable release's version beside its point and security updates: three of libssl3,
# two of the Python runtime. Which versions are listed depends on the mirror's lists; name others.
package_versions=("$@")
[ ${#package_versions[@]} -gt 0 ] || package_versions=("libssl3=3.0.17-1~deb12u2,3.0.20-1~deb12u2,3.0.22-1~deb12u2"
                                 "python3.11-minimal=3.11.2-6+deb12u8,3.11.2-6+deb12u9")

for wanted in "${package_versions[@]}"; do
  package="${wanted%%=*}"
  IFS=, read -r -a versions <<<"${wanted#*=}"
  dir="$work/$package"
  mkdir -p "$dir"
  trees=()
  for i in "${!versions[@]}"; do
    tree="$dir/tree$i"
    if [ ! -d "$tree" ]; then
      (cd "$dir" && apt-get download -q "$package=${versions[$i]}" >/dev/null 2>&1) || {
        echo "bench-delta.sh: apt-get cannot fetch $package=${versions[$i]} (not in this machine's lists?)" >&2
        exit 1
      }
      deb="$(ls -t "$dir"/*.deb | head -1)"
      dpkg-deb -x "$deb" "$tree" && rm -f "$deb"
    fi
    trees+=("$tree")
  done
  for k in 3 0; do
    rm -rf "$dir/release$k" && mkdir -p "$dir/release$k"
    for i in "${!trees[@]}"; do
      /usr/bin/time -f "$package --deltas $k version $((101 + i)): %e s, peak %M KB" \
        "$publish" --release "$dir/release$k" --tree "${trees[$i]}" --version $((101 + i)) \
        --deltas "$k" --base-url "http://127.0.0.1:$port" >/dev/null 2>"$dir/time$k-$i" || { cat "$dir/time$k-$i" >&2; exit 1; }
      tail -1 "$dir/time$k-$i"
    done
  done
  python3 - "$dir" "${#trees[@]}" <<'PY'
import configparser, hashlib, os, subprocess, sys
dir, count = sys.argv[1], int(sys.argv[2])
last = count - 1
def line(data): return "%s %d" % (hashlib.sha256(data).hexdigest(), len(data))
def read(p):
    with open(p, "rb") as f: return f.read()
def tree(i):
    top, out = os.path.join(dir, "tree%d" % i), {}
    for d, _, names in os.walk(top):
        for n in names:
            p = os.path.join(d, n)
            if os.path.isfile(p) and not os.path.islink(p): out[os.path.relpath(p, top)] = p
    return out
info = configparser.ConfigParser(interpolation=None, strict=False); info.optionxform = str
info.read_string(read(os.path.join(dir, "release3", "tzan", "PatchInfo.ini")).decode("ascii"))
lines = {}
for s in info.sections():
    if s.startswith("%d.deltas." % (101 + last)):
        for name, value in info[s].items(): lines[name] = value.split(";")
newest = tree(last)
print("%-22s %6s %12s %12s %12s %7s %7s" % ("player", "files", "plain", "deltas", "zstd", "d/plain", "d/zstd"))
for behind in range(1, count):
    old = tree(last - behind)
    changed = [n for n in newest if n not in old or read(old[n]) != read(newest[n])]
    plain = with_deltas = peer = 0
    for n in changed:
        size = os.path.getsize(newest[n]); plain += size
        cost = size
        records = lines.get(n, [])[1:]
        whole = [r.split(" ") for r in records if r.startswith("zstd ")]
        if whole: cost = min(cost, int(whole[0][2]))
        if n in old:
            have = line(read(old[n]))
            for r in records:
                f = r.split(" ")
                if f[0] == "zstd-delta" and " ".join(f[1:3]) == have: cost = min(cost, int(f[4]))
            made = subprocess.run(["zstd", "-q", "-19", "--long=27", "-c", "--patch-from=" + old[n], newest[n]],
                                  capture_output=True, check=True).stdout
            peer += min(len(made), size)
        else:
            peer += min(len(subprocess.run(["zstd", "-q", "-19", "-c", newest[n]], capture_output=True,
                                           check=True).stdout), size)
        with_deltas += cost
    print("%-22s %6d %12d %12d %12d %7.3f %7.3f" % ("%d version(s) behind" % behind, len(changed), plain,
          with_deltas, peer, with_deltas / max(plain, 1), with_deltas / max(peer, 1)))
PY
  python3 - "$root" "$dir" "${#trees[@]}" "$port" "$patcher" <<'PY'
import os, shutil, subprocess, sys, time
root, dir, count, port, patcher = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
sys.path.insert(0, os.path.join(root, "tests", "support"))
import qrtest
print("%-22s %-9s %12s %8s" % ("player", "release", "nginx sent", "patch s"))
for behind in range(1, count):
    for k in (3, 0):
        nginx = qrtest.Nginx(os.path.join(dir, "release%d" % k), os.path.join(dir, "nginx%d" % k), port)
        try:
            install = os.path.join(dir, "install")
            shutil.rmtree(install, ignore_errors=True)
            shutil.copytree(os.path.join(dir, "tree%d" % (count - 1 - behind)), install, symlinks=True)
            qrtest.write(os.path.join(install, "VersionInfo.ini"), "[VERSION]\r\nversion=%d\r\n" % (100 + count - behind))
            # nginx keeps its log open: only what this run adds is counted.
            offset = os.path.getsize(nginx.log) if os.path.exists(nginx.log) else 0
            started = time.time()
            p = subprocess.run([patcher, "--install-dir", install, "--patch-list", nginx.url("/tzan/patch.txt")],
                               capture_output=True, text=True)
            seconds = time.time() - started
            if p.returncode != 0:
                sys.exit("bench-delta.sh: the patch run failed:\n" + p.stdout + p.stderr)
            with open(nginx.log) as f:
                f.seek(offset)
                sent = sum(int(line.split()[2]) for line in f if line.strip())
            print("%-22s %-9s %12d %8.2f" % ("%d version(s) behind" % behind, "deltas %d" % k, sent, seconds))
        finally:
            nginx.stop()
PY
done
