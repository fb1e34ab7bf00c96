#pragma once

// What the benchmarks share: the large test database, the clocks and the
// report of each figure against its target.

#include <sys/resource.h>

#include <QDate>
#include <QFile>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QTextStream>
#include <QVariant>
#include <algorithm>
#include <vector>

#include "data/base/Error.h"
#include "data/base/Value.h"
#include "data/sql/PostgresEngine.h"

namespace marvesa::bench {

// The options of a benchmark's command line, each "--name value".
class Options {
public:
    explicit Options(const QStringList& args) {
        for (int i = 1; i + 1 < args.size(); i += 2)
            m_values.insert(args.at(i), args.at(i + 1));
    }
    // The number given for `name`, or `fallback`.
    int number(const char* name, int fallback) const {
        const QString v = m_values.value(QLatin1String(name));
        return v.isNull() ? fallback : v.toInt();
    }
    // The text given for `name`, or `fallback`.
    QString text(const char* name, const QString& fallback = QString()) const {
        return m_values.value(QLatin1String(name), fallback);
    }

private:
    QHash<QString, QString> m_values;
};

// The middle one of `values` once sorted (0 for none).
template <typename T>
T median(std::vector<T> values) {
    if (values.empty())
        return T(0);
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Peak resident memory of the process so far (VmHWM), in kB.
inline long peakMemoryKb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

inline double ms(std::int64_t ns) {
    return ns / 1e6;
}

// Processor time used by the process so far (user and system), in ms. The
// wall-clock figures depend on the disk and on whatever else runs; this one
// shows what the export itself costs.
inline double cpuMs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

inline void fail(const QString& what, const QSqlQuery& q) {
    throw Error(what + QStringLiteral(": ") + q.lastError().text());
}

// Runs one statement on the server database `server` names, on a connection
// of its own (CREATE and DROP DATABASE run outside any transaction).
inline void serverExec(const ServerAddress& server, const QString& sql) {
    const QString name = QStringLiteral("bench-admin");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        server.configure(db);
        if (!db.open())
            throw Error(db.lastError().text());
        QSqlQuery q(db);
        if (!q.exec(sql))
            fail(sql, q);
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

// Makes the empty database `name` on the server `connection` names (dropped
// first when it exists, with whoever is connected to it); its connection.
inline QString freshServerDatabase(const QString& connection, const QString& name) {
    const ServerAddress admin(connection);
    serverExec(admin, QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name));
    serverExec(admin, QStringLiteral("CREATE DATABASE %1").arg(name));
    return admin.connectionString(name);
}

inline const QStringList kSurnames = {QStringLiteral("Shevchenko"), QStringLiteral("Kovalenko"),
                                      QStringLiteral("Bondarenko"), QStringLiteral("Tkachenko"),
                                      QStringLiteral("Шевченко"),   QStringLiteral("Мельник"),
                                      QStringLiteral("Kravchenko"), QStringLiteral("Oliynyk"),
                                      QStringLiteral("Lysenko"),    QStringLiteral("Rudenko")};
inline const QStringList kNames = {QStringLiteral("Olena"),  QStringLiteral("Andriy"),
                                   QStringLiteral("Iryna"),  QStringLiteral("Олександра"),
                                   QStringLiteral("Mykola"), QStringLiteral("Sofiia"),
                                   QStringLiteral("Dmytro"), QStringLiteral("Anna")};
inline const QStringList kRelations = {QStringLiteral("Capofamiglia"), QStringLiteral("Coniuge"),
                                       QStringLiteral("Figlio"), QStringLiteral("Figlia"),
                                       QStringLiteral("Nonna")};
inline const QStringList kTowns = {QStringLiteral("Firenze"), QStringLiteral("Prato"),
                                   QStringLiteral("Pistoia"), QStringLiteral("Empoli"),
                                   QStringLiteral("Sesto Fiorentino")};

// Fills the new database at `path` in one transaction: `families` family
// units with distinct "QX" codes, `members` members spread evenly over them
// (names in Latin and Cyrillic letters, a note on three in four), every
// column the window writes filled. With `withStaging`, TBL_EXPORT also holds
// one row per member, as an earlier export would have left it.
inline void populate(const QString& path, int families, int members, bool withStaging) {
    const QString connection = QStringLiteral("bench-populate");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        if (!db.open())
            throw Error(db.lastError().text());
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("BEGIN")))
            fail(QStringLiteral("BEGIN"), q);

        QSqlQuery n(db);
        n.prepare(QStringLiteral(
            "INSERT INTO TBL_NUCLEO (CODICE_NUCLEO, DENOMINAZIONE, NOME_OSPITANTE, COMUNE, "
            "INDIRIZZO, TELEFONO, TERMINE_ALLOGGIO) VALUES (?, ?, ?, ?, ?, ?, ?)"));
        QSqlQuery a(db);
        a.prepare(QStringLiteral(
            "INSERT INTO TBL_ANAGRAFICA (CODICE_NUCLEO, COGNOME, NOME, SESSO, DATA_NASCITA, "
            "NAZIONE_NASCITA, CITTADINANZA, GRADO_PARENTELA, COMUNE, INDIRIZZO, "
            "TERMINE_ALLOGGIO, DATA_INGRESSO, FRONTIERA, NOTE, TELEFONO, NOME_OSPITANTE) "
            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        QSqlQuery e(db);
        e.prepare(QStringLiteral(
            "INSERT INTO TBL_EXPORT (CODICE_NUCLEO, COGNOME, NOME, SESSO, DATA_NASCITA, "
            "NAZIONE_NASCITA, CITTADINANZA, GRADO_PARENTELA, COMUNE, INDIRIZZO, NOME_OSPITANTE, "
            "TELEFONO, TERMINE_ALLOGGIO, DATA_INGRESSO, FRONTIERA, NOTE) "
            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));

        const QDate base(2022, 3, 1);
        int member = 0;
        for (int f = 0; f < families; ++f) {
            // Codes as the program draws them, "QX" and digits, all distinct.
            const QString code = QStringLiteral("QX%1").arg(1000000 + f * 37 % 9000000);
            const QString host = QStringLiteral("Ospitante %1").arg(f);
            const QString town = kTowns.at(f % kTowns.size());
            const QString address = QStringLiteral("Via dei Mille, %1").arg(f % 300 + 1);
            const QString phone = QStringLiteral("+39 333 %1").arg(1000000 + f);
            const QVariant end =
                f % 3 == 0 ? QVariant()
                           : QVariant(dateTimeToStorage(naiveDateTime(base.addDays(90 + f % 200))));
            for (const QVariant& v :
                 {QVariant(code), QVariant(QStringLiteral("Famiglia %1").arg(f)), QVariant(host),
                  QVariant(town), QVariant(address), QVariant(phone), end})
                n.addBindValue(v);
            if (!n.exec())
                fail(QStringLiteral("TBL_NUCLEO"), n);

            // Members spread evenly: the first families take one more.
            const int count = members / families + (f < members % families ? 1 : 0);
            for (int m = 0; m < count; ++m, ++member) {
                const QString birth = dateTimeToStorage(
                    naiveDateTime(QDate(1940 + member % 80, 1 + member % 12, 1 + member % 28)));
                const QString entry = dateTimeToStorage(naiveDateTime(base.addDays(member % 400)));
                const QVariant note = member % 4 == 0
                                          ? QVariant()
                                          : QVariant(QStringLiteral("Necessità particolari n. %1: "
                                                                    "assistenza sanitaria")
                                                         .arg(member));
                const QVariantList values{code,
                                          kSurnames.at(member % kSurnames.size()),
                                          kNames.at(member % kNames.size()),
                                          member % 2 ? QStringLiteral("F") : QStringLiteral("M"),
                                          birth,
                                          QStringLiteral("Ucraina"),
                                          QStringLiteral("Ucraina"),
                                          kRelations.at(m % kRelations.size()),
                                          town,
                                          address,
                                          end,
                                          entry,
                                          QStringLiteral("Polonia"),
                                          note,
                                          phone,
                                          host};
                for (const QVariant& v : values)
                    a.addBindValue(v);
                if (!a.exec())
                    fail(QStringLiteral("TBL_ANAGRAFICA"), a);
                if (!withStaging)
                    continue;
                // What an earlier export left behind.
                const QVariantList staged{
                    code, values[1], values[2], values[3], birth, values[5], values[6],  values[7],
                    town, address,   host,      phone,     end,   entry,     values[12], note};
                for (const QVariant& v : staged)
                    e.addBindValue(v);
                if (!e.exec())
                    fail(QStringLiteral("TBL_EXPORT"), e);
            }
        }
        if (!q.exec(QStringLiteral("COMMIT")))
            fail(QStringLiteral("COMMIT"), q);
        q.finish();
        n.finish();
        a.finish();
        e.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
}

// Prints each figure with its target and remembers whether all were met.
class Targets {
public:
    explicit Targets(QTextStream& out) : m_out(out) {}
    void report(const QString& what, double value, const QString& unit, double target,
                int decimals = 0) {
        const bool met = value < target;
        m_allMet = m_allMet && met;
        m_out << QStringLiteral("%1: %2 %3 (obiettivo < %4 %3) %5\n")
                     .arg(what)
                     .arg(value, 0, 'f', decimals)
                     .arg(unit)
                     .arg(target)
                     .arg(met ? QStringLiteral("OK") : QStringLiteral("OLTRE L'OBIETTIVO"));
    }
    // The closing line; the exit status of the benchmark.
    int finish() {
        m_out << (m_allMet ? "Tutti gli obiettivi raggiunti.\n" : "Almeno un obiettivo mancato.\n");
        return m_allMet ? 0 : 1;
    }

private:
    QTextStream& m_out;
    bool m_allMet = true;
};

}  // namespace marvesa::bench
