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
// connection's own commits. Which rows changed is then read from the file's
// change log (schema/RowChangeTriggers), from the entry after the last one
// this connection saw; the entries of its own commits are noted as they are
// written, by a trigger of this connection's own (TEMP), and passed over.
class SqliteEngine : public QtSqlEngine {
public:
    explicit SqliteEngine(QString path);
    ~SqliteEngine() override;

    void connect() override;
    void disconnect() override;
    QVector<EngineColumn> columns(const QString& table) override;
    QString location() const override;
    void watchChanges(std::function<void(const QStringList& tables)> changed) override;
    void watchRows(std::function<void(const CommittedChanges& changes)> changed) override;
    SqlDialect dialect() const override { return SqlDialect::SQLite; }

    // A consistent copy of the whole database as it stands when the copy
    // starts, written into `destination`: an empty file made beforehand with
    // the access the copy is to have. Other connections, in this process or
    // another, go on reading and writing meanwhile: the copy reads one
    // snapshot of the database, which never stops a writer. Throws
    // marvesa::Error naming the destination; the database is only read.
    void copyTo(const QString& destination);

    // How copyTo() copies on this connection: SQLite's online backup through
    // the driver's own connection handle where the driver runs the SQLite
    // library this program is linked with (as where both use the system's
    // SQLite), else "VACUUM INTO" (a compacted copy, equally consistent).
    enum class CopyMethod { OnlineBackup, VacuumInto };
    CopyMethod copyMethod();

    // How often the database is asked whether another connection committed.
    static constexpr int kChangePollMs = 250;

    // Size the write-ahead journal file is cut back to after a checkpoint:
    // one large transaction (an export) would otherwise leave it as large
    // as itself for good.
    static constexpr qint64 kJournalSizeLimit = 8 * 1024 * 1024;

    // Pages a write transaction may keep in memory (KiB), and the cache
    // outside one (SQLite's own default). An import or an export changes a
    // hundred megabytes and more; with the small cache SQLite writes changed
    // pages out to the journal before the commit, some of them again and
    // again. The large cache is given back when the transaction ends.
    static constexpr int kWriteCacheKiB = 64 * 1024;
    static constexpr int kReadCacheKiB = 2000;

protected:
    QString driverName() const override { return QStringLiteral("QSQLITE"); }
    // Only once sqlite_stat1 exists: without it SQLite plans by rules of
    // thumb that never go stale.
    bool keepsStatistics() override;
    void configure(QSqlDatabase& db) const override;
    [[noreturn]] void failOpening(const QSqlError& error) const override;
    void startSession() override;
    void forgetSession() override;
    void forgetTables() override { forgetSession(); }
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
    bool isDiskFull(const QSqlError& error) const override;
    void startTransaction(const QString& lockTable) override;
    void transactionEnded() override;

private:
    // A failure while opening: a read-only folder or file named as such.
    [[noreturn]] void failOpening(const QString& what, const QSqlError& error) const;
    void execPragma(const QString& sql, const QString& what);
    // The text columns of a table (declared CHAR or TEXT): read as bytes.
    const QSet<QString>& textColumns(const QString& table);
    qint64 dataVersion();
    void pollChanges();
    // copyTo() by each method.
    void copyOnline(const QString& destination);
    void copyByVacuum(const QString& destination);
    void startPolling();
    // The change log: whether the file has one; its last entry; from now on
    // the entries of this connection's own commits are noted, once the log
    // exists (true then); what others committed after the last entry seen.
    bool hasChangeLog();
    qint64 lastLoggedChange();
    bool noteOwnChanges();
    CommittedChanges readChangeLog();

    QString m_path;
    QHash<QString, bool> m_knownTables;
    QHash<QString, QSet<QString>> m_textColumns;

    std::function<void(const QStringList&)> m_changed;
    std::unique_ptr<QTimer> m_changePoll;
    // The data_version last seen; taken when the connection is made, so that
    // whatever others commit after it is announced.
    qint64 m_dataVersion = -1;
    // Learnt on the first copyTo() of a connection.
    std::optional<CopyMethod> m_copyMethod;

    std::function<void(const CommittedChanges&)> m_rowsChanged;
    // The last entry of the change log seen, taken when the connection is
    // made as data_version is.
    qint64 m_lastChange = 0;
    bool m_notesOwnChanges = false;
};

}  // namespace marvesa
