#!/usr/bin/env bash
# Installs what is missing, builds, and runs the demo.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
build="${BUILD_DIR:-$root/build}"
if [ -x "$build/tools/orlin_demo" ]; then
  exec "$build/tools/orlin_demo" "$@"
fi
# Until the full demo is built: a host that creates, inits, sends and
# releases a session against the test transport.
exec "$build/tests/bin/orlin_host_smoke"
