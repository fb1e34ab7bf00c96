#pragma once

#include <QStringList>

#include "data/sql/QtSqlEngine.h"

namespace marvesa::schema {

// How the other desks learn which rows of the tables that announce their
// changes (TBL_NUCLEO, TBL_ANAGRAFICA) were inserted, changed or deleted, so
// that each reads again only those rows. Version 2 of the database.
//
// A file keeps a change log, TBL_SYS_MODIFICHE: triggers on those tables
// add one entry per row (the table, the row's counter, I, U or D), numbered
// in commit order by the log's own counter; a trigger on the log deletes
// the entries more than kChangeLogKept behind the newest, so that it stays
// small. A desk reads the entries after the last one it saw whenever the
// file says another connection committed; one that finds entries missing
// (it fell behind) reads its tables whole.
//
// A server announces them instead: after each statement, one notice on the
// channel PostgresEngine::kChangeChannel with "TABLE:OP:ID,ID,...", OP being
// I, U or D and the IDs the counters of the statement's rows, or "TABLE:*"
// when the statement emptied the table or changed more rows than one notice
// may carry (kMostRowsNamed, and always under the server's 8,000 bytes).
// These triggers replace the first version's, which announced only the
// table's name after each statement.
QStringList rowChangeStatements(SqlDialect dialect);

// How many entries the file's change log keeps.
inline constexpr int kChangeLogKept = 1000;
// How many rows one notice of the server names at most.
inline constexpr int kMostRowsNamed = 600;

}  // namespace marvesa::schema
