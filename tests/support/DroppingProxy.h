#pragma once

// A go-between for the connections of a test to the PostgreSQL test server
// that can cut a connection at a chosen moment, as a failing network or a
// server that goes away would: before a statement reaches the server (it is
// not done), or after the server has done it and before its answer reaches
// the program (it is done, and the program cannot know). The program
// connects to the proxy's socket folder as to the server's; the proxy relays
// every byte both ways on a thread of its own.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <atomic>
#include <mutex>
#include <thread>

namespace marvesa::test {

class DroppingProxy {
public:
    // Relays to the server that `connection` (a libpq keyword=value string
    // with host = a socket folder and port) names.
    explicit DroppingProxy(const QString& connection);
    ~DroppingProxy();
    DroppingProxy(const DroppingProxy&) = delete;
    DroppingProxy& operator=(const DroppingProxy&) = delete;

    // `connection` with the proxy in place of the server.
    const QString& connection() const { return m_connection; }

    enum class Cut {
        BeforeStatement,  // the statement never reaches the server
        AfterAnswer,      // the server answers it in full; nothing reaches the program
    };
    // Cuts the connection at the statement that is `after` statements after
    // the next one whose text holds `marker` (0: that one itself). Once.
    void cutAt(const QByteArray& marker, Cut cut, int after = 0);
    // Cuts every connection open now.
    void cutAll();
    // How many cuts were made so far.
    int cuts() const { return m_cuts.load(); }

private:
    struct Link;
    friend struct Link;
    void run();
    bool relay(Link& link, bool fromClient);

    QTemporaryDir m_dir;
    QString m_connection;
    QByteArray m_upstream;  // the server's socket file
    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_cuts{0};
    std::atomic<bool> m_cutAll{false};

    std::mutex m_mutex;  // guards the plan
    QByteArray m_marker;
    Cut m_cut = Cut::AfterAnswer;
    int m_after = 0;
};

}  // namespace marvesa::test
