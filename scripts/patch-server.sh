# Sourced by scripts and tests that need the patch server on loopback.
#   start_patch_server PORT_FILE [patch_server.py options...]   sets PATCH_SERVER_PID, PATCH_SERVER_PORT
#   stop_patch_server
# PYTHON picks the interpreter (python3 by default). --port defaults to 0 (any free port).
QR_SERVER_SCRIPT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/tools/patch_server.py"
PATCH_SERVER_PID=""
PATCH_SERVER_PORT=""

start_patch_server() {
  local port_file="$1"; shift
  local port_args=(--port 0)
  case " $* " in *" --port "*) port_args=() ;; esac
  rm -f "$port_file"
  "${PYTHON:-python3}" "$QR_SERVER_SCRIPT" "${port_args[@]}" --port-file "$port_file" "$@" >/dev/null &
  PATCH_SERVER_PID=$!
  local _
  for _ in $(seq 200); do
    if [ -s "$port_file" ]; then
      PATCH_SERVER_PORT="$(cat "$port_file")"
      return 0
    fi
    kill -0 "$PATCH_SERVER_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "the patch server did not start or did not report its port" >&2
  return 1
}

stop_patch_server() {
  if [ -n "$PATCH_SERVER_PID" ]; then
    kill "$PATCH_SERVER_PID" 2>/dev/null || true
    wait "$PATCH_SERVER_PID" 2>/dev/null || true
    PATCH_SERVER_PID=""
  fi
}
