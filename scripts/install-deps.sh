#!/usr/bin/env bash
# Installs what the builds and tests need, only when it is missing.
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

have_cmd cmake || need+=(cmake)
have_cmd g++ || need+=(g++)
have_cmd i686-w64-mingw32-g++-posix || need+=(g++-mingw-w64-i686-posix)
have_pkg libgtest-dev || need+=(libgtest-dev)
have_pkg googletest || need+=(googletest)
have_pkg libgmock-dev || need+=(libgmock-dev)
have_cmd python3 || need+=(python3)
# The Windows archive's manual page is formatted as text by groff.
have_cmd groff || need+=(groff-base)
# The fuzz build: clang with its libFuzzer and sanitizer runtimes.
have_cmd clang++ || need+=(clang)
have_pkg libclang-rt-14-dev || need+=(libclang-rt-14-dev)

wine_missing=0
have_cmd wine || wine_missing=1
[ -x /usr/lib/wine/wine ] || wine_missing=1
have_pkg wine32:i386 || wine_missing=1

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

if [ "$wine_missing" -eq 1 ]; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $SUDO dpkg --add-architecture i386
    fi
    need+=(wine wine32:i386)
fi

if [ "${#need[@]}" -gt 0 ]; then
    echo "installing: ${need[*]}"
    $SUDO apt-get update -q
    $SUDO apt-get install -y -q --no-install-recommends "${need[@]}"
fi
