#!/usr/bin/env bash
# Installs what is missing, builds the one program the demo starts, and starts it on this
# display: the real program with a simulated box attached (in bootloader mode, with an older
# firmware, paced like a real box), so that a whole update can be watched without hardware.
# Without a display it runs the console demo instead: four simulated boxes updated at once, live,
# in this terminal.
#
#   bash scripts/demo.sh          the native Linux demo (GTK): build/linux/veltabox-updater-demo
#   bash scripts/demo.sh --wine   the Windows demo under Wine: build/windows/veltabox-updater-demo.exe
set -euo pipefail
cd "$(dirname "$0")/.."
wine=0
case "${1:-}" in
  "") ;;
  --wine) wine=1 ;;
  *) echo "usage: $0 [--wine]" >&2; exit 2 ;;
esac
bash scripts/install-deps.sh
# Only the one program the demo starts is built, not the tests: a newcomer waits for the demo.
display=1
[ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ] || display=0
if [ "$display" = 0 ]; then
  cmake --preset linux >/dev/null && cmake --build --preset linux -j"$(nproc)" --target veltabox-cli-demo
  echo "No display here: the console program's demo instead, four simulated boxes updated at once."
  echo "Starting build/linux/veltabox-cli-demo update --all"
  status=0
  build/linux/veltabox-cli-demo update --all || status=$?
  echo
  echo "To watch the dialog's demo, run this again where a display is set (DISPLAY), or under"
  echo "xvfb-run with a VNC viewer; 'bash $0 --wine' shows the Windows demo."
  exit "$status"
fi
if [ "$wine" = 1 ]; then
  cmake --preset windows >/dev/null && cmake --build --preset windows -j"$(nproc)" --target veltabox-updater-demo
  echo "Built: build/windows/veltabox-updater-demo.exe"
  program=(wine build/windows/veltabox-updater-demo.exe)
  export WINEDEBUG=-all
else
  cmake --preset linux >/dev/null && cmake --build --preset linux -j"$(nproc)" --target veltabox-updater-demo
  echo "Built: build/linux/veltabox-updater-demo"
  program=(build/linux/veltabox-updater-demo)
fi
echo "Starting ${program[*]}: the updater with a simulated box; \"Update\" writes to the simulated box only."
exec "${program[@]}"
