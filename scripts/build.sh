#!/usr/bin/env bash
# Builds everything: the 32-bit Windows launcher that ships, the 64-bit Windows build the tests run
# under wine64, the portable core and its tests as 32-bit Linux (run under qemu-i386), and the
# native build (portable core, its tests, the headless patcher).
# Build trees live under build/; pass target names to build only those in the native tree.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
jobs="$(nproc)"
host_args=()
# A developer's machine with ccache shares compiled objects between checkouts of the same tree.
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR="$root"
  host_args+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
[ -n "${QUORVEL_PATCH_HOST:-}" ] && host_args+=(-DQUORVEL_PATCH_HOST="$QUORVEL_PATCH_HOST")

configure() {  # dir, extra args...
  local dir="$1"; shift
  cmake -S "$root" -B "$root/build/$dir" -DCMAKE_BUILD_TYPE=Release "${host_args[@]}" "$@" >/dev/null
}

# The shipping tree takes its patch list only from the compiled-in address.
configure win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DQUORVEL_PATCH_LIST_OVERRIDE=OFF
configure win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake"
configure i386 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/linux-i386.cmake"
configure native -DQUORVEL_WIN64_BUILD_DIR="$root/build/win64" -DQUORVEL_WIN32_BUILD_DIR="$root/build/win32" \
  -DQUORVEL_I386_BUILD_DIR="$root/build/i386"

cmake --build "$root/build/win32" -j "$jobs"
cmake --build "$root/build/win64" -j "$jobs"
# The 32-bit Linux tree only needs the portable core and its tests.
cmake --build "$root/build/i386" -j "$jobs" --target quorvel_tests
cmake --build "$root/build/native" -j "$jobs"

# The shipping launcher is stripped at link time (symbols in QuorvelLauncher.exe.debug) and must
# stay under 1.8 MB (room for the zstd decoder).
shipped="$root/build/win32/app/QuorvelLauncher.exe"
if [ -f "$shipped" ] && [ "$(stat -c %s "$shipped")" -ge 1887437 ]; then
  echo "build.sh: $shipped is $(stat -c %s "$shipped") bytes, over the 1.8 MB the launcher may ship at" >&2
  exit 1
fi
