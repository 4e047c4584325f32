#!/usr/bin/env bash
# What one stalled peer costs the gateway: a GameServer that connects and
# never reads while another GameServer broadcasts (packType 5) 4 KB packets,
# which the gateway queues for the stalled one. Prints the gateway's resident
# size before and after, the bytes queued for the stalled peer and the RSS
# growth per byte queued, and the round-trip latency of a healthy RouteServer
# (p50/p99) during the broadcast, with the stalled peer and, as the control,
# with a GameServer in its place that reads everything (the gateway then
# copies the same bytes, only they leave at once).
#
# Usage: bench/stall-memory.sh [BUILD_DIR]
#   MB=120          megabytes to broadcast
#   SIZE=4096       payload bytes per broadcast
#   QUEUE_COUNT=    edtGameServerMaxSendMsgQueueCount (default: enough for MB;
#                   0: unlimited, so only the 512 MiB unsent-byte bound holds)
#   RATE=6000       broadcasts per second
#   GATEWAY_BIN=    folder of the VarnholtServerd to measure (default: BUILD_DIR/bin)
set -euo pipefail

build_dir=$(cd "${1:-build}" && pwd)
bin="$build_dir/bin"
mb=${MB:-120}
size=${SIZE:-4096}
frame=$((size + 15))
count=$((mb * 1024 * 1024 / frame))
queue_count=${QUEUE_COUNT:-$((count + 1000))}
rate=${RATE:-6000}
seconds=$((count / rate + 2))

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'; }
rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
hwm_kib() { awk '/^VmHWM:/ {print $2}' "/proc/$1/status"; }
fd_count() { ls "/proc/$1/fd" | wc -l; }
json_field() { python3 -c 'import json,sys; d=json.loads(sys.stdin.read().strip().splitlines()[-1]); print(d[sys.argv[1]])' "$1"; }

run_once() {  # $1: 1 with the stalled peer, 0 without
  local with_stall=$1
  local runtime; runtime=$(mktemp -d)
  local data_port game_port login_port route_port
  data_port=$(free_port); game_port=$(free_port); login_port=$(free_port); route_port=$(free_port)
  mkdir -p "$runtime/Config" "$runtime/C"
  printf '/noexecute=optin\n' > "$runtime/C/Boot.ini"
  printf '[VarnholtServer]\nedtDataServerIP=127.0.0.1\nedtMutexSign=\n' > "$runtime/VarnholtServer.ini"
  printf '[VarnholtServer]\nedtDataServerPort=%s\nedtRouteServerPort=%s\nedtRouteServerCount=4\nedtGameServerPort=%s\nedtGameServerCount=4\nedtLoginServerPort=%s\nedtLoginServerCount=1\nedtSSIP=\nedtSSPort=0\nedtGameServerMaxSendMsgQueueCount=%s\nedtGameServerRefuseConnectBySendQueue=0\n' \
    "$data_port" "$route_port" "$game_port" "$login_port" "$queue_count" > "$runtime/Config/Config.ini"
  "$bin/varnsim" dataserver --port "$data_port" --quiet --rule sink > "$runtime/dataserver.txt" 2>&1 &
  local sim_pid=$!
  ( cd "$runtime" && exec "${GATEWAY_BIN:-$bin}/VarnholtServerd" > "$runtime/gateway.txt" 2>&1 ) &
  local gateway_pid=$!
  for _ in $(seq 100); do grep -q "Running..." "$runtime/gateway.txt" 2>/dev/null && break; sleep 0.1; done
  # The sink answers nothing; the healthy row needs an echoing DataServer.
  kill -TERM "$sim_pid"; wait "$sim_pid" 2>/dev/null || true
  "$bin/varnsim" dataserver --port "$data_port" --quiet > "$runtime/dataserver.txt" 2>&1 &
  sim_pid=$!
  sleep 2
  local stall_pid=
  if [ "$with_stall" = 0 ]; then
    "$bin/varnsim" game --port "$game_port" --count 0 --quiet > "$runtime/reader.txt" 2>&1 &
    stall_pid=$!
    sleep 0.5
  else
    "$bin/varnsim" stall --port "$game_port" --rcvbuf 4096 --hold 0 > "$runtime/stall.txt" 2>&1 &
    stall_pid=$!
    sleep 0.5
  fi
  local rss0 fd0; rss0=$(rss_kib "$gateway_pid"); fd0=$(fd_count "$gateway_pid")
  # The healthy peer: one RouteServer round trip at a time, for the whole broadcast.
  "$bin/varnsim" route --port "$route_port" --duration "$seconds" --rate 200 --size 64 --json > "$runtime/route.json" 2>&1 &
  local route_pid=$!
  "$bin/varnsim" game --port "$game_port" --slot 1 --dest-index 1 --pack-type 5 --size "$size" --count "$count" --rate "$rate" --no-reply --quiet --json > "$runtime/game.json" 2>&1 || true
  sleep 1
  local rss1 fd1 hwm; rss1=$(rss_kib "$gateway_pid"); fd1=$(fd_count "$gateway_pid"); hwm=$(hwm_kib "$gateway_pid")
  wait "$route_pid" || true
  local p50 p99; p50=$(json_field p50_us < "$runtime/route.json"); p99=$(json_field p99_us < "$runtime/route.json")
  local queued=$((count * frame))
  if [ "$with_stall" = 1 ]; then
    echo "with stalled peer: rss ${rss0} -> ${rss1} KiB (+$(( (rss1 - rss0) / 1024 )) MiB), fds ${fd0} -> ${fd1}," \
         "broadcast $((queued / 1048576)) MiB to it, $(python3 -c "print(round(($rss1-$rss0)*1024/$queued, 3))") B RSS per B queued;" \
         "healthy route p50 ${p50} us p99 ${p99} us; peak rss ${hwm} KiB"
    grep -a "Disconnect\|Connect...OK\|more .* lines\|Warn" "$runtime"/D/ServerLog/Varnholt_2*.log 2>/dev/null | tail -8 || true; cat "$runtime/stall.txt" "$runtime/game.json"
    kill -TERM "$stall_pid" 2>/dev/null || true; wait "$stall_pid" 2>/dev/null || true
  else
    echo "reading peer instead: rss ${rss0} -> ${rss1} KiB, fds ${fd0} -> ${fd1}; healthy route p50 ${p50} us p99 ${p99} us"
    kill -TERM "$stall_pid" 2>/dev/null || true; wait "$stall_pid" 2>/dev/null || true
  fi
  kill -TERM "$gateway_pid" 2>/dev/null || true; wait "$gateway_pid" 2>/dev/null || true
  kill -TERM "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true
  rm -rf "$runtime"
}

[ "${SKIP_BASE:-0}" = 1 ] || run_once 0
run_once 1
