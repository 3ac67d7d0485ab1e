#!/usr/bin/python3
"""A screen reader's reading of the dialog's hint box, every 50 ms, from a process of its own:

    python3 tests/linux/hint_reader.py PID NAME

Each read goes the way a reader finds the text: from the program's dialog down its tree to the
control with the hint box's id (its children, their ids), then the text; some fifty calls, each
asked once the previous one is answered. It reads until a line comes on standard input, then
prints one JSON line: each read's start and how long it waited for its text ([seconds since the
epoch, seconds]), and the reads that failed. Calls are given all the time they need, so that a
slow answer is measured as slow rather than counted as lost."""
import json
import select
import sys
import time

import pyatspi
from gi.repository import Atspi

HINT = "40004"
INTERVAL_S = 0.05


def dialog_of(pid, name):
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == name and app.get_process_id() == pid:
            for window in app:
                if window is not None and pyatspi.findDescendant(window, lambda node: node is not None and
                                                                 node.accessibleId == HINT):
                    return window
    return None


def read_hint(dialog):
    node = pyatspi.findDescendant(dialog, lambda node: node is not None and node.accessibleId == HINT)
    text = node.queryText()
    return text.getText(0, text.characterCount)


def main():
    pid, name = int(sys.argv[1]), sys.argv[2]
    Atspi.set_timeout(60000, 60000)
    dialog = None
    while dialog is None:
        try:
            dialog = dialog_of(pid, name)
        except Exception:  # the program is not on the bus yet
            pass
        if dialog is None:
            time.sleep(0.1)
    print(json.dumps({"ready": True}), flush=True)
    reads, failed = [], 0
    due = time.time()
    while not select.select([sys.stdin], [], [], max(0.0, due - time.time()))[0]:
        started = time.time()
        while True:
            try:
                read_hint(dialog)
                break
            except Exception:  # a node went away mid-walk: the reader asks again, and waits on
                failed += 1
                if time.time() - started > 30:
                    break
        reads.append([started, time.time() - started])
        due = max(due + INTERVAL_S, time.time())
    print(json.dumps({"reads": reads, "failed": failed}), flush=True)


if __name__ == "__main__":
    main()
