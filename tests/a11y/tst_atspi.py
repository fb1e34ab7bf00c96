#!/usr/bin/python3
"""The window and its dialogs as a screen reader reads them: the real program
under Xvfb, read through the AT-SPI tree (the tree Orca reads) from this
process, driven with keys sent through the X server.

    tst_atspi.py --marvesa PROGRAM --initdb MARVESA-INITDB

Runs itself again inside a D-Bus session of its own (dbus-run-session), from
which the accessibility bus and its registry start; everything it starts is
stopped at the end, and every wait has a time limit. A display or a bus that
cannot start fails the test.
"""

import argparse
import os
import sys
import time

from test_run import run_in_dbus_session

LIMIT_SECONDS = 90  # the whole run, whatever happens


def outer(args):
    """Starts the D-Bus session and the test inside it, in a process group
    of their own that is ended when the time runs out."""
    return run_in_dbus_session(__file__, ["--inner", "--marvesa", args.marvesa,
                                          "--initdb", args.initdb], LIMIT_SECONDS + 10)


# ------------------------------------------------------------------ the test

def inner(args):
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    import atspi_session as a
    from atspi_checks import WindowChecks

    a.start_time_limit(LIMIT_SECONDS)
    session = a.AtspiSession(args.marvesa, args.initdb)
    checks = WindowChecks(session)
    started = time.monotonic()
    try:
        session.start()
        checks.run()
    except a.SessionError as e:
        checks.fail("session: %s" % e)
    except Exception as e:  # a broken check must fail, never pass
        import traceback
        traceback.print_exc()
        checks.fail("error: %r" % e)
    finally:
        session.stop()
    print("%d passed, %d failed (%.1f s)" % (checks.passed, checks.failed,
                                             time.monotonic() - started))
    return 0 if checks.failed == 0 and checks.passed > 0 else 1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--marvesa", required=True)
    parser.add_argument("--initdb", required=True)
    parser.add_argument("--inner", action="store_true")
    args = parser.parse_args()
    return inner(args) if args.inner else outer(args)


if __name__ == "__main__":
    sys.exit(main())
