#!/usr/bin/env bash
# Builds Relayon (POSIX build) and runs it on the bundled thermostat example.
# Type lines such as "how warm is it?", "make it 22", "morning", "status", "ping", "bye".
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v cmake >/dev/null || ! command -v g++ >/dev/null; then
    bash scripts/install-deps.sh
fi
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc 2>/dev/null || echo 2)" --target relayon relayon_example_server >/dev/null
cd examples
echo "Relayon is running the thermostat example. Type \"help\", or \"bye\" to end." >&2
exec ../build/relayon /t thermostat.ini ../build/relayon_example_server
