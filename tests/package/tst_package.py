#!/usr/bin/python3
"""The Debian package as an office gets it: Debian's own checks of the
package (lintian), of its desktop entry (desktop-file-validate) and of its
AppStream metadata (appstreamcli), its dependencies and contents, then the
package unpacked into a temporary root (dpkg-deb -x) and its launcher
started there as the applications menu starts it, with a home folder of its
own, under Xvfb with the accessibility bus:

- the first start asks, in Italian, before making the user's registry; the
  test answers "Sì" as the clerk would, through the accessibility tree; the
  registry is made (folders 0700, file 0600) and the window opens on it;
  "Chiudi Programma" ends the program and leaves the day's copy of the
  database in dB/backup;
- the second start asks nothing and opens the same file.

    tst_package.py --folder BUILD/package --version VERSION

Runs itself again inside a D-Bus session of its own (dbus-run-session), as
tst_atspi.py does; everything it starts is stopped at the end.
"""

import argparse
import glob
import os
import re
import sqlite3
import stat
import struct
import subprocess
import sys
import tempfile
import time

LIMIT_SECONDS = 240  # the whole run, whatever happens
HERE = os.path.dirname(os.path.abspath(__file__))
APP_ID = "org.marvesa.Marvesa"
WINDOW = "Gestione Emergenza Marvesa"

sys.path.insert(0, os.path.join(HERE, "..", "a11y"))
from test_run import Report, run_in_dbus_session  # noqa: E402


def outer(args):
    return run_in_dbus_session(__file__, ["--inner", "--folder", args.folder,
                                          "--version", args.version], LIMIT_SECONDS + 10)


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, timeout=180, **kwargs)


def mode(path):
    return oct(stat.S_IMODE(os.stat(path).st_mode))[2:]


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return struct.unpack(">II", head[16:24])


def dependency_names(field):
    names = set()
    for alternatives in field.split(","):
        for item in alternatives.split("|"):
            item = item.strip()
            if item:
                names.add(item.split()[0].split(":")[0])
    return names


# ------------------------------------------------------------ the package

EXPECTED_FILES = [
    "usr/bin/marvesa", "usr/bin/marvesa-initdb", "usr/bin/marvesa-launcher",
    "usr/share/applications/%s.desktop" % APP_ID,
    "usr/share/metainfo/%s.metainfo.xml" % APP_ID,
    "usr/share/icons/hicolor/scalable/apps/%s.svg" % APP_ID,
    "usr/share/man/man1/marvesa.1.gz", "usr/share/man/man1/marvesa-initdb.1.gz",
    "usr/share/man/man1/marvesa-launcher.1.gz",
    "usr/share/doc/marvesa/copyright", "usr/share/doc/marvesa/changelog.gz",
]
ICON_SIZES = [16, 24, 32, 48, 64, 128, 256]
RUNTIME = ["libqt6widgets6", "libqt6sql6", "libqt6sql6-sqlite", "libqt6sql6-psql",
           "qt6-qpa-plugins", "libxlsxwriter4", "libzip4", "libpq5", "libsqlite3-0",
           "qt6-translations-l10n", "xdg-utils", "fonts-wine"]


def check_package(c, deb, root):
    lint = run(["lintian", "--fail-on", "error", "--display-level", ">=warning", deb])
    print(lint.stdout + lint.stderr, end="")
    c.check(lint.returncode == 0, "lintian reports no error", "(status %d)" % lint.returncode)

    fields = {}
    for name in ("Package", "Version", "Architecture", "Depends", "Suggests", "Section"):
        fields[name] = run(["dpkg-deb", "-f", deb, name]).stdout.strip()
    print("Depends: %s" % fields["Depends"])
    depends = dependency_names(fields["Depends"])
    for name in RUNTIME:
        c.check(name in depends, "depends on %s" % name)
    c.check(not any(d.endswith("-dev") or d in ("cmake", "build-essential", "ninja-build")
                    for d in depends), "depends on nothing for building", repr(sorted(depends)))
    c.equal(fields["Suggests"], "libreoffice-calc", "suggests a spreadsheet program")

    listing = run(["dpkg-deb", "-c", deb]).stdout.splitlines()
    paths = [line.split()[-1].lstrip(".").lstrip("/") for line in listing
             if not line.split()[-1].endswith("/")]
    c.check(all(p.startswith("usr/") for p in paths), "every file under /usr",
            repr([p for p in paths if not p.startswith("usr/")]))
    for path in EXPECTED_FILES + ["usr/share/icons/hicolor/%dx%d/apps/%s.png" % (s, s, APP_ID)
                                  for s in ICON_SIZES]:
        c.check(path in paths, "installs /%s" % path)
    control = os.path.join(root, "control")
    run(["dpkg-deb", "-e", deb, control])
    scripts = sorted(set(os.listdir(control)) - {"control", "md5sums"})
    c.equal(scripts, [], "no script runs at install or removal (the data stay)")

    files = os.path.join(root, "files")
    unpacked = run(["dpkg-deb", "-x", deb, files])
    c.check(unpacked.returncode == 0, "dpkg-deb -x unpacks it", unpacked.stderr)
    desktop = os.path.join(files, "usr/share/applications/%s.desktop" % APP_ID)
    valid = run(["desktop-file-validate", desktop])
    c.check(valid.returncode == 0 and not valid.stdout.strip(), "desktop-file-validate passes",
            valid.stdout + valid.stderr)
    entry = dict(line.rstrip("\n").split("=", 1) for line in open(desktop, encoding="utf-8")
                 if "=" in line)
    c.equal(entry.get("Categories"), "Office;", "the menu entry is in Office")
    c.check(os.access(os.path.join(files, "usr/bin", entry.get("Exec", "")), os.X_OK),
            "the menu entry starts the launcher of the package", repr(entry.get("Exec")))
    metainfo = os.path.join(files, "usr/share/metainfo/%s.metainfo.xml" % APP_ID)
    appstream = run(["appstreamcli", "validate", "--no-net", metainfo])
    c.check(appstream.returncode == 0, "appstreamcli validate passes",
            appstream.stdout + appstream.stderr)
    for size in ICON_SIZES:
        png = os.path.join(files, "usr/share/icons/hicolor/%dx%d/apps/%s.png" % (size, size, APP_ID))
        c.equal(png_size(png) if os.path.exists(png) else None, (size, size),
                "the %d px icon is %d px" % (size, size))
    for page in ("marvesa", "marvesa-initdb", "marvesa-launcher"):
        manual = run(["man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8",
                      os.path.join(files, "usr/share/man/man1/%s.1.gz" % page)],
                     env=dict(os.environ, MANWIDTH="80"))
        # Bold as the terminal overstrikes it: each letter, backspace, itself.
        text = re.sub(".\x08", "", manual.stdout)
        c.check(manual.returncode == 0 and "NOME" in text and page in text and not manual.stderr,
                "the manual page of %s reads" % page, manual.stderr)
    return entry["Exec"], files


# ---------------------------------------------- the launcher, as the menu starts it

def check_launcher(c, launcher, home):
    sys.path.insert(0, os.path.join(HERE, "..", "a11y"))
    import atspi_session as a
    import pyatspi

    class LauncherSession(a.AtspiSession):
        """The package's launcher on a display of its own, with a home
        folder of its own."""

        def __init__(self):
            super().__init__(launcher, None, timeout=30.0)

        def start_launcher(self, log_name):
            if self.xvfb is None:
                self._start_display()
            env = dict(os.environ)
            env.update({
                "DISPLAY": self.display,
                "QT_QPA_PLATFORM": "xcb",
                "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
                "QT_ACCESSIBILITY": "1",
                "HOME": home,
                "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
                "XDG_CONFIG_HOME": os.path.join(home, ".config"),
                "LANG": "it_IT.UTF-8",
            })
            env.pop("QT_QPA_PLATFORMTHEME", None)
            self.app_log = open(os.path.join(self.folder.name, log_name), "w")
            self.log_name = log_name
            self.app_process = subprocess.Popen([launcher], cwd=home, env=env,
                                                stdout=self.app_log, stderr=subprocess.STDOUT)

        def log(self):
            with open(os.path.join(self.folder.name, self.log_name)) as f:
                return f.read()

        def apps(self):
            desktop = pyatspi.Registry.getDesktop(0)
            found = []
            for i in range(desktop.childCount):
                app = desktop.getChildAtIndex(i)
                try:
                    if app is not None and app.get_process_id() == self.app_process.pid:
                        found.append(app)
                except Exception:
                    continue
            return found

        def top_levels(self, role, name=None):
            found = []
            for app in self.apps():
                for w in self.children(app):
                    try:
                        if (w is not None and w.getRoleName() == role
                                and (name is None or w.name == name)
                                and a.has_state(w, pyatspi.STATE_SHOWING)):
                            found.append(w)
                    except Exception:
                        continue
            return found

        def ended(self, timeout=30):
            try:
                return self.app_process.wait(timeout)
            except subprocess.TimeoutExpired:
                return None

    def press(node):
        action = node.queryAction()
        for i in range(action.nActions):
            if action.getName(i) in ("press", "Press", "click"):
                return action.doAction(i)
        return action.doAction(0)

    def texts(node):
        found = []
        for label in s.find_all(node, "label") + s.find_all(node, "text"):
            found.append(a.text_of(label) or label.name)
        return found

    def wait_window(what):
        # The launcher makes the registry, then the program starts in its
        # place: on a loaded machine this takes a while. On a timeout, say
        # what was there, to tell a slow start from a lost one.
        try:
            return s.wait(lambda: (s.top_levels("frame", WINDOW) or [None])[0], what,
                          timeout=90.0)
        except a.SessionError as e:
            pid = s.app_process.pid
            try:
                with open("/proc/%d/cmdline" % pid, "rb") as f:
                    running = f.read().replace(b"\0", b" ").decode(errors="replace")
            except OSError:
                running = "<gone>"
            seen = []
            for app in s.apps():
                try:
                    seen.append("%s: %s" % (app.name, [(w.getRoleName(), w.name)
                                                       for w in s.children(app)]))
                except Exception as problem:
                    seen.append("<unreadable: %s>" % problem)
            raise a.SessionError("%s; process %d runs %r, registry %s, in the tree: %s"
                                 % (e, pid, running,
                                    "made" if os.path.exists(registry) else "not made", seen))

    registry = os.path.join(home, ".local/share/Marvesa/dB/dbQuaz.mdb")
    s = LauncherSession()
    try:
        # First start: the question, answered "Sì".
        s.start_launcher("first.log")
        alert = s.wait(lambda: (s.top_levels("alert") + s.top_levels("dialog") or [None])[0],
                       "the launcher's question")
        question = " ".join(t for t in texts(alert) if t)
        c.check("Non c'è ancora un registro di Marvesa per questo utente." in question
                and "Crearne uno nuovo, vuoto" in question,
                "the first start asks before making the registry", repr(question))
        c.check(not os.path.exists(registry), "nothing is made before the answer")
        yes = s.find(alert, "push button", predicate=lambda n: n.name in ("Sì", "&Sì", "Yes"))
        c.check(yes is not None, "the question offers \"Sì\"")
        press(yes)
        window = wait_window("the window after the answer")
        c.check(window is not None, "the window opens")
        c.equal(mode(registry), "600", "the registry is the user's alone")
        for folder in (".local", ".local/share", ".local/share/Marvesa", ".local/share/Marvesa/dB"):
            c.equal(mode(os.path.join(home, folder)), "700", "~/%s is the user's alone" % folder)
        pid = s.app_process.pid
        c.equal(os.path.realpath("/proc/%d/cwd" % pid), os.path.dirname(registry),
                "the program works in the registry's folder")
        opened = [os.path.realpath(os.path.join("/proc/%d/fd" % pid, fd))
                  for fd in os.listdir("/proc/%d/fd" % pid)]
        c.check(registry in opened, "the window is open on the registry made")
        made = os.stat(registry)
        with sqlite3.connect("file:%s?mode=ro" % registry, uri=True) as db:
            towns = db.execute("SELECT count(*) FROM TBL_SYS_COMUNI").fetchone()[0]
        c.check(towns > 7000, "the registry holds the list of municipalities", str(towns))

        close = s.find(window, "push button", "Chiudi Programma")
        press(close)
        c.equal(s.ended(), 0, "\"Chiudi Programma\" ends the program")
        backups = glob.glob(os.path.join(os.path.dirname(registry), "backup", "dbQuaz-*.mdb"))
        c.equal(len(backups), 1, "closing made the day's copy in dB/backup")
        if backups:
            c.equal(mode(backups[0]), "600", "the copy is the user's alone")
            with sqlite3.connect("file:%s?mode=ro" % backups[0], uri=True) as db:
                c.equal(db.execute("PRAGMA integrity_check").fetchone()[0], "ok",
                        "the copy passes the integrity check")
        s.app_log.close()

        # Second start: no question, the same file.
        s.start_launcher("second.log")
        window = wait_window("the window on the second start")
        c.equal(s.top_levels("alert") + s.top_levels("dialog"), [],
                "the second start asks nothing")
        pid = s.app_process.pid
        opened = [os.stat(os.path.join("/proc/%d/fd" % pid, fd)) for fd in
                  os.listdir("/proc/%d/fd" % pid)
                  if os.path.realpath(os.path.join("/proc/%d/fd" % pid, fd)) == registry]
        c.check(any(o.st_ino == made.st_ino for o in opened),
                "the second start opens the same file")
        press(s.find(window, "push button", "Chiudi Programma"))
        c.equal(s.ended(), 0, "the second run ends")
        c.equal(len(glob.glob(os.path.join(os.path.dirname(registry), "backup", "dbQuaz-*.mdb"))),
                1, "one copy a day")
    except a.SessionError as e:
        c.fail("session: %s\n%s" % (e, s.log() if s.app_process else ""))
    finally:
        s.stop()


def inner(args):
    sys.path.insert(0, os.path.join(HERE, "..", "a11y"))
    import atspi_session as a

    a.start_time_limit(LIMIT_SECONDS)
    c = Report()
    started = time.monotonic()
    debs = glob.glob(os.path.join(args.folder, "marvesa_%s_*.deb" % args.version))
    root = tempfile.TemporaryDirectory(prefix="marvesa-package-")
    try:
        if len(debs) != 1:
            c.fail("one package marvesa_%s_*.deb in %s, found %r" % (args.version, args.folder,
                                                                     debs))
        else:
            print("Package: %s (%d kB)" % (debs[0], os.path.getsize(debs[0]) // 1024))
            exec_name, files = check_package(c, debs[0], root.name)
            home = os.path.join(root.name, "home")
            os.mkdir(home)
            check_launcher(c, os.path.join(files, "usr/bin", exec_name), home)
    except Exception as e:  # a broken check must fail, never pass
        import traceback
        traceback.print_exc()
        c.fail("error: %r" % e)
    finally:
        root.cleanup()
    print("%d passed, %d failed (%.1f s)" % (c.passed, c.failed, time.monotonic() - started))
    return 0 if c.failed == 0 and c.passed > 0 else 1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--folder", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--inner", action="store_true")
    args = parser.parse_args()
    return inner(args) if args.inner else outer(args)


if __name__ == "__main__":
    sys.exit(main())
