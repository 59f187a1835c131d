#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test.
# PRESET=sanitizers scripts/test.sh runs them under AddressSanitizer and UBSan instead,
# PRESET=tsan scripts/test.sh under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
preset="${PRESET:-default}"
cmake --preset "$preset"
cmake --build --preset "$preset"
ctest --preset "$preset"
