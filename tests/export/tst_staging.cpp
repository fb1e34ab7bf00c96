// "Esporta" without its button: the staging table rebuilt through the table
// cursors on real database files, and the spreadsheet written from it, read
// back with an independent reader (openpyxl, through read_xlsx.py).

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "DataTestSupport.h"
#include "XlsxReader.h"
#include "data/DataModule.h"
#include "data/Error.h"
#include "data/SqliteEngine.h"
#include "export/SpreadsheetOutput.h"
#include "export/XltxWorkbookWriter.h"

using namespace marvesa;
using namespace marvesa::test;

namespace {

// The columns a family unit or a member is given, in the order of its values.
const QStringList FamilyColumns =
    L("CODICE_NUCLEO|NOME_OSPITANTE|COMUNE|INDIRIZZO|TELEFONO|TERMINE_ALLOGGIO");
const QStringList MemberColumns =
    L("COGNOME|NOME|SESSO|DATA_NASCITA|NAZIONE_NASCITA|"
      "CITTADINANZA|GRADO_PARENTELA|DATA_INGRESSO|FRONTIERA|NOTE");
// The host data, which the staging takes from the family unit.
const QStringList HostColumns = FamilyColumns.mid(1);

Value D(int y, int m, int d) {
    return Value::date(QDate(y, m, d));
}
Value DT(int y, int m, int d, int h, int mi) {
    return Value::dateTime(naiveDateTime(QDate(y, m, d), QTime(h, mi)));
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
    // A family unit stored as "Salva" would store it, then current.
    void addFamily(const QList<Value>& values) {
        dm.TBL_NUCLEO.insert();
        for (int i = 0; i < values.size(); ++i)
            dm.TBL_NUCLEO.setFieldValue(FamilyColumns.at(i), values.at(i));
        dm.TBL_NUCLEO.post();
        dm.TBL_NUCLEO.refresh();
    }
    // A member of the current family unit, stored as the member "Salva"
    // would: the code from the link, a copy of the host data as they stand.
    void addMember(const QList<Value>& values) {
        dm.TBL_ANAGRAFICA.insert();
        for (const QString& column : HostColumns)
            dm.TBL_ANAGRAFICA.setFieldValue(column, dm.TBL_NUCLEO.fieldValue(column));
        for (int i = 0; i < values.size(); ++i)
            dm.TBL_ANAGRAFICA.setFieldValue(MemberColumns.at(i), values.at(i));
        dm.TBL_ANAGRAFICA.post();
    }
};

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

// Logs every change of durability on its way to the database.
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
    void nothingToExport();
    void outputFailureLeavesTheStagingComplete();
    void refusedRowStopsTheExportAndRestoresDurability();
    void familyUnitsSharingACode();
};

void TestStaging::exportsEveryMemberWithItsFamilyUnitsCurrentData() {
    Db db;
    // QX100 with two members, QX200 without, QX300 without an end of
    // hosting, QX050 with one that has a time of day.
    db.addFamily({txt("QX100"), txt("Bianchi Anna"), txt("Prato"), txt("Via Roma, 1"),
                  txt("0574 123456"), D(2022, 5, 31)});
    db.addMember({txt("Shevchenko"), txt("Olena"), txt("F"), DT(1980, 5, 17, 10, 30),
                  txt("Ucraina"), txt("Ucraina"), txt("Capofamiglia"), D(2022, 3, 4),
                  txt("Polonia"), txt("\nDiabetica: insulina ogni giorno")});
    db.addMember({txt("Шевченко"), txt("Олександра 👩‍👧"), txt("F"),
                  D(2015, 2, 28), txt("Ucraina"), txt("Ucraina"), txt("Figlia"), D(2022, 3, 4),
                  txt("Polonia"), txt("!")});
    db.addFamily({txt("QX200"), txt("Verdi Luca")});
    db.addFamily({txt("QX300"), txt("Neri Paolo"), txt("Firenze"), txt("Via dei Mille, 12"),
                  txt("055 1 055 2")});
    // A birth date before 1900, which a date cell cannot hold.
    db.addMember({txt("Kovalenko 😀"), txt("Mykola"), txt("M"), D(1890, 2, 1), txt("Ucraina"),
                  txt("Moldavia"), txt("Nonno"), D(2022, 4, 10), txt("Romania"), txt("=1+1")});
    db.addFamily({txt("QX050"), txt("Gialli Eva"), txt("Pistoia"), txt("Corso Gramsci, 7"),
                  txt("+39 333 7654321"), DT(2022, 7, 1, 14, 15)});
    // A member with NULL in most columns: its row still reaches the sheet,
    // with empty cells.
    db.addMember({txt("Melnyk"), txt("Iryna")});

    // The host data of QX100 change after its members were stored: the
    // staging takes the family unit's data, not the members' old copies.
    const QList<Value> newHost{txt("Bianchi Anna e Marco"), txt("Firenze"), txt("Via Nuova, 2"),
                               txt("055 999"), D(2022, 12, 31)};
    db.dm.TBL_NUCLEO.first();
    db.dm.TBL_NUCLEO.edit();
    for (int i = 0; i < HostColumns.size(); ++i)
        db.dm.TBL_NUCLEO.setFieldValue(HostColumns.at(i), newHost.at(i));
    db.dm.TBL_NUCLEO.post();

    // A member whose code matches no family unit, and a row an earlier
    // export left in the staging table: neither is staged.
    db.sql.addMember(QStringLiteral("QX999"), QStringLiteral("Orfano"));
    db.sql.exec(QStringLiteral(
        "INSERT INTO TBL_EXPORT (CODICE_NUCLEO, COGNOME) VALUES ('QX100', 'Vecchio')"));

    const ExportOutcome outcome = db.runExport();
    QCOMPARE(outcome.staged, 4);
    QCOMPARE(db.sql.rows(QStringLiteral("SELECT CODICE_NUCLEO, COGNOME, NOME_OSPITANTE "
                                        "FROM TBL_EXPORT ORDER BY ID_ANAGRAFICA")),
             (QList<QVariantList>{{"QX100", "Shevchenko", "Bianchi Anna e Marco"},
                                  {"QX100", "Шевченко", "Bianchi Anna e Marco"},
                                  {"QX300", "Kovalenko 😀", "Neri Paolo"},
                                  {"QX050", "Melnyk", "Gialli Eva"}}));

    ReadBook book;
    READ_OR_SKIP(outcome.file, book);
    QCOMPARE(book.sheets, QStringList{QStringLiteral("Foglio1")});
    QVERIFY(book.isTemplate);
    // Rows by family code, the members of one family unit in the order they
    // were staged. Every cell, with its type.
    QCOMPARE(
        book.shown(),
        sheet({{"s:QX050", "s:Melnyk", "s:Iryna", "", "", "", "", "", "s:Pistoia",
                "s:Corso Gramsci, 7", "s:Gialli Eva", "s:+39 333 7654321", "s:01/07/2022 14:15:00"},
               {"s:QX100", "s:Shevchenko", "s:Olena", "s:F", "d:1980-05-17", "s:Ucraina",
                "s:Ucraina", "s:Capofamiglia", "s:Firenze", "s:Via Nuova, 2",
                "s:Bianchi Anna e Marco", "s:055 999", "s:31/12/2022", "d:2022-03-04", "s:Polonia"},
               {"s:QX100", "s:Шевченко", "s:Олександра 👩‍👧", "s:F",
                "d:2015-02-28", "s:Ucraina", "s:Ucraina", "s:Figlia", "s:Firenze", "s:Via Nuova, 2",
                "s:Bianchi Anna e Marco", "s:055 999", "s:31/12/2022", "d:2022-03-04", "s:Polonia",
                "s:!"},
               {"s:QX300", "s:Kovalenko 😀", "s:Mykola", "s:M", "s:01/02/1890", "s:Ucraina",
                "s:Moldavia", "s:Nonno", "s:Firenze", "s:Via dei Mille, 12", "s:Neri Paolo",
                "s:055 1 055 2", "", "d:2022-04-10", "s:Romania", "s:=1+1"}}));
}

void TestStaging::nothingToExport() {
    // No family units at all, then family units none of which has members:
    // no file is written, not even of the rows an earlier export left.
    Db db;
    db.sql.exec(QStringLiteral(
        "INSERT INTO TBL_EXPORT (CODICE_NUCLEO, COGNOME) VALUES ('QX1', 'Vecchio')"));
    db.sql.addMember(QStringLiteral("QX1"), QStringLiteral("Orfano"));
    for (int round = 0; round < 2; ++round) {
        if (round == 1)
            db.addFamily({txt("QX2")});
        const ExportOutcome outcome = db.runExport();
        QCOMPARE(outcome.staged, 0);
        QVERIFY(outcome.file.isEmpty());
        QVERIFY(QDir(db.out()).isEmpty());
        QCOMPARE(db.sql.count(QStringLiteral("TBL_EXPORT")), 0);
    }
}

void TestStaging::outputFailureLeavesTheStagingComplete() {
    // A file stands where the spreadsheet's folder goes: the error reaches
    // the caller, and the staging table keeps every row.
    Db db;
    db.addFamily({txt("QX1")});
    db.addMember({txt("Primo")});
    db.addMember({txt("Secondo")});
    QVERIFY(QFile(db.out()).open(QIODevice::WriteOnly));
    const QString message = errorOf([&] { db.runExport(); });
    QVERIFY2(message.contains(QDir::toNativeSeparators(db.out())), qPrintable(message));
    QCOMPARE(db.sql.count(QStringLiteral("TBL_EXPORT")), 2);
}

void TestStaging::refusedRowStopsTheExportAndRestoresDurability() {
    // Commits wait for the disk again after an export, also after one the
    // database stopped: the operator's next "Salva" must be safe.
    Db db(false);
    QStringList durability;
    db.dm.cnQuaz.setEngineFactory([&durability](const QString& p) {
        return std::make_unique<RecordingEngine>(p, &durability);
    });
    db.dm.DataModuleCreate(db.path);
    db.addFamily({txt("QX1")});
    for (const char* surname : {"Primo", "Rifiutato", "Terzo"})
        db.addMember({txt(surname)});
    QCOMPARE(db.runExport().staged, 3);
    QCOMPARE(durability, (QStringList{"relaxed", "normal"}));

    // The rows stored before the refused one stay stored, each on its own.
    db.sql.exec(
        QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON TBL_EXPORT "
                       "WHEN NEW.COGNOME = 'Rifiutato' "
                       "BEGIN SELECT RAISE(ABORT, 'riga rifiutata'); END"));
    durability.clear();
    const QString message = errorOf([&] { db.runExport(); });
    QVERIFY2(message.contains(QLatin1String("riga rifiutata")), qPrintable(message));
    QCOMPARE(durability, (QStringList{"relaxed", "normal"}));
    QCOMPARE(db.sql.count(QStringLiteral("TBL_EXPORT")), 1);
}

void TestStaging::familyUnitsSharingACode() {
    // The staged member and host name of every row, in a fixed order.
    const auto staged = [](Db& db) {
        QStringList rows;
        for (const QVariantList& r :
             db.sql.rows(QStringLiteral("SELECT CODICE_NUCLEO, COGNOME, NOME_OSPITANTE, COMUNE "
                                        "FROM TBL_EXPORT ORDER BY 1, 2, 3")))
            rows << r.at(0).toString() + QLatin1Char(' ') + r.at(1).toString() +
                        QLatin1Char(' ') + r.at(2).toString() + QLatin1Char(' ') +
                        r.at(3).toString();
        return rows;
    };

    // Next to each other: the second family unit adds nothing, and the
    // members with the code are staged once, with the first one's host data.
    {
        Db db;
        db.addFamily({txt("QX1"), txt("Primo"), txt("Prato")});
        db.addMember({txt("Uno")});
        db.addMember({txt("Due")});
        db.addFamily({txt("QX1"), txt("Secondo"), txt("Firenze")});
        db.addFamily({txt("QX2"), txt("Terzo"), txt("Pisa")});
        db.addMember({txt("Tre")});
        QCOMPARE(db.runExport().staged, 3);
        QCOMPARE(staged(db), L("QX1 Due Primo Prato|QX1 Uno Primo Prato|QX2 Tre Terzo Pisa"));
    }
    // Apart: each of them stages every member with the code.
    {
        Db db;
        db.addFamily({txt("QX1"), txt("Primo"), txt("Prato")});
        db.addMember({txt("Uno")});
        db.addMember({txt("Due")});
        db.addFamily({txt("QX2"), txt("Terzo"), txt("Pisa")});
        db.addMember({txt("Tre")});
        db.addFamily({txt("QX1"), txt("Secondo"), txt("Firenze")});
        QCOMPARE(db.runExport().staged, 5);
        QCOMPARE(staged(db), L("QX1 Due Primo Prato|QX1 Due Secondo Firenze|QX1 Uno Primo Prato|"
                               "QX1 Uno Secondo Firenze|QX2 Tre Terzo Pisa"));
    }
}

QTEST_GUILESS_MAIN(TestStaging)
#include "tst_staging.moc"
