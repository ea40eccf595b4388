#!/usr/bin/env bash
# Extraction benchmark: generates a realistic patch archive under build/bench-zip, extracts it with
# our ExtractArchive, `unzip -o -q` and `bsdtar -xf`, each RUNS times (default 5) into a fresh
# directory, and prints medians and our ratio against each peer. It also measures zlib's raw inflate
# of the same entries in memory (the ceiling) and the cost of writing the same files through our file
# layer. Targets: ours <= 0.7 x unzip and ours <= 0.9 x bsdtar.
# Ours includes the durable barrier the patch worker runs before it records a version (syncfs of the
# file system; the peers flush nothing). Two more lines run ours without the barrier and with the
# alternative barrier (fsync of every written file and directory at the end) to show what each costs.
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
  measure unsynced "$bench" extract-unsynced "$archive" "$out"
  measure fsynceach "$bench" extract-fsync-each "$archive" "$out"
  measure unzip unzip -o -q "$archive" -d "$out"
  measure bsdtar bsdtar -xf "$archive" -C "$out"
  own inflate "$bench" inflate "$archive"
  own write "$bench" write "$archive" "$out"
done
rm -rf "$out"

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
declare -A med
for k in ours unsynced fsynceach unzip bsdtar inflate write; do med[$k]=$(echo "${times[$k]}" | median); done
ceiling=$(echo "${med[inflate]} + ${med[write]}" | bc -l)
printf '%-34s %8s   %s\n' "median wall time" "seconds" "runs"
printf '%-34s %8.3f   %s\n' "ours (ExtractArchive + syncfs)" "${med[ours]}" "${times[ours]}"
printf '%-34s %8.3f   %s\n' "ours without the barrier" "${med[unsynced]}" "${times[unsynced]}"
printf '%-34s %8.3f   %s\n' "ours, fsync of each file at the end" "${med[fsynceach]}" "${times[fsynceach]}"
printf '%-34s %8.3f   %s\n' "unzip -o -q" "${med[unzip]}" "${times[unzip]}"
printf '%-34s %8.3f   %s\n' "bsdtar -xf" "${med[bsdtar]}" "${times[bsdtar]}"
printf '%-34s %8.3f   %s\n' "zlib raw inflate in memory" "${med[inflate]}" "${times[inflate]}"
printf '%-34s %8.3f   %s\n' "writing the files (our file layer)" "${med[write]}" "${times[write]}"
printf '%-34s %8.3f\n' "ceiling: inflate + write" "$ceiling"
ratio() { echo "scale=3; $1 / $2" | bc -l; }
echo "ratio ours/unzip:   $(ratio "${med[ours]}" "${med[unzip]}")   (target <= 0.7)"
echo "ratio ours/bsdtar:  $(ratio "${med[ours]}" "${med[bsdtar]}")   (target <= 0.9)"
echo "ratio ours without the barrier/unzip: $(ratio "${med[unsynced]}" "${med[unzip]}")"
echo "ratio fsync-each barrier/syncfs barrier: $(ratio "${med[fsynceach]}" "${med[ours]}")"
echo "ratio ours/ceiling: $(ratio "${med[ours]}" "$ceiling")"
