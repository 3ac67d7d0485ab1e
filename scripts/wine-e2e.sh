#!/usr/bin/env bash
# The Windows programs end to end under Wine. Builds the windows preset, then runs the driver
# (build/windows/e2e_driver.exe) once per scenario in a fresh Wine prefix, on a virtual X screen
# when there is no display. Then runs the driver against programs that misbehave (the wrong
# program for a scenario, a program that hangs) and expects it to fail them, in bounded time: a
# driver that passed everything would hide every fault it is there to find.
#
#   bash scripts/wine-e2e.sh [--screenshots DIR] [--no-self-test] [--programs DIR]
#
#   --screenshots DIR  saves DIR/screenshot-no-box.png (the no-box state) and
#                      DIR/screenshot-demo-update.png (the demo mid-update); E2E_SCREENSHOTS=DIR
#                      does the same. Use docs/ to refresh the pictures in the documentation.
#   --no-self-test     only the scenarios, not the runs against misbehaving programs
#   --programs DIR     tests veltabox-updater.exe and veltabox-updater-demo.exe from DIR (a
#                      release in dist/, say) instead of the build's; the driver, the probe and
#                      the hung program still come from build/windows
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

shots=${E2E_SCREENSHOTS:-}
self_test=1
programs=
while [ $# -gt 0 ]; do
  case $1 in
    --screenshots) shots=${2:?--screenshots needs a directory}; shift 2 ;;
    --no-self-test) self_test=0; shift ;;
    --programs) programs=${2:?--programs needs a directory}; shift 2 ;;
    *) echo "usage: $0 [--screenshots DIR] [--no-self-test] [--programs DIR]" >&2; exit 2 ;;
  esac
done
if [ -n "$programs" ]; then
  programs=$(cd "$programs" && pwd)
fi
if [ -n "$shots" ]; then
  if ! command -v import >/dev/null; then
    echo "--screenshots needs ImageMagick's import" >&2
    exit 2
  fi
  mkdir -p "$shots"
  shots=$(cd "$shots" && pwd)
fi

started=$(date +%s)
echo "== building the windows preset"
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$(nproc)"
build=$root/build/windows
programs=${programs:-$build}
for exe in e2e_driver e2e_hung_fixture hid_probe; do
  if [ ! -f "$build/$exe.exe" ]; then
    echo "missing $build/$exe.exe (the driver's targets come from tests/win32/CMakeLists.txt," \
         "which the top-level CMakeLists.txt must add on Windows)" >&2
    exit 1
  fi
done
for exe in veltabox-updater veltabox-updater-demo; do
  if [ ! -f "$programs/$exe.exe" ]; then
    echo "missing $programs/$exe.exe" >&2
    exit 1
  fi
done
[ "$programs" = "$build" ] || echo "== the programs under test: $programs"

work=$(mktemp -d "${TMPDIR:-/tmp}/wine-e2e.XXXXXX")
xvfb_pid=
cleanup() {
  local status=$?
  trap - EXIT INT TERM
  # The prefix's server and every program still running in it, then the screen they drew on.
  if [ -d "$work/prefix" ]; then
    WINEPREFIX=$work/prefix timeout 30 wineserver -k >/dev/null 2>&1 || true
    WINEPREFIX=$work/prefix timeout 30 wineserver -w >/dev/null 2>&1 || true
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

display_ready() {
  if command -v xdpyinfo >/dev/null; then xdpyinfo -display ":$1" >/dev/null 2>&1; else [ -S "/tmp/.X11-unix/X$1" ]; fi
}

if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 97 140); do
    if [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; then continue; fi
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do
      if display_ready "$n"; then export DISPLAY=":$n"; break; fi
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
    [ -n "${DISPLAY:-}" ] && break
    # Taken by another server between the look and the start: the next number.
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=
  done
  if [ -z "${DISPLAY:-}" ]; then
    echo "no Xvfb display could be started" >&2
    cat "$work/xvfb.log" >&2 || true
    exit 1
  fi
  echo "== Xvfb on $DISPLAY"
fi

# A prefix of its own each time, so no state of an earlier run can make a test pass. No Mono and
# no Gecko: the programs need neither, and the prompt to install them would wait for a person.
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
echo "== creating the Wine prefix"
boot_start=$(date +%s)
if ! timeout 300 wineboot -i >"$work/wineboot.log" 2>&1; then
  echo "wineboot failed" >&2
  cat "$work/wineboot.log" >&2
  exit 1
fi
echo "   took $(( $(date +%s) - boot_start )) s"
# Wine draws the caption buttons with the glyphs of its Marlett font (Debian's fonts-wine), and
# loads it from the prefix's font directory only; without it the close box shows an "r". Only
# that font: the dialog text keeps Wine's default face, since with Wine's Tahoma the grey
# (disabled) right-aligned versions lose their last column, and the no-box picture would read
# "0.0.C".
if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
else
  echo "   (no /usr/share/wine/fonts/marlett.ttf: install fonts-wine for proper caption buttons)"
fi
# A bare Xvfb has no window manager, so Wine's X11 driver is told not to wait for one:
# Decorated=N: Wine draws the windows' frames and captions itself, as Windows does; the
#   screenshots then show the title bars.
# Managed=N: Wine does not hand top-level windows to a window manager. A managed window that is
#   hidden or destroyed first waits for the manager to confirm its state (winex11.drv,
#   wait_for_withdrawn_state), and without one every such wait runs into its 2 s time-out: the
#   progress window's end would add 2 s to every update measured here, which no Windows has.
for setting in Decorated Managed; do
  timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v "$setting" /t REG_SZ /d N /f >"$work/reg.log" 2>&1 || {
    echo "could not set the Wine registry" >&2
    cat "$work/reg.log" >&2
    exit 1
  }
done

mkdir -p "$work/ack"
ack_win=$(winepath -w "$work/ack" 2>/dev/null)

# Called for the driver's "SCREENSHOT-NOW name left top right bottom"; the driver waits for
# name.done, which is written even when the capture fails, so that it goes on either way.
take_screenshot() {
  local name=$1 left=$2 top=$3 right=$4 bottom=$5
  local file=$shots/$name.png
  if import -display "$DISPLAY" -window root -crop "$((right - left))x$((bottom - top))+$left+$top" +repage \
      "$file" 2>>"$work/import.log"; then
    echo "   saved $file"
  else
    echo "   the screenshot $name could not be taken:"
    sed 's/^/   /' "$work/import.log" || true
  fi
  : >"$work/ack/$name.done"
}

# run LABEL EXPECT SCENARIO PROGRAM [CHECK...]
#   EXPECT pass: the driver exits with 0 and its last line is "N passed, 0 failed", N > 0.
#   EXPECT fail: it exits with 1, its last line is "N passed, M failed" with M > 0, and each CHECK
#   is the start of one of its FAIL or INFO lines. Either way it must end on its own within the
#   bound: a driver killed by the timeout has hung.
runs=()
failures=0
run() {
  local label=$1 expect=$2 scenario=$3 program=$4
  shift 4
  local log=$work/$label.log
  local args=()
  [ -n "$shots" ] && [ "$expect" = pass ] && args=(--screenshots "$ack_win")
  echo "== $label: $scenario on $(basename "$program") (expect $expect)"
  local begin status
  begin=$(date +%s%N)
  set +e
  timeout -k 10 180 wine "$build/e2e_driver.exe" "${args[@]}" "$scenario" "$(winepath -w "$program" 2>/dev/null)" \
      2>"$log.stderr" | while IFS= read -r line; do
    line=${line%$'\r'}
    printf '%s\n' "$line" >>"$log"
    # A self-test's own tally is not this suite's: kept from reading as a closing line.
    if [ "$expect" = pass ]; then printf '   %s\n' "$line"; else printf '   (meant to fail) %s\n' "$line"; fi
    case $line in
      "SCREENSHOT-NOW "*)
        read -r _ name left top right bottom <<<"$line"
        take_screenshot "$name" "$left" "$top" "$right" "$bottom"
        ;;
    esac
  done
  status=${PIPESTATUS[0]}
  set -e
  local tenths=$(( ($(date +%s%N) - begin) / 100000000 ))
  local took=$((tenths / 10)).$((tenths % 10))
  local summary passed=0 failed=0 why=
  summary=$(tail -n 1 "$log" 2>/dev/null || true)
  if [[ $summary =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
    passed=${BASH_REMATCH[1]}
    failed=${BASH_REMATCH[2]}
  else
    why="no summary line at the end"
  fi
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    why="the driver did not end within 180 s"
  elif [ -z "$why" ] && [ "$expect" = pass ]; then
    if [ "$status" -ne 0 ] || [ "$failed" -ne 0 ] || [ "$passed" -eq 0 ]; then why="exit code $status, $summary"; fi
  elif [ -z "$why" ]; then
    if [ "$status" -ne 1 ] || [ "$failed" -eq 0 ]; then why="expected failures, got exit code $status, $summary"; fi
    local check line found
    for check in "$@"; do
      found=0
      while IFS= read -r line; do
        if [[ $line == "$check"* ]]; then found=1; break; fi
      done <"$log"
      [ "$found" = 1 ] || why="${why:+$why; }no line starting \"$check\""
    done
  fi
  if [ -n "$why" ]; then
    failures=$((failures + 1))
    runs+=("FAILED  $label ($took s): $why")
    if [ -s "$log.stderr" ]; then
      echo "   stderr of the run:"
      sed 's/^/   | /' "$log.stderr"
    fi
  else
    runs+=("ok      $label ($took s)")
  fi
}

updater=$programs/veltabox-updater.exe
demo=$programs/veltabox-updater-demo.exe
hung=$build/e2e_hung_fixture.exe

run nobox pass nobox "$updater"
run escape pass escape "$updater"
run closebox pass closebox "$updater"
run demo pass demo "$demo"

# The Win32 backend's own checks that need no box: libraries from System32 only (with copies
# planted beside the program), also by the full paths that Windows 7 without KB2533623 needs,
# pauses never shorter than asked, bounded reads and writes, device-change records read as the
# dialog reads them.
probe() {
  local check=$1 begin status
  echo "== backend: hid_probe $check"
  begin=$(date +%s)
  set +e
  timeout -k 10 120 wine "$build/hid_probe.exe" "$check" 2>&1 | sed 's/\r$//; s/^/   /'
  status=${PIPESTATUS[0]}
  set -e
  if [ "$status" -eq 0 ]; then
    runs+=("ok      backend $check ($(( $(date +%s) - begin )) s)")
  else
    failures=$((failures + 1))
    runs+=("FAILED  backend $check: exit code $status")
  fi
}
probe --dll-check
probe --dll-check-by-path
probe --pause-test
probe --transfer-test
probe --device-change-test

if [ "$self_test" = 1 ]; then
  run self-test-demo-on-the-real-program fail demo "$updater" \
    "FAIL demo/hint is the ready text 40000" \
    "FAIL demo/'Update' is enabled with a box in bootloader mode"
  run self-test-nobox-on-the-demo fail nobox "$demo" \
    "FAIL nobox/hint is the no-box text" \
    "FAIL nobox/'Update' is disabled with no box" \
    "FAIL nobox/IDC_VALUE_FW1 reads \"0.0.0\" with no box"
  run self-test-nobox-on-a-hung-program fail nobox "$hung" \
    "FAIL nobox/hint is the no-box text (40017, blank line, 40001): the control did not answer" \
    "INFO the program was still running and has been terminated"
  run self-test-escape-on-a-hung-program fail escape "$hung" \
    "FAIL escape/program exits with code 0: still running" \
    "INFO the program was still running and has been terminated"
fi

echo "== results"
printf '   %s\n' "${runs[@]}"
echo "   $(( $(date +%s) - started )) s in all"
echo "wine-e2e: $(( ${#runs[@]} - failures )) passed, $failures failed"
[ "$failures" -eq 0 ]
