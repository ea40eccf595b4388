#!/usr/bin/env bash
# Patch benchmark on an emulated player's link. Run as root. Builds the link itself: two network
# namespaces of its own (server, player) joined by TUN devices and bench/wan/wan_link.cpp, a
# user-space emulator applying the round trip, the bottleneck rate and random loss; every address
# (10.77.0.1 server, 10.77.0.2 player) exists only inside those namespaces. nginx serves, in the
# server's namespace, a release published by quorvel-publish for each shape:
#   small: 1,500 files of 1-60 KB     big: one 200 MB file     mid: 300 files of 1 MB
# In the player's namespace each tool fetches the same release into an empty directory, taking turns:
# quorvel-patch (native, libcurl) into an install at version 100, the Windows build under wine64
# (WinInet) likewise, and the peers over the same paths: curl in one process (keep-alive) and
# curl --parallel --parallel-max 8. Prints medians of N runs, the TCP connections nginx saw, the
# ratios and the link's floor (the served bytes * 8 / rate + one round trip). A version lists at most
# 1,000 names, so quorvel-publish packs the rest of the small shape into the version's archive; the
# peers unzip what they fetched of it, as the patcher does.
#   scripts/bench-wan.sh [--profile 1|2] [--runs N] [--quick] [--shape small|big|mid]... [--no-wine]
#                        [--connections N]   (the patchers' --connections; their default otherwise)
#   profile 1: 40 ms round trip, 50 Mbit/s, no loss      profile 2: 150 ms, 20 Mbit/s, 0.5 % loss
#   --quick: 150 small files, one 20 MB file, 30 files of 1 MB, one run.      (KEEP=1 keeps build/bench-wan)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="$root/build/bench-wan"
patcher="$root/build/native/cli/quorvel-patch"
publisher="$root/build/native/tools/publish/quorvel-publish"
win_patcher="$root/build/win64/cli/quorvel-patch.exe"
link_bin="$work/qr_wan_link"
server_ip=10.77.0.1
player_ip=10.77.0.2
base_url="http://$server_ip"
patch_list="$base_url/tzan/patch.txt"
tool_timeout=1800  # seconds; a run that hangs ends the benchmark instead of holding the link

profile=1 runs=3 quick=0 wine=1 shapes=()
while [ $# -gt 0 ]; do
  case "$1" in
    --profile) profile="${2:-}"; shift 2 ;;
    --runs) runs="${2:-}"; shift 2 ;;
    --quick) quick=1; shift ;;
    --shape) shapes+=("${2:-}"); shift 2 ;;
    --no-wine) wine=0; shift ;;
    --connections) connections="${2:-}"; shift 2 ;;
    *) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2; exit 2 ;;
  esac
done
case "$profile" in
  1) rtt_ms=40 rate_mbit=50 loss=0 ;;
  2) rtt_ms=150 rate_mbit=20 loss=0.5 ;;
  *) echo "bench-wan.sh: --profile is 1 or 2" >&2; exit 2 ;;
esac
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "bench-wan.sh: --runs takes a positive number" >&2; exit 2; }
connections_arg=()
if [ -n "${connections:-}" ]; then
  [[ "$connections" =~ ^[1-9][0-9]?$ ]] || { echo "bench-wan.sh: --connections takes a number from 1 to 16" >&2; exit 2; }
  connections_arg=(--connections "$connections")
fi
[ ${#shapes[@]} -gt 0 ] || shapes=(small big mid)
for s in "${shapes[@]}"; do
  case "$s" in small|big|mid) ;; *) echo "bench-wan.sh: unknown shape '$s' (small, big, mid)" >&2; exit 2 ;; esac
done
if [ "$quick" = 1 ]; then runs=1; fi

# shape -> "count min_bytes max_bytes"
declare -A shape_sizes shape_label
if [ "$quick" = 1 ]; then
  shape_sizes=([small]="150 1024 61440" [big]="1 20971520 20971520" [mid]="30 1048576 1048576")
  shape_label=([small]="150 files of 1-60 KB" [big]="one 20 MB file" [mid]="30 files of 1 MB")
else
  shape_sizes=([small]="1500 1024 61440" [big]="1 209715200 209715200" [mid]="300 1048576 1048576")
  shape_label=([small]="1,500 files of 1-60 KB" [big]="one 200 MB file" [mid]="300 files of 1 MB")
fi

[ "$(id -u)" -eq 0 ] || { echo "bench-wan.sh: run as root (it makes network namespaces and TUN devices)" >&2; exit 1; }
for tool in ip nginx curl unzip g++ python3 cmake bc; do
  command -v "$tool" >/dev/null || { echo "bench-wan.sh: $tool is missing (scripts/setup.sh)" >&2; exit 1; }
done
[ -c /dev/net/tun ] || { echo "bench-wan.sh: /dev/net/tun is missing" >&2; exit 1; }
[ -f "$root/build/native/CMakeCache.txt" ] ||
  cmake -S "$root" -B "$root/build/native" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build/native" --target quorvel-patch quorvel-publish -j 2 >/dev/null
if [ "$wine" = 1 ] && { [ ! -f "$win_patcher" ] || [ ! -x /usr/lib/wine/wine64 ]; }; then
  echo "note: $win_patcher or wine64 is missing (scripts/build.sh, scripts/setup.sh); the Windows build is left out"
  wine=0
fi

mkdir -p "$work"
if [ ! -x "$link_bin" ] || [ "$root/bench/wan/wan_link.cpp" -nt "$link_bin" ]; then
  g++ -std=c++17 -O2 -Wall -Wextra -o "$link_bin" "$root/bench/wan/wan_link.cpp"
fi

srv_ns="qrwan-srv-$$" cli_ns="qrwan-cli-$$"
link_pid="" nginx_pid="" tool_pid="" wine_used=0
cleanup() {
  local rc=$?
  for pid in $tool_pid $nginx_pid $link_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  [ "$wine_used" = 1 ] && /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  ip netns del "$srv_ns" 2>/dev/null || true
  ip netns del "$cli_ns" 2>/dev/null || true
  rm -rf "$work/run"
  [ "${KEEP:-0}" = 1 ] || rm -rf "$work"
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- the releases ---------------------------------------------------------------------------------
shape_dir() {
  local sizes="${shape_sizes[$1]}"
  echo "$work/shapes/$1-${sizes// /-}"
}
for s in "${shapes[@]}"; do
  dir="$(shape_dir "$s")"
  if [ ! -f "$dir/served" ]; then
    echo "publishing the release: ${shape_label[$s]} ..."
    read -r count low high <<<"${shape_sizes[$s]}"
    python3 "$root/bench/wan/make_release.py" --publish "$publisher" --out "$dir" \
      --count "$count" --min-bytes "$low" --max-bytes "$high" --base-url "$base_url"
  fi
done

# --- the link ---------------------------------------------------------------------------------------
ip netns add "$srv_ns"
ip netns add "$cli_ns"
rm -f "$work/link.ready"
nice -n -5 "$link_bin" --netns-a "/run/netns/$srv_ns" --netns-b "/run/netns/$cli_ns" \
  --rtt-ms "$rtt_ms" --rate-mbit "$rate_mbit" --loss-percent "$loss" --max-seconds 14400 \
  --ready "$work/link.ready" 2>"$work/link.log" &
link_pid=$!
for _ in $(seq 100); do [ -s "$work/link.ready" ] && break; sleep 0.05; done
[ -s "$work/link.ready" ] || { echo "bench-wan.sh: the link emulator did not start: $(cat "$work/link.log")" >&2; exit 1; }
ip -n "$srv_ns" link set lo up
ip -n "$cli_ns" link set lo up
ip -n "$srv_ns" addr add "$server_ip" peer "$player_ip" dev wan0
ip -n "$cli_ns" addr add "$player_ip" peer "$server_ip" dev wan0
ip -n "$srv_ns" link set wan0 mtu 1500 up
ip -n "$cli_ns" link set wan0 mtu 1500 up

# --- the server ---------------------------------------------------------------------------------------
ngx="$work/nginx"
mkdir -p "$ngx"
: >"$ngx/access.log"
{
  echo "daemon off; user root; worker_processes 1; pid $ngx/nginx.pid; error_log $ngx/error.log;"
  echo "events { worker_connections 1024; }"
  echo "http {"
  echo "  types { text/plain txt ini; text/html html; }"
  echo "  default_type application/octet-stream;"
  echo "  log_format wan '\$connection \$status \$body_bytes_sent \$request_uri';"
  echo "  access_log $ngx/access.log wan;"
  echo "  sendfile on; tcp_nopush on;"
  # A CDN keeps a connection for as many requests as a client sends; nginx's default stops at 1,000.
  echo "  keepalive_timeout 75s; keepalive_requests 100000;"
  echo "  gzip on; gzip_types text/plain;"
  for t in client_body proxy fastcgi uwsgi scgi; do echo "  ${t}_temp_path $ngx/$t;"; done
  echo "  server { listen $server_ip:80; root $work/www; }"
  echo "}"
} >"$ngx/nginx.conf"
rm -rf "$work/www"
ln -sfn "$(shape_dir "${shapes[0]}")/release" "$work/www"
ip netns exec "$srv_ns" nginx -p "$ngx" -c "$ngx/nginx.conf" -e "$ngx/error.log" 2>>"$ngx/error.log" &
nginx_pid=$!
up=0
for _ in $(seq 100); do
  if ip netns exec "$cli_ns" curl -s -f -o /dev/null "$patch_list"; then up=1; break; fi
  kill -0 "$nginx_pid" 2>/dev/null || break
  sleep 0.1
done
[ "$up" = 1 ] || { echo "bench-wan.sh: nginx did not answer over the link: $(tail -3 "$ngx/error.log")" >&2; exit 1; }

# --- the Windows build: its sockets are made by wineserver, so that runs in the player's namespace too
if [ "$wine" = 1 ]; then
  export QUORVEL_WINEPREFIX="${QUORVEL_WINEPREFIX:-$root/build/wineprefix-bench-wan}"
  source "$root/scripts/wine-env.sh"
  wine_prepare_prefix
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  wine_used=1
  ip netns exec "$cli_ns" /usr/lib/wine/wineserver -p60
fi

# --- the runs ----------------------------------------------------------------------------------------
now() { date +%s.%N; }
median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
fail() { echo "bench-wan.sh: $*" >&2; exit 1; }
sum_sizes() { find "$@" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}'; }
declare -A times conns verified
run_dir="$work/run"

fresh() { rm -rf "$run_dir"; mkdir -p "$1"; sync; }
# In the background and waited for, so a signal to this script ends the run at once, not after it.
in_player() {
  timeout "$tool_timeout" ip netns exec "$cli_ns" "$@" &
  tool_pid=$!
  local rc=0
  wait "$tool_pid" || rc=$?
  tool_pid=""
  return "$rc"
}

# Runs one tool's fetch of the current shape, timed; checks what it wrote; counts connections.
measure() {  # key
  local key="$1" dir="$run_dir/$1" log_from t0 t1
  fresh "$dir"
  case "$key" in
    ours|wine) printf '[VERSION]\r\nversion=100\r\n' >"$dir/VersionInfo.ini" ;;
  esac
  log_from=$(($(wc -l <"$ngx/access.log") + 1))
  t0=$(now)
  case "$key" in
    ours) in_player "$patcher" --install-dir "$dir" --patch-list "$patch_list" "${connections_arg[@]}" \
            >"$work/tool.log" 2>&1 ;;
    wine) in_player "$WINE" "$win_patcher" --install-dir "$(winepath_of "$dir")" --patch-list "$patch_list" "${connections_arg[@]}" \
            >"$work/tool.log" 2>&1 ;;
    curl1) in_player curl -sS -f --create-dirs -K "$curl_cfg" --output-dir "$dir" >"$work/tool.log" 2>&1 ;;
    curlpar) in_player curl -sS -f --create-dirs --parallel --parallel-max 8 -K "$curl_cfg" --output-dir "$dir" \
               >"$work/tool.log" 2>&1 ;;
  esac || fail "$key failed: $(tail -5 "$work/tool.log")"
  case "$key" in
    curl*) unpack_archives "$dir" ;;
  esac
  t1=$(now)
  check_result "$key" "$dir"
  times[$key]+="$(echo "$t1 - $t0" | bc -l) "
  conns[$key]+="$(tail -n +"$log_from" "$ngx/access.log" | awk '{c[$1] = 1} END {print length(c)}') "
}

# The peers end where the patcher ends: with the archive items unpacked (into a folder of their own).
unpack_archives() {  # dir
  local p
  for p in "${archives[@]}"; do
    unzip -q -o "$1/$p" -d "$1/unpacked" || fail "unzip of $p failed"
  done
}

check_result() {  # key, dir
  local key="$1" dir="$2" got
  case "$1" in
    ours|wine)
      grep -q 'version=101' "$dir/VersionInfo.ini" || fail "$key recorded no version 101"
      if [ -z "${verified[$key]:-}" ]; then  # once a shape: the install is the published tree, byte for byte
        # The version file and the patcher's run log are the install's own, not the release's.
        diff -rq --exclude=VersionInfo.ini --exclude=QuorvelLauncher.log "$shape/tree" "$dir" >/dev/null \
          || fail "$key's install differs from the release"
        verified[$key]=1
      fi
      got=$(sum_sizes "$dir" ! -name VersionInfo.ini ! -name QuorvelLauncher.log) want=$payload ;;
    *) got=$(sum_sizes "$dir/tzan/patch") want=$served ;;
  esac
  [ "$got" -eq "$want" ] || fail "$key wrote $got of $want bytes"
}

tools=(ours curl1 curlpar)
[ "$wine" = 1 ] && tools=(ours wine curl1 curlpar)
declare -A label=(
  [ours]="quorvel-patch (native, libcurl)"
  [wine]="quorvel-patch.exe (wine64, WinInet)"
  [curl1]="curl, one process, keep-alive"
  [curlpar]="curl --parallel --parallel-max 8"
)
loss_text="$loss % loss"
[ "$loss" = 0 ] && loss_text="no loss"
echo "link: ${rtt_ms} ms round trip, ${rate_mbit} Mbit/s, $loss_text (emulated; $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'))"
echo "median of $runs run(s) per tool, tools taking turns; connections as nginx counted them; load average $(cut -d' ' -f1-3 /proc/loadavg)"

summary=()
for s in "${shapes[@]}"; do
  shape="$(shape_dir "$s")"
  ln -sfn "$shape/release" "$work/www"
  payload=$(cat "$shape/bytes")
  served=$(cat "$shape/served")
  mapfile -t archives < <(grep '\.zip$' "$shape/paths.txt" || true)
  curl_cfg="$work/curl-$s.cfg"
  awk -v base="$base_url" '{printf "url = \"%s/%s\"\noutput = \"%s\"\n", base, $0, $0}' "$shape/paths.txt" >"$curl_cfg"
  times=() conns=()
  verified=()
  for ((i = 0; i < runs; i++)); do
    for ((j = 0; j < ${#tools[@]}; j++)); do
      measure "${tools[$(((i + j) % ${#tools[@]}))]}"
    done
  done

  floor=$(echo "$served * 8 / ($rate_mbit * 1000000) + $rtt_ms / 1000" | bc -l)
  par=$(echo "${times[curlpar]}" | median)
  one=$(echo "${times[curl1]}" | median)
  echo
  items=$(($(wc -l <"$shape/paths.txt") - 2))
  printf '%s (%.1f MB); served as %d item(s), %.1f MB' "${shape_label[$s]}" "$(echo "$payload / 1000000" | bc -l)" \
    "$items" "$(echo "$served / 1000000" | bc -l)"
  [ ${#archives[@]} -eq 0 ] || printf ', %d of them archives (a version lists at most 1,000 names), which the peers unzip' \
    "${#archives[@]}"
  echo
  printf '  %-38s %9s %7s %9s %9s %8s\n' "" seconds conns "x curl-p8" "x curl" "x floor"
  for t in "${tools[@]}"; do
    m=$(echo "${times[$t]}" | median)
    printf '  %-38s %9.2f %7.0f %9.2f %9.2f %8.2f\n' "${label[$t]}" "$m" "$(echo "${conns[$t]}" | median)" \
      "$(echo "$m / $par" | bc -l)" "$(echo "$m / $one" | bc -l)" "$(echo "$m / $floor" | bc -l)"
  done
  printf '  %-38s %9.2f\n' "the link's floor" "$floor"
  ours=$(echo "${times[ours]}" | median)
  case "$s" in
    small|mid) summary+=("$(printf '%-6s quorvel-patch / curl --parallel-max 8 = %.2f (target <= 1.10)' "$s" "$(echo "$ours / $par" | bc -l)")") ;;
    big) summary+=("$(printf '%-6s quorvel-patch / curl one process    = %.2f (target <= 1.05)' "$s" "$(echo "$ours / $one" | bc -l)")") ;;
  esac
  if [ "$wine" = 1 ]; then
    w=$(echo "${times[wine]}" | median)
    summary+=("$(printf '%-6s wine64 build / native build         = %.2f (target <= 1.30)' "$s" "$(echo "$w / $ours" | bc -l)")")
  fi
done
echo
printf '%s\n' "${summary[@]}"
echo "load average now $(cut -d' ' -f1-3 /proc/loadavg)"
kill "$link_pid" 2>/dev/null || true
wait "$link_pid" 2>/dev/null || true
link_pid=""
echo "link emulator, whole session:"
sed 's/^/  /' "$work/link.log"
