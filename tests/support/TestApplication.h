#pragma once

#include <QtTest>

#include "app/Application.h"

namespace marvesa::test {

// The window tests run under the program's own application object, so an
// error that escapes an event handler reaches the same top-level handler.
using TestApplication = marvesa::Application;

}  // namespace marvesa::test

// Runs a test object under the program's application object.
#define MARVESA_TEST_MAIN(TestObject)                   \
    int main(int argc, char** argv) {                   \
        marvesa::test::TestApplication app(argc, argv); \
        TestObject tc;                                  \
        return QTest::qExec(&tc, argc, argv);           \
    }
