#!/usr/bin/env bash
# The fleet view with simulated printers: a private mosquitto on
# 127.0.0.1, orlin_fleet on http://127.0.0.1:8080/, PRINTERS printers (12)
# in one orlin_printer process, print jobs on every other one, a file sent to
# one, and one printer that goes away. Runs until Ctrl-C.
#
#   scripts/fleet-demo.sh            PRINTERS=40 FLEET_LISTEN=127.0.0.1:9000 scripts/fleet-demo.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
printers="${PRINTERS:-12}"
listen="${FLEET_LISTEN:-127.0.0.1:8080}"
broker_port="${FLEET_BROKER_PORT:-18830}"
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target orlin_fleet orlin_printer orlin_console
tools="$build/tools"

work="$(mktemp -d)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\n' "$broker_port" >"$work/mosquitto.conf"
[ "$(id -u)" -eq 0 ] && echo "user root" >>"$work/mosquitto.conf"
mosquitto -c "$work/mosquitto.conf" >"$work/broker.log" 2>&1 &
pids+=($!)
sleep 0.5

"$tools/orlin_fleet" --host 127.0.0.1 --port "$broker_port" --listen "$listen" --monitor &
pids+=($!)
"$tools/orlin_printer" --host 127.0.0.1 --port "$broker_port" --id printer --count "$printers" \
  --files-dir "$work/files" --log "$work/printer.log" --step-ms 400 >"$work/printers.out" &
pids+=($!)
"$tools/orlin_printer" --host 127.0.0.1 --port "$broker_port" --id printer-gone \
  --files-dir "$work/gone" --log "$work/gone.log" >/dev/null &
gone=$!
sleep 3
kill "$gone"

console() { WYLN_USERNAME=console "$tools/orlin_console" "$@" --host 127.0.0.1 --port "$broker_port" >/dev/null; }
head -c 200000 /dev/urandom >"$work/job.prn"
console send-file printer-001 "$work/job.prn" --name job.prn
for i in $(seq 1 2 "$printers"); do
  id="$(printf 'printer-%03d' "$i")"
  console send "$id" print "{\"task_id\":$((2000 + i)),\"type\":1,\"file_path\":\"$work/job.prn\",\"print_scheme_id\":1,\"print_count\":$((i * 2 + 8)),\"workstation_w\":600,\"workstation_h\":400}"
done
echo "fleet view: http://$listen/  (Ctrl-C stops the demo)"
wait "${pids[1]}"
