#pragma once

#include <QApplication>
#include <exception>

#include "ui/ErrorReport.h"

namespace marvesa::test {

// The application object of the window tests. Like the program's own, it
// shows an error that escapes an event handler through the top-level
// handler (Dialogs::error, the innermost message with "." appended when its
// last character is above U+002E) instead of letting it end the test.
class TestApplication : public QApplication {
public:
    TestApplication(int& argc, char** argv) : QApplication(argc, argv) {}

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            handleApplicationError(e);
        }
        return false;
    }
};

}  // namespace marvesa::test

// Runs a test object under TestApplication.
#define MARVESA_TEST_MAIN(TestObject)                          \
    int main(int argc, char** argv) {                          \
        marvesa::test::TestApplication app(argc, argv);        \
        TestObject tc;                                         \
        return QTest::qExec(&tc, argc, argv);                  \
    }
