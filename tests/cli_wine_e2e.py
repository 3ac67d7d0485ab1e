#!/usr/bin/python3
"""veltabox-cli.exe end to end under Wine, against boxes emulated behind Wine's own HID stack
(tests/emulated_box/box_emulator, served by winebus as in scripts/emulated_box_e2e.py, with the
pacer beside it): a box listed, two boxes written at once with a third, whose erase fails, arriving
meanwhile; then the
program's Windows half through hid_probe.exe: the watch on arrivals with two boxes plugged in and
pulled out, their serial numbers, and two Ctrl+C on a console.

Not here: Ctrl+C. Under Wine's HID stack a box plugged in after others were pulled out answers
its first question with an empty report more often than not (it then reads as application mode),
so a session after the first cannot be relied on; the stop requests are shown on Linux
(tests/linux/cli_e2e.py).

The pacer makes one info answer at a time safe (tests/emulated_box/emulated_box.cpp): two boxes
asked at the same moment would race for it. So the second box is plugged in while the first is
being written, when only the second asks; its answers are checked to have come paced.

    python3 tests/cli_wine_e2e.py [--windows-build DIR] [--linux-build DIR] [--programs DIR]

Each check prints "PASS name" or "FAIL name: why"; the last line is "N passed, M failed".
"""
import argparse
import json
import os
import pty
import shutil
import subprocess
import sys
import tempfile
import threading

TESTS = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(TESTS, "emulated_box")]
from emulator_link import PRELOAD, Emulator  # noqa: E402

ROOT = os.path.dirname(TESTS)
WHOLE_UPDATE = "ok 08 0a 05 03*115 02 01*1311 04 07"


class Checks:
    def __init__(self):
        self.passed = self.failed = 0

    def check(self, name, ok, why=""):
        self.passed += 1 if ok else 0
        self.failed += 0 if ok else 1
        print(("PASS " + name) if ok else "FAIL %s: %s" % (name, why), flush=True)


def state(emulator, name):
    return dict(field.split("=", 1) for field in emulator.ask("state " + name).split()[1:])


def make_prefix(env, work):
    """A prefix of its own whose winebus reads hidraw nodes and nothing else."""
    subprocess.run(["wineboot", "-i"], env=env, timeout=300, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    settings = os.path.join(work, "winebus.reg")
    with open(settings, "w") as reg:
        reg.write("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\winebus]\n"
                  "\"Enable SDL\"=dword:00000000\n\"DisableHidraw\"=dword:00000000\n\"DisableInput\"=dword:00000001\n")
    subprocess.run(["wine", "regedit", settings], env=env, timeout=60, stdout=subprocess.DEVNULL, check=True)
    # winebus reads its settings when it starts: the next program starts it afresh.
    subprocess.run(["wineserver", "-k"], env=env, timeout=30)
    subprocess.run(["wineserver", "-w"], env=env, timeout=30)


def run(env, program, args, on_event=None, limit=150):
    """Runs the program with --json and its output piped; `on_event(event, process)` sees each
    event as it comes. Returns the exit status (None when it had to be killed), the events, stderr."""
    process = subprocess.Popen(["wine", program, *args], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    timer = threading.Timer(limit, process.kill)
    timer.start()
    errors = []
    reader = threading.Thread(target=lambda: errors.append(process.stderr.read()))
    reader.start()
    events, raw = [], b""
    for line in process.stdout:
        raw += line
        try:
            events.append(json.loads(line))
        except ValueError:
            events.append({"event": "unreadable", "line": line.decode("utf-8", "replace")})
        if on_event is not None:
            on_event(events[-1], process)
    status = process.wait()
    reader.join()
    killed = not timer.is_alive()
    timer.cancel()
    return (None if killed else status), events, raw, errors[0].decode("utf-8", "replace")


def of(events, kind, box=None):
    return [e for e in events if e.get("event") == kind and (box is None or e.get("box") == box)]


def watch_probe(env, emulator, probe, boxes, limit=150):
    """hid_probe --watch-test with one box plugged in per "watching" and pulled out per "arrived",
    in the order of `boxes` (name, serial as the probe must read it). Its standard input is a
    pseudo terminal, so that Wine gives it a console to send Ctrl+C to. Returns the exit status
    (None when it had to be killed) and its lines."""
    master, slave = pty.openpty()
    process = subprocess.Popen(["wine", probe, "--watch-test", *[serial for _, serial in boxes]], env=env, stdin=slave,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors="replace")
    os.close(slave)
    timer = threading.Timer(limit, process.kill)
    timer.start()
    lines, waiting = [], [name for name, _ in boxes]
    try:
        for line in process.stdout:
            lines.append(line.rstrip("\r\n"))
            print("   " + lines[-1], flush=True)
            if lines[-1] == "watching" and waiting:
                emulator.ask("plug " + waiting[0])
            elif lines[-1] == "arrived" and waiting:
                emulator.ask("unplug " + waiting.pop(0))
        status = process.wait()
    finally:
        killed = not timer.is_alive()
        timer.cancel()
        os.close(master)
    return (None if killed else status), lines


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--windows-build", default=os.path.join(ROOT, "build/windows"), help="box_pacer.exe and hid_probe.exe are taken from here")
    parser.add_argument("--linux-build", default=os.path.join(ROOT, "build/linux"), help="the box emulator is taken from here")
    parser.add_argument("--programs", help="veltabox-cli.exe is taken from here (a release in dist/); default: --windows-build")
    args = parser.parse_args()
    program = os.path.join(os.path.abspath(args.programs or args.windows_build), "veltabox-cli.exe")
    checks = Checks()
    work = tempfile.mkdtemp(prefix="cli-wine-e2e.")
    emulator = pacer = env = None
    try:
        emulator = Emulator(os.path.join(args.linux_build, "tests/emulated_box/box_emulator"),
                            os.path.join(ROOT, "resources/firmware.bin"), work)
        # Every Wine process, winedevice.exe with winebus among them, must run under the preload.
        env = dict(os.environ, WINEPREFIX=os.path.join(work, "prefix"), WINEDEBUG="-all",
                   WINEDLLOVERRIDES="mscoree,mshtml=", LD_PRELOAD=PRELOAD, UMOCKDEV_DIR=emulator.testbed)
        make_prefix(env, work)
        pacer = subprocess.Popen(["wine", os.path.join(args.windows_build, "box_pacer.exe"), str(emulator.port)], env=env,
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        if pacer.stdout.readline().strip() != "pacer ready":
            sys.exit("the pacer did not start")
        # f's fourth report, its first erase, fails: the query sends two, then the unlock.
        for box in ("l pid=1 serial=L0", "a pid=1 serial=A1", "b pid=2 serial=B2", "c pid=1 serial=C3", "d pid=1 serial=D4",
                    "e pid=1 serial=E5", "f pid=1 serial=F6 fail-write=4", "w pid=1 serial=W-0042", "v pid=2 serial=V,7"):
            emulator.ask("box %s firmware=0x00010A00" % box)

        # winebus takes a moment to serve a box that was plugged in; list looks only once.
        emulator.ask("plug l")
        for _ in range(60):
            status, events, raw, _ = run(env, program, ["list", "--json"])
            if status != 3:
                break
        found = of(events, "found")
        checks.check("list: one box, asked, nothing written", status == 0 and len(found) == 1 and
                     {k: found[0].get(k) for k in ("model", "mode", "firmware", "bootloader")} ==
                     {"model": "VELTABOX", "mode": "bootloader", "firmware": "1.10", "bootloader": "1.2"} and
                     found[0]["node"].lower().startswith("\\\\?\\hid#vid_21b8&pid_0001") and found[0]["box"] and
                     state(emulator, "l")["unlocked"] == "0", "status %s, %s" % (status, found))
        checks.check("list: UTF-8 with bare line ends", b"\r" not in raw and raw.endswith(b"}\n"), repr(raw[-80:]))

        emulator.ask("unplug l", "plug a")

        # The second box arrives while the first is written; both are then written at once. A third,
        # whose first erase fails, arrives once the second has started: in the first session of
        # updates, since under Wine's HID stack a later session's first question is not reliably
        # answered (see above), and only after the others were asked, since the pacer paces one
        # info answer at a time.
        def plug(event, _):
            if event.get("event") == "progress" and "b" not in plugged:
                plugged.append("b")
                emulator.ask("plug b")
            elif event.get("event") == "started" and len(of(events_so_far, "started")) == 1 and "b" in plugged and "f" not in plugged:
                plugged.append("f")
                emulator.ask("plug f")
            events_so_far.append(event)
        plugged, events_so_far = [], []
        status, events, _, _ = run(env, program, ["update", "--wait", "--count", "3", "--json"], plug)
        failed = of(events, "failed")
        written = [e["box"] for e in of(events, "succeeded")]
        summary = of(events, "summary")
        checks.check("three boxes: two updated, the third's failed erase makes exit status 1", status == 1 and
                     len(written) == 2 and summary and summary[0]["updated"] == 2 and summary[0]["failed"] == 1,
                     "status %s, %s" % (status, events[-3:]))
        boxes = [e["box"] for e in of(events, "started")]
        if len(boxes) >= 2:
            checks.check("two boxes: the second started before the first was done",
                         events.index(of(events, "started", boxes[1])[0]) < events.index(of(events, "succeeded", boxes[0])[0]))
        for name in ("a", "b"):
            box = state(emulator, name)
            checks.check("two boxes: box %s has the image, nothing refused, every answer paced" % name,
                         box["flash"] == "image" and box["refused"] == "0" and box["late"] == "0" and
                         box["unpaced"] == "0" and emulator.ask("commands " + name) == WHOLE_UPDATE, str(box))
        # A failed erase names the system's error in its code line, as the dialog's failure box does.
        checks.check("failed erase: the failure with its code and its system error",
                     len(failed) == 1 and failed[0].get("code", 0) < 0 and failed[0].get("system_error", 0) != 0 and
                     failed[0].get("code_line", "").endswith("-0x%08x" % failed[0].get("system_error", 0)),
                     "%s" % (failed or events[-3:]))
        commands = emulator.ask("commands f")
        checks.check("failed erase: nothing sent after the failed erase", commands == "ok 08 0a 05 !03", commands)
        emulator.ask("unplug a", "unplug b", "unplug f")

        # The Windows half of the program through the probe, which links it: arrivals, removals,
        # serial numbers (a comma makes one unfit for a key: none), interrupts.
        status, lines = watch_probe(env, emulator, os.path.join(args.windows_build, "hid_probe.exe"),
                                    [("w", "W-0042"), ("v", "-")])
        faults = [line for line in lines if line.startswith("FAIL")]
        checks.check("watch: arrivals and removals with the list's paths, serial numbers, two Ctrl+C",
                     status == 0 and not faults and sum(line.startswith("ok") for line in lines) >= 16,
                     "status %s, %s" % (status, faults or lines[-3:]))
    finally:
        if pacer is not None:
            pacer.kill()
            pacer.wait()
        if env is not None:
            subprocess.run(["wineserver", "-k"], env=env, timeout=30, stderr=subprocess.DEVNULL)
            subprocess.run(["wineserver", "-w"], env=env, timeout=30, stderr=subprocess.DEVNULL)
        if emulator is not None:
            emulator.stop()
        shutil.rmtree(work, ignore_errors=True)
    print("%d passed, %d failed" % (checks.passed, checks.failed))
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main())
