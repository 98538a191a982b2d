#!/bin/bash
# Builds the launcher and shows it at work under Wine on sample discs, each
# made with scripts/disc.py image and put in the optical drive as Windows
# reads the image: the 32-bit exe, the one that ships on discs, where 32-bit
# Windows programs can run here (natively or under qemu-user), else the
# 64-bit exe. Run as root on a fresh Debian machine: installs what is missing
# first.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" = 0 ]; then
    scripts/install-deps.sh
fi

why_not=$(python3 -B -c 'import sys; sys.path.insert(0, "tests/e2e"); import zelvo_e2e
print(zelvo_e2e.why_no_32bit() or "")')
emulator=$(python3 -B -c 'import sys; sys.path.insert(0, "tests/e2e"); import zelvo_e2e
print(zelvo_e2e.i386_emulator() or "")')
if [ -z "$why_not" ]; then
    preset=windows-x86
    echo "== The 32-bit exe, as on discs (preset windows-x86)${emulator:+, under the emulator $emulator}"
else
    preset=windows
    echo "== The 64-bit exe (preset windows): 32-bit programs cannot run here: $why_not"
fi
cmake --preset $preset >/dev/null
cmake --build --preset $preset

echo "== The launcher at work under Wine"
xvfb-run -a python3 scripts/demo_run.py build/$preset
