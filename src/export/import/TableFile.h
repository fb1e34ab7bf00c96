#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <QVector>
#include <vector>

namespace marvesa {

// One cell of a file being imported: its text, and its date when the file
// itself says it is one (a date cell of a workbook).
struct ImportCell {
    QString text;
    QDate date;
};

// One row of data, with the line of the file it begins on (CSV) or its row
// number (workbook), as the clerk finds it when mending the file.
struct ImportRow {
    int line = 0;
    QVector<ImportCell> cells;

    // The cell `column`, or an empty one when the row is shorter.
    ImportCell cell(int column) const {
        return column >= 0 && column < cells.size() ? cells.at(column) : ImportCell();
    }
};

// The encodings a CSV file is read in.
inline const QString kUtf8 = QStringLiteral("UTF-8");
inline const QString kWindows1252 = QStringLiteral("Windows-1252");

// A file read for "Importa": its header row and its rows of data. Rows
// whose cells are all blank are left out.
struct TableFile {
    enum class Format { Csv, Workbook };
    Format format = Format::Csv;
    QString path;
    // How a CSV file was read (detected, or as asked): its encoding (kUtf8,
    // kWindows1252) and its separator.
    QString encoding;
    QChar separator;
    QStringList headers;
    std::vector<ImportRow> rows;
};

// How to read a CSV file: empty (null) for "detect it".
struct ReadOptions {
    QString encoding;
    QChar separator;
};

// Reads a .csv, .xlsx or .xltx file (by its extension; anything else is read
// as CSV). Throws marvesa::Error with an Italian message when it cannot.
TableFile readTableFile(const QString& path, const ReadOptions& options = {});

// The readers behind it.
TableFile readCsv(const QByteArray& bytes, const ReadOptions& options = {});
TableFile readWorkbook(const QString& path);

// Text in Windows-1252, the encoding of spreadsheets saved as CSV by the
// office programs of Italian Windows computers; and back.
QString fromWindows1252(QByteArrayView bytes);

}  // namespace marvesa
