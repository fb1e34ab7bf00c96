#pragma once

#include <QDateTime>
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <QVector>
#include <vector>

namespace marvesa {

class Engine;

// The operations of TBL_STORICO that are no change of a row (those are
// "I", "U" and "D", written by the database's triggers).
inline constexpr const char* kEventExport = "ESPORTA";
inline constexpr const char* kEventImport = "IMPORTA";
inline constexpr const char* kEventAnonymise = "ANONIMIZZA";

// An event for the record history: what happened, to which table, how many
// rows, which file; for an anonymisation also the row and family unit it
// concerns. Who, when and where are the database's to write.
struct HistoryEvent {
    QString operation;    // kEventExport, kEventImport, kEventAnonymise
    QString table;        // the table it concerns; empty: none
    qint64 rows = -1;     // how many rows; -1: not told
    QString fileName;     // the file written or read; empty: none
    qint64 rowId = 0;     // the row it concerns; 0: none
    QString familyCode;   // the family unit it concerns; empty: none
    QVariantMap details;  // anything else worth keeping, into VALORI
};

// The statement that records `event` and its values, for a connection that
// is no Engine (marvesa-initdb's server session).
struct HistoryInsert {
    QString sql;
    QVector<QVariant> values;
};
HistoryInsert historyEventInsert(const HistoryEvent& event);

// Records the event in TBL_STORICO through `engine`, inside the caller's
// transaction when one is open: an export or an import is recorded in the
// transaction of the work it records, so that neither is ever without the
// other. On a server only the administrator may record an import or an
// anonymisation (the database refuses the others, and with them the work).
// Throws marvesa::Error.
void recordEvent(Engine& engine, const HistoryEvent& event);
void recordEvent(Engine& engine, const QString& operation, const QString& table, qint64 rows,
                 const QString& fileName);

// One row of TBL_STORICO as read back.
struct HistoryEntry {
    qint64 id = 0;
    QDateTime when;    // UTC
    QString user;      // empty: written by another program, which says nobody
    QString computer;  // empty: not known
    QString table;
    qint64 rowId = 0;
    QString familyCode;
    QString operation;
    QString values;  // the JSON of VALORI
};

// The history of a family unit, newest first: the rows of the family unit
// `familyId` and every row (its own, its members', their anonymisation)
// that carries its code `familyCode` (ignored when empty).
std::vector<HistoryEntry> familyHistory(Engine& engine, const QString& familyCode, qint64 familyId);

// The last `limit` rows of the whole history, newest first: every family
// unit's, the exports and the imports.
std::vector<HistoryEntry> wholeHistory(Engine& engine, int limit);

}  // namespace marvesa
