#pragma once

#include <QString>

class QSqlError;

namespace marvesa {

// Quotes an identifier taken from the program's own declarations (table and
// column names), never from a value: in double quotes, an inner quote
// doubled. Both engines read it so.
QString quoteIdentifier(const QString& name);

// A message that may run over several lines (libpq's do), on one.
QString oneLine(QString text);

// The database's own text of a failed statement, on one line (a server's
// messages run over several).
QString engineText(const QSqlError& error);

// What the operator reads when another desk holds the database for longer
// than a statement may wait.
QString busyMessage();

// What the operator reads before the cause when rows stored many at once
// (Engine::insertRows) are refused, on either engine.
QString rowsNotStoredMessage(const QString& table);

}  // namespace marvesa
