#!/usr/bin/env bash
# The test command: installs what is missing, builds both programs and runs every test of both,
# then the native tests again under address and undefined-behaviour sanitizers and under the
# thread sanitizer, then each fuzz target for a bounded time (clang, libFuzzer; findings land in
# build-fuzz/tests/fuzz/findings).
#   scripts/test.sh            everything
#   scripts/test.sh native     only the named builds (native, win32, asan, tsan, fuzz)
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh || { echo "installing the build and test tools failed"; exit 1; }

builds=("$@")
[ ${#builds[@]} -gt 0 ] || builds=(native win32 asan tsan fuzz)
jobs=$(nproc 2>/dev/null || echo 2)
failed=()

for preset in "${builds[@]}"; do
    echo "=== $preset: configure and build"
    if ! cmake --preset "$preset" >/dev/null || ! cmake --build --preset "$preset" -j "$jobs"; then
        failed+=("$preset (build)")
        continue
    fi
    prefix=""
    if [ "$preset" = win32 ]; then
        prefix="$PWD/build-win32/wineprefix"
        scripts/wine-prepare.sh "$prefix"
    fi
    echo "=== $preset: tests"
    ctest --preset "$preset" -j "$jobs" || failed+=("$preset (tests)")
    [ -z "$prefix" ] || scripts/wine-prepare.sh "$prefix" -k
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "FAILED: ${failed[*]}"
    exit 1
fi
echo "all builds and tests passed: ${builds[*]}"
