#!/usr/bin/env bash
# The demo: builds everything, generates the demo data under build/demo (a fresh install at version
# 100 and a patch server tree up to 103, published tree by tree with quorvel-publish and signed with
# the demo key), serves it on a free loopback port and patches the install with the headless
# patcher, then shows the result against the expected install.
#
#   scripts/demo.sh             patch with build/native/cli/quorvel-patch-demokey (the demo key built
#                               in), or cli/quorvel-patch where that build is not there
#   scripts/demo.sh --window    hand the same data and server to scripts/demo-window.sh (the launcher)
#   --no-build                  skip setup and build (for a second run)
#   --xvfb                      with --window: passed on to demo-window.sh
#
# Exit status: quorvel-patch's (0 patched, 1 failed, 2 usage); 3 when it reported success but the
# install differs from the expected one.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/patch-server.sh"
demo="$root/build/demo"
window=""
build=1
window_args=()
for arg in "$@"; do
  case "$arg" in
    --window) window=1 ;;
    --no-build) build="" ;;
    --xvfb) window_args+=("$arg") ;;
    *) echo "usage: $0 [--window [--xvfb]] [--no-build]" >&2; exit 2 ;;
  esac
done

if [ -n "$build" ]; then
  bash "$root/scripts/setup.sh"
  bash "$root/scripts/build.sh"
fi

server_pid=""
stop_server() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=""
  fi
}
trap stop_server EXIT

mkdir -p "$demo/server"
rm -f "$demo/server.log" "$demo/requests.jsonl"
start_patch_server "$demo/port" --root "$demo/server" --log "$demo/server.log" \
  --requests "$demo/requests.jsonl" || exit 1
server_pid="$PATCH_SERVER_PID"
port="$PATCH_SERVER_PORT"
base="http://127.0.0.1:$port"
python3 "$root/tools/make_demo.py" "$demo" --base-url "$base" \
  --publish "$root/build/native/tools/publish/quorvel-publish" \
  --key "$root/tools/demo-keys/demo-release-key.pem"
echo "patch server: $base serving $demo/server (log: $demo/server.log)"

export QUORVEL_DEMO_DIR="$demo"
export QUORVEL_DEMO_INSTALL="$demo/install"
export QUORVEL_DEMO_EXPECTED="$demo/expected"
export QUORVEL_DEMO_PORT="$port"
export QUORVEL_DEMO_PATCH_LIST="$base/tzan/patch.txt"

if [ -n "$window" ]; then
  if [ ! -f "$root/scripts/demo-window.sh" ]; then
    echo "demo: scripts/demo-window.sh is not there yet; run without --window" >&2
    exit 2
  fi
  # A child rather than exec, so the server still stops when the window demo ends.
  set +e
  bash "$root/scripts/demo-window.sh" "${window_args[@]}"
  status=$?
  set -e
  exit "$status"
fi

# The build with the demo key checks the signature and every file's hash.
patcher="$root/build/native/cli/quorvel-patch-demokey"
[ -x "$patcher" ] || patcher="$root/build/native/cli/quorvel-patch"
if [ ! -x "$patcher" ]; then
  echo "demo: $patcher is missing (scripts/build.sh builds it)" >&2
  exit 1
fi

version_of() {  # the version recorded in an install's VersionInfo.ini
  sed -n 's/\r$//; s/^[[:space:]]*version[[:space:]]*=[[:space:]]*//p' "$1/VersionInfo.ini" 2>/dev/null | head -n 1
}

echo
echo "== $patcher --install-dir $demo/install --patch-list $QUORVEL_DEMO_PATCH_LIST"
echo "   installed version before: $(version_of "$demo/install")"
set +e
"$patcher" --install-dir "$demo/install" --patch-list "$QUORVEL_DEMO_PATCH_LIST"
status=$?
set -e
stop_server

echo
echo "== quorvel-patch exit status: $status"
echo "   installed version now: $(version_of "$demo/install")"
echo
echo "== install tree ($demo/install)"
(cd "$demo/install" && find . -mindepth 1 -printf '%P\t%y\t%s\n' | LC_ALL=C sort) |
  awk -F'\t' '{ depth = gsub("/", "/", $1); name = $1; sub(".*/", "", name);
                printf "%*s%s%s\n", depth * 2, "", name, ($2 == "d") ? "/" : sprintf("  (%d bytes)", $3) }'
echo
echo "== compared with $demo/expected"
if python3 "$root/tools/make_demo.py" "$demo" --check "$demo/install"; then
  echo "   the install matches version 103 exactly"
elif [ "$status" -eq 0 ]; then
  echo "   the patcher reported success but the install differs" >&2
  exit 3
fi
exit "$status"
