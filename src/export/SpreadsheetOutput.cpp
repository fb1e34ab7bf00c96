#include "export/SpreadsheetOutput.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>

#include "data/DataModule.h"
#include "data/Engine.h"
#include "data/TextRules.h"
#include "data/Value.h"
#include "export/ThreadedWorkbookWriter.h"

namespace marvesa {

namespace {

// Positions in a staged row (from 0).
constexpr int kBirthDate = 4;
constexpr int kEndOfHosting = 12;
constexpr int kEntryDate = 13;
constexpr int kNote = 15;

// Rows written between two reports of progress.
constexpr std::int64_t kProgressRows = 4096;

// What is stored, as text: the empty text for NULL.
QString storedText(const QVariant& v) {
    if (v.isNull()) return QString();
    if (v.typeId() == QMetaType::QString) return v.toString();
    if (v.typeId() == QMetaType::QDateTime) return dateTimeToStorage(v.toDateTime());
    return v.toString();
}

Cell textCell(const QVariant& v) {
    if (v.isNull()) return Cell::empty();
    return Cell::ofText(storedText(v));
}

// The date-time a stored date column holds; invalid when it holds
// something else.
QDateTime storedDateTime(const QVariant& v) {
    switch (v.typeId()) {
        case QMetaType::QDateTime: return v.toDateTime();
        case QMetaType::QDate: return naiveDateTime(v.toDate());
        case QMetaType::QString: return dateTimeFromStorage(v.toString());
        default: return QDateTime();
    }
}

Cell dateCell(const QVariant& v) {
    if (v.isNull()) return Cell::empty();
    const QDateTime dt = storedDateTime(v);
    if (dt.isValid()) return Cell::ofDate(dt.date());
    return textCell(v);
}

// The end of hosting is shown as text, with its time when it has one.
Cell endOfHostingCell(const QVariant& v) {
    if (v.isNull()) return Cell::empty();
    const QDateTime dt = storedDateTime(v);
    if (dt.isValid()) return Cell::ofText(Value::dateTime(dt).toText());
    return textCell(v);
}

Cell noteCell(const QVariant& v) {
    if (v.isNull()) return Cell::empty();
    const QString text = storedText(v);
    return isBlankText(text) ? Cell::empty() : Cell::ofText(text);
}

QString readSql() {
    QStringList names;
    for (const StagedColumn& c : stagedColumns()) names << QLatin1Char('"') + c.name + QLatin1Char('"');
    return QStringLiteral("SELECT ") + names.join(QStringLiteral(", ")) +
           QStringLiteral(" FROM \"TBL_EXPORT\" ORDER BY \"CODICE_NUCLEO\", \"ID_ANAGRAFICA\"");
}

}  // namespace

const QStringList& exportHeaders() {
    static const QStringList headers{
        QStringLiteral("Denominazione nucleo familiare"),
        QStringLiteral("Cognome"),
        QStringLiteral("Nome"),
        QStringLiteral("Sesso"),
        QStringLiteral("Data di Nascita"),
        QStringLiteral("Nazione di Nascita"),
        QStringLiteral("Cittadinanza"),
        QStringLiteral("Grado di Parentela"),
        QStringLiteral("Comune"),
        QStringLiteral("Indirizzo"),
        QStringLiteral("Ospitante"),
        QStringLiteral("Telefono per contatti"),
        QStringLiteral("Termine disponibiltà alloggio"),
        QStringLiteral("Data Ingresso"),
        QStringLiteral("Frontiera"),
        QStringLiteral("Priorità per necessità specifiche"),
    };
    return headers;
}

QVector<Cell> exportCells(const QVector<QVariant>& stored) {
    QVector<Cell> cells;
    cells.reserve(stored.size());
    for (int i = 0; i < int(stored.size()); ++i) {
        const QVariant& v = stored.at(i);
        switch (i) {
            case kBirthDate:
            case kEntryDate: cells.append(dateCell(v)); break;
            case kEndOfHosting: cells.append(endOfHostingCell(v)); break;
            case kNote: cells.append(noteCell(v)); break;
            default: cells.append(textCell(v)); break;
        }
    }
    return cells;
}

bool writeStagedRows(Engine& engine, WorkbookWriter& writer, std::int64_t total,
                     ExportProgress* progress) {
    writer.begin();
    QVector<Cell> header;
    header.reserve(exportHeaders().size());
    for (const QString& h : exportHeaders()) header.append(Cell::ofText(h));
    writer.writeRow(header);

    if (progress && !progress->advance(ExportProgress::Phase::Writing, 0, total)) return false;
    std::int64_t written = 0;
    bool stopped = false;
    engine.select(readSql(), {}, [&](const QVector<QVariant>& row) {
        writer.writeRow(exportCells(row));
        ++written;
        if (progress && written % kProgressRows == 0 &&
            !progress->advance(ExportProgress::Phase::Writing, written, total)) {
            stopped = true;
            return false;
        }
        return true;
    });
    if (stopped) return false;
    // The last chance to stop: every row is read, nothing is stored yet.
    return !progress || progress->advance(ExportProgress::Phase::Writing, written, total);
}

QString writeSpreadsheet(Engine& engine, WorkbookWriter& writer, std::int64_t total,
                         ExportProgress* progress) {
    try {
        if (!writeStagedRows(engine, writer, total, progress)) {
            writer.abandon();
            return QString();
        }
        return writer.finish();
    } catch (...) {
        writer.abandon();
        throw;
    }
}

namespace {

// Steps 1 to 4 of runExport.
ExportOutcome exportInOneTransaction(TdmMarvesa& dm, WorkbookWriter& writer,
                                     ExportTimings* timings, ExportProgress* progress) {
    ExportOutcome outcome;
    endPendingEdits(dm);
    Engine& engine = dm.cnQuaz.engine();
    // The workbook is composed on a second thread while the rows are read.
    // Declared first, it goes last: a transaction left open is rolled back
    // before the workbook is abandoned.
    ThreadedWorkbookWriter threaded(writer);
    WriteTransaction transaction(engine, QStringLiteral("TBL_EXPORT"));
    const std::int64_t staged =
        rebuildStagingTable(engine, progress, timings ? &timings->staging : nullptr);
    if (staged < 0) {
        transaction.rollback();
        outcome.cancelled = true;
        return outcome;
    }
    if (staged == 0) {
        transaction.commit();
        return outcome;
    }
    QElapsedTimer clock;
    clock.start();
    if (!writeStagedRows(engine, threaded, staged, progress)) {
        transaction.rollback();
        threaded.abandon();
        outcome.cancelled = true;
        return outcome;
    }
    // Every row is read: the workbook is completed on its thread while the
    // transaction is committed, which waits for the disk.
    threaded.endRows();
    if (timings) timings->readNs = clock.nsecsElapsed();
    transaction.commit();
    if (timings) timings->commitNs = clock.nsecsElapsed() - timings->readNs;
    outcome.staged = staged;
    outcome.file = threaded.finish();
    if (timings) timings->writeNs = clock.nsecsElapsed();
    return outcome;
}

}  // namespace

ExportOutcome runExport(TdmMarvesa& dm, WorkbookWriter& writer, ExportTimings* timings,
                        ExportProgress* progress) {
    const ExportOutcome outcome = exportInOneTransaction(dm, writer, timings, progress);
    dm.TBL_NUCLEO.first();
    dm.TBL_ANAGRAFICA.first();
    return outcome;
}

}  // namespace marvesa
