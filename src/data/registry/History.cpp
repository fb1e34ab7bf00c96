#include "data/registry/History.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "data/base/Value.h"
#include "data/sql/Engine.h"

namespace marvesa {

namespace {

const QString kWhat = QStringLiteral("Impossibile leggere lo storico delle modifiche");

// The columns read back, in this order.
const QString kColumns = QStringLiteral(
    "SELECT \"ID_STORICO\", \"QUANDO\", \"UTENTE\", \"POSTAZIONE\", \"TABELLA\", \"ID_RIGA\", "
    "\"CODICE_NUCLEO\", \"OPERAZIONE\", \"VALORI\" FROM \"TBL_STORICO\" ");

QVariant orNull(const QString& text) {
    return text.isEmpty() ? QVariant() : QVariant(text);
}

HistoryEntry entryOf(const QVector<QVariant>& row) {
    HistoryEntry e;
    e.id = row.at(0).toLongLong();
    e.when = storedDateTime(row.at(1));  // UTC
    e.user = row.at(2).toString();
    e.computer = row.at(3).toString();
    e.table = row.at(4).toString();
    e.rowId = row.at(5).toLongLong();
    e.familyCode = row.at(6).toString();
    e.operation = row.at(7).toString();
    e.values = row.at(8).toString();
    return e;
}

std::vector<HistoryEntry> readEntries(Engine& engine, const QString& sql,
                                      const QVector<QVariant>& values) {
    std::vector<HistoryEntry> entries;
    try {
        engine.select(sql, values, [&](const QVector<QVariant>& row) {
            entries.push_back(entryOf(row));
            return true;
        });
    } catch (const Error& e) {
        throw Error(kWhat + QStringLiteral(": ") + e.message());
    }
    return entries;
}

}  // namespace

HistoryInsert historyEventInsert(const HistoryEvent& event) {
    QVariantMap details = event.details;
    if (event.rows >= 0)
        details.insert(QStringLiteral("righe"), event.rows);
    if (!event.fileName.isEmpty())
        details.insert(QStringLiteral("file"), event.fileName);
    const QString json = QString::fromUtf8(
        QJsonDocument(QJsonObject::fromVariantMap(details)).toJson(QJsonDocument::Compact));
    // QUANDO, UTENTE and POSTAZIONE are the database's to fill in.
    return {QStringLiteral("INSERT INTO \"TBL_STORICO\" (\"TABELLA\", \"ID_RIGA\", "
                           "\"CODICE_NUCLEO\", \"OPERAZIONE\", \"VALORI\") VALUES (?, ?, ?, ?, ?)"),
            {orNull(event.table), event.rowId > 0 ? QVariant(event.rowId) : QVariant(),
             orNull(event.familyCode), event.operation, json}};
}

void recordEvent(Engine& engine, const HistoryEvent& event) {
    const HistoryInsert insert = historyEventInsert(event);
    engine.exec(insert.sql, insert.values);
}

void recordEvent(Engine& engine, const QString& operation, const QString& table, qint64 rows,
                 const QString& fileName) {
    HistoryEvent event;
    event.operation = operation;
    event.table = table;
    event.rows = rows;
    event.fileName = fileName;
    recordEvent(engine, event);
}

std::vector<HistoryEntry> familyHistory(Engine& engine, const QString& familyCode,
                                        qint64 familyId) {
    // Both conditions are read from an index (IDX_STORICO_CODICE_NUCLEO,
    // IDX_STORICO_RIGA); a family unit has at most a few hundred rows.
    if (familyCode.isEmpty()) {
        return readEntries(engine,
                           kColumns + QStringLiteral("WHERE \"TABELLA\" = ? AND \"ID_RIGA\" = ? "
                                                     "ORDER BY \"ID_STORICO\" DESC"),
                           {QStringLiteral("TBL_NUCLEO"), familyId});
    }
    return readEntries(engine,
                       kColumns + QStringLiteral("WHERE \"CODICE_NUCLEO\" = ? OR (\"TABELLA\" = ? "
                                                 "AND \"ID_RIGA\" = ?) ORDER BY \"ID_STORICO\" "
                                                 "DESC"),
                       {familyCode, QStringLiteral("TBL_NUCLEO"), familyId});
}

std::vector<HistoryEntry> wholeHistory(Engine& engine, int limit) {
    return readEntries(engine, kColumns + QStringLiteral("ORDER BY \"ID_STORICO\" DESC LIMIT ?"),
                       {limit});
}

}  // namespace marvesa
