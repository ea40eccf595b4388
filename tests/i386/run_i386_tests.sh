#!/usr/bin/env bash
# Runs the i386 build's test executable under the emulator its tree was configured with (the
# toolchain's QR_QEMU_I386: this kernel does not start 32-bit programs). Programs it starts itself
# (the patch server's Python) are 64-bit and run natively.
# Usage: tests/i386/run_i386_tests.sh build/i386 [gtest arguments...]
set -euo pipefail
if [ $# -lt 1 ]; then
  echo "usage: $0 i386-build-dir [gtest arguments...]" >&2
  exit 2
fi
tree="$1"; shift
exe="$tree/tests/quorvel_tests"
if [ ! -x "$exe" ]; then
  echo "run_i386_tests: $exe does not exist (build the i386 tree first: scripts/build.sh)" >&2
  exit 1
fi
emulator="$(sed -n 's/^QR_QEMU_I386:[A-Z]*=//p' "$tree/CMakeCache.txt")"
emulator="${emulator:-qemu-i386}"
if ! command -v "$emulator" >/dev/null 2>&1; then
  echo "run_i386_tests: $emulator is missing (scripts/setup.sh installs qemu-user)" >&2
  exit 1
fi
# Every case runs; none needs anything qemu-user cannot give (no Wine, no 32-bit child programs).
exec "$emulator" "$exe" --gtest_brief=1 "$@"
