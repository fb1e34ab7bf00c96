// Copies of a database file: made while other desks work on it, kept by day
// and by week, refused by a full or read-only disk with the database left
// alone, and put back with marvesa-initdb --restore.

#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QProcess>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <atomic>
#include <thread>

#include "data/schema/FileBackup.h"
#include "data/sql/SqliteEngine.h"
#include "support/DataTestSupport.h"

using namespace marvesa;
using namespace marvesa::test;
using namespace Qt::StringLiterals;

namespace {

struct ToolRun {
    int status = -1;
    QString out;
    QString err;
};

// marvesa-initdb with `args`; with a `wrapper`, started through it.
ToolRun initdb(const QStringList& args, const QStringList& wrapper = {}) {
    QProcess tool;
    if (wrapper.isEmpty()) {
        tool.start(QStringLiteral(MARVESA_INITDB), args);
    } else {
        tool.start(wrapper.first(),
                   wrapper.mid(1) + QStringList{QStringLiteral(MARVESA_INITDB)} + args);
    }
    tool.waitForFinished(60000);
    return {tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1,
            QString::fromUtf8(tool.readAllStandardOutput()),
            QString::fromUtf8(tool.readAllStandardError())};
}

// marvesa-initdb run where `folder` is a small file system of its own
// (mounted in a mount namespace of the tool alone, with the options given):
// a disk that fills up, or one that cannot be written.
ToolRun initdbOnOwnDisk(const QString& folder, const QString& mountOptions,
                        const QStringList& args) {
    QStringList unshare{QStringLiteral("unshare"), QStringLiteral("--mount")};
    if (::geteuid() != 0)
        unshare << QStringLiteral("--map-root-user");
    const QString script = QStringLiteral(
        "mount -t tmpfs -o \"$1\" marvesa-test \"$2\" || exit 97; shift 2; exec \"$@\"");
    return initdb(args, unshare + QStringList{QStringLiteral("sh"), QStringLiteral("-c"), script,
                                              QStringLiteral("sh"), mountOptions, folder});
}

QString modeOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return u"<missing>"_s;
    return QString::number(st.st_mode & 07777, 8);
}

QByteArray digest(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

// SQLite's integrity check of a file, read only.
QString integrity(const QString& path) {
    const QString name = u"integrity-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QString result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, name);
        db.setDatabaseName(path);
        db.setConnectOptions(u"QSQLITE_OPEN_READONLY"_s);
        if (!db.open())
            return u"<cannot open>"_s;
        QSqlQuery q(db);
        if (!q.exec(u"PRAGMA integrity_check"_s))
            return q.lastError().text();
        QStringList lines;
        while (q.next())
            lines << q.value(0).toString();
        result = lines.join(u'|');
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}

// Every row of the family-unit and member tables, as text.
QStringList everyRow(const QString& path) {
    Sql sql(path);
    QStringList rows;
    for (const char* table : {"TBL_NUCLEO", "TBL_ANAGRAFICA"}) {
        for (const QVariantList& row :
             sql.rows(u"SELECT * FROM %1 ORDER BY rowid"_s.arg(QLatin1String(table)))) {
            QStringList cells;
            for (const QVariant& v : row)
                cells << (v.isNull() ? u"<NULL>"_s : v.toString());
            rows << QLatin1String(table) + u": "_s + cells.join(u'|');
        }
    }
    return rows;
}

// A database file "dB/dbQuaz.mdb" in `dir` with `members` members.
QString registry(const QTemporaryDir& dir, int members = 0) {
    QDir().mkpath(dir.filePath(u"dB"_s));
    QFile::setPermissions(dir.filePath(u"dB"_s),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString path = newDatabase(dir, u"dB/dbQuaz.mdb"_s);
    Sql sql(path);
    sql.addNucleo(u"QX1"_s, u"ROSSI"_s);
    sql.exec(u"BEGIN"_s);
    for (int i = 0; i < members; ++i)
        sql.addMember(u"QX1"_s, u"ROSSI"_s, u"N%1"_s.arg(i));
    sql.exec(u"COMMIT"_s);
    return path;
}

// Another desk that keeps storing members, one transaction each, on a
// thread of its own, until stopped.
class OtherDesk {
public:
    explicit OtherDesk(const QString& path) : m_path(path) {
        m_thread = std::thread([this] { run(); });
    }
    ~OtherDesk() { stop(); }
    void stop() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    // Members stored (committed) so far, numbered 1, 2, ... in NOME.
    int committed() const { return m_committed; }
    QString error() const { return m_error; }

private:
    void run() {
        const QString name = u"other-desk-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, name);
            db.setDatabaseName(m_path);
            db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT=30000"_s);
            if (!db.open()) {
                m_error = db.lastError().text();
                return;
            }
            QSqlQuery q(db);
            q.prepare(
                u"INSERT INTO TBL_ANAGRAFICA (CODICE_NUCLEO, COGNOME, NOME) VALUES ('QX1', 'ALTRA', ?)"_s);
            for (int n = 1; !m_stop; ++n) {
                q.addBindValue(QString::number(n));
                if (!q.exec()) {
                    m_error = q.lastError().text();
                    break;
                }
                m_committed = n;
            }
            q.finish();
        }
        QSqlDatabase::removeDatabase(name);
    }

    QString m_path;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_committed{0};
    QString m_error;
};

// The other desk's members in a copy: how many, and whether they are
// exactly the first ones it stored (no gap).
std::pair<int, bool> otherDeskRows(const QString& copy) {
    Sql sql(copy);
    const int count = sql.count(u"TBL_ANAGRAFICA"_s, u"COGNOME = 'ALTRA'"_s);
    const int highest =
        sql.one(
               u"SELECT coalesce(max(CAST(NOME AS INTEGER)), 0) FROM TBL_ANAGRAFICA "
               "WHERE COGNOME = 'ALTRA'"_s)
            .toInt();
    return {count, count == highest};
}

std::vector<schema::BackupCopy> copiesAt(const QList<QDateTime>& times) {
    std::vector<schema::BackupCopy> copies;
    for (const QDateTime& t : times)
        copies.push_back({t.toString(Qt::ISODate), t});
    return copies;
}

QStringList madeOf(const std::vector<schema::BackupCopy>& copies) {
    QStringList made;
    for (const schema::BackupCopy& c : copies)
        made << c.made.toString(u"yyyy-MM-dd"_s);
    return made;
}

}  // namespace

class TestBackup : public QObject {
    Q_OBJECT
private slots:
    // A copy made while another desk keeps storing members holds every
    // member stored before it started, and nothing half stored; one made
    // while a second data module holds a write transaction open holds none
    // of that transaction's rows and does not wait for it. Both copies pass
    // the integrity check and carry the database's access.
    void copyWhileOthersWork() {
        QTemporaryDir dir;
        const QString path = registry(dir, 3000);
        // Larger than the few megabytes a copy writes between two flushes:
        // ten megabytes of another table.
        Sql(path).exec(
            u"CREATE TABLE ZAVORRA AS WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL "
            "SELECT i + 1 FROM n WHERE i < 10) SELECT i, zeroblob(1000000) AS X FROM n"_s);
        QVERIFY(QFile::setPermissions(
            path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
        const QString folder = schema::backupFolder(path);
        QCOMPARE(folder, QFileInfo(path).absoluteDir().filePath(u"backup"_s));
        QVERIFY(QDir().mkdir(folder));

        OtherDesk other(path);
        QTRY_VERIFY(other.committed() >= 20);
        const int storedBefore = other.committed();
        const QString first = QDir(folder).filePath(u"first.mdb"_s);
        schema::backupDatabase(path, first);
        const int storedAfter = other.committed();
        QCOMPARE(integrity(first), u"ok"_s);
        const auto [count, noGap] = otherDeskRows(first);
        QVERIFY2(count >= storedBefore && count <= storedAfter,
                 qPrintable(u"%1 <= %2 <= %3"_s.arg(storedBefore).arg(count).arg(storedAfter)));
        QVERIFY(noGap);
        QCOMPARE(modeOf(first), u"640"_s);

        // A second data module holds a write transaction; the other desk
        // waits for it meanwhile.
        TdmMarvesa second;
        second.DataModuleCreate(path);
        Engine& engine = second.cnQuaz.engine();
        engine.beginWrite(u"TBL_NUCLEO"_s);
        engine.exec(u"INSERT INTO TBL_NUCLEO (CODICE_NUCLEO, DENOMINAZIONE) VALUES (?, ?)"_s,
                    {u"QX777"_s, u"NON ANCORA SALVATO"_s});
        const int committedBeforeSecond = other.committed();
        // The copy ends while the transaction is still open: it never waits
        // for a writer (a copy that did would fail with the busy message).
        const QString held = QDir(folder).filePath(u"held.mdb"_s);
        schema::backupDatabase(path, held);
        engine.commit();
        QTRY_VERIFY(other.committed() > committedBeforeSecond + 5);
        other.stop();
        QCOMPARE(other.error(), QString());

        QCOMPARE(integrity(held), u"ok"_s);
        Sql copy(held);
        QCOMPARE(copy.count(u"TBL_NUCLEO"_s, u"CODICE_NUCLEO = 'QX777'"_s), 0);
        QCOMPARE(copy.count(u"TBL_ANAGRAFICA"_s, u"COGNOME = 'ROSSI'"_s), 3000);
        QCOMPARE(copy.one(u"SELECT sum(length(X)) FROM ZAVORRA"_s).toLongLong(), 10'000'000);
        const auto [heldCount, heldNoGap] = otherDeskRows(held);
        QVERIFY(heldCount >= committedBeforeSecond && heldNoGap);
        QCOMPARE(Sql(path).count(u"TBL_NUCLEO"_s, u"CODICE_NUCLEO = 'QX777'"_s), 1);

        // The copy is made with SQLite's online backup on the driver's own
        // connection: Debian's Qt driver runs the system's SQLite.
        SqliteEngine sqlite(path);
        sqlite.connect();
        QCOMPARE(sqlite.copyMethod(), SqliteEngine::CopyMethod::OnlineBackup);

        // A copy never replaces a file.
        QCOMPARE(errorOf([&] { schema::backupDatabase(path, held); }),
                 u"Il file \"%1\" esiste già: non viene sovrascritto"_s.arg(
                     QDir::toNativeSeparators(held)));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), L("first.mdb|held.mdb"));
    }

    // The copies kept: the newest of each of the last `days` days with a
    // copy, then the newest of each of the `weeks` weeks before them.
    void whichCopiesAreKept() {
        // One copy a day for 100 days, two on some days, none on others.
        QList<QDateTime> times;
        const QDate start(2026, 1, 5);  // a Monday
        for (int d = 0; d < 100; ++d) {
            if (d % 9 == 4)
                continue;
            times << QDateTime(start.addDays(d), QTime(18, 0));
            if (d % 10 == 0)
                times << QDateTime(start.addDays(d), QTime(9, 30));
        }
        const auto kept = schema::copiesToKeep(copiesAt(times), {});
        QCOMPARE(int(kept.size()), 22);
        // The last day is 2026-04-14; 04-09 and 03-31 have no copy, so the 14
        // days reach back to 03-30. Then the Sunday of each week before, or the
        // last day of that week with a copy (03-22 has none).
        QCOMPARE(madeOf(kept), L("2026-04-14|2026-04-13|2026-04-12|2026-04-11|2026-04-10|"
                                 "2026-04-08|2026-04-07|2026-04-06|2026-04-05|2026-04-04|"
                                 "2026-04-03|2026-04-02|2026-04-01|2026-03-30|"
                                 "2026-03-29|2026-03-21|2026-03-15|2026-03-08|2026-03-01|"
                                 "2026-02-22|2026-02-15|2026-02-08"));
        // 04-05 had two copies: the later one is kept.
        QCOMPARE(kept[8].made, QDateTime(QDate(2026, 4, 5), QTime(18, 0)));
        // One day, no week: the newest copy alone.
        const auto newest = schema::copiesToKeep(copiesAt(times), {1, 0});
        QCOMPARE(newest.size(), std::size_t(1));
        QCOMPARE(newest.front().made, QDateTime(QDate(2026, 4, 14), QTime(18, 0)));
        // Fewer days than the policy keeps: the newest copy of each day
        // (the first day has two).
        const auto few = schema::copiesToKeep(copiesAt(times.mid(0, 5)), {});
        QCOMPARE(madeOf(few), L("2026-01-08|2026-01-07|2026-01-06|2026-01-05"));
        QCOMPARE(few.back().made.time(), QTime(18, 0));
    }

    // A simulated month of closings, one a day: each day's copy is made once
    // (a second closing that day makes none) and the older ones go, so that
    // 3 daily and 2 weekly copies remain; the settings give the numbers.
    void rotationOverAMonth() {
        QTemporaryDir dir;
        QTemporaryDir settingsDir;
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
        QVERIFY(QDir().mkpath(settingsDir.filePath(u"Marvesa"_s)));
        {
            QFile ini(settingsDir.filePath(u"Marvesa/Marvesa.ini"_s));
            QVERIFY(ini.open(QIODevice::WriteOnly));
            ini.write("[General]\nbackupDays=3\nbackupWeeks=2\n");
        }
        const schema::BackupPolicy policy = schema::BackupPolicy::fromSettings();
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString());
        QCOMPARE(policy.days, 3);
        QCOMPARE(policy.weeks, 2);

        const QString path = registry(dir);
        const QDate start(2026, 1, 5);  // a Monday
        for (int d = 0; d < 35; ++d) {
            const QDateTime closing(start.addDays(d), QTime(17, 45, 10));
            const schema::DailyBackup made = schema::makeDailyBackup(path, closing, policy);
            QCOMPARE(QFileInfo(made.made).fileName(),
                     u"dbQuaz-%1-174510.mdb"_s.arg(closing.date().toString(u"yyyy-MM-dd"_s)));
            const schema::DailyBackup again =
                schema::makeDailyBackup(path, closing.addSecs(3600), policy);
            QCOMPARE(again.made, QString());
            const int copies = int(schema::backupCopies(path).size());
            QVERIFY2(copies <= 5, qPrintable(QString::number(copies)));
        }
        QCOMPARE(madeOf(schema::backupCopies(path)),
                 L("2026-02-08|2026-02-07|2026-02-06|2026-02-01|2026-01-25"));
        QCOMPARE(schema::lastBackup(path)->date(), QDate(2026, 2, 8));
        const QString folder = schema::backupFolder(path);
        QCOMPARE(modeOf(folder), modeOf(QFileInfo(path).absolutePath()));
        for (const schema::BackupCopy& c : schema::backupCopies(path)) {
            QCOMPARE(modeOf(c.path), u"600"_s);
            QCOMPARE(integrity(c.path), u"ok"_s);
        }
        // Nothing else was left in the folder.
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 5);
    }

    // A copy into a disk that fills up, or into one that cannot be written,
    // fails with a message that says so; nothing of the database changes.
    // A backup folder that is a file stops the daily copy, removing nothing.
    void fullOrReadOnlyDisk() {
        QTemporaryDir dir;
        const QString path = registry(dir, 2000);
        const QByteArray before = digest(path);
        const QString shown = QDir::toNativeSeparators(path);
        const QString disk = dir.filePath(u"disco"_s);
        QVERIFY(QDir().mkdir(disk));

        const ToolRun full =
            initdbOnOwnDisk(disk, u"size=64k"_s, {u"--backup"_s, path, disk + u"/copia.mdb"_s});
        QVERIFY2(full.status == 1, qPrintable(full.err));
        QVERIFY2(
            full.err.contains(u"Impossibile copiare il database \"%1\" nel file "_s.arg(shown)) &&
                full.err.contains(u"il disco è pieno"_s),
            qPrintable(full.err));

        const ToolRun readOnly =
            initdbOnOwnDisk(disk, u"ro"_s, {u"--copia-sicurezza"_s, path, disk});
        QVERIFY2(readOnly.status == 1, qPrintable(readOnly.err));
        QVERIFY2(readOnly.err.contains(u"è in sola lettura o non accessibile"_s),
                 qPrintable(readOnly.err));

        QCOMPARE(digest(path), before);
        QCOMPARE(integrity(path), u"ok"_s);
        QCOMPARE(Sql(path).count(u"TBL_ANAGRAFICA"_s), 2000);
        QVERIFY(QDir(disk).isEmpty());

        // The daily copy: a file where its folder should be.
        schema::makeDailyBackup(path, QDateTime(QDate(2026, 3, 1), QTime(12, 0)), {});
        const QString folder = schema::backupFolder(path);
        QVERIFY(QDir(folder).removeRecursively());
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QCOMPARE(errorOf([&] {
                     schema::makeDailyBackup(path, QDateTime(QDate(2026, 3, 2), QTime(12, 0)), {});
                 }),
                 u"Impossibile fare la copia di sicurezza: \"%1\" non è una cartella"_s.arg(
                     QDir::toNativeSeparators(folder)));
        QCOMPARE(integrity(path), u"ok"_s);
    }

    // --backup into a folder names the copy by the moment; a server
    // connection is sent to pg_dump.
    void backupCommand() {
        QTemporaryDir dir;
        const QString path = registry(dir, 10);
        const ToolRun made = initdb({u"--backup"_s, path, dir.path()});
        QVERIFY2(made.status == 0, qPrintable(made.err));
        const QStringList copies = QDir(dir.path()).entryList({u"dbQuaz-*.mdb"_s}, QDir::Files);
        QCOMPARE(copies.size(), 1);
        QVERIFY2(made.out.contains(u"(controllo di integrità superato)"_s), qPrintable(made.out));
        QCOMPARE(everyRow(dir.filePath(copies.first())), everyRow(path));
        QCOMPARE(modeOf(dir.filePath(copies.first())), u"600"_s);

        const ToolRun server = initdb({u"--backup"_s, u"service=marvesa"_s, dir.path()});
        QCOMPARE(server.status, 2);
        QVERIFY(server.err.contains(u"pg_dump"_s));
        QCOMPARE(initdb({u"--backup"_s, path}).status, 2);
    }

    // --restore refuses a file that is not a Marvesa database and a
    // database another copy of the program holds, changing nothing; else it
    // puts back every row, keeping the database it replaces beside it.
    void restoreCommand() {
        QTemporaryDir dir;
        const QString path = registry(dir, 50);
        QVERIFY(QFile::setPermissions(
            path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
        const QString copy = dir.filePath(u"copia.mdb"_s);
        QCOMPARE(initdb({u"--backup"_s, path, copy}).status, 0);
        const QStringList saved = everyRow(path);

        // Work after the copy: rows added, changed and deleted.
        {
            Sql sql(path);
            sql.addNucleo(u"QX2"_s, u"BIANCHI"_s);
            sql.exec(u"UPDATE TBL_ANAGRAFICA SET NOME = 'CAMBIATO' WHERE NOME = 'N3'"_s);
            sql.exec(u"DELETE FROM TBL_ANAGRAFICA WHERE NOME = 'N4'"_s);
        }
        const QStringList changed = everyRow(path);
        QVERIFY(changed != saved);

        const QString text = dir.filePath(u"appunti.txt"_s);
        {
            QFile f(text);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("non un database\n");
        }
        const QString otherDb = dir.filePath(u"altro.sqlite"_s);
        Sql(otherDb).exec(u"CREATE TABLE T (X)"_s);
        for (const QString& wrong : {text, otherDb}) {
            const ToolRun refused = initdb({u"--restore"_s, wrong, path});
            QCOMPARE(refused.status, 1);
            QVERIFY2(refused.err.contains(u"Il file \"%1\" non è un database di Marvesa"_s.arg(
                         QDir::toNativeSeparators(wrong))),
                     qPrintable(refused.err));
        }
        {
            // Another copy of the program has the database open.
            TdmMarvesa desk;
            desk.DataModuleCreate(path);
            const ToolRun busy = initdb({u"--ripristina"_s, copy, path});
            QCOMPARE(busy.status, 1);
            QVERIFY2(busy.err.contains(
                         u"Il database \"%1\" è in uso"_s.arg(QDir::toNativeSeparators(path))),
                     qPrintable(busy.err));
        }
        QCOMPARE(everyRow(path), changed);
        QCOMPARE(QDir(dir.filePath(u"dB"_s)).entryList(QDir::Files | QDir::Hidden),
                 L("dbQuaz.mdb"));

        const ToolRun restored = initdb({u"--restore"_s, copy, path});
        QVERIFY2(restored.status == 0, qPrintable(restored.err));
        QVERIFY2(restored.out.contains(u"1 nuclei familiari, 50 familiari"_s),
                 qPrintable(restored.out));
        QCOMPARE(everyRow(path), saved);
        QCOMPARE(modeOf(path), u"640"_s);
        const QStringList kept =
            QDir(dir.filePath(u"dB"_s)).entryList({u"dbQuaz.mdb.before-restore-*"_s});
        QCOMPARE(kept.size(), 1);
        QCOMPARE(everyRow(dir.filePath(u"dB/"_s + kept.first())), changed);
        QCOMPARE(integrity(copy), u"ok"_s);
        // The program opens the restored database.
        TdmMarvesa desk;
        desk.DataModuleCreate(path);
        QCOMPARE(desk.TBL_ANAGRAFICA.recordCount(), 50);

        // A database that is no longer one (a disk error, an editor) is
        // replaced too, and kept.
        desk.closeDataStore();
        {
            QFile broken(path);
            QVERIFY(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
            broken.write("rovinato");
        }
        QCOMPARE(initdb({u"--restore"_s, copy, path}).status, 0);
        QCOMPARE(everyRow(path), saved);
        QCOMPARE(QDir(dir.filePath(u"dB"_s)).entryList({u"dbQuaz.mdb*"_s}, QDir::Files).size(), 3);

        // A database that is gone is put back too, its owner's alone.
        const QString gone = dir.filePath(u"nuovo/dB/dbQuaz.mdb"_s);
        QCOMPARE(initdb({u"--restore"_s, copy, gone}).status, 0);
        QCOMPARE(everyRow(gone), saved);
        QCOMPARE(modeOf(gone), u"600"_s);
    }
};

QTEST_GUILESS_MAIN(TestBackup)
#include "tst_backup.moc"
