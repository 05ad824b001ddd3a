#!/usr/bin/env bash
# N clients that send a request to orlin_fleet on 127.0.0.1:PORT a byte every
# 100 ms, and meanwhile one ordinary request, timed by curl. Prints how long
# that request took and when the last trickling client was closed.
#
#   bench/fleet/trickle.sh 8080 200
set -euo pipefail
port="${1:?port}" n="${2:-30}"
start=$(date +%s%N)
for _ in $(seq "$n"); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port"; printf 'GET / HTTP/1.1\r\nX: ' >&3
   while printf c >&3; do sleep 0.1; done) 2>/dev/null &
done
sleep 1
curl -so /dev/null -w "GET /api/fleet: %{http_code} in %{time_total} s\n" "http://127.0.0.1:$port/api/fleet"
wait || true
echo "all $n trickling clients closed after $(( ($(date +%s%N) - start) / 1000000 )) ms"
