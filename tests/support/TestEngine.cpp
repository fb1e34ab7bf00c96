#include "support/TestEngine.h"

#include <QCoreApplication>

namespace marvesa::test {

namespace {

bool readEngine() {
    const QString engine = qEnvironmentVariable("MARVESA_TEST_ENGINE");
    if (engine.isEmpty())
        return false;
    if (engine == QLatin1String("postgresql"))
        return true;
    qFatal(
        "MARVESA_TEST_ENGINE names \"%s\": the tests know only \"postgresql\" (the server) "
        "and no value (database files).",
        qPrintable(engine));
}

// A server test checks for its server as soon as the program starts, before
// any test function has run.
void checkServerNamed() {
    if (onServer())
        serverAddress();
}
Q_COREAPP_STARTUP_FUNCTION(checkServerNamed)

}  // namespace

bool onServer() {
    static const bool server = readEngine();
    return server;
}

QString serverAddress() {
    const QString address = qEnvironmentVariable("MARVESA_TEST_PG");
    if (address.isEmpty()) {
        qFatal(
            "This test runs on the PostgreSQL server, but MARVESA_TEST_PG names none. "
            "Run the suite with scripts/test.sh, which starts a server of its own.");
    }
    return address;
}

}  // namespace marvesa::test
