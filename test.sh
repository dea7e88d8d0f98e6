#!/usr/bin/env bash
# Sets up, builds (AddressSanitizer + UndefinedBehaviorSanitizer) and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps
JOBS="${JOBS:-$(nproc)}"
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DVMM_SANITIZE=ON -DVMM_SHARED_LIBS=ON -DVMM_BUILD_TESTS=ON >/dev/null
# The libraries depend one way only (no cycle, no include from above).
./scripts/check-layers build/test
cmake --build build/test -j"$JOBS"
cd build/test
# A test that fails once is run once more: a loaded machine can starve a
# time-out, a fault that is real fails twice. Every test that needed the
# second run is named at the end, so that a flaky test does not go unseen.
LOG=Testing/Temporary/test-sh.log
mkdir -p Testing/Temporary
set +e
ctest --output-on-failure -j"$JOBS" --timeout 900 --repeat until-pass:2 2>&1 | tee "$LOG"
rc=${PIPESTATUS[0]}
set -e
# ctest's result lines: "[k/n ]Test #i: <name> ....   Passed" or "***Failed" (or Timeout, ...).
flaky=$(sed -nE 's/^ *([0-9]+\/[0-9]+ +)?Test +#[0-9]+: ([^ ]+) \.* *(\*\*\*)?([A-Za-z]+).*/\2 \4/p' "$LOG" |
        awk '$2 != "Passed" { failed[$1] = 1 } $2 == "Passed" && failed[$1] { print $1 }')
if [ -n "$flaky" ]; then
  echo
  echo "test.sh: passed only on their second run (flaky):"
  printf '  %s\n' $flaky
fi
exit "$rc"
