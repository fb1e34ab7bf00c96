// bench_startup: how long the clerk waits from starting the program to the
// window shown, and the memory that takes, on a large registry whose staging
// table still holds the rows of an earlier export of every member.
//
//   bench_startup [--families N] [--members M] [--runs R] [--keep DIR]
//
// Without --families and --members, two registries: 30,000 family units with
// 100,000 members (targets: under 0.8 s, under 100 MB) and 90,000 with
// 300,000 (under 1.2 s, under 150 MB). Each run starts this program again as
// a process of its own, which does what the program's main() does (the
// application, the program's start-up: the window, the data module opening
// the database, the window shown) and says when the window is exposed, with
// its peak resident memory; the clock runs in this process from just before
// the new process is started until that line arrives. The median of the
// runs is reported, and the highest peak.
//
// The platform is the one QT_QPA_PLATFORM names (offscreen when unset): run
// it under an X server (xvfb-run) to include what showing a real window
// costs.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QWindow>
#include <algorithm>
#include <vector>

#include "BenchDialogs.h"
#include "BenchSupport.h"
#include "app/Application.h"
#include "app/Program.h"
#include "data/schema/FileDatabase.h"
#include "ui/services/Dialogs.h"
#include "ui/window/MainWindow.h"

using namespace marvesa;
using namespace marvesa::bench;

namespace {

const char* const kShown = "MOSTRATA";

// The measured process: the program's start-up on `database`, then one line
// once the window is exposed: kShown and the peak memory in kB.
int startProgram(int argc, char* argv[], const QString& database) {
    Application app(argc, argv);
    PrintedDialogs dialogs;
    Dialogs::setInstance(&dialogs);
    Program program;
    program.start(database);
    QWidget* shown = program.window()->window();
    QElapsedTimer waited;
    waited.start();
    while (!(shown->windowHandle() && shown->windowHandle()->isExposed()) &&
           waited.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    QCoreApplication::processEvents();
    QTextStream(stdout) << kShown << ' ' << peakMemoryKb() << Qt::endl;
    Dialogs::setInstance(nullptr);
    return 0;
}

struct Registry {
    int families;
    int members;
    double targetMs;
    double targetMb;
};

void measure(const QString& program, const QString& folder, const Registry& r, int runs,
             Targets& targets, QTextStream& out) {
    const QString path = QDir(folder).filePath(QStringLiteral("avvio-%1.mdb").arg(r.families));
    QFile::remove(path);
    QElapsedTimer setup;
    setup.start();
    schema::createDatabase(path);
    populate(path, r.families, r.members, true);
    out << QStringLiteral(
               "Database di prova: %1 nuclei, %2 familiari, %2 righe in TBL_EXPORT "
               "(preparato in %3 s)\n")
               .arg(r.families)
               .arg(r.members)
               .arg(setup.elapsed() / 1000.0, 0, 'f', 1);
    out.flush();
    std::vector<double> times;
    double peakMb = 0;
    for (int i = 0; i < runs; ++i) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QElapsedTimer clock;
        clock.start();
        child.start(program, {QStringLiteral("--avvio"), path});
        QByteArray line;
        while (!line.contains('\n') && child.waitForReadyRead(30000))
            line += child.readAll();
        const double elapsed = ms(clock.nsecsElapsed());
        child.waitForFinished(30000);
        const QList<QByteArray> words = line.trimmed().split(' ');
        if (words.value(0) != kShown) {
            throw Error(QStringLiteral("il programma non ha mostrato la finestra: %1")
                            .arg(QString::fromUtf8(line)));
        }
        const double mb = words.value(1).toLong() / 1024.0;
        out << QStringLiteral("  avvio %1: finestra mostrata dopo %2 ms, memoria massima %3 MB\n")
                   .arg(i + 1)
                   .arg(elapsed, 0, 'f', 0)
                   .arg(mb, 0, 'f', 1);
        out.flush();
        times.push_back(elapsed);
        peakMb = std::max(peakMb, mb);
    }
    targets.report(
        QStringLiteral("%1 nuclei: dall'avvio alla finestra mostrata (mediana)").arg(r.families),
        median(times), QStringLiteral("ms"), r.targetMs);
    targets.report(QStringLiteral("%1 nuclei: memoria massima").arg(r.families), peakMb,
                   QStringLiteral("MB"), r.targetMb, 1);
}

int run(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    int families = 0, members = 0, runs = 5;
    QString keep;
    const QStringList args = app.arguments();
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
            QTextStream(stderr) << "Uso: bench_startup [--families N --members M] [--runs R] "
                                   "[--keep CARTELLA]\n";
            return 2;
        }
    }
    std::vector<Registry> registries{{30000, 100000, 800, 100}, {90000, 300000, 1200, 150}};
    if (families > 0)
        registries = {{families, members, 1e9, 1e9}};
    QTemporaryDir temp;
    const QString folder = keep.isEmpty() ? temp.path() : keep;
    QDir().mkpath(folder);
    out << QStringLiteral("Piattaforma: %1\n")
               .arg(qEnvironmentVariable("QT_QPA_PLATFORM", QStringLiteral("predefinita")));
    Targets targets(out);
    for (const Registry& r : registries)
        measure(app.applicationFilePath(), folder, r, runs, targets, out);
    return targets.finish();
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 3 && qstrcmp(argv[1], "--avvio") == 0)
        return startProgram(argc, argv, QString::fromLocal8Bit(argv[2]));
    try {
        return run(argc, argv);
    } catch (const Error& e) {
        QTextStream(stderr) << "bench_startup: " << e.message() << "\n";
        return 1;
    }
}
