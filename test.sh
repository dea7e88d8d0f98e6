#!/usr/bin/env bash
# Sets up, builds (AddressSanitizer + UndefinedBehaviorSanitizer) and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps
JOBS="${JOBS:-$(nproc)}"
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DVMM_SANITIZE=ON -DVMM_BUILD_TESTS=ON >/dev/null
# The libraries depend one way only (no cycle, no include from above).
./scripts/check-layers build/test
cmake --build build/test -j"$JOBS"
cd build/test
ctest --output-on-failure -j"$JOBS" --timeout 900
