#pragma once

// What the data-layer tests share: fresh databases (TestDatabases.h), direct
// SQL on a connection of their own (Sql.h), a listener that records what the
// data sources announce (Recorder.h), and short ways to read and write the
// cursors' columns.

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QTemporaryDir>
#include <QUuid>
#include <QVariant>
#include <QtTest>
#include <functional>

#include "data/base/Error.h"
#include "data/base/Value.h"
#include "data/cursor/DataSet.h"
#include "data/registry/DataModule.h"
#include "data/schema/FileDatabase.h"
#include "data/schema/TableDefinitions.h"
#include "support/Recorder.h"
#include "support/Sql.h"
#include "support/TestDatabases.h"
#include "support/TestEngine.h"
#include "support/TestServer.h"

namespace marvesa::test {

// Runs `f` and returns the message of the marvesa::Error it throws;
// "<no error>" when it throws nothing.
template <typename F>
QString errorOf(F&& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.message();
    }
    return QStringLiteral("<no error>");
}

// A column of the current row as text, NULL as "<NULL>".
QString text(const DataSet& ds, const char* field);

Value txt(const char* s);

// A list of texts written as one, "|"-separated.
QStringList L(const char* list);

// Writes a text into a column of the current row.
void set(DataSet& ds, const char* column, const char* value);
// Changes one column of the current row and stores it.
void change(DataSet& ds, const char* column, const char* value);
// Stores a new row with one column filled.
void add(DataSet& ds, const char* column, const char* value);

}  // namespace marvesa::test
