#pragma once

#include <QDialog>
#include <QStringList>
#include <functional>

class QCheckBox;
class QLabel;
class QListWidget;

namespace marvesa {

// "Storico": the record history of the current family unit and its members,
// newest first, one Italian line per change, read only. The list takes the
// focus; the arrow keys move through it and a screen reader reads each line
// whole. Escape or "Chiudi" closes. Where the role may read the whole history
// (the administrator, everything on a file), "Tutto lo storico" shows the
// latest changes of every family unit with the exports and imports.
class HistoryDialog : public QDialog {
    Q_OBJECT
public:
    // The lines of the family unit, and a reader of the whole history's (an
    // empty function: not offered).
    HistoryDialog(const QString& familyCode, QStringList familyLines,
                  std::function<QStringList()> wholeHistory, QWidget* parent = nullptr);

    QListWidget* lines() const { return m_lines; }
    QCheckBox* wholeHistoryBox() const { return m_whole; }
    QLabel* status() const { return m_status; }

    // The lines shown now.
    QStringList shownLines() const;

private:
    void showLines(const QStringList& lines, const QString& emptyText);

    QStringList m_familyLines;
    std::function<QStringList()> m_wholeHistory;
    QListWidget* m_lines;
    QCheckBox* m_whole = nullptr;
    QLabel* m_status;
};

}  // namespace marvesa
