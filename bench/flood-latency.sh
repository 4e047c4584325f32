#!/usr/bin/env bash
# A healthy RouteServer's round trips (300 a second, 64 B) beside a GameServer
# that floods the DataServer as fast as the relay goes (`varnsim flood`, 4 KB
# packets, the simulator answering every one), against the same run without
# the flood. The flooder's port has no HackAttackValue: it is only paused.
#
# Usage: bench/flood-latency.sh [BUILD_DIR]
#   REPEAT=3     runs of each kind, alternating
#   SIZE=4096    the flood's payload bytes per packet
#   SPIN=        when set, edtWorkerSpinMicros for the gateway
#   DISPATCH_SPIN=  when set, edtDispatchSpinMicros for the gateway
# Prints per run the healthy p50/p99, the flood's rate and the gateway's
# peak resident growth.
set -euo pipefail

build_dir=$(cd "${1:-build}" && pwd)
bin="$build_dir/bin"
repeat=${REPEAT:-3}
size=${SIZE:-4096}

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'; }
kib() { awk -v key="$2:" '$1 == key {print $2}' "/proc/$1/status"; }

run_once() {  # run_once 0|1 (with the flood)
  local runtime data_port route_port game_port login_port sim_pid gateway_pid healthy_pid
  runtime=$(mktemp -d)
  data_port=$(free_port); route_port=$(free_port); game_port=$(free_port); login_port=$(free_port)
  mkdir -p "$runtime/Config" "$runtime/C"
  printf '/noexecute=optin\n' > "$runtime/C/Boot.ini"
  printf '[VarnholtServer]\nedtDataServerIP=127.0.0.1\nedtMutexSign=\n' > "$runtime/VarnholtServer.ini"
  printf '[VarnholtServer]\nedtDataServerPort=%s\nedtRouteServerPort=%s\nedtRouteServerCount=16\nedtGameServerPort=%s\nedtGameServerCount=1\nedtLoginServerPort=%s\nedtLoginServerCount=1\nedtGameServerHackAttackValue=0\nedtSSIP=\nedtSSPort=0\n' \
    "$data_port" "$route_port" "$game_port" "$login_port" > "$runtime/Config/Config.ini"
  if [ -n "${SPIN:-}" ]; then echo "edtWorkerSpinMicros=$SPIN" >> "$runtime/Config/Config.ini"; fi
  if [ -n "${DISPATCH_SPIN:-}" ]; then echo "edtDispatchSpinMicros=$DISPATCH_SPIN" >> "$runtime/Config/Config.ini"; fi
  "$bin/varnsim" dataserver --port "$data_port" --quiet > "$runtime/dataserver.txt" 2>&1 &
  sim_pid=$!
  ( cd "$runtime" && exec "$bin/VarnholtServerd" > "$runtime/gateway.txt" 2>&1 ) &
  gateway_pid=$!
  for _ in $(seq 100); do grep -q "Running..." "$runtime/gateway.txt" 2>/dev/null && break; sleep 0.1; done
  sleep 0.5
  local rss_before flood_rate="" healthy
  rss_before=$(kib "$gateway_pid" VmRSS)
  "$bin/varnsim" route --port "$route_port" --duration 6 --rate 300 --size 64 --json --quiet > "$runtime/route.txt" &
  healthy_pid=$!
  sleep 1
  if [ "$1" = 1 ]; then
    flood_rate=$("$bin/varnsim" flood --port "$game_port" --duration 4 --size "$size" --json |
      python3 -c 'import json,sys; d=json.loads(sys.stdin.read().strip().splitlines()[-1]); print("%.0f MB/s, cut %d" % (d["bytes_sent"] / d["seconds"] / 1e6, d["cut_by_gateway"]))')
  fi
  wait "$healthy_pid"
  healthy=$(tail -1 "$runtime/route.txt" | python3 -c 'import json,sys; d=json.loads(sys.stdin.read()); print("p50 %d us  p99 %d us  missing %d  out of order %d" % (d["p50_us"], d["p99_us"], d["missing"], d["out_of_order"]))')
  printf '%-10s healthy %s  peak growth %s KiB%s\n' "$([ "$1" = 1 ] && echo flood || echo control)" "$healthy" \
    "$(( $(kib "$gateway_pid" VmHWM) - rss_before ))" "${flood_rate:+  flood $flood_rate}"
  kill -TERM "$gateway_pid" 2>/dev/null || true; wait "$gateway_pid" 2>/dev/null || true
  kill -TERM "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true
  rm -rf "$runtime"
}

for _ in $(seq "$repeat"); do
  run_once 0
  run_once 1
done
