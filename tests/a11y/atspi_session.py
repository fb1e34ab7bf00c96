"""The program under a real X server with the accessibility bus, as a screen
reader meets it.

AtspiSession starts, each in a temporary folder made for the run: a new
database (marvesa-initdb) with a few family units and members, an Xvfb
display, and the real program on it with Qt's accessibility bridge on. The
D-Bus session bus is the one dbus-run-session gives the test (see
tst_atspi.py); the accessibility bus and its registry are started from it on
demand, as on a desktop. Everything waits with a time limit and raises
SessionError when it runs out; nothing is skipped.
"""

import os
import select
import signal
import sqlite3
import subprocess
import tempfile
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import GLib  # noqa: E402
import pyatspi  # noqa: E402


class SessionError(Exception):
    pass


# Family units and their members, in table order.
FAMILIES = [
    ("QX100", "ROSSI", "MARIO BIANCHI", "Abano Terme", "VIA ROMA 1", "049 123456", None,
     [("ROSSI", "ANNA", "F", "1980-03-04T00:00:00", "Capo Nucleo", "Allergia alla penicillina"),
      ("ROSSI", "LUCA", "M", "2010-07-08T00:00:00", "Figlio/Figlia", "")]),
    ("QX200", "VERDI", "GINO NERI", "Udine", "VIA DANTE 3", "0432 654321", "2025-06-30T00:00:00",
     [("VERDI", "PIA", "F", "1990-01-02T00:00:00", "Coniuge", ""),
      # ROSSI ANNA of QX100 again, her birth date with day and month
      # swapped: the pair "Doppioni" lists.
      ("ROSSI", "ANNA", "F", "1980-04-03T00:00:00", "Coniuge", "")]),
    ("QX300", "NERI", "LIA BLU", "Abano Terme", "PIAZZA GARIBALDI 7", "049 555111", None, []),
]


def seed(path):
    db = sqlite3.connect(path)
    with db:
        for code, name, host, town, address, phone, end, members in FAMILIES:
            db.execute(
                "INSERT INTO TBL_NUCLEO (CODICE_NUCLEO, DENOMINAZIONE, NOME_OSPITANTE, COMUNE,"
                " INDIRIZZO, TELEFONO, TERMINE_ALLOGGIO) VALUES (?, ?, ?, ?, ?, ?, ?)",
                (code, name, host, town, address, phone, end))
            for surname, first, sex, born, relation, notes in members:
                db.execute(
                    "INSERT INTO TBL_ANAGRAFICA (CODICE_NUCLEO, COGNOME, NOME, SESSO, DATA_NASCITA,"
                    " NAZIONE_NASCITA, CITTADINANZA, GRADO_PARENTELA, DATA_INGRESSO, FRONTIERA,"
                    " NOTE, NOME_OSPITANTE, COMUNE, INDIRIZZO, TELEFONO, TERMINE_ALLOGGIO)"
                    " VALUES (?, ?, ?, ?, ?, 'Albania', 'Albania', ?, '2022-03-01T00:00:00',"
                    " 'POLONIA', ?, ?, ?, ?, ?, ?)",
                    (code, surname, first, sex, born, relation, notes, host, town, address, phone,
                     end))
    db.close()


class Event:
    """One event of the accessibility bus, as it arrived."""

    def __init__(self, type, role, name, detail1, source):
        self.type = type
        self.role = role
        self.name = name
        self.detail1 = detail1
        self.source = source

    def __repr__(self):
        return "%s %s %r %s" % (self.type, self.role, self.name, self.detail1)


class AtspiSession:
    def __init__(self, marvesa, initdb, timeout=10.0):
        self.marvesa = marvesa
        self.initdb = initdb
        self.timeout = timeout
        self.folder = tempfile.TemporaryDirectory(prefix="marvesa-atspi-")
        self.xvfb = None
        self.app_process = None
        self.app = None
        self.display = None
        self.events = []
        self._listening = False

    # ------------------------------------------------------------ start, stop

    def start(self):
        root = self.folder.name
        os.makedirs(os.path.join(root, "work"))
        database = os.path.join(root, "dB", "dbQuaz.mdb")
        made = subprocess.run([self.initdb, database], capture_output=True, text=True,
                              timeout=60)
        if made.returncode != 0:
            raise SessionError("marvesa-initdb: " + made.stdout + made.stderr)
        seed(database)
        self._start_display()
        env = dict(os.environ)
        env.update({
            "DISPLAY": self.display,
            "QT_QPA_PLATFORM": "xcb",
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
            "QT_ACCESSIBILITY": "1",
            # No settings of the machine's user: the program opens its file.
            "XDG_CONFIG_HOME": os.path.join(root, "config"),
            "HOME": root,
            "LANG": "it_IT.UTF-8",
        })
        env.pop("QT_QPA_PLATFORMTHEME", None)
        self.app_log = open(os.path.join(root, "marvesa.log"), "w")
        self.app_process = subprocess.Popen([self.marvesa], cwd=os.path.join(root, "work"),
                                            env=env, stdout=self.app_log,
                                            stderr=subprocess.STDOUT)
        self.app = self.wait(self._find_app, "the program in the accessibility tree")
        self.window = self.wait(lambda: self.find(self.app, "frame", "Gestione Emergenza Marvesa",
                                                  depth=1),
                                "the main window in the tree")
        self.listen()

    def _start_display(self):
        read_fd, write_fd = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24", "-nolisten",
             "tcp"], pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        number = b""
        end = time.monotonic() + self.timeout
        while not number.endswith(b"\n"):
            remaining = end - time.monotonic()
            if remaining <= 0 or self.xvfb.poll() is not None:
                raise SessionError("Xvfb did not start")
            ready, _, _ = select.select([read_fd], [], [], remaining)
            if ready:
                chunk = os.read(read_fd, 16)
                if not chunk:
                    raise SessionError("Xvfb did not start")
                number += chunk
        os.close(read_fd)
        self.display = ":" + number.decode().strip()

    def stop(self):
        if self._listening:
            pyatspi.Registry.deregisterEventListener(self._on_event, *self.EVENT_TYPES)
            self._listening = False
        for process in (self.app_process, self.xvfb):
            if process and process.poll() is None:
                process.terminate()
                try:
                    process.wait(5)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait(5)
        if self.app_process:
            self.app_log.close()
        self.folder.cleanup()

    def log(self):
        with open(os.path.join(self.folder.name, "marvesa.log")) as f:
            return f.read()

    # ------------------------------------------------------------------ events

    EVENT_TYPES = ("object:state-changed:focused", "object:property-change:accessible-name",
                   "object:text-changed", "object:active-descendant-changed",
                   "window:activate", "object:state-changed:showing")

    def listen(self):
        pyatspi.Registry.registerEventListener(self._on_event, *self.EVENT_TYPES)
        self._listening = True

    def _on_event(self, event):
        try:
            source_name = event.source.name
            role = event.source.getRoleName()
        except Exception:  # the object went away
            source_name, role = None, None
        self.events.append(Event(event.type, role, source_name, event.detail1, event.source))

    def pump(self, seconds=0.0):
        context = GLib.MainContext.default()
        end = time.monotonic() + seconds
        while True:
            while context.pending():
                context.iteration(False)
            if time.monotonic() >= end:
                return
            time.sleep(0.01)

    def wait(self, probe, what, timeout=None):
        end = time.monotonic() + (timeout or self.timeout)
        last_error = None
        while True:
            self.pump()
            if self.app_process and self.app_process.poll() is not None:
                raise SessionError("the program ended while waiting for %s:\n%s"
                                   % (what, self.log()))
            try:
                result = probe()
                if result:
                    return result
            except GLib.Error as e:
                last_error = e
            if time.monotonic() >= end:
                raise SessionError("timed out waiting for %s (%s)" % (what, last_error))
            time.sleep(0.05)

    # -------------------------------------------------------------------- tree

    def _find_app(self):
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            try:
                if app is not None and app.get_process_id() == self.app_process.pid:
                    return app
            except GLib.Error:
                continue
        return None

    @staticmethod
    def children(node):
        return [node.getChildAtIndex(i) for i in range(node.childCount)]

    def find_all(self, root, role=None, name=None, depth=8, predicate=None, into_lists=False):
        found = []

        def visit(node, level):
            for child in self.children(node):
                if child is None:
                    continue
                if ((role is None or child.getRoleName() == role)
                        and (name is None or child.name == name)
                        and (predicate is None or predicate(child))):
                    found.append(child)
                # The items of a drop-down list are not walked: thousands.
                if level < depth and (into_lists or child.getRoleName()
                                      not in ("combo box", "table", "list")):
                    visit(child, level + 1)

        visit(root, 1)
        return found

    def find(self, root, role=None, name=None, depth=8, predicate=None, into_lists=False):
        found = self.find_all(root, role, name, depth, predicate, into_lists)
        return found[0] if found else None

    # ----------------------------------------------------------------- windows

    def focus_newest_window(self):
        """Gives the keyboard to the program's newest window, as a window
        manager does with a window that opens (the display runs none)."""
        env = dict(os.environ, DISPLAY=self.display)
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid",
                                str(self.app_process.pid), "--name", ""], env=env,
                               capture_output=True, text=True, timeout=self.timeout)
        ids = [int(w) for w in found.stdout.split()]
        if not ids:
            raise SessionError("the program shows no window")
        subprocess.run(["xdotool", "windowfocus", "--sync", str(max(ids))], env=env,
                       check=True, timeout=self.timeout)
        self.pump(0.1)

    def top_level(self, role, name=None):
        """A window of the program by role (and name), once it shows."""
        for child in self.children(self.app):
            if (child is not None and child.getRoleName() == role
                    and (name is None or child.name == name)
                    and has_state(child, pyatspi.STATE_SHOWING)):
                return child
        return None

    # -------------------------------------------------------------------- keys

    def keys(self, *keys):
        """Keys through the X server, as the keyboard gives them."""
        env = dict(os.environ, DISPLAY=self.display)
        for key in keys:
            subprocess.run(["xdotool", "key", "--clearmodifiers", key], env=env, check=True,
                           timeout=self.timeout)
            self.pump(0.05)

    def type_text(self, text):
        env = dict(os.environ, DISPLAY=self.display)
        subprocess.run(["xdotool", "type", "--delay", "20", text], env=env, check=True,
                       timeout=self.timeout)


def text_of(node):
    """A node's text through its Text interface, None without one."""
    try:
        text = node.queryText()
    except NotImplementedError:
        return None
    return text.getText(0, -1)


def states(node):
    return node.getState()


def has_state(node, state):
    return node.getState().contains(state)


def labels_of(node):
    """The names of the nodes that label `node` (its labelled-by relation)."""
    names = []
    for relation in node.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            names += [relation.getTarget(i).name for i in range(relation.getNTargets())]
    return names


def start_time_limit(seconds):
    """Ends the whole run, whatever it is doing, after `seconds`."""
    def expire(signum, frame):
        raise SessionError("the test took more than %d seconds" % seconds)
    signal.signal(signal.SIGALRM, expire)
    signal.alarm(seconds)
