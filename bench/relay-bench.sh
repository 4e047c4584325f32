#!/usr/bin/env bash
# Round trips RouteServer -> gateway -> DataServer -> gateway -> RouteServer,
# measured with the peer simulator, beside the same load sent straight to
# the DataServer simulator (the limit of this machine for the shape).
#
# Usage: bench/relay-bench.sh [BUILD_DIR]
#   DURATION=5      seconds per throughput row
#   REPEAT=1        direct/gateway pairs per payload size, and rounds of the
#                   1x1 rows; with more than one the pairs alternate and the
#                   median ratio (1x1: median p50) is printed, so a burst of
#                   host noise during one row does not decide it
#   SOAK_SECONDS=0  when > 0, a full-load run of that length that samples
#                   the gateway's resident size after 60 s and at the end
#   GATEWAY_CPUS=   when set, the gateway runs under `taskset -c` with this
#                   CPU list (the simulators stay unpinned)
#   STATUS_LINK=0   1: a status console (varnstatus --serve) plays the
#                   StatusServer, so the rows run with the status link up
#   WINDOW=0        1: the desktop program with its window open (under a
#                   private Xvfb, on the Watch page) instead of the daemon
#   ADMIN_SCRAPE=0  1: the gateway runs its admin listener (edtAdminPort) and
#                   curl scrapes /metrics once a second while a gateway row
#                   runs; the row then ends with the scrapes answered and the
#                   slowest answer
#   SPIN=           when set, edtWorkerSpinMicros for the gateway (the
#                   relay workers' poll after work, in microseconds)
#   DISPATCH_SPIN=  when set, edtDispatchSpinMicros (the dispatch thread's)
#   HAPROXY=0       1: each gateway row is followed by the same load through a
#                   plain haproxy (`mode tcp`, its defaults otherwise) in
#                   front of the DataServer simulator, with haproxy's share of
#                   the direct row and its CPU per round trip (needs haproxy)
# Prints one line per row and the gateway's CPU per round trip (user+system
# time of the gateway process over the row, divided by its round trips).
set -euo pipefail

build_dir=$(cd "${1:-build}" && pwd)
bin="$build_dir/bin"
duration=${DURATION:-5}
repeat=${REPEAT:-1}
soak=${SOAK_SECONDS:-0}
ticks=$(getconf CLK_TCK)

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'; }
json_field() { python3 -c 'import json,sys; d=json.loads(sys.stdin.read().strip().splitlines()[-1]); print(d[sys.argv[1]])' "$1"; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }

runtime=$(mktemp -d)
data_port=$(free_port); route_port=$(free_port); game_port=$(free_port); login_port=$(free_port)
status_ip=; status_port=0; status_pid=
admin_port=0
admin_note=
if [ "${ADMIN_SCRAPE:-0}" = 1 ]; then admin_port=$(free_port); admin_note="; admin /metrics scraped every second"; fi
if [ "${STATUS_LINK:-0}" = 1 ]; then
  status_ip=127.0.0.1; status_port=$(free_port)
  "$bin/varnstatus" --serve --port "$status_port" > "$runtime/status.txt" 2>&1 &
  status_pid=$!
  for _ in $(seq 50); do grep -q "listening:" "$runtime/status.txt" 2>/dev/null && break; sleep 0.1; done
fi
mkdir -p "$runtime/Config" "$runtime/C"
printf '/noexecute=optin\n' > "$runtime/C/Boot.ini"
printf '[VarnholtServer]\nedtDataServerIP=127.0.0.1\nedtMutexSign=\n' > "$runtime/VarnholtServer.ini"
printf '[VarnholtServer]\nedtDataServerPort=%s\nedtRouteServerPort=%s\nedtRouteServerCount=16\nedtGameServerPort=%s\nedtGameServerCount=1\nedtLoginServerPort=%s\nedtLoginServerCount=1\nedtSSIP=%s\nedtSSPort=%s\nedtAdminPort=%s\n' \
  "$data_port" "$route_port" "$game_port" "$login_port" "$status_ip" "$status_port" "$admin_port" > "$runtime/Config/Config.ini"
if [ -n "${SPIN:-}" ]; then echo "edtWorkerSpinMicros=$SPIN" >> "$runtime/Config/Config.ini"; fi
if [ -n "${DISPATCH_SPIN:-}" ]; then echo "edtDispatchSpinMicros=$DISPATCH_SPIN" >> "$runtime/Config/Config.ini"; fi

"$bin/varnsim" dataserver --port "$data_port" --quiet > "$runtime/dataserver.txt" 2>&1 &
sim_pid=$!
haproxy_pid=
if [ "${HAPROXY:-0}" = 1 ]; then
  command -v haproxy > /dev/null || { echo "HAPROXY=1 needs haproxy (apt-get install haproxy)"; exit 1; }
  haproxy_port=$(free_port)
  printf 'defaults\n  mode tcp\n  timeout connect 5s\n  timeout client 60s\n  timeout server 60s\nlisten relay\n  bind 127.0.0.1:%s\n  server dataserver 127.0.0.1:%s\n' \
    "$haproxy_port" "$data_port" > "$runtime/haproxy.cfg"
  haproxy -db -f "$runtime/haproxy.cfg" > "$runtime/haproxy.txt" 2>&1 &
  haproxy_pid=$!
fi
pin=()
if [ -n "${GATEWAY_CPUS:-}" ]; then pin=(taskset -c "$GATEWAY_CPUS"); fi
xvfb_pid=
if [ "${WINDOW:-0}" = 1 ]; then
  display=":$(( 200 + RANDOM % 100 ))"
  Xvfb "$display" -screen 0 1280x860x24 -nolisten tcp > "$runtime/xvfb.txt" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
  ( cd "$runtime" && DISPLAY=$display exec "${pin[@]}" "$bin/VarnholtServer" autostart "" "" > "$runtime/gateway.txt" 2>&1 ) &
else
  ( cd "$runtime" && exec "${pin[@]}" "$bin/VarnholtServerd" > "$runtime/gateway.txt" 2>&1 ) &
fi
gateway_pid=$!
cleanup() {
  if [ -n "$xvfb_pid" ]; then kill -TERM "$xvfb_pid" 2>/dev/null || true; fi
  kill -TERM "$gateway_pid" 2>/dev/null || true
  wait "$gateway_pid" 2>/dev/null || true
  kill -TERM "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  if [ -n "$haproxy_pid" ]; then kill -TERM "$haproxy_pid" 2>/dev/null || true; wait "$haproxy_pid" 2>/dev/null || true; fi
  if [ -n "$status_pid" ]; then kill -TERM "$status_pid" 2>/dev/null || true; wait "$status_pid" 2>/dev/null || true; fi
  rm -rf "$runtime"
}
trap cleanup EXIT

# The daemon prints its status texts; the window's start shows in the log.
started() { grep -q "Running..." "$runtime/gateway.txt" 2>/dev/null || grep -rqs "Server Start Success!" "$runtime/D"; }
for _ in $(seq 100); do started && break; sleep 0.1; done
started || { echo "gateway did not start"; cat "$runtime/gateway.txt"; exit 1; }
if [ -n "$status_pid" ]; then
  for _ in $(seq 50); do grep -q "login: server" "$runtime/status.txt" && break; sleep 0.1; done
fi
if [ -n "$status_pid" ] && ! grep -q "login: server" "$runtime/status.txt"; then
  echo "the gateway did not log in to the status console"; cat "$runtime/status.txt"; exit 1
fi
sleep 1
idle_rss=$(rss_kib "$gateway_pid")

# run_row NAME PORT CONNECTIONS WINDOW SIZE THROUGH (1: the gateway,
# haproxy: haproxy, 0: direct); CPU per round trip of the relay in between.
run_row() {
  local name=$1 port=$2 connections=$3 window=$4 size=$5 gateway=$6 relay_pid=$gateway_pid
  if [ "$gateway" = haproxy ]; then relay_pid=$haproxy_pid; fi
  local before after out trips rtps mbps p50 p99 p999 cpu_us="" scraper_pid="" scrapes=""
  if [ "$gateway" = 1 ] && [ "$admin_port" != 0 ]; then
    : > "$runtime/scrapes.txt"
    ( while :; do
        curl -s -o /dev/null -m 5 -w '%{http_code} %{time_total}\n' "http://127.0.0.1:$admin_port/metrics" \
          >> "$runtime/scrapes.txt" || true
        sleep 1
      done ) &
    scraper_pid=$!
  fi
  before=$(cpu_ticks "$relay_pid")
  out=$("$bin/varnsim" route --port "$port" --connections "$connections" --window "$window" --size "$size" \
        --duration "$duration" --count 0 --json --quiet --timeout 30)
  after=$(cpu_ticks "$relay_pid")
  if [ -n "$scraper_pid" ]; then
    kill "$scraper_pid" 2>/dev/null || true
    wait "$scraper_pid" 2>/dev/null || true
    scrapes=$(awk '$1 == 200 {ok++} {if ($2 > max) max = $2; n++}
                   END {printf "scrapes %d/%d ok, slowest %.1f ms", ok, n, max * 1000}' "$runtime/scrapes.txt")
  fi
  trips=$(echo "$out" | json_field replies)
  rtps=$(echo "$out" | json_field round_trips_per_s)
  mbps=$(echo "$out" | json_field mb_per_s)
  p50=$(echo "$out" | json_field p50_us); p99=$(echo "$out" | json_field p99_us); p999=$(echo "$out" | json_field p999_us)
  local relay_name=gateway
  if [ "$gateway" = haproxy ]; then relay_name=haproxy; fi
  if [ "$gateway" != 0 ] && [ "$trips" -gt 0 ]; then
    cpu_us=$(python3 -c "print(f'{($after - $before) / $ticks * 1e6 / $trips:.2f}')")
  fi
  printf '%-28s %12.0f rt/s %9.2f MB/s  p50 %6s us  p99 %6s us  p99.9 %6s us  %s%s\n' \
    "$name" "$rtps" "$mbps" "$p50" "$p99" "$p999" "${cpu_us:+$relay_name CPU ${cpu_us} us/rt}" "${scrapes:+  $scrapes}"
  echo "$rtps" > "$runtime/last_rtps"
  echo "$p50" > "$runtime/last_p50"
}

echo "relay benchmark: ${duration}s per row;${SPIN:+ workers poll ${SPIN} us after work;} gateway idle RSS ${idle_rss} KiB${GATEWAY_CPUS:+; gateway on CPU(s) $GATEWAY_CPUS}${status_pid:+; status link up}${admin_note:-}${xvfb_pid:+; desktop window open}"
for size in 64 1024; do
  ratios=()
  proxy_ratios=()
  for _ in $(seq "$repeat"); do
    run_row "direct  8x16 ${size}B" "$data_port" 8 16 "$size" 0
    direct=$(cat "$runtime/last_rtps")
    run_row "gateway 8x16 ${size}B" "$route_port" 8 16 "$size" 1
    through=$(cat "$runtime/last_rtps")
    ratio=$(python3 -c "print(f'{100 * $through / $direct:.1f}')")
    echo "  gateway/direct = ${ratio}%"
    ratios+=("$ratio")
    if [ -n "$haproxy_pid" ]; then
      run_row "haproxy 8x16 ${size}B" "$haproxy_port" 8 16 "$size" haproxy
      proxied=$(cat "$runtime/last_rtps")
      ratio=$(python3 -c "print(f'{100 * $proxied / $direct:.1f}')")
      echo "  haproxy/direct = ${ratio}%"
      proxy_ratios+=("$ratio")
    fi
  done
  if [ "$repeat" -gt 1 ]; then
    median() { python3 -c "import statistics,sys; r=[float(x) for x in sys.argv[3:]]; print(f'  {sys.argv[1]}B median of {len(r)} pairs: {sys.argv[2]}/direct = {statistics.median(r):.1f}% (range {min(r):.1f} to {max(r):.1f}%)')" "$@"; }
    median "$size" gateway "${ratios[@]}"
    if [ -n "$haproxy_pid" ]; then median "$size" haproxy "${proxy_ratios[@]}"; fi
  fi
done
# One packet in flight: the rows alternate like the loaded ones, and with
# more than one round the median p50 of each relay is printed (a single
# row's p50 moves by tens of microseconds with the host's scheduling).
p50s=(); proxy_p50s=()
for _ in $(seq "$repeat"); do
  run_row "direct  1x1 64B" "$data_port" 1 1 64 0
  run_row "gateway 1x1 64B" "$route_port" 1 1 64 1
  p50s+=("$(cat "$runtime/last_p50")")
  if [ -n "$haproxy_pid" ]; then
    run_row "haproxy 1x1 64B" "$haproxy_port" 1 1 64 haproxy
    proxy_p50s+=("$(cat "$runtime/last_p50")")
  fi
done
if [ "$repeat" -gt 1 ]; then
  median_p50() { python3 -c "import statistics,sys; r=[float(x) for x in sys.argv[2:]]; print(f'  1x1 64B median p50 of {len(r)} rows: {sys.argv[1]} {statistics.median(r):.0f} us (range {min(r):.0f} to {max(r):.0f} us)')" "$@"; }
  median_p50 gateway "${p50s[@]}"
  if [ -n "$haproxy_pid" ]; then median_p50 haproxy "${proxy_p50s[@]}"; fi
fi

if [ "$soak" -gt 0 ]; then
  "$bin/varnsim" route --port "$route_port" --connections 8 --window 16 --size 64 --duration "$soak" --count 0 \
    --json --quiet --timeout 30 > "$runtime/soak.txt" &
  soak_pid=$!
  sleep 60
  first_minute=$(rss_kib "$gateway_pid")
  wait "$soak_pid"
  at_end=$(rss_kib "$gateway_pid")
  python3 -c "print(f'soak {${soak}}s at full load: RSS after 60 s {$first_minute} KiB, at the end {$at_end} KiB ({100 * ($at_end - $first_minute) / $first_minute:+.1f}%)')"
fi
