#!/usr/bin/env bash
# The window demo: the real launcher (x86_64 build) under wine64 patches the demo install against
# the demo patch server. scripts/demo.sh --window prepares the data and the server and runs this;
# run on its own, it hands over to that first.
#
# With a display (DISPLAY set) the launcher opens there and the player drives it: watch the patch
# run, then press GAME START (or Enter) to start the stand-in game, or EXIT to quit.
# Without one (or with --xvfb / QUORVEL_FORCE_XVFB=1) it runs on a private Xvfb display, saves a
# screenshot of the Ready state to build/demo/launcher-ready.png and presses Enter itself.
#
# Exit status: 0 when the install ends up exactly at version 103 (and, on Xvfb, the game started);
# 1 otherwise, also when the launcher was built with a release key other than the demo key (it
# would refuse the demo release) or did not finish the patch run on Xvfb. The demo install always
# gets its own QuorvelRPG.bin back.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
for arg in "$@"; do
  case "$arg" in
    --xvfb) export QUORVEL_FORCE_XVFB=1 ;;
    *) echo "usage: $0 [--xvfb]" >&2; exit 2 ;;
  esac
done

if [ -z "${QUORVEL_DEMO_PATCH_LIST:-}" ]; then
  build_flag=--no-build
  [ -f "$root/build/win64/app/QuorvelLauncher.exe" ] || build_flag=""
  exec bash "$root/scripts/demo.sh" --window $build_flag
fi

launcher="$root/build/win64/app/QuorvelLauncher.exe"
standin="$root/build/win64/tools/standin-game/QuorvelStandinGame.exe"
for f in "$launcher" "$standin"; do
  [ -f "$f" ] || { echo "demo-window: $f is missing (scripts/build.sh builds it)" >&2; exit 1; }
done
install="$QUORVEL_DEMO_INSTALL"

# The demo release is signed with the demo key: a launcher built with an operator's key refuses it
# and could only show the patch-info failure.
built_key() {  # the key the win64 launcher was configured with, as one line of base64; empty: none
  sed -n 's/.*return "\(.*\)";.*/\1/p' "$root/build/win64/generated/qr_release_key.cpp" 2>/dev/null |
    sed 's/\\n//g; s/-----[A-Z ]*-----//g'
}
demo_key="$(tr -d '\r\n' <"$root/tools/demo-keys/demo-release-key.pub.pem" | sed 's/-----[A-Z ]*-----//g')"
key="$(built_key)"
if [ -n "$key" ] && [ "$key" != "$demo_key" ]; then
  echo "demo-window: build/win64 was built with a release key (QUORVEL_RELEASE_PUBKEY) that is not the demo" >&2
  echo "demo-window: key; its launcher refuses the demo release, which tools/demo-keys/demo-release-key.pem signs." >&2
  echo "demo-window: for the demo, build without a key (QUORVEL_RELEASE_PUBKEY= bash scripts/build.sh) or with" >&2
  echo "demo-window: QUORVEL_RELEASE_PUBKEY=tools/demo-keys/demo-release-key.pub.pem; nothing was started." >&2
  exit 1
fi
shot="$QUORVEL_DEMO_DIR/launcher-ready.png"
title="Quorvel RPG Launcher Ver.20120317"

unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
# shellcheck source=wine-env.sh
source "$root/scripts/wine-env.sh"
echo "demo-window: preparing the Wine prefix $WINEPREFIX"
wine_prepare_prefix
wine_start_display
launcher_pid=""
standin_placed=""
give_back_game() {  # the demo install's own QuorvelRPG.bin, in place of the stand-in
  if [ -n "$standin_placed" ]; then
    mv "$QUORVEL_DEMO_DIR/QuorvelRPG.bin.demo" "$install/QuorvelRPG.bin"
    standin_placed=""
  fi
}
stop_launcher() {
  if [ -n "$launcher_pid" ] && kill -0 "$launcher_pid" 2>/dev/null; then kill "$launcher_pid" 2>/dev/null || true; fi
  if [ -n "$launcher_pid" ]; then wait "$launcher_pid" 2>/dev/null || true; fi
  launcher_pid=""
}
finish() {
  stop_launcher
  /usr/lib/wine/wineserver -w >/dev/null 2>&1 || true
  give_back_game
  wine_stop_display
}
trap finish EXIT
trap 'exit 130' INT TERM

# The demo install's own QuorvelRPG.bin is a text file; the stand-in, which records how it was
# started, takes its place for the run and gives it back afterwards.
cp "$install/QuorvelRPG.bin" "$QUORVEL_DEMO_DIR/QuorvelRPG.bin.demo"
standin_placed=1
cp "$standin" "$install/QuorvelRPG.bin"
rm -f "$install/standin-launch.txt"
"$WINE" reg add 'HKCU\Software\VORANTHEX\QuorvelRPG' /v path /t REG_SZ /d "$(winepath_of "$install")" /f >/dev/null 2>&1
export QUORVEL_PATCH_LIST_URL="$QUORVEL_DEMO_PATCH_LIST"

version_of() { sed -n 's/\r$//; s/^[[:space:]]*version[[:space:]]*=[[:space:]]*//p' "$1/VersionInfo.ini" 2>/dev/null | head -n 1; }
echo "demo-window: installed version before: $(version_of "$install")"
echo "demo-window: starting the launcher with the arguments: player01 ticket-demo 7 1"
(cd "$install" && exec "$WINE" "$launcher" player01 ticket-demo 7 1) >/dev/null 2>&1 &
launcher_pid=$!

status=0
if [ -n "${QR_XVFB_PID:-}" ]; then
  echo "demo-window: running on Xvfb display $DISPLAY"
  window=""
  for _ in $(seq 300); do
    window="$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n 1)" && [ -n "$window" ] && break
    sleep 0.2
  done
  [ -n "$window" ] || { echo "demo-window: the launcher window did not appear" >&2; exit 1; }
  for _ in $(seq 600); do
    [ "$(version_of "$install")" = 103 ] && break
    kill -0 "$launcher_pid" 2>/dev/null || break
    sleep 0.2
  done
  sleep 2  # the finish repaints the window
  import -window root "$shot"
  echo "demo-window: screenshot of the launcher: $shot"
  if [ "$(version_of "$install")" = 103 ]; then
    xdotool windowfocus --sync "$window" 2>/dev/null || true
    xdotool key Return
  elif kill -0 "$launcher_pid" 2>/dev/null; then
    # A failed run leaves the window open with GAME START disabled: nobody would ever close it.
    echo "demo-window: the launcher did not patch the install to version 103 within two minutes (see $shot" >&2
    echo "demo-window: for what it shows); ending it" >&2
    stop_launcher
    status=1
  fi
else
  echo "demo-window: the launcher is open on $DISPLAY; press GAME START (or Enter) once patched, or EXIT"
fi
[ -n "$launcher_pid" ] && { wait "$launcher_pid" 2>/dev/null || true; }
launcher_pid=""
/usr/lib/wine/wineserver -w >/dev/null 2>&1 || true

sleep 1  # the stand-in game writes its record right after its start
give_back_game
record="$QUORVEL_DEMO_DIR/standin-launch.txt"
rm -f "$record"
[ -e "$install/standin-launch.txt" ] && mv "$install/standin-launch.txt" "$record"

echo "demo-window: installed version now: $(version_of "$install")"
if [ -s "$record" ]; then
  echo "demo-window: the game was started ($record):"
  sed 's/^/    /' "$record"
elif [ -n "${QR_XVFB_PID:-}" ]; then
  echo "demo-window: the game was not started" >&2
  status=1
fi
if python3 "$root/tools/make_demo.py" "$QUORVEL_DEMO_DIR" --check "$install" >/dev/null 2>&1; then
  echo "demo-window: the install matches version 103 exactly"
else
  echo "demo-window: the install differs from version 103:" >&2
  python3 "$root/tools/make_demo.py" "$QUORVEL_DEMO_DIR" --check "$install" >&2 || true
  status=1
fi
exit "$status"
