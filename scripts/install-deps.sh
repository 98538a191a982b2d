#!/usr/bin/env bash
# Installs, from Debian's packages, what building and testing the launcher need
# and this machine lacks. Run as root; does nothing when everything is there.
set -euo pipefail

need=()
have() { command -v "$1" >/dev/null 2>&1; }
have cmake || need+=(cmake)
have g++ || need+=(g++)
have clang++ || need+=(clang)
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-14-dev)
[ -e /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
have python3 || need+=(python3)
have x86_64-w64-mingw32-g++ || need+=(g++-mingw-w64-x86-64)
have i686-w64-mingw32-g++ || need+=(g++-mingw-w64-i686)
have wine || need+=(wine64 wine)
have xvfb-run || need+=(xvfb)
have xauth || need+=(xauth)
have xdotool || need+=(xdotool)
[ -e /usr/share/i18n/locales/ja_JP ] && have localedef || need+=(locales)  # the code page 932 tests
[ -e /usr/lib/python3/dist-packages/pefile.py ] || need+=(python3-pefile)  # the exe checks
have openssl || need+=(openssl)               # the release: certificate checks
have osslsigncode || need+=(osslsigncode)     # the release: signing
have xorriso || need+=(xorriso)               # scripts/disc.py: disc images
[ -e /usr/lib/python3/dist-packages/pycdlib ] || need+=(python3-pycdlib)  # scripts/disc.py: reading images

# A tiny i386 Linux program (exit(42) through int 0x80): whether this kernel
# runs 32-bit programs at all. Some machines of this kind refuse them.
runs_i386() {
    local f rc=0
    f=$(mktemp)
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$f"
    chmod +x "$f"
    "$f" 2>/dev/null || rc=$?
    rm -f "$f"
    [ "$rc" = 42 ]
}

# The 32-bit exe, the one on discs, runs under Wine's 32-bit loader (wine32,
# from the i386 architecture) beside wine64.
if [ ! -x /usr/lib/wine/wine ]; then
    if runs_i386; then
        dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
        need+=(wine32:i386)
    else
        echo "This kernel does not run 32-bit programs: wine32 is not installed, and the 32-bit exe's" \
             "end-to-end tests and benchmark are skipped."
    fi
fi

if [ ${#need[@]} -gt 0 ]; then
    echo "Installing: ${need[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q >/dev/null
    apt-get install -y -q "${need[@]}" >/dev/null
fi
