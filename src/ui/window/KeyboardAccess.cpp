#include "ui/window/KeyboardAccess.h"

#include <QApplication>
#include <QShortcut>
#include <QToolButton>

#include "ui/services/ErrorReport.h"
#include "ui/window/MainWindow.h"
#include "ui/window/WindowLayout.h"

namespace marvesa {

namespace {

struct NavigatorKey {
    DBNavigator::Button button;
    QKeySequence keys;
    const char* spoken;  // the keys as the operator reads them
};

const NavigatorKey kNavigatorKeys[] = {
    {DBNavigator::First, QKeySequence(Qt::ALT | Qt::Key_Home), "Alt+Inizio"},
    {DBNavigator::Prior, QKeySequence(Qt::ALT | Qt::Key_PageUp), "Alt+Pag Su"},
    {DBNavigator::Next, QKeySequence(Qt::ALT | Qt::Key_PageDown), "Alt+Pag Giù"},
    {DBNavigator::Last, QKeySequence(Qt::ALT | Qt::Key_End), "Alt+Fine"},
    {DBNavigator::Refresh, QKeySequence(Qt::Key_F5), "F5"},
};

// The member panel: its header bar and its body, the lower part of the window.
int memberPanelTop() {
    for (const layout::ShapeEntry& s : layout::shapes()) {
        if (QLatin1String(s.name) == QLatin1String("Shape4"))
            return s.rect.top();
    }
    Q_UNREACHABLE();
}

void describeKeys(QWidget* w, const QString& keys) {
    w->setToolTip(w->accessibleName() + QStringLiteral(" (") + keys + QLatin1Char(')'));
    w->setAccessibleDescription(QStringLiteral("Scorciatoia: ") + keys);
}

}  // namespace

KeyboardAccess::KeyboardAccess(TfrmMain& window) : QObject(&window), m_window(window) {
    setObjectName(QStringLiteral("keyboardAccess"));
    addShortcut(QKeySequence(Qt::ALT | Qt::Key_L), [this] { enterList(m_window.DBGrid2); });
    addShortcut(QKeySequence(Qt::ALT | Qt::Key_C), [this] { enterList(m_window.DBGrid1); });
    for (const NavigatorKey& k : kNavigatorKeys) {
        addShortcut(k.keys, [this, button = k.button] { pressNavigator(button); });
    }
    const QString leave = QStringLiteral("; frecce: scorrere; Esc: uscire dalla lista");
    m_window.DBGrid2->setAccessibleDescription(QStringLiteral("Scorciatoia: Alt+L") + leave);
    m_window.DBGrid1->setAccessibleDescription(QStringLiteral("Scorciatoia: Alt+C") + leave);
    for (DBNavigator* nav : {m_window.DBNavigator2, m_window.DBNavigator1}) {
        for (const NavigatorKey& k : kNavigatorKeys)
            describeKeys(nav->button(k.button), keysOf(k.button));
    }
}

QString KeyboardAccess::keysOf(DBNavigator::Button button) {
    for (const NavigatorKey& k : kNavigatorKeys) {
        if (k.button == button)
            return QString::fromUtf8(k.spoken);
    }
    return QString();
}

void KeyboardAccess::addShortcut(const QKeySequence& keys, std::function<void()> action) {
    // Active wherever the focus is in the window, also inside the scroll
    // area of a small screen.
    auto* shortcut = new QShortcut(keys, &m_window);
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this,
            [action = std::move(action)] { runGuarded(action); });
}

DBNavigator* KeyboardAccess::navigatorInFocus() const {
    QWidget* w = QApplication::focusWidget();
    while (w && w->parentWidget() != &m_window)
        w = w->parentWidget();
    const bool memberPanel = w && w->geometry().top() >= memberPanelTop();
    return memberPanel ? m_window.DBNavigator1 : m_window.DBNavigator2;
}

void KeyboardAccess::pressNavigator(DBNavigator::Button button) {
    // As a click on a button that never takes the focus: the focus stays
    // where it is, and the table first ends a pending edit.
    navigatorInFocus()->click(button);
}

void KeyboardAccess::enterList(DBGrid* grid) {
    grid->setFocus(Qt::ShortcutFocusReason);
}

}  // namespace marvesa
