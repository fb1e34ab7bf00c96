#pragma once

// Which database engine a test program runs on. A test registered for the
// server (CTest name ending in "_pg") runs with MARVESA_TEST_ENGINE=postgresql
// and works on the PostgreSQL server that scripts/test.sh starts and names in
// MARVESA_TEST_PG ("host=<socket folder> port=<port> user=marvesa"); every
// other test works on database files. A server test without a server fails
// at once: it never passes without having run.

#include <QString>

namespace marvesa::test {

// Whether this test program runs on the server.
bool onServer();

// The test server's connection string (MARVESA_TEST_PG); ends the program
// with a message saying so when none is named.
QString serverAddress();

}  // namespace marvesa::test
