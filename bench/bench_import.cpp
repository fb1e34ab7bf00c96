// bench_import: "Importa" of a large list and the duplicate check at the
// member "Salva", on a database file or a PostgreSQL server.
//
//   bench_import [--families N] [--members M] [--keep DIR] [--server CONNECTION]
//
// Defaults: 30000 family units, 100000 members. A CSV file is written as an
// office would keep it (";", one row per member, names of many kinds, some
// people twice with a slip), then imported into a new, empty database:
// reading the file, the preview (typing rules, family units, every member
// compared with the registry and with the file's other rows) and the storing
// in one transaction, each timed, and the whole against its target. Then
// the real window (offscreen) on the filled database: "Nuovo", the fields
// filled, "Salva" pressed with the warning answered "Torna alla modifica",
// timed from the click until the window is back, for people with and
// without likely duplicates, and the duplicate check alone against its
// target. With --server, the same on the database marvesa_bench_import
// (dropped and made again) of the server CONNECTION names. Prints the
// figures with their targets; exit status 1 when one is missed.

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>
#include <algorithm>
#include <vector>

#include "BenchSupport.h"
#include "app/Application.h"
#include "data/registry/DataModule.h"
#include "data/registry/DuplicateCheck.h"
#include "data/schema/FileDatabase.h"
#include "data/schema/ServerDatabase.h"
#include "data/sql/EngineFactory.h"
#include "export/import/ImportPlan.h"
#include "ui/services/DuplicateReview.h"
#include "ui/window/MainWindow.h"

using namespace marvesa;
using namespace marvesa::bench;

namespace {

// Surnames and names of many kinds, made of syllables: tens of thousands of
// surnames, hundreds of names.
const QStringList kSyllables = {
    QStringLiteral("ko"),   QStringLiteral("va"),   QStringLiteral("len"), QStringLiteral("shev"),
    QStringLiteral("chen"), QStringLiteral("bon"),  QStringLiteral("da"),  QStringLiteral("ren"),
    QStringLiteral("tka"),  QStringLiteral("mel"),  QStringLiteral("nyk"), QStringLiteral("ros"),
    QStringLiteral("si"),   QStringLiteral("bian"), QStringLiteral("chi"), QStringLiteral("ver"),
    QStringLiteral("di"),   QStringLiteral("pe"),   QStringLiteral("tro"), QStringLiteral("lys"),
    QStringLiteral("ru"),   QStringLiteral("ol"),   QStringLiteral("iy"),  QStringLiteral("ma"),
    QStringLiteral("ri"),   QStringLiteral("an"),   QStringLiteral("gel"), QStringLiteral("lo")};

QString word(quint32 n, int syllables) {
    QString w;
    for (int i = 0; i < syllables; ++i) {
        w += kSyllables.at(int(n % quint32(kSyllables.size())));
        n /= quint32(kSyllables.size());
    }
    w[0] = w[0].toUpper();
    return w;
}

// The list: `members` rows over `families` family units; one row in 200 is
// someone already listed, with one slip (a letter, or day and month).
QByteArray officeList(int families, int members) {
    QByteArray out =
        "Nucleo;Ospitante;Comune;Indirizzo;Telefono;Cognome;Nome;Sesso;Data di nascita;"
        "Nazione di nascita;Cittadinanza;Parentela;Data ingresso;Frontiera;Note\r\n";
    const QStringList towns = {QStringLiteral("Firenze"), QStringLiteral("Prato"),
                               QStringLiteral("Pistoia"), QStringLiteral("reggio calabria"),
                               QStringLiteral("Udine")};
    const QStringList relations = {QStringLiteral("Capo Nucleo"), QStringLiteral("Coniuge"),
                                   QStringLiteral("figlio"), QStringLiteral("Figlia"),
                                   QStringLiteral("Nonna/Nonno")};
    int member = 0;
    quint32 seed = 12345;
    const auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    QString lastSurname, lastName, lastBirth;
    for (int f = 0; f < families; ++f) {
        const QString surname = word(next(), 3);
        const QString family = QStringLiteral(
                                   "Famiglia %1 %2;Ospitante %2;%3;Via dei Mille %4;"
                                   "+39 333 %5;")
                                   .arg(surname)
                                   .arg(f)
                                   .arg(towns.at(f % towns.size()))
                                   .arg(f % 300 + 1)
                                   .arg(1000000 + f);
        const int count = members / families + (f < members % families ? 1 : 0);
        for (int m = 0; m < count; ++m, ++member) {
            QString s = surname, n = word(next() % 700, 2);
            QDate birth(1940 + int(next() % 80), 1 + int(next() % 12), 1 + int(next() % 28));
            QString birthText = birth.toString(QStringLiteral("dd/MM/yyyy"));
            if (member % 200 == 199 && !lastSurname.isEmpty()) {
                s = lastSurname.left(lastSurname.size() - 1);
                n = lastName;
                birthText = lastBirth;
            }
            lastSurname = s;
            lastName = n;
            lastBirth = birthText;
            out += (family +
                    QStringLiteral("%1;%2;%3;%4;Ucraina;Ucraina;%5;1/3/22;Polonia;%6\r\n")
                        .arg(s, n, member % 2 ? QStringLiteral("F") : QStringLiteral("m"),
                             birthText, relations.at(m % relations.size()),
                             member % 4 ? QStringLiteral("\"Nota %1\"").arg(member) : QString()))
                       .toUtf8();
        }
    }
    return out;
}

// Answers the warning "Torna alla modifica" and counts it.
class BackToFields : public DuplicateReview {
public:
    int shown = 0;
    DuplicateDecision review(const DuplicateReviewRequest&) override {
        ++shown;
        return {};
    }
};

}  // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    Application app(argc, argv);
    QTextStream out(stdout);
    int families = 30000, members = 100000;
    QString keep, server;
    const Options options(app.arguments());
    families = options.number("--families", families);
    members = options.number("--members", members);
    keep = options.text("--keep", keep);
    server = options.text("--server", server);
    QTemporaryDir dir;
    const QString list = dir.filePath(QStringLiteral("elenco.csv"));
    {
        QFile f(list);
        f.open(QIODevice::WriteOnly);
        f.write(officeList(families, members));
    }
    QString location = dir.filePath(QStringLiteral("dbQuaz.mdb"));
    try {
        if (server.isEmpty()) {
            schema::createDatabase(location);
        } else {
            location = freshServerDatabase(server, QStringLiteral("marvesa_bench_import"));
            schema::createServerDatabase(location);
            out << QStringLiteral("Sul server: %1\n").arg(ServerAddress(location).describe());
        }
    } catch (const Error& e) {
        QTextStream(stderr) << "bench_import: " << e.message() << "\n";
        return 2;
    }
    out << QStringLiteral("Elenco: %1 nuclei, %2 componenti (%3 MB)\n")
               .arg(families)
               .arg(members)
               .arg(QFileInfo(list).size() / 1e6, 0, 'f', 1);
    Targets targets(out);

    ImportOutcome outcome;
    {
        const double cpu0 = cpuMs();
        QElapsedTimer total, step;
        total.start();
        step.start();
        const TableFile file = readTableFile(list);
        const qint64 reading = step.restart();
        auto engine = openEngine(location);
        const ImportPreview preview = planImport(*engine, file, mappingFor(file.headers));
        const qint64 planning = step.restart();
        outcome = storeImport(*engine, preview);
        const qint64 storing = step.restart();
        const qint64 all = total.elapsed();
        out << QStringLiteral("  lettura del file: %1 ms\n").arg(reading);
        out << QStringLiteral(
                   "  anteprima (regole, nuclei, doppioni): %1 ms; %2 nuclei, %3 "
                   "componenti, %4 scartati, %5 righe con un probabile doppione\n")
                   .arg(planning)
                   .arg(preview.newFamilies())
                   .arg(preview.members())
                   .arg(preview.rejected.size())
                   .arg(preview.likelyDuplicates());
        out << QStringLiteral("  salvataggio in una transazione: %1 ms\n").arg(storing);
        out << QStringLiteral("  processore: %1 ms; memoria di picco %2 MB\n")
                   .arg(cpuMs() - cpu0, 0, 'f', 0)
                   .arg(peakMemoryKb() / 1024);
        targets.report(QStringLiteral("\"Importa\" di %1 componenti con il controllo dei doppioni")
                           .arg(members),
                       all / 1000.0, QStringLiteral("s"), 10, 2);
    }
    if (!keep.isEmpty() && server.isEmpty())
        QFile::copy(location, QDir(keep).filePath(QStringLiteral("dbQuaz.mdb")));

    // The member "Salva" in the real window on the filled registry.
    BackToFields back;
    DuplicateReview::setInstance(&back);
    TfrmMain window;
    TdmMarvesa dm;
    window.bindTo(dm);
    dm.DataModuleCreate(location);
    window.show();
    QApplication::setActiveWindow(&window);
    QApplication::processEvents();
    std::vector<RegisteredPerson> people = duplicates::everyone(dm.cnQuaz.engine());
    std::vector<qint64> clicks, checks;
    qint64 firstClick = 0;
    for (int i = 0; i < 40; ++i) {
        const RegisteredPerson& p = people[size_t(i) * people.size() / 40];
        // Half the people as registered (a likely duplicate), half new.
        const QString surname = i % 2 ? p.surname : QStringLiteral("Nuovo%1").arg(i);
        const QString name = p.name;
        const QDate birth = p.birth.isValid() ? p.birth : QDate(1980, 5, 12);
        window.btnNewAnag->click();
        DataSet& m = dm.TBL_ANAGRAFICA;
        m.setFieldValue(QStringLiteral("COGNOME"), Value::text(surname));
        m.setFieldValue(QStringLiteral("NOME"), Value::text(name));
        m.setFieldValue(QStringLiteral("SESSO"), Value::text(QStringLiteral("F")));
        m.setFieldValue(QStringLiteral("DATA_NASCITA"), Value::date(birth));
        m.setFieldValue(QStringLiteral("NAZIONE_NASCITA"), Value::text(QStringLiteral("Ucraina")));
        m.setFieldValue(QStringLiteral("CITTADINANZA"), Value::text(QStringLiteral("Ucraina")));
        m.setFieldValue(QStringLiteral("GRADO_PARENTELA"), Value::text(QStringLiteral("Coniuge")));
        m.setFieldValue(QStringLiteral("DATA_INGRESSO"), Value::date(QDate(2022, 3, 1)));
        m.setFieldValue(QStringLiteral("FRONTIERA"), Value::text(QStringLiteral("POLONIA")));
        QApplication::processEvents();
        const int shownBefore = back.shown;
        QElapsedTimer t;
        t.start();
        QTest::mouseClick(window.btnSaveAnag, Qt::LeftButton);
        QApplication::processEvents();
        clicks.push_back(t.nsecsElapsed());
        if (i == 0)
            firstClick = clicks.back();
        if (i % 2 && back.shown == shownBefore)
            out << QStringLiteral("  (nessun avviso per %1 %2?)\n").arg(surname, name);
        if (m.isEditing())
            m.cancel();
        t.restart();
        duplicates::find(dm.cnQuaz.engine(), surname, name, birth);
        checks.push_back(t.nsecsElapsed());
    }
    DuplicateReview::setInstance(nullptr);
    std::sort(clicks.begin(), clicks.end());
    std::sort(checks.begin(), checks.end());
    out << QStringLiteral(
               "  \"Salva\" di un componente: %1 avvisi su %2; mediana %3 ms; il "
               "controllo da solo: mediana %4 ms, il più lento %5 ms\n")
               .arg(back.shown)
               .arg(clicks.size())
               .arg(ms(clicks[clicks.size() / 2]), 0, 'f', 1)
               .arg(ms(checks[checks.size() / 2]), 0, 'f', 1)
               .arg(ms(checks.back()), 0, 'f', 1);
    // The target is the check's; the whole click also stores the member (or
    // shows the warning) and is given with it.
    out << QStringLiteral(
               "  \"Salva\" intero, il più lento: %1 ms (il primo della sessione: %2 ms)\n")
               .arg(ms(clicks.back()), 0, 'f', 1)
               .arg(ms(firstClick), 0, 'f', 1);
    targets.report(QStringLiteral("Controllo dei doppioni a \"Salva\" su %1 componenti (il più "
                                  "lento)")
                       .arg(people.size()),
                   ms(checks.back()), QStringLiteral("ms"), 20, 1);
    return targets.finish();
}
