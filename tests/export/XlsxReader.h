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
inline const QStringList ExportHeaders =
    QStringLiteral(
        "Denominazione nucleo familiare|Cognome|Nome|Sesso|Data di Nascita|Nazione di Nascita|"
        "Cittadinanza|Grado di Parentela|Comune|Indirizzo|Ospitante|Telefono per contatti|"
        "Termine disponibiltà alloggio|Data Ingresso|Frontiera|Priorità per necessità specifiche")
        .split(QLatin1Char('|'));

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
inline bool readXlsx(const QString& path, ReadBook& book) {
    if (!QFileInfo::exists(QString::fromLatin1(Python)))
        return false;
    QProcess p;
    p.start(QString::fromLatin1(Python), {QStringLiteral(MARVESA_READ_XLSX_SCRIPT), path});
    if (!p.waitForFinished(60000))
        return false;
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning("reader failed: %s", p.readAllStandardError().constData());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(p.readAllStandardOutput(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        qWarning("reader output is not JSON: %s", qPrintable(parseError.errorString()));
        return false;
    }
    const QJsonObject root = doc.object();
    const QJsonObject layout = root.value(QStringLiteral("layout")).toObject();
    book.freezePanes = layout.value(QStringLiteral("freeze_panes")).toString();
    book.autoFilter = layout.value(QStringLiteral("auto_filter")).toString();
    const QJsonObject widths = layout.value(QStringLiteral("column_widths")).toObject();
    for (auto it = widths.begin(); it != widths.end(); ++it)
        book.columnWidths.insert(it.key(), it.value().toDouble());
    for (const QJsonValue& c : layout.value(QStringLiteral("bold_headers")).toArray())
        book.boldHeaders << c.toInt();
    for (const QJsonValue& s : root.value(QStringLiteral("sheets")).toArray())
        book.sheets << s.toString();
    book.isTemplate = root.value(QStringLiteral("template")).toBool() &&
                      root.value(QStringLiteral("openpyxl_template")).toBool();
    for (const QJsonValue& v : root.value(QStringLiteral("cells")).toArray()) {
        const QJsonObject c = v.toObject();
        book.cells.insert(
            {c.value(QStringLiteral("row")).toInt(), c.value(QStringLiteral("column")).toInt()},
            {c.value(QStringLiteral("type")).toString(),
             c.value(QStringLiteral("value")).toVariant().toString(),
             c.value(QStringLiteral("number_format")).toString(),
             c.value(QStringLiteral("is_date")).toBool()});
    }
    return true;
}

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
