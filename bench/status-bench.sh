#!/usr/bin/env bash
# What the StatusServer link costs and delivers: base-information replies per
# second with 30 peers connected, GetErrorLog of a large log file, and the
# relay's 8x16 64-byte row without and with a status console attached.
#
# Usage: bench/status-bench.sh [BUILD_DIR]
#   REQUESTS=2000   base requests sent back to back (after 200 one at a time)
#   LOG_MB=50       size of the log file that GetErrorLog compresses and sends
#   DURATION=5      seconds per relay row (handed to relay-bench.sh)
#   RELAY_BENCH=    the relay script to run (default: relay-bench.sh beside
#                   this one); its STATUS_LINK=1 option attaches the console
#   SKIP_RELAY=0    1: leave the relay rows out
# A small python3 StatusServer drives the base requests and GetErrorLog over
# a link it holds open, so no login wait is in the figures; varnstatus checks
# what the gateway reports and fetches the big file once more end to end.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build_dir=$(cd "${1:-build}" && pwd)
bin="$build_dir/bin"
requests=${REQUESTS:-2000}
log_mb=${LOG_MB:-50}
relay_bench=${RELAY_BENCH:-$here/relay-bench.sh}

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'; }
json_field() { python3 -c 'import json,sys; print(json.loads(sys.stdin.read().strip().splitlines()[-1])[sys.argv[1]])' "$1"; }
now() { date +%s.%N; }

runtime=$(mktemp -d)
data_port=$(free_port); route_port=$(free_port); game_port=$(free_port); login_port=$(free_port)
status_port=$(free_port)
mkdir -p "$runtime/Config" "$runtime/D/ServerLog"
printf '[VarnholtServer]\nedtDataServerIP=127.0.0.1\nedtMutexSign=\n' > "$runtime/VarnholtServer.ini"
printf '[VarnholtServer]\nedtDataServerPort=%s\nedtRouteServerPort=%s\nedtRouteServerCount=10\nedtGameServerPort=%s\nedtGameServerCount=10\nedtLoginServerPort=%s\nedtLoginServerCount=10\nedtSSIP=127.0.0.1\nedtSSPort=%s\n' \
  "$data_port" "$route_port" "$game_port" "$login_port" "$status_port" > "$runtime/Config/Config.ini"

# The StatusServer end: waits for the login, then for the go file, then
# measures and prints one JSON line.
cat > "$runtime/status_server.py" <<'EOF'
import json, os, socket, struct, sys, time, zlib

port, requests, go_file, log_name = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]
listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", port))
listener.listen(1)
listener.settimeout(60)
link, _ = listener.accept()
listener.close()
link.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
link.settimeout(120)
pending = bytearray()

def frame(record):  # head: Context 0, DestIndex 0, packType 1, DestServerType 2 (gateway), SrcServerType 13
    return b"\xff\xcc" + struct.pack("<I", 9 + len(record)) + struct.pack("<IhBBB", 0, 0, 1, 2, 13) + record

def next_record():
    global pending
    while True:
        if len(pending) >= 6:
            length = struct.unpack_from("<I", pending, 2)[0]
            if len(pending) >= 6 + length:
                record = bytes(pending[15:6 + length])
                del pending[:6 + length]
                return record
        chunk = link.recv(1 << 20)
        if not chunk:
            sys.exit("link closed")
        pending += chunk

def next_of(kind):  # keep-alives and the like are skipped
    while True:
        record = next_record()
        if record[:2] == kind:
            return record

next_of(b"\x01\x01")  # login
while not os.path.exists(go_file):
    time.sleep(0.05)

base = frame(b"\x06\x01\x00")
link.sendall(base)
reply_bytes = len(next_of(b"\x05\x01"))
start = time.perf_counter()
for _ in range(200):
    link.sendall(base)
    next_of(b"\x05\x01")
one_at_a_time = (time.perf_counter() - start) / 200
start = time.perf_counter()
link.sendall(base * requests)
for _ in range(requests):
    next_of(b"\x05\x01")
pipelined = requests / (time.perf_counter() - start)

name = b"GetErrorLog"
param = log_name.encode()
start = time.perf_counter()
link.sendall(frame(bytes([3, 4, 0]) + name.ljust(32, b"\0") + bytes([len(param)]) + param))
reply = next_of(b"\x01\x05")
seconds = time.perf_counter() - start
size = struct.unpack_from("<i", reply, 35)[0]
packed = reply[39:39 + size]
same = zlib.decompress(packed) == open(os.path.join(os.path.dirname(go_file), "D/ServerLog", log_name), "rb").read()
link.close()
print(json.dumps({"reply_bytes": reply_bytes, "one_at_a_time_us": one_at_a_time * 1e6,
                  "pipelined_per_s": pipelined, "log_seconds": seconds, "log_compressed": len(packed),
                  "log_same": same}))
EOF

# 30 idle peers, 10 of each kind, held until killed.
cat > "$runtime/peers.py" <<'EOF'
import socket, sys, time
peers = [socket.create_connection(("127.0.0.1", int(port))) for port in sys.argv[1:] for _ in range(10)]
print("connected", len(peers), flush=True)
time.sleep(3600)
EOF

# A log-like text that compresses about as well as the gateway's own.
python3 - "$runtime/D/ServerLog/big.log" "$log_mb" <<'EOF'
import random, sys
random.seed(7)
words = ["GameServer", "LoginServer", "RouteServer", "Connect...OK!", "Disconnect!", "send queue", "recv",
         "poolIndex", "DataServer", "keep-alive", "packet", "dropped", "bytes", "slot", "IP = 127.0.0.1"]
target = int(sys.argv[2]) * 1024 * 1024
with open(sys.argv[1], "w") as out:
    written, n = 0, 0
    while written < target:
        n += 1
        line = "[2026-01-%02d %02d:%02d:%02d.%03d] [Run] [%d] %s %d %s %08x\n" % (
            1 + n % 28, n % 24, n % 60, (n * 7) % 60, n % 1000, 4000 + n % 7, random.choice(words),
            random.randrange(100000), random.choice(words), random.getrandbits(32))
        out.write(line[:target - written])
        written += min(len(line), target - written)
EOF

"$bin/varnsim" dataserver --port "$data_port" --quiet > "$runtime/dataserver.txt" 2>&1 &
sim_pid=$!
python3 "$runtime/status_server.py" "$status_port" "$requests" "$runtime/go" big.log > "$runtime/status.json" 2> "$runtime/status.err" &
server_pid=$!
( cd "$runtime" && VARNHOLT_DATA_ROOT="$runtime" exec "$bin/VarnholtServerd" > "$runtime/gateway.txt" 2>&1 ) &
gateway_pid=$!
peers_pid=
cleanup() {
  [ -n "$peers_pid" ] && kill "$peers_pid" 2>/dev/null || true
  kill -TERM "$gateway_pid" 2>/dev/null || true
  wait "$gateway_pid" 2>/dev/null || true
  kill "$server_pid" "$sim_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$runtime"
}
trap cleanup EXIT

for _ in $(seq 150); do grep -q "Running..." "$runtime/gateway.txt" 2>/dev/null && break; sleep 0.1; done
grep -q "Running..." "$runtime/gateway.txt" || { echo "gateway did not start"; cat "$runtime/gateway.txt"; exit 1; }
python3 "$runtime/peers.py" "$game_port" "$login_port" "$route_port" > "$runtime/peers.txt" 2>&1 &
peers_pid=$!
day_log="$runtime/D/ServerLog/Varnholt_$(date +%F).log"
for _ in $(seq 100); do [ "$(grep -c 'Connect...OK!' "$day_log" 2>/dev/null)" -ge 30 ] && break; sleep 0.1; done
online=$(grep -c 'Connect...OK!' "$day_log" || true)
[ "$online" -ge 30 ] || { echo "only $online of 30 peers online"; exit 1; }

touch "$runtime/go"
wait "$server_pid" || { echo "status server failed:"; cat "$runtime/status.err"; exit 1; }
result=$(cat "$runtime/status.json")

# The same gateway seen through varnstatus: every peer reported, and the big
# file fetched end to end (the time includes waiting for the gateway to
# reconnect and log in, about a second).
reported=$("$bin/varnstatus" --port "$status_port" --exec base --timeout 10 --login-timeout 20 \
           | grep -cE '^ +94 .*"127\.0\.0\.1"$' || true)
started=$(now)
fetched=$("$bin/varnstatus" --port "$status_port" --exec "GetErrorLog big.log" --out "$runtime/big.out" \
          --timeout 120 --login-timeout 20)
ended=$(now)
cmp -s "$runtime/big.out" "$runtime/D/ServerLog/big.log" && same_file=identical || same_file=DIFFERENT

python3 - "$result" "$log_mb" "$reported" "$started" "$ended" "$same_file" "$fetched" "$requests" <<'EOF'
import json, sys
r = json.loads(sys.argv[1]); mb = float(sys.argv[2])
print("status link benchmark")
print(f"  base information, 30 peers (+1 DataServer) reported: {int(sys.argv[3]) - 1} peer IPs in id 94 rows; reply {r['reply_bytes']} bytes")
print(f"    one request at a time:      {1e6 / r['one_at_a_time_us']:10.0f} replies/s  ({r['one_at_a_time_us']:.0f} us per round trip)")
print(f"    {sys.argv[8]} back to back:       {r['pipelined_per_s']:10.0f} replies/s")
print(f"  GetErrorLog of a {mb:.0f} MB log, link already up: {r['log_seconds']:.2f} s = {mb / r['log_seconds']:.1f} MB/s; "
      f"compressed {r['log_compressed'] / 1e6:.2f} MB ({100 * r['log_compressed'] / (mb * 1024 * 1024):.1f}%); "
      f"{'inflates to the file' if r['log_same'] else 'DIFFERS from the file'}")
seconds = float(sys.argv[5]) - float(sys.argv[4])
print(f"    with varnstatus, login wait included: {seconds:.2f} s = {mb / seconds:.1f} MB/s; written file {sys.argv[6]}")
print("    " + sys.argv[7].strip().splitlines()[-1])
EOF

if [ "${SKIP_RELAY:-0}" = 1 ]; then exit 0; fi
row() { grep -E "^gateway 8x16 64B" | sed 's/^gateway 8x16 64B */  /'; }
echo "relay 8x16 64B, ${DURATION:-5}s:"
echo -n "  without status link:"; bash "$relay_bench" "$build_dir" | row
if grep -q STATUS_LINK "$relay_bench"; then
  echo -n "  with status console:"; STATUS_LINK=1 bash "$relay_bench" "$build_dir" | row
else
  echo "  with status console: skipped ($relay_bench has no STATUS_LINK option)"
fi
