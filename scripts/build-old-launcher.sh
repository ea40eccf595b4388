#!/usr/bin/env bash
# Builds quorvel-patch as players have it from before delta updates (the last commit without them)
# into build/old-launcher: the tests check that a release published with deltas still patches with it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
commit=fe6e5f709b22113fa39d9359ba2081411fab3131
out="$root/build/old-launcher"
program="$out/build/cli/quorvel-patch"
if [ -x "$program" ] && [ "$(cat "$out/commit" 2>/dev/null)" = "$commit" ]; then
  exit 0
fi
if ! git -C "$root" cat-file -e "$commit^{commit}" 2>/dev/null; then
  echo "build-old-launcher.sh: commit $commit is not in this clone (a shallow clone? git fetch --unshallow)" >&2
  exit 1
fi
rm -rf "$out"
mkdir -p "$out/src"
git -C "$root" archive "$commit" | tar -x -C "$out/src"
args=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR="$out/src"
  args+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$out/src" -B "$out/build" -DCMAKE_BUILD_TYPE=Release "${args[@]}" >/dev/null
cmake --build "$out/build" -j "$(nproc)" --target quorvel-patch
echo "$commit" >"$out/commit"
