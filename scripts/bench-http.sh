#!/usr/bin/env bash
# Download benchmark: one large file (default 200 MB) served over loopback by tools/patch_server.py,
# fetched into a file by `curl -o` (the peer), by qr_bench_fetch (our curl adaptor with 4096-byte
# reads, each written at once, as the worker does) and by quorvel-patch (the whole patch run: patch
# list, patch description, the file as version 101) when it is built. Two more pairs split the cost:
# qr_bench_fetch --gather (the same reads, 64 KB writes) and both clients with nothing written.
# Each is run ROUNDS times in turn; medians are printed as MB/s with the ratio against curl.
# Target: quorvel-patch >= 0.8 x curl -o FILE.
#   scripts/bench-http.sh [SIZE_MB [ROUNDS]]      (KEEP=1 keeps build/bench-http)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/patch-server.sh"
size_mb="${1:-200}"
rounds="${2:-5}"
work="$root/build/bench-http"
served="$work/server"
big="$served/tzan/patch/big.bin"
out="$work/out"
fetch="$root/build/native/bench/http/qr_bench_fetch"
patcher="$root/build/native/cli/quorvel-patch"

for tool in curl python3 cmake; do
  command -v "$tool" >/dev/null || { echo "bench-http.sh: $tool is missing (scripts/setup.sh)" >&2; exit 1; }
done
[ -f "$root/build/native/CMakeCache.txt" ] ||
  cmake -S "$root" -B "$root/build/native" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build/native" --target qr_bench_fetch -j 2 >/dev/null
cmake --build "$root/build/native" --target quorvel-patch -j 2 >/dev/null 2>&1 || true
[ -x "$patcher" ] || patcher=""

server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$out"
  [ "${KEEP:-0}" = 1 ] || rm -rf "$work"
}
trap cleanup EXIT

bytes=$((size_mb * 1024 * 1024))
mkdir -p "$(dirname "$big")" "$out"
if [ "$(stat -c %s "$big" 2>/dev/null || echo 0)" -ne "$bytes" ]; then
  echo "generating $size_mb MB of random data ..."
  head -c "$bytes" /dev/urandom > "$big"
fi

start_patch_server "$work/port" --root "$served" || exit 1
server_pid="$PATCH_SERVER_PID"
base="http://127.0.0.1:$PATCH_SERVER_PORT"
url="$base/tzan/patch/big.bin"
printf '[bench]\ninfo=%s/tzan/PatchInfo.ini\nnews=%s/tzan/news.html\nbase=%s/tzan/patch\n' \
  "$base" "$base" "$base" > "$served/tzan/patch.txt"
printf '[VERSION]\r\nversion=101\r\n[101]\r\n0=big.bin\r\n' > "$served/tzan/PatchInfo.ini"

now() { date +%s.%N; }
declare -A times
verified=""
check_size() {  # file, what
  local got; got=$(stat -c %s "$1" 2>/dev/null || echo 0)
  [ "$got" -eq "$bytes" ] || { echo "bench-http.sh: $2 wrote $got of $bytes bytes" >&2; exit 1; }
}
run_curl() {
  local t0 t1; t0=$(now)
  curl -s -f -o "$out/curl.bin" "$url" || { echo "bench-http.sh: curl failed" >&2; exit 1; }
  t1=$(now)
  check_size "$out/curl.bin" curl
  times[curl]+="$(echo "$t1 - $t0" | bc -l) "
}
run_fetch() {
  local t0 t1; t0=$(now)
  "$fetch" "$url" "$out/fetch.bin" >/dev/null || { echo "bench-http.sh: qr_bench_fetch failed" >&2; exit 1; }
  t1=$(now)
  check_size "$out/fetch.bin" qr_bench_fetch
  times[fetch]+="$(echo "$t1 - $t0" | bc -l) "
}
run_fetch_gather() {
  local t0 t1; t0=$(now)
  "$fetch" --gather "$url" "$out/gather.bin" >/dev/null || { echo "bench-http.sh: qr_bench_fetch failed" >&2; exit 1; }
  t1=$(now)
  check_size "$out/gather.bin" "qr_bench_fetch --gather"
  times[fetch_gather]+="$(echo "$t1 - $t0" | bc -l) "
}
run_curl_discard() {
  local t0 t1; t0=$(now)
  curl -s -f -o /dev/null "$url" || { echo "bench-http.sh: curl failed" >&2; exit 1; }
  t1=$(now)
  times[curl_discard]+="$(echo "$t1 - $t0" | bc -l) "
}
run_fetch_discard() {
  local t0 t1 got; t0=$(now)
  got=$("$fetch" --discard "$url") || { echo "bench-http.sh: qr_bench_fetch failed" >&2; exit 1; }
  t1=$(now)
  [ "${got%% *}" -eq "$bytes" ] || { echo "bench-http.sh: qr_bench_fetch read ${got%% *} of $bytes bytes" >&2; exit 1; }
  times[fetch_discard]+="$(echo "$t1 - $t0" | bc -l) "
}
run_patcher() {
  rm -rf "$out/install"; mkdir -p "$out/install"
  printf '[VERSION]\r\nversion=100\r\n' > "$out/install/VersionInfo.ini"
  local t0 t1; t0=$(now)
  "$patcher" --install-dir "$out/install" --patch-list "$base/tzan/patch.txt" >/dev/null 2>&1 ||
    { echo "bench-http.sh: quorvel-patch failed" >&2; exit 1; }
  t1=$(now)
  check_size "$out/install/big.bin" quorvel-patch
  if [ -z "$verified" ]; then  # once: the patched file is the served one, byte for byte
    cmp -s "$big" "$out/install/big.bin" ||
      { echo "bench-http.sh: quorvel-patch's file differs from the served one" >&2; exit 1; }
    verified=1
  fi
  times[patcher]+="$(echo "$t1 - $t0" | bc -l) "
}

echo "file: $size_mb MB over $base; $rounds rounds, tools taking turns"
tools=(run_curl run_fetch run_fetch_gather run_curl_discard run_fetch_discard)
[ -n "$patcher" ] && tools+=(run_patcher)
for ((i = 0; i < rounds; i++)); do
  # Each round starts with another tool, and every run starts with nothing left to write back, so
  # no tool pays for the previous one's 200 MB.
  for ((j = 0; j < ${#tools[@]}; j++)); do
    rm -f "$out"/*.bin "$out/install/big.bin"
    sync
    "${tools[$(( (i + j) % ${#tools[@]} ))]}"
  done
done

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
rate() { echo "$size_mb / $1" | bc -l; }
peer_rate=""
report() {  # key, label (the first report of a group is its peer)
  local s r; s=$(echo "${times[$1]}" | median); r=$(rate "$s")
  [ -n "$peer_rate" ] || peer_rate="$r"
  printf '%-50s %8.3f %8.1f %7.2f\n' "$2" "$s" "$r" "$(echo "$r / $peer_rate" | bc -l)"
}
printf '%-50s %8s %8s %7s\n' "into a file (median of $rounds)" "seconds" "MB/s" "x curl"
report curl "curl -o FILE (peer)"
report fetch "qr_bench_fetch (curl adaptor, 4096-byte reads)"
report fetch_gather "qr_bench_fetch --gather (the same, 64 KB writes)"
if [ -n "$patcher" ]; then
  report patcher "quorvel-patch (whole patch run)"
else
  echo "quorvel-patch: not built yet; only qr_bench_fetch measured"
fi
peer_rate=""
printf '%-50s\n' "HTTP side only, nothing written"
report curl_discard "curl -o /dev/null (peer)"
report fetch_discard "qr_bench_fetch --discard"
echo "target: quorvel-patch >= 0.80 x curl -o FILE"
