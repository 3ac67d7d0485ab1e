#!/usr/bin/env bash
# Installs what is missing, builds both Windows programs and starts the demo under Wine on this
# display: the real program with a simulated box attached, so a whole update can be watched.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset linux >/dev/null && cmake --build --preset linux -j"$(nproc)"
cmake --preset windows >/dev/null && cmake --build --preset windows -j"$(nproc)"
echo "Built: build/windows/veltabox-updater.exe and build/windows/veltabox-updater-demo.exe"
if [ -z "${DISPLAY:-}" ]; then
  echo "No display: set DISPLAY to watch the demo, or run it under xvfb-run." >&2
  exit 0
fi
WINEDEBUG=-all wine build/windows/veltabox-updater-demo.exe
