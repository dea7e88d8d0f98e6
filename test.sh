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
# A test that fails once is run once more: a loaded machine can starve a
# time-out, a fault that is real fails twice.
ctest --output-on-failure -j"$JOBS" --timeout 900 --repeat until-pass:2
