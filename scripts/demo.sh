#!/bin/bash
# Builds the launcher and shows it at work on a sample disc under Wine.
# Run as root on a fresh Debian machine: installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" = 0 ]; then
    scripts/install-deps.sh
fi

echo "== Building the launcher (preset windows)"
cmake --preset windows
cmake --build --preset windows

echo "== The launcher at work under Wine"
xvfb-run -a python3 scripts/demo_run.py build/windows
