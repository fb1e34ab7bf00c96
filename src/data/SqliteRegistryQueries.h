#pragma once

#include <QSqlDatabase>

#include "data/RegistryQueries.h"

namespace marvesa {

// "Cerca" and "Riepilogo" on an SQLite database file, on a connection of
// their own (so they always read what is committed, by this copy of the
// program or any other).
//
// The search runs on two full-text tables (FTS5), CERCA_ANAGRAFICA and
// CERCA_NUCLEO, which hold for every member and family unit its words
// without apostrophes; their tokenizer folds case and removes accents, and
// keeps prefix indexes of two and three characters. Triggers on
// TBL_ANAGRAFICA and TBL_NUCLEO keep them current whoever writes the rows
// (the triggers use only SQLite's built-in functions). A database without
// them gets them on first use, built in one transaction that also fills
// them; a copy of the program that finds them already made leaves them as
// they are.
class SqliteRegistryQueries : public RegistryQueries {
public:
    explicit SqliteRegistryQueries(const QString& path);
    ~SqliteRegistryQueries() override;

    SearchResult find(const QString& text, int limit) override;
    OfficeSummary summary(const QDate& today) override;
    void prepare() override;

    // Makes the search tables, their triggers and the index on the family
    // code of TBL_NUCLEO where they are missing; true when it made them.
    bool ensureSearchTables();

    // The full-text query for a search text: each word as a quoted prefix.
    static QString matchExpression(const QString& text);

private:
    QSqlDatabase db() const;
    [[noreturn]] void fail(const QString& what, const QString& text) const;

    QString m_path;
    QString m_connectionName;
    bool m_searchTablesChecked = false;
};

}  // namespace marvesa
