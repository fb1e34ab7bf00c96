#pragma once

// A connection of the test's own, for SQL the cursors do not do: to seed
// rows, to play "another user", to read back what the cursors stored. Every
// value is bound.
//
// On the server the same SQL is run, with the program's table and column
// names (upper case, as the tests write them) quoted, since the server folds
// unquoted names to lower case; date-times read back in the form the file
// database stores them.

#include <QList>
#include <QString>
#include <QVariant>

class QSqlQuery;

namespace marvesa::test {

class Sql {
public:
    // `path`: a database file or a server connection string.
    explicit Sql(const QString& path);
    ~Sql();
    Sql(const Sql&) = delete;
    Sql& operator=(const Sql&) = delete;

    bool onServer() const { return m_server; }

    // The SQL as the engine needs it (see above).
    QString portable(const QString& sql) const;
    // Values as the file database gives them: date-times as stored text.
    QVariant portable(const QVariant& v) const;
    // Joins the texts of `expression` over the rows, ","-separated, in the
    // order of `order`.
    QString joined(const QString& expression, const QString& order) const;

    // Runs a statement; returns the first column of every row.
    QVariantList exec(const QString& text, const QVariantList& values = {});
    QVariant one(const QString& sql, const QVariantList& values = {});
    // Every row as a list of columns.
    QList<QVariantList> rows(const QString& text, const QVariantList& values = {});

    // The first row's columns, "|"-separated, NULL as "<NULL>".
    QString row(const QString& sql);
    // The number of rows of `table`, optionally only those matching `where`.
    int count(const QString& table, const QString& where = QString());

    qint64 addNucleo(const QString& code, const QString& denominazione = QString());
    qint64 addMember(const QString& code, const QString& cognome,
                     const QString& nome = QStringLiteral("N"));

private:
    bool prepare(QSqlQuery& q, const QString& sql) const;
    bool run(QSqlQuery& q, const QString& sql) const;

    QString m_name;
    bool m_server = false;
};

}  // namespace marvesa::test
