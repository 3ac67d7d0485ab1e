"""The stop signals as the programs under test meet them on a desktop or under systemd.

A driver started under nohup, or in the background by a non-interactive shell, inherits SIGHUP,
or SIGINT and SIGQUIT, ignored, and so would every program it starts: those programs rightly
keep an ignored signal ignored, and the checks that send them one would fail for the way the
suite was started. The driver catches such a signal instead and does nothing with it, so it
stays as deaf to it as it was asked to be, while exec gives its programs the default action.
"""
import signal

STOPS = (signal.SIGTERM, signal.SIGHUP, signal.SIGINT, signal.SIGQUIT)


def give_programs_default_stops():
    for stop in STOPS:
        if signal.getsignal(stop) == signal.SIG_IGN:
            signal.signal(stop, lambda *_: None)
