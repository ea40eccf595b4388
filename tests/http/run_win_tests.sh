#!/usr/bin/env bash
# Runs the Windows test executable under wine64 beside a patch server started here: the executable
# cannot start Python itself, so its HTTP fixture finds this server through QR_TEST_SERVER_URL,
# QR_TEST_SERVER_ROOT, QR_TEST_SERVER_FAULTS and QR_TEST_SERVER_REQUESTS (paths as Z:\...).
# Usage: tests/http/run_win_tests.sh path/to/quorvel_tests.exe [gtest arguments...]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
source "$root/scripts/patch-server.sh"
python="${QR_PYTHON:-python3}"

if [ $# -lt 1 ]; then
  echo "usage: $0 quorvel_tests.exe [gtest arguments...]" >&2
  exit 2
fi
exe="$1"; shift
if [ ! -f "$exe" ]; then
  echo "run_win_tests: $exe does not exist (build the win64 tree first: scripts/build.sh)" >&2
  exit 1
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/quorvel-wine-tests.XXXXXX")"
server_pid=""
display_started=""
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  if [ -n "$display_started" ]; then wine_stop_display; fi
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/root"
echo '{}' > "$work/faults.json"
: > "$work/requests.jsonl"
PYTHON="$python" start_patch_server "$work/port" --root "$work/root" --faults "$work/faults.json" \
  --requests "$work/requests.jsonl" --log "$work/server.log" || exit 1
server_pid="$PATCH_SERVER_PID"
port="$PATCH_SERVER_PORT"

# shellcheck source=../../scripts/wine-env.sh
source "$root/scripts/wine-env.sh"
wine_prepare_prefix
# The HTTP cases need no display, but the executable also holds the window areas' cases.
wine_start_display
display_started=1

export QR_TEST_SERVER_URL="http://127.0.0.1:$port"
export QR_TEST_SERVER_ROOT="$(winepath_of "$work/root")"
export QR_TEST_SERVER_FAULTS="$(winepath_of "$work/faults.json")"
export QR_TEST_SERVER_REQUESTS="$(winepath_of "$work/requests.jsonl")"
# Archives made by Info-ZIP zip and bsdtar, which the executable cannot start under Wine.
bash "$root/tests/archive/make_real_archives.sh" "$work/archives"
export QR_TEST_REAL_ARCHIVES="$(winepath_of "$work/archives")"

set +e
"$WINE" "$exe" "$@"
status=$?
set -e
if [ "$status" -ne 0 ] && [ -s "$work/server.log" ]; then
  echo "--- last requests the patch server saw:"
  tail -n 20 "$work/server.log"
fi
exit "$status"
