#!/usr/bin/python3
"""The console program end to end: veltabox-cli against boxes emulated behind hidraw nodes
(tests/emulated_box/box_emulator --native, under umockdev's preload), and its demo's live lines
on a pseudo terminal.

    python3 tests/linux/cli_e2e.py [--build DIR]

Each check prints "PASS name" or "FAIL name: why"; the last line is "N passed, M failed".
"""
import argparse
import json
import os
import pty
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

TESTS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [os.path.join(TESTS, "emulated_box")]
from emulator_link import PRELOAD, Emulator  # noqa: E402

ROOT = os.path.dirname(TESTS)
WHOLE_UPDATE = "ok 08 0a 05 03*115 02 01*1311 04 07"
EVENT_FIELDS = {"start": {"schema", "image"}, "found": {"box", "node", "model"}, "started": {"box"},
                "progress": {"box", "percent"}, "succeeded": {"box", "text"}, "failed": {"box", "text"},
                "summary": {"updated", "failed", "skipped", "busy", "not_started", "exit_code", "text"}}


class Checks:
    def __init__(self):
        self.passed = self.failed = 0

    def check(self, name, ok, why=""):
        if ok:
            self.passed += 1
            print("PASS " + name, flush=True)
        else:
            self.failed += 1
            print("FAIL %s: %s" % (name, why), flush=True)

    def equal(self, name, actual, expected):
        self.check(name, actual == expected, "got %r, expected %r" % (actual, expected))


def messages():
    source = open(os.path.join(ROOT, "resources/messages.def"), encoding="utf-8").read()
    return {int(n): t.replace("\\r", "\r").replace("\\n", "\n")
            for n, t in re.findall(r'MESSAGE\((\d+),\s*"((?:[^"\\]|\\.)*)"\)', source)}


def state(emulator, name):
    return dict(field.split("=", 1) for field in emulator.ask("state " + name).split()[1:])


def live_demo(build, result):
    """The demo with two boxes on a pseudo terminal, as a person at a terminal sees it."""
    pid, fd = pty.fork()
    if pid == 0:
        os.environ["TERM"] = "xterm"
        os.execv(os.path.join(build, "veltabox-cli-demo"), ["veltabox-cli-demo", "--boxes", "2", "update", "--all"])
    output = b""
    while True:
        try:
            chunk = os.read(fd, 65536)
        except OSError:
            break
        if not chunk:
            break
        output += chunk
    result["status"] = os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1])
    result["output"] = output.decode("utf-8", "replace")


def watch(checks, cli, env, emulator):
    """--wait --count 3 with boxes arriving one after another: a box left attached is taken once,
    one pulled out and plugged in again is taken again. Boxes in application mode end at once."""
    for name in ("good", "pulled", "app"):
        emulator.ask("unplug " + name)
    emulator.ask("box stays mode=app serial=STAYS", "box again mode=app serial=AGAIN")
    process = subprocess.Popen([cli, "update", "--wait", "--count", "3", "--json"], env=env, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True)
    ended = []

    def until_ended(count):
        while len(ended) < count:
            event = json.loads(process.stdout.readline() or '{"event": "eof"}')
            if event["event"] == "eof":
                raise RuntimeError("the watch ended early")
            if event["event"] in ("failed", "succeeded"):
                ended.append(event["box"])

    try:
        emulator.ask("plug stays")
        until_ended(1)
        emulator.ask("plug again")
        until_ended(2)
        emulator.ask("unplug again")
        time.sleep(1.5)  # the watch notices the box gone before it comes back
        emulator.ask("plug again")
        until_ended(3)
        status = process.wait(timeout=30)
    finally:
        if process.poll() is None:
            process.kill()
    checks.equal("--wait --count 3: three updates ended, a box failed", status, 1)
    checks.equal("the box left attached was taken once", emulator.ask("commands stays"), "ok 08")
    checks.equal("the box plugged in again was taken again", emulator.ask("commands again"), "ok 08*2")
    emulator.ask("unplug stays", "unplug again")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build/linux"))
    args = parser.parse_args()
    checks, texts = Checks(), messages()
    cli = os.path.join(args.build, "veltabox-cli")
    work = tempfile.mkdtemp(prefix="cli-e2e.")
    live = {}
    demo = threading.Thread(target=live_demo, args=(args.build, live))
    demo.start()
    emulator = Emulator(os.path.join(args.build, "tests/emulated_box/box_emulator"),
                        os.path.join(ROOT, "resources/firmware.bin"), work, native=True)
    try:
        env = dict(os.environ, LD_PRELOAD=PRELOAD, UMOCKDEV_DIR=emulator.testbed)
        # The query's two reports, the unlock, the erase, the address, then 300 blocks.
        emulator.ask("box good serial=GOOD", "box pulled serial=PULLED pull-after=%d" % (2 + 117 + 300),
                     "box app serial=APP mode=app pid=2", "other mouse vid=0x046d pid=0xc077")
        for name in ("mouse", "good", "pulled", "app"):
            emulator.ask("plug " + name)

        run = subprocess.run([cli, "list", "--json"], env=env, capture_output=True, text=True, timeout=60)
        found = [json.loads(line) for line in run.stdout.splitlines() if '"found"' in line]
        checks.equal("list: every box, in the order of its node, and not the mouse",
                     [(e["model"], e["mode"]) for e in found],
                     [("VELTABOX", "bootloader"), ("VELTABOX", "bootloader"), ("VELTA-HUB", "application")])
        checks.check("list: each box by its USB port", all(re.fullmatch(r"\d+-[\d.]+", e["box"]) for e in found), found)
        run = subprocess.run([cli, "update"], env=env, capture_output=True, text=True, timeout=60)
        checks.equal("update with several boxes and neither --box nor --all is a usage error", run.returncode, 2)

        run = subprocess.run([cli, "update", "--all", "--json"], env=env, capture_output=True, text=True, timeout=120)
        checks.equal("update --all: exit status 1, a box failed", run.returncode, 1)
        events = [json.loads(line) for line in run.stdout.splitlines()]
        checks.equal("the first event names the schema", (events[0]["event"], events[0].get("schema")), ("start", 1))
        lacking = [(event, (EVENT_FIELDS.get(event["event"], set()) | {"time"}) - set(event)) for event in events]
        checks.equal("every event has its time and its fields", [entry for entry in lacking if entry[1]], [])
        by_box = {}
        for event in events:
            by_box.setdefault(event.get("box"), []).append(event)
        ports = [e["box"] for e in found]
        good, pulled, app = (by_box.get(port, []) for port in ports)
        checks.equal("the good box: found, started, each tenth, succeeded",
                     [e.get("percent", e["event"]) for e in good], ["found", "started"] + list(range(10, 101, 10)) + ["succeeded"])
        checks.equal("its text is the dialog's success text", good[-1].get("text"), texts[40032])
        failure = pulled[-1] if pulled else {}
        checks.equal("the pulled box fails its block with ENODEV", (failure.get("event"), failure.get("text"), failure.get("code"),
                     failure.get("system_error")), ("failed", texts[40009], -2, 19))
        checks.equal("with the dialog's code line", failure.get("code_line"), "Das System meldet Fehlercode 0xfffffffe-0x00000013")
        checks.equal("the box in application mode is reported as such",
                     [(e["event"], e.get("text")) for e in app][-1:], [("failed", texts[40045])])
        summary = events[-1]
        checks.equal("the summary counts", (summary["event"], summary.get("updated"), summary.get("failed"), summary.get("exit_code")),
                     ("summary", 1, 2, 1))
        # 'list' asked each box once before.
        checks.equal("the good box took the queries and one whole update, nothing else", emulator.ask("commands good"),
                     WHOLE_UPDATE.replace("ok", "ok 08 0a"))
        checks.equal("the box in application mode was only asked", emulator.ask("commands app"), "ok 08*2")
        watch(checks, cli, env, emulator)
        box = state(emulator, "good")
        checks.check("the good box holds the image, finished, refused nothing (each report paced)",
                     (box["flash"], box["finished"], box["refused"]) == ("image", "1", "0"), box)
        checks.check("the pulled box refused nothing", state(emulator, "pulled")["refused"] == "0")
        checks.equal("nothing but the query reached the box in application mode", state(emulator, "app")["flash"], "untouched")
    finally:
        emulator.stop()
        demo.join(timeout=120)
        shutil.rmtree(work, ignore_errors=True)

    output = live.get("output", "")
    checks.equal("live demo: exit status 0", live.get("status"), 0)
    bars = re.findall(r"VELTA(?:BOX|-HUB) sim-\d  \[[#.]{20}\] +(\d+) %  noch \d+ s", output)
    checks.check("live demo: a bar per box, redrawn in place as it fills", len(set(bars)) > 20 and "\x1b[2A" in output,
                 "%d positions" % len(set(bars)))
    checks.check("live demo: ends with the summary", output.rstrip().endswith(
        texts[40048].replace("%u", "{}").format(2, 0, 0, 0, 0)), output[-300:])
    print("cli-e2e: %d passed, %d failed" % (checks.passed, checks.failed))
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main())
