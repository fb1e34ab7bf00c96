#pragma once

#include <QString>
#include <exception>

namespace marvesa {

class Error;

// The text the top-level handler shows for an error: the message of the
// innermost error whose message is not empty, with "." appended when its
// last character's code is above U+002E ("."). An empty message stays empty.
QString errorBoxText(const Error& error);
QString errorBoxText(const QString& message);

// The application's top-level handler: shows an error that ended a command
// (error icon, one OK button, the application title) and returns. Nothing
// is undone; the program goes on with the state that was reached. An Abort
// is shown by nobody.
void handleApplicationError(const std::exception& error);

// Counts the commands and handlers of the window running now, nested ones
// included, for work that arrives from the event loop and must not act in
// the middle of one (a message box a command shows runs the event loop).
class RunningCommand {
public:
    RunningCommand() { ++s_depth; }
    ~RunningCommand() { --s_depth; }
    RunningCommand(const RunningCommand&) = delete;
    RunningCommand& operator=(const RunningCommand&) = delete;
    static bool any() { return s_depth > 0; }

private:
    static inline int s_depth = 0;
};

// Runs a command or an event handler of the window, showing through the
// top-level handler any error that escapes it. Returns false when one did.
// Errors are shown here, at the program's own boundary, rather than left to
// unwind through the toolkit's event delivery.
template <typename Fn>
bool runGuarded(Fn&& fn) {
    const RunningCommand running;
    try {
        fn();
        return true;
    } catch (const std::exception& e) {
        handleApplicationError(e);
        return false;
    }
}

}  // namespace marvesa
