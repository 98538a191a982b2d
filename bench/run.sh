#!/bin/sh
# Benchmark of the launcher under Wine: warm launch against the floor, warm
# launch with a small and a large tree, cold installation against xcopy.
# Builds the 64-bit exe and the helpers, then runs bench.py inside a private X
# server. Arguments go to bench.py (--reps N, --cold-reps N, --trace).
set -e
cd "$(dirname "$0")/.."
BUILD=build/windows

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    cmake --preset windows >/dev/null
fi
cmake --build --preset windows -j2 >/dev/null

mkdir -p "$BUILD/bench"
CC=x86_64-w64-mingw32-gcc
$CC -O2 -Wall -Wextra -static -mwindows -o "$BUILD/bench/floor.exe" bench/floor.c
$CC -O2 -Wall -Wextra -static -o "$BUILD/bench/timer.exe" bench/timer.c

set -- --launcher "$BUILD/ZelvoLauncher.exe" --viewer "$BUILD/tests/e2e/KiroZelvo.exe" \
    --spawn "$BUILD/tests/e2e/spawn.exe" --timer "$BUILD/bench/timer.exe" \
    --floor "$BUILD/bench/floor.exe" "$@"
if [ -n "$DISPLAY" ]; then
    exec python3 bench/bench.py "$@"
fi
exec xvfb-run -a -s "-screen 0 1024x768x24" python3 bench/bench.py "$@"
