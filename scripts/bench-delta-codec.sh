#!/usr/bin/env bash
# Delta codec benchmark: for pairs of consecutive releases of real packages (fetched by name from
# npm), our delta (level 19, long mode, 32 MiB segments) against zstd's own `--patch-from -19
# --long` of the same files (the peer), and our whole-file zstd against gzip -6 (today's deflate).
# Prints sizes and ratios; every delta is applied again and checked byte for byte.
#   scripts/bench-delta-codec.sh [OLD NEW]...      (KEEP=1 keeps build/bench-delta-codec)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="$root/build/bench-delta-codec"
for tool in zstd gzip npm tar cmake; do
  command -v "$tool" >/dev/null || { echo "bench-delta-codec.sh: $tool is missing" >&2; exit 1; }
done
[ -f "$root/build/native/CMakeCache.txt" ] ||
  cmake -S "$root" -B "$root/build/native" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build/native" --target qr_delta_bench -j 2 >/dev/null
bench="$root/build/native/bench/delta/qr_delta_bench"
[ "${KEEP:-0}" = 1 ] || trap 'rm -rf "$work"' EXIT
mkdir -p "$work"

fetch() {  # package@version -> unpacked folder
  local dir="$work/pkg/$1"
  if [ ! -d "$dir/package" ]; then
    mkdir -p "$dir"
    (cd "$dir" && npm pack --silent "$1" >/dev/null && tar -xzf ./*.tgz)
  fi
  echo "$dir/package"
}

pairs=("$@")
if [ ${#pairs[@]} -eq 0 ]; then
  # A JavaScript bundle and a 30+ MB native executable (more than one segment), each one patch apart.
  ts_old="$(fetch typescript@5.4.4)"; ts_new="$(fetch typescript@5.4.5)"
  swc_old="$(fetch @swc/core-linux-x64-gnu@1.4.16)"; swc_new="$(fetch @swc/core-linux-x64-gnu@1.4.17)"
  pairs=("$ts_old/lib/typescript.js" "$ts_new/lib/typescript.js"
         "$ts_old/lib/tsserver.js" "$ts_new/lib/tsserver.js"
         "$swc_old/swc.linux-x64-gnu.node" "$swc_new/swc.linux-x64-gnu.node")
fi

printf '%-28s %12s %12s %12s %7s %12s %12s %7s\n' file new ours zstd ratio whole gzip ratio
set -- "${pairs[@]}"
while [ $# -ge 2 ]; do
  old="$1" new="$2"; shift 2
  read -r new_size ours whole < <("$bench" "$old" "$new" "$work")
  peer="$(zstd -q -19 --long=27 --patch-from="$old" -c "$new" | wc -c)"
  gz="$(gzip -6 -c "$new" | wc -c)"
  printf '%-28s %12s %12s %12s %7s %12s %12s %7s\n' "$(basename "$new")" "$new_size" "$ours" "$peer" \
    "$(awk -v a="$ours" -v b="$peer" 'BEGIN { printf "%.3f", a / b }')" "$whole" "$gz" \
    "$(awk -v a="$whole" -v b="$gz" 'BEGIN { printf "%.3f", a / b }')"
done
