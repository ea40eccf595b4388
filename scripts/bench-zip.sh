#!/usr/bin/env bash
# Extraction benchmark: generates a realistic patch archive under build/bench-zip, extracts it with
# our ExtractArchive, `unzip -o -q` and `bsdtar -xf`, each RUNS times (default 5) into a fresh
# directory, and prints medians and our ratio against each peer. It also measures zlib's raw inflate
# of the same entries in memory (the ceiling) and the cost of writing the same files through our file
# layer; the target is ours <= unzip and ours <= 1.3 x (inflate + write).
# Our file layer flushes every file to disk when closing it (the peers do not); one more line runs
# ours with fsync made a no-op through LD_PRELOAD, to show what that flush costs on this disk.
# The data is deleted afterwards unless KEEP=1.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
runs="${1:-5}"
work="$root/build/bench-zip"
bench="$root/build/native/bench/zip/qr_zip_bench"
archive="$work/patch.zip"
out="$work/out"

[ -f "$root/build/native/CMakeCache.txt" ] || cmake -S "$root" -B "$root/build/native" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build/native" --target qr_zip_bench -j 2 >/dev/null
for tool in unzip bsdtar python3; do command -v "$tool" >/dev/null || { echo "bench-zip.sh: $tool is missing" >&2; exit 1; }; done

cleanup() { [ "${KEEP:-0}" = 1 ] || rm -rf "$work"; }
trap cleanup EXIT
mkdir -p "$work"
if [ ! -f "$archive" ]; then
  echo "generating $archive ..."
  python3 "$root/bench/zip/make_patch_archive.py" "$archive"
fi
printf 'int fsync(int fd) { (void)fd; return 0; }\n' >"$work/nofsync.c"
cc -shared -fPIC -O2 "$work/nofsync.c" -o "$work/nofsync.so"
entries=$(unzip -Z1 "$archive" | wc -l)
unpacked=$(unzip -Zt "$archive" | sed -E 's/.* ([0-9]+) bytes uncompressed.*/\1/')
echo "archive: $(du -m "$archive" | cut -f1) MB, $entries entries, $((unpacked / 1000000)) MB uncompressed; $runs runs each"

now() { date +%s.%N; }
fresh() { rm -rf "$out"; mkdir -p "$out"; sync; }
declare -A times
measure() {  # name, command... (wall time of the command, taken around it)
  local name="$1"; shift
  fresh
  local t0 t1; t0=$(now); "$@" >/dev/null; t1=$(now)
  times[$name]+="$(echo "$t1 - $t0" | bc -l) "
}
own() {  # name, command... (the command prints its own time)
  local name="$1"; shift
  fresh
  times[$name]+="$("$@") "
}

for ((i = 0; i < runs; i++)); do
  measure ours "$bench" extract "$archive" "$out"
  measure unflushed env LD_PRELOAD="$work/nofsync.so" "$bench" extract "$archive" "$out"
  measure unzip unzip -o -q "$archive" -d "$out"
  measure bsdtar bsdtar -xf "$archive" -C "$out"
  own inflate "$bench" inflate "$archive"
  own write "$bench" write "$archive" "$out"
done
rm -rf "$out"

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
declare -A med
for k in ours unflushed unzip bsdtar inflate write; do med[$k]=$(echo "${times[$k]}" | median); done
ceiling=$(echo "${med[inflate]} + ${med[write]}" | bc -l)
printf '%-34s %8s   %s\n' "median wall time" "seconds" "runs"
printf '%-34s %8.3f   %s\n' "ours (ExtractArchive)" "${med[ours]}" "${times[ours]}"
printf '%-34s %8.3f   %s\n' "ours, no per-file fsync" "${med[unflushed]}" "${times[unflushed]}"
printf '%-34s %8.3f   %s\n' "unzip -o -q" "${med[unzip]}" "${times[unzip]}"
printf '%-34s %8.3f   %s\n' "bsdtar -xf" "${med[bsdtar]}" "${times[bsdtar]}"
printf '%-34s %8.3f   %s\n' "zlib raw inflate in memory" "${med[inflate]}" "${times[inflate]}"
printf '%-34s %8.3f   %s\n' "writing the files (our file layer)" "${med[write]}" "${times[write]}"
printf '%-34s %8.3f\n' "ceiling: inflate + write" "$ceiling"
ratio() { echo "scale=3; $1 / $2" | bc -l; }
echo "ratio ours/unzip:   $(ratio "${med[ours]}" "${med[unzip]}")   (target <= 1.0)"
echo "ratio ours without fsync/unzip: $(ratio "${med[unflushed]}" "${med[unzip]}")"
echo "ratio ours/bsdtar:  $(ratio "${med[ours]}" "${med[bsdtar]}")"
echo "ratio ours/ceiling: $(ratio "${med[ours]}" "$ceiling")   (target <= 1.3)"
