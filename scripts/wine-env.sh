# Sourced by scripts that run Windows executables: a private 64-bit Wine prefix with a Korean font
# standing in for "굴림", and an Xvfb display when no display is given.
# Usage: source scripts/wine-env.sh; wine_start_display; "$WINE" prog.exe ...; wine_stop_display
QR_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINE=/usr/lib/wine/wine64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX="${QUORVEL_WINEPREFIX:-$QR_ROOT/build/wineprefix}"
export WINEARCH=win64

wine_prepare_prefix() {
  if [ -f "$WINEPREFIX/.quorvel-ready" ]; then return 0; fi
  mkdir -p "$WINEPREFIX"
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  "$WINE" wineboot --init >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w >/dev/null 2>&1 || true
  local reg; reg=$(mktemp --suffix=.reg)
  # UTF-16 so the Korean face name of the dialog font survives whatever Wine's ANSI code page is.
  printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"Gulim"="NanumGothic"\r\n"굴림"="NanumGothic"\r\n"GulimChe"="NanumGothicCoding"\r\n' \
    | iconv -f UTF-8 -t UTF-16 > "$reg"
  "$WINE" regedit /S "$(winepath_of "$reg")" >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w >/dev/null 2>&1 || true
  rm -f "$reg"
  touch "$WINEPREFIX/.quorvel-ready"
}

winepath_of() { echo "Z:$(echo "$1" | sed 's|/|\\|g')"; }

wine_start_display() {
  if [ -n "${DISPLAY:-}" ] && [ -z "${QUORVEL_FORCE_XVFB:-}" ]; then return 0; fi
  local n=${QUORVEL_XVFB_DISPLAY:-$((90 + RANDOM % 100))}
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  QR_XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
}

wine_stop_display() {
  if [ -n "${QR_XVFB_PID:-}" ]; then kill "$QR_XVFB_PID" 2>/dev/null || true; wait "$QR_XVFB_PID" 2>/dev/null || true; fi
}
