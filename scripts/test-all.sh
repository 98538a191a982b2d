#!/usr/bin/env bash
# Runs every test: the native unit tests and fuzzer against the test fake, the
# checks of both Windows builds, and the end-to-end tests of both real exes
# under Wine, then the demo. Where the kernel runs no 32-bit programs,
# install-deps.sh has them run under qemu-user; the 32-bit groups skip, with
# the reason, only where neither can be had.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake --workflow --preset native
cmake --workflow --preset windows-x86
cmake --workflow --preset windows

# The README's first command, once: demo.sh exits non-zero unless every step
# of the demo happens as it describes.
scripts/demo.sh
