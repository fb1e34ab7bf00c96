#include "export/XltxWorkbookWriter.h"

#include <xlsxwriter.h>
#include <zip.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStorageInfo>
#include <cerrno>
#include <utility>

#include "data/base/Error.h"
#include "export/ErrorOutputCapture.h"
#include "export/PrivateFolder.h"

namespace marvesa {

namespace {

constexpr char SheetName[] = "Foglio1";
// A workbook being written carries this after its final name, until it is
// complete; libzip's own temporary, made while the package is rewritten,
// adds a dot and six characters to the name it rewrites.
constexpr char PartialSuffix[] = ".part";
constexpr char DateFormat[] = "dd/mm/yyyy";
constexpr char ContentTypesEntry[] = "[Content_Types].xml";

const QFile::Permissions PrivateFile = QFile::ReadOwner | QFile::WriteOwner;

QString native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// Whether a failure to write in `folder` came from a full disk: the system
// said so, or the disk has (next to) no room left.
bool diskFull(int error, const QString& folder) {
    if (error == ENOSPC)
        return true;
#ifdef EDQUOT
    if (error == EDQUOT)
        return true;
#endif
    const QStorageInfo disk(folder);
    return disk.isValid() && disk.bytesAvailable() < 256 * 1024;
}

// What the operator reads when a workbook cannot be written for want of
// room.
QString diskFullMessage(const QString& path) {
    return QStringLiteral(
               "Impossibile scrivere il foglio di calcolo \"%1\": il disco è pieno. "
               "Nessun dato è andato perduto: liberare spazio sul disco e ripetere "
               "l'esportazione")
        .arg(native(path));
}

// The earliest and latest day a date cell can show with its number format.
bool fitsDateCell(const QDate& d) {
    return d >= QDate(1900, 1, 1) && d <= QDate(9999, 12, 31);
}

bool isHex(QChar c) {
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F');
}

// The UTF-8 bytes stored for a text cell.
//
// The file format writes characters it cannot carry as "_xHHHH_", and every
// reader decodes such a sequence; a text that itself contains one gets its
// underscore stored as "_x005F_" so that it reads back unchanged. U+0000
// cannot be stored at all and is dropped.
//
// A cell holds at most MaxTextLength UTF-16 code units once read back, and
// libxlsxwriter refuses a stored text of more than MaxTextLength code points
// (escapes included). The text is cut where the next character would break
// either limit, never inside a surrogate pair.
QByteArray cellBytes(const QString& text) {
    const int limit = XltxWorkbookWriter::MaxTextLength;
    if (text.size() <= limit && !text.contains(QLatin1Char('_')) && !text.contains(QChar(0)))
        return text.toUtf8();

    QString out;
    out.reserve(qMin<qsizetype>(text.size(), limit) + 16);
    qsizetype units = 0;   // UTF-16 code units of the text as read back
    qsizetype points = 0;  // code points as stored
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c.unicode() == 0)
            continue;
        if (c.isHighSurrogate() && i + 1 < n && text.at(i + 1).isLowSurrogate()) {
            if (units + 2 > limit || points + 1 > limit)
                break;
            out += c;
            out += text.at(++i);
            units += 2;
            points += 1;
            continue;
        }
        const bool escape = c == QLatin1Char('_') && i + 6 < n &&
                            text.at(i + 1) == QLatin1Char('x') && isHex(text.at(i + 2)) &&
                            isHex(text.at(i + 3)) && isHex(text.at(i + 4)) &&
                            isHex(text.at(i + 5)) && text.at(i + 6) == QLatin1Char('_');
        const int stored = escape ? 7 : 1;
        if (units + 1 > limit || points + stored > limit)
            break;
        if (escape)
            out += QLatin1String("_x005F_");
        else
            out += c;
        units += 1;
        points += stored;
    }
    return out.toUtf8();
}

QString zipErrorText(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    const QString text = QString::fromUtf8(zip_error_strerror(&error));
    zip_error_fini(&error);
    return text;
}

// Turns the finished workbook package into a template package: only the
// content type of the workbook part changes, in [Content_Types].xml; every
// other entry is copied as it is. Throws the reason as an Error.
void convertToTemplate(const QString& path) {
    static const QByteArray workbookType = QByteArrayLiteral(
        "\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"");
    static const QByteArray templateType = QByteArrayLiteral(
        "\"application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml\"");

    const QByteArray encoded = QFile::encodeName(path);
    int code = 0;
    zip_t* archive = zip_open(encoded.constData(), 0, &code);
    if (!archive)
        throw Error(zipErrorText(code));

    // Discards the archive unchanged on every way out but a successful close.
    struct Discard {
        zip_t*& archive;
        ~Discard() {
            if (archive)
                zip_discard(archive);
        }
    } discard{archive};
    const auto archiveError = [&archive] { return QString::fromUtf8(zip_strerror(archive)); };

    const zip_int64_t index = zip_name_locate(archive, ContentTypesEntry, 0);
    if (index < 0)
        throw Error(QStringLiteral("il pacchetto non contiene la voce %1")
                        .arg(QLatin1String(ContentTypesEntry)));

    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive, zip_uint64_t(index), 0, &stat) != 0)
        throw Error(archiveError());
    if (!(stat.valid & ZIP_STAT_SIZE) || stat.size > 16 * 1024 * 1024)
        throw Error(
            QStringLiteral("la voce %1 non è leggibile").arg(QLatin1String(ContentTypesEntry)));

    QByteArray xml(qsizetype(stat.size), Qt::Uninitialized);
    zip_file_t* file = zip_fopen_index(archive, zip_uint64_t(index), 0);
    if (!file)
        throw Error(archiveError());
    const zip_int64_t read = zip_fread(file, xml.data(), stat.size);
    const QString readError = QString::fromUtf8(zip_file_strerror(file));
    zip_fclose(file);
    if (read != zip_int64_t(stat.size))
        throw Error(readError);

    if (!xml.contains(workbookType))
        throw Error(QStringLiteral("il tipo di contenuto della cartella di lavoro non è stato "
                                   "trovato in %1")
                        .arg(QLatin1String(ContentTypesEntry)));
    xml.replace(workbookType, templateType);

    // `xml` outlives zip_close(), which is when libzip reads the buffer.
    zip_source_t* source = zip_source_buffer(archive, xml.constData(), zip_uint64_t(xml.size()), 0);
    if (!source)
        throw Error(archiveError());
    if (zip_file_replace(archive, zip_uint64_t(index), source, 0) < 0) {
        zip_source_free(source);
        throw Error(archiveError());
    }
    if (zip_close(archive) < 0)
        throw Error(archiveError());
    archive = nullptr;
}

}  // namespace

XltxWorkbookWriter::XltxWorkbookWriter(QString folder)
    : m_requestedFolder(folder.isEmpty() ? defaultFolder() : std::move(folder)),
      m_folder(m_requestedFolder) {}

XltxWorkbookWriter::~XltxWorkbookWriter() {
    abandon();
}

QString XltxWorkbookWriter::defaultFolder() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::TempLocation))
        .absoluteFilePath(QStringLiteral("marvesa-") + platform::userNameForFiles());
}

void XltxWorkbookWriter::prepareFolder() {
    // The folder must be a real folder of ours that nobody else can enter,
    // otherwise another user could read or replace the exported data.
    const QFileInfo wanted(m_requestedFolder);
    QDir().mkpath(wanted.absolutePath());
    QString refusal;
    if (platform::claimPrivateFolder(m_requestedFolder, &refusal)) {
        m_folder = m_requestedFolder;
        return;
    }
    // Another account took the name first (or put a link or a file there):
    // the workbook goes to a private folder of ours beside it, one made by
    // an earlier export when there is one, otherwise a new one with a
    // random name. Nothing is ever written through what stands there.
    const QDir parent = wanted.absoluteDir();
    const QString prefix = wanted.fileName() + QLatin1Char('-');
    const QStringList earlier = parent.entryList(
        {prefix + QLatin1Char('*')}, QDir::Dirs | QDir::NoSymLinks | QDir::Hidden, QDir::Name);
    for (const QString& name : earlier) {
        const QString candidate = parent.absoluteFilePath(name);
        QString ignored;
        if (platform::claimPrivateFolder(candidate, &ignored)) {
            m_folder = candidate;
            return;
        }
    }
    m_folder = platform::createPrivateFolder(parent.absolutePath(), prefix);
}

QString XltxWorkbookWriter::reserveFile() const {
    // Creating the file here, exclusively and readable by its owner only,
    // claims the name; the workbook is then written into this very file.
    const QDir dir(m_folder);
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int attempt = 0; attempt < 64; ++attempt) {
        const QString path = dir.absoluteFilePath(
            QStringLiteral("Marvesa-export-%1-%2.xltx%3")
                .arg(stamp)
                .arg(QRandomGenerator::system()->generate(), 8, 16, QLatin1Char('0'))
                .arg(QLatin1String(PartialSuffix)));
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly, PrivateFile))
            return path;
        if (!QFileInfo::exists(path))
            throw Error(QStringLiteral("Impossibile creare il file \"%1\": %2")
                            .arg(native(path), file.errorString()));
    }
    throw Error(QStringLiteral("Impossibile trovare un nome libero per il foglio di calcolo nella "
                               "cartella \"%1\".")
                    .arg(native(m_folder)));
}

void XltxWorkbookWriter::begin() {
    if (m_workbook)
        throw Error(QStringLiteral("Il foglio di calcolo \"%1\" è ancora in scrittura.")
                        .arg(native(m_path)));
    prepareFolder();
    removeStaleExports(m_folder);
    m_path = reserveFile();
    m_encodedPath = QFile::encodeName(m_path);
    m_encodedTmpDir = QFile::encodeName(m_folder);

    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = m_encodedTmpDir.data();
    options.use_zip64 = LXW_FALSE;
    // The library tells its failures on standard error: they are caught
    // and kept as the detail of the program's own message.
    ErrorOutputCapture library;
    errno = 0;
    m_workbook = workbook_new_opt(m_encodedPath.constData(), &options);
    if (m_workbook)
        m_sheet = workbook_add_worksheet(m_workbook, SheetName);
    const int error = errno;
    m_libraryText = library.finish();
    if (!m_workbook) {
        QFile::remove(m_path);
        if (diskFull(error, m_folder))
            throw Error(diskFullMessage(m_path), m_libraryText);
        throw Error(QStringLiteral("Impossibile scrivere il foglio di calcolo \"%1\": "
                                   "memoria insufficiente")
                        .arg(native(m_path)),
                    m_libraryText);
    }
    if (!m_sheet) {
        if (diskFull(error, m_folder))
            fail(QString(), error);
        fail(QStringLiteral("impossibile aggiungere il foglio \"%1\"")
                 .arg(QLatin1String(SheetName)));
    }
    m_dateFormat = workbook_add_format(m_workbook);
    if (!m_dateFormat)
        fail(QStringLiteral("memoria insufficiente"));
    format_set_num_format(m_dateFormat, DateFormat);
    m_headerFormat = workbook_add_format(m_workbook);
    if (!m_headerFormat)
        fail(QStringLiteral("memoria insufficiente"));
    format_set_bold(m_headerFormat);
    // The header row stays in view while the rows scroll under it.
    worksheet_freeze_panes(m_sheet, 1, 0);
    m_row = 0;
    m_columns = 0;
}

void XltxWorkbookWriter::writeRow(const QVector<Cell>& cells) {
    if (!m_workbook)
        throw Error(QStringLiteral("Nessun foglio di calcolo in scrittura."));
    if (m_row >= LXW_ROW_MAX)
        fail(QStringLiteral("un foglio non può contenere più di %1 righe").arg(LXW_ROW_MAX));
    if (cells.size() > LXW_COL_MAX)
        fail(QStringLiteral("un foglio non può contenere più di %1 colonne").arg(LXW_COL_MAX));

    const auto row = lxw_row_t(m_row);
    if (m_row == 0)
        startHeader(cells);
    lxw_format* textFormat = m_row == 0 ? m_headerFormat : nullptr;
    for (qsizetype i = 0; i < cells.size(); ++i) {
        const Cell& cell = cells.at(i);
        const auto col = lxw_col_t(i);
        switch (cell.kind) {
            case Cell::Kind::Empty:
                break;  // a blank cell: nothing is written
            case Cell::Kind::Text:
                if (!cell.text.isEmpty())
                    check(worksheet_write_string(m_sheet, row, col,
                                                 cellBytes(cell.text).constData(), textFormat));
                break;
            case Cell::Kind::Date:
                if (!cell.date.isValid())
                    break;  // no date at all: a blank cell
                if (fitsDateCell(cell.date)) {
                    lxw_datetime dt{
                        cell.date.year(), cell.date.month(), cell.date.day(), 0, 0, 0.0};
                    check(worksheet_write_datetime(m_sheet, row, col, &dt, m_dateFormat));
                } else {
                    const QString text = cell.date.toString(QStringLiteral("dd/MM/yyyy"));
                    check(worksheet_write_string(m_sheet, row, col, text.toUtf8().constData(),
                                                 nullptr));
                }
                break;
        }
    }
    ++m_row;
}

QString XltxWorkbookWriter::plannedFile() const {
    return m_path.isEmpty() ? QString() : m_path.chopped(int(qstrlen(PartialSuffix)));
}

QString XltxWorkbookWriter::finish() {
    if (!m_workbook)
        throw Error(QStringLiteral("Nessun foglio di calcolo in scrittura."));
    // A filter on every column of the header row, over all the rows.
    if (m_row > 0 && m_columns > 0)
        check(worksheet_autofilter(m_sheet, 0, 0, lxw_row_t(m_row - 1), lxw_col_t(m_columns - 1)));
    lxw_workbook* workbook = std::exchange(m_workbook, nullptr);
    m_sheet = nullptr;
    m_dateFormat = nullptr;
    m_headerFormat = nullptr;
    const QString path = std::exchange(m_path, QString());

    ErrorOutputCapture library;
    errno = 0;
    const lxw_error closed = workbook_close(workbook);  // frees the workbook in any case
    const int error = errno;
    const QString libraryText = library.finish();
    if (closed != LXW_NO_ERROR) {
        const bool full = diskFull(error, m_folder);
        QFile::remove(path);
        const QString detail = QString::fromUtf8(lxw_strerror(closed)) +
                               (libraryText.isEmpty() ? QString() : QLatin1Char(' ') + libraryText);
        if (full)
            throw Error(diskFullMessage(path), detail);
        throw Error(QStringLiteral("Impossibile scrivere il foglio di calcolo \"%1\": %2")
                        .arg(native(path), QString::fromUtf8(lxw_strerror(closed))),
                    detail);
    }
    try {
        errno = 0;
        convertToTemplate(path);
    } catch (const Error& e) {
        const bool full = diskFull(errno, m_folder);
        QFile::remove(path);
        if (full)
            throw Error(diskFullMessage(path), e.message());
        throw Error(QStringLiteral("Impossibile trasformare il foglio di calcolo \"%1\" in un "
                                   "modello: %2")
                        .arg(native(path), e.message()));
    }
    if (!QFile::setPermissions(path, PrivateFile)) {
        QFile::remove(path);
        throw Error(QStringLiteral("Impossibile proteggere il foglio di calcolo \"%1\".")
                        .arg(native(path)));
    }
    // Complete: it takes its final name only now, so that a file under that
    // name is always a finished workbook.
    const QString final = path.chopped(int(qstrlen(PartialSuffix)));
    if (!QFile::rename(path, final)) {
        QFile::remove(path);
        throw Error(QStringLiteral("Impossibile dare al foglio di calcolo il nome \"%1\".")
                        .arg(native(final)));
    }
    return QFileInfo(final).absoluteFilePath();
}

void XltxWorkbookWriter::startHeader(const QVector<Cell>& header) {
    // Every column wide enough for its header in bold with the filter's
    // button beside it, and at least for a date as dd/mm/yyyy.
    m_columns = int(qMin<qsizetype>(header.size(), LXW_COL_MAX));
    for (int i = 0; i < m_columns; ++i) {
        const QString& text = header.at(i).text;
        const double width = qMax(MinColumnWidth, text.size() * 1.1 + 4.0);
        check(worksheet_set_column(m_sheet, lxw_col_t(i), lxw_col_t(i), width, nullptr));
    }
}

void XltxWorkbookWriter::check(int lxwError) {
    if (lxwError != LXW_NO_ERROR)
        fail(QString::fromUtf8(lxw_strerror(lxw_error(lxwError))), errno);
}

void XltxWorkbookWriter::fail(const QString& reason, int error) {
    const QString path = m_path;
    const bool full = error != 0 && diskFull(error, m_folder);
    const QString detail =
        reason + (m_libraryText.isEmpty() ? QString() : QLatin1Char(' ') + m_libraryText);
    abandon();
    if (full)
        throw Error(diskFullMessage(path), detail);
    throw Error(QStringLiteral("Impossibile scrivere il foglio di calcolo \"%1\": %2")
                    .arg(native(path), reason));
}

void XltxWorkbookWriter::abandon() {
    if (m_workbook) {
        // The only complete way to release it; what the library says of
        // the workbook given up is of no interest.
        ErrorOutputCapture library;
        workbook_close(m_workbook);
        m_workbook = nullptr;
        m_sheet = nullptr;
        m_dateFormat = nullptr;
        m_headerFormat = nullptr;
    }
    if (!m_path.isEmpty()) {
        QFile::remove(m_path);
        m_path.clear();
    }
}

int XltxWorkbookWriter::removeStaleExports(const QString& folder, std::chrono::seconds maxAge) {
    // Finished workbooks, workbooks an export left half-written (it was
    // killed), and libzip's temporaries of either.
    static const QRegularExpression ownName(QStringLiteral(
        "^Marvesa-export-\\d{8}-\\d{6}-[0-9a-f]{8}\\.xltx(\\.part)?(\\.[A-Za-z0-9]{6})?$"));
    const QDir dir(folder);
    if (!dir.exists())
        return 0;
    const QDateTime limit = QDateTime::currentDateTimeUtc().addSecs(-qint64(maxAge.count()));
    int removed = 0;
    const QFileInfoList files =
        dir.entryInfoList(QDir::Files | QDir::NoSymLinks | QDir::Hidden, QDir::NoSort);
    for (const QFileInfo& file : files) {
        if (!ownName.match(file.fileName()).hasMatch())
            continue;
        if (file.lastModified().toUTC() >= limit)
            continue;
        if (QFile::remove(file.absoluteFilePath()))
            ++removed;
    }
    return removed;
}

}  // namespace marvesa
