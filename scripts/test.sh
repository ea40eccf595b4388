#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the four trees, then one ctest run in the
# native tree, which also drives the Windows test executable and the launcher under wine64 and the
# 32-bit Linux test executable under qemu-i386.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh"
# Without it only the case that patches with a launcher from before deltas fails, and says why.
bash "$root/scripts/build-old-launcher.sh" || echo "test.sh: the launcher from before deltas could not be built" >&2
mkdir -p "$root/build/native/test-output"
cd "$root/build/native"
ctest --output-on-failure --timeout 900 -j 2 "$@"
