#pragma once

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

class QSqlDatabase;

namespace marvesa {

// Where a PostgreSQL database is: a libpq connection string ("service=marvesa",
// "host=registry.example dbname=marvesa") or URI
// ("postgresql://registry.example/marvesa"), taken apart by libpq itself.
class ServerAddress {
public:
    // Throws marvesa::Error when libpq cannot read the text.
    explicit ServerAddress(const QString& connection);

    // Whether a database location names a server rather than a file: a
    // postgresql:// or postgres:// URI, or a keyword=value string.
    static bool isServerConnection(const QString& location);

    // "database "marvesa" sul server "registry.example" (porta 5432)", or the
    // service; never a password.
    QString describe() const;
    // Short form: "registry.example:5432/marvesa" or "servizio marvesa".
    QString shortForm() const;

    QString value(const QString& keyword) const { return m_values.value(keyword); }
    // Every keyword given, in libpq's order, with its value.
    const QList<QPair<QString, QString>>& values() const { return m_ordered; }

    // The same address as a keyword=value string for libpq, with another
    // database name when `database` is given.
    QString connectionString(const QString& database = QString()) const;

    // Opens `db` (a QPSQL connection) on this address.
    void configure(QSqlDatabase& db) const;

    // `text` (a message derived from the connection, libpq's among them)
    // with every part of a password the connection names replaced by "***":
    // no such text reaches the screen or a log with it.
    QString withoutPassword(const QString& text) const { return withoutPassword(text, m_raw); }
    static QString withoutPassword(const QString& text, const QString& connection);

private:
    QString m_raw;
    QHash<QString, QString> m_values;
    QList<QPair<QString, QString>> m_ordered;
};

}  // namespace marvesa
