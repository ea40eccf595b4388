#!/usr/bin/env bash
# Configures one build tree the way scripts/build.sh does:
#   scripts/configure.sh native|win64|win32|i386 [BUILD_DIR] [more cmake arguments...]
# BUILD_DIR defaults to build/<tree>. The build variables come from the environment (see build.sh);
# one that is set, even to nothing, replaces what the tree's cache held.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if [ $# -lt 1 ]; then
  echo "usage: $0 native|win64|win32|i386 [BUILD_DIR] [cmake arguments...]" >&2
  exit 2
fi
tree="$1"; shift
dir="$root/build/$tree"
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then dir="$1"; shift; fi

args=(-DCMAKE_BUILD_TYPE=Release)
# A developer's machine with ccache shares compiled objects between checkouts of the same tree.
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR="$root"
  args+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
[ -n "${QUORVEL_PATCH_HOST+set}" ] && args+=("-DQUORVEL_PATCH_HOST=$QUORVEL_PATCH_HOST")
[ -n "${QUORVEL_PATCH_LIST_ADDRESS+set}" ] && args+=("-DQUORVEL_PATCH_LIST_ADDRESS=$QUORVEL_PATCH_LIST_ADDRESS")
if [ -n "${QUORVEL_RELEASE_PUBKEY+set}" ]; then
  key="$QUORVEL_RELEASE_PUBKEY"
  # cmake runs from elsewhere: a key named relative to the caller's directory is made absolute.
  case "$key" in ""|/*) ;; *) key="$PWD/$key" ;; esac
  args+=("-DQUORVEL_RELEASE_PUBKEY:FILEPATH=$key")
fi

case "$tree" in
  # The shipping tree takes its patch list only from the compiled-in address.
  win32) args+=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DQUORVEL_PATCH_LIST_OVERRIDE=OFF) ;;
  win64) args+=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake") ;;
  i386) args+=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/linux-i386.cmake") ;;
  native) args+=(-DQUORVEL_WIN64_BUILD_DIR="$root/build/win64" -DQUORVEL_WIN32_BUILD_DIR="$root/build/win32"
                 -DQUORVEL_I386_BUILD_DIR="$root/build/i386") ;;
  *) echo "configure: unknown tree \"$tree\" (native, win64, win32 or i386)" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$dir" "${args[@]}" "$@" >/dev/null
