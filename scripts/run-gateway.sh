#!/usr/bin/env bash
# Runs the gateway the way `make run` does: in a runtime folder under the
# build folder, with the bundled DataServer simulator standing in for a real
# DataServer and the status console (varnstatus) standing in for the
# StatusServer, and the headless daemon in the foreground. Ctrl-C stops the
# daemon first (in order, as a confirmed close) and then the stand-ins.
#
# Usage: scripts/run-gateway.sh [BUILD_DIR]
# To use a real DataServer instead, set edtDataServerIP in
# <runtime>/VarnholtServer.ini and edtDataServerPort in <runtime>/Config/Config.ini,
# and set VARNHOLT_NO_SIMULATOR=1 (which leaves out the status console too).
set -euo pipefail

build_dir=$(cd "${1:-build}" && pwd)
bin="$build_dir/bin"
runtime="$build_dir/run"
source_dir=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$runtime/script"
cd "$runtime"
# The example status script; an operator's own version is never overwritten.
cp -n "$source_dir/runtime/script/ProcessServerStatus.py" script/ 2>/dev/null || true
# Windows paths (C:\Boot.ini, D:\ServerLog\) live below the data root.
# The gateway's DEP check needs the system drive's Boot.ini and ends the
# daemon without it; an operator's own version is never overwritten.
data_root="${VARNHOLT_DATA_ROOT:-$runtime}"
mkdir -p "$data_root/C"
if [ ! -f "$data_root/C/Boot.ini" ]; then
  printf '[operating systems]\nmulti(0)="Varnholt" /noexecute=optin\n' > "$data_root/C/Boot.ini"
fi

data_port=16899
if [ -f Config/Config.ini ]; then
  configured=$(sed -n 's/^[[:space:]]*edtDataServerPort[[:space:]]*=[[:space:]]*\([0-9]*\).*/\1/p' Config/Config.ini | head -n 1)
  [ -n "$configured" ] && data_port=$configured
fi

status_port=21888
if [ -f Config/Config.ini ]; then
  configured=$(sed -n 's/^[[:space:]]*edtSSPort[[:space:]]*=[[:space:]]*\([0-9]*\).*/\1/p' Config/Config.ini | head -n 1)
  [ -n "$configured" ] && status_port=$configured
fi

sim_pid=""
console_pid=""
if [ "${VARNHOLT_NO_SIMULATOR:-0}" != "1" ]; then
  setsid "$bin/varnstatus" --serve --port "$status_port" > status-console.txt 2>&1 &
  console_pid=$!
  echo "run-gateway: status console on 127.0.0.1:$status_port (pid $console_pid, output in $runtime/status-console.txt)"
  # Its own session: the terminal's Ctrl-C reaches only the daemon, so the
  # DataServer stays up until the gateway has stopped.
  setsid "$bin/varnsim" dataserver --port "$data_port" &
  sim_pid=$!
  echo "run-gateway: DataServer simulator on 127.0.0.1:$data_port (pid $sim_pid)"
fi

stop_simulator() {
  if [ -n "$console_pid" ] && kill -0 "$console_pid" 2>/dev/null; then
    kill -TERM "$console_pid" 2>/dev/null || true
    wait "$console_pid" 2>/dev/null || true
    echo "run-gateway: status console stopped"
  fi
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    echo "run-gateway: DataServer simulator stopped"
  fi
}
trap stop_simulator EXIT

echo "run-gateway: runtime folder $runtime; GameServer 19003, LoginServer 19007, RouteServer 19008 (defaults)"
daemon_status=0
"$bin/VarnholtServerd" || daemon_status=$?
exit "$daemon_status"
