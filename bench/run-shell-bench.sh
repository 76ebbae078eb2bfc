#!/usr/bin/env bash
# The tray program's start over the generated 1 GB home: start to the status
# item's first real title on the bus, then its memory and idle CPU, under
# Xvfb with openbox on a private session bus with a watcher of our own.
#   bench/run-shell-bench.sh [BUILD_DIR [WORK_DIR [IDLE_SECONDS]]]
# BUILD_DIR: a build with the benchmarks (default build-release, `make
# bench`); WORK_DIR receives the log tree (kept between runs) and the
# program's data; BYTES and SEED set the tree's size and seed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-release}
work=${2:-/tmp/tokvane-shell-bench}
idle=${3:-60}
bytes=${BYTES:-1100000000}
seed=${SEED:-1}
mkdir -p "$work"
if [ ! -d "$work/home" ]; then
  echo "writing the log tree under $work/home ..."
  "$build/bench/tokvane-generate-log-tree" --home "$work/home" --bytes "$bytes" --seed "$seed"
fi
mkdir -p "$work/runtime" && chmod 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime"
unset WAYLAND_DISPLAY
display=97
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
exec dbus-run-session -- bash -c '
  Xvfb ":'"$display"'" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  export DISPLAY=":'"$display"'" QT_QPA_PLATFORM=xcb
  for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done
  openbox >/dev/null 2>&1 &
  wm=$!
  sleep 1
  status=0
  "'"$build"'/bin/tokvane-shell-bench" "'"$build"'/bin/tokvane" "'"$work"'/home" "'"$work"'/run" '"$idle"' || status=$?
  kill $wm $xvfb 2>/dev/null || true
  exit $status
'
