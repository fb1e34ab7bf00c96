// "Importa" without its dialog: files read as offices make them (CSV in
// Windows-1252 with ";", workbooks from another program, the export's own
// template), the preview, the storing in one transaction, the rejected rows
// beside the file, and an import killed half-way, on files and on the server.

#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

#include "data/registry/DataModule.h"
#include "data/sql/EngineFactory.h"
#include "export/SpreadsheetOutput.h"
#include "export/XltxWorkbookWriter.h"
#include "export/import/ImportPlan.h"
#include "support/DataTestSupport.h"
#include "support/XlsxReader.h"

using namespace marvesa;
using namespace marvesa::test;

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

QString storedDate(int y, int m, int d) {
    return dateTimeToStorage(naiveDateTime(QDate(y, m, d)));
}

// A list as an Italian office saves it from its spreadsheet: ";" between
// fields, Windows-1252, Windows line ends, a note over two lines, a date
// typed with one-digit day and month and a two-digit year, a municipality
// in small letters without "di", a row without surname.
const char* const kOfficeList =
    "Nucleo;Ospitante;Città;Indirizzo;Telefono;Cognome;Nome;Sesso;Data di nascita;"
    "Nazione di nascita;Cittadinanza;Parentela;Data ingresso;Frontiera;Note\r\n"
    "Famiglia Koval;Mario Bianchi;Udine;Via Roma 1;0432 1234;Koval;Olena;F;12/05/1980;"
    "Ucraina;Ucraina;capo nucleo;1/3/22;Polonia;\"Allergia\r\nal lattosio; dieta\"\r\n"
    "Famiglia Koval;Mario Bianchi;Udine;Via Roma 1;0432 1234;Koval;NICOLÒ;m;3/7/2010;"
    "Ucraina;Ucraina;Figlio;1/3/22;Polonia;\r\n"
    "\r\n"
    "Famiglia Esposito;Anna Verdi;reggio calabria;Via Mare 2;0965 55;  Esposito ;Luca;M;"
    "01/01/1990;Italia;Italia;Capo Nucleo;02/03/2022;Austria;\r\n"
    "Famiglia Esposito;Anna Verdi;reggio calabria;Via Mare 2;0965 55;;Sara;F;01/01/1992;"
    "Italia;Italia;Coniuge;02/03/2022;Austria;\r\n";

QStringList memberRows(Sql& sql) {
    QStringList rows;
    for (const QVariantList& r : sql.rows(QStringLiteral(
             "SELECT a.COGNOME, a.NOME, a.SESSO, a.DATA_NASCITA, a.NAZIONE_NASCITA, "
             "a.CITTADINANZA, a.GRADO_PARENTELA, a.DATA_INGRESSO, a.FRONTIERA, a.NOTE, "
             "a.NOME_OSPITANTE, a.COMUNE, a.INDIRIZZO, a.TELEFONO, a.CHIAVE_NOMINATIVO, "
             "n.DENOMINAZIONE FROM TBL_ANAGRAFICA a JOIN TBL_NUCLEO n ON n.CODICE_NUCLEO = "
             "a.CODICE_NUCLEO ORDER BY a.ID_ANAGRAFICA"))) {
        QStringList cells;
        for (const QVariant& v : r)
            cells << (v.isNull() ? QStringLiteral("<NULL>") : sql.portable(v).toString());
        rows << cells.join(QLatin1Char('|'));
    }
    return rows;
}

// The workbook as rows of its cells, columns 2 to 16 (the first holds the
// family code, drawn anew by an import), in a fixed order.
QStringList workbookRows(const ReadBook& book) {
    QMap<int, QStringList> rows;
    for (auto it = book.cells.cbegin(); it != book.cells.cend(); ++it) {
        if (it.key().first < 2 || it.key().second < 2)
            continue;
        QStringList& row = rows[it.key().first];
        while (row.size() < 15)
            row << QString();
        row[it.key().second - 2] = it->type + QLatin1Char(':') + it->value;
    }
    QStringList lines;
    for (const QStringList& r : rows)
        lines << r.join(QLatin1Char('|'));
    lines.sort();
    return lines;
}

ExportOutcome exportOf(const QString& database, const QString& folder) {
    TdmMarvesa dm;
    dm.DataModuleCreate(database);
    XltxWorkbookWriter writer(folder);
    return runExport(dm, writer);
}

}  // namespace

class TstImport : public QObject {
    Q_OBJECT

    QTemporaryDir m_settings;

private slots:
    void initTestCase() {
        // The mapping remembered per header set goes to settings of the
        // test's own.
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settings.path());
    }

    void officeCsvPreviewAndStore() {
        QTemporaryDir dir;
        const QString db = newDatabase(dir);
        const QString path = dir.filePath(QStringLiteral("lista.csv"));
        writeFile(path, QString::fromUtf8(kOfficeList).toLatin1());

        const TableFile file = readTableFile(path);
        QCOMPARE(file.encoding, kWindows1252);
        QCOMPARE(file.separator, QLatin1Char(';'));
        QCOMPARE(file.headers.at(2), QStringLiteral("Città"));
        QCOMPARE(file.rows.size(), size_t(4));
        QCOMPARE(file.rows[0].line, 2);
        QCOMPARE(file.rows[0].cell(14).text, QStringLiteral("Allergia\r\nal lattosio; dieta"));
        QCOMPARE(file.rows[1].line, 4);
        QCOMPARE(file.rows[1].cell(6).text, QStringLiteral("NICOLÒ"));
        QCOMPARE(file.rows[3].line, 7);  // after a blank line

        // Every column found by its header.
        const ColumnMapping mapping = mappingFor(file.headers);
        const QList<QPair<ImportField, int>> expected{
            {ImportField::FamilyCode, -1},   {ImportField::Description, 0},
            {ImportField::Host, 1},          {ImportField::Municipality, 2},
            {ImportField::Address, 3},       {ImportField::Telephone, 4},
            {ImportField::EndOfHosting, -1}, {ImportField::Surname, 5},
            {ImportField::Name, 6},          {ImportField::Sex, 7},
            {ImportField::BirthDate, 8},     {ImportField::BirthCountry, 9},
            {ImportField::Citizenship, 10},  {ImportField::Relationship, 11},
            {ImportField::EntryDate, 12},    {ImportField::Border, 13},
            {ImportField::Note, 14}};
        for (const auto& [field, column] : expected)
            QCOMPARE(mapping.column(field), column);

        auto engine = openEngine(db);
        const ImportPreview preview = planImport(*engine, file, mapping);
        QCOMPARE(preview.newFamilies(), 2);
        QCOMPARE(preview.members(), 3);
        QCOMPARE(preview.rejected.size(), size_t(1));
        QCOMPARE(preview.rejected[0].line, 7);
        QCOMPARE(preview.rejected[0].reason, QStringLiteral("Campi obbligatori mancanti: Cognome"));
        QStringList notes;
        for (const ImportNote& n : preview.notes)
            notes << QStringLiteral("%1 %2").arg(n.line).arg(n.text);
        QCOMPARE(notes, (QStringList{
                            QStringLiteral("2 Grado Parentela \"capo nucleo\" letto come "
                                           "\"Capo Nucleo\""),
                            QStringLiteral("4 Grado Parentela \"Figlio\" letto come "
                                           "\"Figlio/Figlia\""),
                            QStringLiteral("6 Comune \"reggio calabria\" letto come \"Reggio di "
                                           "Calabria\""),
                        }));
        QVERIFY(preview.duplicates.empty());
        QVERIFY2(preview.report().contains(
                     QStringLiteral("Da aggiungere: 2 nuclei familiari e 3 componenti.")),
                 qPrintable(preview.report()));
        QVERIFY(preview.report().contains(
            QStringLiteral("riga 7: Campi obbligatori mancanti: Cognome")));
        Sql sql(db);
        QCOMPARE(sql.count(QStringLiteral("TBL_ANAGRAFICA")), 0);  // a preview stores nothing

        const ImportOutcome outcome = storeImport(*engine, preview);
        QCOMPARE(outcome.families, 2);
        QCOMPARE(outcome.members, 3);
        QCOMPARE(sql.count(QStringLiteral("TBL_NUCLEO")), 2);
        QCOMPARE(
            sql.count(QStringLiteral("TBL_NUCLEO"), QStringLiteral("CODICE_NUCLEO LIKE 'QX%'")), 2);
        // As typed into the window: capitals, trims, list entries as the
        // list spells them, the dates as the date fields read them.
        QCOMPARE(memberRows(sql),
                 (QStringList{
                     QStringLiteral("KOVAL|OLENA|F|1980-05-12T00:00:00|Ucraina|Ucraina|Capo "
                                    "Nucleo|2022-03-01T00:00:00|POLONIA|Allergia\r\nal lattosio; "
                                    "dieta|MARIO BIANCHI|Udine|VIA ROMA 1|0432 1234|KOVAL "
                                    "OLENA|FAMIGLIA KOVAL"),
                     QStringLiteral("KOVAL|NICOLÒ|M|2010-07-03T00:00:00|Ucraina|Ucraina|Figlio/"
                                    "Figlia|2022-03-01T00:00:00|POLONIA|<NULL>|MARIO "
                                    "BIANCHI|Udine|VIA ROMA 1|0432 1234|KOVAL NICOLO|FAMIGLIA "
                                    "KOVAL"),
                     QStringLiteral("ESPOSITO|LUCA|M|1990-01-01T00:00:00|Italia|Italia|Capo "
                                    "Nucleo|2022-03-02T00:00:00|AUSTRIA|<NULL>|ANNA "
                                    "VERDI|Reggio di Calabria|VIA MARE 2|0965 55|ESPOSITO "
                                    "LUCA|FAMIGLIA ESPOSITO"),
                 }));

        // The rejected row beside the file, with its reason, read back as
        // the next import would read it.
        QCOMPARE(outcome.rejectedFile, dir.filePath(QStringLiteral("lista-scartate.csv")));
        QVERIFY(QFile::permissions(outcome.rejectedFile) ==
                (QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser));
        const TableFile rejected = readTableFile(outcome.rejectedFile);
        QCOMPARE(rejected.encoding, kUtf8);
        QCOMPARE(rejected.headers, file.headers + QStringList{QStringLiteral("Motivo")});
        QCOMPARE(rejected.rows.size(), size_t(1));
        QStringList cells;
        for (const ImportCell& c : rejected.rows[0].cells)
            cells << c.text;
        QStringList original;
        for (const ImportCell& c : file.rows[3].cells)
            original << c.text;
        QCOMPARE(cells.mid(0, 15), original);
        QCOMPARE(cells.last(), QStringLiteral("riga 7: Campi obbligatori mancanti: Cognome"));
        // A second import of the same file writes its rejected rows beside,
        // never over the first ones.
        QCOMPARE(rejectedRowsPath(path), dir.filePath(QStringLiteral("lista-scartate-2.csv")));
    }

    // Values that cannot be taken, each with its reason and, for the lists,
    // the nearest entry.
    void rowsThatCannotBeTaken() {
        QTemporaryDir dir;
        const QString db = newDatabase(dir);
        const QString path = dir.filePath(QStringLiteral("errori.csv"));
        writeFile(path,
                  "Nucleo,Ospitante,Comune,Indirizzo,Telefono,Cognome,Nome,Sesso,Nascita,"
                  "Nazione di nascita,Cittadinanza,Parentela,Arrivo,Frontiera\n"
                  "A,B,Udin,C,1,X,Y,M,31/02/1980,Italia,Italia,Coniuge,01/03/2022,Austria\n"
                  "A,B,Udine,C,1,X,Y,Q,01/02/1980,Italai,Italia,Vicino,01/03/2022,Austria\n"
                  "A,B,Udine,C,1,X,Y,M,01/02/1980,Italia,Italia,Coniuge,2022-03-04,Austria\n");
        const TableFile file = readTableFile(path);
        QCOMPARE(file.encoding, kUtf8);
        QCOMPARE(file.separator, QLatin1Char(','));
        auto engine = openEngine(db);
        const ImportPreview preview = planImport(*engine, file, mappingFor(file.headers));
        QCOMPARE(preview.rejected.size(), size_t(2));
        QCOMPARE(preview.rejected[0].reason,
                 QStringLiteral("Comune \"Udin\" non è nell'elenco (forse \"Udine\"?); Data "
                                "Nascita \"31/02/1980\" non è una data"));
        QCOMPARE(preview.rejected[1].reason,
                 QStringLiteral("Sesso \"Q\" non è M o F; Nazione Nascita \"Italai\" non è "
                                "nell'elenco (forse \"Italia\"?); Grado Parentela \"Vicino\" "
                                "non è nell'elenco"));
        QCOMPARE(preview.members(), 1);
        QCOMPARE(preview.families[0].members[0].values.at(int(ImportField::EntryDate)).toText(),
                 QStringLiteral("04/03/2022"));
    }

    // The workbook "Esporta" makes, imported into an empty database, gives
    // every family unit and member back, value for value but the family
    // codes; imported again, every row is a likely duplicate.
    void exportedWorkbookComesBack() {
        QTemporaryDir dir;
        const QString source = newDatabase(dir, QStringLiteral("source.mdb"));
        {
            Sql sql(source);
            const auto family = [&](const QString& code, const QString& host, const QString& town,
                                    const QVariant& end) {
                sql.exec(QStringLiteral("INSERT INTO TBL_NUCLEO (CODICE_NUCLEO, DENOMINAZIONE, "
                                        "NOME_OSPITANTE, COMUNE, INDIRIZZO, TELEFONO, "
                                        "TERMINE_ALLOGGIO) VALUES (?, ?, ?, ?, ?, ?, ?)"),
                         {code, QStringLiteral("NUCLEO ") + code, host, town,
                          QStringLiteral("VIA ") + code, QStringLiteral("333 ") + code, end});
            };
            const auto member = [&](const QString& code, const QString& surname,
                                    const QString& name, const QVariant& born,
                                    const QVariant& note) {
                sql.exec(QStringLiteral("INSERT INTO TBL_ANAGRAFICA (CODICE_NUCLEO, COGNOME, "
                                        "NOME, SESSO, DATA_NASCITA, NAZIONE_NASCITA, "
                                        "CITTADINANZA, GRADO_PARENTELA, DATA_INGRESSO, "
                                        "FRONTIERA, NOTE) VALUES (?, ?, ?, 'F', ?, 'Ucraina', "
                                        "'Moldavia', 'Figlio/Figlia', ?, 'POLONIA', ?)"),
                         {code, surname, name, born, storedDate(2022, 3, 9), note});
            };
            family(QStringLiteral("QX1"), QStringLiteral("MARIO BIANCHI"),
                   QStringLiteral("Abano Terme"), QVariant());
            family(QStringLiteral("QX2"), QStringLiteral("LIA ROSSI"), QStringLiteral("Udine"),
                   storedDate(2025, 6, 30));
            // The same host data as QX2 but another family unit: the
            // export's first column (the code) keeps them apart.
            family(QStringLiteral("QX3"), QStringLiteral("LIA ROSSI"), QStringLiteral("Udine"),
                   dateTimeToStorage(naiveDateTime(QDate(2025, 6, 30), QTime(10, 30))));
            member(QStringLiteral("QX1"), QStringLiteral("KOVAL"), QStringLiteral("OLENA"),
                   storedDate(1980, 5, 12), QStringLiteral("Allergia\nal lattosio"));
            member(QStringLiteral("QX1"), QStringLiteral("KOVAL"), QStringLiteral("ЮРІЙ"),
                   storedDate(2010, 1, 2), QVariant());
            member(QStringLiteral("QX2"), QStringLiteral("D'ANGELO"), QStringLiteral("NICOLÒ"),
                   storedDate(1950, 12, 31), QStringLiteral("!"));
            member(QStringLiteral("QX3"), QStringLiteral("ROSSI"), QStringLiteral("ANNA"),
                   storedDate(1999, 9, 9), QStringLiteral("_x0041_ resta così"));
            member(QStringLiteral("QX3"), QStringLiteral("ROSSI"), QStringLiteral("LUCA"),
                   storedDate(2001, 1, 1), QString());
        }
        const ExportOutcome first = exportOf(source, dir.filePath(QStringLiteral("out1")));
        QCOMPARE(first.staged, std::int64_t(5));

        const TableFile file = readTableFile(first.file);
        QCOMPARE(file.format, TableFile::Format::Workbook);
        QVERIFY(isExportHeaders(file.headers));
        const QString target = newDatabase(dir, QStringLiteral("target.mdb"));
        {
            auto engine = openEngine(target);
            const ImportPreview preview = planImport(*engine, file, mappingFor(file.headers));
            QVERIFY2(preview.rejected.empty(), qPrintable(preview.report()));
            QCOMPARE(preview.newFamilies(), 3);
            QCOMPARE(preview.members(), 5);
            QVERIFY(preview.duplicates.empty());
            storeImport(*engine, preview);
        }
        Sql sql(target);
        QCOMPARE(sql.count(QStringLiteral("TBL_NUCLEO")), 3);
        QCOMPARE(sql.count(QStringLiteral("TBL_NUCLEO"),
                           QStringLiteral("CODICE_NUCLEO IN ('QX1', 'QX2', 'QX3')")),
                 0);
        const ExportOutcome second = exportOf(target, dir.filePath(QStringLiteral("out2")));
        ReadBook before, after;
        READ_OR_SKIP(first.file, before);
        READ_OR_SKIP(second.file, after);
        QCOMPARE(workbookRows(after), workbookRows(before));
        QCOMPARE(workbookRows(after).size(), qsizetype(5));

        // The same file again: every row likely one of the registry's, and
        // nothing stored by the preview.
        auto engine = openEngine(target);
        const ImportPreview again = planImport(*engine, file, mappingFor(file.headers));
        QSet<int> likely;
        for (const ImportDuplicate& d : again.duplicates) {
            if (d.resemblance.likeness == Likeness::Likely && d.otherMember > 0)
                likely.insert(d.line);
        }
        QCOMPARE(likely.size(), qsizetype(5));
        QCOMPARE(again.likelyDuplicates(), 5);
        QCOMPARE(sql.count(QStringLiteral("TBL_ANAGRAFICA")), 5);
    }

    // A workbook made by another program (openpyxl): shared strings,
    // numbers, dates as date cells and as text.
    void workbookOfAnotherProgram() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("prefettura.xlsx"));
        QProcess python;
        python.start(
            QString::fromLatin1(Python),
            {QStringLiteral("-c"),
             QStringLiteral("import datetime, openpyxl, sys\n"
                            "wb = openpyxl.Workbook()\n"
                            "ws = wb.active\n"
                            "ws.title = 'Elenco'\n"
                            "ws.append(['Elenco della prefettura'])\n"
                            "ws.append([])\n"
                            "ws.append(['Cognome', 'Nome', 'Nato il', 'Telefono', 'Arrivo', "
                            "'Note'])\n"
                            "ws.append(['Koval', 'Olena', datetime.datetime(1980, 5, 12), "
                            "3331234567, '1/3/22', 'primo\\nsecondo'])\n"
                            "ws.append(['Koval', 'Ivan', datetime.date(1899, 12, 31), 12.5, "
                            "None, None])\n"
                            "ws['C5'].number_format = 'DD/MM/YYYY'\n"
                            "wb.save(sys.argv[1])\n"),
             path});
        QVERIFY(python.waitForFinished(60000));
        if (python.exitCode() != 0)
            QSKIP("python3 with openpyxl is needed to write the workbook");
        const TableFile file = readTableFile(path);
        // The first row with anything in it is the header row.
        QCOMPARE(file.headers, (QStringList{QStringLiteral("Elenco della prefettura")}));
        QCOMPARE(file.rows.size(), size_t(3));
        const ImportRow& olena = file.rows[1];
        QCOMPARE(olena.line, 4);
        QCOMPARE(olena.cell(0).text, QStringLiteral("Koval"));
        QCOMPARE(olena.cell(2).date, QDate(1980, 5, 12));
        QCOMPARE(olena.cell(3).text, QStringLiteral("3331234567"));
        QVERIFY(!olena.cell(3).date.isValid());
        QCOMPARE(olena.cell(4).text, QStringLiteral("1/3/22"));
        QCOMPARE(olena.cell(5).text, QStringLiteral("primo\nsecondo"));
        QCOMPARE(file.rows[2].cell(2).date, QDate(1899, 12, 31));
        QCOMPARE(file.rows[2].cell(3).text, QStringLiteral("12.5"));

        // The values through the typing rules.
        const FieldRules rules({QStringLiteral("Udine")}, {QStringLiteral("Italia")});
        QString note, problem;
        QCOMPARE(convertField(rules, ImportField::EntryDate, olena.cell(4), &note, &problem),
                 Value::date(QDate(2022, 3, 1)));
        QCOMPARE(convertField(rules, ImportField::BirthDate, olena.cell(2), &note, &problem),
                 Value::date(QDate(1980, 5, 12)));
        QCOMPARE(convertField(rules, ImportField::Telephone, olena.cell(3), &note, &problem),
                 Value::text(QStringLiteral("3331234567")));
        QVERIFY(note.isEmpty() && problem.isEmpty());
        QCOMPARE(convertField(rules, ImportField::Surname,
                              {QStringLiteral("\t") + QString(60, QLatin1Char('a')), QDate()},
                              &note, &problem),
                 Value::text(QString(50, QLatin1Char('A'))));
        QCOMPARE(note, QStringLiteral("Cognome tagliato a 50 caratteri"));
    }

    // Family codes in the file: one the registry has (its members go to
    // that family unit, or to a new one when the clerk says so), one it
    // has not (kept), one not in the program's form (a new code drawn).
    void familyCodesOfTheFile() {
        QTemporaryDir dir;
        const QString db = newDatabase(dir);
        Sql sql(db);
        sql.exec(
            QStringLiteral("INSERT INTO TBL_NUCLEO (CODICE_NUCLEO, DENOMINAZIONE, "
                           "NOME_OSPITANTE, COMUNE, INDIRIZZO, TELEFONO) VALUES ('QX77', "
                           "'ESISTENTE', 'OSPITE', 'Udine', 'VIA A', '0432 9')"));
        const QString path = dir.filePath(QStringLiteral("codici.csv"));
        const QByteArray header =
            "Codice nucleo;Nucleo;Ospitante;Comune;Indirizzo;Telefono;Cognome;Nome;Sesso;"
            "Data di nascita;Nazione di nascita;Cittadinanza;Parentela;Data ingresso;"
            "Frontiera\n";
        const auto line = [](const char* code, const char* name) {
            return QByteArray(code) + ";NUOVO;ALTRO;Gorizia;VIA B;1;PETRENKO;" + name +
                   ";M;01/01/2000;Ucraina;Ucraina;Figlio;01/03/2022;Polonia\n";
        };
        writeFile(path, header + line("QX77", "ANDRII") + line("qx77", "OLEH") +
                            line("QX88", "IVAN") + line("F1", "PAVLO"));
        const TableFile file = readTableFile(path);
        auto engine = openEngine(db);
        ImportPreview preview = planImport(*engine, file, mappingFor(file.headers));
        QCOMPARE(preview.mapping.column(ImportField::FamilyCode), 0);
        QCOMPARE(preview.families.size(), size_t(3));
        const std::vector<const PlannedFamily*> existing = preview.existingCodes();
        QCOMPARE(existing.size(), size_t(1));
        QCOMPARE(existing[0]->fileCode, QStringLiteral("QX77"));
        QCOMPARE(existing[0]->members.size(), size_t(2));
        QVERIFY(existing[0]->existingText.startsWith(QStringLiteral("QX77 ESISTENTE")));
        QCOMPARE(preview.newFamilies(), 2);
        QVERIFY(preview.report().contains(QStringLiteral("Il codice QX77 è già del nucleo")));

        storeImport(*engine, preview);
        // Added to QX77 with its host data, as "Salva" copies it.
        QCOMPARE(sql.row(QStringLiteral("SELECT ") +
                         sql.joined(QStringLiteral("NOME || ' ' || CODICE_NUCLEO || ' ' || "
                                                   "NOME_OSPITANTE || ' ' || TELEFONO"),
                                    QStringLiteral("ID_ANAGRAFICA")) +
                         QStringLiteral(" FROM (SELECT * FROM TBL_ANAGRAFICA ORDER BY "
                                        "ID_ANAGRAFICA) a")),
                 QStringLiteral("ANDRII QX77 OSPITE 0432 9,OLEH QX77 OSPITE 0432 9,IVAN QX88 "
                                "ALTRO 1,PAVLO ") +
                     sql.one(QStringLiteral("SELECT CODICE_NUCLEO FROM TBL_ANAGRAFICA WHERE "
                                            "NOME = 'PAVLO'"))
                         .toString() +
                     QStringLiteral(" ALTRO 1"));
        QCOMPARE(sql.count(QStringLiteral("TBL_NUCLEO")), 3);

        // The clerk's other choice: a family unit of its own, a new code.
        preview.families[0].addToExisting = false;
        QCOMPARE(preview.newFamilies(), 3);
        sql.exec(QStringLiteral("DELETE FROM TBL_ANAGRAFICA"));
        sql.exec(QStringLiteral("DELETE FROM TBL_NUCLEO WHERE CODICE_NUCLEO <> 'QX77'"));
        storeImport(*engine, preview);
        QCOMPARE(sql.count(QStringLiteral("TBL_NUCLEO")), 4);
        QCOMPARE(
            sql.count(QStringLiteral("TBL_ANAGRAFICA"), QStringLiteral("CODICE_NUCLEO = 'QX77'")),
            0);
    }

    // The office's IT: the preview printed, nothing stored; then stored with
    // --conferma; and an import killed during its transaction leaves the
    // database as it was.
    void creationToolImportsAllOrNothing() {
        QTemporaryDir dir;
        const QString db = newDatabase(dir);
        const QString small = dir.filePath(QStringLiteral("piccola.csv"));
        writeFile(small, QString::fromUtf8(kOfficeList).toLatin1());
        const auto tool = [&](const QStringList& args) {
            QProcess p;
            p.start(QStringLiteral(MARVESA_INITDB), args);
            p.waitForFinished(120000);
            return std::make_pair(p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()));
        };
        Sql sql(db);
        const auto [previewCode, previewText] = tool({QStringLiteral("--importa"), small, db});
        QCOMPARE(previewCode, 0);
        QVERIFY2(previewText.contains(QStringLiteral("Da aggiungere: 2 nuclei familiari e 3 "
                                                     "componenti.")),
                 qPrintable(previewText));
        QVERIFY(previewText.contains(QStringLiteral("Nulla è stato salvato")));
        QCOMPARE(sql.count(QStringLiteral("TBL_ANAGRAFICA")), 0);
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("piccola-scartate.csv"))));
        const auto [storeCode, storeText] =
            tool({QStringLiteral("--import"), small, db, QStringLiteral("--confirm")});
        QCOMPARE(storeCode, 0);
        QVERIFY2(storeText.contains(QStringLiteral("Importati")), qPrintable(storeText));
        QCOMPARE(sql.count(QStringLiteral("TBL_ANAGRAFICA")), 3);
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("piccola-scartate.csv"))));
        QCOMPARE(tool({QStringLiteral("--importa"), small}).first, 2);

        // A long list; the tool is killed once it has started storing.
        QByteArray big =
            "Nucleo;Ospitante;Comune;Indirizzo;Telefono;Cognome;Nome;Sesso;Data di nascita;"
            "Nazione di nascita;Cittadinanza;Parentela;Data ingresso;Frontiera\n";
        // Everyone born on another day, as in a real list (a list where
        // all share one date and nearly one name would be all duplicates).
        for (int i = 0; i < 30000; ++i) {
            big += QStringLiteral(
                       "F%1;OSPITE;Udine;VIA %1;1;COGNOME%2;NOME%2;F;%3;"
                       "Ucraina;Ucraina;Coniuge;01/03/2022;Polonia\n")
                       .arg(i / 3)
                       .arg(i)
                       .arg(QDate(1930, 1, 1).addDays(i).toString(QStringLiteral("dd/MM/yyyy")))
                       .toUtf8();
        }
        const QString large = dir.filePath(QStringLiteral("grande.csv"));
        writeFile(large, big);
        const int familiesBefore = sql.count(QStringLiteral("TBL_NUCLEO"));
        QProcess p;
        p.start(QStringLiteral(MARVESA_INITDB),
                {QStringLiteral("--importa"), large, db, QStringLiteral("--conferma")});
        QVERIFY(p.waitForStarted());
        QByteArray progress;
        while (!progress.contains("Importazione:") && p.state() == QProcess::Running) {
            p.waitForReadyRead(100);
            progress += p.readAllStandardError();
        }
        QVERIFY2(progress.contains("Importazione:"), progress.constData());
        ::kill(pid_t(p.processId()), SIGKILL);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);
        QCOMPARE(sql.count(QStringLiteral("TBL_NUCLEO")), familiesBefore);
        QCOMPARE(sql.count(QStringLiteral("TBL_ANAGRAFICA")), 3);
        if (!sql.onServer())
            QCOMPARE(sql.one(QStringLiteral("PRAGMA integrity_check")).toString(),
                     QStringLiteral("ok"));
        // And the database works on: a complete import afterwards.
        auto engine = openEngine(db);
        const TableFile file = readTableFile(small);
        storeImport(*engine, planImport(*engine, file, mappingFor(file.headers)));
        QCOMPARE(sql.count(QStringLiteral("TBL_ANAGRAFICA")), 6);
    }
};

QTEST_GUILESS_MAIN(TstImport)
#include "tst_import.moc"
