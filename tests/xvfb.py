"""A private X display for the end-to-end runs: Xvfb on the first free number from :97 on, so that
a run never draws on the user's screen or on another run's."""

import os
import subprocess
import time


def taken(number):
    """True when display `number` belongs to a running X server. A server that was killed (as the
    end-to-end run kills one on purpose) leaves its lock and its socket behind; they are cleared,
    or every such run would use up one number for good."""
    lock, socket = "/tmp/.X%d-lock" % number, "/tmp/.X11-unix/X%d" % number
    try:
        with open(lock) as held:
            os.kill(int(held.read().strip()), 0)
        return True
    except FileNotFoundError:
        return os.path.exists(socket)
    except (ProcessLookupError, ValueError):
        pass
    except PermissionError:  # alive, another user's
        return True
    for path in (lock, socket):
        try:
            os.remove(path)
        except FileNotFoundError:
            pass
        except PermissionError:  # another user's leftovers in the sticky /tmp: not ours to clear
            return True
    return False


def start(work, size):
    """Starts Xvfb with a screen of `size` ("1024x768x24"); returns the process and its display
    name. Exits the run when no display could be started."""
    for number in range(97, 141):
        if taken(number):
            continue
        with open(os.path.join(work, "xvfb.log"), "w") as log:
            process = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0", size, "-nolisten", "tcp"],
                                       stdout=subprocess.DEVNULL, stderr=log)
        for _ in range(100):
            if os.path.exists("/tmp/.X11-unix/X%d" % number):
                print("== Xvfb on :%d" % number, flush=True)
                return process, ":%d" % number
            if process.poll() is not None:
                break
            time.sleep(0.1)
        process.kill()
        process.wait()
    raise SystemExit("no Xvfb display could be started")
