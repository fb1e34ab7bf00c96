#include "export/SpreadsheetOutput.h"

#include <QElapsedTimer>

#include "data/DataModule.h"
#include "data/TextRules.h"

namespace marvesa {

namespace {

// Positions in a staged row (from 0).
constexpr int kBirthDate = 4;
constexpr int kEndOfHosting = 12;
constexpr int kEntryDate = 13;
constexpr int kNote = 15;

Cell textCell(const Value& v) {
    if (v.isNull())
        return Cell::empty();
    if (const QString* s = v.textIf())
        return Cell::ofText(*s);
    return Cell::ofText(v.toText());
}

Cell dateCell(const Value& v) {
    if (const QDateTime* dt = v.dateTimeIf())
        return Cell::ofDate(dt->date());
    return textCell(v);
}

Cell noteCell(const Value& v) {
    if (v.isNull())
        return Cell::empty();
    const QString text = v.toText();
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

QVector<Cell> exportCells(const std::array<Value, 16>& values) {
    QVector<Cell> cells;
    cells.reserve(int(values.size()));
    for (int i = 0; i < int(values.size()); ++i) {
        const Value& v = values[i];
        switch (i) {
            case kBirthDate:
            case kEntryDate:
                cells.append(dateCell(v));
                break;
            // The end of hosting is shown as text, with its time when it has one.
            case kEndOfHosting:
                cells.append(v.isNull() ? Cell::empty() : Cell::ofText(v.toText()));
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

QString writeSpreadsheet(TdmMarvesa& dm, WorkbookWriter& writer) {
    DataSet& staging = dm.TBL_EXPORT;
    const auto& columns = stagedColumns();

    writer.begin();
    QVector<Cell> header;
    header.reserve(exportHeaders().size());
    for (const QString& h : exportHeaders())
        header.append(Cell::ofText(h));
    writer.writeRow(header);

    // A row inserted into an open table stands where it was inserted, before
    // the row that was current, so the rows just staged would come out last
    // first. Reading them again presents them in the order of the table's
    // index, by family code and, within one code, in the order they were
    // staged.
    staging.refresh();
    const int count = staging.recordCount();
    staging.first();
    std::array<const Field*, 16> fields;
    for (int c = 0; c < int(columns.size()); ++c)
        fields[c] = staging.fieldByName(columns[c].name);
    std::array<Value, 16> values;
    for (int r = 0; r < count; ++r) {
        for (int c = 0; c < int(columns.size()); ++c)
            values[c] = fields[c]->value();
        writer.writeRow(exportCells(values));
        staging.next();
    }

    dm.TBL_NUCLEO.first();
    dm.TBL_ANAGRAFICA.first();
    return writer.finish();
}

ExportOutcome runExport(TdmMarvesa& dm, WorkbookWriter& writer, ExportTimings* timings) {
    ExportOutcome outcome;
    outcome.staged = stageExport(dm, timings ? &timings->staging : nullptr);
    if (dm.TBL_EXPORT.recordCount() < 1)
        return outcome;
    QElapsedTimer clock;
    clock.start();
    outcome.file = writeSpreadsheet(dm, writer);
    if (timings)
        timings->writeNs = clock.nsecsElapsed();
    return outcome;
}

}  // namespace marvesa
