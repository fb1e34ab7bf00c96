#pragma once

#include <QHash>
#include <QSet>
#include <memory>

#include "data/sql/QtSqlEngine.h"

class QTimer;

namespace marvesa {

// The database engine over one SQLite file, through Qt's QSQLITE driver.
//
// The file is opened read-write and never created here: a missing or empty
// file is an error. Several copies of the program may work on one file at
// once: the journal is written ahead (WAL) and a statement waits for a busy
// database (telling the busy observer) instead of failing at once.
//
// Rows are identified by SQLite's rowid, which the counter columns alias.
// Text columns are read as the bytes they hold. Text another tool stored
// that is not valid UTF-8 is kept as those bytes (a QByteArray), so that the
// check before an update compares what is really stored and such a row can
// still be changed; it shows with the invalid bytes replaced.
//
// Changes other connections commit are noticed by polling SQLite's
// data_version of this connection on a timer: it moves whenever another
// connection, in this process or another, commits, and never for this
// connection's own commits.
class SqliteEngine : public QtSqlEngine {
public:
    explicit SqliteEngine(QString path);
    ~SqliteEngine() override;

    void connect() override;
    void disconnect() override;
    QVector<EngineColumn> columns(const QString& table) override;
    QString location() const override;
    void watchChanges(std::function<void(const QStringList& tables)> changed) override;
    SqlDialect dialect() const override { return SqlDialect::SQLite; }

    // How often the database is asked whether another connection committed.
    static constexpr int kChangePollMs = 250;

    // Size the write-ahead journal file is cut back to after a checkpoint:
    // one large transaction (an export) would otherwise leave it as large
    // as itself for good.
    static constexpr qint64 kJournalSizeLimit = 8 * 1024 * 1024;

protected:
    QString driverName() const override { return QStringLiteral("QSQLITE"); }
    void configure(QSqlDatabase& db) const override;
    [[noreturn]] void failOpening(const QSqlError& error) const override;
    void startSession() override;
    void forgetSession() override;
    void identify(const QString& account, const QString& computer) override;
    void startErasing() override;
    void finishErasing() override;
    std::unique_ptr<QtSqlEngine> makeTwin() const override;

    void checkTable(const QString& table) override;
    QString counterColumn(const QString&) override { return QStringLiteral("rowid"); }
    QString selectColumn(const QString& table, const QString& column) override;
    QVariant storedValue(QVariant value) const override;
    QString stillHolds(const QString& table, const QString& column) override;
    QString defaultRowColumn(const QString&) override { return QStringLiteral("rowid"); }

    bool isBusy(const QSqlError& error) const override;
    bool isUniqueViolation(const QSqlError& error, const QString& text,
                           QString* index) const override;
    void startTransaction(const QString& lockTable) override;

private:
    // A failure while opening: a read-only folder or file named as such.
    [[noreturn]] void failOpening(const QString& what, const QSqlError& error) const;
    void execPragma(const QString& sql, const QString& what);
    // The text columns of a table (declared CHAR or TEXT): read as bytes.
    const QSet<QString>& textColumns(const QString& table);
    qint64 dataVersion();
    void pollChanges();

    QString m_path;
    QHash<QString, bool> m_knownTables;
    QHash<QString, QSet<QString>> m_textColumns;

    std::function<void(const QStringList&)> m_changed;
    std::unique_ptr<QTimer> m_changePoll;
    // The data_version last seen; taken when the connection is made, so that
    // whatever others commit after it is announced.
    qint64 m_dataVersion = -1;
};

}  // namespace marvesa
