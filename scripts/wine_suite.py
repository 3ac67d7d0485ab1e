"""What the end-to-end suites under Wine share: a screen and a prefix of their own, Wine's
programs run with a bound, and the tally of the runs that closes each suite."""
import os
import subprocess
import sys
import time

TESTS = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests")
if TESTS not in sys.path:
    sys.path.insert(0, TESTS)
import xvfb  # noqa: E402

# A bare Xvfb has no window manager, so Wine's X11 driver is told not to wait for one:
# Decorated=N: Wine draws the windows' frames and captions itself, as Windows does; the
#   screenshots then show the title bars.
# Managed=N: Wine does not hand top-level windows to a window manager. A managed window that is
#   hidden or destroyed first waits for the manager to confirm its state (winex11.drv,
#   wait_for_withdrawn_state), and without one every such wait runs into its 2 s time-out: the
#   progress window's end would add 2 s to every update measured, which no Windows has.
X11_DRIVER = "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n\"Decorated\"=\"N\"\n\"Managed\"=\"N\"\n"


def log(text=""):
    print(text, flush=True)


class Xvfb:
    """A screen of its own unless one is given; Wine's windows need one, nobody needs to see it."""

    def __init__(self, work):
        self.process = None
        if os.environ.get("DISPLAY"):
            return
        self.process, os.environ["DISPLAY"] = xvfb.start(work, "1280x1024x24")

    def stop(self):
        if self.process is not None:
            self.process.kill()
            self.process.wait()
            self.process = None


def wine_env(work, **more):
    """A prefix of its own each time, so that no state of an earlier run can make a test pass. No
    Mono and no Gecko: the programs need neither, and the prompt to install them would wait for a
    person."""
    return dict(os.environ, WINEPREFIX=os.path.join(work, "prefix"), WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
                **more)


def wine(env, *args, timeout=60):
    return subprocess.run(["wine", *args], env=env, timeout=timeout, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, errors="replace")


def winpath(env, path):
    return subprocess.run(["winepath", "-w", path], env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                          timeout=30).stdout.strip()


def stop_wine(env):
    """The prefix's server and every program still running in it."""
    for option in ("-k", "-w"):
        try:
            subprocess.run(["wineserver", option], env=env, timeout=30, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            pass


def make_prefix(env, work, registry=""):
    """Creates the prefix, with the X11 driver's settings and `registry` (more REGEDIT4 sections)."""
    log("== creating the Wine prefix")
    started = time.time()
    try:
        boot = subprocess.run(["wineboot", "-i"], env=env, timeout=300, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              text=True, errors="replace")
        failed, output = boot.returncode != 0, boot.stdout
    except subprocess.TimeoutExpired:
        failed, output = True, "wineboot did not end within 300 s\n"
    if failed:
        sys.exit("wineboot failed\n" + output)
    settings = os.path.join(work, "settings.reg")
    with open(settings, "w") as reg:
        reg.write("REGEDIT4\n\n" + registry + ("\n" if registry else "") + X11_DRIVER)
    result = wine(env, "regedit", settings)
    if result.returncode:
        sys.exit("the prefix's settings could not be written\n" + result.stdout)
    # What reads its settings only when it starts (winebus) starts afresh with the next program.
    stop_wine(env)
    log("   took %.0f s" % (time.time() - started))


class Runs:
    """Each scenario, probe and self-test is one run; the tally is the suite's closing line."""

    def __init__(self):
        self.lines = []
        self.failures = 0

    def add(self, label, ok, seconds, why=""):
        self.failures += 0 if ok else 1
        self.lines.append("%s %s (%.1f s)%s" % ("ok     " if ok else "FAILED ", label, seconds, "" if ok else ": " + why))

    def finish(self, started, name=""):
        """`name` goes before the tally: "name: N passed, M failed"."""
        log("== results")
        for line in self.lines:
            log("   " + line)
        log("   %.0f s in all" % (time.time() - started))
        log("%s%d passed, %d failed" % (name + ": " if name else "", len(self.lines) - self.failures, self.failures))
        return 0 if self.failures == 0 else 1
