#!/usr/bin/env python3
"""The shipped Windows program against boxes emulated behind Wine's own HID stack.

A box emulator (tests/emulated_box/box_emulator) plays the simulated box behind emulated hidraw
nodes (umockdev); a private Wine prefix, whose every process runs under umockdev's preload, serves
them through winebus, hidclass, hid.dll and the Setup API to veltabox-updater.exe, exactly as it
ships. The pacer (box_pacer.exe) runs beside it in the prefix, so that the program never gets an
answer winebus has not stored yet (tests/emulated_box/emulated_box.cpp says how). The driver (emulated_box_driver.exe) uses the program as a person would and asks the
emulator what the box went through. Before the scenarios, hid_probe.exe makes 1000 info requests
through the same stack and fails on a single stale answer; after them, self-tests show that both
the probe and the driver fail a program or a box that is wrong.

    bash scripts/emulated-box-e2e.sh [--programs DIR] [--scenario NAME ...] [--no-self-test]
                                     [--windows-build DIR] [--linux-build DIR]

The last line is "N passed, M failed"; the exit code is 0 only when nothing failed.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

from wine_suite import Runs, Xvfb, log, make_prefix, stop_wine, wine, wine_env, winpath

TESTS = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests")
sys.path.insert(0, os.path.join(TESTS, "emulated_box"))
from emulator_link import PRELOAD, Emulator  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SCENARIOS = ["ready", "wrong-mode", "hotplug", "update", "pull-mid-update", "pull-idle", "version-question",
             "block-never", "silent", "short-reports", "shared-box", "shared-two-boxes"]
INFO_REQUESTS = 1000
# winebus reads hidraw nodes and nothing else.
WINEBUS = ("[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\winebus]\n"
           "\"Enable SDL\"=dword:00000000\n\"DisableHidraw\"=dword:00000000\n\"DisableInput\"=dword:00000001\n")
# Where the cross build (drivers, probe, pacer) and the native build (the emulator) live; a
# checkout that others build in at the same time can be tested from builds of one's own.
BUILDS = {"windows": os.path.join(ROOT, "build/windows"), "linux": os.path.join(ROOT, "build/linux")}


def windows_build(name):
    return os.path.join(BUILDS["windows"], name)


def emulator_binary():
    return os.path.join(BUILDS["linux"], "tests/emulated_box/box_emulator")


def build(programs):
    """The emulator comes from the native build, the programs and drivers from the cross build."""
    for preset in ("linux", "windows"):
        subprocess.run(["cmake", "--preset", preset, "-B", BUILDS[preset]], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
        # Of the native build only the emulator is needed here.
        target = ["--target", "box_emulator"] if preset == "linux" else []
        subprocess.run(["cmake", "--build", BUILDS[preset], "-j", str(os.cpu_count() or 2), *target], cwd=ROOT, check=True,
                       stdout=subprocess.DEVNULL)
    for path in [os.path.join(programs, "veltabox-updater.exe"), windows_build("emulated_box_driver.exe"),
                 windows_build("hid_probe.exe"), windows_build("box_pacer.exe"), emulator_binary()]:
        if not os.path.isfile(path):
            sys.exit("missing " + path)


class Pacer:
    """box_pacer.exe, for as long as the prefix serves the emulated boxes."""

    def __init__(self, env, port):
        self.process = subprocess.Popen(["wine", windows_build("box_pacer.exe"), str(port)], env=env,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self.process.stdout.readline().strip()
        if line != "pacer ready":
            self.stop()
            sys.exit("the pacer did not start: " + (line or "no output"))
        log("== the pacer holds its device")

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()


def run_driver(env, runs, label, scenario, program, port, expect_pass, checks=()):
    """Runs one scenario. A run meant to fail must fail, and with each of `checks` among its lines."""
    log("== %s: %s on %s (expect %s)" % (label, scenario, os.path.basename(program), "pass" if expect_pass else "fail"))
    driver = windows_build("emulated_box_driver.exe")
    started = time.time()
    try:
        result = wine(env, driver, scenario, winpath(env, program), str(port), timeout=240)
        output, code = result.stdout, result.returncode
    except subprocess.TimeoutExpired as expired:
        output, code = (expired.stdout or b"").decode(errors="replace") if isinstance(expired.stdout, bytes) else (expired.stdout or ""), None
    lines = [line.rstrip("\r") for line in output.splitlines()]
    for line in lines:
        log(("   " if expect_pass else "   (meant to fail) ") + line)
    seconds = time.time() - started
    summary = lines[-1] if lines else ""
    passed, _, failed = summary.partition(" passed, ")
    if code is None:
        return runs.add(label, False, seconds, "the driver did not end within 240 s")
    if not summary.endswith(" failed") or not passed.isdigit():
        return runs.add(label, False, seconds, "no summary line at the end")
    failed = int(failed.split()[0])
    if expect_pass:
        ok = code == 0 and failed == 0 and int(passed) > 0
        return runs.add(label, ok, seconds, "exit code %s, %s" % (code, summary))
    missing = [check for check in checks if not any(line.startswith(check) for line in lines)]
    ok = code == 1 and failed > 0 and not missing
    return runs.add(label, ok, seconds, "expected failures, got exit code %s, %s%s" % (
        code, summary, "".join("; no line starting \"%s\"" % check for check in missing)))


def run_probe(env, runs, emulator, label, expect_stale, requests):
    """The info-answer path alone: hid_probe makes the requests and counts answers that are not theirs."""
    log("== %s: hid_probe --info-answers %d (expect %s)" % (label, requests, "stale answers" if expect_stale else "none stale"))
    started = time.time()
    emulator.ask("clear", "box probe firmware=0x00010A00", "plug probe")
    if expect_stale:
        emulator.ask("late-answers probe 2")
    try:
        result = wine(env, windows_build("hid_probe.exe"), "--info-answers", str(requests), timeout=300)
        lines = [line.rstrip("\r") for line in result.stdout.splitlines()]
    except subprocess.TimeoutExpired:
        result, lines = None, []
    state = emulator.ask("state probe")
    emulator.ask("clear")
    for line in lines[-5:] if expect_stale else lines:
        log("   " + line)
    tally = next((line for line in lines if line.startswith("info answers: ")), "")
    log("   the box's side: " + state)
    seconds = time.time() - started
    if result is None or not tally:
        return runs.add(label, False, seconds, "the probe gave no tally")
    stale = int(tally.split(", ")[1].split()[0])
    paced = " late=0 unpaced=0" in state
    ok = (result.returncode != 0 and stale > 0) if expect_stale else (result.returncode == 0 and stale == 0 and paced)
    runs.add(label, ok, seconds, tally + "; " + state)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--programs", help="directory of veltabox-updater.exe and veltabox-updater-demo.exe (default: the "
                        "Windows build directory)")
    parser.add_argument("--windows-build", default=BUILDS["windows"], help="the cross build's directory (default: build/windows)")
    parser.add_argument("--linux-build", default=BUILDS["linux"], help="the native build's directory (default: build/linux)")
    parser.add_argument("--scenario", action="append", choices=SCENARIOS, help="only these scenarios")
    parser.add_argument("--no-self-test", action="store_true", help="only the probe and the scenarios")
    args = parser.parse_args()
    BUILDS["windows"], BUILDS["linux"] = os.path.abspath(args.windows_build), os.path.abspath(args.linux_build)
    programs = os.path.abspath(args.programs or BUILDS["windows"])
    started = time.time()
    log("== building")
    build(programs)
    work = tempfile.mkdtemp(prefix="emulated-box-e2e.")
    xvfb = emulator = env = pacer = None
    runs = Runs()
    try:
        xvfb = Xvfb(work)
        emulator = Emulator(emulator_binary(),
                            os.path.join(ROOT, "resources/firmware.bin"), work)
        # Every Wine process, winedevice.exe with winebus among them, must run under the preload
        # and see the testbed, or it sees no emulated device at all.
        env = wine_env(work, LD_PRELOAD=PRELOAD, UMOCKDEV_DIR=emulator.testbed)
        make_prefix(env, work, WINEBUS)
        pacer = Pacer(env, emulator.port)
        updater = os.path.join(programs, "veltabox-updater.exe")
        run_probe(env, runs, emulator, "info answers", False, INFO_REQUESTS)
        for scenario in args.scenario or SCENARIOS:
            run_driver(env, runs, scenario, scenario, updater, emulator.port, True)
        if not args.no_self_test:
            run_probe(env, runs, emulator, "self-test: late answers are caught", True, 20)
            run_driver(env, runs, "self-test: ready on the demo", "ready", os.path.join(programs, "veltabox-updater-demo.exe"),
                       emulator.port, False, ["FAIL ready/IDC_LABEL_FW2 reads \"VELTA-HUB\"", "FAIL ready/hub received exactly 08 0a"])
    finally:
        if pacer is not None:
            pacer.stop()
        if env is not None:
            stop_wine(env)
        if emulator is not None:
            emulator.stop()
        if xvfb is not None:
            xvfb.stop()
        shutil.rmtree(work, ignore_errors=True)
    return runs.finish(started)


if __name__ == "__main__":
    sys.exit(main())
