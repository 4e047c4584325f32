#!/usr/bin/env bash
# `make screenshot`: runs the desktop program under Xvfb beside the DataServer
# simulator, the status console and a few simulated peers that send traffic,
# lets it run about half a minute, and has the window save a PNG of each page
# and of the packet recorder window into <build>/screenshots/.
#
# Usage: scripts/screenshot.sh [BUILD_DIR]   (SCREENSHOT_AFTER=seconds, default 30)
set -euo pipefail

build_dir=$(cd "${1:-build}" && pwd)
bin="$build_dir/bin"
runtime="$build_dir/screenshot-run"
shots="$build_dir/screenshots"
after=${SCREENSHOT_AFTER:-30}
rm -rf "$runtime" "$shots"
mkdir -p "$runtime/C" "$shots"
cd "$runtime"
# The host check looks for the system drive's Boot.ini under the data root.
printf '[operating systems]\nmulti(0)disk(0)rdisk(0)partition(1)\\WINDOWS="Server" /noexecute=optin /fastdetect\n' > C/Boot.ini

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

display=":$(( 90 + RANDOM % 100 ))"
Xvfb "$display" -screen 0 1280x860x24 -nolisten tcp > xvfb.txt 2>&1 &
pids+=($!)
for _ in $(seq 50); do
  [ -e "/tmp/.X11-unix/X${display#:}" ] && break
  sleep 0.1
done

"$bin/varnstatus" --serve --port 21888 > status-console.txt 2>&1 &
pids+=($!)
"$bin/varnsim" dataserver --port 16899 > dataserver.txt 2>&1 &
pids+=($!)
sleep 0.5

DISPLAY=$display VARNHOLT_SCREENSHOT_DIR="$shots" VARNHOLT_SCREENSHOT_AFTER="$after" \
  "$bin/VarnholtServer" autostart "" "" > gateway.txt 2>&1 &
gateway=$!
sleep 3

# Traffic: RouteServers and a GameServer and LoginServer asking the DataServer,
# at different rates so the graphs differ.
peer_seconds=$(( after + 40 ))
"$bin/varnsim" route --port 19008 --connections 4 --count 0 --duration "$peer_seconds" --rate 400 --window 4 --size 200 --quiet > route.txt 2>&1 &
pids+=($!)
"$bin/varnsim" game --port 19003 --count 0 --duration "$peer_seconds" --rate 800 --window 8 --size 1000 --quiet > game.txt 2>&1 &
pids+=($!)
"$bin/varnsim" login --port 19007 --count 0 --duration "$peer_seconds" --rate 150 --window 2 --size 64 --quiet > login.txt 2>&1 &
pids+=($!)

status=0
wait "$gateway" || status=$?
echo "screenshot: gateway exited with $status; pictures:"
ls -1 "$shots"
[ "$(ls -1 "$shots" | wc -l)" -ge 12 ]
