#!/usr/bin/python3
"""The record of updates as the Windows programs keep it, under Wine: build/windows/history_probe.exe
(SQLite compiled in, the Win32 state backend) writes a file in one process and checks it from the
next, so that the record it left open reads as interrupted once its writer is gone.

    python3 scripts/history_wine.py [--windows-build DIR]

The last line is "history: N passed, M failed"; the exit status is 0 only when nothing failed.
"""
import argparse
import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_suite  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--windows-build", default=os.path.join(ROOT, "build", "windows"))
    probe = os.path.join(os.path.abspath(parser.parse_args().windows_build), "history_probe.exe")
    started = time.time()
    runs = wine_suite.Runs()
    with tempfile.TemporaryDirectory(prefix="veltabox-history-wine-") as work:
        screen = wine_suite.Xvfb(work)
        env = wine_suite.wine_env(work)
        try:
            wine_suite.make_prefix(env, work)
            # The folder is the probe's to make; the plain file is what a path may not lie under.
            record = os.path.join(work, "station", "history.sqlite3")
            os.makedirs(os.path.dirname(record))
            open(record + ".plain", "w").close()
            for mode in ("write", "check"):
                begun = time.time()
                result = wine_suite.wine(env, probe, mode, wine_suite.winpath(env, record), timeout=120)
                wine_suite.log(result.stdout.rstrip())
                failed = [line for line in result.stdout.splitlines() if line.startswith("FAIL")]
                runs.add("history_probe " + mode, result.returncode == 0 and not failed and "PASS" in result.stdout,
                         time.time() - begun, "; ".join(failed) or "exit status %d" % result.returncode)
        finally:
            wine_suite.stop_wine(env)
            screen.stop()
    return runs.finish(started, "history")


if __name__ == "__main__":
    sys.exit(main())
