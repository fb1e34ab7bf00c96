// The server stopped at once and started again at random moments under a
// stream of "Salva" from two data modules: every row the clerk was told is
// stored is stored exactly once, a row given up after an error at most once,
// none twice. A short stream; bench_savestream runs the full one. Alone, as
// it stops the test server.

#include <QtTest>

#include "support/SaveStream.h"
#include "support/TestEngine.h"

using namespace marvesa::test;

class TstSaveStream : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(onServer()); }

    void everyRowStoredOnceWhileTheServerComesAndGoes() {
        const quint32 seed = quint32(QDateTime::currentMSecsSinceEpoch());
        const SaveStreamFigures f = runSaveStream(60, seed);
        qInfo(
            "seed %u: %d saves, %d attempts, %d errors shown, %d abandoned, %d outages, "
            "%.1f s",
            seed, f.saves, f.attempts, f.failures, f.abandoned, f.outages, f.seconds);
        QVERIFY2(f.problems.isEmpty(), qPrintable(f.problems.join(QLatin1Char('\n'))));
        QCOMPARE(f.saves, 60);
        QCOMPARE(f.doubled, 0);
        QCOMPARE(f.storedOnce, f.toldStored);
        QCOMPARE(f.toldStored + f.abandoned, f.saves);
        // The server really went away under the stream.
        QVERIFY(f.outages >= 1);
        QVERIFY(f.failures >= 1);
    }
};

QTEST_GUILESS_MAIN(TstSaveStream)
#include "tst_savestream.moc"
