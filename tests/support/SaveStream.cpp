#include "support/SaveStream.h"

#include <QElapsedTimer>
#include <QHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>
#include <atomic>
#include <thread>

#include "data/base/Error.h"
#include "data/registry/DataModule.h"
#include "support/Sql.h"
#include "support/TestServer.h"

namespace marvesa::test {

bool controlTestServer(const QString& action, QString* error) {
    QStringList command = QProcess::splitCommand(qEnvironmentVariable("MARVESA_TEST_PG_CTL"));
    if (command.isEmpty()) {
        if (error)
            *error = QStringLiteral("MARVESA_TEST_PG_CTL names no pg_ctl");
        return false;
    }
    const QString owner = qEnvironmentVariable("MARVESA_TEST_PG_OWNER");
    if (!owner.isEmpty())
        command = QStringList{QStringLiteral("runuser"), QStringLiteral("-u"), owner,
                              QStringLiteral("--")} +
                  command;
    command << action;
    if (action == QLatin1String("stop"))
        command << QStringLiteral("-m") << QStringLiteral("immediate");
    QProcess p;
    p.start(command.takeFirst(), command);
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        if (error)
            *error = QString::fromLocal8Bit(p.readAllStandardError());
        return false;
    }
    return true;
}

namespace {

// One row the stream stores: a family unit or a member (new), or a change
// of a member's name; `label` finds it in the database.
struct Save {
    enum class Kind { FamilyUnit, Member, Change } kind;
    QString label;
};

// Stops and starts the server at random moments until told to end; leaves
// it running.
class Outages {
public:
    explicit Outages(quint32 seed) : m_random(seed) {
        m_thread = std::thread([this] { run(); });
    }
    ~Outages() { end(); }
    void end() {
        m_end = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    int count() const { return m_count; }
    int stops() const { return m_stops; }
    QStringList problems;

private:
    void pause(int fromMs, int toMs) {
        const int ms = fromMs + int(m_random.bounded(quint32(toMs - fromMs)));
        for (int waited = 0; waited < ms && !m_end; waited += 10)
            QThread::msleep(10);
    }
    void run() {
        while (!m_end) {
            pause(150, 600);
            if (m_end)
                break;
            QString error;
            if (!controlTestServer(QStringLiteral("stop"), &error))
                problems << QStringLiteral("pg_ctl stop: ") + error;
            ++m_stops;
            pause(20, 300);
            if (!controlTestServer(QStringLiteral("start"), &error))
                problems << QStringLiteral("pg_ctl start: ") + error;
            ++m_count;
        }
    }
    QRandomGenerator m_random;
    std::thread m_thread;
    std::atomic<bool> m_end{false};
    std::atomic<int> m_count{0};
    std::atomic<int> m_stops{0};
};

}  // namespace

SaveStreamFigures runSaveStream(int saves, quint32 seed) {
    SaveStreamFigures f;
    const QString connection = TestServer::instance().newDatabase();
    TdmMarvesa desks[2];
    for (int d = 0; d < 2; ++d) {
        desks[d].DataModuleCreate(connection);
        DataSet& families = desks[d].TBL_NUCLEO;
        families.insert();
        families.setFieldValue(QStringLiteral("CODICE_NUCLEO"),
                               Value::text(QStringLiteral("QXDESK%1").arg(d)));
        families.post();
    }
    QRandomGenerator random(seed);
    QHash<QString, Save> toldStored;
    QHash<QString, Save> abandoned;
    QElapsedTimer clock;
    clock.start();
    Outages outages(seed ^ 0x5A5A5A5Au);
    for (int i = 0; i < saves; ++i) {
        // Half-way, the server has gone away at least once, however fast
        // the saves before were.
        if (i == saves / 2) {
            while (outages.stops() == 0)
                QThread::msleep(5);
        }
        // A clerk's pace, roughly: not a hundred "Salva" a second.
        QThread::msleep(random.bounded(20u));
        TdmMarvesa& dm = desks[i % 2];
        const quint32 pick = random.bounded(10u);
        Save save{pick < 2   ? Save::Kind::FamilyUnit
                  : pick < 8 ? Save::Kind::Member
                             : Save::Kind::Change,
                  QStringLiteral("S%1").arg(i)};
        // A change needs a member of this desk's family unit whose name no
        // change gave yet: a second change of the same member would
        // overwrite the first, which could then not be checked.
        if (save.kind == Save::Kind::Change) {
            try {
                if (dm.TBL_ANAGRAFICA.isEmpty())
                    save.kind = Save::Kind::Member;
                else {
                    dm.TBL_ANAGRAFICA.last();
                    if (!dm.TBL_ANAGRAFICA.fieldValue(QStringLiteral("NOME")).isNull())
                        save.kind = Save::Kind::Member;
                }
            } catch (const Error&) {
                save.kind = Save::Kind::Member;  // a break while moving
            }
        }
        DataSet* table = save.kind == Save::Kind::FamilyUnit ? &dm.TBL_NUCLEO : &dm.TBL_ANAGRAFICA;
        try {
            // Starting the row touches nothing but the cursor (the family
            // unit of a new member is current since the desk opened).
            if (save.kind == Save::Kind::FamilyUnit) {
                table->insert();
                table->setFieldValue(QStringLiteral("CODICE_NUCLEO"),
                                     Value::text(QStringLiteral("QX") + save.label));
                table->setFieldValue(QStringLiteral("DENOMINAZIONE"), Value::text(save.label));
            } else if (save.kind == Save::Kind::Member) {
                table->insert();
                table->setFieldValue(QStringLiteral("COGNOME"), Value::text(save.label));
            } else {
                table->last();
                table->edit();
                table->setFieldValue(QStringLiteral("NOME"), Value::text(save.label));
            }
        } catch (const Error& e) {
            f.problems << QStringLiteral("starting %1: %2").arg(save.label, e.message());
            continue;
        }
        ++f.saves;
        // "Salva" until it stores, or, now and then after an error,
        // "Annulla" instead.
        bool stored = false;
        QElapsedTimer wait;
        wait.start();
        while (!stored) {
            ++f.attempts;
            QElapsedTimer one;
            one.start();
            try {
                table->post();
                stored = true;
                f.longestSaveMs = qMax(f.longestSaveMs, one.nsecsElapsed() / 1e6);
            } catch (const Error&) {
                ++f.failures;
                // Stored, and what came after failed (the member table
                // reading the new family unit's members): the panel shows
                // the row stored.
                if (!table->isEditing()) {
                    stored = true;
                    break;
                }
                if (random.bounded(10u) == 0 || wait.elapsed() > 60000) {
                    // "Annulla": the row is given up at once; what follows
                    // it (the detail read again) may fail and says so.
                    try {
                        table->cancel();
                    } catch (const Error&) {
                        ++f.failures;
                    }
                    if (!table->isEditing())
                        break;
                }
                QThread::msleep(30);
            }
        }
        (stored ? toldStored : abandoned).insert(save.label, save);
        if (!stored)
            ++f.abandoned;
        if (save.kind == Save::Kind::FamilyUnit) {
            // Back to the desk's own family unit for the next member.
            try {
                table->first();
            } catch (const Error&) {
                // A break while moving: the next step tries again.
            }
        }
    }
    outages.end();
    f.outages = outages.count();
    f.problems << outages.problems;
    f.seconds = clock.nsecsElapsed() / 1e9;

    // The database as it stands, against what the clerks were told.
    Sql sql(connection);
    const auto held = [&](const Save& s) {
        switch (s.kind) {
            case Save::Kind::FamilyUnit:
                return sql.count(QStringLiteral("TBL_NUCLEO"),
                                 QStringLiteral("DENOMINAZIONE = '%1'").arg(s.label));
            case Save::Kind::Member:
                return sql.count(QStringLiteral("TBL_ANAGRAFICA"),
                                 QStringLiteral("COGNOME = '%1'").arg(s.label));
            case Save::Kind::Change:
                return sql.count(QStringLiteral("TBL_ANAGRAFICA"),
                                 QStringLiteral("NOME = '%1'").arg(s.label));
        }
        return -1;
    };
    f.toldStored = int(toldStored.size());
    for (const Save& s : toldStored) {
        const int n = held(s);
        if (n == 1)
            ++f.storedOnce;
        else
            f.problems << QStringLiteral("%1 told stored, held %2 times").arg(s.label).arg(n);
        if (n > 1)
            ++f.doubled;
    }
    for (const Save& s : abandoned) {
        const int n = held(s);
        if (n == 1 && s.kind != Save::Kind::Change)
            ++f.abandonedKept;
        if (n > 1) {
            ++f.doubled;
            f.problems << QStringLiteral("%1 abandoned, held %2 times").arg(s.label).arg(n);
        }
    }
    return f;
}

}  // namespace marvesa::test
