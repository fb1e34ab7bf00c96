#pragma once

// The PostgreSQL server of the "_pg" runs (see TestEngine.h). On the server
// every new database is a copy (CREATE DATABASE ... TEMPLATE) of a template
// made once with the program's own schema and reference lists, so each test
// starts from a fresh database as it does with files. The databases a test
// program made are dropped when it ends.

#include <QHash>
#include <QString>
#include <QStringList>

#include "data/sql/ServerAddress.h"

namespace marvesa::test {

class TestServer {
public:
    // Connects on first use; makes the server's template database when no
    // test program has made it yet.
    static TestServer& instance();

    // The template every new database is copied from unless told otherwise.
    // Its name carries a digest of the schema it was made with, so that a
    // server kept between builds never hands out a database of an older
    // shape.
    static QString blankTemplate();

    // The connection string of the database `name` on the test server.
    QString connection(const QString& name) const { return m_address.connectionString(name); }

    // A new database, a copy of `templateName`.
    QString newDatabase(const QString& templateName = blankTemplate());

    // A new database with nothing in it.
    QString emptyDatabase() { return newDatabase(QStringLiteral("template0")); }

    // The name of a database newDatabase() made.
    QString nameOf(const QString& connection) const { return m_names.value(connection); }

    // Runs a statement on the server's maintenance database.
    void admin(const QString& sql);

private:
    TestServer();
    static void dropAll();

    ServerAddress m_address;
    QStringList m_made;
    QHash<QString, QString> m_names;  // connection -> database
};

}  // namespace marvesa::test
