#!/bin/bash
# Builds the launcher and shows it at work on a sample disc under Wine.
# Run as root on a fresh Debian machine: installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
have() { command -v "$1" >/dev/null 2>&1; }
have x86_64-w64-mingw32-g++ || missing+=(g++-mingw-w64-x86-64)
have i686-w64-mingw32-g++ || missing+=(g++-mingw-w64-i686)
{ have wine64 || have wine; } || missing+=(wine64)
have xvfb-run || missing+=(xvfb)
have xdotool || missing+=(xdotool)
have cmake || missing+=(cmake)
have python3 || missing+=(python3)
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" != 0 ]; then
        echo "Missing packages: ${missing[*]}. Run this script as root to install them." >&2
        exit 1
    fi
    echo "== Installing ${missing[*]}"
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
fi

echo "== Building the launcher (preset windows)"
cmake --preset windows
cmake --build --preset windows

echo "== The launcher at work under Wine"
xvfb-run -a python3 scripts/demo_run.py build/windows
