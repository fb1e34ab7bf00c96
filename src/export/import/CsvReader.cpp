// CSV files as Italian offices make them: ";" (or ",") between fields,
// quoted fields with line breaks, UTF-8 with or without a byte order mark,
// or Windows-1252. The fields are parsed by libcsv.

#include <csv.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include "data/base/Error.h"
#include "export/import/TableFile.h"

namespace marvesa {

namespace {

// What Windows-1252 puts at 0x80..0x9F; the rest is Latin-1.
const char16_t kHighControls[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                    0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

const QByteArray kBom = QByteArrayLiteral("\xEF\xBB\xBF");

bool isUtf8(QByteArrayView bytes) {
    return bytes.isValidUtf8();
}

// The separator of the header line: the one of ";", "," and tab that stands
// there most often outside quotes (";" on a tie: Italian spreadsheets use it,
// since "," is the decimal comma).
QChar detectSeparator(QByteArrayView bytes) {
    int semicolons = 0, commas = 0, tabs = 0;
    bool quoted = false;
    for (const char c : bytes) {
        if (c == '"')
            quoted = !quoted;
        else if (!quoted && (c == '\n' || c == '\r'))
            break;
        else if (!quoted && c == ';')
            ++semicolons;
        else if (!quoted && c == ',')
            ++commas;
        else if (!quoted && c == '\t')
            ++tabs;
    }
    if (tabs > semicolons && tabs > commas)
        return QLatin1Char('\t');
    return commas > semicolons ? QLatin1Char(',') : QLatin1Char(';');
}

// Collects libcsv's fields, decoded as they come, and the records, with the
// line each record begins on.
struct Collector {
    bool windows1252 = false;
    QVector<ImportCell> cells;
    std::vector<std::pair<int, QVector<ImportCell>>> records;
    int recordLine = 0;
    bool recordEnded = false;

    static void field(void* data, size_t size, void* self) {
        auto* c = static_cast<Collector*>(self);
        const QByteArrayView bytes(static_cast<const char*>(data), qsizetype(size));
        c->cells.append(ImportCell{
            c->windows1252 ? fromWindows1252(bytes) : QString::fromUtf8(bytes), QDate()});
    }
    static void record(int, void* self) {
        auto* c = static_cast<Collector*>(self);
        const qsizetype width = c->cells.size();
        c->records.emplace_back(c->recordLine, std::move(c->cells));
        c->cells = QVector<ImportCell>();
        c->cells.reserve(width);
        c->recordEnded = true;
    }
};

bool isBlankLine(QByteArrayView line) {
    for (const char c : line) {
        if (c != '\r' && c != '\n' && c != ' ' && c != '\t')
            return false;
    }
    return true;
}

}  // namespace

QString fromWindows1252(QByteArrayView bytes) {
    QString out(bytes.size(), Qt::Uninitialized);
    QChar* p = out.data();
    for (const char c : bytes) {
        const unsigned char b = static_cast<unsigned char>(c);
        *p++ = QChar(b >= 0x80 && b < 0xA0 ? kHighControls[b - 0x80] : char16_t(b));
    }
    return out;
}

TableFile readCsv(const QByteArray& source, const ReadOptions& options) {
    TableFile file;
    const bool bom = source.startsWith(kBom);
    const QByteArrayView bytes = QByteArrayView(source).sliced(bom ? kBom.size() : 0);
    file.encoding = !options.encoding.isEmpty() ? options.encoding
                    : (bom || isUtf8(bytes))    ? kUtf8
                                                : kWindows1252;
    file.separator = options.separator.isNull() ? detectSeparator(bytes) : options.separator;

    csv_parser parser;
    if (csv_init(&parser, 0) != 0)
        throw Error(QStringLiteral("Impossibile leggere il file CSV: memoria insufficiente"));
    struct Free {
        csv_parser& p;
        ~Free() { csv_free(&p); }
    } free{parser};
    csv_set_delim(&parser, static_cast<unsigned char>(file.separator.toLatin1()));

    // Fed one line at a time, so that each record knows the line it begins
    // on (a quoted field may run over several).
    Collector collector;
    collector.windows1252 = file.encoding == kWindows1252;
    collector.recordEnded = true;
    int line = 0;
    qsizetype from = 0;
    while (from < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', from);
        end = end < 0 ? bytes.size() : end + 1;
        const QByteArrayView piece = bytes.sliced(from, end - from);
        ++line;
        const bool startsRecord = collector.recordEnded && !isBlankLine(piece);
        if (startsRecord) {
            collector.recordLine = line;
            collector.recordEnded = false;
        }
        if (csv_parse(&parser, piece.data(), size_t(piece.size()), Collector::field,
                      Collector::record, &collector) != size_t(piece.size())) {
            throw Error(QStringLiteral("Il file CSV non si può leggere alla riga %1: %2")
                            .arg(line)
                            .arg(QString::fromLatin1(csv_strerror(csv_error(&parser)))));
        }
        from = end;
    }
    csv_fini(&parser, Collector::field, Collector::record, &collector);

    bool header = true;
    for (auto& [recordLine, cells] : collector.records) {
        bool blank = true;
        for (const ImportCell& c : cells) {
            if (!c.text.trimmed().isEmpty()) {
                blank = false;
                break;
            }
        }
        if (header) {
            for (const ImportCell& c : cells)
                file.headers << c.text.trimmed();
            header = false;
            continue;
        }
        if (!blank)
            file.rows.push_back({recordLine, std::move(cells)});
    }
    if (header)
        throw Error(QStringLiteral("Il file è vuoto: manca la riga delle intestazioni"));
    return file;
}

TableFile readTableFile(const QString& path, const ReadOptions& options) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    TableFile file;
    if (suffix == QLatin1String("xlsx") || suffix == QLatin1String("xltx")) {
        file = readWorkbook(path);
    } else {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            throw Error(QStringLiteral("Impossibile aprire il file \"%1\": %2")
                            .arg(QDir::toNativeSeparators(path), f.errorString()));
        }
        file = readCsv(f.readAll(), options);
    }
    file.path = path;
    return file;
}

}  // namespace marvesa
