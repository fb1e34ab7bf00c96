// Workbooks (.xlsx, and the .xltx templates "Esporta" makes): the first
// worksheet, read from the package with libzip and Qt's XML reader. Texts
// come from the shared strings or inline in the cell; numbers as the
// spreadsheet shows them plainly; a number in a date format is a date
// (days since 30 December 1899, or 1 January 1904 when the workbook says so);
// a date written as text stays text and is read as the clerk typed it.

#include <zip.h>

#include <QDir>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QXmlStreamReader>
#include <cmath>

#include "data/base/Error.h"
#include "export/import/TableFile.h"

namespace marvesa {

namespace {

const QString kMain = QStringLiteral("http://schemas.openxmlformats.org/spreadsheetml/2006/main");

class Package {
public:
    explicit Package(const QString& path) : m_shown(QDir::toNativeSeparators(path)) {
        int code = 0;
        m_zip = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &code);
        if (!m_zip) {
            zip_error_t error;
            zip_error_init_with_code(&error, code);
            const QString text = QString::fromUtf8(zip_error_strerror(&error));
            zip_error_fini(&error);
            throw Error(QStringLiteral("Impossibile aprire il foglio di calcolo \"%1\": %2")
                            .arg(m_shown, text));
        }
    }
    ~Package() { zip_discard(m_zip); }
    Package(const Package&) = delete;
    Package& operator=(const Package&) = delete;

    bool has(const QString& name) const {
        return zip_name_locate(m_zip, name.toUtf8().constData(), 0) >= 0;
    }

    // The entry `name`, whole; empty when missing and not `required`.
    QByteArray read(const QString& name, bool required = true) const {
        const QByteArray n = name.toUtf8();
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat(m_zip, n.constData(), 0, &stat) != 0) {
            if (!required)
                return QByteArray();
            fail(QStringLiteral("manca la parte %1").arg(name));
        }
        zip_file_t* f = zip_fopen(m_zip, n.constData(), 0);
        if (!f)
            fail(QString::fromUtf8(zip_strerror(m_zip)));
        QByteArray data;
        char buffer[65536];
        zip_int64_t got;
        while ((got = zip_fread(f, buffer, sizeof buffer)) > 0)
            data.append(buffer, qsizetype(got));
        zip_fclose(f);
        if (got < 0)
            fail(QStringLiteral("la parte %1 è danneggiata").arg(name));
        return data;
    }

    [[noreturn]] void fail(const QString& why) const {
        throw Error(
            QStringLiteral("Il foglio di calcolo \"%1\" non si può leggere: %2").arg(m_shown, why));
    }

private:
    QString m_shown;
    zip_t* m_zip = nullptr;
};

// The text of an element made of runs (<si>, <is>): every <t> inside it.
QString runsText(QXmlStreamReader& xml) {
    QString text;
    const QString end = xml.name().toString();
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("t"))
            text += xml.readElementText();
        else if (xml.isStartElement() && xml.name() == QLatin1String("rPh"))
            xml.skipCurrentElement();  // phonetic hints are not the text
        else if (xml.isEndElement() && xml.name() == end)
            break;
    }
    return text;
}

// Decodes the "_xHHHH_" escapes with which the format writes characters it
// cannot carry ("_x005F_" is an underscore).
QString unescaped(const QString& text) {
    if (!text.contains(QLatin1String("_x")))
        return text;
    static const QRegularExpression escape(QStringLiteral("_x([0-9A-Fa-f]{4})_"));
    QString out;
    qsizetype done = 0;
    for (auto it = escape.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out += QStringView(text).mid(done, m.capturedStart() - done);
        out += QChar(char16_t(m.captured(1).toUShort(nullptr, 16)));
        done = m.capturedEnd();
    }
    out += QStringView(text).mid(done);
    return out;
}

QStringList sharedStrings(const Package& package) {
    QStringList strings;
    const QByteArray data = package.read(QStringLiteral("xl/sharedStrings.xml"), false);
    // A workbook whose texts are all in their cells has no such part.
    if (data.isEmpty())
        return strings;
    QXmlStreamReader xml(data);
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("si"))
            strings << unescaped(runsText(xml));
    }
    if (xml.hasError())
        package.fail(QStringLiteral("testi condivisi: %1").arg(xml.errorString()));
    return strings;
}

// Whether a number format shows a date: the built-in date formats, and any
// format with a day, month or year code outside quotes and brackets.
bool isDateFormat(int id, const QString& code) {
    if ((id >= 14 && id <= 17) || id == 22 || (id >= 27 && id <= 36) || (id >= 50 && id <= 58))
        return true;
    if (code.isEmpty())
        return false;
    bool quoted = false;
    int bracket = 0;
    for (const QChar c : code) {
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (quoted)
            continue;
        else if (c == QLatin1Char('['))
            ++bracket;
        else if (c == QLatin1Char(']'))
            --bracket;
        else if (bracket == 0 && QStringLiteral("dmyDMY").contains(c))
            return true;
    }
    return false;
}

// For each cell style (the "s" of a cell), whether it shows a date.
QVector<bool> dateStyles(const Package& package) {
    QVector<bool> styles;
    const QByteArray data = package.read(QStringLiteral("xl/styles.xml"), false);
    QHash<int, QString> formats;
    QXmlStreamReader xml(data);
    bool inCellXfs = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.name() == QLatin1String("numFmt")) {
                formats.insert(xml.attributes().value(QLatin1String("numFmtId")).toInt(),
                               xml.attributes().value(QLatin1String("formatCode")).toString());
            } else if (xml.name() == QLatin1String("cellXfs")) {
                inCellXfs = true;
            } else if (inCellXfs && xml.name() == QLatin1String("xf")) {
                const int id = xml.attributes().value(QLatin1String("numFmtId")).toInt();
                styles << isDateFormat(id, formats.value(id));
            }
        } else if (xml.isEndElement() && xml.name() == QLatin1String("cellXfs")) {
            inCellXfs = false;
        }
    }
    return styles;
}

// The part of the first worksheet, and whether dates count from 1904.
QString firstSheet(const Package& package, bool* from1904) {
    QString relationId;
    QXmlStreamReader book(package.read(QStringLiteral("xl/workbook.xml")));
    *from1904 = false;
    while (!book.atEnd()) {
        book.readNext();
        if (!book.isStartElement())
            continue;
        if (book.name() == QLatin1String("workbookPr")) {
            const QStringView v = book.attributes().value(QLatin1String("date1904"));
            *from1904 = v == QLatin1String("1") || v == QLatin1String("true");
        } else if (book.name() == QLatin1String("sheet") && relationId.isEmpty()) {
            for (const QXmlStreamAttribute& a : book.attributes()) {
                if (a.name() == QLatin1String("id"))
                    relationId = a.value().toString();
            }
        }
    }
    QXmlStreamReader rels(package.read(QStringLiteral("xl/_rels/workbook.xml.rels"), false));
    while (!rels.atEnd()) {
        rels.readNext();
        if (rels.isStartElement() && rels.name() == QLatin1String("Relationship") &&
            rels.attributes().value(QLatin1String("Id")) == relationId) {
            QString target = rels.attributes().value(QLatin1String("Target")).toString();
            if (target.startsWith(QLatin1Char('/')))
                return target.mid(1);
            return QStringLiteral("xl/") + target;
        }
    }
    if (package.has(QStringLiteral("xl/worksheets/sheet1.xml")))
        return QStringLiteral("xl/worksheets/sheet1.xml");
    package.fail(QStringLiteral("non contiene fogli"));
}

// The column of a reference such as "AB12", from 0.
int columnOf(QStringView reference) {
    int column = 0;
    for (const QChar c : reference) {
        if (c < QLatin1Char('A') || c > QLatin1Char('Z'))
            break;
        column = column * 26 + (c.unicode() - u'A' + 1);
    }
    return column - 1;
}

// A number as a spreadsheet shows it plainly: whole numbers without a
// decimal part or exponent (telephone numbers, house numbers).
QString numberText(const QString& raw) {
    bool ok = false;
    const double v = raw.toDouble(&ok);
    if (!ok)
        return raw;
    if (std::floor(v) == v && std::fabs(v) < 1e15)
        return QString::number(qint64(v));
    return QString::number(v, 'g', 15);
}

}  // namespace

TableFile readWorkbook(const QString& path) {
    const Package package(path);
    const QStringList strings = sharedStrings(package);
    const QVector<bool> dates = dateStyles(package);
    bool from1904 = false;
    const QString sheet = firstSheet(package, &from1904);
    const QDate epoch = from1904 ? QDate(1904, 1, 1) : QDate(1899, 12, 30);

    TableFile file;
    file.format = TableFile::Format::Workbook;
    QXmlStreamReader xml(package.read(sheet));
    std::vector<ImportRow> rows;
    ImportRow row;
    int rowNumber = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("row")) {
            const int r = xml.attributes().value(QLatin1String("r")).toInt();
            rowNumber = r > 0 ? r : rowNumber + 1;
            row = ImportRow{rowNumber, {}};
        } else if (xml.isEndElement() && xml.name() == QLatin1String("row")) {
            rows.push_back(std::move(row));
            row = ImportRow();
        } else if (xml.isStartElement() && xml.name() == QLatin1String("c")) {
            const QXmlStreamAttributes a = xml.attributes();
            const QString type = a.value(QLatin1String("t")).toString();
            const int style = a.value(QLatin1String("s")).toInt();
            int column = a.hasAttribute(QLatin1String("r")) ? columnOf(a.value(QLatin1String("r")))
                                                            : int(row.cells.size());
            if (column < 0 || column > 16383)
                column = int(row.cells.size());
            QString value, inlineText;
            bool hasInline = false;
            while (!xml.atEnd()) {
                xml.readNext();
                if (xml.isStartElement() && xml.name() == QLatin1String("v")) {
                    value = xml.readElementText();
                } else if (xml.isStartElement() && xml.name() == QLatin1String("is")) {
                    inlineText = runsText(xml);
                    hasInline = true;
                } else if (xml.isEndElement() && xml.name() == QLatin1String("c")) {
                    break;
                }
            }
            ImportCell cell;
            if (type == QLatin1String("s")) {
                cell.text = strings.value(value.toInt());
            } else if (type == QLatin1String("inlineStr") || hasInline) {
                cell.text = unescaped(inlineText);
            } else if (type == QLatin1String("str") || type == QLatin1String("e")) {
                cell.text = unescaped(value);
            } else if (type == QLatin1String("b")) {
                cell.text =
                    value == QLatin1String("1") ? QStringLiteral("VERO") : QStringLiteral("FALSO");
            } else if (type == QLatin1String("d")) {
                cell.date = QDate::fromString(value.left(10), Qt::ISODate);
                cell.text =
                    cell.date.isValid() ? cell.date.toString(QStringLiteral("dd/MM/yyyy")) : value;
            } else if (!value.isEmpty()) {
                bool ok = false;
                const double serial = value.toDouble(&ok);
                if (ok && style >= 0 && style < dates.size() && dates.at(style) && serial >= 0 &&
                    serial < 2958466) {
                    // The 1900 system counts a 29 February 1900 that never
                    // was: the days before it are one off.
                    const QDate start = !from1904 && serial < 61 ? epoch.addDays(1) : epoch;
                    cell.date = start.addDays(qint64(std::floor(serial)));
                    cell.text = cell.date.toString(QStringLiteral("dd/MM/yyyy"));
                } else {
                    cell.text = numberText(value);
                }
            }
            if (row.cells.size() <= column)
                row.cells.resize(column + 1);
            row.cells[column] = cell;
        }
    }
    if (xml.hasError())
        package.fail(xml.errorString());

    bool header = true;
    for (ImportRow& r : rows) {
        bool blank = true;
        for (const ImportCell& c : r.cells) {
            if (!c.text.trimmed().isEmpty())
                blank = false;
        }
        if (header) {
            if (blank)
                continue;  // rows above the headers
            for (const ImportCell& c : r.cells)
                file.headers << c.text.trimmed();
            header = false;
            continue;
        }
        if (!blank)
            file.rows.push_back(std::move(r));
    }
    if (header)
        throw Error(QStringLiteral("Il foglio di calcolo \"%1\" è vuoto: manca la riga delle "
                                   "intestazioni")
                        .arg(QDir::toNativeSeparators(path)));
    return file;
}

}  // namespace marvesa
