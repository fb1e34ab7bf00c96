// bench_export: times "Esporta" on a large database, from the staging table
// emptied to the finished spreadsheet file, and reports the peak memory.
//
//   bench_export [--families N] [--members M] [--runs R] [--keep DIR]
//
// Defaults: 30000 family units, 100000 members, one run. The database is
// filled by plain SQL in one transaction, with M rows already in the staging
// table as an earlier export would have left them; the data module then opens
// it as the program does at start-up. Each run is the whole export: the
// staging table closed and opened again, emptied one delete at a time, filled
// one insert and post per member, then the workbook written and turned into a
// template. With --keep the database and the workbooks stay in DIR.
//
// Prints the split of each run (reopening, emptying, filling, spreadsheet),
// its processor time, and the figures with their targets; the exit status is
// 1 when a target is missed.

#include <sys/resource.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <memory>

#include "data/DataModule.h"
#include "data/Error.h"
#include "data/Schema.h"
#include "data/Value.h"
#include "export/SpreadsheetOutput.h"
#include "export/XltxWorkbookWriter.h"

using namespace marvesa;

namespace {

// Peak resident memory of the process so far (VmHWM), in kB.
long peakMemoryKb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

double ms(std::int64_t ns) {
    return ns / 1e6;
}

// Processor time used by the process so far (user and system), in ms. The
// wall-clock figures depend on the disk and on whatever else runs; this one
// shows what the export itself costs.
double cpuMs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

void fail(const QString& what, const QSqlQuery& q) {
    throw Error(what + QStringLiteral(": ") + q.lastError().text());
}

const QStringList kSurnames = {QStringLiteral("Shevchenko"), QStringLiteral("Kovalenko"),
                               QStringLiteral("Bondarenko"), QStringLiteral("Tkachenko"),
                               QStringLiteral("Шевченко"),   QStringLiteral("Мельник"),
                               QStringLiteral("Kravchenko"), QStringLiteral("Oliynyk"),
                               QStringLiteral("Lysenko"),    QStringLiteral("Rudenko")};
const QStringList kNames = {QStringLiteral("Olena"),  QStringLiteral("Andriy"),
                            QStringLiteral("Iryna"),  QStringLiteral("Олександра"),
                            QStringLiteral("Mykola"), QStringLiteral("Sofiia"),
                            QStringLiteral("Dmytro"), QStringLiteral("Anna")};
const QStringList kRelations = {QStringLiteral("Capofamiglia"), QStringLiteral("Coniuge"),
                                QStringLiteral("Figlio"), QStringLiteral("Figlia"),
                                QStringLiteral("Nonna")};
const QStringList kTowns = {QStringLiteral("Firenze"), QStringLiteral("Prato"),
                            QStringLiteral("Pistoia"), QStringLiteral("Empoli"),
                            QStringLiteral("Sesto Fiorentino")};

// Fills the new database at `path` in one transaction.
void populate(const QString& path, int families, int members) {
    const QString connection = QStringLiteral("bench-populate");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        if (!db.open())
            throw Error(db.lastError().text());
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("BEGIN")))
            fail(QStringLiteral("BEGIN"), q);

        QSqlQuery n(db);
        n.prepare(QStringLiteral(
            "INSERT INTO TBL_NUCLEO (CODICE_NUCLEO, DENOMINAZIONE, NOME_OSPITANTE, COMUNE, "
            "INDIRIZZO, TELEFONO, TERMINE_ALLOGGIO) VALUES (?, ?, ?, ?, ?, ?, ?)"));
        QSqlQuery a(db);
        a.prepare(QStringLiteral(
            "INSERT INTO TBL_ANAGRAFICA (CODICE_NUCLEO, COGNOME, NOME, SESSO, DATA_NASCITA, "
            "NAZIONE_NASCITA, CITTADINANZA, GRADO_PARENTELA, COMUNE, INDIRIZZO, "
            "TERMINE_ALLOGGIO, DATA_INGRESSO, FRONTIERA, NOTE, TELEFONO, NOME_OSPITANTE) "
            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        QSqlQuery e(db);
        e.prepare(QStringLiteral(
            "INSERT INTO TBL_EXPORT (CODICE_NUCLEO, COGNOME, NOME, SESSO, DATA_NASCITA, "
            "NAZIONE_NASCITA, CITTADINANZA, GRADO_PARENTELA, COMUNE, INDIRIZZO, NOME_OSPITANTE, "
            "TELEFONO, TERMINE_ALLOGGIO, DATA_INGRESSO, FRONTIERA, NOTE) "
            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));

        const QDate base(2022, 3, 1);
        int member = 0;
        for (int f = 0; f < families; ++f) {
            // Codes as the program draws them, "QX" and digits, all distinct.
            const QString code = QStringLiteral("QX%1").arg(1000000 + f * 37 % 9000000);
            const QString host = QStringLiteral("Ospitante %1").arg(f);
            const QString town = kTowns.at(f % kTowns.size());
            const QString address = QStringLiteral("Via dei Mille, %1").arg(f % 300 + 1);
            const QString phone = QStringLiteral("+39 333 %1").arg(1000000 + f);
            const QVariant end =
                f % 3 == 0 ? QVariant()
                           : QVariant(dateTimeToStorage(naiveDateTime(base.addDays(90 + f % 200))));
            for (const QVariant& v :
                 {QVariant(code), QVariant(QStringLiteral("Famiglia %1").arg(f)), QVariant(host),
                  QVariant(town), QVariant(address), QVariant(phone), end})
                n.addBindValue(v);
            if (!n.exec())
                fail(QStringLiteral("TBL_NUCLEO"), n);

            // Members spread evenly: the first families take one more.
            const int count = members / families + (f < members % families ? 1 : 0);
            for (int m = 0; m < count; ++m, ++member) {
                const QString birth = dateTimeToStorage(
                    naiveDateTime(QDate(1940 + member % 80, 1 + member % 12, 1 + member % 28)));
                const QString entry = dateTimeToStorage(naiveDateTime(base.addDays(member % 400)));
                const QVariant note = member % 4 == 0
                                          ? QVariant()
                                          : QVariant(QStringLiteral("Necessità particolari n. %1: "
                                                                    "assistenza sanitaria")
                                                         .arg(member));
                const QVariantList values{code,
                                          kSurnames.at(member % kSurnames.size()),
                                          kNames.at(member % kNames.size()),
                                          member % 2 ? QStringLiteral("F") : QStringLiteral("M"),
                                          birth,
                                          QStringLiteral("Ucraina"),
                                          QStringLiteral("Ucraina"),
                                          kRelations.at(m % kRelations.size()),
                                          town,
                                          address,
                                          end,
                                          entry,
                                          QStringLiteral("Polonia"),
                                          note,
                                          phone,
                                          host};
                for (const QVariant& v : values)
                    a.addBindValue(v);
                if (!a.exec())
                    fail(QStringLiteral("TBL_ANAGRAFICA"), a);
                // What an earlier export left behind.
                const QVariantList staged{
                    code, values[1], values[2], values[3], birth, values[5], values[6],  values[7],
                    town, address,   host,      phone,     end,   entry,     values[12], note};
                for (const QVariant& v : staged)
                    e.addBindValue(v);
                if (!e.exec())
                    fail(QStringLiteral("TBL_EXPORT"), e);
            }
        }
        if (!q.exec(QStringLiteral("COMMIT")))
            fail(QStringLiteral("COMMIT"), q);
        q.finish();
        n.finish();
        a.finish();
        e.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
}

int run(const QStringList& args) {
    QTextStream out(stdout);
    int families = 30000, members = 100000, runs = 1;
    QString keep;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args.at(i);
        const bool hasValue = i + 1 < args.size();
        if (a == QLatin1String("--families") && hasValue) {
            families = args.at(++i).toInt();
        } else if (a == QLatin1String("--members") && hasValue) {
            members = args.at(++i).toInt();
        } else if (a == QLatin1String("--runs") && hasValue) {
            runs = args.at(++i).toInt();
        } else if (a == QLatin1String("--keep") && hasValue) {
            keep = args.at(++i);
        } else {
            QTextStream(stderr) << "Uso: bench_export [--families N] [--members M] [--runs R] "
                                   "[--keep CARTELLA]\n";
            return 2;
        }
    }
    if (families < 1 || members < 0 || runs < 1) {
        QTextStream(stderr) << "bench_export: valori non validi\n";
        return 2;
    }

    QTemporaryDir temp;
    if (!temp.isValid())
        throw Error(QStringLiteral("cartella temporanea non disponibile"));
    const QString folder = keep.isEmpty() ? temp.path() : QFileInfo(keep).absoluteFilePath();
    if (!keep.isEmpty())
        QDir().mkpath(folder);
    const QString dbPath = QDir(folder).filePath(QStringLiteral("dbQuaz.mdb"));
    QFile::remove(dbPath);

    QElapsedTimer setup;
    setup.start();
    schema::createDatabase(dbPath);
    populate(dbPath, families, members);
    out << QStringLiteral(
               "Database di prova: %1 nuclei, %2 familiari, %2 righe lasciate in "
               "TBL_EXPORT da un'esportazione precedente (preparato in %3 ms)\n")
               .arg(families)
               .arg(members)
               .arg(setup.elapsed());

    TdmMarvesa dm;
    QElapsedTimer opening;
    opening.start();
    dm.DataModuleCreate(dbPath);
    out << QStringLiteral("Modulo dati aperto in %1 ms; memoria massima finora %2 MB\n")
               .arg(opening.elapsed())
               .arg(peakMemoryKb() / 1024.0, 0, 'f', 1);
    out.flush();

    bool allMet = true;
    const auto report = [&](const QString& what, double value, const QString& unit, double target) {
        const bool met = value < target;
        allMet = allMet && met;
        out << QStringLiteral("  %1: %2 %3 (obiettivo < %4 %3) %5\n")
                   .arg(what)
                   .arg(value, 0, 'f', 0)
                   .arg(unit)
                   .arg(target)
                   .arg(met ? QStringLiteral("OK") : QStringLiteral("OLTRE L'OBIETTIVO"));
    };

    for (int r = 1; r <= runs; ++r) {
        XltxWorkbookWriter writer(QDir(folder).filePath(QStringLiteral("exports")));
        ExportTimings t;
        const double cpuBefore = cpuMs();
        QElapsedTimer total;
        total.start();
        XltxWorkbookWriter::removeStaleExports(writer.folder());
        const ExportOutcome outcome = runExport(dm, writer, &t);
        const std::int64_t totalNs = total.nsecsElapsed();
        const double cpu = cpuMs() - cpuBefore;
        out << QStringLiteral("Esportazione %1: %2 righe, file %3 (%4 kB)\n")
                   .arg(r)
                   .arg(outcome.staged)
                   .arg(outcome.file)
                   .arg(QFileInfo(outcome.file).size() / 1024);
        out << QStringLiteral(
                   "  riapertura di TBL_EXPORT %1 ms | svuotamento %2 ms | "
                   "riempimento %3 ms | foglio di calcolo %4 ms\n")
                   .arg(ms(t.staging.reopenNs), 0, 'f', 0)
                   .arg(ms(t.staging.emptyNs), 0, 'f', 0)
                   .arg(ms(t.staging.stageNs), 0, 'f', 0)
                   .arg(ms(t.writeNs), 0, 'f', 0);
        out << QStringLiteral("  tempo di processore %1 ms\n").arg(cpu, 0, 'f', 0);
        report(QStringLiteral("Tempo totale"), ms(totalNs), QStringLiteral("ms"), 5000);
        report(QStringLiteral("Memoria massima"), peakMemoryKb() / 1024.0, QStringLiteral("MB"),
               300);
        out.flush();
    }
    out << (allMet ? "Tutti gli obiettivi raggiunti.\n" : "Almeno un obiettivo mancato.\n");
    return allMet ? 0 : 1;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    try {
        return run(app.arguments());
    } catch (const Error& e) {
        QTextStream(stderr) << "bench_export: " << e.message() << "\n";
        return 1;
    }
}
