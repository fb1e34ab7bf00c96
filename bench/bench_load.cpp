// bench_load: many desks on one registry, each storing, changing and
// deleting at a steady rate, and how soon and at what cost every other desk
// shows it.
//
//   bench_load [--desks N] [--server CONNECTION] [--families F] [--members M]
//              [--seconds S] [--interval MS] [--window] [--keep DIR]
//
// Defaults: 8 desks on one database file (20 with --server), 30,000 family
// units and 100,000 members, 180 seconds, one change per desk every 2,000 ms.
//
// Each desk is two processes of its own, each with its own data module on
// the database: its clerk, who stores a change every MS milliseconds (in
// turn: a new family unit, its description changed, a member added to a
// family unit every desk shows, that member changed, deleted, the family
// unit deleted with "Elimina"), and its screen, which stands on that shared
// family unit and only follows what the other desks do (the real window on
// the offscreen platform with --window, otherwise the data module alone).
// Keeping them apart lets the screen's processor time be what following the
// others costs; the screen also follows its own clerk, as one more desk.
// The clerks write each change, with the moment its commit returned, to a
// log the screens read; a screen notes when each change of another desk
// first shows in its tables.
//
// Reported: for every change, how long until every other desk showed it
// (median, 99th percentile, worst), the same for each desk and change, the
// changes never shown; the processor time of a screen per change (what it
// spent beyond its own bookkeeping for this benchmark, divided by the
// changes of the run); rows lost, left over, doubled or with other values
// at each screen once the run is over, compared with the database; and the
// server's own load (processor time of its processes, rows it read). With
// --server, CONNECTION names a server database on which the benchmark makes
// its own database "marvesa_bench_load" (dropped first when it exists).

#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <deque>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "BenchDialogs.h"
#include "BenchSupport.h"
#include "data/registry/DataModule.h"
#include "data/schema/FileDatabase.h"
#include "data/schema/ServerCopy.h"
#include "ui/services/Dialogs.h"
#include "ui/window/Commands.h"
#include "ui/window/MainWindow.h"

using namespace marvesa;
using namespace marvesa::bench;

namespace {

// The family unit every screen stands on and every clerk adds members to.
constexpr qint64 kSharedFamily = 1;
// How long the screens go on after the clerks stop, for the last changes.
constexpr int kSettleMs = 5000;

qint64 nowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

void sleepUntil(qint64 us) {
    const qint64 wait = us - nowUs();
    if (wait > 0)
        QThread::usleep(quint64(wait));
}

qint64 idAt(const DataSet& t, int row, int column) {
    return qint64(t.valueAt(row, column).toDouble());
}

// The row of `t` holding counter `id`, found by looking at every row: for the
// clerk, whose own new rows stand where it inserted them.
int scanFor(const DataSet& t, const char* idColumn, qint64 id) {
    const int column = t.fieldByName(QString::fromLatin1(idColumn))->index();
    for (int row = 0; row < t.rowCount(); ++row) {
        if (idAt(t, row, column) == id)
            return row;
    }
    return -1;
}

// The same for a screen's family units, which never stores anything: its
// rows stand in counter order.
int searchFor(const DataSet& t, int column, qint64 id) {
    int lo = 0, hi = t.rowCount() - 1;
    while (lo <= hi) {
        const int mid = (lo + hi) / 2;
        const qint64 found = idAt(t, mid, column);
        if (found == id)
            return mid;
        if (found < id)
            lo = mid + 1;
        else
            hi = mid - 1;
    }
    return -1;
}

QString textAt(const DataSet& t, int row, int column) {
    const Value v = t.valueAt(row, column);
    return v.isNull() ? QString() : v.toText();
}

// Waits for the start: prints "PRONTO", reads the moment of the start (µs
// since the epoch) from the standard input.
qint64 readyAndWait() {
    QTextStream(stdout) << "PRONTO" << Qt::endl;
    std::string line;
    std::getline(std::cin, line);
    return std::stoll(line);
}

struct ChildOptions {
    int desk = 0;
    int desks = 1;
    QString location;
    QString log;
    int seconds = 180;
    int intervalMs = 2000;
    bool window = false;
};

// ------------------------------------------------------------------ clerk

class Clerk {
public:
    Clerk(TdmMarvesa& dm, const ChildOptions& o) : m_dm(dm), m_o(o), m_log(o.log) {
        if (!m_log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
            throw Error(QStringLiteral("registro %1 non scrivibile").arg(o.log));
    }

    void act() {
        DataSet& n = m_dm.TBL_NUCLEO;
        DataSet& m = m_dm.TBL_ANAGRAFICA;
        const QString name = QStringLiteral("L%1-%2").arg(m_o.desk).arg(m_round);
        try {
            switch (m_step % 6) {
                case 0:
                    n.insert();
                    n.setFieldValue(
                        QStringLiteral("CODICE_NUCLEO"),
                        Value::text(QStringLiteral("QXL%1N%2").arg(m_o.desk).arg(m_round)));
                    n.setFieldValue(QStringLiteral("DENOMINAZIONE"), Value::text(name));
                    n.post();
                    m_family = qint64(n.fieldValue(QStringLiteral("ID_NUCLEO")).toDouble());
                    write("FI", m_family, name);
                    break;
                case 1:
                    n.edit();
                    n.setFieldValue(QStringLiteral("DENOMINAZIONE"), Value::text(name + u'U'));
                    n.post();
                    write("FU", m_family, name + u'U');
                    break;
                case 2:
                    n.moveTo(scanFor(n, "ID_NUCLEO", kSharedFamily));
                    m.insert();
                    m.setFieldValue(QStringLiteral("COGNOME"),
                                    Value::text(QStringLiteral("CARICO")));
                    m.setFieldValue(QStringLiteral("NOME"), Value::text(name));
                    m.post();
                    m_member = qint64(m.fieldValue(QStringLiteral("ID_ANAGRAFICA")).toDouble());
                    write("MI", m_member, name);
                    break;
                case 3:
                    m.moveTo(scanFor(m, "ID_ANAGRAFICA", m_member));
                    m.edit();
                    m.setFieldValue(QStringLiteral("NOME"), Value::text(name + u'U'));
                    m.post();
                    write("MU", m_member, name + u'U');
                    break;
                case 4:
                    m.moveTo(scanFor(m, "ID_ANAGRAFICA", m_member));
                    m.remove();
                    write("MD", m_member, name);
                    break;
                case 5:
                    n.moveTo(scanFor(n, "ID_NUCLEO", m_family));
                    deleteFamilyUnitWithMembers(m_dm);
                    write("FD", m_family, name);
                    ++m_round;
                    break;
            }
        } catch (const std::exception& e) {
            ++m_errors;
            QTextStream(stderr) << "bench_load: postazione " << m_o.desk << ": " << e.what()
                                << '\n';
            n.cancel();
            m.cancel();
        }
        ++m_step;
    }

    int changes() const { return m_changes; }
    int errors() const { return m_errors; }

private:
    void write(const char* kind, qint64 id, const QString& marker) {
        const qint64 committed = nowUs();
        const QByteArray line = QStringLiteral("%1 %2 %3 %4 %5 %6\n")
                                    .arg(m_o.desk)
                                    .arg(m_changes++)
                                    .arg(QLatin1String(kind))
                                    .arg(id)
                                    .arg(committed)
                                    .arg(marker)
                                    .toUtf8();
        m_log.write(line);
    }

    TdmMarvesa& m_dm;
    const ChildOptions& m_o;
    QFile m_log;
    int m_step = 0;
    int m_round = 0;
    int m_changes = 0;
    int m_errors = 0;
    qint64 m_family = 0;
    qint64 m_member = 0;
};

int runClerk(int argc, char* argv[], const ChildOptions& o) {
    QCoreApplication app(argc, argv);
    PrintedDialogs dialogs;
    Dialogs::setInstance(&dialogs);
    TdmMarvesa dm;
    dm.DataModuleCreate(o.location);
    // The clerk only writes; what others do is followed by the screen.
    dm.otherDesks.stop();
    Clerk clerk(dm, o);
    const qint64 start = readyAndWait();
    const qint64 end = start + qint64(o.seconds) * 1000000;
    qint64 next = start + qint64(o.intervalMs) * 1000 * o.desk / o.desks;
    while (next < end) {
        sleepUntil(next);
        clerk.act();
        next += qint64(o.intervalMs) * 1000;
    }
    QTextStream(stdout) << "SCRIVANO " << clerk.changes() << ' ' << clerk.errors() << Qt::endl;
    Dialogs::setInstance(nullptr);
    return 0;
}

// ----------------------------------------------------------------- screen

// One change a clerk logged.
struct Change {
    int desk = 0;
    int seq = 0;
    QByteArray kind;
    qint64 id = 0;
    qint64 committedUs = 0;
    QString marker;
};

class Screen : public DataLink {
public:
    Screen(TdmMarvesa& dm, const ChildOptions& o) : m_dm(dm), m_o(o), m_log(o.log) {
        if (!m_log.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            throw Error(QStringLiteral("registro %1 non leggibile").arg(o.log));
        m_familyId = dm.TBL_NUCLEO.fieldByName(QStringLiteral("ID_NUCLEO"))->index();
        m_familyName = dm.TBL_NUCLEO.fieldByName(QStringLiteral("DENOMINAZIONE"))->index();
        m_memberId = dm.TBL_ANAGRAFICA.fieldByName(QStringLiteral("ID_ANAGRAFICA"))->index();
        m_memberName = dm.TBL_ANAGRAFICA.fieldByName(QStringLiteral("NOME"))->index();
        dm.dsNUCLEO.addLink(this);
        dm.dsANAGRAFICA.addLink(this);
    }
    ~Screen() override {
        m_dm.dsNUCLEO.removeLink(this);
        m_dm.dsANAGRAFICA.removeLink(this);
    }

    void dataEvent(DataEvent event, Field*) override {
        if (event != deDataSetChange && event != deDataSetScroll)
            return;
        const double cpu = threadCpuMs();
        m_events.push_back(nowUs());
        if (m_events.size() > 4096)
            m_events.pop_front();
        readLogAndCheck();
        m_ownMs += threadCpuMs() - cpu;
    }

    void poll() {
        const double cpu = threadCpuMs();
        readLogAndCheck();
        m_ownMs += threadCpuMs() - cpu;
    }

    // The results, one line each.
    void report(QTextStream& out, double totalCpuMs) {
        for (const auto& [desk, seq, latency] : m_shown)
            out << "V " << desk << ' ' << seq << ' ' << latency << '\n';
        int notShown = 0;
        for (const Change& c : m_pending) {
            if (c.desk != m_o.desk && measurable(c))
                ++notShown;
        }
        out << "NV " << notShown << '\n';
        out << "CPU " << (totalCpuMs - m_ownMs) << ' ' << m_seen << ' ' << m_ownMs << '\n';
        out << "MEM " << peakMemoryKb() << '\n';
        compare(out);
        out.flush();
    }

private:
    // A deletion shows only once the row was seen.
    bool measurable(const Change& c) const {
        if (c.kind == "FD")
            return m_familiesSeen.count(c.id) > 0;
        if (c.kind == "MD")
            return m_membersSeen.count(c.id) > 0;
        return true;
    }

    int familyRow(qint64 id) const { return searchFor(m_dm.TBL_NUCLEO, m_familyId, id); }
    int memberRow(qint64 id) const {
        const DataSet& m = m_dm.TBL_ANAGRAFICA;
        for (int row = 0; row < m.rowCount(); ++row) {
            if (idAt(m, row, m_memberId) == id)
                return row;
        }
        return -1;
    }

    bool shows(const Change& c) {
        const DataSet& n = m_dm.TBL_NUCLEO;
        const DataSet& m = m_dm.TBL_ANAGRAFICA;
        if (c.kind == "FI" || c.kind == "FU") {
            const int row = familyRow(c.id);
            if (row >= 0)
                m_familiesSeen.insert(c.id);
            return row >= 0 && (c.kind == "FI" || textAt(n, row, m_familyName) == c.marker);
        }
        if (c.kind == "FD")
            return m_familiesSeen.count(c.id) && familyRow(c.id) < 0;
        const int row = memberRow(c.id);
        if (c.kind == "MI" || c.kind == "MU") {
            if (row >= 0)
                m_membersSeen.insert(c.id);
            return row >= 0 && (c.kind == "MI" || textAt(m, row, m_memberName) == c.marker);
        }
        return m_membersSeen.count(c.id) && row < 0;
    }

    void readLogAndCheck() {
        m_buffer += m_log.readAll();
        int end;
        while ((end = m_buffer.indexOf('\n')) >= 0) {
            const QList<QByteArray> w = m_buffer.left(end).split(' ');
            m_buffer.remove(0, end + 1);
            if (w.size() < 6)
                continue;
            Change c{w[0].toInt(),      w[1].toInt(),      w[2],
                     w[3].toLongLong(), w[4].toLongLong(), QString::fromUtf8(w[5])};
            ++m_seen;
            // Found already shown: it showed at the first change of the
            // tables after its commit.
            if (shows(c)) {
                qint64 at = nowUs();
                const auto first =
                    std::lower_bound(m_events.begin(), m_events.end(), c.committedUs);
                if (first != m_events.end())
                    at = *first;
                record(c, at);
            } else {
                m_pending.push_back(c);
            }
        }
        const qint64 now = nowUs();
        for (auto it = m_pending.begin(); it != m_pending.end();) {
            if (shows(*it)) {
                record(*it, now);
                it = m_pending.erase(it);
            } else {
                ++it;
            }
        }
    }

    void record(const Change& c, qint64 at) {
        if (c.desk == m_o.desk)
            return;  // this desk's own clerk
        m_shown.push_back({c.desk, c.seq, std::max<qint64>(0, at - c.committedUs) / 1000.0});
    }

    // What the screen shows against what the database holds.
    void compare(QTextStream& out) {
        Engine& engine = m_dm.cnQuaz.engine();
        const auto check = [&](const char* what, const DataSet& t, int idColumn, int nameColumn,
                               const QString& sql, const QVector<QVariant>& values) {
            std::map<qint64, QString> stored;
            engine.select(sql, values, [&](const QVector<QVariant>& row) {
                stored[row[0].toLongLong()] = row[1].toString();
                return true;
            });
            std::map<qint64, int> shownCount;
            int differing = 0;
            for (int row = 0; row < t.rowCount(); ++row) {
                const qint64 id = idAt(t, row, idColumn);
                ++shownCount[id];
                const auto it = stored.find(id);
                if (it != stored.end() && it->second != textAt(t, row, nameColumn))
                    ++differing;
            }
            int lost = 0, extra = 0, doubled = 0;
            for (const auto& [id, name] : stored) {
                if (!shownCount.count(id))
                    ++lost;
            }
            for (const auto& [id, count] : shownCount) {
                if (!stored.count(id))
                    ++extra;
                if (count > 1)
                    ++doubled;
            }
            out << "CONTROLLO " << what << ' ' << lost << ' ' << extra << ' ' << doubled << ' '
                << differing << '\n';
        };
        check("nuclei", m_dm.TBL_NUCLEO, m_familyId, m_familyName,
              QStringLiteral("SELECT \"ID_NUCLEO\", \"DENOMINAZIONE\" FROM \"TBL_NUCLEO\""), {});
        check("familiari", m_dm.TBL_ANAGRAFICA, m_memberId, m_memberName,
              QStringLiteral("SELECT \"ID_ANAGRAFICA\", \"NOME\" FROM \"TBL_ANAGRAFICA\" "
                             "WHERE \"CODICE_NUCLEO\" = ?"),
              {m_dm.TBL_NUCLEO.fieldValue(QStringLiteral("CODICE_NUCLEO")).toText()});
    }

    TdmMarvesa& m_dm;
    const ChildOptions& m_o;
    QFile m_log;
    QByteArray m_buffer;
    int m_familyId, m_familyName, m_memberId, m_memberName;
    std::deque<qint64> m_events;  // when the tables changed, in order
    std::vector<Change> m_pending;
    std::set<qint64> m_familiesSeen, m_membersSeen;
    struct Shown {
        int desk;
        int seq;
        double ms;
    };
    std::vector<Shown> m_shown;
    int m_seen = 0;
    double m_ownMs = 0;
};

int runScreen(int argc, char* argv[], const ChildOptions& o) {
    QApplication app(argc, argv);
    PrintedDialogs dialogs;
    Dialogs::setInstance(&dialogs);
    std::unique_ptr<TfrmMain> window;
    TdmMarvesa dm;
    if (o.window) {
        // The program's start-up order: the window, the data module, shown.
        window = std::make_unique<TfrmMain>();
        window->bindTo(dm);
    }
    dm.DataModuleCreate(o.location);
    if (window)
        window->show();
    const int idColumn = dm.TBL_NUCLEO.fieldByName(QStringLiteral("ID_NUCLEO"))->index();
    dm.TBL_NUCLEO.moveTo(searchFor(dm.TBL_NUCLEO, idColumn, kSharedFamily));
    QCoreApplication::processEvents();
    int exitCode = 0;
    {
        Screen screen(dm, o);
        const qint64 start = readyAndWait();
        const qint64 end = start + qint64(o.seconds) * 1000000 + kSettleMs * 1000;
        sleepUntil(start);
        const double cpuAtStart = cpuMs();
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] { screen.poll(); });
        poll.start(25);
        QTimer::singleShot(int((end - nowUs()) / 1000), &app, &QCoreApplication::quit);
        app.exec();
        poll.stop();
        const double cpu = cpuMs() - cpuAtStart;
        screen.poll();
        QTextStream out(stdout);
        out << "SCHERMO " << o.desk << '\n';
        screen.report(out, cpu);
    }
    window.reset();
    Dialogs::setInstance(nullptr);
    return exitCode;
}

// ------------------------------------------------------------ the server

// What a server's processes have done so far: the processor time of the
// postmaster and of every process it started, by process, and the rows its
// statements read and the commits in the benchmark's database.
struct ServerLoad {
    std::map<qint64, double> cpuMs;
    qint64 self = 0;  // the process that answered these questions
    qint64 rowsRead = 0;
    qint64 commits = 0;
};

double processCpuMs(const QString& stat, qint64* parent) {
    // pid (comm) state ppid ... utime(14) stime(15)
    const int close = stat.lastIndexOf(u')');
    const QStringList f = stat.mid(close + 2).split(u' ');
    if (parent)
        *parent = f.value(1).toLongLong();
    return (f.value(11).toDouble() + f.value(12).toDouble()) * 1000.0 / sysconf(_SC_CLK_TCK);
}

ServerLoad serverLoad(const QString& location) {
    ServerLoad load;
    const QString name = QStringLiteral("bench-load-server");
    qint64 postmaster = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        ServerAddress(location).configure(db);
        if (!db.open())
            throw Error(QStringLiteral("server non raggiungibile"));
        QSqlQuery q(db);
        q.exec(QStringLiteral("SELECT pg_backend_pid()"));
        q.next();
        load.self = q.value(0).toLongLong();
        QFile stat(QStringLiteral("/proc/%1/stat").arg(load.self));
        if (stat.open(QIODevice::ReadOnly))
            processCpuMs(QString::fromLatin1(stat.readAll()), &postmaster);
        q.exec(
            QStringLiteral("SELECT sum(tup_returned + tup_fetched), sum(xact_commit) FROM "
                           "pg_stat_database WHERE datname = current_database()"));
        q.next();
        load.rowsRead = q.value(0).toLongLong();
        load.commits = q.value(1).toLongLong();
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        if (pid.toLongLong() == 0)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        qint64 parent = 0;
        const double cpu = processCpuMs(QString::fromLatin1(stat.readAll()), &parent);
        if (pid.toLongLong() == postmaster || parent == postmaster)
            load.cpuMs[pid.toLongLong()] = cpu;
    }
    return load;
}

// The processor time the server spent between two readings, without the
// processes that took the readings.
double serverCpuBetween(const ServerLoad& before, const ServerLoad& after) {
    double cpu = 0;
    for (const auto& [pid, ms] : after.cpuMs) {
        if (pid == after.self || pid == before.self)
            continue;
        const auto it = before.cpuMs.find(pid);
        cpu += ms - (it == before.cpuMs.end() ? 0 : it->second);
    }
    return cpu;
}

// ------------------------------------------------------------ the whole run

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    return v[i];
}

struct Options {
    int desks = 0;
    QString server;
    int families = 30000;
    int members = 100000;
    int seconds = 180;
    int intervalMs = 2000;
    bool window = false;
    QString keep;
};

QStringList childArguments(const char* role, int desk, const Options& o, const QString& location,
                           const QString& log) {
    QStringList args{QString::fromLatin1(role),
                     QString::number(desk),
                     QString::number(o.desks),
                     location,
                     log,
                     QString::number(o.seconds),
                     QString::number(o.intervalMs)};
    if (o.window)
        args << QStringLiteral("--window");
    return args;
}

void waitForReady(QProcess& p, const QString& what) {
    QByteArray seen;
    QElapsedTimer t;
    t.start();
    while (!seen.contains("PRONTO")) {
        if (t.elapsed() > 300000 || p.state() == QProcess::NotRunning)
            throw Error(QStringLiteral("%1 non si è avviato").arg(what));
        p.waitForReadyRead(1000);
        seen += p.readAllStandardOutput();
    }
}

int runAll(const Options& o) {
    QTextStream out(stdout);
    Targets targets(out);
    QTemporaryDir temp;
    const QString dir = o.keep.isEmpty() ? temp.path() : o.keep;
    QDir().mkpath(dir);
    const QString path = QDir(dir).filePath(QStringLiteral("bench-load.mdb"));
    QFile::remove(path);
    schema::createDatabase(path);
    populate(path, o.families, o.members, false);
    QString location = path;
    if (!o.server.isEmpty()) {
        location = freshServerDatabase(o.server, QStringLiteral("marvesa_bench_load"));
        schema::copyToServer(path, location);
    }
    out << QStringLiteral(
               "%1 postazioni su %2, %3 nuclei e %4 familiari; una modifica per "
               "postazione ogni %5 ms per %6 s; %7\n")
               .arg(o.desks)
               .arg(o.server.isEmpty() ? QStringLiteral("un file")
                                       : QStringLiteral("un server PostgreSQL"))
               .arg(o.families)
               .arg(o.members)
               .arg(o.intervalMs)
               .arg(o.seconds)
               .arg(o.window ? QStringLiteral("schermi: la finestra (offscreen)")
                             : QStringLiteral("schermi: il modulo dati"));
    out.flush();
    const QString log = QDir(dir).filePath(QStringLiteral("modifiche.log"));
    QFile::remove(log);
    QFile(log).open(QIODevice::WriteOnly);

    const QString program = QCoreApplication::applicationFilePath();
    std::vector<std::unique_ptr<QProcess>> screens, clerks;
    const auto launch = [&](std::vector<std::unique_ptr<QProcess>>& into, const char* role,
                            int desk) {
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(program, childArguments(role, desk, o, location, log));
        into.push_back(std::move(p));
    };
    QElapsedTimer opening;
    opening.start();
    for (int d = 0; d < o.desks; ++d)
        launch(screens, "--schermo", d);
    for (int d = 0; d < o.desks; ++d)
        waitForReady(*screens[size_t(d)], QStringLiteral("lo schermo %1").arg(d));
    for (int d = 0; d < o.desks; ++d)
        launch(clerks, "--scrivano", d);
    for (int d = 0; d < o.desks; ++d)
        waitForReady(*clerks[size_t(d)], QStringLiteral("lo scrivano %1").arg(d));
    out << QStringLiteral("Postazioni aperte in %1 s\n").arg(opening.elapsed() / 1000.0, 0, 'f', 1);
    out.flush();

    const ServerLoad before = o.server.isEmpty() ? ServerLoad() : serverLoad(location);
    const qint64 start = nowUs() + 1000000;
    for (auto* list : {&screens, &clerks}) {
        for (auto& p : *list) {
            p->write(QByteArray::number(start) + '\n');
            p->waitForBytesWritten(5000);
        }
    }
    QByteArray clerkOutput, screenOutput;
    const int limit = (o.seconds + 120) * 1000;
    for (auto& p : clerks) {
        p->waitForFinished(limit);
        clerkOutput += p->readAllStandardOutput();
    }
    const double runSeconds = (nowUs() - start) / 1e6;
    const ServerLoad after = o.server.isEmpty() ? ServerLoad() : serverLoad(location);
    for (auto& p : screens) {
        p->waitForFinished(limit);
        screenOutput += p->readAllStandardOutput();
    }

    int changes = 0, clerkErrors = 0;
    for (const QByteArray& line : clerkOutput.split('\n')) {
        const QList<QByteArray> w = line.split(' ');
        if (w.value(0) == "SCRIVANO") {
            changes += w.value(1).toInt();
            clerkErrors += w.value(2).toInt();
        }
    }
    // Per change: the slowest desk; per desk and change: each.
    std::map<std::pair<int, int>, std::vector<double>> byChange;
    std::vector<double> pairs, cpuPerChange, memory;
    int notShown = 0, screensReported = 0;
    std::map<QByteArray, std::vector<int>> checks;
    for (const QByteArray& line : screenOutput.split('\n')) {
        const QList<QByteArray> w = line.split(' ');
        const QByteArray& tag = w.value(0);
        if (tag == "SCHERMO") {
            ++screensReported;
        } else if (tag == "V") {
            const double latency = w.value(3).toDouble();
            byChange[{w.value(1).toInt(), w.value(2).toInt()}].push_back(latency);
            pairs.push_back(latency);
        } else if (tag == "NV") {
            notShown += w.value(1).toInt();
        } else if (tag == "CPU") {
            const double seen = w.value(2).toDouble();
            cpuPerChange.push_back(seen > 0 ? w.value(1).toDouble() / seen : 0);
        } else if (tag == "MEM") {
            memory.push_back(w.value(1).toDouble() / 1024.0);
        } else if (tag == "CONTROLLO") {
            std::vector<int>& sum = checks[w.value(1)];
            sum.resize(4);
            for (int i = 0; i < 4; ++i)
                sum[size_t(i)] += w.value(2 + i).toInt();
        }
    }
    std::vector<double> everyDesk;
    int partlyShown = 0;
    for (const auto& [change, latencies] : byChange) {
        if (int(latencies.size()) < o.desks - 1)
            ++partlyShown;
        everyDesk.push_back(*std::max_element(latencies.begin(), latencies.end()));
    }
    out << QStringLiteral(
               "Modifiche salvate: %1 (%2 errori degli scrivani); schermi che hanno "
               "risposto: %3 di %4\n")
               .arg(changes)
               .arg(clerkErrors)
               .arg(screensReported)
               .arg(o.desks);
    out << QStringLiteral(
               "Modifica mostrata da tutte le altre postazioni: mediana %1 ms, 99° percentile "
               "%2 ms, la peggiore %3 ms (%4 modifiche; %5 non mostrate da ogni postazione)\n")
               .arg(percentile(everyDesk, 0.5), 0, 'f', 0)
               .arg(percentile(everyDesk, 0.99), 0, 'f', 0)
               .arg(percentile(everyDesk, 1.0), 0, 'f', 0)
               .arg(everyDesk.size())
               .arg(partlyShown);
    out << QStringLiteral(
               "Per postazione e modifica: mediana %1 ms, 99° percentile %2 ms, la peggiore "
               "%3 ms (%4 coppie; %5 modifiche mai mostrate)\n")
               .arg(percentile(pairs, 0.5), 0, 'f', 0)
               .arg(percentile(pairs, 0.99), 0, 'f', 0)
               .arg(percentile(pairs, 1.0), 0, 'f', 0)
               .arg(pairs.size())
               .arg(notShown);
    out << QStringLiteral(
               "Processore per postazione e modifica: mediana %1 ms, il più alto %2 ms; "
               "memoria massima di uno schermo %3 MB\n")
               .arg(percentile(cpuPerChange, 0.5), 0, 'f', 2)
               .arg(percentile(cpuPerChange, 1.0), 0, 'f', 2)
               .arg(percentile(memory, 1.0), 0, 'f', 1);
    int wrongRows = 0;
    for (const auto& [what, sum] : checks) {
        out << QStringLiteral(
                   "Alla fine, %1 di tutti gli schermi: persi %2, in più %3, doppi %4, "
                   "con altri valori %5\n")
                   .arg(QString::fromLatin1(what))
                   .arg(sum[0])
                   .arg(sum[1])
                   .arg(sum[2])
                   .arg(sum[3]);
        for (int v : sum)
            wrongRows += v;
    }
    if (!o.server.isEmpty()) {
        const double cpu = serverCpuBetween(before, after);
        out << QStringLiteral(
                   "Server: processore %1 s in %2 s (%3 % di un nucleo), %4 ms per "
                   "modifica; righe lette %5 (%6 per modifica); %7 commit\n")
                   .arg(cpu / 1000.0, 0, 'f', 1)
                   .arg(runSeconds, 0, 'f', 0)
                   .arg(cpu / 10.0 / runSeconds, 0, 'f', 1)
                   .arg(changes > 0 ? cpu / changes : 0, 0, 'f', 2)
                   .arg(after.rowsRead - before.rowsRead)
                   .arg(changes > 0 ? (after.rowsRead - before.rowsRead) / changes : 0)
                   .arg(after.commits - before.commits);
    }
    targets.report(
        QStringLiteral("Modifica mostrata da tutte le altre postazioni, 99° percentile"),
        screensReported == o.desks && partlyShown == 0 ? percentile(everyDesk, 0.99) : 1e9,
        QStringLiteral("ms"), 1000);
    targets.report(QStringLiteral("Processore per postazione e modifica, il più alto"),
                   percentile(cpuPerChange, 1.0), QStringLiteral("ms"), 5, 2);
    targets.report(QStringLiteral("Righe perse, in più, doppie o diverse"), wrongRows,
                   QStringLiteral("righe"), 1);
    return targets.finish();
}

int runMain(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    Options o;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args.at(i);
        const bool hasValue = i + 1 < args.size();
        if (a == QLatin1String("--desks") && hasValue) {
            o.desks = args.at(++i).toInt();
        } else if (a == QLatin1String("--server") && hasValue) {
            o.server = args.at(++i);
        } else if (a == QLatin1String("--families") && hasValue) {
            o.families = args.at(++i).toInt();
        } else if (a == QLatin1String("--members") && hasValue) {
            o.members = args.at(++i).toInt();
        } else if (a == QLatin1String("--seconds") && hasValue) {
            o.seconds = args.at(++i).toInt();
        } else if (a == QLatin1String("--interval") && hasValue) {
            o.intervalMs = args.at(++i).toInt();
        } else if (a == QLatin1String("--window")) {
            o.window = true;
        } else if (a == QLatin1String("--keep") && hasValue) {
            o.keep = args.at(++i);
        } else {
            QTextStream(stderr)
                << "Uso: bench_load [--desks N] [--server CONNESSIONE] [--families F] "
                   "[--members M] [--seconds S] [--interval MS] [--window] [--keep CARTELLA]\n";
            return 2;
        }
    }
    if (o.desks == 0)
        o.desks = o.server.isEmpty() ? 8 : 20;
    if (o.desks < 2 || o.families < 2 || o.seconds < 1 || o.intervalMs < 10) {
        QTextStream(stderr) << "bench_load: valori non validi\n";
        return 2;
    }
    return runAll(o);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    try {
        if (argc >= 8 &&
            (qstrcmp(argv[1], "--schermo") == 0 || qstrcmp(argv[1], "--scrivano") == 0)) {
            ChildOptions o;
            o.desk = QByteArray(argv[2]).toInt();
            o.desks = QByteArray(argv[3]).toInt();
            o.location = QString::fromLocal8Bit(argv[4]);
            o.log = QString::fromLocal8Bit(argv[5]);
            o.seconds = QByteArray(argv[6]).toInt();
            o.intervalMs = QByteArray(argv[7]).toInt();
            o.window = argc >= 9 && qstrcmp(argv[8], "--window") == 0;
            return qstrcmp(argv[1], "--schermo") == 0 ? runScreen(argc, argv, o)
                                                      : runClerk(argc, argv, o);
        }
        return runMain(argc, argv);
    } catch (const std::exception& e) {
        QTextStream(stderr) << "bench_load: " << e.what() << '\n';
        return 1;
    }
}
