#pragma once

#include <QVariant>
#include <QVector>
#include <memory>

#include "data/registry/RegistryQueries.h"

namespace marvesa {

class QtSqlEngine;

// Where registry queries take their connection from: a second connection of
// an engine (the window's), or a database location of their own (tools and
// tests). Either converts to it, on purpose: the constructors are not
// explicit.
class RegistryConnection {
public:
    RegistryConnection(QtSqlEngine& engine) : m_engine(&engine) {}
    RegistryConnection(const QString& location) : m_location(location) {}
    // The connection, opened with the statements of the session `session`.
    std::shared_ptr<QtSqlEngine> open(const QStringList& session) const;

private:
    QtSqlEngine* m_engine = nullptr;
    QString m_location;
};

// What the registry queries of both engines share: a connection of their
// own, and the course of a search.
//
// The connection is a second one that the window's engine opens on its own
// database (or, for tools and tests, one opened on a database location): the
// queries then never wait behind the window's statements nor run inside its
// transactions, and they see what the window stores as any other desk's work.
// It is closed with the engine it came from.
class SqlRegistryQueries : public RegistryQueries {
public:
    ~SqlRegistryQueries() override;

    SearchResult find(const QString& text, int limit) override;
    void prepare() override { ensureSearchObjects(); }
    bool isOpen() const override;

    // Makes what the search needs where it is missing; true when it made
    // anything.
    virtual bool ensureSearchObjects() = 0;

protected:
    explicit SqlRegistryQueries(std::shared_ptr<QtSqlEngine> connection);

    // A row as the connection's select() hands it over.
    using Row = QVector<QVariant>;

    QtSqlEngine& db() const { return *m_db; }

    // The two queries of a search, for family units and for members, with
    // the values both take (the last one: how many rows to take at most).
    // Each returns the columns RegistryRows reads.
    struct SearchStatements {
        QString families;
        QString members;
        QVector<QVariant> values;
    };
    // false when the text holds nothing to look for.
    virtual bool searchStatements(const QString& text, int limit, SearchStatements* out) = 0;

private:
    std::shared_ptr<QtSqlEngine> m_db;
};

}  // namespace marvesa
