#pragma once

#include <optional>

#include "data/registry/SqlRegistryQueries.h"

namespace marvesa {

// "Cerca" and "Riepilogo" on an SQLite database file, on a connection of
// their own (so they always read what is committed, by this copy of the
// program or any other). One object may serve for the whole run: its page
// cache then stays warm between searches and summaries.
//
// The search runs on two full-text tables (FTS5), CERCA_ANAGRAFICA and
// CERCA_NUCLEO, which hold for every member and family unit its words
// without apostrophes; their tokenizer folds case and removes accents, and
// keeps prefix indexes of two and three characters. Triggers on
// TBL_ANAGRAFICA and TBL_NUCLEO keep them current whoever writes the rows
// (the triggers use only SQLite's built-in functions). A database without
// them gets them on first use, built in one transaction that also fills
// them; a copy of the program that finds them already made leaves them as
// they are. Two indexes by family code, holding the columns "Riepilogo"
// counts, are made with them.
class SqliteRegistryQueries : public SqlRegistryQueries {
public:
    // On a second connection of an engine, or on a database location.
    explicit SqliteRegistryQueries(const RegistryConnection& from);

    OfficeSummary summary(const QDate& today) override;
    bool ensureSearchObjects() override { return ensureSearchTables(); }

    // Makes the search tables, their triggers and the two indexes the
    // queries read (family units and members by family code, with the
    // columns "Riepilogo" counts) where they are missing; true when it made
    // them.
    bool ensureSearchTables();

    // Merges each search table's segments into one, where the tables exist:
    // the words of rows changed or deleted since are then gone from the
    // file's pages, not only marked as deleted. Runs on `engine` (inside its
    // transaction, when one is open).
    static void mergeSearchTables(QtSqlEngine& engine);

    // The full-text query for a search text: each word as a quoted prefix.
    static QString matchExpression(const QString& text);

protected:
    bool searchStatements(const QString& text, int limit, SearchStatements* out) override;

private:
    qint64 dataVersion();
    OfficeSummary computeSummary(const QDate& today);

    bool m_searchTablesChecked = false;
    // The last summary, with the day it was made for and the database's
    // data version then: asked again for the same day with nothing stored
    // since (by any connection), it is given again.
    std::optional<OfficeSummary> m_summary;
    qint64 m_summaryVersion = -1;
};

}  // namespace marvesa
