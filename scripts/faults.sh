#!/usr/bin/env bash
# Broker faults over a real mosquitto: a simulated printer and a console
# exchange commands and a file transfer runs while the broker is killed
# (SIGKILL) and restarted on the same port, ROUNDS times (default 10).
#
#   scripts/faults.sh [ROUNDS]
#
# Checked each round: the printer survives; a command sent during the outage
# fails within its time-out; after the restart the plug-in reconnects and the
# printer answers again; the printer's own sends during the outage failed
# with a logged transport error. At the end a whole file transfer must
# arrive intact. The printer's resident size is printed each round and must
# not grow by more than RSS_GROWTH_LIMIT_KIB after the third round (see
# README, "Memory over broker restarts", for the bound and the reasons).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
rounds="${1:-10}"
build="${BUILD_DIR:-$root/build}"
rss_limit="${RSS_GROWTH_LIMIT_KIB:-8192}"

"$root/scripts/install-deps.sh"
[ -x "$build/tools/orlin_printer" ] || "$root/scripts/build.sh"
tools="$build/tools"

work="$(mktemp -d /tmp/orlin-faults.XXXXXX)"
broker_pid=""; printer_pid=""; service_pid=""; file_pid=""
cleanup() {
  for p in $file_pid $printer_pid $service_pid $broker_pid; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

# ---- the broker: the shipped configuration, plain listener on 127.0.0.1 ----
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
printer=printer-01
users=(wyln "$printer" console)
: >"$work/passwd"
for u in "${users[@]}"; do mosquitto_passwd -b "$work/passwd" "$u" "$u-fault-pw"; done
cp "$root/wyln/conf/wyln.acl" "$work/wyln.acl"
{
  [ "$(id -u)" -eq 0 ] && echo "user root"
  echo "log_dest file $work/broker.log"
  awk -v dir="$work" -v port="$port" '
    { gsub("@CONFDIR@", dir) }
    /^listener / { tls = !($3 == "127.0.0.1"); if (!tls) print "listener " port " 127.0.0.1"; next }
    !tls { print }' "$root/wyln/conf/mosquitto.conf"
} >"$work/mosquitto.conf"

# mosquitto from PATH; Debian puts it in sbin, not on every user's PATH.
start_broker() {
  PATH="$PATH:/usr/sbin:/usr/local/sbin" mosquitto -c "$work/mosquitto.conf" >>"$work/broker.out" 2>&1 &
  broker_pid=$!
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return 0
    sleep 0.05
  done
  echo "mosquitto does not listen"; cat "$work/broker.log"; exit 1
}
kill_broker() { kill -9 "$broker_pid"; wait "$broker_pid" 2>/dev/null || true; broker_pid=""; }

as() { # as USER command...: runs a tool under a broker account (env execs
  local u="$1"; shift  # it, so that $! of "as ... &" is the tool itself)
  env WYLN_USERNAME="$u" WYLN_PASSWORD="$u-fault-pw" "$@"
}
rss() { awk '/^VmRSS:/ {print $2}' "/proc/$printer_pid/status"; }
# Whether the printer (run with --json: one JSON object per event line) has
# reported event $1.
printer_event() {
  python3 - "$1" "$work/printer.out" <<'PY'
import json, sys
for line in open(sys.argv[2], errors="replace"):
    try:
        if line.startswith("{") and json.loads(line).get("event") == sys.argv[1]:
            sys.exit(0)
    except ValueError:
        pass
sys.exit(1)
PY
}
now_ms() { date +%s%3N; }
fail() { echo "FAULTS FAILED: $*"; [ -f "$work/printer.log" ] && tail -20 "$work/printer.log"; exit 1; }

start_broker
as wyln "$tools/orlin_console" service --port "$port" --quiet-heartbeats >"$work/service.out" 2>&1 &
service_pid=$!
env WYLN_USERNAME="$printer" WYLN_PASSWORD="$printer-fault-pw" "$tools/orlin_printer" --port "$port" --id "$printer" --files-dir "$work/files" \
  --log "$work/printer.log" --json >"$work/printer.out" 2>&1 &
printer_pid=$!
for _ in $(seq 100); do printer_event online && break; sleep 0.1; done
printer_event online || fail "printer did not come online: $(cat "$work/printer.out")"

head -c $((24 << 20)) /dev/urandom >"$work/job.prn"
send() { as console "$tools/orlin_console" send "$printer" "$@" --port "$port"; }

rss_first=""; rss_last=""; rss_third=""; reconnect_max=0
for round in $(seq "$rounds"); do
  send load_device_info '{"info_type":0}' --timeout 5000 >/dev/null || fail "round $round: no answer before the fault"

  # A transfer in flight when the broker dies: a file of its own each round
  # (the printer resumes a file it has part of), cut once its first chunk
  # has arrived.
  ln -f "$work/job.prn" "$work/job-$round.prn"
  as console "$tools/orlin_console" send-file "$printer" "$work/job-$round.prn" --port "$port" --timeout 5000 --give-up 1 \
    >"$work/file-$round.out" 2>&1 &
  file_pid=$!
  for _ in $(seq 200); do
    [ -s "$work/files/.job-$round.prn.chunks" ] && break
    sleep 0.05
  done
  [ -s "$work/files/.job-$round.prn.chunks" ] || fail "round $round: no chunk reached the printer within 10 s"
  lines_before=$(grep -c "faild\|fail" "$work/printer.log" || true)
  kill_broker

  # During the outage: a command fails within its time-out.
  t0=$(now_ms)
  if send load_param '{"param_type":0}' --timeout 2000 >/dev/null 2>&1; then fail "round $round: a send during the outage succeeded"; fi
  took=$(( $(now_ms) - t0 ))
  [ "$took" -le 8000 ] || fail "round $round: a send during the outage took $took ms"
  # The printer's heartbeat (every 1 to 10 s, by its pacing) fails and says so.
  logged=""
  for _ in $(seq 60); do
    lines_after=$(grep -c "faild\|fail" "$work/printer.log" || true)
    [ "$lines_after" -gt "$lines_before" ] && { logged=1; break; }
    sleep 0.25
  done
  kill -0 "$printer_pid" 2>/dev/null || fail "round $round: the printer died"
  [ -n "$logged" ] || fail "round $round: no failed send logged by the printer during 15 s of outage"
  wait "$file_pid" 2>/dev/null || true; file_pid=""

  start_broker
  t0=$(now_ms)
  ok=""
  for _ in $(seq 30); do
    if send load_device_info '{"info_type":0}' --timeout 2000 >/dev/null 2>&1; then ok=1; break; fi
    sleep 0.5
  done
  [ -n "$ok" ] || fail "round $round: the printer did not answer within 45 s of the restart"
  back=$(( $(now_ms) - t0 ))
  [ "$back" -le "$reconnect_max" ] || reconnect_max=$back
  r=$(rss); [ -n "$rss_first" ] || rss_first=$r; rss_last=$r
  [ "$round" -ne 3 ] || rss_third=$r
  echo "round $round: outage send failed in $took ms, printer answering $back ms after the restart, printer RSS $r KiB"
done

# A whole transfer after the last restart arrives intact.
as console "$tools/orlin_console" send-file "$printer" "$work/job.prn" --port "$port" --timeout 15000 \
  >"$work/file-final.out" 2>&1 || fail "the final transfer failed: $(tail -3 "$work/file-final.out")"
want=$(md5sum <"$work/job.prn" | cut -d' ' -f1)
got=$(md5sum <"$work/files/job.prn" | cut -d' ' -f1) || fail "the printer has no job.prn"
[ "$want" = "$got" ] || fail "the final transfer arrived damaged"
kill -0 "$printer_pid" || fail "the printer died"
growth=$((rss_last - ${rss_third:-$rss_first}))
echo "faults: $rounds broker kills survived; longest reconnect $reconnect_max ms; printer RSS $rss_first KiB after round 1, ${rss_third:-?} after round 3, $rss_last at the end (growth after round 3: $growth KiB, bound $rss_limit); final 24 MiB transfer intact"
[ "$growth" -le "$rss_limit" ] || fail "printer RSS grew by $growth KiB after round 3 (bound $rss_limit KiB)"
echo "1 passed, 0 failed"
