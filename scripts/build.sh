#!/usr/bin/env bash
# Builds everything: the 32-bit Windows launcher that ships, the 64-bit Windows build the tests run
# under wine64, the portable core and its tests as 32-bit Linux (run under qemu-i386), and the
# native build (portable core, its tests, the headless patcher). Build trees live under build/.
#
#   scripts/build.sh                 configure and build all four trees
#   scripts/build.sh TARGET...       configure and build only these targets of the native tree
#                                    (e.g. quorvel_tests quorvel-patch)
#
# Build variables, taken from the environment into every tree's configuration (scripts/configure.sh);
# one that is set, even to nothing, replaces the value a tree kept from an earlier run:
#   QUORVEL_RELEASE_PUBKEY=key.pub.pem      the release public key built in (openssl ec -pubout);
#                                           empty: no key
#   QUORVEL_PATCH_LIST_ADDRESS=https://patch.example.com/tzan/patch.txt
#                                           the whole compiled-in patch list address, http:// or https://
#   QUORVEL_PATCH_HOST=patch.example.com:8080
#                                           or only the host (and port) of http://<host>/tzan/patch.txt,
#                                           used while QUORVEL_PATCH_LIST_ADDRESS is empty
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
jobs="$(nproc)"
configure() { bash "$root/scripts/configure.sh" "$@"; }

if [ $# -gt 0 ]; then
  configure native
  cmake --build "$root/build/native" -j "$jobs" --target "$@"
  exit 0
fi

configure win32
configure win64
configure i386
configure native

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
