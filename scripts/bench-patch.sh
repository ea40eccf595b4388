#!/usr/bin/env bash
# End-to-end patch benchmark: one archive release (default 1500 files, 70 MB unpacked with one
# 40 MB file) served by tools/patch_server.py on loopback. quorvel-patch runs the whole patch (patch
# list, description, download, parallel extraction, durable barrier, version record) into a fresh
# install; the peer is `curl -o` of the same archive followed by `unzip -o -q` into a fresh
# directory (which flushes nothing). Each is run ROUNDS times in turn; medians and the ratio are
# printed. Target: quorvel-patch <= 0.8 x curl + unzip.
#   scripts/bench-patch.sh [ROUNDS [FILES TOTAL_MB LARGE_MB]]      (KEEP=1 keeps build/bench-patch)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/patch-server.sh"
rounds="${1:-5}"
files="${2:-1500}"
total_mb="${3:-70}"
large_mb="${4:-40}"
work="$root/build/bench-patch"
served="$work/server"
archive="$served/tzan/patch/release.zip"
patcher="$root/build/native/cli/quorvel-patch"

for tool in curl unzip python3 cmake bc; do
  command -v "$tool" >/dev/null || { echo "bench-patch.sh: $tool is missing (scripts/setup.sh)" >&2; exit 1; }
done
[ -f "$root/build/native/CMakeCache.txt" ] ||
  cmake -S "$root" -B "$root/build/native" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build/native" --target quorvel-patch -j 2 >/dev/null

server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work/ours" "$work/peer"
  [ "${KEEP:-0}" = 1 ] || rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$(dirname "$archive")"
stamp="$work/release-$files-$total_mb-$large_mb"
if [ ! -f "$stamp" ] || [ ! -f "$archive" ]; then
  echo "generating the release ($files files, $total_mb MB, one of $large_mb MB) ..."
  python3 "$root/bench/zip/make_patch_archive.py" "$archive" "$files" "$total_mb" "$large_mb"
  rm -f "$work"/release-*; touch "$stamp"
fi
entries=$(unzip -Z1 "$archive" | grep -vc '/$')

start_patch_server "$work/port" --root "$served" || exit 1
server_pid="$PATCH_SERVER_PID"
base="http://127.0.0.1:$PATCH_SERVER_PORT"
printf '[bench]\ninfo=%s/tzan/PatchInfo.ini\nnews=%s/tzan/news.html\nbase=%s/tzan/patch\n' \
  "$base" "$base" "$base" > "$served/tzan/patch.txt"
printf '[VERSION]\r\nversion=101\r\n[101]\r\n0=release.zip\r\n' > "$served/tzan/PatchInfo.ini"
echo "release: $(du -m "$archive" | cut -f1) MB archive, $entries files; $rounds rounds; $(nproc) cores"

now() { date +%s.%N; }
fresh() { rm -rf "$1"; mkdir -p "$1"; sync; }
declare -A times
count_files() { find "$1" -type f | wc -l; }
run_ours() {
  local dir="$work/ours"
  fresh "$dir"
  printf '[VERSION]\r\nversion=100\r\n' > "$dir/VersionInfo.ini"
  local t0 t1; t0=$(now)
  "$patcher" --install-dir "$dir" --patch-list "$base/tzan/patch.txt" >/dev/null 2>&1 ||
    { echo "bench-patch.sh: quorvel-patch failed" >&2; exit 1; }
  t1=$(now)
  grep -q 'version=101' "$dir/VersionInfo.ini" || { echo "bench-patch.sh: version not recorded" >&2; exit 1; }
  # The unpacked files plus VersionInfo.ini (the patcher removes its patch list).
  [ "$(count_files "$dir")" -eq $((entries + 1)) ] || { echo "bench-patch.sh: quorvel-patch left $(count_files "$dir") files" >&2; exit 1; }
  times[ours]+="$(echo "$t1 - $t0" | bc -l) "
}
run_peer() {
  local dir="$work/peer"
  fresh "$dir"
  local t0 t1; t0=$(now)
  curl -s -f -o "$dir/release.zip" "$base/tzan/patch/release.zip" || { echo "bench-patch.sh: curl failed" >&2; exit 1; }
  unzip -o -q "$dir/release.zip" -d "$dir"
  rm -f "$dir/release.zip"
  t1=$(now)
  [ "$(count_files "$dir")" -eq "$entries" ] || { echo "bench-patch.sh: unzip left $(count_files "$dir") files" >&2; exit 1; }
  times[peer]+="$(echo "$t1 - $t0" | bc -l) "
}

for ((i = 0; i < rounds; i++)); do
  run_ours
  run_peer
done

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
ours=$(echo "${times[ours]}" | median)
peer=$(echo "${times[peer]}" | median)
printf '%-40s %8s   %s\n' "median wall time" "seconds" "runs"
printf '%-40s %8.3f   %s\n' "quorvel-patch (whole run, durable)" "$ours" "${times[ours]}"
printf '%-40s %8.3f   %s\n' "curl -o + unzip -o -q" "$peer" "${times[peer]}"
echo "ratio quorvel-patch/(curl + unzip): $(echo "scale=3; $ours / $peer" | bc -l)   (target <= 0.8)"
