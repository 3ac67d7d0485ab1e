#!/usr/bin/python3
"""The station service end to end, on the demo's simulated boxes (as root: private mount
namespaces):

- the unit as the package installs it: systemd-analyze verify, and security --offline=yes with
  its score printed;
- the notification protocol: --all --wait --confirm with NOTIFY_SOCKET and the watchdog's
  variables as systemd sets them, SIGTERM while boxes are written;
- the journal: the entries sd_journal_send sends, caught at the journal's socket in a private
  mount namespace;
- the metrics against Debian's prometheus-node-exporter and prometheus: two stations, one with a
  failing box, scraped, summed, and the alert rules of docs/prometheus/ evaluated.

    python3 tests/linux/station_e2e.py [--build DIR]

Each check prints "PASS name" or "FAIL name: why"; the last line is "N passed, M failed". Every
process started here is ended by its process id.
"""
import argparse
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
UNIT = "veltabox-station.service"
WATCHDOG_USEC = 4000000
# The unit's TimeoutStopSec=: the stop must come well before systemd would kill the program.
STOP_TIMEOUT_S = 90


class Checks:
    def __init__(self):
        self.passed = self.failed = 0
        self.lock = threading.Lock()  # the scenarios run at once

    def check(self, name, ok, why=""):
        with self.lock:
            self.passed += bool(ok)
            self.failed += not ok
            print(("PASS " + name) if ok else "FAIL %s: %s" % (name, why), flush=True)

    def equal(self, name, actual, expected):
        self.check(name, actual == expected, "got %r, expected %r" % (actual, expected))


class Datagrams:
    """A datagram socket bound at `path`, its messages collected with the time they came."""

    def __init__(self, path):
        self.socket = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.socket.bind(path)
        os.chmod(path, 0o666)
        self.socket.settimeout(0.2)
        self.messages, self.closed = [], False
        self.thread = threading.Thread(target=self.collect, daemon=True)
        self.thread.start()

    def collect(self):
        while not self.closed:
            try:
                self.messages.append((time.monotonic(), self.socket.recv(1 << 20)))
            except socket.timeout:
                continue
            except OSError:
                return

    def close(self):
        self.closed = True
        self.thread.join()
        self.socket.close()


def journal_fields(datagram):
    """The native journal protocol: NAME=value lines, or NAME, a 64-bit length and the value."""
    fields, rest = {}, datagram
    while rest:
        line, _, after = rest.partition(b"\n")
        if b"=" in line:
            name, _, value = line.partition(b"=")
            rest = after
        else:
            name, size = line, int.from_bytes(after[:8], "little")
            value, rest = after[8:8 + size], after[8 + size + 1:]
        fields[name.decode()] = value.decode("utf-8", "replace")
    return fields


def in_namespace(command, journal_dir):
    """`command` in a mount namespace of its own, where the journal's socket is the test's."""
    script = ('mount -t tmpfs tmpfs /run && mkdir -p /run/systemd/journal && mount --bind "$0" /run/systemd/journal && '
              'WATCHDOG_PID=$$ exec "$@"')
    return ["unshare", "-m", "sh", "-c", script, journal_dir] + command


def end(process):
    if process.poll() is None:
        os.kill(process.pid, signal.SIGKILL)
        process.wait()


def records(demo, path):
    run = subprocess.run([demo, "history", "--json", "--history", path], capture_output=True, text=True, timeout=60)
    return [json.loads(line) for line in run.stdout.splitlines()]


def unit(checks, build, work):
    """The unit where the package puts it, its program and manual page beside it (overlaid on
    /usr in a namespace of its own, so that the machine's own /usr stays as it is)."""
    stage = os.path.join(work, "stage")
    subprocess.run(["cmake", "--install", build, "--prefix", "/usr"], env=dict(os.environ, DESTDIR=stage), check=True,
                   stdout=subprocess.DEVNULL)
    path = os.path.join(stage, "usr/lib/systemd/system", UNIT)
    script = ('for d in bin share/man; do mount -t overlay overlay -o lowerdir="$0/usr/$d:/usr/$d" "/usr/$d" || exit 9; done; '
              'systemd-analyze verify "$1" 2>&1; echo "verify=$?"; '
              'systemd-analyze security --offline=yes --threshold=20 "$1" 2>&1; echo "security=$?"')
    out = subprocess.run(["unshare", "-m", "sh", "-c", script, stage, path], capture_output=True, text=True, timeout=120).stdout
    verify = out[:out.index("verify=")].strip() if "verify=" in out else out
    checks.check("systemd-analyze verify is clean", "verify=0" in out and verify == "", verify)
    score = re.search(r"Overall exposure level for %s: ([0-9.]+) (\S+)" % re.escape(UNIT), out)
    print("   systemd-analyze security --offline=yes: %s" % (" ".join(score.groups()) if score else "?"))
    checks.check("the unit is rated 2.0 or better", score is not None and float(score.group(1)) <= 2.0 and "security=0" in out,
                 out[-400:])
    text = open(path).read()
    for setting in ("Type=notify", "KillMode=mixed", "SendSIGHUP=no", "Restart=on-failure", "DevicePolicy=closed",
                    "IPAddressDeny=any", "SupplementaryGroups=plugdev", "TimeoutStopSec=%ds" % STOP_TIMEOUT_S):
        checks.check("the unit says " + setting, re.search(r"^%s$" % re.escape(setting), text, re.M) is not None)


def notify_and_stop(checks, demo, work):
    """The station's command on two boxes, told to stop while they are written."""
    notify = Datagrams(os.path.join(work, "notify"))
    journal_dir = os.path.join(work, "journal-quiet")
    os.mkdir(journal_dir)
    journal = Datagrams(os.path.join(journal_dir, "socket"))
    history = os.path.join(work, "notify.sqlite3")
    command = [demo, "--boxes", "2", "update", "--all", "--wait", "--confirm", "--history", history]
    env = dict(os.environ, NOTIFY_SOCKET=os.path.join(work, "notify"), WATCHDOG_USEC=str(WATCHDOG_USEC))
    process = subprocess.Popen(in_namespace(command, journal_dir), env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and not any(b"VELTABOX werden gerade aktualisiert" in m and b"2 VELTABOX" in m
                                                      for _, m in notify.messages):
            time.sleep(0.1)
        time.sleep(3)  # a few pings while the boxes are written
        stopped = time.monotonic()
        os.kill(process.pid, signal.SIGTERM)
        status = process.wait(timeout=STOP_TIMEOUT_S + 30)
        took = time.monotonic() - stopped
    finally:
        end(process)
        notify.close()
        journal.close()
    messages = [(t, m.decode()) for t, m in notify.messages]
    states = [line for _, m in messages for line in m.split("\n")]
    checks.check("READY=1 once the boxes were looked at", "READY=1" in states, states[:5])
    statuses = [s[len("STATUS="):] for s in states if s.startswith("STATUS=")]
    checks.check("STATUS= tells the boxes being written",
                 "2 VELTABOX werden gerade aktualisiert, 0 aktualisiert, 0 fehlgeschlagen." in statuses, statuses)
    checks.check("STOPPING=1 once, on the stop", states.count("STOPPING=1") == 1, states)
    checks.check("STATUS= tells the boxes updated before the end",
                 any(s.endswith("0 VELTABOX werden gerade aktualisiert, 2 aktualisiert, 0 fehlgeschlagen.") for s in statuses),
                 statuses[-3:])
    pings = [t for t, m in messages if m == "WATCHDOG=1"]
    gaps = [b - a for a, b in zip(pings, pings[1:])]
    print("   %d pings, gaps %.2f to %.2f s (interval %.1f s)" % (len(pings), min(gaps or [0]), max(gaps or [0]),
                                                                   WATCHDOG_USEC / 1e6))
    checks.check("WATCHDOG=1 about every half interval, none missed while boxes were written",
                 len(gaps) >= 3 and max(gaps) < WATCHDOG_USEC / 1e6 and min(gaps) > WATCHDOG_USEC / 4e6, gaps)
    print("   stopped %.1f s after SIGTERM (TimeoutStopSec=%d s)" % (took, STOP_TIMEOUT_S))
    checks.check("the stop ends before the unit's stop time-out", took < STOP_TIMEOUT_S, took)
    checks.equal("SIGTERM while writing: both boxes finished, exit status 0", status, 0)
    checks.equal("both boxes confirmed in the record", [r["outcome"] for r in records(demo, history)], ["confirmed"] * 2)
    checks.equal("nothing is sent to the journal when the output is not the journal", journal.messages, [])


def journal_entries(checks, demo, work):
    """Standard output is the journal's stream: each ended update and proof is also an entry."""
    journal_dir = os.path.join(work, "journal")
    os.mkdir(journal_dir)
    journal = Datagrams(os.path.join(journal_dir, "socket"))
    history = os.path.join(work, "journal.sqlite3")
    read, write = os.pipe()
    stream = os.fstat(write)
    env = dict(os.environ, JOURNAL_STREAM="%d:%d" % (stream.st_dev, stream.st_ino))
    command = [demo, "--boxes", "2", "--failing", "2", "update", "--all", "--confirm=5", "--history", history]
    process = subprocess.Popen(in_namespace(command, journal_dir), env=env, stdout=write, stderr=subprocess.DEVNULL)
    os.close(write)
    try:
        with os.fdopen(read, encoding="utf-8") as out:
            printed = out.read().splitlines()
        status = process.wait(timeout=120)
    finally:
        end(process)
        journal.close()
    entries = [journal_fields(m) for _, m in journal.messages]
    checks.equal("a failed box: exit status 1", status, 1)
    by = {(e.get("VELTABOX_SERIAL"), e.get("VELTABOX_OUTCOME")): e for e in entries}
    checks.equal("one entry per ended update and proof",
                 sorted(by), [("SIM0001", "confirmed"), ("SIM0001", "updated"), ("SIM0002", "failed")])
    ids = {r["serial"]: str(r["id"]) for r in records(demo, history)}
    for key, priority in ((("SIM0001", "updated"), "6"), (("SIM0001", "confirmed"), "6"), (("SIM0002", "failed"), "3")):
        entry = by.get(key, {})
        checks.equal("%s %s: PRIORITY" % key, entry.get("PRIORITY"), priority)
        checks.check("%s %s: MESSAGE as printed" % key, entry.get("MESSAGE") in printed, entry.get("MESSAGE"))
        checks.equal("%s %s: VELTABOX_HISTORY_ID is its record" % key, entry.get("VELTABOX_HISTORY_ID"), ids.get(key[0]))
        checks.check("%s %s: MESSAGE_ID is 128 bits" % key, re.fullmatch(r"[0-9a-f]{32}", entry.get("MESSAGE_ID", "")))
    checks.equal("each outcome has its own MESSAGE_ID", len({e.get("MESSAGE_ID") for e in entries}), 3)
    failed = by.get(("SIM0002", "failed"), {})
    checks.equal("the failure's fields", {k: failed.get(k) for k in ("VELTABOX_BOX", "VELTABOX_MODEL", "VELTABOX_FW_FROM",
                                                                      "VELTABOX_FW_TO", "VELTABOX_CODE", "VELTABOX_SYSTEM_ERROR")},
                 {"VELTABOX_BOX": "sim-2", "VELTABOX_MODEL": "VELTA-HUB", "VELTABOX_FW_FROM": "1.10", "VELTABOX_FW_TO": "1.11",
                  "VELTABOX_CODE": "-2", "VELTABOX_SYSTEM_ERROR": "31"})


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def get(url):
    return subprocess.run(["curl", "-sf", "--max-time", "10", url], capture_output=True, text=True).stdout


def wait_for(what, timeout=90):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        got = what()
        if got:
            return got
        time.sleep(0.5)
    return what()


def metrics(checks, demo, work):
    """Two stations, each with its node_exporter; one Prometheus scraping both."""
    processes, stations = [], []
    try:
        for name, boxes, failing in (("a", 3, ["--failing", "2"]), ("b", 2, [])):
            folder = os.path.join(work, "textfile-" + name)
            os.mkdir(folder)
            port = free_port()
            processes.append(subprocess.Popen(
                ["prometheus-node-exporter", "--web.listen-address=127.0.0.1:%d" % port, "--collector.disable-defaults",
                 "--collector.textfile", "--collector.textfile.directory=" + folder],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            stations.append({"name": name, "boxes": boxes, "failing": failing, "folder": folder, "port": port,
                             "history": os.path.join(work, "station-%s.sqlite3" % name), "exporter": processes[-1]})
        prometheus_port = free_port()
        config = os.path.join(work, "prometheus.yml")
        with open(config, "w") as f:
            f.write("global: {scrape_interval: 1s, evaluation_interval: 1s}\n"
                    "rule_files: [%s]\n"
                    "scrape_configs:\n  - job_name: veltabox-stations\n    static_configs:\n      - targets: [%s]\n" %
                    (json.dumps(os.path.join(ROOT, "docs/prometheus/veltabox-alerts.yml")),
                     ", ".join('"127.0.0.1:%d"' % s["port"] for s in stations)))
        processes.append(subprocess.Popen(
            ["prometheus", "--config.file=" + config, "--storage.tsdb.path=" + os.path.join(work, "tsdb"),
             "--web.listen-address=127.0.0.1:%d" % prometheus_port], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        api = "http://127.0.0.1:%d/api/v1/" % prometheus_port

        def query(expression):
            answer = get(api + "query?query=" + urllib.parse.quote(expression))
            result = json.loads(answer)["data"]["result"] if answer else []
            return result

        checks.check("Prometheus scrapes both stations",
                     wait_for(lambda: len([r for r in query("up == 1")]) == 2), query("up"))
        runs = [subprocess.Popen([demo, "--boxes", str(s["boxes"])] + s["failing"] +
                                 ["update", "--all", "--history", s["history"], "--metrics",
                                  os.path.join(s["folder"], "veltabox.prom")],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) for s in stations]
        processes += runs
        statuses = [run.wait(timeout=180) for run in runs]
        checks.equal("the stations' runs: one with a failed box, one all updated", statuses, [1, 0])
        expected_total = 0
        for s in stations:
            scraped = get("http://127.0.0.1:%d/metrics" % s["port"])
            counters = {m.group(1): int(float(m.group(2)))
                        for m in re.finditer(r'^veltabox_updates_total\{outcome="([a-z_]+)"\} (\S+)$', scraped, re.M)}
            recorded = {}
            for r in records(demo, s["history"]):
                recorded[r["outcome"]] = recorded.get(r["outcome"], 0) + 1
            checks.equal("station %s: node_exporter's counters match the record" % s["name"],
                         {k: v for k, v in counters.items() if v}, recorded)
            checks.equal("station %s: every outcome exported" % s["name"], sorted(counters),
                         sorted(["updated", "confirmed", "unconfirmed", "failed", "cut_off", "interrupted"]))
            checks.check("station %s: the textfile read without error" % s["name"],
                         re.search(r"^node_textfile_scrape_error 0$", scraped, re.M), scraped[-300:])
            count = re.search(r"^veltabox_update_duration_seconds_count (\d+)$", scraped, re.M)
            checks.equal("station %s: every update in the histogram" % s["name"], int(count.group(1)) if count else None,
                         s["boxes"])
            expected_total += sum(recorded.values())
        total = wait_for(lambda: [r for r in query("sum(veltabox_updates_total)") if float(r["value"][1]) == expected_total])
        checks.check("sum(veltabox_updates_total) through Prometheus is the updates of both stations (%d)" % expected_total,
                     total, query("sum(veltabox_updates_total)"))

        def alerts(name, states):
            answer = get(api + "alerts")
            found = json.loads(answer)["data"]["alerts"] if answer else []
            return [a for a in found if a["labels"].get("alertname") == name and a["state"] in states]

        failed = wait_for(lambda: alerts("VeltaboxUpdateFailed", ("firing",)))
        checks.equal("the failed update's alert fires for station a alone", [a["labels"]["instance"] for a in failed],
                     ["127.0.0.1:%d" % stations[0]["port"]])
        os.kill(stations[1]["exporter"].pid, signal.SIGTERM)
        stations[1]["exporter"].wait(timeout=30)
        silent = wait_for(lambda: alerts("VeltaboxStationDown", ("pending", "firing")))
        checks.equal("a station that does not answer raises its alert", [a["labels"]["instance"] for a in silent],
                     ["127.0.0.1:%d" % stations[1]["port"]])
    finally:
        for process in processes:
            if process.poll() is None:
                os.kill(process.pid, signal.SIGTERM)
                try:
                    process.wait(timeout=30)
                except subprocess.TimeoutExpired:
                    end(process)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build/linux"))
    args = parser.parse_args()
    if os.geteuid() != 0:
        print("station_e2e: needs root (private mount namespaces)", file=sys.stderr)
        return 1
    demo = os.path.join(args.build, "veltabox-cli-demo")
    checks = Checks()
    work = tempfile.mkdtemp(prefix="veltabox-station-")
    os.chmod(work, 0o755)
    try:
        unit(checks, args.build, work)
        # The three runs of simulated boxes at once: each takes an update's 31 s.
        results = {}

        def run(name, function, *arguments):
            try:
                function(*arguments)
            except Exception as error:  # noqa: BLE001 -- told as the scenario's failure
                results[name] = error

        threads = [threading.Thread(target=run, args=(name, function) + arguments) for name, function, arguments in (
            ("notify", notify_and_stop, (checks, demo, work)),
            ("journal", journal_entries, (checks, demo, work)),
            ("metrics", metrics, (checks, demo, work)))]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        for name, error in results.items():
            checks.check("the %s scenario ran to its end" % name, False, repr(error))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d passed, %d failed" % (checks.passed, checks.failed))
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main())
