// The database engine and the database itself: connecting (missing file, a
// file that is no database, a folder, an awkward path), a table missing at
// start-up, the schema as the program declares it, the reference lists, the
// creation of a database (in code and by marvesa-initdb), and values that
// travel only as bound parameters.

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QtTest>

#include "DataTestSupport.h"
#include "data/SqliteEngine.h"

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace marvesa;
using namespace marvesa::test;

namespace {

QByteArray digestOf(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QByteArray();
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

QStringList tableStates(TdmMarvesa& dm) {
    QStringList r;
    for (DataSet* t : {&dm.TBL_NUCLEO, &dm.TBL_ANAGRAFICA, &dm.TBL_COMUNI, &dm.TBL_NAZIONI, &dm.TBL_EXPORT})
        r << t->name() + QLatin1Char('=') + stateName(t->state());
    return r;
}

// The columns of a table as the database declares them: "NAME TYPE".
QStringList declaredColumns(Sql& sql, const QString& table) {
    QStringList r;
    for (const QVariantList& row : sql.rows(QStringLiteral("SELECT name, type FROM pragma_table_info(?)"), {table}))
        r << row.value(0).toString() + QLatin1Char(' ') + row.value(1).toString();
    return r;
}

QStringList entries(const QString& path) {
    return QDir(path).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

}  // namespace

class TestEngine : public QObject {
    Q_OBJECT

private slots:
    void missingFileFailsAndCreatesNothing();
    void fileThatIsNoDatabase();
    void folderAndReadOnlyFile();
    void awkwardPathOpens();
    void reconnectsAfterAFailedConnect();
    void missingTableStopsTheOpening_data();
    void missingTableStopsTheOpening();
    void missingColumnFailsOnOpening();
    void schemaAsDeclared();
    void referenceListsFitTheirColumns();
    void insertionTimeDefault();
    void createDatabaseRefusesExistingPathAndLeavesNoDebris();
    void initdbTool();
    void valuesTravelAsBoundParameters();
    void engineReadsWritesAndChecks();
};

void TestEngine::missingFileFailsAndCreatesNothing() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dB/dbQuaz.mdb"));
    QDir(dir.path()).mkdir(QStringLiteral("dB"));
    const QString full = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());

    SqliteEngine engine(path);
    const QString message = errorOf([&] { engine.connect(); });
    QVERIFY2(message.contains(full), qPrintable(message));
    QVERIFY(!engine.isConnected());
    QVERIFY(!QFileInfo::exists(path));

    // At start-up: no table is open, the error names the file.
    TdmMarvesa dm;
    int handlerCalls = 0;
    dm.dsNUCLEO.setOnStateChange([&](DataSource*) { ++handlerCalls; });
    const QString startup = errorOf([&] { dm.DataModuleCreate(path); });
    QVERIFY2(startup.contains(full), qPrintable(startup));
    for (const QString& s : tableStates(dm)) QVERIFY2(s.endsWith(QLatin1String("=dsInactive")), qPrintable(s));
    QCOMPARE(handlerCalls, 0);
    QVERIFY(entries(dir.filePath(QStringLiteral("dB"))).isEmpty());
    // Closing the data store that never opened does nothing.
    dm.closeDataStore();
    dm.cnQuaz.disconnect();
    // A command on a closed table fails with the data layer's error.
    QCOMPARE(errorOf([&] { dm.TBL_NUCLEO.insert(); }),
             QStringLiteral("TBL_NUCLEO: Cannot perform this operation on a closed dataset"));
    dm.TBL_NUCLEO.cancel();
    // The program's own path, relative to the working directory.
    QCOMPARE(TdmMarvesa::databasePath(), QDir::toNativeSeparators(QStringLiteral("../dB/dbQuaz.mdb")));
}

void TestEngine::fileThatIsNoDatabase() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dbQuaz.mdb"));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("Standard Jet DB\0 questo non e' un database SQLite ", 50).repeated(200));
    }
    const QByteArray before = digestOf(path);
    TdmMarvesa dm;
    const QString message = errorOf([&] { dm.DataModuleCreate(path); });
    QVERIFY2(message.contains(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath())), qPrintable(message));
    QVERIFY2(message.contains(QLatin1String("not a database")), qPrintable(message));
    QVERIFY(!dm.cnQuaz.isConnected());
    QCOMPARE(dm.TBL_NUCLEO.state(), dsInactive);
    // The file is left exactly as it was, with nothing beside it.
    QCOMPARE(digestOf(path), before);
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("dbQuaz.mdb")});
    // An empty file is no database either; it stays empty.
    const QString empty = dir.filePath(QStringLiteral("vuoto.mdb"));
    QFile(empty).open(QIODevice::WriteOnly);
    SqliteEngine engine(empty);
    // An empty file is a valid, empty database, not yet in WAL mode.
    engine.connect();
    QVERIFY2(errorOf([&] { engine.columns(QStringLiteral("TBL_NUCLEO")); }).contains(QLatin1String("TBL_NUCLEO")),
             "a missing table is named");
    engine.disconnect();
}

void TestEngine::folderAndReadOnlyFile() {
    QTemporaryDir dir;
    // A folder where the file should be.
    const QString folder = dir.filePath(QStringLiteral("dbQuaz.mdb"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("dbQuaz.mdb")));
    SqliteEngine onFolder(folder);
    QVERIFY2(errorOf([&] { onFolder.connect(); }).contains(QDir::toNativeSeparators(folder)), "folder named");
    QVERIFY(!onFolder.isConnected());

    // A file that cannot be written: a clear error naming it, and the file
    // untouched. Permissions do not stop root, so there the file is made
    // immutable instead.
    const QString path = newDatabase(dir, QStringLiteral("sola-lettura.mdb"));
    bool immutable = false;
#ifdef Q_OS_UNIX
    if (::geteuid() == 0) {
        if (QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), path}) != 0)
            QSKIP("running as root without chattr: no way to make a file read-only");
        immutable = true;
    }
#endif
    if (!immutable)
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    const auto restore = qScopeGuard([&] {
        if (immutable) QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), path});
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    });
    const QByteArray before = digestOf(path);
    TdmMarvesa dm;
    const QString message = errorOf([&] { dm.DataModuleCreate(path); });
    QVERIFY2(message.contains(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath())), qPrintable(message));
    QVERIFY2(message.contains(QLatin1String("sola lettura")), qPrintable(message));
    QCOMPARE(dm.TBL_NUCLEO.state(), dsInactive);
    QVERIFY(!dm.cnQuaz.isConnected());
    QCOMPARE(digestOf(path), before);
}

void TestEngine::awkwardPathOpens() {
    // Blanks, "#", "%", "?" and accented letters in the path are part of the
    // file name, not of a URI.
    QTemporaryDir dir;
    const QString sub = QStringLiteral("Città di prova #1 %20 ?x");
    QVERIFY(QDir(dir.path()).mkdir(sub));
    const QString path = dir.filePath(sub + QStringLiteral("/db Quaz.mdb"));
    schema::createDatabase(path);
    TdmMarvesa dm;
    dm.DataModuleCreate(path);
    QCOMPARE(dm.TBL_COMUNI.recordCount(), 7896);
    dm.TBL_NUCLEO.insert();
    dm.TBL_NUCLEO.setFieldValue(QStringLiteral("CODICE_NUCLEO"), txt("QX1"));
    dm.TBL_NUCLEO.post();
    dm.closeDataStore();
    Sql sql(path);
    QCOMPARE(sql.one(QStringLiteral("SELECT CODICE_NUCLEO FROM TBL_NUCLEO")).toString(), QStringLiteral("QX1"));
    // Nothing was created elsewhere under another spelling of the name.
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{sub});
}

void TestEngine::reconnectsAfterAFailedConnect() {
    QTemporaryDir dir;
    const QString good = newDatabase(dir);
    TdmMarvesa dm;
    QVERIFY(errorOf([&] { dm.DataModuleCreate(dir.filePath(QStringLiteral("manca.mdb"))); })
                .contains(QLatin1String("manca.mdb")));
    dm.DataModuleCreate(good);
    QCOMPARE(dm.TBL_NUCLEO.state(), dsBrowse);
    QCOMPARE(dm.TBL_EXPORT.state(), dsBrowse);
    QCOMPARE(dm.cnQuaz.databasePath(), good);
}

void TestEngine::missingTableStopsTheOpening_data() {
    QTest::addColumn<QString>("dropped");
    QTest::addColumn<int>("openBefore");  // tables open before the failing one
    QTest::newRow("TBL_NUCLEO") << QStringLiteral("TBL_NUCLEO") << 0;
    QTest::newRow("TBL_ANAGRAFICA") << QStringLiteral("TBL_ANAGRAFICA") << 1;
    QTest::newRow("TBL_SYS_COMUNI") << QStringLiteral("TBL_SYS_COMUNI") << 2;
    QTest::newRow("TBL_SYS_NAZIONE") << QStringLiteral("TBL_SYS_NAZIONE") << 3;
    QTest::newRow("TBL_EXPORT") << QStringLiteral("TBL_EXPORT") << 4;
}

void TestEngine::missingTableStopsTheOpening() {
    QFETCH(QString, dropped);
    QFETCH(int, openBefore);
    QTemporaryDir dir;
    const QString path = newDatabase(dir);
    {
        Sql sql(path);
        sql.exec(QStringLiteral("DROP TABLE ") + dropped);
    }
    TdmMarvesa dm;
    Recorder rec;
    rec.listen(&dm.dsNUCLEO);
    rec.listen(&dm.dsANAGRAFICA);
    const QString message = errorOf([&] { dm.DataModuleCreate(path); });
    QVERIFY2(message.contains(dropped), qPrintable(message));
    const QStringList states = tableStates(dm);
    for (int i = 0; i < states.size(); ++i) {
        QVERIFY2(states[i].endsWith(i < openBefore ? QLatin1String("=dsBrowse") : QLatin1String("=dsInactive")),
                 qPrintable(states.join(QLatin1Char(' '))));
    }
    QVERIFY(dm.cnQuaz.isConnected());
    // The handlers of the tables that did open ran once each.
    QCOMPARE(rec.stateChanges().size(), qMin(openBefore, 2));
}

void TestEngine::missingColumnFailsOnOpening() {
    // A member table without one of its declared columns fails when it is
    // opened, although it reads no rows while there is no family unit.
    QTemporaryDir dir;
    const QString path = newDatabase(dir);
    {
        Sql sql(path);
        sql.exec(QStringLiteral("ALTER TABLE TBL_ANAGRAFICA DROP COLUMN FRONTIERA"));
    }
    TdmMarvesa dm;
    const QString message = errorOf([&] { dm.DataModuleCreate(path); });
    QVERIFY2(message.contains(QLatin1String("FRONTIERA")) && message.contains(QLatin1String("TBL_ANAGRAFICA")),
             qPrintable(message));
    QCOMPARE(dm.TBL_NUCLEO.state(), dsBrowse);
    QCOMPARE(dm.TBL_ANAGRAFICA.state(), dsInactive);
    QCOMPARE(dm.TBL_COMUNI.state(), dsInactive);
}

void TestEngine::schemaAsDeclared() {
    QTemporaryDir dir;
    const QString path = newDatabase(dir);
    Sql sql(path);
    QStringList tables;
    for (const QVariant& v : sql.exec(QStringLiteral(
             "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%' ORDER BY name")))
        tables << v.toString();
    QCOMPARE(tables, (QStringList{QStringLiteral("TBL_ANAGRAFICA"), QStringLiteral("TBL_EXPORT"),
                                  QStringLiteral("TBL_NUCLEO"), QStringLiteral("TBL_SYS_COMUNI"),
                                  QStringLiteral("TBL_SYS_NAZIONE")}));
    const auto counter = [](const char* n) { return QString::fromLatin1(n) + QStringLiteral(" INTEGER"); };
    const auto text = [](const char* n, int w) { return QStringLiteral("%1 VARCHAR(%2)").arg(QString::fromLatin1(n)).arg(w); };
    const auto date = [](const char* n) { return QString::fromLatin1(n) + QStringLiteral(" DATETIME"); };
    const auto memo = [](const char* n) { return QString::fromLatin1(n) + QStringLiteral(" TEXT"); };
    QCOMPARE(declaredColumns(sql, QStringLiteral("TBL_NUCLEO")),
             (QStringList{counter("ID_NUCLEO"), text("CODICE_NUCLEO", 20), text("DENOMINAZIONE", 200),
                          date("DATA_INSERIMENTO"), text("NOME_OSPITANTE", 50), text("COMUNE", 50),
                          text("INDIRIZZO", 100), text("TELEFONO", 50), date("TERMINE_ALLOGGIO")}));
    QCOMPARE(declaredColumns(sql, QStringLiteral("TBL_ANAGRAFICA")),
             (QStringList{counter("ID_ANAGRAFICA"), text("CODICE_NUCLEO", 20), text("COGNOME", 50),
                          text("NOME", 50), text("SESSO", 1), date("DATA_NASCITA"), text("NAZIONE_NASCITA", 30),
                          text("CITTADINANZA", 30), text("GRADO_PARENTELA", 25), text("COMUNE", 50),
                          text("INDIRIZZO", 100), date("TERMINE_ALLOGGIO"), date("DATA_INGRESSO"),
                          text("FRONTIERA", 100), text("CODICE_PRIORITA", 10), memo("NOTE"), text("TELEFONO", 50),
                          date("DATA_INSERIMENTO"), text("NOME_OSPITANTE", 100)}));
    QCOMPARE(declaredColumns(sql, QStringLiteral("TBL_EXPORT")),
             (QStringList{counter("ID_ANAGRAFICA"), text("CODICE_NUCLEO", 20), text("COGNOME", 50),
                          text("NOME", 50), text("SESSO", 1), date("DATA_NASCITA"), text("NAZIONE_NASCITA", 30),
                          text("CITTADINANZA", 30), text("GRADO_PARENTELA", 25), text("COMUNE", 50),
                          text("INDIRIZZO", 100), text("NOME_OSPITANTE", 100), text("TELEFONO", 50),
                          date("TERMINE_ALLOGGIO"), date("DATA_INGRESSO"), text("FRONTIERA", 100),
                          text("CODICE_PRIORITA", 10), memo("NOTE"), date("DATA_INSERIMENTO")}));
    // The counters are the rows' identities; those of family units and
    // members are never reused, the staging table's only assigned.
    for (const char* t : {"TBL_NUCLEO", "TBL_ANAGRAFICA", "TBL_EXPORT"}) {
        QCOMPARE(sql.one(QStringLiteral("SELECT pk FROM pragma_table_info(?) WHERE cid = 0"), {QString::fromLatin1(t)}).toInt(), 1);
        QCOMPARE(sql.one(QStringLiteral("SELECT sql FROM sqlite_master WHERE name = ?"), {QString::fromLatin1(t)})
                     .toString().contains(QLatin1String("AUTOINCREMENT")),
                 qstrcmp(t, "TBL_EXPORT") != 0);
    }
    // The index CODICE_NUCLEO orders the staging table by family code.
    QCOMPARE(sql.one(QStringLiteral("SELECT tbl_name FROM sqlite_master WHERE type = 'index' AND name = 'CODICE_NUCLEO'")).toString(),
             QStringLiteral("TBL_EXPORT"));
    QCOMPARE(sql.exec(QStringLiteral("SELECT name FROM pragma_index_info('CODICE_NUCLEO')")),
             QVariantList{QStringLiteral("CODICE_NUCLEO")});
    // The data module's tables declare the same columns in the same order.
    TdmMarvesa dm;
    dm.DataModuleCreate(path);
    for (DataSet* t : {&dm.TBL_NUCLEO, &dm.TBL_ANAGRAFICA, &dm.TBL_EXPORT}) {
        QStringList declared;
        for (const auto& f : t->fields()) declared << f->fieldName();
        QStringList inDatabase;
        for (const QString& c : declaredColumns(sql, t->tableName())) inDatabase << c.section(QLatin1Char(' '), 0, 0);
        QCOMPARE(declared, inDatabase);
    }
    // The reference tables take all their columns from the database.
    QCOMPARE(int(dm.TBL_COMUNI.fields().size()), declaredColumns(sql, QStringLiteral("TBL_SYS_COMUNI")).size());
    QCOMPARE(dm.TBL_COMUNI.findField(QStringLiteral("Denominazione"))->kind(), FieldKind::Text);
    QCOMPARE(dm.TBL_NAZIONI.findField(QStringLiteral("Nazione"))->kind(), FieldKind::Text);
    // The file is shared with other copies: its journal is written ahead.
    QCOMPARE(sql.one(QStringLiteral("PRAGMA journal_mode")).toString(), QStringLiteral("wal"));
}

void TestEngine::referenceListsFitTheirColumns() {
    QTemporaryDir dir;
    const QString path = newDatabase(dir);
    Sql sql(path);
    QCOMPARE(sql.one(QStringLiteral("SELECT count(*) FROM TBL_SYS_COMUNI")).toInt(), 7896);
    QCOMPARE(sql.one(QStringLiteral("SELECT count(*) FROM TBL_SYS_NAZIONE")).toInt(), 251);
    QCOMPARE(sql.one(QStringLiteral("SELECT count(DISTINCT Denominazione) FROM TBL_SYS_COMUNI")).toInt(), 7896);
    QCOMPARE(sql.one(QStringLiteral("SELECT count(DISTINCT Nazione) FROM TBL_SYS_NAZIONE")).toInt(), 251);
    // Every entry fits the column it is stored into (COMUNE 50, the two
    // country columns 30), counted in UTF-16 code units as the program cuts.
    const QStringList comuni = schema::municipalities();
    const QStringList nazioni = schema::countries();
    QCOMPARE(comuni.size(), 7896);
    QCOMPARE(nazioni.size(), 251);
    for (const QString& c : comuni) {
        QVERIFY2(c.size() <= 50 && !c.isEmpty(), qPrintable(c));
        QCOMPARE(c, c.trimmed());
    }
    for (const QString& n : nazioni) {
        QVERIFY2(n.size() <= 30 && !n.isEmpty(), qPrintable(n));
        QCOMPARE(n, n.trimmed());
    }
    // Stored exactly as listed, in list order.
    QCOMPARE(sql.one(QStringLiteral("SELECT Denominazione FROM TBL_SYS_COMUNI WHERE rowid = 1")).toString(), comuni.first());
    QCOMPARE(sql.one(QStringLiteral("SELECT Nazione FROM TBL_SYS_NAZIONE ORDER BY rowid DESC LIMIT 1")).toString(), nazioni.last());
    QVERIFY(comuni.contains(QStringLiteral("Forlì")));
    QVERIFY(comuni.contains(QStringLiteral("Trento")));
    QVERIFY(nazioni.contains(QStringLiteral("Italia")));
}

void TestEngine::insertionTimeDefault() {
    QTemporaryDir dir;
    const QString path = newDatabase(dir);
    Sql sql(path);
    const QDateTime before = QDateTime::currentDateTime().addSecs(-2);
    sql.exec(QStringLiteral("INSERT INTO TBL_NUCLEO (CODICE_NUCLEO) VALUES ('QX1')"));
    sql.exec(QStringLiteral("INSERT INTO TBL_ANAGRAFICA (CODICE_NUCLEO) VALUES ('QX1')"));
    sql.exec(QStringLiteral("INSERT INTO TBL_EXPORT (CODICE_NUCLEO) VALUES ('QX1')"));
    const QDateTime after = QDateTime::currentDateTime().addSecs(2);
    for (const char* t : {"TBL_NUCLEO", "TBL_ANAGRAFICA", "TBL_EXPORT"}) {
        const QString stored = sql.one(QStringLiteral("SELECT DATA_INSERIMENTO FROM %1").arg(QString::fromLatin1(t))).toString();
        const QDateTime dt = dateTimeFromStorage(stored);
        QVERIFY2(dt.isValid(), qPrintable(stored));
        // The local time of the insertion, as the operator's clock shows it.
        const QDateTime local(dt.date(), dt.time());
        QVERIFY2(local >= before && local <= after, qPrintable(stored));
    }
    for (const char* t : {"TBL_ANAGRAFICA", "TBL_EXPORT"})
        QVERIFY(sql.one(QStringLiteral("SELECT CODICE_PRIORITA FROM %1").arg(QString::fromLatin1(t))).isNull());
}

void TestEngine::createDatabaseRefusesExistingPathAndLeavesNoDebris() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dbQuaz.mdb"));
    const schema::CreatedDatabase made = schema::createDatabase(path);
    QCOMPARE(made.path, QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()));
    QCOMPARE(made.municipalities, 7896);
    QCOMPARE(made.countries, 251);
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("dbQuaz.mdb")});
    // An existing file is never overwritten, database or not.
    const QByteArray before = digestOf(path);
    QString message = errorOf([&] { schema::createDatabase(path); });
    QVERIFY2(message.contains(made.path), qPrintable(message));
    QVERIFY2(message.contains(QStringLiteral("esiste già")), qPrintable(message));
    QCOMPARE(digestOf(path), before);
    const QString other = dir.filePath(QStringLiteral("altro.txt"));
    {
        QFile f(other);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("da non toccare");
    }
    QVERIFY(!errorOf([&] { schema::createDatabase(other); }).isEmpty());
    QFile f(other);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("da non toccare"));
    // A missing folder is named.
    message = errorOf([&] { schema::createDatabase(dir.filePath(QStringLiteral("manca/db.mdb"))); });
    QVERIFY2(message.contains(QDir::toNativeSeparators(dir.filePath(QStringLiteral("manca")))), qPrintable(message));
    QCOMPARE(entries(dir.path()), (QStringList{QStringLiteral("altro.txt"), QStringLiteral("dbQuaz.mdb")}));
}

void TestEngine::initdbTool() {
    QTemporaryDir dir;
    const QString tool = QStringLiteral(MARVESA_INITDB);
    const QString path = dir.filePath(QStringLiteral("dB/dbQuaz.mdb"));
    QDir(dir.path()).mkdir(QStringLiteral("dB"));
    auto run = [&](const QStringList& args, QString* out, QString* err) {
        QProcess p;
        p.start(tool, args);
        if (!p.waitForFinished(60000)) return -1;
        *out = QString::fromUtf8(p.readAllStandardOutput());
        *err = QString::fromUtf8(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    };
    QString out, err;
    QCOMPARE(run({path}, &out, &err), 0);
    QVERIFY2(out.contains(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath())), qPrintable(out));
    QVERIFY2(out.contains(QLatin1String("7896")) && out.contains(QLatin1String("251")), qPrintable(out));
    QVERIFY(err.isEmpty());
    // What it made is a database the program opens.
    {
        TdmMarvesa dm;
        dm.DataModuleCreate(path);
        QCOMPARE(dm.TBL_NAZIONI.recordCount(), 251);
        QCOMPARE(dm.TBL_NUCLEO.recordCount(), 0);
    }
    // Again on the same path: refused, non-zero, the file untouched.
    const QByteArray before = digestOf(path);
    QVERIFY(run({path}, &out, &err) > 0);
    QVERIFY2(err.contains(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath())), qPrintable(err));
    QVERIFY2(err.contains(QStringLiteral("esiste già")), qPrintable(err));
    QVERIFY(out.isEmpty());
    QCOMPARE(digestOf(path), before);
    // Wrong use.
    QCOMPARE(run({}, &out, &err), 2);
    QVERIFY(err.contains(QLatin1String("Uso:")));
    QCOMPARE(run({path, path}, &out, &err), 2);
}

void TestEngine::valuesTravelAsBoundParameters() {
    QTemporaryDir dir;
    const QString path = newDatabase(dir);
    const QStringList texts = {
        QStringLiteral("'; DROP TABLE TBL_NUCLEO; --"),
        QStringLiteral("O'Brien"),
        QStringLiteral("\"doppi\" ''apici''"),
        QStringLiteral("C:\\dB\\dbQuaz.mdb\\"),
        QStringLiteral("? ?1 :a @a $a %s %1"),
        QStringLiteral("Привет Ελλάδα 中文 עברית"),
        QStringLiteral("\U0001F600\U0001F468\u200D\U0001F469\u200D\U0001F467"),
        QStringLiteral("a\tb\nc\r\nd"),
        QString(QChar(0xFFFD)) + QChar(0xA0),
    };
    {
        TdmMarvesa dm;
        dm.DataModuleCreate(path);
        for (const QString& t : texts) {
            dm.TBL_NUCLEO.insert();
            dm.TBL_NUCLEO.setFieldValue(QStringLiteral("CODICE_NUCLEO"), Value::text(t));
            dm.TBL_NUCLEO.setFieldValue(QStringLiteral("DENOMINAZIONE"), Value::text(t));
            dm.TBL_NUCLEO.post();
            // The member table is filtered by that code, whatever it holds.
            dm.TBL_ANAGRAFICA.insert();
            dm.TBL_ANAGRAFICA.setFieldValue(QStringLiteral("COGNOME"), Value::text(t));
            dm.TBL_ANAGRAFICA.post();
            QCOMPARE(dm.TBL_ANAGRAFICA.recordCount(), 1);
            // And changed again through an update.
            dm.TBL_NUCLEO.edit();
            dm.TBL_NUCLEO.setFieldValue(QStringLiteral("INDIRIZZO"), Value::text(t));
            dm.TBL_NUCLEO.post();
        }
        dm.TBL_NUCLEO.refresh();
        QCOMPARE(dm.TBL_NUCLEO.recordCount(), texts.size());
        QStringList back;
        for (dm.TBL_NUCLEO.first(); !dm.TBL_NUCLEO.eof(); dm.TBL_NUCLEO.next()) {
            back << text(dm.TBL_NUCLEO, "DENOMINAZIONE");
            QCOMPARE(text(dm.TBL_NUCLEO, "INDIRIZZO"), text(dm.TBL_NUCLEO, "DENOMINAZIONE"));
            QCOMPARE(dm.TBL_ANAGRAFICA.recordCount(), 1);
            QCOMPARE(text(dm.TBL_ANAGRAFICA, "COGNOME"), text(dm.TBL_NUCLEO, "DENOMINAZIONE"));
        }
        QStringList sorted = texts;
        std::sort(sorted.begin(), sorted.end());
        std::sort(back.begin(), back.end());
        QCOMPARE(back, sorted);
    }
    Sql sql(path);
    for (const QString& t : texts) {
        QCOMPARE(sql.one(QStringLiteral("SELECT count(*) FROM TBL_NUCLEO WHERE DENOMINAZIONE = ? AND INDIRIZZO = ?"),
                         {t, t}).toInt(), 1);
    }
}

void TestEngine::engineReadsWritesAndChecks() {
    QTemporaryDir dir;
    const QString path = newDatabase(dir);
    SqliteEngine engine(path);
    engine.connect();
    QVERIFY(engine.isConnected());
    QCOMPARE(engine.location(), QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()));
    const QStringList cols = {QStringLiteral("CODICE_NUCLEO"), QStringLiteral("COGNOME")};
    const qint64 a = engine.insert(QStringLiteral("TBL_ANAGRAFICA"), cols, {QStringLiteral("QX2"), QStringLiteral("B")});
    const qint64 b = engine.insert(QStringLiteral("TBL_ANAGRAFICA"), cols, {QStringLiteral("QX1"), QStringLiteral("A")});
    const qint64 c = engine.insert(QStringLiteral("TBL_ANAGRAFICA"), {}, {});
    QVERIFY(a < b && b < c);
    // Ordered by a column, equal values by counter; NULL first.
    ReadRequest r{QStringLiteral("TBL_ANAGRAFICA"), cols, QStringLiteral("CODICE_NUCLEO"), QString(), QVariant()};
    std::vector<StoredRow> rows = engine.read(r);
    QCOMPARE(int(rows.size()), 3);
    QCOMPARE(rows[0].id, c);
    QCOMPARE(rows[1].id, b);
    QCOMPARE(rows[2].id, a);
    QVERIFY(rows[0].values[0].isNull());
    // Filtered by equality.
    r.filterColumn = QStringLiteral("CODICE_NUCLEO");
    r.filterValue = QStringLiteral("QX2");
    rows = engine.read(r);
    QCOMPARE(int(rows.size()), 1);
    QCOMPARE(rows[0].values[1].toString(), QStringLiteral("B"));
    r.filterValue = QStringLiteral("qx2");  // the engine's equality tells case apart
    QCOMPARE(int(engine.read(r).size()), 0);
    // Update only where the row still holds what was read.
    QVERIFY(engine.update(QStringLiteral("TBL_ANAGRAFICA"), a, {QStringLiteral("COGNOME")}, {QStringLiteral("B2")},
                          cols, {QStringLiteral("QX2"), QStringLiteral("B")}));
    QVERIFY(!engine.update(QStringLiteral("TBL_ANAGRAFICA"), a, {QStringLiteral("COGNOME")}, {QStringLiteral("B3")},
                           cols, {QStringLiteral("QX2"), QStringLiteral("B")}));
    // A NULL read must still be NULL.
    QVERIFY(engine.update(QStringLiteral("TBL_ANAGRAFICA"), c, {QStringLiteral("COGNOME")}, {QStringLiteral("C")},
                          cols, {QVariant(), QVariant()}));
    StoredRow row;
    QVERIFY(engine.readRow(QStringLiteral("TBL_ANAGRAFICA"), cols, a, &row));
    QCOMPARE(row.values[1].toString(), QStringLiteral("B2"));
    engine.remove(QStringLiteral("TBL_ANAGRAFICA"), a);
    QVERIFY(!engine.readRow(QStringLiteral("TBL_ANAGRAFICA"), cols, a, &row));
    QVERIFY(!engine.update(QStringLiteral("TBL_ANAGRAFICA"), a, {QStringLiteral("COGNOME")}, {QStringLiteral("B4")},
                           cols, {QStringLiteral("QX2"), QStringLiteral("B2")}));
    // A missing table is named; the engine's own text for a refused row.
    QVERIFY(errorOf([&] { engine.read({QStringLiteral("TBL_NESSUNA"), cols, QString(), QString(), QVariant()}); })
                .contains(QLatin1String("TBL_NESSUNA")));
    QVERIFY(errorOf([&] { engine.insert(QStringLiteral("TBL_ANAGRAFICA"), {QStringLiteral("NESSUNA")}, {1}); })
                .contains(QLatin1String("NESSUNA")));
    // Relaxed durability can be set and reset.
    engine.setRelaxedDurability(true);
    engine.setRelaxedDurability(false);
    engine.disconnect();
    QVERIFY(!engine.isConnected());
    QVERIFY(!errorOf([&] { engine.read(r); }).isEmpty());
    // Two engines on one file, both writing in turn.
    SqliteEngine one(path), two(path);
    one.connect();
    two.connect();
    for (int i = 0; i < 20; ++i) {
        one.insert(QStringLiteral("TBL_NUCLEO"), {QStringLiteral("CODICE_NUCLEO")}, {QStringLiteral("A%1").arg(i)});
        two.insert(QStringLiteral("TBL_NUCLEO"), {QStringLiteral("CODICE_NUCLEO")}, {QStringLiteral("B%1").arg(i)});
    }
    QCOMPARE(int(one.read({QStringLiteral("TBL_NUCLEO"), {QStringLiteral("CODICE_NUCLEO")}, QString(), QString(), QVariant()}).size()), 40);
    QCOMPARE(quoteIdentifier(QStringLiteral("a\"b")), QStringLiteral("\"a\"\"b\""));
}

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
