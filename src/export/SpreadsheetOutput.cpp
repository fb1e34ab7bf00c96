#include "export/SpreadsheetOutput.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <functional>

#include "data/base/Error.h"
#include "data/base/TextRules.h"
#include "data/base/Value.h"
#include "data/registry/DataModule.h"
#include "data/registry/History.h"
#include "data/sql/Engine.h"
#include "data/sql/WriteTransaction.h"
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
    if (v.isNull())
        return QString();
    if (v.typeId() == QMetaType::QString)
        return v.toString();
    if (v.typeId() == QMetaType::QDateTime)
        return dateTimeToStorage(v.toDateTime());
    return v.toString();
}

Cell textCell(const QVariant& v) {
    if (v.isNull())
        return Cell::empty();
    return Cell::ofText(storedText(v));
}

Cell dateCell(const QVariant& v) {
    if (v.isNull())
        return Cell::empty();
    const QDateTime dt = storedDateTime(v);
    if (dt.isValid())
        return Cell::ofDate(dt.date());
    return textCell(v);
}

// The end of hosting is shown as text, with its time when it has one.
Cell endOfHostingCell(const QVariant& v) {
    if (v.isNull())
        return Cell::empty();
    const QDateTime dt = storedDateTime(v);
    if (dt.isValid())
        return Cell::ofText(Value::dateTime(dt).toText());
    return textCell(v);
}

Cell noteCell(const QVariant& v) {
    if (v.isNull())
        return Cell::empty();
    const QString text = storedText(v);
    return isBlankText(text) ? Cell::empty() : Cell::ofText(text);
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
            case kEntryDate:
                cells.append(dateCell(v));
                break;
            case kEndOfHosting:
                cells.append(endOfHostingCell(v));
                break;
            case kNote:
                cells.append(noteCell(v));
                break;
            default:
                cells.append(textCell(v));
                break;
        }
    }
    return cells;
}

namespace {

QVector<Cell> headerCells() {
    QVector<Cell> header;
    header.reserve(exportHeaders().size());
    for (const QString& h : exportHeaders())
        header.append(Cell::ofText(h));
    return header;
}

// Reads the staging rows in the spreadsheet's order and gives each to
// `onRow`, telling `progress`; false when it asked to stop.
bool readStagingRows(Engine& engine, std::int64_t total, ExportProgress* progress,
                     const std::function<void(const QVector<QVariant>&)>& onRow) {
    if (progress && !progress->advance(ExportProgress::Phase::Writing, 0, total))
        return false;
    std::int64_t read = 0;
    bool stopped = false;
    engine.select(stagingRowsInSheetOrderSql(), {}, [&](const QVector<QVariant>& row) {
        onRow(row);
        ++read;
        if (progress && read % kProgressRows == 0 &&
            !progress->advance(ExportProgress::Phase::Writing, read, total)) {
            stopped = true;
            return false;
        }
        return true;
    });
    if (stopped)
        return false;
    if (read != total) {
        throw Error(QStringLiteral("Esportazione interrotta: lette %1 righe delle %2 previste")
                        .arg(read)
                        .arg(total));
    }
    // The last chance to stop: every row is read, nothing is stored yet.
    return !progress || progress->advance(ExportProgress::Phase::Writing, read, total);
}

}  // namespace

namespace {

// Steps 1 to 5 of runExport.
ExportOutcome exportInOneTransaction(TdmMarvesa& dm, WorkbookWriter& writer, ExportTimings* timings,
                                     ExportProgress* progress) {
    ExportOutcome outcome;
    endPendingEdits(dm);
    Engine& engine = dm.cnQuaz.engine();
    // The workbook is composed on a second thread. Declared first, it goes
    // last: a transaction left open is rolled back before the workbook is
    // abandoned.
    ThreadedWorkbookWriter threaded(writer, exportCells);
    WriteTransaction transaction(engine, QStringLiteral("TBL_EXPORT"));
    QElapsedTimer clock;
    clock.start();
    const StagingPlan plan = planStaging(engine);
    if (timings)
        timings->planNs = clock.nsecsElapsed();
    const auto stop = [&] {
        transaction.rollback();
        threaded.abandon();
        outcome.cancelled = true;
        return outcome;
    };
    if (plan.total > 0) {
        // The rows the staging is about to store, read in the spreadsheet's
        // order and handed to the workbook's thread...
        threaded.begin();
        threaded.writeRow(headerCells());
        const bool read = readStagingRows(
            engine, plan.total, progress,
            [&threaded](const QVector<QVariant>& row) { threaded.writeValues(row); });
        if (!read)
            return stop();
        threaded.endRows();
        if (timings)
            timings->readNs = clock.nsecsElapsed() - timings->planNs;
    }
    // ...which completes the workbook while the staging table is rebuilt.
    const std::int64_t staged =
        fillStagingTable(engine, plan, progress, timings ? &timings->staging : nullptr);
    if (staged < 0)
        return stop();
    if (staged != plan.total) {
        throw Error(QStringLiteral("Esportazione interrotta: %1 righe preparate delle %2 previste")
                        .arg(staged)
                        .arg(plan.total));
    }
    // Nothing is stored unless every row reached the workbook.
    if (plan.total > 0) {
        threaded.waitForRows();
        // The export is recorded in its own transaction: who, when, how
        // many members, which file.
        recordEvent(engine, QString::fromLatin1(kEventExport), QStringLiteral("TBL_EXPORT"), staged,
                    threaded.plannedFile());
    }
    const std::int64_t beforeCommit = clock.nsecsElapsed();
    transaction.commit();
    if (timings)
        timings->commitNs = clock.nsecsElapsed() - beforeCommit;
    outcome.staged = staged;
    if (plan.total > 0)
        outcome.file = threaded.finish();
    if (timings)
        timings->totalNs = clock.nsecsElapsed();
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
