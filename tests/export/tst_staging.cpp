// "Esporta" without its button: the staging table rebuilt through the table
// cursors on real database files, and the spreadsheet written from it, read
// back with an independent reader (openpyxl, through read_xlsx.py).

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <future>
#include <thread>

#include "data/base/Error.h"
#include "data/registry/DataModule.h"
#include "data/sql/Engine.h"
#include "data/sql/WriteTransaction.h"
#include "export/SpreadsheetOutput.h"
#include "export/Staging.h"
#include "export/XltxWorkbookWriter.h"
#include "support/DataTestSupport.h"
#include "support/XlsxReader.h"

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
    // Databases made before family codes were unique may repeat one.
    void allowRepeatedCodes() { sql.exec(QStringLiteral("DROP INDEX IDX_NUCLEO_CODICE_NUCLEO")); }
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

// The staging rows the walk of the two table cursors finds, as pairs of the
// family unit's and the member's counters: every family unit in table order,
// and while the member table (which follows it) is not at its end, each
// member whose code equals the family unit's.
QList<QPair<qint64, qint64>> walkOfTheCursors(TdmMarvesa& dm) {
    DataSet& families = dm.TBL_NUCLEO;
    DataSet& members = dm.TBL_ANAGRAFICA;
    const QString code = QStringLiteral("CODICE_NUCLEO");
    QList<QPair<qint64, qint64>> staged;
    families.first();
    members.first();
    while (!families.eof()) {
        while (!members.eof()) {
            if (members.fieldValue(code) == families.fieldValue(code))
                staged.append(
                    {families.fieldValue(QStringLiteral("ID_NUCLEO")).toText().toLongLong(),
                     members.fieldValue(QStringLiteral("ID_ANAGRAFICA")).toText().toLongLong()});
            members.next();
        }
        families.next();
    }
    return staged;
}

// The whole staging table in its stored order, one text per row.
QStringList stagingRows(Sql& sql) {
    QStringList rows;
    for (const QVariantList& row :
         sql.rows(QStringLiteral("SELECT * FROM TBL_EXPORT ORDER BY 1"))) {
        QStringList columns;
        for (const QVariant& v : row)
            columns << (v.isNull() ? QStringLiteral("<NULL>") : v.toString());
        rows << columns.join(QLatin1Char('|'));
    }
    return rows;
}

// Stops an export the first time it is told of `phase`, after `afterCalls`
// reports of it.
struct StopAt : ExportProgress {
    Phase phase;
    int afterCalls;
    int calls = 0;
    StopAt(Phase p, int n) : phase(p), afterCalls(n) {}
    bool advance(Phase p, std::int64_t, std::int64_t) override {
        return p != phase || calls++ < afterCalls;
    }
};

}  // namespace

class TestStaging : public QObject {
    Q_OBJECT

private slots:
    void exportsEveryMemberWithItsFamilyUnitsCurrentData();
    void nothingToExport();
    void outputFailureLeavesTheStagingAsBefore();
    void refusedRowLeavesTheStagingAsBefore();
    void rowFailureInTheWorkbookLeavesNothing();
    void stagesWhatTheWalkOfTheCursorsStages();
    void oddStoredDatesAreExportedAsText();
    void twoDataModulesExportingAtOnce();
    void stoppedExportChangesNothing();
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
    QCOMPARE(outcome.staged, std::int64_t(4));
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
    // Readable as it opens: the header row bold, frozen and filtered, every
    // column wide enough for its header and for a date.
    QCOMPARE(book.freezePanes, QStringLiteral("A2"));
    QCOMPARE(book.autoFilter, QStringLiteral("A1:P5"));
    QCOMPARE(book.boldHeaders.size(), 16);
    QCOMPARE(book.columnWidths.size(), 16);
    for (int c = 0; c < 16; ++c) {
        const double width = book.columnWidths.value(QString(QChar(u'A' + c)));
        QVERIFY2(width >= XltxWorkbookWriter::MinColumnWidth && width >= ExportHeaders.at(c).size(),
                 qPrintable(ExportHeaders.at(c)));
    }
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
        QCOMPARE(outcome.staged, std::int64_t(0));
        QVERIFY(outcome.file.isEmpty());
        QVERIFY(QDir(db.out()).isEmpty());
        QCOMPARE(db.sql.count(QStringLiteral("TBL_EXPORT")), 0);
    }
}

void TestStaging::outputFailureLeavesTheStagingAsBefore() {
    // The spreadsheet's folder cannot be made (a file stands where its
    // parent goes): the error reaches the caller, and the staging table is
    // exactly as before -- no half-done export is left anywhere.
    Db db;
    db.addFamily({txt("QX1")});
    db.addMember({txt("Primo")});
    db.addMember({txt("Secondo")});
    db.sql.exec(QStringLiteral(
        "INSERT INTO TBL_EXPORT (CODICE_NUCLEO, COGNOME) VALUES ('QX7', 'Vecchio')"));
    const QStringList before = stagingRows(db.sql);
    QVERIFY(QFile(db.out()).open(QIODevice::WriteOnly));
    const QString folder = QDir(db.out()).filePath(QStringLiteral("exports"));
    XltxWorkbookWriter writer(folder);
    const QString message = errorOf([&] { runExport(db.dm, writer); });
    QVERIFY2(message.contains(QDir::toNativeSeparators(db.out())), qPrintable(message));
    QCOMPARE(stagingRows(db.sql), before);
    QCOMPARE(db.dm.cnQuaz.engine().inTransaction(), false);
}

namespace {

// The real workbook writer, failing on one data row as a full disk or a
// broken library would, after the rows before it were written.
class FailingOnRow : public XltxWorkbookWriter {
public:
    FailingOnRow(const QString& folder, int row) : XltxWorkbookWriter(folder), m_failAt(row) {}
    void writeRow(const QVector<Cell>& cells) override {
        if (m_rows++ == m_failAt)
            throw Error(QStringLiteral("riga %1 non scritta").arg(m_failAt));
        XltxWorkbookWriter::writeRow(cells);
    }
    int m_failAt;
    int m_rows = 0;
};

}  // namespace

void TestStaging::rowFailureInTheWorkbookLeavesNothing() {
    // The workbook fails on a row in the middle (the header and the rows
    // before it written): the export fails with the writer's message, the
    // staging table is exactly as before, and no file is left, whole or
    // half-written.
    Db db;
    db.addFamily({txt("QX1")});
    for (int i = 0; i < 600; ++i)
        db.addMember({Value::text(QStringLiteral("M%1").arg(i))});
    db.sql.exec(QStringLiteral(
        "INSERT INTO TBL_EXPORT (CODICE_NUCLEO, COGNOME) VALUES ('QX7', 'Vecchio')"));
    const QStringList before = stagingRows(db.sql);
    // Past the first batch the writer's thread takes.
    FailingOnRow writer(db.out(), 400);
    const QString message = errorOf([&] { runExport(db.dm, writer); });
    QCOMPARE(message, QStringLiteral("riga 400 non scritta"));
    QVERIFY(writer.m_rows > 300);
    QCOMPARE(stagingRows(db.sql), before);
    QVERIFY2(QDir(db.out()).entryList(QDir::Files | QDir::Hidden).isEmpty(),
             qPrintable(QDir(db.out()).entryList(QDir::Files | QDir::Hidden).join(u' ')));
    QCOMPARE(db.dm.cnQuaz.engine().inTransaction(), false);
    // The next export works.
    XltxWorkbookWriter fine(db.out());
    QCOMPARE(runExport(db.dm, fine).staged, std::int64_t(600));
}

void TestStaging::refusedRowLeavesTheStagingAsBefore() {
    // A row the database refuses half-way through the staging: its message
    // reaches the caller, the staging table holds exactly what it held, no
    // file is made, and every commit still waits for the disk.
    Db db;
    db.addFamily({txt("QX1")});
    for (const char* surname : {"Primo", "Rifiutato", "Terzo"})
        db.addMember({txt(surname)});
    db.addFamily({txt("QX2")});
    db.addMember({txt("Quarto")});
    QCOMPARE(db.runExport().staged, std::int64_t(4));
    const QStringList before = stagingRows(db.sql);
    QCOMPARE(before.size(), 4);
    for (const QString& f : QDir(db.out()).entryList(QDir::Files))
        QVERIFY(QFile::remove(QDir(db.out()).filePath(f)));

    if (db.sql.onServer()) {
        db.sql.exec(
            QStringLiteral("CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql "
                           "AS $$ BEGIN RAISE EXCEPTION 'riga rifiutata'; END $$"));
        db.sql.exec(
            QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON TBL_EXPORT FOR EACH "
                           "ROW WHEN (NEW.COGNOME = 'Rifiutato') EXECUTE FUNCTION refuse()"));
    } else {
        db.sql.exec(
            QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON TBL_EXPORT "
                           "WHEN NEW.COGNOME = 'Rifiutato' "
                           "BEGIN SELECT RAISE(ABORT, 'riga rifiutata'); END"));
    }
    const QString message = errorOf([&] { db.runExport(); });
    QVERIFY2(message.contains(QLatin1String("riga rifiutata")), qPrintable(message));
    QCOMPARE(stagingRows(db.sql), before);
    QVERIFY(QDir(db.out()).entryList(QDir::Files).isEmpty());
    QCOMPARE(db.dm.cnQuaz.engine().inTransaction(), false);
    QVariant synchronous;
    db.dm.cnQuaz.engine().select(
        db.sql.onServer() ? QStringLiteral("SELECT current_setting('synchronous_commit')")
                          : QStringLiteral("PRAGMA synchronous"),
        {}, [&](const QVector<QVariant>& row) {
            synchronous = row.at(0);
            return true;
        });
    if (db.sql.onServer())
        QCOMPARE(synchronous.toString(), QStringLiteral("on"));
    else
        QCOMPARE(synchronous.toInt(), 2);  // FULL
}

void TestStaging::stagesWhatTheWalkOfTheCursorsStages() {
    // Random family units and members over a few codes: codes repeated next
    // to each other and apart, NULL, codes differing only in letter case or
    // a trailing blank, members of no family unit, counters with gaps. The
    // staging table holds exactly the rows the walk of the cursors finds, in
    // its order, whatever the size of the slices staged at once.
    const QVariantList codes{QStringLiteral("QX1"),  QStringLiteral("QX2"), QStringLiteral("qx1"),
                             QStringLiteral("QX1 "), QStringLiteral("QX3"), QVariant()};
    for (const quint32 seed : {1u, 2u, 3u, 4u}) {
        Db db(false);
        QRandomGenerator random(seed);
        const auto anyCode = [&](int extra) {
            const int i = int(random.bounded(quint32(codes.size() + extra)));
            return i < codes.size() ? codes.at(i) : QVariant(QStringLiteral("QX9"));
        };
        // Repeated codes: databases made before codes were unique may hold them.
        db.sql.exec(QStringLiteral("DROP INDEX IDX_NUCLEO_CODICE_NUCLEO"));
        db.sql.exec(QStringLiteral("BEGIN"));
        for (int f = 1; f <= 40; ++f)
            db.sql.exec(QStringLiteral(
                            "INSERT INTO TBL_NUCLEO (CODICE_NUCLEO, NOME_OSPITANTE) VALUES (?, ?)"),
                        {anyCode(0), QStringLiteral("F%1").arg(f)});
        for (int m = 1; m <= 120; ++m)
            db.sql.exec(
                QStringLiteral("INSERT INTO TBL_ANAGRAFICA (CODICE_NUCLEO, COGNOME) VALUES (?, ?)"),
                {anyCode(1), QStringLiteral("M%1").arg(m)});
        db.sql.exec(QStringLiteral("DELETE FROM TBL_NUCLEO WHERE ID_NUCLEO % 7 = 3"));
        db.sql.exec(QStringLiteral("DELETE FROM TBL_ANAGRAFICA WHERE ID_ANAGRAFICA % 11 = 5"));
        db.sql.exec(QStringLiteral("COMMIT"));
        db.dm.DataModuleCreate(db.path);

        const QList<QPair<qint64, qint64>> walk = walkOfTheCursors(db.dm);
        QStringList expected;
        for (const auto& [family, member] : walk)
            expected << QStringLiteral("F%1|M%2").arg(family).arg(member);
        QVERIFY(expected.size() > 20);
        for (const std::int64_t slice : {std::int64_t(1), std::int64_t(7), kStagingSliceRows}) {
            Engine& engine = db.dm.cnQuaz.engine();
            WriteTransaction transaction(engine, QStringLiteral("TBL_EXPORT"));
            QCOMPARE(rebuildStagingTable(engine, nullptr, nullptr, slice),
                     std::int64_t(expected.size()));
            transaction.commit();
            QStringList staged;
            for (const QVariantList& row : db.sql.rows(QStringLiteral(
                     "SELECT NOME_OSPITANTE, COGNOME FROM TBL_EXPORT ORDER BY ID_ANAGRAFICA")))
                staged << row.at(0).toString() + QLatin1Char('|') + row.at(1).toString();
            QCOMPARE(staged, expected);
        }
        // The same through the staging command on its own, which then puts
        // the two tables on their first rows.
        db.dm.TBL_NUCLEO.last();
        db.sql.exec(QStringLiteral("DELETE FROM TBL_EXPORT"));
        QCOMPARE(stageExport(db.dm), std::int64_t(expected.size()));
        QCOMPARE(db.sql.count(QStringLiteral("TBL_EXPORT")), expected.size());
        QCOMPARE(db.dm.TBL_NUCLEO.currentRow(), 0);
    }
}

void TestStaging::oddStoredDatesAreExportedAsText() {
    if (onServer())
        QSKIP("a server's timestamp columns hold only valid date-times: nothing odd to export");
    // Date columns holding what another tool wrote: each is exported as a
    // text cell holding what is stored (the empty text as an empty cell),
    // and the rest of the row as usual.
    Db db;
    db.addFamily({txt("QX1"), txt("Ospite"), txt("Prato"), txt("Via Roma 1"), txt("0574 1")});
    db.addMember({txt("Regolare"), txt("Anna"), txt("F"), D(1980, 5, 12)});
    const QVariantList odd{QStringLiteral("31/02/2020"), QStringLiteral("abc"), QStringLiteral(""),
                           19800512, QStringLiteral("0000-00-00T00:00:00")};
    for (int i = 0; i < odd.size(); ++i)
        db.sql.exec(QStringLiteral("INSERT INTO TBL_ANAGRAFICA (CODICE_NUCLEO, COGNOME, "
                                   "DATA_NASCITA, DATA_INGRESSO) VALUES ('QX1', ?, ?, ?)"),
                    {QStringLiteral("Strano%1").arg(i), odd.at(i), odd.at(odd.size() - 1 - i)});
    db.sql.exec(QStringLiteral("UPDATE TBL_NUCLEO SET TERMINE_ALLOGGIO = 'presto'"));

    const ExportOutcome outcome = db.runExport();
    QCOMPARE(outcome.staged, std::int64_t(6));
    ReadBook book;
    READ_OR_SKIP(outcome.file, book);
    const QMap<CellKey, QString> cells = book.shown();
    QCOMPARE(cells.value({2, 2}), QStringLiteral("s:Regolare"));
    QCOMPARE(cells.value({2, 5}), QStringLiteral("d:1980-05-12"));
    const QStringList shownOdd{"s:31/02/2020", "s:abc", "", "s:19800512", "s:0000-00-00T00:00:00"};
    for (int i = 0; i < odd.size(); ++i) {
        QCOMPARE(cells.value({3 + i, 2}), QStringLiteral("s:Strano%1").arg(i));
        QCOMPARE(cells.value({3 + i, 5}), shownOdd.at(i));
        QCOMPARE(cells.value({3 + i, 14}), shownOdd.at(odd.size() - 1 - i));
        QCOMPARE(cells.value({3 + i, 9}), QStringLiteral("s:Prato"));
        QCOMPARE(cells.value({3 + i, 13}), QStringLiteral("s:presto"));
    }
}

void TestStaging::twoDataModulesExportingAtOnce() {
    // Two data modules on one file, each on a thread of its own as two
    // copies of the program would be, export at the same moment: each
    // spreadsheet holds every member once, and the staging table the rows
    // of one export.
    Db db(false);
    const int members = 3000;
    db.sql.exec(QStringLiteral("BEGIN"));
    for (int f = 0; f < members / 3; ++f) {
        const QString code = QStringLiteral("QX%1").arg(1000 + f);
        db.sql.exec(QStringLiteral("INSERT INTO TBL_NUCLEO (CODICE_NUCLEO) VALUES (?)"), {code});
        for (int m = 0; m < 3; ++m)
            db.sql.exec(
                QStringLiteral("INSERT INTO TBL_ANAGRAFICA (CODICE_NUCLEO, COGNOME) VALUES (?, ?)"),
                {code, QStringLiteral("M%1-%2").arg(f).arg(m)});
    }
    db.sql.exec(QStringLiteral("COMMIT"));

    struct Desk {
        QString file;
        QString error;
    };
    Desk desks[2];
    std::promise<void> go;
    std::shared_future<void> start = go.get_future().share();
    std::vector<std::thread> threads;
    for (Desk& desk : desks) {
        threads.emplace_back([&db, &desk, start] {
            try {
                TdmMarvesa dm;
                dm.DataModuleCreate(db.path);
                XltxWorkbookWriter writer(db.out());
                start.wait();
                desk.file = runExport(dm, writer).file;
            } catch (const Error& e) {
                desk.error = e.message();
            }
        });
    }
    go.set_value();
    for (std::thread& t : threads)
        t.join();

    QStringList everyone;
    for (int f = 0; f < members / 3; ++f)
        for (int m = 0; m < 3; ++m)
            everyone << QStringLiteral("M%1-%2").arg(f).arg(m);
    everyone.sort();
    for (const Desk& desk : desks) {
        QVERIFY2(desk.error.isEmpty(), qPrintable(desk.error));
        ReadBook book;
        READ_OR_SKIP(desk.file, book);
        QStringList surnames;
        for (auto it = book.cells.cbegin(); it != book.cells.cend(); ++it)
            if (it.key().first > 1 && it.key().second == 2)
                surnames << it->value;
        surnames.sort();
        QCOMPARE(surnames, everyone);
    }
    QStringList staged;
    for (const QVariant& v : db.sql.exec(QStringLiteral("SELECT COGNOME FROM TBL_EXPORT")))
        staged << v.toString();
    staged.sort();
    QCOMPARE(staged, everyone);
}

void TestStaging::stoppedExportChangesNothing() {
    // Stopped while staging or while writing: the staging table is exactly
    // as before, no file is made, and the tables stand on their first rows.
    for (const auto phase : {ExportProgress::Phase::Staging, ExportProgress::Phase::Writing}) {
        Db db;
        db.addFamily({txt("QX1")});
        db.addMember({txt("Primo")});
        db.addFamily({txt("QX2")});
        db.addMember({txt("Secondo")});
        db.sql.exec(QStringLiteral(
            "INSERT INTO TBL_EXPORT (CODICE_NUCLEO, COGNOME) VALUES ('QX7', 'Vecchio')"));
        const QStringList before = stagingRows(db.sql);
        StopAt stop(phase, 1);
        XltxWorkbookWriter writer(db.out());
        const ExportOutcome outcome = runExport(db.dm, writer, nullptr, &stop);
        QVERIFY(outcome.cancelled);
        QVERIFY(outcome.file.isEmpty());
        QCOMPARE(stagingRows(db.sql), before);
        QVERIFY(QDir(db.out()).entryList(QDir::Files).isEmpty());
        QCOMPARE(db.dm.TBL_NUCLEO.currentRow(), 0);
        QCOMPARE(text(db.dm.TBL_ANAGRAFICA, "COGNOME"), QStringLiteral("Primo"));
    }
}

void TestStaging::familyUnitsSharingACode() {
    // The staged member and host name of every row, in a fixed order.
    const auto staged = [](Db& db) {
        QStringList rows;
        for (const QVariantList& r :
             db.sql.rows(QStringLiteral("SELECT CODICE_NUCLEO, COGNOME, NOME_OSPITANTE, COMUNE "
                                        "FROM TBL_EXPORT ORDER BY 1, 2, 3")))
            rows << r.at(0).toString() + QLatin1Char(' ') + r.at(1).toString() + QLatin1Char(' ') +
                        r.at(2).toString() + QLatin1Char(' ') + r.at(3).toString();
        return rows;
    };

    // Next to each other: the second family unit adds nothing, and the
    // members with the code are staged once, with the first one's host data.
    {
        Db db;
        db.allowRepeatedCodes();
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
        db.allowRepeatedCodes();
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
