// The database and its engine: the database as marvesa-initdb makes it,
// opening a missing file and then a good one, a file not yet in WAL mode, a
// table or column missing at start-up, and two copies on one file.

#include <QCryptographicHash>
#include <QProcess>
#include <QtTest>

#include "DataTestSupport.h"
#include "data/SqliteEngine.h"

#ifdef Q_OS_UNIX
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
int runInitDb(const QString& path, QString* errors) {
    QProcess tool;
    tool.start(QStringLiteral(MARVESA_INITDB), {path});
    tool.waitForFinished(60000);
    *errors = QString::fromUtf8(tool.readAllStandardError());
    return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
}

}  // namespace

class TestEngine : public QObject {
    Q_OBJECT

private slots:
    void initDbMakesTheDatabaseAndRefusesAnExistingPath();
    void openingMissingThenGoodAndEmptyFiles();
    void missingTableOrColumnStopsTheOpening_data();
    void missingTableOrColumnStopsTheOpening();
    void twoCopiesOnOneFile();
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
             (QVariantList{u"TBL_ANAGRAFICA"_s, u"TBL_EXPORT"_s, u"TBL_NUCLEO"_s,
                           u"TBL_SYS_COMUNI"_s, u"TBL_SYS_NAZIONE"_s}));
    QCOMPARE(declaredColumns(sql, u"TBL_NUCLEO"_s),
             u"ID_NUCLEO INTEGER, CODICE_NUCLEO VARCHAR(20), DENOMINAZIONE VARCHAR(200), "
             "DATA_INSERIMENTO DATETIME, NOME_OSPITANTE VARCHAR(50), COMUNE VARCHAR(50), "
             "INDIRIZZO VARCHAR(100), TELEFONO VARCHAR(50), TERMINE_ALLOGGIO DATETIME"_s);
    QCOMPARE(declaredColumns(sql, u"TBL_ANAGRAFICA"_s),
             u"ID_ANAGRAFICA INTEGER, CODICE_NUCLEO VARCHAR(20), COGNOME VARCHAR(50), "
             "NOME VARCHAR(50), SESSO VARCHAR(1), DATA_NASCITA DATETIME, "
             "NAZIONE_NASCITA VARCHAR(30), CITTADINANZA VARCHAR(30), GRADO_PARENTELA VARCHAR(25), "
             "COMUNE VARCHAR(50), INDIRIZZO VARCHAR(100), TERMINE_ALLOGGIO DATETIME, "
             "DATA_INGRESSO DATETIME, FRONTIERA VARCHAR(100), CODICE_PRIORITA VARCHAR(10), "
             "NOTE TEXT, TELEFONO VARCHAR(50), DATA_INSERIMENTO DATETIME, "
             "NOME_OSPITANTE VARCHAR(100)"_s);
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

    // An empty file is a valid, empty database not yet in WAL mode: it opens
    // (switching its journal once failed), is shared from then on, and the
    // missing table is named.
    const QString empty = dir.filePath(u"vuoto.mdb"_s);
    QVERIFY(QFile(empty).open(QIODevice::WriteOnly));
    SqliteEngine engine(empty);
    engine.connect();
    QCOMPARE(errorOf([&] { engine.columns(u"TBL_NUCLEO"_s); }),
             u"La tabella \"TBL_NUCLEO\" non esiste nel database \"%1\""_s.arg(shown(empty)));
    engine.disconnect();
    QCOMPARE(Sql(empty).one(u"PRAGMA journal_mode"_s).toString(), u"wal"_s);

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
    QTest::newRow("FRONTIERA")
        << u"ALTER TABLE TBL_ANAGRAFICA DROP COLUMN FRONTIERA"_s
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
    Sql(path).exec(change);
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

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
