#pragma once

#include "data/registry/SqlRegistryQueries.h"

class QSqlDatabase;

namespace marvesa {

// "Cerca" and "Riepilogo" on a PostgreSQL server database, on a connection
// of their own, with the server's own means: the unaccent and pg_trgm
// extensions.
//
// The function marvesa_testo_ricerca(text) turns a text into the words the
// search compares: apostrophes removed, accents removed (unaccent, with its
// dictionary named), lower case, every run of characters that are neither
// letters nor digits made one blank, and a blank in front of the first word.
// It is IMMUTABLE, so two GIN trigram indexes hold it for every member
// (IDX_ANAGRAFICA_CERCA: surname and name) and every family unit
// (IDX_NUCLEO_CERCA: code, the code's digits, description and host). A typed
// word "ros" becomes the pattern '% ros%': a word of the row that begins with
// it, which the trigram index answers without reading the table.
//
// A database made by marvesa-initdb has them from the start; an older one
// gets them from the first desk that searches, built without holding up the
// other desks' writes (CREATE INDEX CONCURRENTLY, which runs outside any
// transaction), one desk at a time.
class PostgresRegistryQueries : public SqlRegistryQueries {
public:
    // On a second connection of an engine, or on a database location.
    explicit PostgresRegistryQueries(const RegistryConnection& from);

    OfficeSummary summary(const QDate& today) override;
    void prepare() override;

    // Makes the extensions, the function and the two indexes the search
    // uses where they are missing (an index a failed attempt left unusable
    // is made again); true when it made anything.
    bool ensureSearchObjects() override;

    // Makes them on `db`, inside the transaction that creates a new
    // database (marvesa-initdb): plain CREATE INDEX, no waiting for other
    // desks. Throws marvesa::Error.
    static void createSearchObjects(QSqlDatabase& db);

    // Brings search objects an older program made up to date, inside the
    // transaction that upgrades the database (`engine`, its owner's
    // connection): the function replaced, its indexes built again. Leaves a
    // database that has none alone (the first search makes them).
    static void updateSearchObjects(QtSqlEngine& engine);

    // The names of what the search needs, for tools and tests.
    static const char* const kFunction;     // marvesa_testo_ricerca
    static const char* const kMemberIndex;  // IDX_ANAGRAFICA_CERCA
    static const char* const kFamilyIndex;  // IDX_NUCLEO_CERCA

protected:
    bool searchStatements(const QString& text, int limit, SearchStatements* out) override;

private:
    bool searchObjectsThere();
    QStringList normalisedWords(const QString& text);

    bool m_searchChecked = false;
};

}  // namespace marvesa
