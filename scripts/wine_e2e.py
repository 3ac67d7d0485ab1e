#!/usr/bin/env python3
"""The Windows programs end to end under Wine.

Builds the windows preset, then runs the driver (e2e_driver.exe) once per scenario in a fresh Wine
prefix, on a virtual X screen when there is no display. Then runs the driver against programs
that misbehave (the wrong program for a scenario, a program that hangs) and expects it to fail
them, in bounded time: a driver that passed everything would hide every fault it is there to find.

    bash scripts/wine-e2e.sh [--screenshots DIR] [--no-self-test] [--programs DIR] [--windows-build DIR]

  --screenshots DIR    saves DIR/screenshot-no-box.png (the no-box state) and
                       DIR/screenshot-demo-update.png (the demo mid-update); E2E_SCREENSHOTS=DIR
                       does the same. Use docs/ to refresh the pictures in the documentation.
  --no-self-test       only the scenarios, not the runs against misbehaving programs
  --programs DIR       tests veltabox-updater.exe and veltabox-updater-demo.exe from DIR (a release
                       in dist/, say) instead of the build's; the driver, the probe and the hung
                       program still come from the build
  --windows-build DIR  the cross build's directory (default: build/windows)

The last line is "wine-e2e: N passed, M failed"; the exit code is 0 only when nothing failed.
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

from wine_suite import Runs, Xvfb, log, make_prefix, stop_wine, wine_env, winpath

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DRIVER_LIMIT = 180
PROBE_LIMIT = 120
# The Win32 backend's own checks that need no box: libraries from System32 only (with copies
# planted beside the program), also by the full paths that Windows 7 without KB2533623 needs,
# pauses never shorter than asked, bounded reads and writes, device-change records read as the
# dialog reads them, what the console program's record of updates asks of the system.
PROBES = ["--dll-check", "--dll-check-by-path", "--pause-test", "--transfer-test", "--device-change-test", "--state-test"]
SUMMARY = re.compile(r"^([0-9]+) passed, ([0-9]+) failed$")


def build(directory, programs):
    log("== building the windows preset")
    subprocess.run(["cmake", "--preset", "windows", "-B", directory], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", directory, "-j", str(os.cpu_count() or 2)], cwd=ROOT, check=True)
    for exe in ("e2e_driver", "e2e_hung_fixture", "hid_probe"):
        if not os.path.isfile(os.path.join(directory, exe + ".exe")):
            sys.exit("missing %s/%s.exe (the driver's targets come from tests/win32/CMakeLists.txt, which the top-level "
                     "CMakeLists.txt must add on Windows)" % (directory, exe))
    for exe in ("veltabox-updater", "veltabox-updater-demo"):
        if not os.path.isfile(os.path.join(programs, exe + ".exe")):
            sys.exit("missing %s/%s.exe" % (programs, exe))


def bounded(env, command, limit, stderr, on_line):
    """Runs `command` with each line of its output handed to `on_line` as it comes. Still running
    after `limit` seconds, it is terminated, killed 10 s later, and 10 s after that the prefix is
    stopped, whose programs may still hold the output open. Returns the exit status as timeout(1)
    would: 124 after the bound, 128 + N after signal N."""
    process = subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=stderr)
    late = threading.Event()

    def terminate():
        late.set()
        process.terminate()

    timers = [threading.Timer(limit, terminate), threading.Timer(limit + 10, process.kill),
              threading.Timer(limit + 20, stop_wine, [env])]
    for timer in timers:
        timer.start()
    try:
        for raw in process.stdout:
            line = raw.decode(errors="replace").rstrip("\n")
            on_line(line[:-1] if line.endswith("\r") else line)
        code = process.wait()
    finally:
        for timer in timers:
            timer.cancel()
    if late.is_set():
        return 124
    return 128 - code if code < 0 else code


class Suite:
    def __init__(self, work, env, build_dir, shots):
        self.work, self.env, self.build, self.shots = work, env, build_dir, shots
        self.runs = Runs()
        os.makedirs(os.path.join(work, "ack"))
        self.ack = winpath(env, os.path.join(work, "ack"))

    def screenshot(self, name, left, top, right, bottom):
        """For the driver's "SCREENSHOT-NOW name left top right bottom"; the driver waits for
        name.done, which is written even when the capture fails, so that it goes on either way."""
        path = os.path.join(self.shots, name + ".png")
        with open(os.path.join(self.work, "import.log"), "a") as errors:
            taken = subprocess.run(["import", "-display", os.environ["DISPLAY"], "-window", "root", "-crop",
                                    "%dx%d+%d+%d" % (right - left, bottom - top, left, top), "+repage", path],
                                   stderr=errors).returncode == 0
        if taken:
            log("   saved " + path)
        else:
            log("   the screenshot %s could not be taken:" % name)
            with open(os.path.join(self.work, "import.log"), errors="replace") as errors:
                for line in errors.read().splitlines():
                    log("   " + line)
        open(os.path.join(self.work, "ack", name + ".done"), "w").close()

    def run(self, label, expect_pass, scenario, program, checks=()):
        """Expecting a pass: the driver exits with 0 and its last line is "N passed, 0 failed", N > 0.
        Expecting a failure: it exits with 1, its last line is "N passed, M failed" with M > 0, and
        each of `checks` is the start of one of its FAIL or INFO lines. Either way it must end on its
        own within the bound: a driver that had to be stopped has hung."""
        log("== %s: %s on %s (expect %s)" % (label, scenario, os.path.basename(program), "pass" if expect_pass else "fail"))
        log_path = os.path.join(self.work, label + ".log")
        options = ["--screenshots", self.ack] if self.shots and expect_pass else []
        lines = []

        def seen(line):
            lines.append(line)
            # A self-test's own tally is not this suite's: kept from reading as a closing line.
            log(("   " if expect_pass else "   (meant to fail) ") + line)
            if line.startswith("SCREENSHOT-NOW "):
                name, *region = line.split()[1:6]
                self.screenshot(name, *map(int, region))

        started = time.time()
        with open(log_path + ".stderr", "wb") as stderr:
            code = bounded(self.env, ["wine", os.path.join(self.build, "e2e_driver.exe"), *options, scenario,
                                      winpath(self.env, program)], DRIVER_LIMIT, stderr, seen)
        with open(log_path, "w") as kept:
            kept.writelines(line + "\n" for line in lines)
        summary = lines[-1] if lines else ""
        tally = SUMMARY.match(summary)
        why = ""
        if code in (124, 137):
            why = "the driver did not end within %d s" % DRIVER_LIMIT
        elif not tally:
            why = "no summary line at the end"
        elif expect_pass:
            if code != 0 or int(tally.group(2)) != 0 or int(tally.group(1)) == 0:
                why = "exit code %d, %s" % (code, summary)
        else:
            reasons = []
            if code != 1 or int(tally.group(2)) == 0:
                reasons.append("expected failures, got exit code %d, %s" % (code, summary))
            reasons += ["no line starting \"%s\"" % check for check in checks
                        if not any(line.startswith(check) for line in lines)]
            why = "; ".join(reasons)
        self.runs.add(label, not why, time.time() - started, why)
        if why and os.path.getsize(log_path + ".stderr"):
            log("   stderr of the run:")
            with open(log_path + ".stderr", errors="replace") as stderr:
                for line in stderr.read().splitlines():
                    log("   | " + line)

    def probe(self, check):
        log("== backend: hid_probe " + check)
        started = time.time()
        code = bounded(self.env, ["wine", os.path.join(self.build, "hid_probe.exe"), check], PROBE_LIMIT, subprocess.STDOUT,
                       lambda line: log("   " + line))
        self.runs.add("backend " + check, code == 0, time.time() - started, "exit code %d" % code)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--screenshots", metavar="DIR", default=os.environ.get("E2E_SCREENSHOTS") or None,
                        help="save the no-box state and the demo mid-update as PNG files in DIR")
    parser.add_argument("--no-self-test", action="store_true", help="only the scenarios, not the runs against "
                        "misbehaving programs")
    parser.add_argument("--programs", metavar="DIR", help="directory of veltabox-updater.exe and veltabox-updater-demo.exe "
                        "(default: the Windows build directory)")
    parser.add_argument("--windows-build", metavar="DIR", default=os.path.join(ROOT, "build/windows"),
                        help="the cross build's directory (default: build/windows)")
    args = parser.parse_args()
    build_dir = os.path.abspath(args.windows_build)
    programs = os.path.abspath(args.programs) if args.programs else build_dir
    if args.programs and not os.path.isdir(programs):
        parser.error("--programs: no directory " + args.programs)
    shots = None
    if args.screenshots:
        if shutil.which("import") is None:
            parser.exit(2, "--screenshots needs ImageMagick's import\n")
        shots = os.path.abspath(args.screenshots)
        os.makedirs(shots, exist_ok=True)

    started = time.time()
    build(build_dir, programs)
    if programs != build_dir:
        log("== the programs under test: " + programs)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(130))
    work = tempfile.mkdtemp(prefix="wine-e2e.")
    screen = env = None
    try:
        screen = Xvfb(work)
        env = wine_env(work)
        make_prefix(env, work)
        # Wine draws the caption buttons with the glyphs of its Marlett font (Debian's fonts-wine),
        # and loads it from the prefix's font directory only; without it the close box shows an
        # "r". Only that font: the dialog text keeps Wine's default face, since with Wine's Tahoma
        # the grey (disabled) right-aligned versions lose their last column, and the no-box
        # picture would read "0.0.C".
        if os.path.isfile("/usr/share/wine/fonts/marlett.ttf"):
            fonts = os.path.join(env["WINEPREFIX"], "drive_c/windows/Fonts")
            os.makedirs(fonts, exist_ok=True)
            shutil.copy("/usr/share/wine/fonts/marlett.ttf", fonts)
        else:
            log("   (no /usr/share/wine/fonts/marlett.ttf: install fonts-wine for proper caption buttons)")
        suite = Suite(work, env, build_dir, shots)
        updater = os.path.join(programs, "veltabox-updater.exe")
        demo = os.path.join(programs, "veltabox-updater-demo.exe")
        hung = os.path.join(build_dir, "e2e_hung_fixture.exe")
        suite.run("nobox", True, "nobox", updater)
        suite.run("escape", True, "escape", updater)
        suite.run("closebox", True, "closebox", updater)
        suite.run("demo", True, "demo", demo)
        for check in PROBES:
            suite.probe(check)
        if not args.no_self_test:
            suite.run("self-test-demo-on-the-real-program", False, "demo", updater, [
                "FAIL demo/hint is the ready text 40000",
                "FAIL demo/'Update' is enabled with a box in bootloader mode"])
            suite.run("self-test-nobox-on-the-demo", False, "nobox", demo, [
                "FAIL nobox/hint is the no-box text",
                "FAIL nobox/'Update' is disabled with no box",
                "FAIL nobox/IDC_VALUE_FW1 reads \"0.0.0\" with no box"])
            suite.run("self-test-nobox-on-a-hung-program", False, "nobox", hung, [
                "FAIL nobox/hint is the no-box text (40017, blank line, 40001): the control did not answer",
                "INFO the program was still running and has been terminated"])
            suite.run("self-test-escape-on-a-hung-program", False, "escape", hung, [
                "FAIL escape/program exits with code 0: still running",
                "INFO the program was still running and has been terminated"])
    except KeyboardInterrupt:
        return 130
    finally:
        if env is not None:
            stop_wine(env)
        if screen is not None:
            screen.stop()
        shutil.rmtree(work, ignore_errors=True)
    return suite.runs.finish(started, "wine-e2e")


if __name__ == "__main__":
    sys.exit(main())
