#!/bin/sh
# Benchmark of the launcher under Wine, for the 32-bit exe (where 32-bit
# Windows programs run here natively; under emulation its paths are only
# checked) and the 64-bit exe: what a warm and a cold launch read from the
# disc, counted with strace; warm launch from a copy
# the launcher installed, against the walk floor and the start-only floor, with
# trees of 300, 10 and 10,000 files; cold installation against the shell-only
# floor and xcopy. Builds each exe and the helpers of its architecture, then
# runs bench.py inside a private X server. Arguments go to bench.py (--reps N,
# --cold-reps N, --trace, --all-cpus, --counts-only).
set -e
cd "$(dirname "$0")/.."

# What a launch reads from the disc is counted with strace.
if ! command -v strace >/dev/null; then
    apt-get install -y strace >/dev/null
fi

# Where 32-bit programs run only under an emulator (qemu-i386), their times
# say nothing about Windows: the 32-bit exe's paths are checked, not timed.
why_not=$(python3 -B -c 'import sys; sys.path.insert(0, "tests/e2e"); import zelvo_e2e
print(zelvo_e2e.why_no_32bit() or "")')
emulator=$(python3 -B -c 'import sys; sys.path.insert(0, "tests/e2e"); import zelvo_e2e
print(zelvo_e2e.i386_emulator() or "")')
x86_only_checked=
if [ -n "$why_not" ]; then
    echo "== 32-bit exe: not measured: $why_not"
    presets=windows
elif [ -n "$emulator" ]; then
    echo "== 32-bit exe: each path checked once, none timed: 32-bit programs run here only under" \
         "the emulator $emulator, and emulated times say nothing about Windows"
    presets="windows-x86 windows"
    x86_only_checked=1
else
    presets="windows-x86 windows"
fi

status=0
for preset in $presets; do
    BUILD=build/$preset
    if [ "$preset" = windows ]; then CC=x86_64-w64-mingw32-gcc; else CC=i686-w64-mingw32-gcc; fi
    if [ ! -f "$BUILD/CMakeCache.txt" ]; then
        cmake --preset $preset >/dev/null
    fi
    cmake --build --preset $preset -j2 >/dev/null
    mkdir -p "$BUILD/bench"
    $CC -O2 -Wall -Wextra -static -mwindows -o "$BUILD/bench/floor.exe" bench/floor.c
    $CC -O2 -Wall -Wextra -static -mwindows -o "$BUILD/bench/walkfloor.exe" bench/walkfloor.c
    $CC -O2 -Wall -Wextra -static -mwindows -o "$BUILD/bench/shellcopy.exe" bench/shellcopy.c -lshell32
    $CC -O2 -Wall -Wextra -static -o "$BUILD/bench/timer.exe" bench/timer.c

    echo "== $preset"
    set -- --launcher "$BUILD/ZelvoLauncher.exe" --viewer "$BUILD/tests/e2e/KiroZelvo.exe" \
        --spawn "$BUILD/tests/e2e/spawn.exe" --timer "$BUILD/bench/timer.exe" \
        --floor "$BUILD/bench/floor.exe" --walkfloor "$BUILD/bench/walkfloor.exe" \
        --shellcopy "$BUILD/bench/shellcopy.exe" "$@"
    only=
    [ "$preset" = windows-x86 ] && [ -n "$x86_only_checked" ] && only=--check-only
    if [ -n "$DISPLAY" ]; then
        python3 bench/bench.py $only "$@" || status=1
    else
        xvfb-run -a -s "-screen 0 1024x768x24" python3 bench/bench.py $only "$@" || status=1
    fi
    shift 14   # back to the caller's arguments for the next exe
done
exit $status
