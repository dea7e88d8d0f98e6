#!/usr/bin/env bash
# Sets up, builds and runs the demo: the program in a working folder laid out
# with its default files, simulated cameras and the simulated I/O board.
set -euo pipefail
cd "$(dirname "$0")"
ROOT="$PWD"
./scripts/install-deps
JOBS="${JOBS:-$(nproc)}"
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DVMM_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j"$JOBS"
WORK="${VMM_WORKDIR:-$ROOT/work}"
"$ROOT/scripts/layout-workdir" "$ROOT/build/release" "$WORK"
cd "$WORK"
export QT_QPA_PLATFORM_PLUGIN_PATH=/opt/Qt5.15.7/plugins/platforms
if [ -z "${DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  RUNNER=(xvfb-run -a -s "-screen 0 1280x800x24")
else
  RUNNER=()
fi
# The program ends itself for a reboot (exit code 64): start it again, as the
# computer would after rebooting.
while true; do
  set +e
  "${RUNNER[@]}" ./vmm "$@"
  rc=$?
  set -e
  if [ "$rc" -ne 64 ]; then exit "$rc"; fi
  echo "run.sh: the program asked for a reboot; starting it again"
done
