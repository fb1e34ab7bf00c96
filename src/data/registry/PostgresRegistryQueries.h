#pragma once

#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>

#include "data/registry/RegistryQueries.h"

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
// other desks' writes (CREATE INDEX CONCURRENTLY), one desk at a time.
class PostgresRegistryQueries : public RegistryQueries {
public:
    // `connection`: a libpq connection string or URI.
    explicit PostgresRegistryQueries(const QString& connection);
    // On the same server and database, as the same role, as the Qt
    // connection named `sqlConnectionName` (a PostgresEngine's).
    static std::unique_ptr<PostgresRegistryQueries> sharingSettingsOf(
        const QString& sqlConnectionName);
    ~PostgresRegistryQueries() override;

    SearchResult find(const QString& text, int limit) override;
    OfficeSummary summary(const QDate& today) override;
    void prepare() override;

    // Makes the extensions, the function and the two indexes the search
    // uses where they are missing (an index a failed attempt left unusable
    // is made again); true when it made anything.
    bool ensureSearchObjects();

    // Makes them on `db`, inside the transaction that creates a new
    // database (marvesa-initdb): plain CREATE INDEX, no waiting for other
    // desks. Throws marvesa::Error.
    static void createSearchObjects(QSqlDatabase& db);

    // The names of what the search needs, for tools and tests.
    static const char* const kFunction;     // marvesa_testo_ricerca
    static const char* const kMemberIndex;  // IDX_ANAGRAFICA_CERCA
    static const char* const kFamilyIndex;  // IDX_NUCLEO_CERCA

private:
    struct Tag {};
    PostgresRegistryQueries(Tag, const QString& connectionName);
    void open();
    // open(), and when it fails the connection is removed again (for the
    // constructors, whose object then never exists).
    void openOrForget();
    QSqlDatabase db();
    QSqlQuery& prepared(const QString& sql);
    void execPrepared(QSqlQuery& q, const QString& what);
    [[noreturn]] void fail(const QString& what, const QSqlError& error);
    bool searchObjectsThere(bool requireIndexes);
    QStringList normalisedWords(const QString& text);

    QString m_connectionName;
    QString m_shown;  // the server and database, for messages
    bool m_searchChecked = false;
    QHash<QString, QSqlQuery> m_statements;
};

}  // namespace marvesa
