// The database engine and the database itself: connecting (an awkward path, a
// missing file, a file that is no database, a folder, a read-only file), a
// table or column missing at start-up, the database as it is made (schema,
// reference lists, defaults; in code and by marvesa-initdb), and values that
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
using namespace Qt::StringLiterals;

namespace {

QByteArray digestOf(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

void writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(data), qint64(data.size()));
}

// A path as the operator is shown it.
QString shown(const QString& path) {
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

QStringList entries(const QString& path) {
    return QDir(path).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

QStringList tableStates(TdmMarvesa& dm) {
    QStringList r;
    for (DataSet* t :
         {&dm.TBL_NUCLEO, &dm.TBL_ANAGRAFICA, &dm.TBL_COMUNI, &dm.TBL_NAZIONI, &dm.TBL_EXPORT})
        r << t->name() + u'=' + stateName(t->state());
    return r;
}

// The columns of a table as the database declares them: "NAME TYPE".
QStringList declaredColumns(Sql& sql, const QString& table) {
    QStringList r;
    for (const QVariantList& row :
         sql.rows(u"SELECT name, type FROM pragma_table_info(?)"_s, {table}))
        r << row.value(0).toString() + u' ' + row.value(1).toString();
    return r;
}

// Opening the data module on `path` fails with an error naming the file and
// holding `reason`: no table opens, no handler runs, nothing stays connected,
// and the file and its folder are left as they were. Closing afterwards does
// nothing, and a command on a closed table fails with the data layer's error.
void expectOpeningFails(TdmMarvesa& dm, const QString& path, const QString& reason) {
    const QByteArray before = digestOf(path);
    const QStringList around = entries(QFileInfo(path).path());
    int handlerCalls = 0;
    dm.dsNUCLEO.setOnStateChange([&](DataSource*) { ++handlerCalls; });
    const QString message = errorOf([&] { dm.DataModuleCreate(path); });
    dm.dsNUCLEO.setOnStateChange(nullptr);
    QVERIFY2(message.contains(shown(path)), qPrintable(message));
    QVERIFY2(message.contains(reason), qPrintable(message));
    for (const QString& s : tableStates(dm))
        QVERIFY2(s.endsWith(u"=dsInactive"_s), qPrintable(s));
    QCOMPARE(handlerCalls, 0);
    QVERIFY(!dm.cnQuaz.isConnected());
    QCOMPARE(digestOf(path), before);
    QCOMPARE(entries(QFileInfo(path).path()), around);
    dm.closeDataStore();
    dm.cnQuaz.disconnect();
    QCOMPARE(errorOf([&] { dm.TBL_NUCLEO.insert(); }),
             u"TBL_NUCLEO: Cannot perform this operation on a closed dataset"_s);
    dm.TBL_NUCLEO.cancel();
}

void expectOpeningFails(const QString& path, const QString& reason) {
    TdmMarvesa dm;
    expectOpeningFails(dm, path, reason);
}

}  // namespace

class TestEngine : public QObject {
    Q_OBJECT

private slots:
    void openingFailsAndLeavesTheFileAlone();
    void missingTableOrColumnStopsTheOpening_data();
    void missingTableOrColumnStopsTheOpening();
    void databaseAsMade();
    void creatingRefusesExistingPathsAndLeavesNoDebris();
    void valuesTravelAsBoundParameters();
    void engineReadsWritesAndChecks();
};

void TestEngine::openingFailsAndLeavesTheFileAlone() {
    QCOMPARE(TdmMarvesa::databasePath(), QDir::toNativeSeparators(u"../dB/dbQuaz.mdb"_s));
    QTemporaryDir dir;
    // A missing file, in a folder that exists. The same module then opens a
    // good path (it once kept the engine made for the missing one), where
    // blanks, "#", "%", "?" and accented letters are part of the file name,
    // not of a URI.
    const QString sub = u"Città di prova #1 %20 ?x"_s;
    QVERIFY(QDir(dir.path()).mkdir(sub));
    {
        TdmMarvesa dm;
        expectOpeningFails(dm, dir.filePath(sub + u"/dbQuaz.mdb"_s), QString());
        const QString good = dir.filePath(sub + u"/db Quaz.mdb"_s);
        schema::createDatabase(good);
        dm.DataModuleCreate(good);
        QCOMPARE(dm.TBL_NUCLEO.state(), dsBrowse);
        QCOMPARE(dm.TBL_EXPORT.state(), dsBrowse);
        QCOMPARE(dm.cnQuaz.databasePath(), good);
        QCOMPARE(dm.TBL_COMUNI.recordCount(), 7896);
        add(dm.TBL_NUCLEO, "CODICE_NUCLEO", "QX1");
        dm.closeDataStore();
        QCOMPARE(Sql(good).one(u"SELECT CODICE_NUCLEO FROM TBL_NUCLEO"_s).toString(), u"QX1"_s);
    }
    // Nothing was created elsewhere under another spelling of the name.
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{sub});

    // A file that is no database; a folder where the file should be.
    const QString junk = dir.filePath(u"junk.mdb"_s);
    writeFile(junk,
              QByteArray("Standard Jet DB\0 questo non e' un database SQLite ", 50).repeated(200));
    expectOpeningFails(junk, u"not a database"_s);
    QVERIFY(QDir(dir.path()).mkdir(u"cartella.mdb"_s));
    expectOpeningFails(dir.filePath(u"cartella.mdb"_s), QString());

    // An empty file is a valid, empty database not yet in WAL mode: it opens
    // (switching its journal once failed) and a missing table is named.
    const QString empty = dir.filePath(u"vuoto.mdb"_s);
    writeFile(empty, QByteArray());
    SqliteEngine engine(empty);
    engine.connect();
    QVERIFY(errorOf([&] { engine.columns(u"TBL_NUCLEO"_s); }).contains(u"TBL_NUCLEO"_s));
    engine.disconnect();

    // A file that cannot be written. Permissions do not stop root, so there
    // the file is made immutable instead.
    const QString path = newDatabase(dir, u"sola-lettura.mdb"_s);
    bool immutable = false;
#ifdef Q_OS_UNIX
    if (::geteuid() == 0) {
        if (QProcess::execute(u"chattr"_s, {u"+i"_s, path}) != 0)
            QSKIP("running as root without chattr: no way to make a file read-only");
        immutable = true;
    }
#endif
    if (!immutable)
        QVERIFY(QFile::setPermissions(
            path, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    const auto restore = qScopeGuard([&] {
        if (immutable)
            QProcess::execute(u"chattr"_s, {u"-i"_s, path});
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    });
    expectOpeningFails(path, u"sola lettura"_s);
}

void TestEngine::missingTableOrColumnStopsTheOpening_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<QStringList>("named");
    QTest::addColumn<int>("openBefore");  // tables open before the failing one
    // The tables in the order they are opened.
    const char* tables[] = {"TBL_NUCLEO", "TBL_ANAGRAFICA", "TBL_SYS_COMUNI", "TBL_SYS_NAZIONE",
                            "TBL_EXPORT"};
    for (int i = 0; i < 5; ++i) {
        const QString t = QLatin1String(tables[i]);
        QTest::newRow(tables[i]) << u"DROP TABLE "_s + t << QStringList{t} << i;
    }
    // A declared column missing from the member table fails on opening,
    // although the table reads no rows while there is no family unit.
    QTest::newRow("FRONTIERA") << u"ALTER TABLE TBL_ANAGRAFICA DROP COLUMN FRONTIERA"_s
                               << QStringList{u"TBL_ANAGRAFICA"_s, u"FRONTIERA"_s} << 1;
}

void TestEngine::missingTableOrColumnStopsTheOpening() {
    QFETCH(QString, change);
    QFETCH(QStringList, named);
    QFETCH(int, openBefore);
    QTemporaryDir dir;
    const QString path = newDatabase(dir);
    Sql(path).exec(change);
    TdmMarvesa dm;
    Recorder rec;
    rec.listen(&dm.dsNUCLEO);
    rec.listen(&dm.dsANAGRAFICA);
    const QString message = errorOf([&] { dm.DataModuleCreate(path); });
    for (const QString& name : named)
        QVERIFY2(message.contains(name), qPrintable(message));
    const QStringList states = tableStates(dm);
    for (int i = 0; i < states.size(); ++i) {
        QVERIFY2(states[i].endsWith(i < openBefore ? u"=dsBrowse"_s : u"=dsInactive"_s),
                 qPrintable(states.join(u' ')));
    }
    QVERIFY(dm.cnQuaz.isConnected());
    // The handlers of the tables that did open ran once each.
    QCOMPARE(rec.stateChanges().size(), qMin(openBefore, 2));
}

void TestEngine::databaseAsMade() {
    QTemporaryDir dir;
    const QString path = newDatabase(dir);
    Sql sql(path);
    QCOMPARE(sql.exec(u"SELECT name FROM sqlite_master WHERE type = 'table' "
                      "AND name NOT LIKE 'sqlite_%' ORDER BY name"_s),
             (QVariantList{u"TBL_ANAGRAFICA"_s, u"TBL_EXPORT"_s, u"TBL_NUCLEO"_s,
                           u"TBL_SYS_COMUNI"_s, u"TBL_SYS_NAZIONE"_s}));
    // Column by column, as "NAME TYPE".
    QCOMPARE(declaredColumns(sql, u"TBL_NUCLEO"_s).join(u", "_s),
             u"ID_NUCLEO INTEGER, CODICE_NUCLEO VARCHAR(20), DENOMINAZIONE VARCHAR(200), "
             "DATA_INSERIMENTO DATETIME, NOME_OSPITANTE VARCHAR(50), COMUNE VARCHAR(50), "
             "INDIRIZZO VARCHAR(100), TELEFONO VARCHAR(50), TERMINE_ALLOGGIO DATETIME"_s);
    QCOMPARE(declaredColumns(sql, u"TBL_ANAGRAFICA"_s).join(u", "_s),
             u"ID_ANAGRAFICA INTEGER, CODICE_NUCLEO VARCHAR(20), COGNOME VARCHAR(50), "
             "NOME VARCHAR(50), SESSO VARCHAR(1), DATA_NASCITA DATETIME, "
             "NAZIONE_NASCITA VARCHAR(30), CITTADINANZA VARCHAR(30), GRADO_PARENTELA VARCHAR(25), "
             "COMUNE VARCHAR(50), INDIRIZZO VARCHAR(100), TERMINE_ALLOGGIO DATETIME, "
             "DATA_INGRESSO DATETIME, FRONTIERA VARCHAR(100), CODICE_PRIORITA VARCHAR(10), "
             "NOTE TEXT, TELEFONO VARCHAR(50), DATA_INSERIMENTO DATETIME, "
             "NOME_OSPITANTE VARCHAR(100)"_s);
    QCOMPARE(declaredColumns(sql, u"TBL_EXPORT"_s).join(u", "_s),
             u"ID_ANAGRAFICA INTEGER, CODICE_NUCLEO VARCHAR(20), COGNOME VARCHAR(50), "
             "NOME VARCHAR(50), SESSO VARCHAR(1), DATA_NASCITA DATETIME, "
             "NAZIONE_NASCITA VARCHAR(30), CITTADINANZA VARCHAR(30), GRADO_PARENTELA VARCHAR(25), "
             "COMUNE VARCHAR(50), INDIRIZZO VARCHAR(100), NOME_OSPITANTE VARCHAR(100), "
             "TELEFONO VARCHAR(50), TERMINE_ALLOGGIO DATETIME, DATA_INGRESSO DATETIME, "
             "FRONTIERA VARCHAR(100), CODICE_PRIORITA VARCHAR(10), NOTE TEXT, "
             "DATA_INSERIMENTO DATETIME"_s);
    // The counters are the rows' identities; those of family units and
    // members are never reused, the staging table's only assigned.
    for (const QString& t : {u"TBL_NUCLEO"_s, u"TBL_ANAGRAFICA"_s, u"TBL_EXPORT"_s}) {
        QCOMPARE(sql.one(u"SELECT pk FROM pragma_table_info(?) WHERE cid = 0"_s, {t}).toInt(), 1);
        QCOMPARE(sql.one(u"SELECT sql FROM sqlite_master WHERE name = ?"_s, {t})
                     .toString()
                     .contains(u"AUTOINCREMENT"_s),
                 t != u"TBL_EXPORT"_s);
    }
    // The index CODICE_NUCLEO orders the staging table by family code.
    QCOMPARE(sql.row(u"SELECT type, tbl_name FROM sqlite_master WHERE name = 'CODICE_NUCLEO'"_s),
             u"index|TBL_EXPORT"_s);
    QCOMPARE(sql.exec(u"SELECT name FROM pragma_index_info('CODICE_NUCLEO')"_s),
             QVariantList{u"CODICE_NUCLEO"_s});

    // The data module's tables declare the same columns in the same order;
    // the reference tables take all theirs from the database.
    TdmMarvesa dm;
    dm.DataModuleCreate(path);
    for (DataSet* t : {&dm.TBL_NUCLEO, &dm.TBL_ANAGRAFICA, &dm.TBL_EXPORT}) {
        QStringList declared;
        for (const auto& f : t->fields())
            declared << f->fieldName();
        QStringList inDatabase;
        for (const QString& c : declaredColumns(sql, t->tableName()))
            inDatabase << c.section(u' ', 0, 0);
        QCOMPARE(declared, inDatabase);
    }
    QCOMPARE(int(dm.TBL_COMUNI.fields().size()), declaredColumns(sql, u"TBL_SYS_COMUNI"_s).size());
    QCOMPARE(dm.TBL_COMUNI.findField(u"Denominazione"_s)->kind(), FieldKind::Text);
    QCOMPARE(dm.TBL_NAZIONI.findField(u"Nazione"_s)->kind(), FieldKind::Text);
    // The file is shared with other copies: its journal is written ahead.
    QCOMPARE(sql.one(u"PRAGMA journal_mode"_s).toString(), u"wal"_s);
    dm.closeDataStore();

    // The reference lists are stored whole, in list order, without
    // duplicates; every entry fits the column it is copied into (COMUNE 50,
    // the two country columns 30), counted in UTF-16 code units as the
    // program cuts.
    struct Reference {
        QString table;
        QString column;
        QStringList list;
        int count;
        int width;
    };
    const Reference references[] = {
        {u"TBL_SYS_COMUNI"_s, u"Denominazione"_s, schema::municipalities(), 7896, 50},
        {u"TBL_SYS_NAZIONE"_s, u"Nazione"_s, schema::countries(), 251, 30},
    };
    for (const Reference& r : references) {
        QCOMPARE(r.list.size(), r.count);
        QStringList stored;
        for (const QVariant& v :
             sql.exec(u"SELECT %1 FROM %2 ORDER BY rowid"_s.arg(r.column, r.table)))
            stored << v.toString();
        QCOMPARE(stored, r.list);
        QCOMPARE(QSet<QString>(stored.begin(), stored.end()).size(), r.count);
        for (const QString& entry : r.list) {
            QVERIFY2(entry.size() <= r.width && !entry.isEmpty(), qPrintable(entry));
            QCOMPARE(entry, entry.trimmed());
        }
    }
    QVERIFY(references[0].list.contains(u"Forlì"_s));
    QVERIFY(references[0].list.contains(u"Trento"_s));
    QVERIFY(references[1].list.contains(u"Italia"_s));

    // A new row takes the local time of its insertion, as the operator's
    // clock shows it, stored in the same form as any date-time; no priority.
    const QDateTime before = QDateTime::currentDateTime().addSecs(-2);
    const QString tables[] = {u"TBL_NUCLEO"_s, u"TBL_ANAGRAFICA"_s, u"TBL_EXPORT"_s};
    for (const QString& t : tables)
        sql.exec(u"INSERT INTO %1 (CODICE_NUCLEO) VALUES ('QX1')"_s.arg(t));
    const QDateTime after = QDateTime::currentDateTime().addSecs(2);
    for (const QString& t : tables) {
        const QString stored = sql.one(u"SELECT DATA_INSERIMENTO FROM "_s + t).toString();
        const QDateTime dt = dateTimeFromStorage(stored);
        const QDateTime local(dt.date(), dt.time());
        QVERIFY2(dt.isValid() && local >= before && local <= after, qPrintable(stored));
        QCOMPARE(stored, dateTimeToStorage(dt));
        if (t != u"TBL_NUCLEO"_s)
            QVERIFY(sql.one(u"SELECT CODICE_PRIORITA FROM "_s + t).isNull());
    }
}

void TestEngine::creatingRefusesExistingPathsAndLeavesNoDebris() {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"dbQuaz.mdb"_s);
    const schema::CreatedDatabase made = schema::createDatabase(path);
    QCOMPARE(made.path, shown(path));
    QCOMPARE(made.municipalities, 7896);
    QCOMPARE(made.countries, 251);
    QCOMPARE(entries(dir.path()), QStringList{u"dbQuaz.mdb"_s});
    // An existing file is never overwritten, database or not.
    const QByteArray before = digestOf(path);
    QString message = errorOf([&] { schema::createDatabase(path); });
    QVERIFY2(message.contains(made.path), qPrintable(message));
    QVERIFY2(message.contains(u"esiste già"_s), qPrintable(message));
    QCOMPARE(digestOf(path), before);
    const QString other = dir.filePath(u"altro.txt"_s);
    writeFile(other, "da non toccare");
    QVERIFY(!errorOf([&] { schema::createDatabase(other); }).isEmpty());
    QFile f(other);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("da non toccare"));
    // A missing folder is named.
    message = errorOf([&] { schema::createDatabase(dir.filePath(u"manca/db.mdb"_s)); });
    QVERIFY2(message.contains(QDir::toNativeSeparators(dir.filePath(u"manca"_s))),
             qPrintable(message));
    QCOMPARE(entries(dir.path()), (QStringList{u"altro.txt"_s, u"dbQuaz.mdb"_s}));

    // The same through marvesa-initdb, which prints what it made.
    const QString tooled = dir.filePath(u"dB/dbQuaz.mdb"_s);
    QDir(dir.path()).mkdir(u"dB"_s);
    QString out, err;
    auto run = [&](const QStringList& args) {
        QProcess p;
        p.start(QStringLiteral(MARVESA_INITDB), args);
        if (!p.waitForFinished(60000))
            return -1;
        out = QString::fromUtf8(p.readAllStandardOutput());
        err = QString::fromUtf8(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    };
    QCOMPARE(run({tooled}), 0);
    QVERIFY2(out.contains(shown(tooled)), qPrintable(out));
    QVERIFY2(out.contains(u"7896"_s) && out.contains(u"251"_s), qPrintable(out));
    QVERIFY(err.isEmpty());
    {
        TdmMarvesa dm;
        dm.DataModuleCreate(tooled);
        QCOMPARE(dm.TBL_NAZIONI.recordCount(), 251);
        QCOMPARE(dm.TBL_NUCLEO.recordCount(), 0);
    }
    // Again on the same path: refused, non-zero, the file untouched.
    const QByteArray madeByTool = digestOf(tooled);
    QVERIFY(run({tooled}) > 0);
    QVERIFY2(err.contains(shown(tooled)), qPrintable(err));
    QVERIFY2(err.contains(u"esiste già"_s), qPrintable(err));
    QVERIFY(out.isEmpty());
    QCOMPARE(digestOf(tooled), madeByTool);
    // Wrong use.
    QCOMPARE(run({}), 2);
    QVERIFY(err.contains(u"Uso:"_s));
    QCOMPARE(run({tooled, tooled}), 2);
}

void TestEngine::valuesTravelAsBoundParameters() {
    QTemporaryDir dir;
    const QString path = newDatabase(dir);
    QStringList texts;
    for (const char* t :
         {"'; DROP TABLE TBL_NUCLEO; --", "O'Brien", "\"doppi\" ''apici''", "C:\\dB\\dbQuaz.mdb\\",
          "? ?1 :a @a $a %s %1", "Привет Ελλάδα 中文 עברית",
          "\U0001F600\U0001F468\u200D\U0001F469\u200D\U0001F467", "a\tb\nc\r\nd", "\uFFFD\u00A0"})
        texts << QString::fromUtf8(t);
    {
        TdmMarvesa dm;
        dm.DataModuleCreate(path);
        for (const QString& t : texts) {
            dm.TBL_NUCLEO.insert();
            dm.TBL_NUCLEO.setFieldValue(u"CODICE_NUCLEO"_s, Value::text(t));
            dm.TBL_NUCLEO.setFieldValue(u"DENOMINAZIONE"_s, Value::text(t));
            dm.TBL_NUCLEO.post();
            // The member table is filtered by that code, whatever it holds.
            dm.TBL_ANAGRAFICA.insert();
            dm.TBL_ANAGRAFICA.setFieldValue(u"COGNOME"_s, Value::text(t));
            dm.TBL_ANAGRAFICA.post();
            QCOMPARE(dm.TBL_ANAGRAFICA.recordCount(), 1);
            // And changed again through an update.
            dm.TBL_NUCLEO.edit();
            dm.TBL_NUCLEO.setFieldValue(u"INDIRIZZO"_s, Value::text(t));
            dm.TBL_NUCLEO.post();
        }
        dm.TBL_NUCLEO.refresh();
        QCOMPARE(dm.TBL_NUCLEO.recordCount(), texts.size());
        QStringList back;
        for (dm.TBL_NUCLEO.first(); !dm.TBL_NUCLEO.eof(); dm.TBL_NUCLEO.next()) {
            back << text(dm.TBL_NUCLEO, "DENOMINAZIONE");
            QCOMPARE(text(dm.TBL_NUCLEO, "INDIRIZZO"), back.last());
            QCOMPARE(dm.TBL_ANAGRAFICA.recordCount(), 1);
            QCOMPARE(text(dm.TBL_ANAGRAFICA, "COGNOME"), back.last());
        }
        QStringList sorted = texts;
        std::sort(sorted.begin(), sorted.end());
        std::sort(back.begin(), back.end());
        QCOMPARE(back, sorted);
    }
    Sql sql(path);
    for (const QString& t : texts) {
        const QString where = u"DENOMINAZIONE = ? AND INDIRIZZO = ?"_s;
        QCOMPARE(sql.one(u"SELECT count(*) FROM TBL_NUCLEO WHERE "_s + where, {t, t}).toInt(), 1);
    }
}

void TestEngine::engineReadsWritesAndChecks() {
    QTemporaryDir dir;
    const QString path = newDatabase(dir);
    const QString table = u"TBL_ANAGRAFICA"_s;
    const QStringList cols = {u"CODICE_NUCLEO"_s, u"COGNOME"_s};
    const QStringList cognome = {u"COGNOME"_s};
    SqliteEngine engine(path);
    engine.connect();
    QVERIFY(engine.isConnected());
    QCOMPARE(engine.location(), shown(path));
    const qint64 a = engine.insert(table, cols, {u"QX2"_s, u"B"_s});
    const qint64 b = engine.insert(table, cols, {u"QX1"_s, u"A"_s});
    const qint64 c = engine.insert(table, {}, {});
    QVERIFY(a < b && b < c);
    // Ordered by a column, equal values by counter; NULL first.
    ReadRequest r{table, cols, u"CODICE_NUCLEO"_s, QString(), QVariant()};
    std::vector<StoredRow> rows = engine.read(r);
    QCOMPARE(int(rows.size()), 3);
    QCOMPARE(rows[0].id, c);
    QCOMPARE(rows[1].id, b);
    QCOMPARE(rows[2].id, a);
    QVERIFY(rows[0].values[0].isNull());
    // Filtered by equality, which tells case apart.
    r.filterColumn = u"CODICE_NUCLEO"_s;
    r.filterValue = u"QX2"_s;
    rows = engine.read(r);
    QCOMPARE(int(rows.size()), 1);
    QCOMPARE(rows[0].values[1].toString(), u"B"_s);
    r.filterValue = u"qx2"_s;
    QCOMPARE(int(engine.read(r).size()), 0);
    // Update only where the row still holds what was read; a NULL read must
    // still be NULL.
    QVERIFY(engine.update(table, a, cognome, {u"B2"_s}, cols, {u"QX2"_s, u"B"_s}));
    QVERIFY(!engine.update(table, a, cognome, {u"B3"_s}, cols, {u"QX2"_s, u"B"_s}));
    QVERIFY(engine.update(table, c, cognome, {u"C"_s}, cols, {QVariant(), QVariant()}));
    StoredRow row;
    QVERIFY(engine.readRow(table, cols, a, &row));
    QCOMPARE(row.values[1].toString(), u"B2"_s);
    engine.remove(table, a);
    QVERIFY(!engine.readRow(table, cols, a, &row));
    QVERIFY(!engine.update(table, a, cognome, {u"B4"_s}, cols, {u"QX2"_s, u"B2"_s}));
    // A missing table or column is named.
    QVERIFY(errorOf([&] {
                engine.read({u"TBL_NESSUNA"_s, cols, QString(), QString(), QVariant()});
            }).contains(u"TBL_NESSUNA"_s));
    QVERIFY(errorOf([&] { engine.insert(table, {u"NESSUNA"_s}, {1}); }).contains(u"NESSUNA"_s));
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
    const QStringList code = {u"CODICE_NUCLEO"_s};
    for (int i = 0; i < 20; ++i) {
        one.insert(u"TBL_NUCLEO"_s, code, {u"A%1"_s.arg(i)});
        two.insert(u"TBL_NUCLEO"_s, code, {u"B%1"_s.arg(i)});
    }
    QCOMPARE(int(one.read({u"TBL_NUCLEO"_s, code, QString(), QString(), QVariant()}).size()), 40);
    QCOMPARE(quoteIdentifier(u"a\"b"_s), u"\"a\"\"b\""_s);
}

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
