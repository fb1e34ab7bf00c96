// "Cerca" gives the same results on a database file and on the server: a
// generated corpus of names (accents, apostrophes, Cyrillic, emoji,
// full-width letters, mixed case, very long texts) stored in both, and
// generated searches (beginnings of words, whole names, other spellings,
// pasted junk) asked of both. Needs the test server and a file.

#include <QRandomGenerator>
#include <QtTest>

#include "data/registry/PostgresRegistryQueries.h"
#include "data/registry/SqliteRegistryQueries.h"
#include "support/DataTestSupport.h"

using namespace marvesa;
using namespace marvesa::test;

namespace {

const QStringList kSurnames = {
    QStringLiteral("ROSSI"),    QStringLiteral("D'ANGELO"),   QStringLiteral("DELL’ACQUA"),
    QStringLiteral("NICOLÒ"),   QStringLiteral("MÜLLER"),     QStringLiteral("Šimić"),
    QStringLiteral("ČAPEK"),    QStringLiteral("PEÑA"),       QStringLiteral("FRANÇOIS"),
    QStringLiteral("ШЕВЧЕНКО"), QStringLiteral("Коваленко"),  QStringLiteral("ЙОВИЧ"),
    QStringLiteral("ЁЛКИН"),    QStringLiteral("O'BRIEN"),    QStringLiteral("de la Cruz"),
    QStringLiteral("YAMADA"),   QStringLiteral("Bondarenko"), QStringLiteral("KOVAĽ"),
    QStringLiteral("SØREN"),    QStringLiteral("ÅSA"),        QStringLiteral("TKACHUK-LYSENKO"),
};
const QStringList kNames = {
    QStringLiteral("MARIO"),  QStringLiteral("ANNA"),  QStringLiteral("Олена"),
    QStringLiteral("ANDRIY"), QStringLiteral("ZOË"),   QStringLiteral("JOSÉ"),
    QStringLiteral("LUCA"),   QStringLiteral("Ірина"), QStringLiteral("MARIA-GRAZIA"),
    QStringLiteral("PIÙ"),
};
// Stored after a name: nothing, an emoji apart or at its end, an
// apostrophe at its end.
const QStringList kExtras = {
    QString(),
    QStringLiteral(" 🙂"),
    QStringLiteral("😀"),
    QStringLiteral(" NICOLÒ'"),
    QStringLiteral(" ʼ"),
};

// Some ways a clerk or a paste may give a text.
QString variant(QString text, QRandomGenerator& random) {
    switch (random.bounded(9)) {
        case 0:
            return text.toLower();
        case 1:
            return text.toUpper();
        case 2: {
            // Full-width letters, as some keyboards give them.
            QString wide;
            for (QChar c : text) {
                const ushort u = c.unicode();
                wide += (u >= 0x21 && u <= 0x7E) ? QChar(ushort(u - 0x21 + 0xFF01)) : c;
            }
            return wide;
        }
        case 3:
            return text.normalized(QString::NormalizationForm_D);
        case 4:
            return text.replace(QLatin1Char('\''), QStringLiteral("’"));
        case 5:
            return QChar(0xD800) + text;
        case 6:
            return text + QStringLiteral("🙂");
        case 7:
            return text.left(2 + int(random.bounded(4)));
        default:
            return text;
    }
}

struct Registry {
    QTemporaryDir dir;
    QString file = newDatabaseFile();
    QString server = TestServer::instance().newDatabase();
    QString newDatabaseFile() {
        const QString path = dir.filePath(QStringLiteral("parita.mdb"));
        schema::createDatabase(path);
        return path;
    }
    void exec(const QString& sql, const QVariantList& values) {
        Sql(file).exec(sql, values);
        Sql(server).exec(sql, values);
    }
};

QStringList found(RegistryQueries& q, const QString& text) {
    QStringList lines;
    for (const SearchHit& h : q.find(text, 500).hits) {
        lines << (h.kind == SearchHit::Kind::Member
                      ? QString::number(h.memberId) + QLatin1Char(' ') + h.surname
                      : QStringLiteral("nucleo ") + h.familyCode);
    }
    return lines;
}

}  // namespace

class TstSearchParity : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(onServer()); }

    void bothEnginesFindTheSame() {
        const quint32 seed = 20240611;
        QRandomGenerator random(seed);
        Registry r;
        // The family units: codes, descriptions (some very long), hosts.
        for (int f = 0; f < 12; ++f) {
            QString description = kSurnames.at(f % kSurnames.size()) + QStringLiteral(" famiglia");
            if (f % 5 == 0)
                description += QStringLiteral(" ") + QString(150, QLatin1Char('x'));
            r.exec(QStringLiteral("INSERT INTO TBL_NUCLEO (CODICE_NUCLEO, DENOMINAZIONE, "
                                  "NOME_OSPITANTE) VALUES (?, ?, ?)"),
                   {QStringLiteral("QX%1").arg(100 + f), description,
                    kNames.at(f % kNames.size()) + QLatin1Char(' ') +
                        kSurnames.at((f * 7) % kSurnames.size())});
        }
        // The members: every surname with several names, spellings and
        // extras; ids in the same order on both.
        QStringList stored;
        for (int m = 0; m < 120; ++m) {
            QString surname = kSurnames.at(m % kSurnames.size());
            if (m % 4 == 1)
                surname = surname.toLower();
            if (m % 9 == 2)
                surname = surname.left(1) + surname.mid(1).toLower();
            const QString name = kNames.at(int(random.bounded(kNames.size()))) +
                                 kExtras.at(int(random.bounded(kExtras.size())));
            r.exec(QStringLiteral("INSERT INTO TBL_ANAGRAFICA (CODICE_NUCLEO, COGNOME, NOME) "
                                  "VALUES (?, ?, ?)"),
                   {QStringLiteral("QX%1").arg(100 + m % 12), surname.left(50), name.left(50)});
            stored << surname << name;
        }
        SqliteRegistryQueries onFile(r.file);
        PostgresRegistryQueries onServer(r.server);

        // The searches: words and beginnings of words of what is stored, in
        // other spellings; two words at once; junk.
        QStringList queries;
        for (int i = 0; i < 400; ++i) {
            const QString text = stored.at(int(random.bounded(stored.size())));
            const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            QString word = words.at(int(random.bounded(words.size())));
            if (random.bounded(3) == 0)
                word = word.left(2 + int(random.bounded(3)));
            queries << variant(word, random);
            if (i % 4 == 0) {
                const QString other = stored.at(int(random.bounded(stored.size())));
                queries << variant(word, random) + QLatin1Char(' ') +
                               variant(other.section(QLatin1Char(' '), 0, 0), random);
            }
        }
        queries << QStringLiteral("ros🙂") << QStringLiteral("ｒｏｓｓｉ")
                << QString(QChar(0xD800)) + QStringLiteral("rossi") << QStringLiteral("angelo")
                << QStringLiteral("ossi") << QStringLiteral("acqua") << QStringLiteral("qx10")
                << QStringLiteral("105") << QString(10000, QLatin1Char('x'))
                << QStringLiteral("ros") + QChar(0) + QStringLiteral("si")
                << QStringLiteral("\"ross") << QStringLiteral("ROSSI AND*")
                << QStringLiteral("NEAR(rossi") << QStringLiteral("-- ; rossi")
                << QStringLiteral("%") << QStringLiteral("_a") << QStringLiteral("\\\\r");
        int differing = 0, withHits = 0;
        QStringList report;
        for (const QString& query : queries) {
            const QStringList a = found(onFile, query);
            const QStringList b = found(onServer, query);
            if (!a.isEmpty())
                ++withHits;
            if (a != b) {
                ++differing;
                if (report.size() < 10) {
                    report << QStringLiteral("\"%1\" (%2): file %3 | server %4")
                                  .arg(query, searchWords(query).join(QLatin1Char('/')),
                                       a.join(QLatin1Char(',')), b.join(QLatin1Char(',')));
                }
            }
        }
        QVERIFY2(differing == 0, qPrintable(QStringLiteral("seed %1, %2 of %3 searches differ:\n")
                                                .arg(seed)
                                                .arg(differing)
                                                .arg(queries.size()) +
                                            report.join(QLatin1Char('\n'))));
        // The corpus is searched, not just missed on both sides.
        QVERIFY2(withHits > queries.size() / 2, qPrintable(QString::number(withHits)));
    }
};

QTEST_GUILESS_MAIN(TstSearchParity)
#include "tst_searchparity.moc"
