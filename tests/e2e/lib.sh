# Shared steps of the launcher's end-to-end cases: a private Wine prefix and X display, the patch
# server on loopback, the registry value naming the install directory, the launcher run under
# wine64, and screenshots kept with the test output.
# Sourced by run.sh; every function fails the case with a message through e2e_fail.

E2E_HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
E2E_ROOT="$(cd "$E2E_HERE/../.." && pwd)"
source "$E2E_ROOT/scripts/patch-server.sh"
E2E_PYTHON="${QR_PYTHON:-python3}"
E2E_TITLE="Quorvel RPG Launcher Ver.20120317"
E2E_APP_BOX_TITLE="QuorvelLauncher"   # message boxes titled with the program's name
E2E_GAME_BOX_TITLE="Quorvel RPG"      # the game start errors

# Client-area places of the window's parts (pixels).
E2E_STATUS_AREA="330x42+401+88"       # status line
E2E_COUNTER_AREA="300x14+473+63"      # "%d / %d" and "%d Byte"
E2E_START_BUTTON_AREA="113x58+511+218"
E2E_CLOSE_BUTTON_CENTRE="678 252"

e2e_log() { echo "[e2e ${E2E_CASE:-?}] $*"; }
e2e_fail() {
  echo "[e2e ${E2E_CASE:-?}] FAIL: $*" >&2
  exit 1
}

# e2e_init CASE WIN64_BUILD_DIR OUTPUT_DIR
e2e_init() {
  E2E_CASE="$1"
  E2E_WIN64="$2"
  E2E_SHOTS="$3/$E2E_CASE"
  E2E_EXE="$E2E_WIN64/app/QuorvelLauncher.exe"
  E2E_STANDIN="$E2E_WIN64/tools/standin-game/QuorvelStandinGame.exe"
  [ -f "$E2E_EXE" ] || e2e_fail "$E2E_EXE does not exist (build the win64 tree: scripts/build.sh)"
  [ -f "$E2E_STANDIN" ] || e2e_fail "$E2E_STANDIN does not exist"
  rm -rf "$E2E_SHOTS"
  mkdir -p "$E2E_SHOTS"
  E2E_WORK="$(mktemp -d "${TMPDIR:-/tmp}/quorvel-e2e-$E2E_CASE.XXXXXX")"
  E2E_SERVER_PID=""
  E2E_LAUNCHER_PID=""
  trap e2e_cleanup EXIT

  # Only loopback is talked to; a proxy from the environment would take the requests elsewhere.
  unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
  # A prefix of our own, so the registry value and the Wine processes are ours alone.
  export QUORVEL_WINEPREFIX="${QUORVEL_E2E_WINEPREFIX:-$E2E_ROOT/build/wineprefix-e2e}"
  export QUORVEL_FORCE_XVFB=1
  export QUORVEL_XVFB_DISPLAY="$(e2e_free_display)"
  # shellcheck source=../../scripts/wine-env.sh
  source "$E2E_ROOT/scripts/wine-env.sh"
  wine_prepare_prefix
  wine_start_display
  kill -0 "$QR_XVFB_PID" 2>/dev/null || e2e_fail "Xvfb did not start on $DISPLAY"
  e2e_log "display $DISPLAY, prefix $WINEPREFIX, work $E2E_WORK"
}

e2e_free_display() {
  local n
  for n in $(seq 140 199); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then echo "$n"; return; fi
  done
  echo 199
}

e2e_cleanup() {
  local status=$?
  if [ -n "$E2E_LAUNCHER_PID" ] && kill -0 "$E2E_LAUNCHER_PID" 2>/dev/null; then
    e2e_shot "left-running" || true
    kill "$E2E_LAUNCHER_PID" 2>/dev/null || true
  fi
  # The prefix is this suite's own, so ending its server ends only what these cases started.
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  if [ -n "$E2E_SERVER_PID" ]; then
    kill "$E2E_SERVER_PID" 2>/dev/null || true
    wait "$E2E_SERVER_PID" 2>/dev/null || true
  fi
  wine_stop_display
  if [ "$status" -ne 0 ] && [ -s "$E2E_WORK/server.log" ]; then
    echo "--- last requests the patch server saw:" >&2
    tail -n 20 "$E2E_WORK/server.log" >&2
  fi
  if [ "$status" -eq 0 ]; then rm -rf "$E2E_WORK"; else echo "work directory kept: $E2E_WORK" >&2; fi
  exit "$status"
}

# The demo data set: $E2E_DEMO/install (version 100), $E2E_DEMO/server, $E2E_DEMO/expected. The
# patch list inside names the port the server will listen on, so the port is chosen here.
e2e_make_demo() {
  E2E_DEMO="$E2E_WORK/demo"
  E2E_PORT="$(e2e_dead_port)"
  "$E2E_PYTHON" "$E2E_ROOT/tools/make_demo.py" "$E2E_DEMO" \
    --base-url "http://127.0.0.1:$E2E_PORT" >"$E2E_WORK/make_demo.out" 2>&1 \
    || e2e_fail "make_demo.py failed: $(cat "$E2E_WORK/make_demo.out")"
  E2E_INSTALL="$E2E_WORK/install"
  cp -a "$E2E_DEMO/install" "$E2E_INSTALL"
  cp "$E2E_STANDIN" "$E2E_INSTALL/QuorvelRPG.bin"
}

# e2e_faults JSON: the patch server's fault modes, replaced in one step (the server rereads them).
e2e_faults() {
  printf '%s\n' "$1" > "$E2E_WORK/faults.json.tmp"
  mv "$E2E_WORK/faults.json.tmp" "$E2E_WORK/faults.json"
}

e2e_start_server() {
  [ -f "$E2E_WORK/faults.json" ] || e2e_faults '{}'
  : > "$E2E_WORK/requests.jsonl"
  PYTHON="$E2E_PYTHON" start_patch_server "$E2E_WORK/port" --root "$E2E_DEMO/server" --port "$E2E_PORT" \
    --faults "$E2E_WORK/faults.json" --requests "$E2E_WORK/requests.jsonl" --log "$E2E_WORK/server.log" \
    || e2e_fail "patch server did not start"
  E2E_SERVER_PID=$PATCH_SERVER_PID
  e2e_point_at "http://127.0.0.1:$E2E_PORT/tzan/patch.txt"
}

# The launcher takes its patch list from here instead of the compiled-in address.
e2e_point_at() { export QUORVEL_PATCH_LIST_URL="$1"; }

# A port nothing listens on.
e2e_dead_port() {
  "$E2E_PYTHON" -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}

e2e_requested() {  # e2e_requested PATH: how many requests the server saw for PATH
  grep -c "\"path\": \"$1\"" "$E2E_WORK/requests.jsonl" 2>/dev/null || true
}

# e2e_set_install_dir DIR (Unix path): the registry value the launcher reads.
e2e_set_install_dir() {
  "$WINE" reg add 'HKCU\Software\VORANTHEX\QuorvelRPG' /v path /t REG_SZ /d "$(winepath_of "$1")" /f >/dev/null 2>&1 \
    || e2e_fail "cannot set the install directory in the registry"
}

e2e_clear_install_dir() {
  "$WINE" reg delete 'HKCU\Software\VORANTHEX\QuorvelRPG' /f >/dev/null 2>&1 || true
}

# e2e_start_launcher ARGS...: runs the launcher from an empty start directory of its own.
e2e_start_launcher() {
  E2E_START_DIR="$E2E_WORK/start"
  mkdir -p "$E2E_START_DIR"
  (cd "$E2E_START_DIR" && exec "$WINE" "$E2E_EXE" "$@") >"$E2E_WORK/launcher.out" 2>&1 &
  E2E_LAUNCHER_PID=$!
}

e2e_launcher_running() { kill -0 "$E2E_LAUNCHER_PID" 2>/dev/null; }

# e2e_wait_exit SECONDS: true when the launcher process ended in time.
e2e_wait_exit() {
  local deadline=$((SECONDS + $1))
  while [ $SECONDS -lt $deadline ]; do
    if ! e2e_launcher_running; then
      wait "$E2E_LAUNCHER_PID" 2>/dev/null || true
      E2E_LAUNCHER_PID=""
      return 0
    fi
    sleep 0.2
  done
  return 1
}

# e2e_find_window REGEX SECONDS: prints the X window id of the first visible match.
e2e_find_window() {
  local deadline=$((SECONDS + $2)) id
  while [ $SECONDS -lt $deadline ]; do
    id="$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)"
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    e2e_launcher_running || return 1
    sleep 0.2
  done
  return 1
}

e2e_main_window() {
  E2E_WINDOW="$(e2e_find_window "^$E2E_TITLE\$" "${1:-60}")" || e2e_fail "the launcher window did not appear"
  e2e_client_origin
}

# Where the 740 x 330 client area lies on the screen: Wine draws the frame and caption itself
# here (no window manager), so the frame is what is left around the client area.
e2e_client_origin() {
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$E2E_WINDOW")"
  E2E_WIN_X=$X
  E2E_WIN_Y=$Y
  E2E_WIN_W=$WIDTH
  E2E_WIN_H=$HEIGHT
  local frame=$(((WIDTH - 740) / 2))
  E2E_CLIENT_X=$((X + frame))
  E2E_CLIENT_Y=$((Y + HEIGHT - 330 - frame))
}

# e2e_shot NAME: the whole screen, kept as NAME.png with the test output.
e2e_shot() {
  import -window root "$E2E_SHOTS/$1.png" 2>/dev/null || return 1
  e2e_log "screenshot $E2E_SHOTS/$1.png"
}

# e2e_crop NAME AREA OUT: the client-area rectangle AREA (WxH+X+Y) of screenshot NAME.
e2e_crop() {
  local w h x y
  IFS='x+' read -r w h x y <<<"$2"
  convert "$E2E_SHOTS/$1.png" -crop "${w}x${h}+$((E2E_CLIENT_X + x))+$((E2E_CLIENT_Y + y))" +repage "$3"
}

# e2e_differ NAME_A NAME_B AREA: true when the two screenshots differ inside AREA.
e2e_differ() {
  e2e_crop "$1" "$3" "$E2E_WORK/a.png"
  e2e_crop "$2" "$3" "$E2E_WORK/b.png"
  local changed
  changed="$(compare -metric AE "$E2E_WORK/a.png" "$E2E_WORK/b.png" null: 2>&1 || true)"
  changed="${changed%% *}"
  [ "${changed%.*}" -gt 0 ] 2>/dev/null
}

# e2e_key WINDOW KEY: focuses the window and sends it one key.
e2e_key() {
  xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1" 2>/dev/null || true
  sleep 0.2
  xdotool key --clearmodifiers "$2"
}

# e2e_click_client X Y: a left click at a client-area point of the launcher window.
e2e_click_client() {
  xdotool mousemove --sync "$((E2E_CLIENT_X + $1))" "$((E2E_CLIENT_Y + $2))" 2>/dev/null \
    || xdotool mousemove "$((E2E_CLIENT_X + $1))" "$((E2E_CLIENT_Y + $2))"
  sleep 0.2
  xdotool click 1
}

# e2e_wait_for SECONDS COMMAND...: polls until COMMAND succeeds.
e2e_wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  while [ $SECONDS -lt $deadline ]; do
    "$@" && return 0
    sleep 0.2
  done
  return 1
}

e2e_ini_version() {  # e2e_ini_version FILE: the [VERSION] version value
  [ -f "$1" ] || { echo "(missing)"; return; }
  tr -d '\r' <"$1" | awk -F= 'tolower($0) ~ /^\[version\]/ {s=1; next} /^\[/ {s=0} s && $1=="version" {print $2; exit}'
}

# e2e_unpaired_temps DIR: temporaries without a record beside them: a download or an unpacking in
# progress, or a leftover. A partial file beside its record is kept on purpose, for the next run.
e2e_unpaired_temps() {
  local f
  find "$1" \( -name '*.qrtmp' -o -name '*.qrnew' \) -print | while read -r f; do
    [ "${f%.qrtmp}" != "$f" ] && [ -f "${f%.qrtmp}.qrpart" ] && continue
    echo "$f"
  done
}

e2e_no_temp_files() {  # e2e_no_temp_files DIR
  [ -z "$(e2e_unpaired_temps "$1")" ]
}

# e2e_remove_kept_partials DIR: removes the partial files kept beside their records.
e2e_remove_kept_partials() {
  find "$1" -name '*.qrpart' -print | while read -r f; do rm -f "$f" "${f%.qrpart}.qrtmp"; done
}

# e2e_same_tree A B: same files with the same bytes, apart from the game executable, its record,
# the launcher's run log and the patch list of a launcher still running (checked on its own after
# the launcher ends).
e2e_same_tree() {
  diff -r -x standin-launch.txt -x QuorvelRPG.bin -x patch.txt -x QuorvelLauncher.log "$1" "$2" >"$E2E_WORK/tree.diff" 2>&1
}

# e2e_wait_blinking SECONDS: true once the start button blinks (two screenshots a blink apart
# differ there), which it only does after a successful run.
e2e_wait_blinking() {
  local deadline=$((SECONDS + $1))
  while [ $SECONDS -lt $deadline ]; do
    e2e_launcher_running || return 1
    import -window root "$E2E_SHOTS/.blink-a.png" 2>/dev/null
    # Several later shots at uneven delays: on a loaded machine a screenshot takes long enough to
    # land in the same blink phase as the first one again and again.
    local delay
    for delay in 0.3 0.1 0.15 0.1; do
      sleep "$delay"
      import -window root "$E2E_SHOTS/.blink-b.png" 2>/dev/null
      if e2e_differ .blink-a .blink-b "$E2E_START_BUTTON_AREA"; then
        rm -f "$E2E_SHOTS/.blink-a.png" "$E2E_SHOTS/.blink-b.png"
        return 0
      fi
    done
  done
  rm -f "$E2E_SHOTS/.blink-a.png" "$E2E_SHOTS/.blink-b.png"
  return 1
}

# e2e_blink_shots NAME_A NAME_B: two screenshots of the button in different blink phases; false
# when it shows the same picture across a few blink periods. The delays are uneven so that slow
# screenshots on a loaded machine cannot keep landing in the first shot's phase.
e2e_blink_shots() {
  e2e_shot "$1"
  local delay
  for delay in 0.1 0.15 0.1 0.3 0.1 0.2 0.35 0.1 0.25 0.15 0.4 0.1; do
    sleep "$delay"
    e2e_shot "$2" >/dev/null
    e2e_differ "$1" "$2" "$E2E_START_BUTTON_AREA" && return 0
  done
  return 1
}

# e2e_slow_all_files DELAY CHUNK: paces the body of every file the server holds except the patch
# list and the patch description.
e2e_slow_all_files() {
  "$E2E_PYTHON" - "$E2E_DEMO/server" "$1" "$2" >"$E2E_WORK/faults.json.tmp" <<'PY'
import json, os, sys
root, delay, chunk = sys.argv[1], float(sys.argv[2]), int(sys.argv[3])
faults = {}
for base, _, files in os.walk(root):
    for name in files:
        path = "/" + os.path.relpath(os.path.join(base, name), root).replace(os.sep, "/")
        if name not in ("patch.txt", "PatchInfo.ini"):
            faults[path] = {"mode": "slow", "delay": delay, "chunk": chunk}
print(json.dumps(faults))
PY
  mv "$E2E_WORK/faults.json.tmp" "$E2E_WORK/faults.json"
}

# e2e_record_field NAME: a field of the stand-in game's record (commandline, directory).
e2e_record_field() {
  sed -n "s/^$1=//p" "$E2E_INSTALL/standin-launch.txt"
}

e2e_expect_no_leftovers() {  # the patch list and the patch description are gone, no temp files
  local d
  for d in "$E2E_INSTALL" "$E2E_START_DIR"; do
    [ ! -e "$d/patch.txt" ] || e2e_fail "patch.txt left in $d"
    [ ! -e "$d/PatchInfo.ini" ] || e2e_fail "PatchInfo.ini left in $d"
    e2e_no_temp_files "$d" || e2e_fail "temporary download files left in $d: $(e2e_unpaired_temps "$d")"
  done
}

# e2e_wait_run_over SECONDS: the worker has gone quiet: no request for 4 seconds and no download
# in progress.
e2e_wait_run_over() {
  local deadline=$((SECONDS + $1)) count last=-1 quiet_since=$SECONDS
  while [ $SECONDS -lt $deadline ]; do
    count="$(wc -l <"$E2E_WORK/requests.jsonl")"
    if [ "$count" != "$last" ] || ! e2e_no_temp_files "$E2E_INSTALL"; then
      last="$count"
      quiet_since=$SECONDS
    elif [ $((SECONDS - quiet_since)) -ge 4 ]; then
      return 0
    fi
    sleep 0.5
  done
  return 1
}

# Predicates for e2e_wait_for (evaluated anew on every poll).
e2e_was_requested() { [ "$(e2e_requested "$1")" -ge 1 ]; }
e2e_version_is() { [ "$(e2e_ini_version "$1")" = "$2" ]; }
e2e_download_in_progress() { ! e2e_no_temp_files "$1"; }

# e2e_dismiss WINDOW: presses Enter on a message box until it has gone (the first key can reach
# X before the box has taken the focus).
e2e_dismiss() {
  local _
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    e2e_key "$1" Return
    sleep 0.5
    xdotool search --onlyvisible --name . 2>/dev/null | grep -qx "$1" || return 0
  done
  e2e_fail "the message box did not go away"
}

# The install as version 103 leaves it, so a run only checks the version and is soon Ready; the
# game executable is the stand-in again (the demo's own is a text file).
e2e_install_up_to_date() {
  cp -a "$E2E_DEMO/expected/." "$E2E_INSTALL/"
  cp "$E2E_STANDIN" "$E2E_INSTALL/QuorvelRPG.bin"
}

# e2e_old_or_new BEFORE EXPECTED INSTALL: every file of INSTALL is whole, either as it was before
# or as the patch brings it, and no file of BEFORE has gone.
e2e_old_or_new() {
  "$E2E_PYTHON" - "$@" >"$E2E_WORK/old-or-new.txt" <<'PY'
import os, sys
before, expected, install = sys.argv[1:4]
skip = {"QuorvelRPG.bin", "standin-launch.txt", "patch.txt", "QuorvelLauncher.log"}
bad = []
def files(root):
    for base, _, names in os.walk(root):
        for n in names:
            rel = os.path.relpath(os.path.join(base, n), root)
            if rel not in skip:
                yield rel
def read(root, rel):
    try:
        with open(os.path.join(root, rel), "rb") as f:
            return f.read()
    except OSError:
        return None
for rel in files(install):
    data = read(install, rel)
    if data != read(before, rel) and data != read(expected, rel):
        bad.append("neither old nor new: " + rel)
for rel in files(before):
    if read(install, rel) is None:
        bad.append("gone: " + rel)
print("\n".join(bad))
sys.exit(1 if bad else 0)
PY
}

# e2e_drag_client X Y DX DY: presses the left button at a client point and moves by DX, DY.
e2e_drag_client() {
  local x=$((E2E_CLIENT_X + $1)) y=$((E2E_CLIENT_Y + $2)) i
  xdotool mousemove "$x" "$y"
  sleep 0.3
  xdotool mousedown 1
  sleep 0.3
  for i in 1 2 3 4 5; do
    xdotool mousemove "$((x + $3 * i / 5))" "$((y + $4 * i / 5))"
    sleep 0.1
  done
  sleep 0.2
  xdotool mouseup 1
  sleep 0.5
}
