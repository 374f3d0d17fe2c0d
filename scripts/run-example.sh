#!/usr/bin/env bash
# Builds Relayon (POSIX build) and runs it on the bundled thermostat example.
# Type lines such as "how warm is it?", "make it 22", "morning", "status", "ping", "bye".
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v cmake >/dev/null || ! command -v g++ >/dev/null; then
    bash scripts/install-deps.sh
fi
# The build says nothing while it goes well; a failed one shows what went wrong.
echo "Building Relayon and the example server in build/ (about a minute the first time) ..." >&2
log=$(mktemp)
if ! { cmake --preset native && cmake --build --preset native -j "$(nproc 2>/dev/null || echo 2)" \
        --target relayon relayon_example_server; } >"$log" 2>&1; then
    grep -E -B2 -A6 'error' "$log" | head -60 >&2 || tail -40 "$log" >&2
    echo "The build failed (its whole output: $log)." >&2
    exit 1
fi
rm -f "$log"
cd examples
echo "Relayon is running the thermostat example. Type \"help\", or \"bye\" to end." >&2
exec ../build/relayon /t thermostat.ini ../build/relayon_example_server
