#pragma once

// Reads a written workbook back with an independent reader (openpyxl, run by
// read_xlsx.py under /usr/bin/python3), for the export tests.

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QStringList>

namespace marvesa::test {

inline const char* const Python = "/usr/bin/python3";

// The header row of every export.
extern const QStringList ExportHeaders;

using CellKey = QPair<int, int>;  // row, column (from 1)

// What the reader reports for one non-empty cell.
struct ReadCell {
    QString type;   // openpyxl's: "s" text, "d" date, "n" number...
    QString value;  // as a spreadsheet shows it; dates as yyyy-mm-dd
    QString numberFormat;
    bool isDate = false;
};

struct ReadBook {
    QStringList sheets;
    // The first worksheet as it opens: "A2" when the first row is frozen,
    // the filter's range ("A1:P4"), column widths by letter, the columns
    // (from 1) whose header is bold.
    QString freezePanes;
    QString autoFilter;
    QMap<QString, double> columnWidths;
    QList<int> boldHeaders;
    bool isTemplate = false;  // by its content type, and to openpyxl
    QMap<CellKey, ReadCell> cells;

    // Every cell as "<type>:<value>".
    QMap<CellKey, QString> shown() const {
        QMap<CellKey, QString> r;
        for (auto it = cells.cbegin(); it != cells.cend(); ++it)
            r.insert(it.key(), it->type + QLatin1Char(':') + it->value);
        return r;
    }
};

// Reads the workbook at `path`; false when the reader cannot run or fails.
bool readXlsx(const QString& path, ReadBook& book);

}  // namespace marvesa::test

// Reads `path` into `book`: skips the test where python3 or openpyxl is
// missing, fails it when the reader fails on the file.
#define READ_OR_SKIP(path, book)                                                                \
    do {                                                                                        \
        if (!QFileInfo::exists(QString::fromLatin1(marvesa::test::Python)))                     \
            QSKIP("/usr/bin/python3 is missing: the workbook cannot be read back");             \
        if (!marvesa::test::readXlsx(path, book)) {                                             \
            QProcess probe;                                                                     \
            probe.start(QString::fromLatin1(marvesa::test::Python),                             \
                        {QStringLiteral("-c"), QStringLiteral("import openpyxl")});             \
            probe.waitForFinished(60000);                                                       \
            if (probe.exitCode() != 0)                                                          \
                QSKIP("openpyxl is missing for /usr/bin/python3: the workbook cannot be read"); \
            QFAIL("the reader could not read the workbook");                                    \
        }                                                                                       \
    } while (false)
