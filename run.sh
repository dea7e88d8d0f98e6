#!/usr/bin/env bash
# Sets up, builds and runs the demo: the program in a working folder laid out
# with its default files, the simulated cameras and the simulated I/O board,
# which opens the mould every few seconds.
set -euo pipefail
cd "$(dirname "$0")"
ROOT="$PWD"
./scripts/install-deps
JOBS="${JOBS:-$(nproc)}"
BUILD="$ROOT/build/release"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DVMM_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j"$JOBS"
WORK="${VMM_WORKDIR:-$ROOT/work}"
"$ROOT/scripts/layout-workdir" "$BUILD" "$WORK"
# A folder standing in for a USB disk: the program treats it as plugged in
# while it exists and copies the fault pictures into it.
export VMM_USB_DISK="${VMM_USB_DISK:-$WORK/usbdisk}"
mkdir -p "$VMM_USB_DISK"

PIDS=()
cleanup() { for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT

# The simulated I/O board on a pseudo-terminal (kept outside the working folder).
PTY="$ROOT/build/board-pty"
"$BUILD/tools/iosim/iosim" --link "$PTY" --cycle "${VMM_CYCLE_MS:-6000}" >/dev/null &
PIDS+=($!)
for _ in $(seq 50); do [ -e "$PTY" ] && break; sleep 0.1; done
export VMM_COM_PORT="$PTY"

# VMM_NET_CAMERAS=N (1..8) runs the demo on N simulated network cameras on
# 127.0.0.2 upwards, reached through the network-camera plug-in and the camera
# SDK, in place of the replay cameras.
NET_CAMERAS="${VMM_NET_CAMERAS:-0}"
if [ "$NET_CAMERAS" -gt 0 ]; then
  [ "$NET_CAMERAS" -le 8 ] || { echo "run.sh: VMM_NET_CAMERAS is 1..8" >&2; exit 2; }
  NETSIM_OUT="$ROOT/build/netcamsim.out"
  "$BUILD/tools/netcamsim/netcamsim" --count "$NET_CAMERAS" --width 1280 --height 1024 >"$NETSIM_OUT" &
  NETSIM=$!
  PIDS+=($NETSIM)
  for _ in $(seq 50); do [ "$(grep -c '^ready' "$NETSIM_OUT" 2>/dev/null)" -ge "$NET_CAMERAS" ] && break; sleep 0.1; done
  CAMS=""
  for i in $(seq "$NET_CAMERAS"); do
    CAMS="$CAMS${CAMS:+,}{\"ip\":\"127.0.0.$((i + 1))\",\"serial\":\"NETCAM-000$i\"}"
  done
  export VMM_CAMERA_NETWORK="{\"discover\":false,\"cameras\":[$CAMS]}"
  export VMM_CAMERA_REPLAY='{"cameras":[]}'
  echo "run.sh: $NET_CAMERAS simulated network camera(s) on 127.0.0.2 upwards (ports 10401/10402)."
  shortshot() { kill -USR1 "$NETSIM" 2>/dev/null || true; }
  noshortshot() { kill -USR2 "$NETSIM" 2>/dev/null || true; }
else
  shortshot() { "$BUILD/tools/camctl/camctl" "$WORK/vmm-camera-replay" '*' defect shortshot >/dev/null 2>&1 || true; }
  noshortshot() { "$BUILD/tools/camctl/camctl" "$WORK/vmm-camera-replay" '*' defect none >/dev/null 2>&1 || true; }
fi

# Now and then a short shot on the cameras, so that NG cycles show too.
(
  sleep 45
  while true; do
    shortshot
    sleep 10
    noshortshot
    sleep 60
  done
) &
PIDS+=($!)

if [ -z "${DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  DISP=":${VMM_DISPLAY:-57}"
  Xvfb "$DISP" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
  PIDS+=($!)
  export DISPLAY="$DISP"
  sleep 1
  echo "run.sh: no display; the program runs on Xvfb $DISP."
  echo "        look at it with: xwd -root -display $DISP | convert xwd:- screen.png"
fi
echo "run.sh: fault pictures are copied to $VMM_USB_DISK/monitor_<device id>/<date>/ (remove the folder to pull the disk)."
echo "run.sh: HTTP API on port 10100 (when switched on in cnt_net/config.json), Modbus TCP on 502."
echo "run.sh: the simulated local agent logs what the program sends it to $WORK/cnt_net/rurir_monitor/agent-messages.log"

cd "$WORK"
# Started as on the monitor's computer: the splash waits 15 s for the cameras
# (the network-card script is only recorded off the target).
# The program ends itself for a reboot (exit code 64): start it again, as the
# computer would after rebooting. A power-off (65) or anything else ends the demo.
while true; do
  set +e
  ./vmm "$@"
  rc=$?
  set -e
  if [ "$rc" -ne 64 ]; then exit "$rc"; fi
  echo "run.sh: the program asked for a reboot; starting it again"
done
