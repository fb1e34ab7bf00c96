#include "ui/bound/BoundComboBox.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QScopedValueRollback>
#include <QWheelEvent>

#include "ui/services/ErrorReport.h"

namespace marvesa {

BoundComboBox::BoundComboBox(const QString& dataSourceName, const QString& fieldName,
                             QWidget* parent)
    : QComboBox(parent), BoundControl(dataSourceName, fieldName) {
    setEditable(false);
    setFocusPolicy(Qt::StrongFocus);
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    connect(this, qOverload<int>(&QComboBox::activated), this, &BoundComboBox::onActivated);
    // While the list is open the keys go to it: its own search (by the
    // first letter) must not take over from the control's.
    view()->installEventFilter(this);
    const auto forget = [this] { m_searchTexts.clear(); };
    connect(model(), &QAbstractItemModel::rowsInserted, this, forget);
    connect(model(), &QAbstractItemModel::rowsRemoved, this, forget);
    connect(model(), &QAbstractItemModel::modelReset, this, forget);
    connect(model(), &QAbstractItemModel::dataChanged, this, forget);
}

QString BoundComboBox::text() const {
    return currentIndex() >= 0 ? itemText(currentIndex()) : QString();
}

void BoundComboBox::showIndex(int index) {
    QScopedValueRollback<bool> guard(m_showing, true);
    setCurrentIndex(index);
}

void BoundComboBox::onActivated(int index) {
    if (m_showing)
        return;
    if (!isEditing()) {
        showColumn();
        return;
    }
    runGuarded([&] { itemChosen(index); });
}

namespace {

bool isPrintable(const QKeyEvent* e) {
    const QString t = e->text();
    return !t.isEmpty() && t.at(0).unicode() >= 0x20 && t.at(0) != QChar(0x7F) &&
           !(e->modifiers() & (Qt::ControlModifier | Qt::MetaModifier | Qt::AltModifier));
}

bool opensList(const QKeyEvent* e) {
    return e->key() == Qt::Key_F4 || ((e->modifiers() & Qt::AltModifier) &&
                                      (e->key() == Qt::Key_Down || e->key() == Qt::Key_Up));
}

bool movesSelection(const QKeyEvent* e) {
    switch (e->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End:
            return true;
        default:
            return false;
    }
}

}  // namespace

void BoundComboBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        showColumn();
        event->accept();
        return;
    }
    if (opensList(event)) {
        QComboBox::keyPressEvent(event);
        return;
    }
    if (isPrintable(event)) {
        if (isEditing()) {
            typeAhead(event->text());
            if (m_dropDownOnTyping && !view()->isVisible())
                showPopup();
        }
        event->accept();
        return;
    }
    if (movesSelection(event) && !isEditing()) {
        event->accept();
        return;
    }
    QComboBox::keyPressEvent(event);
}

bool BoundComboBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view() && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (isPrintable(key)) {
            if (isEditing())
                typeAhead(key->text());
            return true;
        }
    }
    return QComboBox::eventFilter(watched, event);
}

void BoundComboBox::wheelEvent(QWheelEvent* event) {
    if (!isEditing()) {
        event->accept();
        return;
    }
    QComboBox::wheelEvent(event);
}

void BoundComboBox::focusInEvent(QFocusEvent* event) {
    // The focus coming back from the control's own open list is no new visit.
    if (event->reason() != Qt::PopupFocusReason) {
        m_typed.clear();
        m_sinceTyped.invalidate();
    }
    QComboBox::focusInEvent(event);
}

QString BoundComboBox::searchFolded(const QString& text) {
    const QString decomposed = text.normalized(QString::NormalizationForm_D);
    QString folded;
    folded.reserve(decomposed.size());
    for (QChar c : decomposed) {
        if (c.category() != QChar::Mark_NonSpacing)
            folded += c;
    }
    return folded.toCaseFolded();
}

// Characters typed with pauses of at most kSearchPauseMs make one search
// text; the first item that begins with it, ignoring case and accents, is
// chosen. A character that matches nothing is refused.
void BoundComboBox::typeAhead(const QString& typed) {
    if (!m_sinceTyped.isValid() || m_sinceTyped.elapsed() > kSearchPauseMs)
        m_typed.clear();
    m_sinceTyped.start();
    if (m_searchTexts.size() != count()) {
        m_searchTexts.clear();
        m_searchTexts.reserve(count());
        for (int i = 0; i < count(); ++i)
            m_searchTexts << searchFolded(itemText(i));
    }
    const QString search = m_typed + typed;
    const QString folded = searchFolded(search);
    for (int i = 0; i < m_searchTexts.size(); ++i) {
        if (m_searchTexts.at(i).startsWith(folded)) {
            m_typed = search;
            if (view()->isVisible())
                view()->setCurrentIndex(model()->index(i, modelColumn()));
            if (i != currentIndex()) {
                showIndex(i);
                runGuarded([&] { itemChosen(i); });
            }
            return;
        }
    }
    QApplication::beep();
}

}  // namespace marvesa
