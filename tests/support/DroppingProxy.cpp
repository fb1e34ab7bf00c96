#include "support/DroppingProxy.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QStringList>
#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "data/sql/ServerAddress.h"

namespace marvesa::test {

namespace {

quint32 bigEndian32(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return (quint32(u[0]) << 24) | (quint32(u[1]) << 16) | (quint32(u[2]) << 8) | quint32(u[3]);
}

bool writeAll(int fd, const char* data, qsizetype size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size_t(size), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

int unixSocket(const QByteArray& path, bool listen) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(path.size()) >= sizeof(address.sun_path)) {
        ::close(fd);
        return -1;
    }
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const auto* a = reinterpret_cast<const sockaddr*>(&address);
    const bool ok = listen ? ::bind(fd, a, sizeof(address)) == 0 && ::listen(fd, 64) == 0
                           : ::connect(fd, a, sizeof(address)) == 0;
    if (!ok) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

struct DroppingProxy::Link {
    int client = -1;
    int server = -1;
    bool startupDone = false;
    QByteArray fromClient;  // bytes of a message not yet complete
    bool armed = false;     // the marker was seen; `remaining` statements to go
    int remaining = 0;
    Cut cut = Cut::AfterAnswer;
    bool cutOnAnswer = false;
    QByteArray answer;  // held back once cutOnAnswer
    bool closed = false;
};

DroppingProxy::DroppingProxy(const QString& connection) {
    const ServerAddress address(connection);
    const QString port = address.value(QStringLiteral("port")).isEmpty()
                             ? QStringLiteral("5432")
                             : address.value(QStringLiteral("port"));
    m_upstream =
        (address.value(QStringLiteral("host")) + QStringLiteral("/.s.PGSQL.") + port).toLocal8Bit();
    QStringList parts;
    for (const auto& kv : address.values()) {
        const QString value = kv.first == QLatin1String("host") ? m_dir.path() : QString(kv.second);
        parts << kv.first + QStringLiteral("='") + value + QLatin1Char('\'');
    }
    m_connection = parts.join(QLatin1Char(' '));
    m_listener =
        unixSocket((m_dir.path() + QStringLiteral("/.s.PGSQL.") + port).toLocal8Bit(), true);
    if (m_listener < 0 || ::pipe(m_wake) != 0)
        throw std::runtime_error("the proxy cannot listen");
    m_thread = std::thread([this] { run(); });
}

DroppingProxy::~DroppingProxy() {
    m_stop = true;
    const char c = 0;
    if (::write(m_wake[1], &c, 1) < 0) {
        // The thread sees m_stop at its next wake anyway.
    }
    m_thread.join();
    ::close(m_listener);
    ::close(m_wake[0]);
    ::close(m_wake[1]);
}

void DroppingProxy::cutAt(const QByteArray& marker, Cut cut, int after) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_marker = marker;
    m_cut = cut;
    m_after = after;
}

void DroppingProxy::cutAll() {
    m_cutAll = true;
    const char c = 0;
    if (::write(m_wake[1], &c, 1) < 0) {
        // Seen at the next wake.
    }
    // Done when the thread has closed them.
    while (m_cutAll.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool DroppingProxy::relay(Link& link, bool fromClient) {
    char buffer[65536];
    const int from = fromClient ? link.client : link.server;
    const ssize_t n = ::recv(from, buffer, sizeof(buffer), 0);
    if (n <= 0)
        return false;
    if (!fromClient) {
        if (!link.cutOnAnswer)
            return writeAll(link.client, buffer, n);
        // Held back until the server has answered in full (ReadyForQuery):
        // then the connection is cut with nothing of the answer delivered.
        link.answer.append(buffer, n);
        qsizetype at = 0;
        while (link.answer.size() - at >= 5) {
            const quint32 length = bigEndian32(link.answer.constData() + at + 1);
            if (link.answer.size() - at < qsizetype(length) + 1)
                break;
            if (link.answer.at(at) == 'Z') {
                ++m_cuts;
                return false;
            }
            at += qsizetype(length) + 1;
        }
        return true;
    }
    link.fromClient.append(buffer, n);
    for (;;) {
        QByteArray& in = link.fromClient;
        if (!link.startupDone) {
            if (in.size() < 8)
                return true;
            const quint32 length = bigEndian32(in.constData());
            if (in.size() < qsizetype(length))
                return true;
            const quint32 code = bigEndian32(in.constData() + 4);
            // An encryption request is answered and followed by the real
            // startup message.
            link.startupDone = code != 80877103 && code != 80877104;
            if (!writeAll(link.server, in.constData(), qsizetype(length)))
                return false;
            in.remove(0, qsizetype(length));
            continue;
        }
        if (in.size() < 5)
            return true;
        const quint32 length = bigEndian32(in.constData() + 1);
        if (in.size() < qsizetype(length) + 1)
            return true;
        const QByteArray message = in.left(qsizetype(length) + 1);
        in.remove(0, message.size());
        // Every statement of the program travels as a simple query.
        if (message.at(0) == 'Q') {
            if (!link.armed) {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (!m_marker.isEmpty() && message.contains(m_marker)) {
                    link.armed = true;
                    link.remaining = m_after;
                    link.cut = m_cut;
                    m_marker.clear();
                }
            }
            if (link.armed) {
                if (link.remaining > 0) {
                    --link.remaining;
                } else {
                    link.armed = false;
                    if (link.cut == Cut::BeforeStatement) {
                        ++m_cuts;
                        return false;
                    }
                    link.cutOnAnswer = true;
                }
            }
        }
        if (!writeAll(link.server, message.constData(), message.size()))
            return false;
    }
}

void DroppingProxy::run() {
    std::vector<std::unique_ptr<Link>> owned;
    const auto close = [](Link& l) {
        if (l.closed)
            return;
        l.closed = true;
        ::shutdown(l.client, SHUT_RDWR);
        ::close(l.client);
        ::close(l.server);
    };
    while (!m_stop) {
        if (m_cutAll) {
            for (auto& l : owned) {
                if (!l->closed)
                    ++m_cuts;
                close(*l);
            }
            m_cutAll = false;
        }
        std::vector<pollfd> fds{{m_listener, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        std::vector<std::pair<Link*, bool>> who{{nullptr, false}, {nullptr, false}};
        for (auto& l : owned) {
            if (l->closed)
                continue;
            fds.push_back({l->client, POLLIN, 0});
            who.push_back({l.get(), true});
            fds.push_back({l->server, POLLIN, 0});
            who.push_back({l.get(), false});
        }
        if (::poll(fds.data(), nfds_t(fds.size()), 1000) <= 0)
            continue;
        if (fds[1].revents & POLLIN) {
            char drain[64];
            if (::read(m_wake[0], drain, sizeof(drain)) < 0) {
                // Nothing to do: the flags say why it woke.
            }
        }
        if (fds[0].revents & POLLIN) {
            const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                const int server = unixSocket(m_upstream, false);
                if (server < 0) {
                    ::close(client);
                } else {
                    auto l = std::make_unique<Link>();
                    l->client = client;
                    l->server = server;
                    owned.push_back(std::move(l));
                }
            }
        }
        for (size_t i = 2; i < fds.size(); ++i) {
            Link* l = who[i].first;
            if (l->closed || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            if (!relay(*l, who[i].second))
                close(*l);
        }
    }
    for (auto& l : owned)
        close(*l);
}

}  // namespace marvesa::test
