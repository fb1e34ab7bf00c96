// bench_backup: the day's copy of a large database file, and another desk's
// "Salva" while it is made.
//
//   bench_backup [--families N] [--members M] [--runs R] [--keep DIR]
//
// Defaults: 30000 family units, 100000 members, with the 100,000 rows an
// earlier export left in the staging table (as a registry in use holds
// them), 3 runs. Each run makes the copy the program makes when it closes
// (the whole of it: the copy, its integrity check, the rotation), on a
// thread of its own with its own connection, as another copy of the
// program that is closing. Meanwhile the real main window (offscreen), on
// its own data module on the same file, changes the telephone of a family
// unit and clicks "Salva" again and again; each click is timed until "Salva"
// returns. First the same clicks with no copy being made, for comparison.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "BenchDialogs.h"
#include "BenchSupport.h"
#include "data/registry/DataModule.h"
#include "data/schema/FileBackup.h"
#include "data/schema/FileDatabase.h"
#include "data/sql/SqliteEngine.h"
#include "ui/services/Dialogs.h"
#include "ui/window/MainWindow.h"

using namespace marvesa;
using namespace marvesa::bench;

namespace {

double maximum(const std::vector<double>& v) {
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

void click(QWidget* w) {
    QTest::mouseClick(w, Qt::LeftButton);
}

// One "Salva" of a changed family unit, clicked in the window: the time
// from the click until "Salva" returns, in ms.
double saveOnce(TfrmMain& window, TdmMarvesa& dm, QRandomGenerator& rng, int families, int i) {
    dm.TBL_NUCLEO.moveTo(int(rng.bounded(families - 1)));
    click(window.btnEditNucleo);
    window.dbeTelefono->setFocus();
    QTest::keyClicks(window.dbeTelefono, QStringLiteral(" %1").arg(i % 10));
    QElapsedTimer timer;
    timer.start();
    click(window.btnSaveNucleo);
    return ms(timer.nsecsElapsed());
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTextStream out(stdout);
    int families = 30000, members = 100000, runs = 3;
    QString keep;
    const Options options(app.arguments());
    families = options.number("--families", families);
    members = options.number("--members", members);
    runs = options.number("--runs", runs);
    keep = options.text("--keep", keep);
    if (families < 2 || members < 0 || runs < 1) {
        QTextStream(stderr)
            << "Uso: bench_backup [--families N] [--members M] [--runs R] [--keep DIR]\n";
        return 2;
    }
    Targets targets(out);
    PrintedDialogs dialogs;
    Dialogs::setInstance(&dialogs);
    try {
        QTemporaryDir temp;
        const QString dir = keep.isEmpty() ? temp.path() : keep;
        QDir().mkpath(QDir(dir).filePath(QStringLiteral("dB")));
        const QString path = QDir(dir).filePath(QStringLiteral("dB/dbQuaz.mdb"));
        QFile::remove(path);
        QDir(schema::backupFolder(path)).removeRecursively();
        schema::createDatabase(path);
        populate(path, families, members, true);
        out << QStringLiteral("Database di prova: %1 nuclei, %2 familiari, %3 MB\n")
                   .arg(families)
                   .arg(members)
                   .arg(QFileInfo(path).size() / 1e6, 0, 'f', 1);
        {
            SqliteEngine engine(path);
            engine.connect();
            out << QStringLiteral("Metodo di copia: %1\n")
                       .arg(engine.copyMethod() == SqliteEngine::CopyMethod::OnlineBackup
                                ? QStringLiteral("backup in linea di SQLite")
                                : QStringLiteral("VACUUM INTO"));
        }

        // The other desk: the window, in the program's start-up order.
        TfrmMain window;
        TdmMarvesa dm;
        window.bindTo(dm);
        dm.DataModuleCreate(path);
        window.show();
        QRandomGenerator rng(18);
        int saves = 0;

        std::vector<double> alone;
        for (int i = 0; i < 40; ++i)
            alone.push_back(saveOnce(window, dm, rng, families, saves++));
        out << QStringLiteral("\"Salva\" senza copia in corso: mediana %1 ms, massimo %2 ms\n")
                   .arg(median(alone), 0, 'f', 1)
                   .arg(maximum(alone), 0, 'f', 1);

        std::vector<double> copies, during;
        const QDateTime first = QDateTime::currentDateTime();
        for (int r = 0; r < runs; ++r) {
            std::atomic<bool> done{false};
            double copyMs = 0;
            QString failure;
            QString made;
            std::thread closing([&] {
                QElapsedTimer timer;
                timer.start();
                try {
                    // A day of its own for each run: one copy a day.
                    made = schema::makeDailyBackup(path, first.addDays(r), {}).made;
                } catch (const std::exception& e) {
                    failure = QString::fromUtf8(e.what());
                }
                copyMs = ms(timer.nsecsElapsed());
                done = true;
            });
            int clicked = 0;
            while (!done) {
                during.push_back(saveOnce(window, dm, rng, families, saves++));
                ++clicked;
            }
            closing.join();
            if (!failure.isEmpty())
                throw Error(failure);
            copies.push_back(copyMs);
            out << QStringLiteral("Copia %1: %2 ms (%3 MB), %4 \"Salva\" nel frattempo\n")
                       .arg(r + 1)
                       .arg(copyMs, 0, 'f', 0)
                       .arg(QFileInfo(made).size() / 1e6, 0, 'f', 1)
                       .arg(clicked);
        }
        if (dialogs.shown > 0)
            throw Error(QStringLiteral("\"Salva\" ha mostrato un messaggio"));
        const auto over = std::count_if(during.begin(), during.end(),
                                        [](double waited) { return waited >= 100; });
        out << QStringLiteral(
                   "\"Salva\" durante le copie: %1 clic, mediana %2 ms, %3 oltre "
                   "100 ms\n")
                   .arg(during.size())
                   .arg(median(during), 0, 'f', 1)
                   .arg(over);
        targets.report(QStringLiteral("Copia di sicurezza alla chiusura, la più lenta"),
                       maximum(copies), QStringLiteral("ms"), 2000);
        targets.report(QStringLiteral("Attesa di \"Salva\" durante la copia, la più lunga"),
                       maximum(during), QStringLiteral("ms"), 100, 1);
    } catch (const std::exception& e) {
        QTextStream(stderr) << "Errore: " << e.what() << '\n';
        return 1;
    }
    return targets.finish();
}
