#!/usr/bin/env bash
# Builds the window and starts it against the simulated display unit, whose SD
# card lives in CARD (default: the simulated unit's own, $TESSALY_SIM_CARD or
# ~/.local/share/tessaly/sim-card; made with a few map and log files on first
# use). Without a display (no DISPLAY or WAYLAND_DISPLAY) the window is drawn
# offscreen once the unit is listed and saved as build/tessaly-window.png.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-Debug} >/dev/null
cmake --build build -j"$(nproc)" --target tessaly
simulate=--simulate${CARD:+=$CARD}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: saving a picture of the window to build/tessaly-window.png"
  set -x
  QT_QPA_PLATFORM=offscreen build/app/tessaly "$simulate" --screenshot build/tessaly-window.png
else
  set -x
  build/app/tessaly "$simulate"
fi
