#!/usr/bin/env bash
# Verify benchmark: an install of SIZE_MB (default 200 MB) in files of 1 to 16 MB, described by a
# release description with per-file SHA-256 lines served over loopback by tools/patch_server.py.
# `quorvel-patch --verify` (patch list, description, every file hashed) is timed against
# `sha256sum` over the same files (the peer), ROUNDS times in turn with warm caches for both;
# medians are printed as MB/s with the ratio against sha256sum.
# Target: quorvel-patch --verify >= 1.0 x sha256sum.
#   scripts/bench-verify.sh [SIZE_MB [ROUNDS]]      (KEEP=1 keeps build/bench-verify)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/patch-server.sh"
size_mb="${1:-200}"
rounds="${2:-5}"
work="$root/build/bench-verify"
served="$work/server"
install="$work/install"
patcher="$root/build/native/cli/quorvel-patch"

for tool in sha256sum python3 cmake; do
  command -v "$tool" >/dev/null || { echo "bench-verify.sh: $tool is missing (scripts/setup.sh)" >&2; exit 1; }
done
[ -f "$root/build/native/CMakeCache.txt" ] ||
  cmake -S "$root" -B "$root/build/native" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build/native" --target quorvel-patch -j 2 >/dev/null

server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  [ "${KEEP:-0}" = 1 ] || rm -rf "$work"
}
trap cleanup EXIT

# The install and the description that lists it (files of 1..16 MB, some in subdirectories).
mkdir -p "$served/tzan" "$install"
python3 - "$install" "$served/tzan/PatchInfo.ini" "$size_mb" <<'PY'
import hashlib, os, sys
install, description, size_mb = sys.argv[1], sys.argv[2], int(sys.argv[3])
left, sizes, i = size_mb * 1024 * 1024, [], 0
while left > 0:
    size = min(left, (1 + (i * 7) % 16) * 1024 * 1024)
    sizes.append(size)
    left -= size
    i += 1
items, hashes = [], []
for i, size in enumerate(sizes):
    name = "data/part%02d/file%03d.pak" % (i % 4, i) if i % 3 else "file%03d.bin" % i
    path = os.path.join(install, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    data = os.urandom(size)
    with open(path, "wb") as f:
        f.write(data)
    items.append("%d=%s" % (i, name))
    hashes.append("%d=%s %d" % (i, hashlib.sha256(data).hexdigest(), size))
with open(description, "w", newline="") as f:
    f.write("[VERSION]\r\nversion=101\r\n[101]\r\n" + "\r\n".join(items) + "\r\n[101.sha256]\r\n" +
            "\r\n".join(hashes) + "\r\n")
PY
mapfile -t files < <(cd "$install" && find . -type f | sort)

start_patch_server "$work/port" --root "$served" || exit 1
server_pid="$PATCH_SERVER_PID"
base="http://127.0.0.1:$PATCH_SERVER_PORT"
printf '[bench]\ninfo=%s/tzan/PatchInfo.ini\nnews=%s/news.html\nbase=%s/files\n' "$base" "$base" "$base" \
  > "$served/tzan/patch.txt"

now() { date +%s.%N; }
ours=() peer=()
run_ours() {
  local t0 t1; t0=$(now)
  "$patcher" --verify --install-dir "$install" --patch-list "$base/tzan/patch.txt" >"$work/verify.out" ||
    { echo "bench-verify.sh: quorvel-patch --verify failed:" >&2; cat "$work/verify.out" >&2; exit 1; }
  t1=$(now)
  ours+=("$(python3 -c "print($t1 - $t0)")")
}
run_peer() {
  local t0 t1; t0=$(now)
  (cd "$install" && sha256sum "${files[@]}" >/dev/null)
  t1=$(now)
  peer+=("$(python3 -c "print($t1 - $t0)")")
}
run_ours; run_peer  # warm the page cache for both
ours=() peer=()
for _ in $(seq "$rounds"); do
  run_ours
  run_peer
done
python3 - "$size_mb" "${#files[@]}" "${ours[*]}" "${peer[*]}" <<'PY'
import statistics, sys
size, count = int(sys.argv[1]), int(sys.argv[2])
ours = statistics.median(map(float, sys.argv[3].split()))
peer = statistics.median(map(float, sys.argv[4].split()))
print("verify of %d MB in %d files, median of %d rounds" % (size, count, len(sys.argv[3].split())))
print("  sha256sum              %8.1f MB/s  (%.3f s)" % (size / peer, peer))
print("  quorvel-patch --verify %8.1f MB/s  (%.3f s)" % (size / ours, ours))
print("ratio quorvel-patch / sha256sum: %.2f (target >= 1.0)" % (peer / ours))
PY
