#!/usr/bin/python3
"""The Linux programs end to end, as a person meets them: on a screen of their own (Xvfb), read
and pressed through their accessibility tree (AT-SPI, the way a screen reader sees them), with
their exit code checked at the end.

    python3 tests/linux/ui_e2e.py [--build DIR] [--scenario NAME ...] [--screenshot FILE]

Each check prints "PASS scenario/check" or "FAIL scenario/check: why"; a scenario whose program or
box cannot be had here prints "SKIP scenario: why". The last line is "N passed, M failed, K
skipped", and the exit code is 0 only when nothing failed.

The script starts what a desktop session would have: Xvfb, a window manager (Openbox: title
bars, close boxes, focus and stacking, as users have them), a session bus and the accessibility
bus (and for the demo's update on Wayland a compositor of its own, weston's headless backend), and a system bus of its own with a stand-in for systemd-logind (python-dbusmock's logind
template) and a stand-in session manager on the session bus, so that the locks the update takes
are seen, and the machine's are never touched.
A scenario is a function that takes a Run; the
demo's scenarios need only the demo, those of the real program need it and the box emulator
(tests/emulated_box/box_emulator), which serves emulated hidraw nodes through umockdev: the
program then runs under umockdev's preload and sees only the emulated boxes.
"""
import argparse
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

TESTS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [TESTS, os.path.join(TESTS, "emulated_box")]
import xvfb  # noqa: E402
from default_stops import give_programs_default_stops  # noqa: E402
from emulator_link import PRELOAD, Emulator  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TITLE = "SORVANTIK VELTABOX Firmware Updater 1.11"
# The whole update's floor: 115 erased pages at 40 ms, 3 steps and 1311 blocks at 20 ms.
FLOOR_S = 30.88

# What the write holds off through logind.
LOCKED = "sleep:shutdown:idle:handle-lid-switch"

# Template ids of the dialog's controls (resources/resource_ids.h), which the program gives its
# controls as accessible ids.
IDCANCEL, IDC_UPDATE, IDC_LABEL_FW2, IDC_INFO_TEXT = "2", "1002", "1005", "40004"
IDC_LABEL_FW1, IDC_LABEL_FW3, IDC_VALUE_FW1, IDC_VALUE_FW2, IDC_VALUE_FW3 = "40010", "40011", "40013", "40014", "40015"


def log(text=""):
    print(text, flush=True)


def catalogue():
    """The texts as the program carries them, from the one file they are made from."""
    texts = {}
    source = open(os.path.join(ROOT, "resources/messages.def"), encoding="utf-8").read()
    for number, text in re.findall(r'MESSAGE\((\d+),\s*"((?:[^"\\]|\\.)*)"\)', source):
        texts[int(number)] = text.replace("\\r", "\r").replace("\\n", "\n").replace('\\"', '"')
    return texts


MESSAGES = catalogue()


def hint_with_instructions(number):
    return MESSAGES[number] + "\r\n\r\n" + MESSAGES[40001]


class Desktop:
    """Xvfb, a session bus and the accessibility bus, for as long as the tests run."""

    def __init__(self, work):
        self.processes = []
        try:
            self._start(work)
        except BaseException:
            self.stop()
            raise

    def _start(self, work):
        screen, self.display = xvfb.start(work, "1024x768x24")
        self.processes.append(screen)
        os.environ["DISPLAY"] = self.display
        bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"], stdout=subprocess.PIPE,
                               stderr=open(os.path.join(work, "dbus.log"), "w"),
                               text=True)
        self.processes.append(bus)
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()
        self.processes.append(subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        system_bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                                      stdout=subprocess.PIPE, stderr=open(os.path.join(work, "dbus-system.log"), "w"),
                                      text=True)
        self.processes.append(system_bus)
        os.environ["DBUS_SYSTEM_BUS_ADDRESS"] = system_bus.stdout.readline().strip()
        self.processes.append(subprocess.Popen([sys.executable, "-m", "dbusmock", "--system", "--template", "logind"],
                                               stdout=subprocess.DEVNULL,
                                               stderr=open(os.path.join(work, "logind.log"), "w")))
        self.processes.append(subprocess.Popen([sys.executable, "-m", "dbusmock", SESSION_MANAGER, SESSION_MANAGER_PATH,
                                                SESSION_MANAGER], stdout=subprocess.DEVNULL,
                                               stderr=open(os.path.join(work, "session-manager.log"), "w")))
        # GSettings in memory: no dconf to start, nothing written to the user's settings; the
        # window manager's files in the work directory.
        os.environ.update(GSETTINGS_BACKEND="memory", LANG="C.UTF-8", XDG_CONFIG_HOME=os.path.join(work, "config"),
                          XDG_CACHE_HOME=os.path.join(work, "cache"))
        for name in ("WAYLAND_DISPLAY", "NO_AT_BRIDGE", "GTK_CSD"):
            os.environ.pop(name, None)
        self.processes.append(subprocess.Popen(["openbox", "--sm-disable"], stdout=subprocess.DEVNULL,
                                               stderr=open(os.path.join(work, "openbox.log"), "w")))
        for _ in range(200):
            if logind_ready() and session_manager_ready() and subprocess.run(["wmctrl", "-m"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0:
                break
            time.sleep(0.1)
        else:
            sys.exit("the window manager or logind's stand-in did not start: " +
                     open(os.path.join(work, "openbox.log")).read() + open(os.path.join(work, "logind.log")).read())

    def stop(self):
        for process in reversed(self.processes):
            process.terminate()
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


def inhibitors():
    """What the stand-in logind holds: (what, who, why, mode) for each open inhibitor."""
    import dbus
    bus = dbus.bus.BusConnection(os.environ["DBUS_SYSTEM_BUS_ADDRESS"])
    try:
        manager = bus.get_object("org.freedesktop.login1", "/org/freedesktop/login1")
        listed = manager.ListInhibitors(dbus_interface="org.freedesktop.login1.Manager")
        return [tuple(str(field) for field in entry[:4]) for entry in listed]
    finally:
        bus.close()


SESSION_MANAGER, SESSION_MANAGER_PATH = "org.gnome.SessionManager", "/org/gnome/SessionManager"


def session_manager_ready():
    """The stand-in answers Inhibit with a cookie (the call's place in its log), Uninhibit with nothing."""
    import dbus
    try:
        mock = dbus.Interface(dbus.SessionBus().get_object(SESSION_MANAGER, SESSION_MANAGER_PATH), "org.freedesktop.DBus.Mock")
        mock.AddMethod(SESSION_MANAGER, "Inhibit", "susu", "u", "ret = dbus.UInt32(len(self.call_log))")
        mock.AddMethod(SESSION_MANAGER, "Uninhibit", "u", "", "")
        return True
    except Exception:  # not on the bus yet
        return False


def session_inhibitors():
    """What the stand-in session manager holds: {cookie: (app_id, toplevel_xid, reason, flags)}."""
    import dbus
    held = {}
    calls = dbus.SessionBus().get_object(SESSION_MANAGER, SESSION_MANAGER_PATH).GetCalls(dbus_interface="org.freedesktop.DBus.Mock")
    for cookie, (_, method, args) in enumerate(calls, 1):
        if method == "Inhibit":
            held[cookie] = (str(args[0]), int(args[1]), str(args[2]), int(args[3]))
        elif method == "Uninhibit":
            held.pop(int(args[0]), None)
    return held


def logind_ready():
    try:
        inhibitors()
        return True
    except Exception:  # not on the bus yet
        return False


class Failed(Exception):
    pass


class Run:
    """One program run: starts it, finds its dialog in the accessibility tree, reads and presses
    its controls, and records every check."""

    def __init__(self, suite, scenario, program, env=None, wrapper=()):
        import pyatspi
        self.pyatspi = pyatspi
        self.suite, self.scenario, self.name = suite, scenario, os.path.basename(program)
        self.output = open(os.path.join(suite.work, scenario + ".log"), "w")
        # A wrapper (setpriv) execs the program in the same process, so the pid stays its own.
        self.process = subprocess.Popen(list(wrapper) + [program], env=env or dict(os.environ), stdout=self.output,
                                        stderr=subprocess.STDOUT)
        try:
            self.dialog = self.wait_for(lambda: self._window(TITLE), 20, "the dialog appears")
        except BaseException:
            # Not yet among the suite's runs, so nothing else would end it.
            self.stop()
            raise

    # -- the accessibility tree. A busy program (the update takes no events for up to 5 s while
    # it erases) does not answer, so every read is retried until its deadline.
    def _app(self):
        desktop = self.pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.name == self.name and app.get_process_id() == self.process.pid:
                return app
        return None

    def _window(self, title):
        app = self._app()
        if app is None:
            return None
        for window in app:
            if window is not None and window.name == title and window.getState().contains(self.pyatspi.STATE_SHOWING):
                return window
        return None

    def wait_for(self, probe, seconds, what):
        deadline = time.time() + seconds
        last = None
        while time.time() < deadline:
            try:
                value = probe()
                if value:
                    return value
            except Exception as error:  # the program is busy or a node went away: ask again
                last = error
            if self.process.poll() is not None:
                raise Failed("%s: the program ended with exit code %s" % (what, self.process.returncode))
            time.sleep(0.1)
        raise Failed("%s: not within %d s%s" % (what, seconds, " (%s)" % last if last else ""))

    def control(self, control_id):
        found = self.pyatspi.findDescendant(self.dialog, lambda node: node is not None and node.accessibleId == control_id)
        if found is None:
            raise Failed("no control with id %s" % control_id)
        return found

    def text(self, control_id):
        node = self.control(control_id)
        if control_id == IDC_INFO_TEXT:
            text = node.queryText()
            return text.getText(0, text.characterCount)
        return node.name

    def enabled(self, control_id):
        return self.control(control_id).getState().contains(self.pyatspi.STATE_SENSITIVE)

    def showing(self, control_id):
        return self.control(control_id).getState().contains(self.pyatspi.STATE_SHOWING)

    def press(self, control_id):
        self.control(control_id).queryAction().doAction(0)

    def key(self, keysym):
        self.pyatspi.Registry.generateKeyboardEvent(keysym, None, self.pyatspi.KEY_SYM)

    # -- checks
    def check(self, name, condition, why=""):
        self.suite.record(self.scenario + "/" + name, bool(condition), why)

    def check_equal(self, name, actual, expected):
        self.check(name, actual == expected, "got %r, expected %r" % (actual, expected))

    def check_within(self, name, seconds, probe):
        try:
            self.wait_for(probe, seconds, name)
            self.check(name, True)
        except Failed as error:
            self.check(name, False, str(error))

    def exit_code(self, seconds=10):
        try:
            return self.process.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            return None

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
            self.suite.info("%s was still running and has been ended" % self.name)
        self.output.close()


# -- scenarios ----------------------------------------------------------------------------------

def check_ready(run, firmware):
    run.check_within("hint is the ready text 40000", 5, lambda: run.text(IDC_INFO_TEXT) == MESSAGES[40000])
    run.check("'Update' is enabled", run.enabled(IDC_UPDATE))
    run.check("'Beenden' is enabled", run.enabled(IDCANCEL))
    run.check_equal("first label reads \"Bootloader\"", run.text(IDC_LABEL_FW1), "Bootloader")
    run.check_equal("model label reads \"VELTABOX\"", run.text(IDC_LABEL_FW2), "VELTABOX")
    run.check_equal("bootloader version", run.text(IDC_VALUE_FW1), "1.2")
    run.check_equal("firmware version", run.text(IDC_VALUE_FW2), firmware)
    run.check("third version line is hidden", not run.showing(IDC_LABEL_FW3) and not run.showing(IDC_VALUE_FW3))
    run.check_equal("group is titled", run.control("40007").name, "Installierte Firmware Versionen")


def press_cancel_and_expect_exit(run, how, action):
    action()
    code = run.exit_code()
    run.check("%s ends the program with exit code 0" % how, code == 0,
              "still running" if code is None else "exit code %s" % code)


def demo_ready(suite, programs):
    run = suite.start("demo-ready", programs["demo"])
    check_ready(run, "1.10")
    press_cancel_and_expect_exit(run, "'Beenden'", lambda: run.press(IDCANCEL))


class HintReader:
    """A screen reader reading the hint box every 50 ms while the update runs (hint_reader.py, a
    process of its own), and how long its reads waited."""

    def __init__(self, run):
        self.process = subprocess.Popen([sys.executable, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                                      "hint_reader.py"), str(run.process.pid), run.name],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        run.suite.extra.append(self.process)
        if not select.select([self.process.stdout], [], [], 20)[0] or not self.process.stdout.readline():
            raise Failed("the screen reader found no hint box within 20 s")

    def stop(self):
        """The reads' (start, wait) pairs and the number of failed ones."""
        self.process.stdin.write("stop\n")
        self.process.stdin.close()
        result = json.loads(self.process.stdout.readline() or '{"reads": [], "failed": 0}')
        return result["reads"], result["failed"]


def demo_update(suite, programs, scenario="demo-update", desktop="X11", env=None):
    run = suite.start(scenario, programs["demo"], env)
    check_ready(run, "1.10")
    reader = HintReader(run)
    run.press(IDC_UPDATE)
    clicked = time.time()
    title = MESSAGES[40029]
    progress = None
    try:
        progress = run.wait_for(lambda: run._window(title), 10, "the progress window appears")
        run.check("progress window appears, titled %r" % title, True)
    except Failed as error:
        run.check("progress window appears, titled %r" % title, False, str(error))
    if progress is not None:
        bar = run.pyatspi.findDescendant(progress, lambda node: node is not None and
                                         node.getRole() == run.pyatspi.ROLE_PROGRESS_BAR)
        run.check("progress window holds a progress bar", bar is not None)
        if bar is not None:
            # The bar moves while the update takes no events: each position is shown at once.
            first = run.wait_for(lambda: bar.queryValue().currentValue > 0.05 and bar.queryValue().currentValue, 15,
                                 "the bar moves")
            later = run.wait_for(lambda: bar.queryValue().currentValue > first + 0.1 and bar.queryValue().currentValue,
                                 15, "the bar moves on")
            run.check("the bar advances during the transfer", later > first, "%s then %s" % (first, later))
            run.check_equal("sleep, shutdown, idling and the lid are held off while the firmware is written", inhibitors(),
                            [(LOCKED, "VELTABOX Firmware Updater", title, "block")])
            if suite.screenshot and desktop == "X11":
                run.wait_for(lambda: bar.queryValue().currentValue >= 0.4, 15, "the bar reaches 40 %")
                suite.take_screenshot(run)
    run.check_within("hint is the success text 40032", 60, lambda: run.text(IDC_INFO_TEXT) == MESSAGES[40032])
    succeeded = time.time()
    took = succeeded - clicked
    reads, failed = reader.stop()
    # Figures, as in the benchmarks, not checks: on a loaded machine the wall clock says little
    # of the program, and a run on a slow one is no fault.
    suite.info("%s: update from the click to the success text: %.2f s, %.3f of the %.2f s floor" %
               (desktop, took, took / FLOOR_S, FLOOR_S))
    suite.ratios[desktop] = took / FLOOR_S
    during = [(start - clicked, wait) for start, wait in reads if start + wait > clicked and start < succeeded]
    run.check("a screen reader reads the hint box while the firmware is written", during and not failed,
              "%d reads during the update, %d failed" % (len(during), failed))
    if during:
        at, longest = max(during, key=lambda read: read[1])
        waits = sorted(wait for _, wait in during)
        suite.info("%s: a screen reader's read of the hint box (its text through the tree, every 50 ms) waited at "
                   "most %.0f ms during the update (%.1f s after the click; median %.0f ms, %d reads)" %
                   (desktop, longest * 1000, at, waits[len(waits) // 2] * 1000, len(waits)))
    run.check_within("progress window is gone", 5, lambda: run._window(title) is None)
    run.check_within("the inhibitor is released after the update", 5, lambda: inhibitors() == [])
    run.check("'Update' is disabled after success", not run.enabled(IDC_UPDATE))
    run.check_equal("firmware version is the image's", run.text(IDC_VALUE_FW2), "1.11")
    press_cancel_and_expect_exit(run, "'Beenden'", lambda: run.press(IDCANCEL))


WAYLAND_SOCKET = "veltabox-e2e"


def demo_update_wayland(suite, programs):
    """The same update on a Wayland compositor with no X: weston's headless backend on a socket
    of its own, and GTK's Wayland backend. The buses and the accessibility tree are the same."""
    runtime = os.path.join(suite.work, "wayland")
    os.makedirs(runtime, mode=0o700)
    weston = subprocess.Popen([programs["weston"], "--backend=headless-backend.so", "--socket=" + WAYLAND_SOCKET,
                               "--idle-time=0"], env=dict(os.environ, XDG_RUNTIME_DIR=runtime),
                              stdout=subprocess.DEVNULL, stderr=open(os.path.join(suite.work, "weston.log"), "w"))
    suite.extra.append(weston)
    for _ in range(100):
        if os.path.exists(os.path.join(runtime, WAYLAND_SOCKET)) or weston.poll() is not None:
            break
        time.sleep(0.1)
    if not os.path.exists(os.path.join(runtime, WAYLAND_SOCKET)):
        raise Failed("weston did not start: " + open(os.path.join(suite.work, "weston.log")).read()[-2000:])
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime, WAYLAND_DISPLAY=WAYLAND_SOCKET, GDK_BACKEND="wayland")
    env.pop("DISPLAY", None)
    demo_update(suite, programs, "demo-update-wayland", "Wayland", env)


def demo_escape(suite, programs):
    run = suite.start("demo-escape", programs["demo"])
    run.check_within("dialog is ready", 5, lambda: run.enabled(IDC_UPDATE))
    run.check_within("dialog has the keyboard focus", 5,
                     lambda: run.dialog.getState().contains(run.pyatspi.STATE_ACTIVE))
    press_cancel_and_expect_exit(run, "Escape", lambda: run.key(0xFF1B))


def demo_close_box(suite, programs):
    run = suite.start("demo-close-box", programs["demo"])
    run.check_within("dialog is ready", 5, lambda: run.enabled(IDC_UPDATE))
    # The window manager's close request (WM_DELETE_WINDOW), which is what its close box sends.
    press_cancel_and_expect_exit(run, "the close box", lambda: subprocess.run(["wmctrl", "-F", "-c", TITLE], check=True))


# The real program against emulated boxes. Each one needs the program (built once the hidraw
# half is in the tree) and the box emulator.

def program_no_box(suite, programs):
    run = suite.start("program-no-box", programs["program"], suite.emulated_env())
    run.check_within("hint is the no-box text", 10, lambda: run.text(IDC_INFO_TEXT) == hint_with_instructions(40017))
    run.check("'Update' is disabled", not run.enabled(IDC_UPDATE))
    run.check_equal("versions read 0.0.0", run.text(IDC_VALUE_FW1), "0.0.0")
    press_cancel_and_expect_exit(run, "Escape", lambda: run.key(0xFF1B))


def program_removal(suite, programs):
    suite.emulator.ask("box removal")
    suite.emulator.ask("plug removal")
    run = suite.start("program-removal", programs["program"], suite.emulated_env())
    check_ready(run, "1.10")
    suite.emulator.ask("unplug removal")
    run.check_within("hint is the removal text 40020", 10, lambda: run.text(IDC_INFO_TEXT) == hint_with_instructions(40020))
    run.check("'Update' is disabled", not run.enabled(IDC_UPDATE))
    run.check_equal("firmware version reads 0.0.0", run.text(IDC_VALUE_FW2), "0.0.0")
    press_cancel_and_expect_exit(run, "'Beenden'", lambda: run.press(IDCANCEL))


def program_wrong_mode(suite, programs):
    run = suite.start("program-wrong-mode", programs["program"], suite.emulated_env())
    run.check_within("hint is the no-box text", 10, lambda: run.text(IDC_INFO_TEXT) == hint_with_instructions(40017))
    suite.emulator.ask("box wrong mode=app")
    suite.emulator.ask("plug wrong")
    run.check_within("hint is the wrong-mode text 40015", 10,
                     lambda: run.text(IDC_INFO_TEXT) == hint_with_instructions(40015))
    run.check("'Update' is disabled", not run.enabled(IDC_UPDATE))
    press_cancel_and_expect_exit(run, "'Beenden'", lambda: run.press(IDCANCEL))


def program_failure_box(suite, programs):
    # The 200th report fails: the unlock, 115 erases and the address went through, and so did
    # 82 blocks.
    suite.emulator.ask("box failing fail-write=200")
    suite.emulator.ask("plug failing")
    run = suite.start("program-failure-box", programs["program"], suite.emulated_env())
    check_ready(run, "1.10")
    run.press(IDC_UPDATE)
    box = run.wait_for(lambda: run._window(MESSAGES[40002]), 30, "the failure box appears")
    text = " ".join(node.name for node in run.pyatspi.findAllDescendants(box, lambda node: node is not None and
                                                                          node.getRole() == run.pyatspi.ROLE_LABEL))
    run.check("failure box names the failed block", MESSAGES[40009] in text, text)
    run.check("failure box carries the code line", re.search(r"Fehlercode 0xfffffffe-0x[0-9a-f]{8}", text), text)
    ok = run.pyatspi.findDescendant(box, lambda node: node is not None and node.getRole() == run.pyatspi.ROLE_PUSH_BUTTON)
    ok.queryAction().doAction(0)
    run.check_within("hint asks to try again (40030)", 10, lambda: run.text(IDC_INFO_TEXT) == MESSAGES[40030])
    run.check("'Update' is disabled", not run.enabled(IDC_UPDATE))
    press_cancel_and_expect_exit(run, "'Beenden'", lambda: run.press(IDCANCEL))


# Boxes the program cannot use, or only after a moment, and boxes other programs hold.

def as_user():
    """Root opens any node whatever its mode; a user without the box's udev rule cannot. The
    program then runs without the two capabilities that override file permissions."""
    if os.geteuid() != 0:
        return ()
    drop = "-dac_override,-dac_read_search"
    return ("setpriv", "--inh-caps=" + drop, "--bounding-set=" + drop, "--")


def expect_hint(run, name, text):
    run.check_within(name, 10, lambda: run.text(IDC_INFO_TEXT) == text)
    run.check(name + ": 'Update' is disabled", not run.enabled(IDC_UPDATE))
    run.check_equal(name + ": versions read 0.0.0", run.text(IDC_VALUE_FW1), "0.0.0")


def program_reasons(suite, programs):
    """A forbidden box, one a kernel too old cannot ask for its versions, and one that refuses its
    first queries just after it enumerated: each said in the window, at start and on arrival."""
    emulator, program, env = suite.emulator, programs["program"], suite.emulated_env()
    emulator.ask("box forbidden denied", "box old old-kernel", "box slow fail-first=2", "box slow2 fail-first=2")
    for first, then in (("forbidden", "old"), ("old", "forbidden")):
        emulator.ask("plug " + first)
        run = suite.start("program-reasons-" + first, program, env, as_user())
        reasons = {"forbidden": (40041, "the box may not be opened"), "old": (40042, "the kernel is too old")}
        expect_hint(run, "at start: " + reasons[first][1], MESSAGES[reasons[first][0]])
        emulator.ask("unplug " + first, "plug " + then)
        expect_hint(run, "on arrival: " + reasons[then][1], MESSAGES[reasons[then][0]])
        emulator.ask("unplug " + then)
        run.check_within("the box's removal is told", 10, lambda: run.text(IDC_INFO_TEXT) == hint_with_instructions(40020))
        slow = "slow" if first == "forbidden" else "slow2"
        emulator.ask("plug " + slow)
        run.check_within("on arrival: a box refusing its first queries is asked again and ready", 10,
                         lambda: run.text(IDC_INFO_TEXT) == MESSAGES[40000])
        press_cancel_and_expect_exit(run, "'Beenden'", lambda: run.press(IDCANCEL))
        emulator.ask("unplug " + slow)
    emulator.ask("box slow3 fail-first=2", "plug slow3")
    run = suite.start("program-reasons-slow", program, env)
    check_ready(run, "1.10")
    press_cancel_and_expect_exit(run, "'Beenden'", lambda: run.press(IDCANCEL))


def box_state(emulator, name):
    return dict(field.split("=", 1) for field in emulator.ask("state " + name).split()[1:])


def program_shared_box(suite, programs):
    """One box, three programs. The first holds and updates it; a second started while the first
    is idle and a third started mid-write show it in use and send it nothing; a second box is
    taken by one of them alone; once the first ends, the one still waiting takes the box."""
    emulator, program, env = suite.emulator, programs["program"], suite.emulated_env()
    emulator.ask("box shared serial=SHARED", "plug shared", "box spare serial=SPARE")
    first = suite.start("program-shared-box", program, env)
    check_ready(first, "1.10")
    waiting = [suite.start("program-shared-box.idle", program, env)]
    expect_hint(waiting[0], "started while the first is idle: the box is in use (40040)", MESSAGES[40040])
    first.press(IDC_UPDATE)
    first.wait_for(lambda: int(box_state(emulator, "shared")["reports"]) >= 2 + 117 + 300, 30, "300 data blocks are written")
    waiting.append(suite.start("program-shared-box.mid-write", program, env))
    expect_hint(waiting[1], "started mid-write: the box is in use (40040)", MESSAGES[40040])
    emulator.ask("plug spare")
    first.wait_for(lambda: box_state(emulator, "spare")["reports"] == "2", 10, "the spare box is queried")
    time.sleep(1.5)  # a second program that wrongly queried it too would have done so by now
    ready = [run for run in waiting if run.text(IDC_INFO_TEXT) == MESSAGES[40000]]
    first.check_equal("exactly one waiting program takes the spare box", len(ready), 1)
    first.check_equal("the spare box was queried once, by that program alone", emulator.ask("commands spare"), "ok 08 0a")
    first.check_within("the first program's update succeeds (40032)", 60, lambda: first.text(IDC_INFO_TEXT) == MESSAGES[40032])
    still = [run for run in waiting if run not in ready]
    if ready:
        press_cancel_and_expect_exit(ready[0], "'Beenden'", lambda: ready[0].press(IDCANCEL))
    state = box_state(emulator, "shared")
    first.check("the box holds the image and refused nothing", state["flash"] == "image" and state["refused"] == "0"
                and state["finished"] == "1", str(state))
    first.check_equal("the box got the first program's reports and nothing else", emulator.ask("commands shared"),
                      "ok 08 0a 05 03*115 02 01*1311 04 07")
    for run in still:
        run.check("still waiting after the first's success: it holds the box until it ends",
                  run.text(IDC_INFO_TEXT) == MESSAGES[40040])
    press_cancel_and_expect_exit(first, "'Beenden'", lambda: first.press(IDCANCEL))
    ended = time.time()
    for run in still:
        run.check_within("takes the box once the first has let go", 10, lambda: run.text(IDC_INFO_TEXT) == MESSAGES[40000])
        suite.info("the waiting program showed the box ready %.2f s after the first ended" % (time.time() - ended))
        press_cancel_and_expect_exit(run, "'Beenden'", lambda: run.press(IDCANCEL))


def destroy_window(pid):
    """XDestroyWindow on the program's window, as another X client may do it."""
    import ctypes
    listed = subprocess.run(["wmctrl", "-l", "-p"], capture_output=True, text=True, check=True).stdout.splitlines()
    window = next(int(line.split()[0], 16) for line in listed if line.split()[2] == str(pid))
    xlib = ctypes.CDLL("libX11.so.6")
    xlib.XOpenDisplay.restype = ctypes.c_void_p
    connection = ctypes.c_void_p(xlib.XOpenDisplay(None))
    xlib.XDestroyWindow(connection, ctypes.c_ulong(window))
    xlib.XCloseDisplay(connection)


def program_write_to_the_end(suite, programs):
    """Five programs, each updating a box of its own, cut off when the box has taken its 500th
    report (of 1432): by SIGTERM, SIGHUP, SIGINT, its window destroyed from outside, its display
    gone. Each box is finished all the same; then each program ends by its signal, as "Beenden"
    ends it, or with GDK's exit code for a lost display. Meanwhile logind and the session manager
    hold off sleep and logging out, and the desktop is answered at least every second. A sixth,
    idle program ends as "Beenden" ends it when its window is destroyed."""
    emulator = suite.emulator
    os.makedirs(os.path.join(suite.work, "lost"))
    lost_screen, lost_display = xvfb.start(os.path.join(suite.work, "lost"), "640x480x24")
    suite.extra.append(lost_screen)
    cuts = {"SIGTERM": -signal.SIGTERM, "SIGHUP": -signal.SIGHUP, "SIGINT": -signal.SIGINT, "window-destroyed": 0,
            "display-lost": 1}
    runs = {}
    for name in cuts:
        env = dict(suite.emulated_env(), VELTABOX_REPORT_PASS_GAP="1")
        if name == "display-lost":
            env["DISPLAY"] = lost_display
        emulator.ask("box " + name, "plug " + name)
        runs[name] = run = suite.start("program-write-to-the-end." + name, programs["program"], env)
        run.check_within("takes its own box", 10, lambda: run.text(IDC_INFO_TEXT) == MESSAGES[40000])
    for run in runs.values():
        run.press(IDC_UPDATE)
    idle = suite.start("program-write-to-the-end.idle", programs["program"], suite.emulated_env())
    expect_hint(idle, "an idle program finds every box in use", MESSAGES[40040])
    pending = list(cuts)
    while pending:
        reached = idle.wait_for(lambda: [name for name in pending if int(box_state(emulator, name)["reports"]) >= 500],
                                60, "a box takes its 500th report")
        if len(pending) == len(cuts):
            idle.check_equal("logind holds off sleep, shutdown, idling and the lid for each write",
                             [entry[0] for entry in inhibitors() if entry[3] == "block"], [LOCKED] * 5)
            held = session_inhibitors().values()
            idle.check("the session manager holds off logging out for each write, naming its window",
                       len(held) == 5 and all(lock[0] == "veltabox-updater" and lock[1] and lock[3] & 1 for lock in held),
                       str(held))
        for name in reached:
            if name.startswith("SIG"):
                runs[name].process.send_signal(getattr(signal, name))
            elif name == "window-destroyed":
                destroy_window(runs[name].process.pid)
            else:
                lost_screen.kill()
            pending.remove(name)
    destroy_window(idle.process.pid)
    idle.check_equal("ends with exit code 0 when its window is destroyed", idle.exit_code(), 0)
    for name, expected in cuts.items():
        run = runs[name]
        run.check_equal("ends only after the write, by its cut", run.exit_code(60), expected)
        state = box_state(emulator, name)
        run.check("the box got every report and holds the image", emulator.ask("commands " + name) ==
                  "ok 08 0a 05 03*115 02 01*1311 04 07" and state["flash"] == "image" and state["refused"] == "0"
                  and state["finished"] == "1", str(state))
        said = open(run.output.name).read()
        gap = re.search(r"largest gap between main-loop passes during the update: ([\d.]+) ms", said)
        if name == "display-lost":
            run.check("the lost display is told on standard error", "lost the connection to the display" in said, said)
        else:
            suite.info("%s: largest gap between main-loop passes: %s ms" % (name, gap.group(1) if gap else "?"))
            # Far below a desktop's 5 s "not responding" check and far above a loaded machine's
            # noise: what it catches is a pause, an erase or a lock call held on the main loop.
            run.check("the desktop is answered at least every second", gap and float(gap.group(1)) < 1000, said)
    idle.check_within("logind's locks are given back", 5, lambda: inhibitors() == [])
    # The stand-in does not drop the locks of a program that has gone: each gave its own back.
    idle.check_within("the session manager's locks are given back", 5, lambda: session_inhibitors() == {})


SCENARIOS = [
    ("demo-ready", ("demo",), demo_ready),
    ("demo-update", ("demo",), demo_update),
    ("demo-update-wayland", ("demo", "weston"), demo_update_wayland),
    ("demo-escape", ("demo",), demo_escape),
    ("demo-close-box", ("demo",), demo_close_box),
    ("program-no-box", ("program", "emulator"), program_no_box),
    ("program-removal", ("program", "emulator"), program_removal),
    ("program-wrong-mode", ("program", "emulator"), program_wrong_mode),
    ("program-failure-box", ("program", "emulator"), program_failure_box),
    ("program-reasons", ("program", "emulator"), program_reasons),
    ("program-shared-box", ("program", "emulator"), program_shared_box),
    ("program-write-to-the-end", ("program", "emulator"), program_write_to_the_end),
]


class Suite:
    def __init__(self, work, build, screenshot):
        self.work, self.build, self.screenshot = work, build, screenshot
        self.passed = self.failed = self.skipped = 0
        self.runs = []
        self.extra = []  # processes a scenario started besides its runs
        self.ratios = {}  # the demo's update over the floor, by desktop
        self.emulator = None

    def record(self, name, ok, why):
        if ok:
            self.passed += 1
            log("PASS " + name)
        else:
            self.failed += 1
            log("FAIL %s: %s" % (name, why))

    def info(self, text):
        log("INFO " + text)

    def start(self, scenario, program, env=None, wrapper=()):
        run = Run(self, scenario, program, env, wrapper)
        self.runs.append(run)
        return run

    def emulated_env(self):
        """The program sees the emulator's hidraw nodes and uevents, and nothing of the machine's."""
        return dict(os.environ, LD_PRELOAD=PRELOAD, UMOCKDEV_DIR=self.emulator.testbed)

    def take_screenshot(self, run):
        """The dialog with the window manager's frame, from the screen as it is."""
        window = next(line.split()[0] for line in subprocess.run(["wmctrl", "-l"], capture_output=True, text=True,
                                                                 check=True).stdout.splitlines() if line.endswith(TITLE))
        info = subprocess.run(["xwininfo", "-id", window], capture_output=True, text=True, check=True).stdout
        field = lambda name: int(re.search(name + r":\s+(-?\d+)", info).group(1))
        extents = subprocess.run(["xprop", "-id", window, "_NET_FRAME_EXTENTS"], capture_output=True, text=True).stdout
        left, right, top, bottom = [int(n) for n in re.findall(r"\d+", extents.split("=", 1)[-1])[:4]] or [0, 0, 0, 0]
        crop = "%dx%d+%d+%d" % (field("Width") + left + right, field("Height") + top + bottom,
                                field("Absolute upper-left X") - left, field("Absolute upper-left Y") - top)
        subprocess.run(["import", "-display", os.environ["DISPLAY"], "-window", "root", "-crop", crop, "+repage", "-strip",
                        self.screenshot], check=True)
        self.info("saved " + self.screenshot)

    def run(self, name, needs, scenario, programs):
        missing = [need for need in needs if not programs.get(need)]
        if missing:
            self.skipped += 1
            log("SKIP %s: %s" % (name, ", ".join(programs.get("why-" + need, need + " missing") for need in missing)))
            return
        log("== " + name)
        started = time.time()
        try:
            if "emulator" in needs:
                self.emulator = Emulator(programs["emulator"], os.path.join(ROOT, "resources/firmware.bin"), self.work, native=True)
            scenario(self, programs)
        except Failed as error:
            self.record(name, False, str(error))
        except Exception as error:  # a broken scenario fails, it does not stop the others
            self.record(name, False, "%s: %s" % (type(error).__name__, error))
        finally:
            for run in self.runs:
                run.stop()
            self.runs = []
            for process in self.extra:
                process.kill()
                process.wait()
            self.extra = []
            if self.emulator is not None:
                self.emulator.stop()
                self.emulator = None
        log("   %.1f s" % (time.time() - started))


def main():
    give_programs_default_stops()
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build/linux"))
    parser.add_argument("--scenario", action="append", help="run only these (repeatable)")
    parser.add_argument("--screenshot", help="save the dialog during the demo's update as this PNG")
    args = parser.parse_args()
    programs = {}
    for need, path, why in (("demo", "veltabox-updater-demo", "the demo is not built"),
                            ("program", "veltabox-updater", "veltabox-updater is not built (no hidraw half in this tree)"),
                            ("emulator", "tests/emulated_box/box_emulator", "the box emulator is not built")):
        full = os.path.join(args.build, path)
        programs[need] = full if os.access(full, os.X_OK) else None
        programs["why-" + need] = why
    programs["weston"] = shutil.which("weston")
    programs["why-weston"] = "weston is not installed (scripts/install-deps.sh installs it)"
    selected = [s for s in SCENARIOS if not args.scenario or s[0] in args.scenario]
    if args.screenshot:
        args.screenshot = os.path.abspath(args.screenshot)
    work = tempfile.mkdtemp(prefix="linux-e2e.")
    desktop = Desktop(work)
    suite = Suite(work, args.build, args.screenshot)
    started = time.time()
    try:
        for name, needs, scenario in selected:
            suite.run(name, needs, scenario, programs)
    finally:
        desktop.stop()
        if suite.failed:
            log("INFO the programs' output is kept in " + work)
        else:
            shutil.rmtree(work, ignore_errors=True)
    if suite.ratios:
        log("INFO the demo's update over the %.2f s floor: %s" %
            (FLOOR_S, ", ".join("%s %.3f" % ratio for ratio in suite.ratios.items())))
    log("INFO %.0f s in all" % (time.time() - started))
    log("linux-e2e: %d passed, %d failed, %d skipped" % (suite.passed, suite.failed, suite.skipped))
    return 1 if suite.failed or not suite.passed else 0


if __name__ == "__main__":
    sys.exit(main())
