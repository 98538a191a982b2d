#!/usr/bin/env bash
# Runs every test: the native unit tests and fuzzer against the test fake, the
# checks of both Windows builds, and the end-to-end tests of both real exes
# under Wine (the 32-bit groups skip, with the reason, where 32-bit Windows
# programs cannot run), then the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake --workflow --preset native
cmake --workflow --preset windows-x86
cmake --workflow --preset windows

# The README's first command, once: demo.sh exits non-zero unless every step
# of the demo happens as it describes.
scripts/demo.sh
