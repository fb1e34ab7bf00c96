// "Esporta" without its button: the staging table rebuilt through the table
// cursors on real database files, and the spreadsheet written from it, read
// back with an independent reader (openpyxl, through read_xlsx.py).

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "DataTestSupport.h"
#include "XlsxReader.h"
#include "data/DataModule.h"
#include "data/Error.h"
#include "data/SqliteEngine.h"
#include "export/SpreadsheetOutput.h"
#include "export/Staging.h"
#include "export/XltxWorkbookWriter.h"

using namespace marvesa;
using namespace marvesa::test;

namespace {

// The sixteen columns of TBL_EXPORT filled by the export, in their order.
const QStringList StagedColumns =
    QStringLiteral(
        "CODICE_NUCLEO COGNOME NOME SESSO DATA_NASCITA NAZIONE_NASCITA CITTADINANZA "
        "GRADO_PARENTELA COMUNE INDIRIZZO NOME_OSPITANTE TELEFONO TERMINE_ALLOGGIO DATA_INGRESSO "
        "FRONTIERA NOTE")
        .split(QLatin1Char(' '));
// The host data, which the staging takes from the family unit.
const QStringList HostColumns =
    QStringLiteral("COMUNE INDIRIZZO TERMINE_ALLOGGIO TELEFONO NOME_OSPITANTE")
        .split(QLatin1Char(' '));

using Values = QMap<QString, Value>;

Value D(int y, int m, int d) {
    return Value::date(QDate(y, m, d));
}
Value DT(int y, int m, int d, int h, int mi) {
    return Value::dateTime(naiveDateTime(QDate(y, m, d), QTime(h, mi)));
}

Values family(const char* code, const char* name, const char* host, const char* comune,
              const char* address, const char* phone, const Value& end = Value()) {
    Values v{{"CODICE_NUCLEO", txt(code)},  {"DENOMINAZIONE", txt(name)},
             {"NOME_OSPITANTE", txt(host)}, {"COMUNE", txt(comune)},
             {"INDIRIZZO", txt(address)},   {"TELEFONO", txt(phone)}};
    if (!end.isNull())
        v.insert(QStringLiteral("TERMINE_ALLOGGIO"), end);
    return v;
}
Values member(const char* surname, const char* name, const char* sex, const Value& born,
              const char* bornIn, const char* citizen, const char* kin, const Value& entered,
              const char* border, const char* note) {
    return {{"COGNOME", txt(surname)},
            {"NOME", txt(name)},
            {"SESSO", txt(sex)},
            {"DATA_NASCITA", born},
            {"NAZIONE_NASCITA", txt(bornIn)},
            {"CITTADINANZA", txt(citizen)},
            {"GRADO_PARENTELA", txt(kin)},
            {"DATA_INGRESSO", entered},
            {"FRONTIERA", txt(border)},
            {"NOTE", txt(note)}};
}

// A database of its own, opened by a data module.
struct Db {
    QTemporaryDir dir;
    QString path = newDatabase(dir);
    Sql sql{path};
    TdmMarvesa dm;
    explicit Db(bool open = true) {
        if (open)
            dm.DataModuleCreate(path);
    }
    QString out() const { return dir.filePath(QStringLiteral("out")); }
    ExportOutcome runExport() {
        XltxWorkbookWriter writer(out());
        return marvesa::runExport(dm, writer);
    }
    // A family unit stored as "Salva" would store it; the table is read again
    // so that its rows stand in the order stored, the new one current.
    void addFamily(const Values& values) {
        dm.TBL_NUCLEO.insert();
        for (auto it = values.begin(); it != values.end(); ++it)
            dm.TBL_NUCLEO.setFieldValue(it.key(), it.value());
        dm.TBL_NUCLEO.post();
        dm.TBL_NUCLEO.refresh();
    }
    // Family units given as "<code> <host>" each.
    void addFamilies(const QStringList& codesAndHosts) {
        for (const QString& f : codesAndHosts) {
            const QStringList p = f.split(QLatin1Char(' '));
            addFamily(
                {{"CODICE_NUCLEO", Value::text(p[0])}, {"NOME_OSPITANTE", Value::text(p[1])}});
        }
    }
    // A member of the current family unit, stored as the member "Salva"
    // would: the family code comes from the link, the host data are copied
    // from the family unit as it stands now.
    void addMember(const Values& values) {
        dm.TBL_ANAGRAFICA.insert();
        for (const QString& column : HostColumns)
            dm.TBL_ANAGRAFICA.setFieldValue(column, dm.TBL_NUCLEO.fieldValue(column));
        for (auto it = values.begin(); it != values.end(); ++it)
            dm.TBL_ANAGRAFICA.setFieldValue(it.key(), it.value());
        dm.TBL_ANAGRAFICA.post();
    }
    void addMember(const char* surname) { addMember({{"COGNOME", txt(surname)}}); }
    // Makes the family unit at `row` of TBL_NUCLEO current.
    void goToFamily(int row) {
        dm.TBL_NUCLEO.first();
        for (int i = 0; i < row; ++i)
            dm.TBL_NUCLEO.next();
    }
    // Code, surname and host of every staging row, in the order stored.
    QList<QVariantList> staged() {
        return sql.rows(
            QStringLiteral("SELECT CODICE_NUCLEO, COGNOME, NOME_OSPITANTE FROM TBL_EXPORT "
                           "ORDER BY ID_ANAGRAFICA"));
    }
};

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
        const bool fromFamily = c == QLatin1String("CODICE_NUCLEO") || HostColumns.contains(c);
        r << stored((fromFamily ? family : member).value(c));
    }
    return r;
}

// The expected sheet: the header row, then `rows` from row 2, each cell as
// "s:text" for a text, "d:yyyy-mm-dd" for a date, "" for an empty cell.
QMap<CellKey, QString> sheet(const QList<QStringList>& rows) {
    QMap<CellKey, QString> cells;
    for (int c = 0; c < ExportHeaders.size(); ++c)
        cells.insert({1, c + 1}, QStringLiteral("s:") + ExportHeaders.at(c));
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < rows.at(r).size(); ++c)
            if (!rows.at(r).at(c).isEmpty())
                cells.insert({r + 2, c + 1}, rows.at(r).at(c));
    return cells;
}

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// The real engine, noting each change of durability.
class RecordingEngine : public SqliteEngine {
public:
    RecordingEngine(const QString& path, QStringList* log) : SqliteEngine(path), m_log(log) {}
    void setRelaxedDurability(bool relaxed) override {
        *m_log << (relaxed ? QStringLiteral("relaxed") : QStringLiteral("normal"));
        SqliteEngine::setRelaxedDurability(relaxed);
    }

private:
    QStringList* m_log;
};

}  // namespace

class TestStaging : public QObject {
    Q_OBJECT

private slots:
    void exportsEveryMemberWithItsFamilyUnitsCurrentData();
    void incompleteRowsDoNotStopTheExport();
    void familyUnitsSharingACode();
    void nothingToExport();
    void failureLeavesWhatWasStoredAndRestoresDurability();
};

void TestStaging::exportsEveryMemberWithItsFamilyUnitsCurrentData() {
    Db db;
    // Family units in the order they are stored: QX100, QX200 (no members),
    // QX300 (no end of hosting), QX050 (end of hosting with a time of day).
    Values a = family("QX100", "Famiglia Shevchenko", "Bianchi Anna", "Prato", "Via Roma, 1",
                      "0574 123456", D(2022, 5, 31));
    const Values b = family("QX200", "Famiglia vuota", "Verdi Luca", "Empoli", "Piazza Farinata, 3",
                            "0571 1", D(2022, 9, 1));
    const Values c = family("QX300", "Famiglia Kovalenko", "Neri Paolo", "Firenze",
                            "Via dei Mille, 12", "055 1 055 2");
    const Values d = family("QX050", "Famiglia Мельник", "Gialli Eva", "Pistoia",
                            "Corso Gramsci, 7", "+39 333 7654321", DT(2022, 7, 1, 14, 15));
    for (const Values& f : {a, b, c, d})
        db.addFamily(f);

    const Values a1 =
        member("Shevchenko", "Olena", "F", DT(1980, 5, 17, 10, 30), "Ucraina", "Ucraina",
               "Capofamiglia", D(2022, 3, 4), "Polonia", "\nDiabetica: insulina ogni giorno");
    const Values a2 = member("Шевченко", "Олександра 👩‍👧", "F", D(2015, 2, 28),
                             "Ucraina", "Ucraina", "Figlia", D(2022, 3, 4), "Polonia", "!");
    const Values c1 = member("Kovalenko 😀", "Mykola", "M", D(1890, 2, 1), "Ucraina", "Moldavia",
                             "Nonno", D(2022, 4, 10), "Romania", "=1+1");
    const Values d1 = member("Melnyk", "Iryna", "F", D(1975, 12, 31), "Bielorussia", "Ucraina",
                             "Coniuge", D(2022, 3, 20), "Slovacchia", " spazio iniziale");
    db.goToFamily(0);
    db.addMember(a1);
    db.addMember(a2);
    db.goToFamily(2);
    db.addMember(c1);
    db.goToFamily(3);
    db.addMember(d1);

    // The host data of QX100 change after its members were stored: the
    // staging takes the family unit's data, not the members' old copies.
    db.goToFamily(0);
    db.dm.TBL_NUCLEO.edit();
    a = family("QX100", "Famiglia Shevchenko", "Bianchi Anna e Marco", "Firenze", "Via Nuova, 2",
               "055 999", D(2022, 12, 31));
    for (const QString& column : HostColumns)
        db.dm.TBL_NUCLEO.setFieldValue(column, a.value(column));
    db.dm.TBL_NUCLEO.post();

    // A member whose code matches no family unit, stored by someone else,
    // and rows an earlier export (or anything else) left in the staging table.
    db.sql.addMember(QStringLiteral("QX999"), QStringLiteral("Orfano"));
    db.sql.exec(QStringLiteral("INSERT INTO TBL_EXPORT (CODICE_NUCLEO, COGNOME) VALUES (?, ?)"),
                {QStringLiteral("QX100"), QStringLiteral("Vecchio")});
    db.sql.exec(QStringLiteral("INSERT INTO TBL_EXPORT (COGNOME) VALUES ('Senza codice')"));
    db.sql.exec(QStringLiteral("INSERT INTO TBL_EXPORT (CODICE_NUCLEO) VALUES ('QX000')"));

    // Whatever is current before: the last family unit's member.
    db.goToFamily(3);
    QCOMPARE(db.dm.TBL_ANAGRAFICA.fieldValue(QStringLiteral("COGNOME")), txt("Melnyk"));

    const ExportOutcome outcome = db.runExport();

    // One staging row per member, in the order of the walk, the host data
    // from the family unit; nothing of the orphan or of the old rows.
    QCOMPARE(outcome.staged, 4);
    QCOMPARE(stagingTable(db.sql), (QList<QStringList>{stagedRow(a, a1), stagedRow(a, a2),
                                                       stagedRow(c, c1), stagedRow(d, d1)}));
    QCOMPARE(
        db.sql.count(QStringLiteral("TBL_EXPORT"), QStringLiteral("CODICE_PRIORITA IS NOT NULL")),
        0);

    // Both tables back on their first rows; the staging table at its end.
    QCOMPARE(db.dm.TBL_NUCLEO.currentRow(), 0);
    QVERIFY(db.dm.TBL_NUCLEO.bof());
    QCOMPARE(db.dm.TBL_NUCLEO.fieldValue(QStringLiteral("CODICE_NUCLEO")), txt("QX100"));
    QCOMPARE(db.dm.TBL_ANAGRAFICA.currentRow(), 0);
    QCOMPARE(db.dm.TBL_ANAGRAFICA.fieldValue(QStringLiteral("COGNOME")), txt("Shevchenko"));
    for (DataSet* ds : {&db.dm.TBL_NUCLEO, &db.dm.TBL_ANAGRAFICA, &db.dm.TBL_EXPORT})
        QCOMPARE(ds->state(), dsBrowse);
    QVERIFY(db.dm.TBL_EXPORT.eof());

    QVERIFY(QFileInfo(outcome.file).isFile());
    QCOMPARE(QFileInfo(outcome.file).absolutePath(), QFileInfo(db.out()).absoluteFilePath());
    ReadBook book;
    READ_OR_SKIP(outcome.file, book);
    QCOMPARE(book.sheets, QStringList{QStringLiteral("Foglio1")});
    QVERIFY(book.isTemplate);

    // Rows by family code (QX050, QX100, QX300), members of one family unit in
    // the order they were staged. Every cell, with its type.
    QCOMPARE(
        book.shown(),
        sheet(
            {{"s:QX050", "s:Melnyk", "s:Iryna", "s:F", "d:1975-12-31", "s:Bielorussia", "s:Ucraina",
              "s:Coniuge", "s:Pistoia", "s:Corso Gramsci, 7", "s:Gialli Eva", "s:+39 333 7654321",
              "s:01/07/2022 14:15:00", "d:2022-03-20", "s:Slovacchia", ""},
             {"s:QX100", "s:Shevchenko", "s:Olena", "s:F", "d:1980-05-17", "s:Ucraina", "s:Ucraina",
              "s:Capofamiglia", "s:Firenze", "s:Via Nuova, 2", "s:Bianchi Anna e Marco",
              "s:055 999", "s:31/12/2022", "d:2022-03-04", "s:Polonia", ""},
             {"s:QX100", "s:Шевченко", "s:Олександра 👩‍👧", "s:F", "d:2015-02-28",
              "s:Ucraina", "s:Ucraina", "s:Figlia", "s:Firenze", "s:Via Nuova, 2",
              "s:Bianchi Anna e Marco", "s:055 999", "s:31/12/2022", "d:2022-03-04", "s:Polonia",
              "s:!"},
             {"s:QX300", "s:Kovalenko 😀", "s:Mykola", "s:M", "s:01/02/1890", "s:Ucraina",
              "s:Moldavia", "s:Nonno", "s:Firenze", "s:Via dei Mille, 12", "s:Neri Paolo",
              "s:055 1 055 2", "", "d:2022-04-10", "s:Romania", "s:=1+1"}}));
}

void TestStaging::incompleteRowsDoNotStopTheExport() {
    Db db;
    // A family unit stored without a code, one stored without any host data,
    // a member stored with its family code alone.
    db.addFamily({{"DENOMINAZIONE", txt("Senza codice")}, {"COMUNE", txt("Prato")}});
    db.addFamily({{"CODICE_NUCLEO", txt("QX1")}});
    db.addMember(Values{});
    db.addMember({{"NOME", txt("Anna")}, {"DATA_INGRESSO", D(2022, 3, 1)}});

    const ExportOutcome outcome = db.runExport();
    QCOMPARE(outcome.staged, 2);
    const QString n = QStringLiteral("<NULL>");
    QCOMPARE(stagingTable(db.sql),
             (QList<QStringList>{
                 {"QX1", n, n, n, n, n, n, n, n, n, n, n, n, n, n, n},
                 {"QX1", n, "Anna", n, n, n, n, n, n, n, n, n, n, "2022-03-01T00:00:00", n, n}}));
    ReadBook book;
    READ_OR_SKIP(outcome.file, book);
    QCOMPARE(
        book.shown(),
        sheet({{"s:QX1"},
               {"s:QX1", "", "s:Anna", "", "", "", "", "", "", "", "", "", "", "d:2022-03-01"}}));

    // The output on its own, on staging rows it cannot have made itself: a row
    // that is NULL throughout, then a date column holding a text some other
    // tool wrote, which is kept as the text it is.
    TdmMarvesa& dm = db.dm;
    dm.TBL_EXPORT.close();
    dm.TBL_EXPORT.open();
    dm.TBL_EXPORT.first();
    while (!dm.TBL_EXPORT.eof())
        dm.TBL_EXPORT.remove();
    dm.TBL_EXPORT.insert();
    dm.TBL_EXPORT.post();
    db.sql.exec(
        QStringLiteral("INSERT INTO TBL_EXPORT (CODICE_NUCLEO, DATA_NASCITA, TERMINE_ALLOGGIO, "
                       "DATA_INGRESSO, NOTE) VALUES (?, ?, ?, ?, ?)"),
        {QStringLiteral("QX2"), QStringLiteral("31/02/2022"), QStringLiteral("2022-01-02T03:04:05"),
         QStringLiteral("2022-02-03T23:59:59"), QStringLiteral("\tTab")});
    XltxWorkbookWriter direct(db.out());
    const QString file = writeSpreadsheet(dm, direct);
    ReadBook second;
    READ_OR_SKIP(file, second);
    QCOMPARE(second.shown(), sheet({{},
                                    {"s:QX2", "", "", "", "s:31/02/2022", "", "", "", "", "", "",
                                     "", "s:02/01/2022 03:04:05", "d:2022-02-03"}}));
}

void TestStaging::familyUnitsSharingACode() {
    // Two family units with one code one after the other: the member table
    // does not move back when the code stays the same, so the members are
    // staged once, with the first family unit's host data.
    {
        Db db;
        db.addFamilies(L("QX7 Primo|QX7 Secondo|QX8 Terzo"));
        db.goToFamily(0);
        db.addMember("Uno");
        db.addMember("Due");
        db.goToFamily(2);
        db.addMember("Tre");
        QCOMPARE(db.runExport().staged, 3);
        QCOMPARE(db.staged(),
                 (QList<QVariantList>{
                     {"QX7", "Uno", "Primo"}, {"QX7", "Due", "Primo"}, {"QX8", "Tre", "Terzo"}}));
    }
    // Not one after the other: each of them stages all members with the code.
    // A member row still held by the member table after its code was changed
    // to one of no family unit is left out by the comparison of the codes.
    Db db;
    db.addFamilies(L("QX7 Primo|QX8 Secondo|QX7 Terzo"));
    db.goToFamily(1);
    db.addMember("Tre");
    db.goToFamily(0);
    for (const char* surname : {"Uno", "Spostato", "Due"})
        db.addMember(surname);
    DataSet& m = db.dm.TBL_ANAGRAFICA;
    m.refresh();
    m.first();
    m.next();
    QCOMPARE(m.fieldValue(QStringLiteral("COGNOME")), txt("Spostato"));
    change(m, "CODICE_NUCLEO", "QX9");
    // The member table, not read again, still holds the moved member.
    QCOMPARE(m.recordCount(), 3);

    QCOMPARE(db.runExport().staged, 5);
    QCOMPARE(db.staged(), (QList<QVariantList>{{"QX7", "Uno", "Primo"},
                                               {"QX7", "Due", "Primo"},
                                               {"QX8", "Tre", "Secondo"},
                                               {"QX7", "Uno", "Terzo"},
                                               {"QX7", "Due", "Terzo"}}));
}

void TestStaging::nothingToExport() {
    Db db;
    // No family units at all; the staging table still gets emptied. Then
    // family units, none of which has members.
    db.sql.exec(QStringLiteral(
        "INSERT INTO TBL_EXPORT (CODICE_NUCLEO, COGNOME) VALUES ('QX1', 'Vecchio')"));
    db.sql.addMember(QStringLiteral("QX1"), QStringLiteral("Orfano"));
    for (int round = 0; round < 2; ++round) {
        if (round == 1) {
            db.addFamily({{"CODICE_NUCLEO", txt("QX2")}});
            db.addFamily({{"CODICE_NUCLEO", txt("QX3")}});
        }
        const ExportOutcome outcome = db.runExport();
        QCOMPARE(outcome.staged, 0);
        QVERIFY(outcome.file.isEmpty());
        QCOMPARE(db.sql.count(QStringLiteral("TBL_EXPORT")), 0);
        QCOMPARE(db.dm.TBL_EXPORT.recordCount(), 0);
        QCOMPARE(filesIn(db.out()), QStringList());
    }
    QCOMPARE(db.dm.TBL_NUCLEO.currentRow(), 0);
}

void TestStaging::failureLeavesWhatWasStoredAndRestoresDurability() {
    Db db(false);
    QStringList durability;
    db.dm.cnQuaz.setEngineFactory([&durability](const QString& p) {
        return std::make_unique<RecordingEngine>(p, &durability);
    });
    db.dm.DataModuleCreate(db.path);
    db.addFamily({{"CODICE_NUCLEO", txt("QX1")}});
    for (const char* surname : {"Primo", "Rifiutato", "Terzo"})
        db.addMember(surname);
    db.dm.TBL_ANAGRAFICA.refresh();

    QCOMPARE(db.runExport().staged, 3);
    QCOMPARE(durability, (QStringList{"relaxed", "normal"}));

    // The database refuses one staging row: the export stops there with the
    // database's message, the rows stored before it stay stored (each one
    // on its own), and durability is back to normal.
    db.sql.exec(
        QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON TBL_EXPORT "
                       "WHEN NEW.COGNOME = 'Rifiutato' "
                       "BEGIN SELECT RAISE(ABORT, 'riga rifiutata'); END"));
    durability.clear();
    const QString message = errorOf([&] { db.runExport(); });
    QVERIFY2(message.contains(QLatin1String("riga rifiutata")), qPrintable(message));
    QCOMPARE(durability, (QStringList{"relaxed", "normal"}));
    QCOMPARE(db.sql.exec(QStringLiteral("SELECT COGNOME FROM TBL_EXPORT ORDER BY ID_ANAGRAFICA")),
             (QVariantList{QStringLiteral("Primo")}));
    QCOMPARE(db.dm.TBL_EXPORT.state(), dsInsert);
    QCOMPARE(filesIn(db.out()).size(), 1);
}

QTEST_GUILESS_MAIN(TestStaging)
#include "tst_staging.moc"
