#pragma once

#include <QStringList>

#include "data/sql/QtSqlEngine.h"

namespace marvesa::schema {

// The record history: every insert, update and delete of a table declared
// `keepsHistory` (TBL_NUCLEO, TBL_ANAGRAFICA) leaves a row in TBL_STORICO,
// written by the database's own triggers in the same transaction as the
// change, whoever makes it (the program, marvesa-initdb, sqlite3, psql):
//   QUANDO      the date and time in UTC
//   UTENTE      who: on a server the login (session_user), on a file the
//               operating-system account of the program's connection
//   POSTAZIONE  the computer (on a server also its address)
//   TABELLA, ID_RIGA, CODICE_NUCLEO   the row and its family unit
//   OPERAZIONE  I, U, D; or an event that is no change of a row (ESPORTA,
//               IMPORTA, ANONIMIZZA)
//   VALORI      JSON: each column that changed, with [old, new] (only new
//               for I, only old for D; NULL columns left out of I and D)
//
// On a file the triggers leave UTENTE and POSTAZIONE empty: another tool
// cannot say who works with it. The program's own connection makes a
// temporary trigger when it opens (historySessionStatements()) that fills
// them in for the rows its own changes write; a row written by any other
// tool keeps them empty, and says so.
//
// The history only grows: an update or a delete of its rows is refused by
// triggers on both databases (a server also gives the desks' roles no right
// to change it), save two: the fill-in above, and the anonymisation, which
// opens it for the length of its own transaction (historyOpenForErasure()).

// The version of the database that first keeps the history.
inline constexpr int kHistoryVersion = 3;

// What version 3 adds after its tables: the triggers of the tables that keep
// a history, with the columns they have at `version`, and those that keep
// TBL_STORICO append-only (on a server with the functions they call).
QStringList historyStatements(SqlDialect dialect, int version);

// The history triggers made again for the columns the tables have at
// `version`. A file's triggers name each column, and so does a server's
// function that records inserts (since version 6): a later version that adds
// a column to TBL_NUCLEO or TBL_ANAGRAFICA adds these statements to its own,
// and the new column is recorded too. A server's row function, for updates
// and deletes, reads the whole row and needs nothing.
QStringList historyTriggersAgain(SqlDialect dialect, int version);

// A server's functions that write the history rows and say who wrote them,
// made again as this program writes them (version 5: the same rows, written
// several times faster); nothing on a file.
QStringList historyFunctionsAgain(SqlDialect dialect);

// Version 6: the same history rows, written several times faster. A server
// records the rows of an insert with one statement when the insert ends (a
// trigger for each statement, reading the rows it stored), no longer one
// row at a time; a file's triggers write their JSON as text, column by
// column, instead of gathering it through a select for each column.
QStringList historyRecordedFaster(SqlDialect dialect, int version);

// Run inside the anonymisation's write transaction, before it rewrites the
// history rows of the people it erases and after: open and close TBL_STORICO
// to those updates (a file drops and makes again its trigger; a server sets
// a setting of the transaction, which only a role that may update the rows
// at all can use).
QStringList historyOpenForErasure(SqlDialect dialect);
QStringList historyClosedAgain(SqlDialect dialect);

// The statements a file connection runs, once TBL_STORICO exists, so that
// the rows its own changes write carry `account` and `computer`: a
// temporary table holding them (bound, in the second statement) and a
// temporary trigger that copies them into each new row left without a user.
struct SessionStatements {
    QStringList before;  // run as they are
    QString insert;      // run with the two values bound
    QStringList after;   // run as they are
};
SessionStatements historySessionStatements();

// The names the program gives a server connection (application_name) so
// that the history says which computer it came from: "marvesa:" and the
// computer's name.
inline constexpr const char* kApplicationNamePrefix = "marvesa:";

}  // namespace marvesa::schema
