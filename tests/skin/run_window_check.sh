#!/usr/bin/env bash
# Runs the skinned test window under wine64 on a private Xvfb display, with a Wine prefix of its
# own so other Wine runs on the machine cannot disturb it, and checks its screenshots.
#     run_window_check.sh <python> <skin_window_check.exe> <res/bitmaps> <output dir> <wine prefix>
set -euo pipefail
python=$1 exe=$2 bitmaps=$3
out="$(realpath -m "$4")" prefix="$(realpath -m "$5")"  # Wine wants absolute paths
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
if [ ! -f "$exe" ]; then
  echo "skin_window_wine: $exe is missing; build the win64 tree first (scripts/build.sh)"
  exit 1
fi
export QUORVEL_WINEPREFIX="$prefix" QUORVEL_FORCE_XVFB=1
# shellcheck source=../../scripts/wine-env.sh
source "$root/scripts/wine-env.sh"
wine_prepare_prefix
wine_start_display
cleanup() {
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  wine_stop_display
}
trap cleanup EXIT
"$python" "$here/window_check.py" --wine "$WINE" --exe "$exe" --bitmaps "$bitmaps" --out "$out"
