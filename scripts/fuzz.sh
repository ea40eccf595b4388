#!/usr/bin/env bash
# Fuzzes the archive reader and extraction for N seconds (default 60): builds build/fuzz with clang
# and libFuzzer (address and undefined-behaviour sanitizers) when needed, seeds a corpus, runs the
# fuzzer in a fresh scratch directory and fails on any finding or on a file outside the scratch.
# QR_FUZZ_CORPUS picks another corpus directory (for long runs beside a short one).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
build="$root/build/fuzz"
corpus="${QR_FUZZ_CORPUS:-$build/corpus}"
artifacts="$build/artifacts"

if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_FUZZ=ON >/dev/null
fi
cmake --build "$build" --target qr_archive_fuzzer -j 2 >/dev/null

mkdir -p "$build/seeds" "$corpus" "$artifacts"
python3 "$root/fuzz/make_seeds.py" "$build/seeds"

# The fuzzer works in fence/scratch/root; the fence must hold nothing but scratch afterwards.
fence="$(mktemp -d "$build/run.XXXXXX")"
trap 'rm -rf "$fence"' EXIT
before="$(ls "$artifacts" | wc -l)"
status=0
QR_FUZZ_SCRATCH="$fence" "$build/fuzz/qr_archive_fuzzer" \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=32768 \
  -artifact_prefix="$artifacts/" -print_final_stats=1 \
  "$corpus" "$build/seeds" >"$build/last-run.log" 2>&1 || status=$?
tail -n 25 "$build/last-run.log"

if [ "$status" -ne 0 ]; then
  echo "fuzz.sh: the fuzzer reported a finding (exit $status); see $build/last-run.log and $artifacts" >&2
  exit 1
fi
if [ "$(ls "$artifacts" | wc -l)" -ne "$before" ]; then
  echo "fuzz.sh: new artifacts in $artifacts" >&2
  exit 1
fi
stray="$(find "$fence" -mindepth 1 -maxdepth 1 ! -name scratch)"
stray+="$(find "$fence/scratch" -mindepth 1 -maxdepth 1 ! -name root ! -name input.zip)"
if [ -n "$stray" ]; then
  echo "fuzz.sh: files outside the extraction root: $stray" >&2
  exit 1
fi
echo "fuzz.sh: ${seconds}s without findings"
