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
import signal
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

TESTS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [TESTS, os.path.join(TESTS, "emulated_box")]
from default_stops import give_programs_default_stops  # noqa: E402
from emulator_link import PRELOAD, Emulator  # noqa: E402

ROOT = os.path.dirname(TESTS)
WHOLE_UPDATE = "ok 08 0a 05 03*115 02 01*1311 04 07"
EVENT_FIELDS = {"start": {"schema", "image"}, "found": {"box", "node", "model"}, "started": {"box"},
                "progress": {"box", "percent"}, "succeeded": {"box", "text"}, "failed": {"box", "text"},
                "confirmed": {"box", "text"}, "unconfirmed": {"box", "text"},
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
        os.environ["XDG_STATE_HOME"] = result["state"]
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
    for name in ("good", "pulled", "app", "other", "keeps"):
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
        # Pulled out and back within a blink: the system's announcements tell the two apart,
        # where a listing now and then would have seen the box never leave.
        emulator.ask("unplug again", "plug again")
        until_ended(3)
        status = process.wait(timeout=30)
    finally:
        if process.poll() is None:
            process.kill()
    checks.equal("--wait --count 3: three updates ended, a box failed", status, 1)
    checks.equal("the box left attached was taken once", emulator.ask("commands stays"), "ok 08")
    checks.equal("the box plugged in again was taken again", emulator.ask("commands again"), "ok 08*2")
    emulator.ask("unplug stays", "unplug again")


def history(cli, env, path):
    run = subprocess.run([cli, "history", "--json", "--history", path], env=env, capture_output=True, text=True, timeout=60)
    return [json.loads(line) for line in run.stdout.splitlines()]


def production_line(checks, cli, env, emulator, work):
    """--wait --count 3 as a line runs it: box A finished, restarted into its firmware and pulled,
    box B (another serial, another port) plugged in on A's node within a blink; box C held by
    another program when the watch began, taken once that program lets it go; meanwhile the boxes'
    listing comes up empty for a while. Each box is updated once, whole, and recorded."""
    emulator.ask("box line-a serial=LINE-A restart", "box line-b serial=LINE-B", "box line-c serial=LINE-C")
    node_c = emulator.ask("plug line-c").split()[1]
    # Another program's claim on C, taken as every updater takes it.
    holder = subprocess.Popen([sys.executable, "-c", "import fcntl, os, sys; fd = os.open(sys.argv[1], os.O_RDWR); "
                               "fcntl.flock(fd, fcntl.LOCK_EX); print('held', flush=True); sys.stdin.readline()", node_c],
                              env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    holder.stdout.readline()
    records = os.path.join(work, "line.sqlite3")
    process = subprocess.Popen([cli, "update", "--wait", "--count", "3", "--json", "--history", records], env=env,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    events = []

    def until(predicate):
        while True:
            line = process.stdout.readline()
            if not line:
                raise RuntimeError("the watch ended early: %r" % events[-3:])
            events.append(json.loads(line))
            if predicate(events[-1]):
                return events[-1]

    hidden = os.path.join(emulator.testbed, "sys/class/hidraw")
    try:
        until(lambda e: e["event"] == "busy")
        node_a = emulator.ask("plug line-a").split()[1]
        until(lambda e: e["event"] == "succeeded" and e.get("serial") == "LINE-A")
        time.sleep(2)  # back in its firmware on its port, where the watch meets it
        restarted = emulator.ask("commands line-a")
        emulator.ask("unplug line-a", "plug line-b node=" + node_a[len("/dev/hidraw"):])
        until(lambda e: e["event"] == "started" and e.get("serial") == "LINE-B")
        os.rename(hidden, hidden + ".away")
        time.sleep(6)  # longer than the watch goes without listing the boxes
        os.rename(hidden + ".away", hidden)
        holder.stdin.write("\n")
        holder.stdin.flush()
        status = process.wait(timeout=120)
        events += [json.loads(line) for line in process.stdout.read().splitlines()]
    finally:
        if os.path.exists(hidden + ".away"):
            os.rename(hidden + ".away", hidden)
        for child in (process, holder):
            if child.poll() is None:
                child.kill()
    succeeded = sorted(e.get("serial") for e in events if e["event"] == "succeeded")
    checks.equal("production line: each of the three boxes updated once, by its serial number, exit 0",
                 (succeeded, status, [e for e in events if e["event"] == "failed"]), (["LINE-A", "LINE-B", "LINE-C"], 0, []))
    checks.equal("box A, restarted into its firmware at its port, was asked once and is no failure", restarted,
                 WHOLE_UPDATE + " 08")
    checks.equal("box B on A's node took one whole update, nothing else", emulator.ask("commands line-b"), WHOLE_UPDATE)
    checks.equal("box C, held at first, took one whole update once let go", emulator.ask("commands line-c"), WHOLE_UPDATE)
    checks.equal("each box has its own record", sorted((r["serial"], r["outcome"]) for r in history(cli, env, records)),
                 [("LINE-A", "updated"), ("LINE-B", "updated"), ("LINE-C", "updated")])
    emulator.ask("unplug line-b", "unplug line-c")


def stops(build, result):
    """SIGTERM then SIGHUP mid-write stop no box; under nohup SIGHUP is not the program's at all."""
    demo = os.path.join(build, "veltabox-cli-demo")
    env = dict(os.environ, XDG_STATE_HOME=result["state"])
    twice = subprocess.Popen([demo, "--boxes", "2", "update", "--all", "--json"], env=env, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, text=True)
    ignored = subprocess.Popen([demo, "--boxes", "1", "update", "--json"], env=env, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True,
                               preexec_fn=lambda: signal.signal(signal.SIGHUP, signal.SIG_IGN))
    time.sleep(8)
    twice.send_signal(signal.SIGTERM)
    ignored.send_signal(signal.SIGHUP)
    time.sleep(1)
    twice.send_signal(signal.SIGHUP)
    for name, process in (("twice", twice), ("ignored", ignored)):
        out, _ = process.communicate(timeout=120)
        result[name] = (process.returncode, [json.loads(line)["event"] for line in out.splitlines()])


def main():
    give_programs_default_stops()
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build/linux"))
    args = parser.parse_args()
    checks, texts = Checks(), messages()
    cli = os.path.join(args.build, "veltabox-cli")
    work = tempfile.mkdtemp(prefix="cli-e2e.")
    live, stopped = {"state": work}, {"state": work}
    demo = threading.Thread(target=live_demo, args=(args.build, live))
    demo.start()
    stopping = threading.Thread(target=stops, args=(args.build, stopped))
    stopping.start()
    emulator = Emulator(os.path.join(args.build, "tests/emulated_box/box_emulator"),
                        os.path.join(ROOT, "resources/firmware.bin"), work, native=True)
    try:
        env = dict(os.environ, LD_PRELOAD=PRELOAD, UMOCKDEV_DIR=emulator.testbed, XDG_STATE_HOME=work)
        # The query's two reports, the unlock, the erase, the address, then 300 blocks. After the
        # finish, "good" restarts into the image, "other" into a firmware that is not the image's,
        # "keeps" stays in its bootloader.
        emulator.ask("box good serial=GOOD restart", "box pulled serial=PULLED pull-after=%d" % (2 + 117 + 300),
                     "box app serial=APP mode=app pid=2", "box other serial=OTHER restart-version=0x00010900",
                     "box keeps serial=KEEPS", "other mouse vid=0x046d pid=0xc077")
        for name in ("mouse", "good", "pulled", "app", "other", "keeps"):
            emulator.ask("plug " + name)

        run = subprocess.run([cli, "list", "--json"], env=env, capture_output=True, text=True, timeout=60)
        found = [json.loads(line) for line in run.stdout.splitlines() if '"found"' in line]
        checks.equal("list: every box, in the order of its node, and not the mouse, each with its serial number",
                     [(e["model"], e["mode"], e.get("serial")) for e in found],
                     [("VELTABOX", "bootloader", "GOOD"), ("VELTABOX", "bootloader", "PULLED"),
                      ("VELTA-HUB", "application", "APP"), ("VELTABOX", "bootloader", "OTHER"),
                      ("VELTABOX", "bootloader", "KEEPS")])
        checks.check("list: each box by its USB port, exit 0", all(re.fullmatch(r"\d+-[\d.]+", e["box"]) for e in found)
                     and run.returncode == 0, (found, run.returncode))
        # An info answer cut short would read as zeros: application mode, or a firmware older than any.
        emulator.ask("box short serial=SHORT info-length=8", "plug short")
        run = subprocess.run([cli, "list", "--json"], env=env, capture_output=True, text=True, timeout=60)
        short = [json.loads(line) for line in run.stdout.splitlines() if '"SHORT"' in line]
        checks.equal("a box whose info answer comes short is a failed query, and list says so in its status",
                     ([e["event"] for e in short], run.returncode), (["found", "failed"], 1))
        emulator.ask("unplug short")
        run = subprocess.run([cli, "update", "--box", b"\xff\xfe", "--json"], env=env, capture_output=True, timeout=60)
        checks.check("a --box that is not UTF-8 still gives valid JSON, and no box",
                     run.returncode == 3 and all(json.loads(line.decode("utf-8")) for line in run.stdout.splitlines()),
                     (run.returncode, run.stdout[-200:]))
        checks.equal("an empty --box is a usage error", subprocess.run([cli, "update", "--box", ""], env=env,
                     capture_output=True, timeout=60).returncode, 2)
        run = subprocess.run([cli, "update", "--json"], env=env, capture_output=True, text=True, timeout=60)
        closing = [json.loads(line) for line in run.stdout.splitlines()][-1:]
        checks.equal("update with several boxes and neither --box nor --all is a usage error, told in the summary",
                     (run.returncode, [(e["event"], e["exit_code"]) for e in closing]), (2, [("summary", 2)]))

        records = os.path.join(work, "all.sqlite3")
        run = subprocess.run([cli, "update", "--all", "--json", "--confirm=4", "--history", records], env=env,
                             capture_output=True, text=True, timeout=120)
        checks.equal("update --all: exit status 1, a box failed", run.returncode, 1)
        events = [json.loads(line) for line in run.stdout.splitlines()]
        checks.equal("the first event names the schema", (events[0]["event"], events[0].get("schema")), ("start", 1))
        lacking = [(event, (EVENT_FIELDS.get(event["event"], set()) | {"time"}) - set(event)) for event in events]
        checks.equal("every event has its time and its fields", [entry for entry in lacking if entry[1]], [])
        by_box = {}
        for event in events:
            by_box.setdefault(event.get("box"), []).append(event)
        good, pulled, app, other, keeps = (by_box.get(e["box"], []) for e in found)
        checks.equal("the good box: found, started, each tenth, succeeded, then confirmed as it came back",
                     [e.get("percent", e["event"]) for e in good],
                     ["found", "started"] + list(range(10, 101, 10)) + ["succeeded", "confirmed"])
        checks.equal("its texts are the dialog's success text and the proof's", [e.get("text") for e in good[-2:]],
                     [texts[40032], texts[40053]])
        failure = pulled[-1] if pulled else {}
        checks.equal("the pulled box fails its block with ENODEV", (failure.get("event"), failure.get("text"), failure.get("code"),
                     failure.get("system_error")), ("failed", texts[40009], -2, 19))
        checks.equal("with the dialog's code line", failure.get("code_line"), "Das System meldet Fehlercode 0xfffffffe-0x00000013")
        checks.equal("the box in application mode is reported as such",
                     [(e["event"], e.get("text")) for e in app][-1:], [("failed", texts[40045])])
        checks.equal("a box back with another firmware failed; one that stayed in its bootloader is unconfirmed",
                     ([(e["event"], e.get("text")) for e in other][-1:], [e["event"] for e in keeps][-1:]),
                     ([("failed", texts[40052] + " (Firmware 1.9)")], ["unconfirmed"]))
        summary = events[-1]
        checks.equal("the summary counts", tuple(summary.get(k) for k in ("event", "updated", "failed", "confirmed", "unconfirmed",
                                                                          "exit_code")), ("summary", 2, 3, 1, 1, 1))
        checks.equal("the record: one per update begun, as it ended",
                     sorted((r["serial"], r["outcome"], r["firmware_before"], r["image"]) for r in history(cli, env, records)),
                     [("GOOD", "confirmed", "1.10", "1.11"), ("KEEPS", "unconfirmed", "1.10", "1.11"),
                      ("OTHER", "failed", "1.10", "1.11"), ("PULLED", "failed", "1.10", "1.11")])
        # Each 'list' asked each box once before, and the proof asked the box back in its firmware.
        checks.equal("the good box took the queries, one whole update, then its proof, nothing else", emulator.ask("commands good"),
                     WHOLE_UPDATE.replace("ok", "ok 08 0a 08 0a") + " 08")
        checks.equal("the box in application mode was only asked", emulator.ask("commands app"), "ok 08*3")
        watch(checks, cli, env, emulator)
        box = state(emulator, "good")
        checks.check("the good box holds the image and refused nothing (each report paced)",
                     (box["flash"], box["refused"]) == ("image", "0"), box)
        checks.check("the pulled box refused nothing", state(emulator, "pulled")["refused"] == "0")
        checks.equal("nothing but the query reached the box in application mode", state(emulator, "app")["flash"], "untouched")
        production_line(checks, cli, env, emulator, work)
    finally:
        emulator.stop()
        demo.join(timeout=120)
        stopping.join(timeout=120)
        shutil.rmtree(work, ignore_errors=True)

    checks.equal("SIGTERM, then SIGHUP mid-write: both boxes finished, exit 143",
                 (stopped.get("twice", (None, []))[0], stopped.get("twice", (None, []))[1].count("succeeded")), (143, 2))
    checks.equal("SIGHUP ignored at the start stays ignored: the box finished, exit 0",
                 (stopped.get("ignored", (None, []))[0], stopped.get("ignored", (None, []))[1].count("succeeded")), (0, 1))
    output = live.get("output", "")
    checks.equal("live demo: exit status 0", live.get("status"), 0)
    bars = re.findall(r"VELTA(?:BOX|-HUB) sim-\d \(SIM\d{4}\)  \[[#.]{20}\] +(\d+) %  noch \d+ s", output)
    checks.check("live demo: a bar per box, redrawn in place as it fills", len(set(bars)) > 20 and "\x1b[2A" in output,
                 "%d positions" % len(set(bars)))
    checks.check("live demo: ends with the summary", output.rstrip().endswith(
        texts[40048].replace("%u", "{}").format(2, 0, 0, 0, 0)), output[-300:])
    print("cli-e2e: %d passed, %d failed" % (checks.passed, checks.failed))
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main())
