// The database and its engine: the database as marvesa-initdb makes it,
// opening a missing file and then a good one, a file not yet in WAL mode, a
// table or column missing at start-up, and two copies on one file.

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include "data/sql/SqliteEngine.h"
#include "support/DataTestSupport.h"

#ifdef Q_OS_UNIX
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace marvesa;
using namespace marvesa::test;
using namespace Qt::StringLiterals;

namespace {

QByteArray digestOf(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

// A path as the operator is shown it.
QString shown(const QString& path) {
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

// The columns of a table as the database declares them: "NAME TYPE, ...".
QString declaredColumns(Sql& sql, const QString& table) {
    QStringList r;
    for (const QVariantList& row :
         sql.rows(u"SELECT name, type FROM pragma_table_info(?)"_s, {table}))
        r << row.value(0).toString() + u' ' + row.value(1).toString();
    return r.join(u", "_s);
}

// Runs marvesa-initdb on `path`; returns its exit code and keeps its errors.
int runInitDb(const QString& path, QString* errors, const QStringList& options = {}) {
    QProcess tool;
    tool.start(QStringLiteral(MARVESA_INITDB), options + QStringList{path});
    tool.waitForFinished(60000);
    *errors = QString::fromUtf8(tool.readAllStandardError());
    return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
}

// The access bits of a file or folder, set-group-ID included, as "2770".
QString modeOf(const QString& path) {
#ifdef Q_OS_UNIX
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return u"<missing>"_s;
    return QString::number(st.st_mode & 07777, 8);
#else
    Q_UNUSED(path);
    return QString();
#endif
}

#ifdef Q_OS_UNIX
gid_t groupOf(const QString& path) {
    struct stat st;
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_gid;
}
#endif

// Makes a folder or file unwritable, even for root (immutable); false when
// that is not possible here. Undone by the returned guard's owner.
bool makeUnwritable(const QString& path, bool unwritable) {
#ifdef Q_OS_UNIX
    if (::geteuid() == 0)
        return QProcess::execute(u"chattr"_s, {unwritable ? u"+i"_s : u"-i"_s, path}) == 0;
#endif
    const QFileDevice::Permissions all =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    return QFile::setPermissions(path, unwritable ? all & ~QFileDevice::WriteOwner : all);
}

// Hears of the engine's waits for a busy database.
struct BusyLog : BusyObserver {
    QStringList calls;
    void busyWaitStarted() override { calls << u"started"_s; }
    void busyWaitEnded() override { calls << u"ended"_s; }
};

}  // namespace

class TestEngine : public QObject {
    Q_OBJECT

private slots:
    void initDbMakesTheDatabaseAndRefusesAnExistingPath();
    void openingMissingThenGoodAndEmptyFiles();
    void missingTableOrColumnStopsTheOpening_data();
    void missingTableOrColumnStopsTheOpening();
    void twoCopiesOnOneFile();
    void newDatabaseIsPrivateOrGroupShared();
    void memberOfAFamilyUnitDeletedElsewhere();
    void textThatIsNotUtf8CanBeEdited();
    void databaseHeldByAnotherCopy();
    void tablesAndIndexesAsDeclared();
    void fullDisk();
    void writeTransactionsGiveTheirCacheBack();
};

void TestEngine::initDbMakesTheDatabaseAndRefusesAnExistingPath() {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"dbQuaz.mdb"_s);
    QString errors;
    QCOMPARE(runInitDb(path, &errors), 0);
    // Again on the same path: refused with a message, non-zero, the file untouched.
    const QByteArray made = digestOf(path);
    QCOMPARE(runInitDb(path, &errors), 1);
    QCOMPARE(errors, u"marvesa-initdb: Il file \"%1\" esiste già: non viene sovrascritto\n"_s.arg(
                         shown(path)));
    QCOMPARE(digestOf(path), made);

    Sql sql(path);
    QCOMPARE(sql.exec(u"SELECT name FROM sqlite_master WHERE type = 'table' "
                      "AND name NOT LIKE 'sqlite_%' ORDER BY name"_s),
             (QVariantList{u"TBL_ANAGRAFICA"_s, u"TBL_EXPORT"_s, u"TBL_NON_DOPPIONI"_s,
                           u"TBL_NUCLEO"_s, u"TBL_STORICO"_s, u"TBL_SYS_COMUNI"_s,
                           u"TBL_SYS_MODIFICHE"_s, u"TBL_SYS_NAZIONE"_s, u"TBL_SYS_VERSIONE"_s}));
    QCOMPARE(declaredColumns(sql, u"TBL_NUCLEO"_s),
             u"ID_NUCLEO INTEGER, CODICE_NUCLEO VARCHAR(20), DENOMINAZIONE VARCHAR(200), "
             "DATA_INSERIMENTO DATETIME, NOME_OSPITANTE VARCHAR(50), COMUNE VARCHAR(50), "
             "INDIRIZZO VARCHAR(100), TELEFONO VARCHAR(50), TERMINE_ALLOGGIO DATETIME, "
             "CHIAVE_RIGA VARCHAR(36)"_s);
    QCOMPARE(
        declaredColumns(sql, u"TBL_ANAGRAFICA"_s),
        u"ID_ANAGRAFICA INTEGER, CODICE_NUCLEO VARCHAR(20), COGNOME VARCHAR(50), "
        "NOME VARCHAR(50), SESSO VARCHAR(1), DATA_NASCITA DATETIME, "
        "NAZIONE_NASCITA VARCHAR(30), CITTADINANZA VARCHAR(30), GRADO_PARENTELA VARCHAR(25), "
        "COMUNE VARCHAR(50), INDIRIZZO VARCHAR(100), TERMINE_ALLOGGIO DATETIME, "
        "DATA_INGRESSO DATETIME, FRONTIERA VARCHAR(100), CODICE_PRIORITA VARCHAR(10), "
        "NOTE TEXT, TELEFONO VARCHAR(50), DATA_INSERIMENTO DATETIME, "
        "NOME_OSPITANTE VARCHAR(100), CHIAVE_RIGA VARCHAR(36), CHIAVE_NOMINATIVO VARCHAR(200)"_s);
    QCOMPARE(declaredColumns(sql, u"TBL_EXPORT"_s),
             u"ID_ANAGRAFICA INTEGER, CODICE_NUCLEO VARCHAR(20), COGNOME VARCHAR(50), "
             "NOME VARCHAR(50), SESSO VARCHAR(1), DATA_NASCITA DATETIME, "
             "NAZIONE_NASCITA VARCHAR(30), CITTADINANZA VARCHAR(30), GRADO_PARENTELA VARCHAR(25), "
             "COMUNE VARCHAR(50), INDIRIZZO VARCHAR(100), NOME_OSPITANTE VARCHAR(100), "
             "TELEFONO VARCHAR(50), TERMINE_ALLOGGIO DATETIME, DATA_INGRESSO DATETIME, "
             "FRONTIERA VARCHAR(100), CODICE_PRIORITA VARCHAR(10), NOTE TEXT, "
             "DATA_INSERIMENTO DATETIME"_s);
    // The index CODICE_NUCLEO orders the staging table by family code.
    QCOMPARE(sql.row(u"SELECT type, tbl_name FROM sqlite_master WHERE name = 'CODICE_NUCLEO'"_s),
             u"index|TBL_EXPORT"_s);
    QCOMPARE(sql.exec(u"SELECT name FROM pragma_index_info('CODICE_NUCLEO')"_s),
             QVariantList{u"CODICE_NUCLEO"_s});
    // The reference lists are loaded whole, accented names intact.
    QCOMPARE(sql.count(u"TBL_SYS_COMUNI"_s), 7896);
    QCOMPARE(sql.count(u"TBL_SYS_COMUNI"_s, u"Denominazione = 'Forlì'"_s), 1);
    QCOMPARE(sql.count(u"TBL_SYS_NAZIONE"_s), 251);
    // A row gets the local date and time of its insertion.
    sql.exec(u"INSERT INTO TBL_NUCLEO (CODICE_NUCLEO) VALUES ('QX1')"_s);
    const QDateTime inserted = QDateTime::fromString(
        sql.one(u"SELECT DATA_INSERIMENTO FROM TBL_NUCLEO"_s).toString(), Qt::ISODate);
    QVERIFY(inserted.isValid());
    QVERIFY(qAbs(inserted.secsTo(QDateTime::currentDateTime())) < 60);
}

void TestEngine::openingMissingThenGoodAndEmptyFiles() {
    QTemporaryDir dir;
    // Blanks, "#", "%", "?" and accented letters are part of the file name,
    // not of a URI.
    const QString sub = u"Città di prova #1 %20 ?x"_s;
    QVERIFY(QDir(dir.path()).mkdir(sub));
    const QString missing = dir.filePath(sub + u"/dbQuaz.mdb"_s);
    TdmMarvesa dm;
    QCOMPARE(errorOf([&] { dm.DataModuleCreate(missing); }),
             u"Impossibile aprire il database: il file \"%1\" non esiste"_s.arg(shown(missing)));
    // The same module then opens a good path: it once kept the engine made
    // for the missing one.
    const QString good = newDatabase(dir, sub + u"/db Quaz.mdb"_s);
    dm.DataModuleCreate(good);
    add(dm.TBL_NUCLEO, "CODICE_NUCLEO", "QX1");
    dm.closeDataStore();
    QCOMPARE(Sql(good).one(u"SELECT CODICE_NUCLEO FROM TBL_NUCLEO"_s).toString(), u"QX1"_s);
    // Nothing was created under the missing name, nor under another spelling.
    QVERIFY(!QFileInfo::exists(missing));
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{sub});

    // An empty file is no database: refused, and left empty (SQLite would
    // make a database of it).
    const QString empty = dir.filePath(u"vuoto.mdb"_s);
    QVERIFY(QFile(empty).open(QIODevice::WriteOnly));
    SqliteEngine engine(empty);
    QCOMPARE(errorOf([&] { engine.connect(); }),
             u"Impossibile aprire il database \"%1\": il file è vuoto e non è un database"_s.arg(
                 shown(empty)));
    QVERIFY(!engine.isConnected());
    QCOMPARE(QFileInfo(empty).size(), 0);
    QVERIFY(!QFileInfo::exists(empty + u"-wal"_s));

    // A database in a folder nobody may write into: the folder is named.
    QTemporaryDir shelf;
    const QString onShelf = newDatabase(shelf);
    if (makeUnwritable(shelf.path(), true)) {
        const auto unlock = qScopeGuard([&] { makeUnwritable(shelf.path(), false); });
        QCOMPARE(errorOf([&] { SqliteEngine(onShelf).connect(); }),
                 u"Impossibile aprire il database \"%1\": la cartella \"%2\" è in sola lettura. "
                 "Il programma deve poter scrivere nella cartella del database"_s.arg(
                     shown(onShelf), shown(shelf.path())));
    } else {
        qWarning("no way to make a folder read-only here: that case is not checked");
    }

    // A file that cannot be written fails at once, not at the first "Salva".
    // Permissions do not stop root, so there the file is made immutable.
    const QString locked = newDatabase(dir, u"sola-lettura.mdb"_s);
#ifdef Q_OS_UNIX
    const bool root = ::geteuid() == 0;
#else
    const bool root = false;
#endif
    if (root && QProcess::execute(u"chattr"_s, {u"+i"_s, locked}) != 0)
        QSKIP("running as root without chattr: no way to make a file read-only");
    if (!root)
        QVERIFY(QFile::setPermissions(locked, QFileDevice::ReadOwner));
    const auto unlock = qScopeGuard([&] {
        if (root)
            QProcess::execute(u"chattr"_s, {u"-i"_s, locked});
    });
    QCOMPARE(errorOf([&] { SqliteEngine(locked).connect(); }),
             u"Impossibile aprire il database \"%1\": il file è in sola lettura o non è "
             "accessibile"_s.arg(shown(locked)));
}

void TestEngine::missingTableOrColumnStopsTheOpening_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("message");  // %1: the database
    QTest::addColumn<int>("opened");       // tables that open before the failing one
    QTest::newRow("TBL_SYS_COMUNI")
        << u"DROP TABLE TBL_SYS_COMUNI"_s
        << u"La tabella \"TBL_SYS_COMUNI\" non esiste nel database \"%1\""_s << 2;
    // A missing member table or declared column once went unnoticed while
    // there was no family unit, since the member table then reads no rows.
    QTest::newRow("TBL_ANAGRAFICA")
        << u"DROP TABLE TBL_ANAGRAFICA"_s
        << u"La tabella \"TBL_ANAGRAFICA\" non esiste nel database \"%1\""_s << 1;
    // The history's triggers name every column: the file refuses to drop
    // one they read, so they go first.
    QTest::newRow("FRONTIERA")
        << u"DROP TRIGGER TBL_ANAGRAFICA_STORICO_I; DROP TRIGGER TBL_ANAGRAFICA_STORICO_U; "
           "DROP TRIGGER TBL_ANAGRAFICA_STORICO_D; ALTER TABLE TBL_ANAGRAFICA DROP COLUMN "
           "FRONTIERA"_s
        << u"La colonna \"FRONTIERA\" non esiste nella tabella \"TBL_ANAGRAFICA\" del database "
           "\"%1\""_s
        << 1;
}

void TestEngine::missingTableOrColumnStopsTheOpening() {
    QFETCH(QString, change);
    QFETCH(QString, message);
    QFETCH(int, opened);
    QTemporaryDir dir;
    const QString path = newDatabase(dir);
    Sql sql(path);
    for (const QString& statement : change.split(u';'))
        sql.exec(statement.trimmed());
    if (change.contains(u"DROP COLUMN"_s)) {
        QCOMPARE(sql.one(u"SELECT count(*) FROM pragma_table_info('TBL_ANAGRAFICA') WHERE name = "
                         "'FRONTIERA'"_s)
                     .toInt(),
                 0);
    }
    TdmMarvesa dm;
    QCOMPARE(errorOf([&] { dm.DataModuleCreate(path); }), message.arg(shown(path)));
    // The tables in the order they are opened: the rest stay closed.
    const DataSet* tables[] = {&dm.TBL_NUCLEO, &dm.TBL_ANAGRAFICA, &dm.TBL_COMUNI, &dm.TBL_NAZIONI,
                               &dm.TBL_EXPORT};
    for (int i = 0; i < 5; ++i)
        QCOMPARE(tables[i]->state(), i < opened ? dsBrowse : dsInactive);
    QCOMPARE(errorOf([&] { dm.TBL_EXPORT.insert(); }),
             u"TBL_EXPORT: Cannot perform this operation on a closed dataset"_s);
}

void TestEngine::twoCopiesOnOneFile() {
    QTemporaryDir dir;
    const QString path = newDatabase(dir);
    TdmMarvesa one;
    TdmMarvesa two;
    one.DataModuleCreate(path);
    two.DataModuleCreate(path);
    // Both write in turn, and each reads what the other stored.
    add(one.TBL_NUCLEO, "CODICE_NUCLEO", "QX1");
    add(two.TBL_NUCLEO, "CODICE_NUCLEO", "QX2");
    add(one.TBL_NUCLEO, "CODICE_NUCLEO", "QX3");
    two.TBL_NUCLEO.refresh();
    QCOMPARE(two.TBL_NUCLEO.recordCount(), 3);
}

void TestEngine::newDatabaseIsPrivateOrGroupShared() {
#ifndef Q_OS_UNIX
    QSKIP("access modes are those of POSIX systems");
#else
    QTemporaryDir dir;
    // A folder the tool makes is its owner's alone, so is the database and
    // the companions the program makes beside it.
    const QString privateDb = dir.filePath(u"privata/dB/dbQuaz.mdb"_s);
    QString errors;
    ::umask(022);
    QCOMPARE(runInitDb(privateDb, &errors), 0);
    QCOMPARE(modeOf(QFileInfo(privateDb).absolutePath()), u"700"_s);
    QCOMPARE(modeOf(privateDb), u"600"_s);
    {
        TdmMarvesa dm;
        dm.DataModuleCreate(privateDb);
        add(dm.TBL_NUCLEO, "CODICE_NUCLEO", "QX1");
        QCOMPARE(modeOf(privateDb + u"-wal"_s), u"600"_s);
        QCOMPARE(modeOf(privateDb + u"-shm"_s), u"600"_s);
    }

    // Given to a group: the folder 2770, the file and its companions 0660,
    // all of the group.
    const gid_t gid = ::getegid();
    const struct group* g = ::getgrgid(gid);
    QVERIFY(g);
    const QString group = QString::fromLocal8Bit(g->gr_name);
    const QString sharedDir = dir.filePath(u"condivisa"_s);
    QVERIFY(QDir().mkdir(sharedDir));
    const QString sharedDb = sharedDir + u"/dbQuaz.mdb"_s;
    QCOMPARE(runInitDb(sharedDb, &errors, {u"--gruppo"_s, group}), 0);
    QCOMPARE(modeOf(sharedDir), u"2770"_s);
    QCOMPARE(modeOf(sharedDb), u"660"_s);
    QCOMPARE(groupOf(sharedDir), gid);
    QCOMPARE(groupOf(sharedDb), gid);
    {
        TdmMarvesa dm;
        dm.DataModuleCreate(sharedDb);
        add(dm.TBL_NUCLEO, "CODICE_NUCLEO", "QX1");
        QCOMPARE(modeOf(sharedDb + u"-wal"_s), u"660"_s);
        QCOMPARE(modeOf(sharedDb + u"-shm"_s), u"660"_s);
        QCOMPARE(groupOf(sharedDb + u"-wal"_s), gid);
    }
    // A group that does not exist is named, and nothing is made.
    const QString noGroup = dir.filePath(u"nessuno/dbQuaz.mdb"_s);
    QCOMPARE(runInitDb(noGroup, &errors, {u"--gruppo"_s, u"marvesa-nessun-gruppo"_s}), 1);
    QCOMPARE(errors, u"marvesa-initdb: Il gruppo \"marvesa-nessun-gruppo\" non esiste\n"_s);
    QVERIFY(!QFileInfo::exists(noGroup));
#endif
}

// Two copies on one file: one deletes a family unit, the other, still
// showing it, stores a member for it (new, or changed): refused with the
// message, nothing stored, the typed values still pending.
void TestEngine::memberOfAFamilyUnitDeletedElsewhere() {
    QTemporaryDir dir;
    const QString path = newDatabase(dir);
    Sql sql(path);
    sql.addNucleo(u"QX7"_s);
    sql.addMember(u"QX7"_s, u"ROSSI"_s);
    TdmMarvesa one;
    TdmMarvesa two;
    one.DataModuleCreate(path);
    two.DataModuleCreate(path);
    one.TBL_NUCLEO.remove();  // the family unit alone, as another tool might
    const QString message =
        u"TBL_ANAGRAFICA: il Nucleo Familiare \"QX7\" è stato cancellato da un altro utente: il "
        "familiare non è stato salvato. Annullare le modifiche e aggiornare i dati"_s;

    DataSet& members = two.TBL_ANAGRAFICA;
    members.insert();
    set(members, "COGNOME", "BIANCHI");
    QCOMPARE(errorOf([&] { members.post(); }), message);
    QCOMPARE(members.state(), dsInsert);
    QCOMPARE(text(members, "COGNOME"), u"BIANCHI"_s);
    QCOMPARE(sql.count(u"TBL_ANAGRAFICA"_s, u"COGNOME = 'BIANCHI'"_s), 0);
    members.cancel();

    members.edit();
    set(members, "NOME", "ANNA");
    QCOMPARE(errorOf([&] { members.post(); }), message);
    QCOMPARE(members.state(), dsEdit);
    QCOMPARE(sql.row(u"SELECT NOME FROM TBL_ANAGRAFICA"_s), u"N"_s);
    members.cancel();

    // While the family unit exists both are stored.
    two.TBL_NUCLEO.insert();
    set(two.TBL_NUCLEO, "CODICE_NUCLEO", "QX8");
    two.TBL_NUCLEO.post();
    add(members, "COGNOME", "VERDI");
    QCOMPARE(sql.row(u"SELECT CODICE_NUCLEO FROM TBL_ANAGRAFICA WHERE COGNOME = 'VERDI'"_s),
             u"QX8"_s);
    change(members, "NOME", "PIA");
    QCOMPARE(sql.row(u"SELECT NOME FROM TBL_ANAGRAFICA WHERE COGNOME = 'VERDI'"_s), u"PIA"_s);
}

// Text another tool stored that is not UTF-8 (Latin-1 "é" here): the row can
// be changed and stored; the bytes of the columns left alone stay; a change
// of those bytes by another user is still noticed.
void TestEngine::textThatIsNotUtf8CanBeEdited() {
    QTemporaryDir dir;
    const QString path = newDatabase(dir);
    Sql sql(path);
    sql.exec(
        u"INSERT INTO TBL_NUCLEO (CODICE_NUCLEO, DENOMINAZIONE, INDIRIZZO) "
        "VALUES ('QX1', CAST(X'43616666E9' AS TEXT), 'VIA ROMA')"_s);
    TdmMarvesa dm;
    dm.DataModuleCreate(path);
    DataSet& t = dm.TBL_NUCLEO;
    QCOMPARE(text(t, "DENOMINAZIONE"), u"Caff\uFFFD"_s);
    change(t, "INDIRIZZO", "VIA VERDI");
    QCOMPARE(sql.row(u"SELECT hex(DENOMINAZIONE), INDIRIZZO FROM TBL_NUCLEO"_s),
             u"43616666E9|VIA VERDI"_s);
    change(t, "INDIRIZZO", "VIA BLU");
    QCOMPARE(sql.row(u"SELECT INDIRIZZO FROM TBL_NUCLEO"_s), u"VIA BLU"_s);

    sql.exec(u"UPDATE TBL_NUCLEO SET DENOMINAZIONE = CAST(X'43616666E8' AS TEXT)"_s);
    t.edit();
    set(t, "INDIRIZZO", "VIA NERA");
    QVERIFY(errorOf([&] { t.post(); }).contains(u"modificata o cancellata da un altro utente"_s));
    t.cancel();
    t.refresh();
    change(t, "DENOMINAZIONE", "CAFFÈ");
    QCOMPARE(sql.row(u"SELECT DENOMINAZIONE, INDIRIZZO FROM TBL_NUCLEO"_s), u"CAFFÈ|VIA BLU"_s);
}

// Another copy holds the database for writing longer than the wait: the
// observer hears of the wait, the message is Italian, the row stays pending
// and is stored once the database is free.
void TestEngine::databaseHeldByAnotherCopy() {
    QTemporaryDir dir;
    const QString path = newDatabase(dir);
    TdmMarvesa dm;
    BusyLog busy;
    dm.cnQuaz.setBusyObserver(&busy);
    dm.cnQuaz.setEngineFactory([](const QString& p) {
        auto engine = std::make_unique<SqliteEngine>(p);
        engine->setBusyTimeout(300);
        return engine;
    });
    dm.DataModuleCreate(path);
    QVERIFY(busy.calls.isEmpty());
    Sql other(path);
    other.exec(u"BEGIN IMMEDIATE"_s);
    other.exec(u"INSERT INTO TBL_SYS_NAZIONE (Nazione) VALUES ('Atlantide')"_s);
    DataSet& t = dm.TBL_NUCLEO;
    t.insert();
    set(t, "CODICE_NUCLEO", "QX9");
    QElapsedTimer waited;
    waited.start();
    QCOMPARE(errorOf([&] { t.post(); }), SqliteEngine::busyMessage());
    QVERIFY(waited.elapsed() >= 300);
    QCOMPARE(busy.calls, (QStringList{u"started"_s, u"ended"_s}));
    QCOMPARE(t.state(), dsInsert);
    QCOMPARE(text(t, "CODICE_NUCLEO"), u"QX9"_s);
    other.exec(u"COMMIT"_s);
    t.post();
    QCOMPARE(other.count(u"TBL_NUCLEO"_s, u"CODICE_NUCLEO = 'QX9'"_s), 1);
    QCOMPARE(busy.calls.size(), 2);
}

// The disk is full (the file may grow no further): the clerk reads it in
// Italian with what to do, SQLite's words as the detail; the row stays
// pending with what was typed, nothing stored before is lost, and once
// there is room the same "Salva" stores it.
void TestEngine::fullDisk() {
    QTemporaryDir dir;
    const QString path = newDatabase(dir);
    TdmMarvesa dm;
    dm.DataModuleCreate(path);
    auto& engine = static_cast<QtSqlEngine&>(dm.cnQuaz.engine());
    int pages = 0;
    engine.select(u"PRAGMA page_count"_s, {}, [&](const QVector<QVariant>& row) {
        pages = row.at(0).toInt();
        return false;
    });
    engine.execDirect(u"PRAGMA max_page_count = %1"_s.arg(pages + 2), u"prova"_s);
    DataSet& t = dm.TBL_NUCLEO;
    const QString wide(200, u'x');
    int stored = 0;
    Error failure(QString{});
    for (;;) {
        t.insert();
        t.setFieldValue(u"CODICE_NUCLEO"_s, Value::text(u"QX%1"_s.arg(stored)));
        t.setFieldValue(u"DENOMINAZIONE"_s, Value::text(wide));
        try {
            t.post();
            ++stored;
        } catch (const Error& e) {
            failure = e;
            break;
        }
        QVERIFY(stored < 10000);
    }
    QVERIFY2(failure.message().contains(u"è pieno"_s) &&
                 failure.message().contains(u"liberare spazio"_s),
             qPrintable(failure.message()));
    QVERIFY2(failure.detail().contains(u"database or disk is full"_s),
             qPrintable(failure.detail()));
    QVERIFY(!failure.message().contains(u"database or disk is full"_s));
    QCOMPARE(t.state(), dsInsert);
    QCOMPARE(text(t, "CODICE_NUCLEO"), u"QX%1"_s.arg(stored));
    QCOMPARE(Sql(path).count(u"TBL_NUCLEO"_s, u"length(DENOMINAZIONE) = 200"_s), stored);
    engine.execDirect(u"PRAGMA max_page_count = 1000000"_s, u"prova"_s);
    t.post();
    QCOMPARE(Sql(path).count(u"TBL_NUCLEO"_s, u"length(DENOMINAZIONE) = 200"_s), stored + 1);
}

// A write transaction may keep many changed pages in memory until it ends
// (an import changes a hundred megabytes); committed or rolled back, the
// connection is back to its small cache, so that a copy of the program that
// once imported does not hold the memory for the rest of the day.
void TestEngine::writeTransactionsGiveTheirCacheBack() {
    QTemporaryDir dir;
    const QString path = newDatabase(dir);
    SqliteEngine engine(path);
    engine.connect();
    const auto cacheKiB = [&] {
        int size = 0;
        engine.select(u"PRAGMA cache_size"_s, {}, [&](const QVector<QVariant>& row) {
            size = -row.at(0).toInt();
            return false;
        });
        return size;
    };
    QCOMPARE(cacheKiB(), SqliteEngine::kReadCacheKiB);
    engine.beginWrite(u"TBL_NUCLEO"_s);
    QCOMPARE(cacheKiB(), SqliteEngine::kWriteCacheKiB);
    // More than the small cache holds, stored whole at the commit.
    const QString wide(2000, u'x');
    for (int i = 0; i < 3000; ++i) {
        engine.exec(u"INSERT INTO TBL_NUCLEO (CODICE_NUCLEO, DENOMINAZIONE) VALUES (?, ?)"_s,
                    {u"QX%1"_s.arg(i), wide});
    }
    engine.commit();
    QCOMPARE(cacheKiB(), SqliteEngine::kReadCacheKiB);
    QCOMPARE(Sql(path).count(u"TBL_NUCLEO"_s), 3000);
    engine.beginWrite(u"TBL_NUCLEO"_s);
    engine.exec(u"DELETE FROM TBL_NUCLEO"_s);
    engine.rollback();
    QCOMPARE(cacheKiB(), SqliteEngine::kReadCacheKiB);
    QCOMPARE(Sql(path).count(u"TBL_NUCLEO"_s), 3000);
}

// Every table, column, default and index of the definitions is made in a new
// file, as declared: a column or index added to the definitions comes with
// the database.
void TestEngine::tablesAndIndexesAsDeclared() {
    QTemporaryDir dir;
    Sql sql(newDatabase(dir));
    for (const TableDef* t : schema::allTables()) {
        const QList<QVariantList> columns =
            sql.rows(u"SELECT name, type, dflt_value FROM pragma_table_info(?)"_s, {t->name});
        QCOMPARE(columns.size(), qsizetype(t->columns.size()));
        for (size_t i = 0; i < t->columns.size(); ++i) {
            const ColumnDef& c = t->columns[i];
            const QVariantList& column = columns[qsizetype(i)];
            int width = 0;
            QCOMPARE(column.value(0).toString(), c.name);
            QCOMPARE(fieldKindFromDeclaredType(column.value(1).toString(), &width), c.kind);
            QCOMPARE(width, c.width);
            QCOMPARE(!column.value(2).isNull(), c.byDefault != ColumnDefault::Null);
        }
        // Only a staging table may give a deleted row's counter again.
        QCOMPARE(sql.one(u"SELECT sql FROM sqlite_master WHERE name = ?"_s, {t->name})
                     .toString()
                     .contains(u"AUTOINCREMENT"_s),
                 !t->staging);
        QStringList declared, made;
        for (const IndexDef& i : t->indexes) {
            declared << u"%1 unique=%2 partial=%3 %4"_s.arg(i.name)
                            .arg(int(i.unique))
                            .arg(int(i.skipsEmpty))
                            .arg(i.columns.join(u','));
        }
        for (const QVariantList& i :
             sql.rows(u"SELECT name, \"unique\", partial FROM pragma_index_list(?)"_s, {t->name})) {
            const QString name = i.value(0).toString();
            QStringList keys;
            for (const QVariant& k : sql.exec(u"SELECT name FROM pragma_index_info(?)"_s, {name}))
                keys << k.toString();
            made << u"%1 unique=%2 partial=%3 %4"_s.arg(name)
                        .arg(i.value(1).toInt())
                        .arg(i.value(2).toInt())
                        .arg(keys.join(u','));
        }
        declared.sort();
        made.sort();
        QCOMPARE(made, declared);
    }
}

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
