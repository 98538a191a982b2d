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

if [ ${#need[@]} -gt 0 ]; then
    echo "Installing: ${need[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q >/dev/null
    apt-get install -y -q "${need[@]}" >/dev/null
fi
