#!/usr/bin/env bash
# The widget program's memory and idle CPU with three widgets, under Xvfb
# with openbox on a private session bus.
#   bench/run-widgets-idle.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
seconds=${2:-30}
display=95
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
exec dbus-run-session -- bash -c '
  Xvfb ":'"$display"'" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  export DISPLAY=":'"$display"'" QT_QPA_PLATFORM=xcb
  for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done
  openbox >/dev/null 2>&1 &
  wm=$!
  sleep 1
  "'"$build"'/bin/tokvane-widgets-idle-bench" "'"$build"'/bin/tokvane-widgets" '"$seconds"'
  status=$?
  kill $wm $xvfb 2>/dev/null || true
  exit $status
'
