#pragma once

// A stream of "Salva" from two data modules on one server database while the
// server is stopped at once (pg_ctl stop -m immediate) and started again at
// random moments; what each clerk was told is then checked against what the
// database holds. The suite runs a short stream (tst_savestream), the
// benchmark the full one (bench_savestream).

#include <QString>
#include <QStringList>

namespace marvesa::test {

struct SaveStreamFigures {
    int saves = 0;             // "Salva" asked for (new family units, new members, changes)
    int attempts = 0;          // "Salva" pressed, retries included
    int failures = 0;          // of which the clerk was shown an error
    int abandoned = 0;         // rows given up after an error ("Annulla")
    int outages = 0;           // times the server was stopped and started
    int toldStored = 0;        // rows the clerk was told are stored
    int storedOnce = 0;        // of which the database holds exactly once
    int doubled = 0;           // rows held more than once (must be 0)
    int abandonedKept = 0;     // abandoned rows the server had stored before the break
    double seconds = 0;        // the whole stream
    double longestSaveMs = 0;  // the longest single "Salva" that succeeded
    QStringList problems;      // what went wrong, for the report
};

// Runs `saves` "Salva" alternately from two data modules on a new database
// of the test server, with `seed` for the random moments. The server is
// controlled through MARVESA_TEST_PG_CTL (and MARVESA_TEST_PG_OWNER).
SaveStreamFigures runSaveStream(int saves, quint32 seed);

// Stops ("stop", immediately) or starts ("start") the test server; false,
// with the reason in `error`, when pg_ctl fails.
bool controlTestServer(const QString& action, QString* error = nullptr);

}  // namespace marvesa::test
