#pragma once

// Reading the rows of an executed query for Engine::select(), the same on
// every engine that works through Qt's SQL drivers.

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include "data/sql/Engine.h"

namespace marvesa {

// Calls `onRow` with each row's values, in select-list order, until the
// rows end or it returns false; the query is finished however the reading
// ends, so that it holds no lock afterwards. Returns the error that stopped
// the reading, or an invalid QSqlError.
inline QSqlError forEachRow(QSqlQuery& query, const Engine::RowHandler& onRow) {
    struct Finish {
        QSqlQuery& query;
        ~Finish() { query.finish(); }
    } finish{query};
    QVector<QVariant> row(query.record().count());
    while (query.next()) {
        for (int i = 0; i < row.size(); ++i) row[i] = query.value(i);
        if (!onRow(row)) return QSqlError();
    }
    return query.lastError();
}

}  // namespace marvesa
