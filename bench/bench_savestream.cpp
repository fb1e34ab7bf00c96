// bench_savestream: "Salva" from two data modules while the server is
// stopped at once (pg_ctl stop -m immediate) and started again at random
// moments, the full stream of the acceptance (500 by default).
//
//   bench_savestream [--saves N] [--seed S]
//
// Runs on the test server of scripts/test-server.sh, named as for the tests
// by MARVESA_TEST_PG, MARVESA_TEST_PG_CTL and MARVESA_TEST_PG_OWNER (it stops
// and starts that server). Prints how many "Salva" were pressed, how many
// errors the clerks were shown, how often the server went away, the rows
// told stored and how many of them the database holds exactly once, the
// rows given up and how many of those the server had stored, and the time;
// the exit status is 1 when a row is held twice or a row told stored is not
// held exactly once.

#include <QCoreApplication>
#include <QDateTime>
#include <QTextStream>

#include "support/SaveStream.h"

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    int saves = 500;
    quint32 seed = quint32(QDateTime::currentMSecsSinceEpoch());
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args.at(i) == QLatin1String("--saves"))
            saves = args.at(i + 1).toInt();
        else if (args.at(i) == QLatin1String("--seed"))
            seed = args.at(i + 1).toUInt();
    }
    QTextStream out(stdout);
    out << "Stream of " << saves << " \"Salva\" from two data modules, seed " << seed << "\n";
    out.flush();
    const marvesa::test::SaveStreamFigures f = marvesa::test::runSaveStream(saves, seed);
    out << "  \"Salva\" asked for:                 " << f.saves << "\n"
        << "  \"Salva\" pressed (retries included): " << f.attempts << "\n"
        << "  errors shown to the clerks:        " << f.failures << "\n"
        << "  server stopped and started:        " << f.outages << " times\n"
        << "  rows told stored:                  " << f.toldStored << "\n"
        << "    held exactly once:               " << f.storedOnce << "\n"
        << "  rows given up after an error:      " << f.abandoned << "\n"
        << "    of which the server had stored:  " << f.abandonedKept << "\n"
        << "  rows held twice:                   " << f.doubled << " (target 0)\n"
        << "  longest successful \"Salva\":        " << QString::number(f.longestSaveMs, 'f', 0)
        << " ms\n"
        << "  whole stream:                      " << QString::number(f.seconds, 'f', 1) << " s\n";
    for (const QString& p : f.problems)
        out << "  problem: " << p << "\n";
    const bool ok = f.doubled == 0 && f.storedOnce == f.toldStored && f.problems.isEmpty();
    out << (ok ? "OK\n" : "FAILED\n");
    return ok ? 0 : 1;
}
