#pragma once

#include <QDate>
#include <QString>
#include <QVector>
#include <utility>

namespace marvesa {

// One cell of an exported row: nothing, a text or a calendar date.
struct Cell {
    enum class Kind { Empty, Text, Date };

    Kind kind = Kind::Empty;
    QString text;
    QDate date;

    static Cell empty() { return Cell(); }
    static Cell ofText(QString text) {
        Cell c;
        c.kind = Kind::Text;
        c.text = std::move(text);
        return c;
    }
    static Cell ofDate(QDate date) {
        Cell c;
        c.kind = Kind::Date;
        c.date = date;
        return c;
    }
};

// Writes one new workbook with a single worksheet "Foglio1", row by row.
// Row 1 holds the headers, the data rows follow in the order they are given.
// A backend may be a file writer or the automation of a spreadsheet
// application; every failure is thrown as marvesa::Error.
class WorkbookWriter {
public:
    virtual ~WorkbookWriter() = default;

    // Starts a new workbook with its one worksheet "Foglio1".
    virtual void begin() = 0;

    // Appends the next row: cell i goes to column i + 1.
    virtual void writeRow(const QVector<Cell>& cells) = 0;

    // Completes the workbook and returns the full path of its file. A writer
    // abandoned before finish() leaves no file behind.
    virtual QString finish() = 0;

    // The full path finish() will give, known once begin() has chosen it
    // (for the record of the export, written before the file is complete);
    // empty when the writer cannot tell.
    virtual QString plannedFile() const { return QString(); }

    // Gives up the workbook being written, if any: its file is removed.
    // Never throws.
    virtual void abandon() = 0;
};

}  // namespace marvesa
