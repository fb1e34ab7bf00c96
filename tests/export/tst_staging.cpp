// "Esporta" without its button: the staging table rebuilt through the table
// cursors on real database files, and the spreadsheet written from it, read
// back with an independent reader (openpyxl, through read_xlsx.py).

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "DataTestSupport.h"
#include "data/DataModule.h"
#include "data/Error.h"
#include "data/SqliteEngine.h"
#include "export/SpreadsheetOutput.h"
#include "export/Staging.h"
#include "export/XltxWorkbookWriter.h"

using namespace marvesa;
using namespace marvesa::test;

namespace {

const char* const Python = "/usr/bin/python3";

// The sixteen columns of TBL_EXPORT filled by the export, in their order.
const QStringList StagedColumns = {
    QStringLiteral("CODICE_NUCLEO"),
    QStringLiteral("COGNOME"),
    QStringLiteral("NOME"),
    QStringLiteral("SESSO"),
    QStringLiteral("DATA_NASCITA"),
    QStringLiteral("NAZIONE_NASCITA"),
    QStringLiteral("CITTADINANZA"),
    QStringLiteral("GRADO_PARENTELA"),
    QStringLiteral("COMUNE"),
    QStringLiteral("INDIRIZZO"),
    QStringLiteral("NOME_OSPITANTE"),
    QStringLiteral("TELEFONO"),
    QStringLiteral("TERMINE_ALLOGGIO"),
    QStringLiteral("DATA_INGRESSO"),
    QStringLiteral("FRONTIERA"),
    QStringLiteral("NOTE"),
};

const QStringList Headers = {
    QStringLiteral("Denominazione nucleo familiare"),
    QStringLiteral("Cognome"),
    QStringLiteral("Nome"),
    QStringLiteral("Sesso"),
    QStringLiteral("Data di Nascita"),
    QStringLiteral("Nazione di Nascita"),
    QStringLiteral("Cittadinanza"),
    QStringLiteral("Grado di Parentela"),
    QStringLiteral("Comune"),
    QStringLiteral("Indirizzo"),
    QStringLiteral("Ospitante"),
    QStringLiteral("Telefono per contatti"),
    QStringLiteral("Termine disponibiltà alloggio"),
    QStringLiteral("Data Ingresso"),
    QStringLiteral("Frontiera"),
    QStringLiteral("Priorità per necessità specifiche"),
};

using Values = QMap<QString, Value>;

Value T(const QString& s) {
    return Value::text(s);
}
Value D(int y, int m, int d) {
    return Value::date(QDate(y, m, d));
}
Value DT(int y, int m, int d, int h, int mi, int s = 0) {
    return Value::dateTime(naiveDateTime(QDate(y, m, d), QTime(h, mi, s)));
}

// A family unit stored as "Salva" of the family panel would store it. The
// table is then read again, so that its rows stand in the order they were
// stored (a new row is shown where it was inserted, before the row that was
// current) with the new one current.
void addFamily(TdmMarvesa& dm, const Values& values) {
    dm.TBL_NUCLEO.insert();
    for (auto it = values.begin(); it != values.end(); ++it)
        dm.TBL_NUCLEO.setFieldValue(it.key(), it.value());
    dm.TBL_NUCLEO.post();
    dm.TBL_NUCLEO.refresh();
}

// A member of the current family unit, stored as the member "Salva" would:
// the family code comes from the link, the host data are copied from the
// family unit as it stands now.
void addMember(TdmMarvesa& dm, const Values& values) {
    dm.TBL_ANAGRAFICA.insert();
    for (const char* c :
         {"COMUNE", "INDIRIZZO", "TERMINE_ALLOGGIO", "TELEFONO", "NOME_OSPITANTE"}) {
        const QString column = QString::fromLatin1(c);
        dm.TBL_ANAGRAFICA.setFieldValue(column, dm.TBL_NUCLEO.fieldValue(column));
    }
    for (auto it = values.begin(); it != values.end(); ++it)
        dm.TBL_ANAGRAFICA.setFieldValue(it.key(), it.value());
    dm.TBL_ANAGRAFICA.post();
}

// Makes the family unit at `row` of TBL_NUCLEO current.
void goToFamily(TdmMarvesa& dm, int row) {
    dm.TBL_NUCLEO.first();
    for (int i = 0; i < row; ++i)
        dm.TBL_NUCLEO.next();
}

// How a value is stored in the database, as text; "<NULL>" for NULL.
QString stored(const QVariant& v) {
    return v.isNull() ? QStringLiteral("<NULL>") : v.toString();
}
QString stored(const Value& v) {
    if (v.isNull())
        return QStringLiteral("<NULL>");
    if (const QDateTime* dt = v.dateTimeIf())
        return dateTimeToStorage(*dt);
    return v.toText();
}

// The sixteen staged columns of every row of TBL_EXPORT, as the database
// holds them, in the order the rows were stored.
QList<QStringList> stagingTable(Sql& sql) {
    QList<QStringList> result;
    for (const QVariantList& row :
         sql.rows(QStringLiteral("SELECT ") + StagedColumns.join(QStringLiteral(", ")) +
                  QStringLiteral(" FROM TBL_EXPORT ORDER BY ID_ANAGRAFICA"))) {
        QStringList r;
        for (const QVariant& v : row)
            r << stored(v);
        result << r;
    }
    return result;
}

// One expected staging row from the family unit's and the member's values.
QStringList stagedRow(const Values& family, const Values& member) {
    QStringList r;
    for (const QString& c : StagedColumns) {
        const bool fromFamily =
            c == QLatin1String("CODICE_NUCLEO") || c == QLatin1String("COMUNE") ||
            c == QLatin1String("INDIRIZZO") || c == QLatin1String("NOME_OSPITANTE") ||
            c == QLatin1String("TELEFONO") || c == QLatin1String("TERMINE_ALLOGGIO");
        r << stored((fromFamily ? family : member).value(c));
    }
    return r;
}

// What the reader reports of a workbook: every non-empty cell as
// "<type>:<shown value>" by (row, column), from 1.
struct Book {
    QStringList sheets;
    bool isTemplate = false;
    QMap<QPair<int, int>, QString> cells;
};

// The cells of one row as expected: "s:text" for a text, "d:yyyy-mm-dd" for
// a date, "" for an empty cell.
void expectRow(QMap<QPair<int, int>, QString>& cells, int row, const QStringList& values) {
    for (int c = 0; c < values.size(); ++c)
        if (!values.at(c).isEmpty())
            cells.insert({row, c + 1}, values.at(c));
}

QString sha256(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(
        QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex());
}

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// Runs the real engine and notes each change of durability.
class RecordingEngine : public Engine {
public:
    RecordingEngine(const QString& path, QStringList* log) : m_engine(path), m_log(log) {}
    void connect() override { m_engine.connect(); }
    void disconnect() override { m_engine.disconnect(); }
    bool isConnected() const override { return m_engine.isConnected(); }
    QVector<EngineColumn> columns(const QString& t) override { return m_engine.columns(t); }
    std::vector<StoredRow> read(const ReadRequest& r) override { return m_engine.read(r); }
    bool readRow(const QString& t, const QStringList& c, qint64 id, StoredRow* row) override {
        return m_engine.readRow(t, c, id, row);
    }
    qint64 insert(const QString& t, const QStringList& c, const QVector<QVariant>& v) override {
        return m_engine.insert(t, c, v);
    }
    bool update(const QString& t, qint64 id, const QStringList& ch, const QVector<QVariant>& v,
                const QStringList& ck, const QVector<QVariant>& e) override {
        return m_engine.update(t, id, ch, v, ck, e);
    }
    void remove(const QString& t, qint64 id) override { m_engine.remove(t, id); }
    void setRelaxedDurability(bool relaxed) override {
        *m_log << (relaxed ? QStringLiteral("relaxed") : QStringLiteral("normal"));
        m_engine.setRelaxedDurability(relaxed);
    }
    QString location() const override { return m_engine.location(); }

private:
    SqliteEngine m_engine;
    QStringList* m_log;
};

}  // namespace

class TestStaging : public QObject {
    Q_OBJECT

private:
    // Reads the workbook at `path`; false when the reader cannot run here.
    bool read(const QString& path, Book& book);

private slots:
    void exportsEveryMemberWithItsFamilyUnitsCurrentData();
    void incompleteRowsDoNotStopTheExport();
    void familyUnitsSharingACode();
    void nothingToExport();
    void twoExportsMakeTwoFiles();
    void failureLeavesWhatWasStoredAndRestoresDurability();
};

bool TestStaging::read(const QString& path, Book& book) {
    if (!QFileInfo::exists(QString::fromLatin1(Python)))
        return false;
    QProcess p;
    p.start(QString::fromLatin1(Python), {QStringLiteral(MARVESA_READ_XLSX_SCRIPT), path});
    if (!p.waitForFinished(60000))
        return false;
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning("reader failed: %s", p.readAllStandardError().constData());
        return false;
    }
    const QJsonObject root = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    for (const QJsonValue& s : root.value(QStringLiteral("sheets")).toArray())
        book.sheets << s.toString();
    book.isTemplate = root.value(QStringLiteral("template")).toBool() &&
                      root.value(QStringLiteral("openpyxl_template")).toBool();
    for (const QJsonValue& v : root.value(QStringLiteral("cells")).toArray()) {
        const QJsonObject c = v.toObject();
        QString value = c.value(QStringLiteral("value")).toVariant().toString();
        book.cells.insert(
            {c.value(QStringLiteral("row")).toInt(), c.value(QStringLiteral("column")).toInt()},
            c.value(QStringLiteral("type")).toString() + QLatin1Char(':') + value);
    }
    return true;
}

#define READ_OR_SKIP(path, book)                                                        \
    do {                                                                                \
        if (!QFileInfo::exists(QString::fromLatin1(Python)))                            \
            QSKIP("/usr/bin/python3 is missing: the workbook cannot be read back");     \
        if (!read(path, book)) {                                                        \
            QProcess probe;                                                             \
            probe.start(QString::fromLatin1(Python),                                    \
                        {QStringLiteral("-c"), QStringLiteral("import openpyxl")});     \
            probe.waitForFinished(60000);                                               \
            if (probe.exitCode() != 0)                                                  \
                QSKIP(                                                                  \
                    "openpyxl is missing for /usr/bin/python3: the workbook cannot be " \
                    "read back");                                                       \
            QFAIL("the reader could not read the workbook");                            \
        }                                                                               \
    } while (false)

void TestStaging::exportsEveryMemberWithItsFamilyUnitsCurrentData() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = newDatabase(dir);
    Sql sql(path);
    TdmMarvesa dm;
    dm.DataModuleCreate(path);

    // Family units in the order they are stored: QX100, QX200 (no members),
    // QX300 (no end of hosting), QX050 (end of hosting with a time of day).
    Values a{{"CODICE_NUCLEO", T("QX100")},         {"DENOMINAZIONE", T("Famiglia Shevchenko")},
             {"NOME_OSPITANTE", T("Bianchi Anna")}, {"COMUNE", T("Prato")},
             {"INDIRIZZO", T("Via Roma, 1")},       {"TELEFONO", T("0574 123456")},
             {"TERMINE_ALLOGGIO", D(2022, 5, 31)}};
    const Values b{{"CODICE_NUCLEO", T("QX200")},          {"DENOMINAZIONE", T("Famiglia vuota")},
                   {"NOME_OSPITANTE", T("Verdi Luca")},    {"COMUNE", T("Empoli")},
                   {"INDIRIZZO", T("Piazza Farinata, 3")}, {"TELEFONO", T("0571 1")},
                   {"TERMINE_ALLOGGIO", D(2022, 9, 1)}};
    const Values c{
        {"CODICE_NUCLEO", T("QX300")},         {"DENOMINAZIONE", T("Famiglia Kovalenko")},
        {"NOME_OSPITANTE", T("Neri Paolo")},   {"COMUNE", T("Firenze")},
        {"INDIRIZZO", T("Via dei Mille, 12")}, {"TELEFONO", T("055 1 055 2")}};
    const Values d{{"CODICE_NUCLEO", T("QX050")},
                   {"DENOMINAZIONE", T("Famiglia Мельник")},
                   {"NOME_OSPITANTE", T("Gialli Eva")},
                   {"COMUNE", T("Pistoia")},
                   {"INDIRIZZO", T("Corso Gramsci, 7")},
                   {"TELEFONO", T("+39 333 7654321")},
                   {"TERMINE_ALLOGGIO", DT(2022, 7, 1, 14, 15)}};
    for (const Values& f : {a, b, c, d})
        addFamily(dm, f);

    const Values a1{{"COGNOME", T("Shevchenko")},
                    {"NOME", T("Olena")},
                    {"SESSO", T("F")},
                    {"DATA_NASCITA", DT(1980, 5, 17, 10, 30)},
                    {"NAZIONE_NASCITA", T("Ucraina")},
                    {"CITTADINANZA", T("Ucraina")},
                    {"GRADO_PARENTELA", T("Capofamiglia")},
                    {"DATA_INGRESSO", D(2022, 3, 4)},
                    {"FRONTIERA", T("Polonia")},
                    {"NOTE", T("\nDiabetica: insulina ogni giorno")}};
    const Values a2{{"COGNOME", T("Шевченко")},
                    {"NOME", T("Олександра 👩‍👧")},
                    {"SESSO", T("F")},
                    {"DATA_NASCITA", D(2015, 2, 28)},
                    {"NAZIONE_NASCITA", T("Ucraina")},
                    {"CITTADINANZA", T("Ucraina")},
                    {"GRADO_PARENTELA", T("Figlia")},
                    {"DATA_INGRESSO", D(2022, 3, 4)},
                    {"FRONTIERA", T("Polonia")},
                    {"NOTE", T("!")}};
    const Values c1{{"COGNOME", T("Kovalenko 😀")},
                    {"NOME", T("Mykola")},
                    {"SESSO", T("M")},
                    {"DATA_NASCITA", D(1890, 2, 1)},
                    {"NAZIONE_NASCITA", T("Ucraina")},
                    {"CITTADINANZA", T("Moldavia")},
                    {"GRADO_PARENTELA", T("Nonno")},
                    {"DATA_INGRESSO", D(2022, 4, 10)},
                    {"FRONTIERA", T("Romania")},
                    {"NOTE", T("=1+1")}};
    const Values d1{{"COGNOME", T("Melnyk")},
                    {"NOME", T("Iryna")},
                    {"SESSO", T("F")},
                    {"DATA_NASCITA", D(1975, 12, 31)},
                    {"NAZIONE_NASCITA", T("Bielorussia")},
                    {"CITTADINANZA", T("Ucraina")},
                    {"GRADO_PARENTELA", T("Coniuge")},
                    {"DATA_INGRESSO", D(2022, 3, 20)},
                    {"FRONTIERA", T("Slovacchia")},
                    {"NOTE", T(" spazio iniziale")}};
    goToFamily(dm, 0);
    addMember(dm, a1);
    addMember(dm, a2);
    goToFamily(dm, 2);
    addMember(dm, c1);
    goToFamily(dm, 3);
    addMember(dm, d1);

    // The host data of QX100 change after its members were stored: the
    // staging takes the family unit's data, not the members' old copies.
    goToFamily(dm, 0);
    dm.TBL_NUCLEO.edit();
    a[QStringLiteral("NOME_OSPITANTE")] = T("Bianchi Anna e Marco");
    a[QStringLiteral("COMUNE")] = T("Firenze");
    a[QStringLiteral("INDIRIZZO")] = T("Via Nuova, 2");
    a[QStringLiteral("TELEFONO")] = T("055 999");
    a[QStringLiteral("TERMINE_ALLOGGIO")] = D(2022, 12, 31);
    for (const char* col :
         {"NOME_OSPITANTE", "COMUNE", "INDIRIZZO", "TELEFONO", "TERMINE_ALLOGGIO"})
        dm.TBL_NUCLEO.setFieldValue(QString::fromLatin1(col), a.value(QString::fromLatin1(col)));
    dm.TBL_NUCLEO.post();

    // A member whose code matches no family unit, stored by someone else,
    // and rows an earlier export (or anything else) left in the staging table.
    sql.addMember(QStringLiteral("QX999"), QStringLiteral("Orfano"));
    sql.exec(QStringLiteral("INSERT INTO TBL_EXPORT (CODICE_NUCLEO, COGNOME) VALUES (?, ?)"),
             {QStringLiteral("QX100"), QStringLiteral("Vecchio")});
    sql.exec(QStringLiteral("INSERT INTO TBL_EXPORT (COGNOME) VALUES ('Senza codice')"));
    sql.exec(QStringLiteral("INSERT INTO TBL_EXPORT (CODICE_NUCLEO) VALUES ('QX000')"));

    // Whatever is current before: the last family unit's member.
    goToFamily(dm, 3);
    QCOMPARE(dm.TBL_ANAGRAFICA.fieldValue(QStringLiteral("COGNOME")), T("Melnyk"));

    XltxWorkbookWriter writer(dir.filePath(QStringLiteral("out")));
    const ExportOutcome outcome = runExport(dm, writer);

    // One staging row per member, in the order of the walk, the host data
    // from the family unit; nothing of the orphan or of the old rows.
    QCOMPARE(outcome.staged, 4);
    const QList<QStringList> expectedStaging{stagedRow(a, a1), stagedRow(a, a2), stagedRow(c, c1),
                                             stagedRow(d, d1)};
    QCOMPARE(stagingTable(sql), expectedStaging);
    QCOMPARE(
        sql.one(QStringLiteral("SELECT count(*) FROM TBL_EXPORT WHERE CODICE_PRIORITA IS NOT NULL"))
            .toInt(),
        0);

    // Both tables back on their first rows; the staging table at its end.
    QCOMPARE(dm.TBL_NUCLEO.currentRow(), 0);
    QVERIFY(dm.TBL_NUCLEO.bof());
    QCOMPARE(dm.TBL_NUCLEO.fieldValue(QStringLiteral("CODICE_NUCLEO")), T("QX100"));
    QCOMPARE(dm.TBL_ANAGRAFICA.currentRow(), 0);
    QCOMPARE(dm.TBL_ANAGRAFICA.fieldValue(QStringLiteral("COGNOME")), T("Shevchenko"));
    QCOMPARE(dm.TBL_NUCLEO.state(), dsBrowse);
    QCOMPARE(dm.TBL_ANAGRAFICA.state(), dsBrowse);
    QCOMPARE(dm.TBL_EXPORT.state(), dsBrowse);
    QVERIFY(dm.TBL_EXPORT.eof());

    QVERIFY(QFileInfo(outcome.file).isFile());
    QCOMPARE(QFileInfo(outcome.file).absolutePath(),
             QFileInfo(dir.filePath(QStringLiteral("out"))).absoluteFilePath());
    Book book;
    READ_OR_SKIP(outcome.file, book);
    QCOMPARE(book.sheets, QStringList{QStringLiteral("Foglio1")});
    QVERIFY(book.isTemplate);

    // Rows by family code (QX050, QX100, QX300), members of one family unit in
    // the order they were staged. Every cell, with its type.
    QMap<QPair<int, int>, QString> expected;
    QStringList header;
    for (const QString& h : Headers)
        header << QStringLiteral("s:") + h;
    expectRow(expected, 1, header);
    expectRow(expected, 2,
              {"s:QX050", "s:Melnyk", "s:Iryna", "s:F", "d:1975-12-31", "s:Bielorussia",
               "s:Ucraina", "s:Coniuge", "s:Pistoia", "s:Corso Gramsci, 7", "s:Gialli Eva",
               "s:+39 333 7654321", "s:01/07/2022 14:15:00", "d:2022-03-20", "s:Slovacchia", ""});
    expectRow(
        expected, 3,
        {"s:QX100", "s:Shevchenko", "s:Olena", "s:F", "d:1980-05-17", "s:Ucraina", "s:Ucraina",
         "s:Capofamiglia", "s:Firenze", "s:Via Nuova, 2", "s:Bianchi Anna e Marco", "s:055 999",
         "s:31/12/2022", "d:2022-03-04", "s:Polonia", ""});
    expectRow(expected, 4,
              {"s:QX100", "s:Шевченко", "s:Олександра 👩‍👧", "s:F", "d:2015-02-28",
               "s:Ucraina", "s:Ucraina", "s:Figlia", "s:Firenze", "s:Via Nuova, 2",
               "s:Bianchi Anna e Marco", "s:055 999", "s:31/12/2022", "d:2022-03-04", "s:Polonia",
               "s:!"});
    expectRow(expected, 5,
              {"s:QX300", "s:Kovalenko 😀", "s:Mykola", "s:M", "s:01/02/1890", "s:Ucraina",
               "s:Moldavia", "s:Nonno", "s:Firenze", "s:Via dei Mille, 12", "s:Neri Paolo",
               "s:055 1 055 2", "", "d:2022-04-10", "s:Romania", "s:=1+1"});
    QCOMPARE(book.cells, expected);
}

void TestStaging::incompleteRowsDoNotStopTheExport() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = newDatabase(dir);
    Sql sql(path);
    TdmMarvesa dm;
    dm.DataModuleCreate(path);

    // A family unit stored without a code, one stored without any host data,
    // a member stored with its family code alone.
    addFamily(dm, {{"DENOMINAZIONE", T("Senza codice")}, {"COMUNE", T("Prato")}});
    addFamily(dm, {{"CODICE_NUCLEO", T("QX1")}});
    addMember(dm, {});
    addMember(dm, {{"NOME", T("Anna")}, {"DATA_INGRESSO", D(2022, 3, 1)}});

    XltxWorkbookWriter writer(dir.filePath(QStringLiteral("out")));
    const ExportOutcome outcome = runExport(dm, writer);
    QCOMPARE(outcome.staged, 2);
    const QString n = QStringLiteral("<NULL>");
    QCOMPARE(stagingTable(sql),
             (QList<QStringList>{
                 {"QX1", n, n, n, n, n, n, n, n, n, n, n, n, n, n, n},
                 {"QX1", n, "Anna", n, n, n, n, n, n, n, n, n, n, "2022-03-01T00:00:00", n, n}}));

    Book book;
    READ_OR_SKIP(outcome.file, book);
    QMap<QPair<int, int>, QString> expected;
    QStringList header;
    for (const QString& h : Headers)
        header << QStringLiteral("s:") + h;
    expectRow(expected, 1, header);
    expectRow(expected, 2, {"s:QX1"});
    expectRow(expected, 3,
              {"s:QX1", "", "s:Anna", "", "", "", "", "", "", "", "", "", "", "d:2022-03-01"});
    QCOMPARE(book.cells, expected);

    // The output on its own, on staging rows it cannot have made itself: a row
    // that is NULL throughout, then a date column holding a text some other
    // tool wrote, which is kept as the text it is.
    dm.TBL_EXPORT.close();
    dm.TBL_EXPORT.open();
    dm.TBL_EXPORT.first();
    while (!dm.TBL_EXPORT.eof())
        dm.TBL_EXPORT.remove();
    dm.TBL_EXPORT.insert();
    dm.TBL_EXPORT.post();
    sql.exec(
        QStringLiteral("INSERT INTO TBL_EXPORT (CODICE_NUCLEO, DATA_NASCITA, TERMINE_ALLOGGIO, "
                       "DATA_INGRESSO, NOTE) VALUES (?, ?, ?, ?, ?)"),
        {QStringLiteral("QX2"), QStringLiteral("31/02/2022"), QStringLiteral("2022-01-02T03:04:05"),
         QStringLiteral("2022-02-03T23:59:59"), QStringLiteral("\tTab")});
    XltxWorkbookWriter direct(dir.filePath(QStringLiteral("out")));
    const QString file = writeSpreadsheet(dm, direct);
    Book second;
    READ_OR_SKIP(file, second);
    expected.clear();
    expectRow(expected, 1, header);
    expectRow(expected, 3,
              {"s:QX2", "", "", "", "s:31/02/2022", "", "", "", "", "", "", "",
               "s:02/01/2022 03:04:05", "d:2022-02-03"});
    QCOMPARE(second.cells, expected);
}

void TestStaging::familyUnitsSharingACode() {
    // Two family units with one code one after the other: the member table
    // does not move back when the code stays the same, so the members are
    // staged once, with the first family unit's host data.
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = newDatabase(dir);
        Sql sql(path);
        TdmMarvesa dm;
        dm.DataModuleCreate(path);
        addFamily(dm, {{"CODICE_NUCLEO", T("QX7")}, {"NOME_OSPITANTE", T("Primo")}});
        addFamily(dm, {{"CODICE_NUCLEO", T("QX7")}, {"NOME_OSPITANTE", T("Secondo")}});
        addFamily(dm, {{"CODICE_NUCLEO", T("QX8")}, {"NOME_OSPITANTE", T("Terzo")}});
        goToFamily(dm, 0);
        addMember(dm, {{"COGNOME", T("Uno")}});
        addMember(dm, {{"COGNOME", T("Due")}});
        goToFamily(dm, 2);
        addMember(dm, {{"COGNOME", T("Tre")}});

        XltxWorkbookWriter writer(dir.filePath(QStringLiteral("out")));
        QCOMPARE(runExport(dm, writer).staged, 3);
        QCOMPARE(
            sql.rows(QStringLiteral("SELECT CODICE_NUCLEO, COGNOME, NOME_OSPITANTE FROM TBL_EXPORT "
                                    "ORDER BY ID_ANAGRAFICA")),
            (QList<QVariantList>{
                {"QX7", "Uno", "Primo"}, {"QX7", "Due", "Primo"}, {"QX8", "Tre", "Terzo"}}));
    }
    // Not one after the other: each of them stages all members with the code.
    // A member row still held by the member table after its code was changed
    // to one of no family unit is left out by the comparison of the codes.
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = newDatabase(dir);
        Sql sql(path);
        TdmMarvesa dm;
        dm.DataModuleCreate(path);
        addFamily(dm, {{"CODICE_NUCLEO", T("QX7")}, {"NOME_OSPITANTE", T("Primo")}});
        addFamily(dm, {{"CODICE_NUCLEO", T("QX8")}, {"NOME_OSPITANTE", T("Secondo")}});
        addFamily(dm, {{"CODICE_NUCLEO", T("QX7")}, {"NOME_OSPITANTE", T("Terzo")}});
        goToFamily(dm, 1);
        addMember(dm, {{"COGNOME", T("Tre")}});
        goToFamily(dm, 0);
        addMember(dm, {{"COGNOME", T("Uno")}});
        addMember(dm, {{"COGNOME", T("Spostato")}});
        addMember(dm, {{"COGNOME", T("Due")}});
        dm.TBL_ANAGRAFICA.refresh();
        dm.TBL_ANAGRAFICA.first();
        dm.TBL_ANAGRAFICA.next();
        QCOMPARE(dm.TBL_ANAGRAFICA.fieldValue(QStringLiteral("COGNOME")), T("Spostato"));
        dm.TBL_ANAGRAFICA.edit();
        dm.TBL_ANAGRAFICA.setFieldValue(QStringLiteral("CODICE_NUCLEO"), T("QX9"));
        dm.TBL_ANAGRAFICA.post();
        // The member table, not read again, still holds the moved member.
        QCOMPARE(dm.TBL_ANAGRAFICA.recordCount(), 3);

        XltxWorkbookWriter writer(dir.filePath(QStringLiteral("out")));
        QCOMPARE(runExport(dm, writer).staged, 5);
        QCOMPARE(
            sql.rows(QStringLiteral("SELECT CODICE_NUCLEO, COGNOME, NOME_OSPITANTE FROM TBL_EXPORT "
                                    "ORDER BY ID_ANAGRAFICA")),
            (QList<QVariantList>{{"QX7", "Uno", "Primo"},
                                 {"QX7", "Due", "Primo"},
                                 {"QX8", "Tre", "Secondo"},
                                 {"QX7", "Uno", "Terzo"},
                                 {"QX7", "Due", "Terzo"}}));
    }
}

void TestStaging::nothingToExport() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = newDatabase(dir);
    Sql sql(path);
    TdmMarvesa dm;
    dm.DataModuleCreate(path);
    const QString out = dir.filePath(QStringLiteral("out"));

    // No family units at all; the staging table still gets emptied.
    sql.exec(QStringLiteral(
        "INSERT INTO TBL_EXPORT (CODICE_NUCLEO, COGNOME) VALUES ('QX1', 'Vecchio')"));
    sql.addMember(QStringLiteral("QX1"), QStringLiteral("Orfano"));
    {
        XltxWorkbookWriter writer(out);
        const ExportOutcome outcome = runExport(dm, writer);
        QCOMPARE(outcome.staged, 0);
        QVERIFY(outcome.file.isEmpty());
    }
    QCOMPARE(sql.one(QStringLiteral("SELECT count(*) FROM TBL_EXPORT")).toInt(), 0);
    QCOMPARE(dm.TBL_EXPORT.recordCount(), 0);
    QCOMPARE(filesIn(out), QStringList());

    // Family units, none of which has members.
    addFamily(dm, {{"CODICE_NUCLEO", T("QX2")}});
    addFamily(dm, {{"CODICE_NUCLEO", T("QX3")}});
    {
        XltxWorkbookWriter writer(out);
        const ExportOutcome outcome = runExport(dm, writer);
        QCOMPARE(outcome.staged, 0);
        QVERIFY(outcome.file.isEmpty());
    }
    QCOMPARE(sql.one(QStringLiteral("SELECT count(*) FROM TBL_EXPORT")).toInt(), 0);
    QCOMPARE(filesIn(out), QStringList());
    QCOMPARE(dm.TBL_NUCLEO.currentRow(), 0);
}

void TestStaging::twoExportsMakeTwoFiles() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = newDatabase(dir);
    Sql sql(path);
    TdmMarvesa dm;
    dm.DataModuleCreate(path);
    const QString out = dir.filePath(QStringLiteral("out"));
    addFamily(dm, {{"CODICE_NUCLEO", T("QX1")}, {"COMUNE", T("Prato")}});
    addMember(dm, {{"COGNOME", T("Primo")}});

    XltxWorkbookWriter firstWriter(out);
    const ExportOutcome first = runExport(dm, firstWriter);
    QCOMPARE(first.staged, 1);
    const QString firstHash = sha256(first.file);
    QVERIFY(!firstHash.isEmpty());

    addMember(dm, {{"COGNOME", T("Secondo")}});
    dm.TBL_ANAGRAFICA.refresh();
    XltxWorkbookWriter secondWriter(out);
    const ExportOutcome second = runExport(dm, secondWriter);
    QCOMPARE(second.staged, 2);
    QVERIFY(second.file != first.file);
    QCOMPARE(filesIn(out).size(), 2);
    QCOMPARE(sha256(first.file), firstHash);
    // The staging table holds the last export only.
    QCOMPARE(sql.one(QStringLiteral("SELECT count(*) FROM TBL_EXPORT")).toInt(), 2);

    Book a, b;
    READ_OR_SKIP(first.file, a);
    READ_OR_SKIP(second.file, b);
    QCOMPARE(a.cells.value({2, 2}), QStringLiteral("s:Primo"));
    QVERIFY(!a.cells.contains({3, 1}));
    QCOMPARE(b.cells.value({2, 2}), QStringLiteral("s:Primo"));
    QCOMPARE(b.cells.value({3, 2}), QStringLiteral("s:Secondo"));
}

void TestStaging::failureLeavesWhatWasStoredAndRestoresDurability() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = newDatabase(dir);
    Sql sql(path);
    QStringList durability;
    TdmMarvesa dm;
    dm.cnQuaz.setEngineFactory([&durability](const QString& p) {
        return std::make_unique<RecordingEngine>(p, &durability);
    });
    dm.DataModuleCreate(path);
    addFamily(dm, {{"CODICE_NUCLEO", T("QX1")}});
    addMember(dm, {{"COGNOME", T("Primo")}});
    addMember(dm, {{"COGNOME", T("Rifiutato")}});
    addMember(dm, {{"COGNOME", T("Terzo")}});
    dm.TBL_ANAGRAFICA.refresh();

    XltxWorkbookWriter writer(dir.filePath(QStringLiteral("out")));
    QCOMPARE(runExport(dm, writer).staged, 3);
    QCOMPARE(durability, (QStringList{"relaxed", "normal"}));

    // The database refuses one staging row: the export stops there with the
    // database's message, the rows stored before it stay stored (each one
    // on its own), and durability is back to normal.
    sql.exec(
        QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON TBL_EXPORT "
                       "WHEN NEW.COGNOME = 'Rifiutato' "
                       "BEGIN SELECT RAISE(ABORT, 'riga rifiutata'); END"));
    durability.clear();
    XltxWorkbookWriter failing(dir.filePath(QStringLiteral("out")));
    const QString message = errorOf([&] { runExport(dm, failing); });
    QVERIFY2(message.contains(QLatin1String("riga rifiutata")), qPrintable(message));
    QCOMPARE(durability, (QStringList{"relaxed", "normal"}));
    QCOMPARE(sql.exec(QStringLiteral("SELECT COGNOME FROM TBL_EXPORT ORDER BY ID_ANAGRAFICA")),
             (QVariantList{QStringLiteral("Primo")}));
    QCOMPARE(dm.TBL_EXPORT.state(), dsInsert);
    QCOMPARE(filesIn(dir.filePath(QStringLiteral("out"))).size(), 1);
}

QTEST_GUILESS_MAIN(TestStaging)
#include "tst_staging.moc"
