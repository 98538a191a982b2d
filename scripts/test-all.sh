#!/usr/bin/env bash
# Runs every test: the native unit tests and fuzzer against the test fake, the
# checks of both Windows builds, and the end-to-end tests of the real program
# under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake --workflow --preset native
cmake --workflow --preset windows-x86
cmake --workflow --preset windows
