"""What tst_atspi.py checks in the tree: the window's controls by name, role
and value in browse, insert and edit states, the family-code labels, a walk
with Tab, a message box, the lists, "Cerca", "Riepilogo" and "Doppioni", the
duplicate warning at "Salva componente", "Storico" and "Importa"."""

import os
import re

import pyatspi

from atspi_session import SessionError, has_state, labels_of, text_of
from test_run import Report

# The twelve command buttons, in the controller's order, with the names a
# screen reader reads.
BUTTONS = ["Crea Nucleo", "Modifica nucleo", "Annulla nucleo", "Salva nucleo", "Elimina nucleo",
           "Nuovo componente", "Modifica componente", "Annulla componente", "Salva componente",
           "Elimina componente", "Esporta", "Chiudi Programma"]
BROWSING = "EEDDEEEDDEEE"
FAMILY_EDITING = "DDEEDDDDDDDD"
MEMBER_EDITING = "DDDDDDDEEDDD"

# The tab stops in the window's tab order: role and the caption that names
# them (a combo box is named by its value and labelled by its caption).
TAB_ORDER = [
    ("text", "Denominazione Nucleo"), ("text", "Nome Ospitante"), ("combo box", "Comune"),
    ("text", "Indirizzo"), ("text", "Contatti telefonici (solo numeri separati da spazi)"),
    ("text", "Termine Ospitalità"), ("text", "Cognome"), ("text", "Nome"),
    ("combo box", "Sesso"), ("text", "Data Nascita"), ("combo box", "Nazione Nascita"),
    ("combo box", "Cittadinanza"), ("combo box", "Grado Parntela"), ("text", "Data Ingresso"),
    ("text", "Frontiera Ingresso (Stato UE)"), ("text", "Note - Esigenze Particolari"),
    ("push button", "Crea Nucleo"), ("push button", "Salva nucleo"),
    ("push button", "Modifica nucleo"), ("push button", "Nuovo componente"),
    ("push button", "Modifica componente"), ("push button", "Salva componente"),
    ("push button", "Elimina componente"), ("push button", "Esporta"),
    ("push button", "Chiudi Programma"), ("push button", "Annulla componente"),
    ("push button", "Annulla nucleo"), ("push button", "Elimina nucleo"),
]

# The data fields of the first family unit and its first member, as shown.
FIRST_FAMILY = {
    "Denominazione Nucleo": "ROSSI", "Nome Ospitante": "MARIO BIANCHI", "Comune": "Abano Terme",
    "Indirizzo": "VIA ROMA 1", "Contatti telefonici (solo numeri separati da spazi)": "049 123456",
    "Termine Ospitalità": "",
}
FIRST_MEMBER = {
    "Cognome": "ROSSI", "Nome": "ANNA", "Sesso": "F", "Data Nascita": "04/03/1980",
    "Nazione Nascita": "Albania", "Cittadinanza": "Albania", "Grado Parntela": "Capo Nucleo",
    "Data Ingresso": "01/03/2022", "Frontiera Ingresso (Stato UE)": "POLONIA",
    "Note - Esigenze Particolari": "Allergia alla penicillina",
}
CODE = re.compile(r"^QX[0-9]+$")


class WindowChecks(Report):
    def __init__(self, session):
        super().__init__()
        self.s = session
        self._controls = {}  # the window's controls live as long as it does

    # ------------------------------------------------------------ the tree

    def control(self, role, caption, root=None):
        """The showing control of `role` named by `caption` (its name or the
        caption that labels it)."""
        def named(node):
            return (has_state(node, pyatspi.STATE_SHOWING)
                    and (node.name == caption or caption in labels_of(node)))
        if root is None and (role, caption) in self._controls:
            return self._controls[(role, caption)]
        node = self.s.find(root or self.s.window, role, predicate=named)
        if node is None:
            raise SessionError("no %s %r in the window" % (role, caption))
        if root is None:
            self._controls[(role, caption)] = node
        return node

    def code_labels(self):
        """The two family-code labels: the family unit's, then the member's."""
        if "code labels" not in self._controls:
            found = self.s.find_all(self.s.window, "label",
                                    predicate=lambda n: "Codice Nucleo" in labels_of(n))
            if len(found) != 2:
                raise SessionError("%d family-code labels in the tree, expected 2" % len(found))
            self._controls["code labels"] = found
        return self._controls["code labels"]

    def value(self, role, caption):
        node = self.control(role, caption)
        return node.name if role == "combo box" else text_of(node)

    def button_states(self):
        flags = ""
        for name in BUTTONS:
            node = self.control("push button", name)
            flags += "E" if has_state(node, pyatspi.STATE_SENSITIVE) else "D"
        return flags

    def wait_states(self, expected, what):
        try:
            self.s.wait(lambda: self.button_states() == expected, what, timeout=5)
        except SessionError:
            pass
        self.equal(self.button_states(), expected, what)

    def code_of(self, label):
        """What a family-code label gives: by name and by its Text interface."""
        return label.name, text_of(label)

    def wait_code(self, which, code, what):
        """Waits until the family-code label `which` (0: family unit, 1:
        member) reads `code` (None: any family code), then checks it reads
        it by both its name and its text."""
        def reads():
            name, text = self.code_of(self.code_labels()[which])
            ok = CODE.match(text or "") if code is None else text == code
            return ok and name == "Codice Nucleo" + (" " + text if text else "")
        try:
            self.s.wait(reads, what, timeout=5)
        except SessionError:
            pass
        name, text = self.code_of(self.code_labels()[which])
        if code is None:
            self.check(CODE.match(text or ""), what + ": a family code in the Text interface",
                       "(got %r)" % text)
        else:
            self.equal(text, code, what + ": the code in the Text interface")
        self.equal(name, "Codice Nucleo" + (" " + text if text else ""),
                   what + ": the code in the name")
        return text or ""

    def mark(self):
        return len(self.s.events)

    def wait_focus(self, since, role, caption, what, next_only=True):
        """The control that gains the focus after event `since`: the next one
        to gain it, or (next_only False) the first that matches, once the
        focus has passed on its way (a command's keys go through its button)."""
        def matches(event):
            return event.role == role and (event.name == caption
                                           or caption in labels_of(event.source))

        def gained():
            for event in self.s.events[since:]:
                if event.type == "object:state-changed:focused" and event.detail1 == 1:
                    if next_only or matches(event):
                        return event
            return None
        try:
            event = self.s.wait(gained, what, timeout=5)
        except SessionError:
            self.fail(what + " (focus went: %r)" % [
                e for e in self.s.events[since:] if e.type == "object:state-changed:focused"])
            return None
        source = event.source
        label = labels_of(source)
        self.check(event.role == role and (event.name == caption or caption in label),
                   what, "(got %s %r labelled %r)" % (event.role, event.name, label))
        self.check(bool(event.name) or bool(label), what + ": announced with a name")
        return source

    def enter_list(self, name, cell, what):
        """Alt+L: the list takes the focus, its current cell focused in it."""
        since = self.mark()
        self.s.keys("alt+l")
        table = self.wait_focus(since, "table", name, what, next_only=False)
        if table is None:
            return
        focused = [n.name for n in self.s.find_all(table, "table cell", depth=1, into_lists=True)
                   if has_state(n, pyatspi.STATE_FOCUSED)]
        self.equal(focused, [cell], what + ": its current cell")

    # ------------------------------------------------------------- the run

    def run(self):
        self.s.focus_newest_window()
        self.browse_state()
        self.tab_walk()
        self.new_family_unit()
        self.edit_state()
        self.message_boxes()
        self.lists_and_navigators()
        self.new_member()
        self.duplicate_warning()
        self.search_dialog()
        self.summary_dialog()
        self.history_dialog()
        self.import_dialog()

    def browse_state(self):
        self.wait_states(BROWSING, "browse: the twelve buttons by name and state")
        for caption, shown in list(FIRST_FAMILY.items()) + list(FIRST_MEMBER.items()):
            role = "combo box" if caption in ("Comune", "Sesso", "Nazione Nascita",
                                              "Cittadinanza", "Grado Parntela") else "text"
            node = self.control(role, caption)
            self.equal(self.value(role, caption), shown, "browse: %s %r shows its value"
                       % (role, caption))
            if role == "text":
                self.check(has_state(node, pyatspi.STATE_READ_ONLY),
                           "browse: %r refuses typing (read only)" % caption)
        self.wait_code(0, "QX100", "browse: family code label")
        self.wait_code(1, "QX100", "browse: member's family code label")

    def tab_walk(self):
        """From start-up, Tab walks the enabled tab stops in order, each
        announced with a name, and comes back to the first."""
        enabled = set(name for name, flag in zip(BUTTONS, BROWSING) if flag == "E")
        stops = [(r, c) for r, c in TAB_ORDER if r != "push button" or c in enabled]
        focus = self.s.find(self.s.window, predicate=lambda n: has_state(n, pyatspi.STATE_FOCUSED)
                            and n.getRoleName() != "table cell")
        self.check(focus is not None and focus.name == "Denominazione Nucleo",
                   "start-up: the focus is in 'Denominazione Nucleo'",
                   "(got %r)" % (focus.name if focus else None))
        for role, caption in stops[1:] + stops[:1]:
            since = self.mark()
            self.s.keys("Tab")
            self.wait_focus(since, role, caption, "Tab reaches %s %r" % (role, caption))

    def new_family_unit(self):
        since = self.mark()
        self.s.keys("ctrl+shift+n")
        self.wait_focus(since, "text", "Denominazione Nucleo",
                        "Crea Nucleo: the focus goes to the description", next_only=False)
        code = self.wait_code(0, None, "Crea Nucleo: the new code")
        self.check(code != "QX100", "Crea Nucleo: a new code, not the current unit's")
        self.check(any(e.type == "object:property-change:accessible-name"
                       and e.role == "label" and e.name and code in e.name
                       for e in self.s.events[since:]),
                   "Crea Nucleo: the new code is announced (name change)")
        self.check(any(e.type == "object:text-changed:insert" and e.role == "label"
                       for e in self.s.events[since:]),
                   "Crea Nucleo: the new code is announced (text inserted)")
        self.wait_states(FAMILY_EDITING, "insert: the twelve buttons by name and state")
        for caption in ("Denominazione Nucleo", "Nome Ospitante", "Indirizzo"):
            node = self.control("text", caption)
            self.equal(text_of(node), "", "insert: %r is empty" % caption)
            self.check(not has_state(node, pyatspi.STATE_READ_ONLY),
                       "insert: %r takes typing" % caption)
        self.wait_code(1, "", "insert: the member panel shows no family code")
        self.s.type_text("famiglia prova")
        self.s.wait(lambda: text_of(self.control("text", "Denominazione Nucleo"))
                    == "FAMIGLIA PROVA", "the typed description", timeout=5)
        self.check(True, "insert: typing is read back, in capitals")
        # Shift+Tab skips the disabled buttons to "Annulla nucleo".
        since = self.mark()
        self.s.keys("shift+Tab")
        self.wait_focus(since, "push button", "Annulla nucleo",
                        "Shift+Tab from the description reaches 'Annulla nucleo'")
        self.s.keys("space")
        self.wait_states(BROWSING, "Annulla: back to browsing")
        self.wait_code(0, "QX100", "Annulla: the current unit's code again")

    def edit_state(self):
        node = self.control("push button", "Modifica nucleo")
        node.queryAction().doAction(0)
        self.wait_states(FAMILY_EDITING, "edit: the twelve buttons by name and state")
        self.check(not has_state(self.control("text", "Denominazione Nucleo"),
                                 pyatspi.STATE_READ_ONLY), "edit: the description takes typing")
        self.equal(text_of(self.control("text", "Denominazione Nucleo")), "ROSSI",
                   "edit: the description keeps its value")
        self.wait_code(0, "QX100", "edit: the code stays")
        self.control("push button", "Annulla nucleo").queryAction().doAction(0)
        self.wait_states(BROWSING, "edit, Annulla: back to browsing")

    def message_box(self, what):
        box = self.s.wait(lambda: self.s.top_level("alert"), what + ": the box opens")
        self.s.focus_newest_window()
        return box

    def message_boxes(self):
        # A required-field message: its text read when it opens, OK named,
        # Enter closes it.
        self.s.keys("ctrl+shift+n")
        self.wait_code(0, None, "message box: a new family unit")
        since = self.mark()
        self.s.keys("ctrl+s")
        box = self.message_box("required fields")
        texts = [n.name for n in self.s.find_all(box, "label")]
        self.check(any(t.startswith("I seguenti Campi sono Obbligatori\n\nDescrizione Nucleo")
                       for t in texts), "required fields: the message's text is read",
                   "(got %r)" % texts)
        self.check(any(e.type == "object:state-changed:showing" and e.role == "label"
                       and (e.name or "").startswith("I seguenti Campi")
                       for e in self.s.events[since:]),
                   "required fields: the text shows as the box opens")
        self.check(self.s.find(box, "push button", "OK") is not None,
                   "required fields: the button is named OK")
        self.s.keys("Return")
        self.s.wait(lambda: self.s.top_level("alert") is None, "Enter closes the box")
        self.check(True, "required fields: Enter closes the box")
        self.s.focus_newest_window()
        self.wait_states(FAMILY_EDITING, "required fields: the new unit is still being made")
        self.control("push button", "Annulla nucleo").queryAction().doAction(0)
        self.wait_states(BROWSING, "required fields, Annulla: back to browsing")

        # A confirmation: Yes and No named, Esc answers No.
        self.control("push button", "Elimina nucleo").queryAction().doAction(0)
        box = self.message_box("confirmation")
        texts = [n.name for n in self.s.find_all(box, "label")]
        self.check(any(t.startswith("La procedura Cancellerà il Codice Nucleo Familiare")
                       for t in texts), "confirmation: the question is read", "(got %r)" % texts)
        buttons = sorted(n.name for n in self.s.find_all(box, "push button"))
        self.equal(buttons, ["No", "Sì"], "confirmation: the buttons are named")
        self.s.keys("Escape")
        self.s.wait(lambda: self.s.top_level("alert") is None, "Esc closes the confirmation")
        self.s.focus_newest_window()
        self.wait_code(0, "QX100", "confirmation, Esc: nothing deleted")

    def lists_and_navigators(self):
        grid = self.control("table", "Lista Nuclei")
        cells = [n.name for n in self.s.find_all(grid, "table cell", depth=1, into_lists=True)]
        self.equal(cells[:4], ["QX100", "ROSSI", "QX200", "VERDI"],
                   "list of family units: each cell's text")
        headers = [n.name for n in self.s.find_all(grid, "table column header", depth=1,
                                                   into_lists=True)]
        self.equal(headers, ["Codice Nucleo", "Denominazione"],
                   "list of family units: the column headers")
        rows = [n.name for n in self.s.find_all(grid, "table row header", depth=1,
                                                into_lists=True)]
        self.equal(rows[:2], ["riga corrente", ""], "list of family units: the current row")
        # Alt+L enters the list; Down moves to the next family unit and
        # announces its row.
        self.s.keys("Tab")  # from the last control pressed into the window
        self.enter_list("Lista Nuclei", "QX100", "Alt+L: the list of family units")
        since = self.mark()
        self.s.keys("Down")
        self.wait_focus(since, "table cell", "QX200", "Down: the next family unit's row",
                        next_only=False)
        self.wait_code(0, "QX200", "another family unit: its code")
        self.wait_code(1, "QX200", "another family unit: its member's code")
        selected = [n.name for n in self.s.find_all(grid, "table cell", depth=1, into_lists=True)
                    if has_state(n, pyatspi.STATE_SELECTED)]
        self.equal(selected, ["QX200", "VERDI"], "the current row is selected")
        members = self.control("table", "Componenti Nucleo")
        cells = [n.name for n in self.s.find_all(members, "table cell", depth=1, into_lists=True)]
        self.equal(cells[:3], ["VERDI", "PIA", "F"], "list of members: each cell's text")
        since = self.mark()
        self.s.keys("Escape")
        event = self.s.wait(lambda: next((e for e in self.s.events[since:]
                                          if e.type == "object:state-changed:focused"
                                          and e.detail1 == 1 and e.role != "table cell"), None),
                            "Esc leaves the list")
        self.check(event.role != "table", "Esc: the focus leaves the list",
                   "(got %s %r)" % (event.role, event.name))
        # The navigator of the panel in focus, from the keyboard.
        self.enter_list("Lista Nuclei", "QX200", "Alt+L again: the current row")
        self.s.keys("alt+Next")
        self.wait_code(0, "QX300", "Alt+Pag Giù: the next family unit")
        self.wait_code(1, "", "a family unit without members: no member code")
        self.s.keys("alt+Home")
        self.wait_code(0, "QX100", "Alt+Inizio: the first family unit")
        self.s.keys("Escape")
        for name in ("Primo", "Precedente", "Successivo", "Ultimo", "Aggiorna"):
            self.check(self.s.find(self.s.window, "push button", name) is not None,
                       "navigator button %r by name" % name)

    def new_member(self):
        since = self.mark()
        self.s.keys("ctrl+n")
        self.wait_focus(since, "text", "Cognome", "Nuovo: the focus goes to the surname",
                        next_only=False)
        self.wait_states(MEMBER_EDITING, "member insert: the twelve buttons by name and state")
        self.wait_code(1, "QX100", "member insert: the member's family code")
        self.check(not has_state(self.control("text", "Cognome"), pyatspi.STATE_READ_ONLY),
                   "member insert: the surname takes typing")
        self.control("push button", "Annulla componente").queryAction().doAction(0)
        self.wait_states(BROWSING, "member insert, Annulla: back to browsing")

    def duplicate_warning(self):
        """"Salva componente" of ROSSI ANNA, who is likely QX200's ROSSI ANNA
        too: the warning read before anything is stored, the other member
        cell by cell with her family unit, the choices by name; "Torna alla
        modifica" goes back to the fields."""
        self.control("push button", "Modifica componente").queryAction().doAction(0)
        self.wait_states(MEMBER_EDITING, "member edit: the twelve buttons by name and state")
        self.control("push button", "Salva componente").queryAction().doAction(0)
        dialog = self.s.wait(lambda: self.s.top_level("dialog", "Possibili doppioni"),
                             "'Salva componente': the duplicate warning opens")
        self.s.focus_newest_window()
        for caption, shown in (("Cognome", "ROSSI"), ("Nome", "ANNA"),
                               ("Data Nascita", "04/03/1980")):
            # A label's name is what a screen reader reads of it.
            self.check(self.s.find(dialog, "label", caption + " " + shown) is not None,
                       "Possibili doppioni: the member to store, %r read with its value"
                       % caption)
        others = self.s.find(dialog, name="Componenti simili nel registro",
                             predicate=lambda n: n.getRoleName() != "panel")
        cells = [n.name for n in self.s.find_all(others, depth=2, into_lists=True)
                 if n.getRoleName() in ("table cell", "tree item", "list item")] if others else []
        self.check("03/04/1980" in cells and any("QX200" in c for c in cells)
                   and "ANNA" in cells,
                   "Possibili doppioni: the other member and her family unit, cell by cell",
                   "(got %r)" % cells[:14])
        for name in ("Salva comunque", "Vai al componente", "Torna alla modifica"):
            self.check(self.s.find(dialog, "push button", name) is not None,
                       "Possibili doppioni: the button %r by name" % name)
        back = self.s.find(dialog, "push button", "Torna alla modifica")
        if back is not None:
            back.queryAction().doAction(0)
        self.s.wait(lambda: self.s.top_level("dialog", "Possibili doppioni") is None,
                    "'Torna alla modifica' closes the warning")
        self.s.focus_newest_window()
        self.wait_states(MEMBER_EDITING, "Torna alla modifica: still editing, nothing stored")
        self.control("push button", "Annulla componente").queryAction().doAction(0)
        self.wait_states(BROWSING, "member edit, Annulla: back to browsing")

    def search_dialog(self):
        self.s.keys("ctrl+f")
        dialog = self.s.wait(lambda: self.s.top_level("dialog", "Cerca"), "'Cerca' opens")
        self.s.focus_newest_window()
        field = self.control("text", "Cerca", root=dialog)
        self.check(field is not None, "Cerca: the search field by name")
        self.s.type_text("rossi")
        results = self.control("table", "Risultati della ricerca", root=dialog)

        def listed():
            return [n.name for n in self.s.find_all(results, "table cell", depth=1,
                                                    into_lists=True)]
        self.s.wait(lambda: "ANNA" in listed(), "the search results", timeout=5)
        cells = listed()
        self.check("ANNA" in cells and "LUCA" in cells, "Cerca: the results are read",
                   "(got %r)" % cells[:12])
        status = self.s.find(dialog, "label", predicate=lambda n: re.match(
            r"^Esito della ricerca: \d+ risultat[oi]\.$", n.name or ""))
        self.check(status is not None, "Cerca: the outcome line read with its count")
        self.s.keys("Escape")
        self.s.wait(lambda: self.s.top_level("dialog", "Cerca") is None, "Esc closes 'Cerca'")
        self.check(True, "Cerca: Esc closes it")

    def summary_dialog(self):
        self.s.focus_newest_window()  # back to the window once "Cerca" closed
        self.s.keys("ctrl+r")
        dialog = self.s.wait(lambda: next((w for w in self.s.children(self.s.app)
                                           if w is not None and w.getRoleName() == "dialog"
                                           and w.name.startswith("Riepilogo al")
                                           and has_state(w, pyatspi.STATE_SHOWING)), None),
                             "'Riepilogo' opens")
        self.s.focus_newest_window()
        chart = self.s.find(dialog, "chart")
        self.check(chart is not None and chart.name == "Grafico delle persone ospitate per comune",
                   "Riepilogo: the chart by name and role")
        self.equal(chart.description if chart else None, "Abano Terme: 2",
                   "Riepilogo: the chart's numbers as text")
        for name in ("Ospitati ora e ospitalità terminate", "Persone ospitate per comune"):
            self.check(self.s.find(dialog, "table", name) is not None,
                       "Riepilogo: the table %r by name" % name)
        # From the list of hostings that end soon, Tab reaches the chart.
        since = self.mark()
        self.s.keys("Tab")
        self.wait_focus(since, "chart", "Grafico delle persone ospitate per comune",
                        "Riepilogo: Tab reaches the chart")
        self.duplicates_dialog(dialog)
        self.s.keys("Escape")
        self.s.wait(lambda: not any(w is not None and w.getRoleName() == "dialog"
                                    and has_state(w, pyatspi.STATE_SHOWING)
                                    for w in self.s.children(self.s.app)),
                    "Esc closes 'Riepilogo'")
        self.check(True, "Riepilogo: Esc closes it")

    def duplicates_dialog(self, summary):
        """'Doppioni' from 'Riepilogo': the pair of the registry read cell by
        cell, the count and the choices by name; Esc closes it."""
        button = self.s.find(summary, "push button", "Doppioni")
        self.check(button is not None and button.description
                   == "Le coppie di componenti che sono probabilmente la stessa persona",
                   "Riepilogo: the button 'Doppioni' by name and description")
        if button is None:
            return
        button.queryAction().doAction(0)
        dialog = self.s.wait(lambda: self.s.top_level("dialog", "Doppioni"), "'Doppioni' opens")
        self.s.focus_newest_window()
        pairs = self.s.find(dialog, name="Coppie di probabili doppioni")
        self.check(pairs is not None, "Doppioni: the list of pairs by name")
        cells = [n.name for n in self.s.find_all(pairs, depth=2, into_lists=True)
                 if n.getRoleName() in ("table cell", "tree item", "list item")] if pairs else []
        self.check(sum("ROSSI ANNA" in c for c in cells) >= 2
                   and any("QX100" in c for c in cells) and any("QX200" in c for c in cells),
                   "Doppioni: both members of the pair and their family units read",
                   "(got %r)" % cells[:12])
        self.check(self.s.find(dialog, "label", "1 coppia di probabili doppioni.") is not None,
                   "Doppioni: the count by name")
        for name in ("Non è la stessa persona", "Vai al primo", "Vai al secondo", "Chiudi"):
            node = self.s.find(dialog, "push button", name)
            self.check(node is not None and has_state(node, pyatspi.STATE_ENABLED),
                       "Doppioni: the button %r by name, enabled" % name)
        self.s.keys("Escape")
        self.s.wait(lambda: self.s.top_level("dialog", "Doppioni") is None,
                    "Esc closes 'Doppioni'")
        self.check(True, "Doppioni: Esc closes it")
        self.s.focus_newest_window()  # back to 'Riepilogo'

    def history_dialog(self):
        """Ctrl+H: "Storico" of the family unit shown, each line of the list
        read whole; Esc closes it."""
        title = "Storico del nucleo familiare QX100"
        self.s.focus_newest_window()  # back to the window once "Riepilogo" closed
        self.check(self.s.find(self.s.window, "push button", "Storico") is not None,
                   "the button 'Storico' by name")
        self.s.keys("ctrl+h")
        dialog = self.s.wait(lambda: self.s.top_level("dialog", title), "'Storico' opens")
        self.s.focus_newest_window()
        lines = self.control("list", "Storico delle modifiche", root=dialog)
        items = [n.name for n in self.s.find_all(lines, "list item", depth=1, into_lists=True)]
        self.check(len(items) >= 2 and items[-1].endswith("creato il nucleo familiare QX100")
                   and ", un altro programma: " in items[-1],
                   "Storico: each line read whole", "(got %r)" % items)
        count = "Righe dello storico: %d modifiche." % len(items)
        self.check(self.s.find(dialog, "label", count) is not None,
                   "Storico: the count of lines read with its caption", "(%r)" % count)
        self.s.keys("Escape")
        self.s.wait(lambda: self.s.top_level("dialog", title) is None, "Esc closes 'Storico'")
        self.check(True, "Storico: Esc closes it")

    def import_dialog(self):
        """Ctrl+I, a list typed into the file chooser: the preview read by
        name (what would be added, the reading's choices, each column's
        choice, the tables of rejected rows and of duplicates), the choices by
        name; "Annulla" stores nothing."""
        path = os.path.join(self.s.folder.name, "elenco.csv")
        headers = ("Denominazione nucleo familiare;Cognome;Nome;Sesso;Data di Nascita;"
                   "Nazione di Nascita;Cittadinanza;Grado di Parentela;Comune;Indirizzo;"
                   "Ospitante;Telefono per contatti;Termine disponibiltà alloggio;"
                   "Data Ingresso;Frontiera;Priorità per necessità specifiche")
        family = "BIANCHI;{};{};F;04/03/1980;Albania;Albania;Capo Nucleo;Udine;VIA PO 2;" \
                 "ADA RE;0432 1;;01/03/2022;POLONIA;"
        with open(path, "w", encoding="utf-8") as f:
            f.write("\r\n".join([headers, family.format("ROSSI", "ANNA"),
                                  family.format("", "SENZA COGNOME")]) + "\r\n")
        self.s.focus_newest_window()  # back to the window once "Storico" closed
        self.s.keys("ctrl+i")
        chooser = self.s.wait(lambda: self.s.top_level("dialog", "Importa"),
                              "Ctrl+I: the file chooser opens")
        self.s.focus_newest_window()
        self.s.type_text(path)
        self.s.keys("Return")
        self.s.wait(lambda: self.s.top_level("dialog", "Importa") not in (None, chooser)
                    and self.s.find(self.s.top_level("dialog", "Importa"), "push button",
                                    "Annulla") is not None,
                    "the file chosen: the preview opens")
        dialog = self.s.top_level("dialog", "Importa")
        self.s.focus_newest_window()
        summary = self.s.find(dialog, "label", predicate=lambda n: n.name.startswith(
            "Da aggiungere: "))
        self.equal(summary.name if summary else None,
                   "Da aggiungere: 1 nuclei familiari e 1 componenti. Righe scartate: 1. "
                   "Possibili doppioni: 1 righe (probabili: 1).",
                   "Importa: what would be added, read by name")
        for caption, shown in (("Codifica", "UTF-8"), ("Separatore", None)):
            node = self.s.find(dialog, "combo box", predicate=lambda n, c=caption:
                               c in labels_of(n) or n.name == c)
            self.check(node is not None, "Importa: the choice %r by its caption" % caption)
        cognome = self.s.find(dialog, "combo box",
                              predicate=lambda n: "Cognome" in (labels_of(n) or [n.name])[0])
        self.check(cognome is not None and "Cognome" in cognome.name,
                   "Importa: the column chosen for 'Cognome', read with its field",
                   "(got %r)" % (cognome.name if cognome else None))
        tables = [n.name for n in self.s.find_all(dialog, "table")]
        self.check(any(t.startswith("Righe scartate") for t in tables)
                   and any(t.startswith("Possibili doppioni") for t in tables),
                   "Importa: the tables of rejected rows and of duplicates by name",
                   "(got %r)" % tables)
        for name in ("Importa", "Annulla"):
            self.check(self.s.find(dialog, "push button", name) is not None,
                       "Importa: the button %r by name" % name)
        self.s.find(dialog, "push button", "Annulla").queryAction().doAction(0)
        self.s.wait(lambda: self.s.top_level("dialog", "Importa") is None,
                    "'Annulla' closes 'Importa'")
        self.check(not os.path.exists(os.path.join(self.s.folder.name, "elenco-scartate.csv")),
                   "Importa, Annulla: nothing written, no list of rejected rows")
