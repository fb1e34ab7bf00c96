"""What the tests run under Xvfb and the accessibility bus share, without
the accessibility libraries themselves: running the test again inside a
D-Bus session of its own, and counting what passed and what failed."""

import os
import signal
import subprocess
import sys


def run_in_dbus_session(script, arguments, limit_seconds):
    """Runs `script` with `arguments` inside a D-Bus session of its own
    (dbus-run-session), in a process group that is ended when it is done or
    when `limit_seconds` have passed; returns its exit status."""
    command = ["dbus-run-session", "--", sys.executable, os.path.abspath(script)] + arguments
    try:
        run = subprocess.Popen(command, start_new_session=True)
    except FileNotFoundError:
        print("FAIL: dbus-run-session is not installed (package dbus-daemon)")
        return 1
    try:
        return run.wait(limit_seconds)
    except subprocess.TimeoutExpired:
        print("FAIL: the test did not end within %d seconds" % limit_seconds)
        return 1
    finally:
        try:
            os.killpg(run.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


class Report:
    """Each check printed as PASS or FAIL, and counted."""

    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, condition, what, detail=""):
        if condition:
            self.passed += 1
            print("PASS: %s" % what)
        else:
            self.fail("%s %s" % (what, detail))
        return condition

    def equal(self, actual, expected, what):
        return self.check(actual == expected, what, "(got %r, expected %r)" % (actual, expected))

    def fail(self, what):
        self.failed += 1
        print("FAIL: %s" % what)
