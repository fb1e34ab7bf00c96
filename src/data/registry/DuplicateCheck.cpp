#include "data/registry/DuplicateCheck.h"

#include <QDateTime>
#include <QHash>
#include <algorithm>
#include <tuple>

#include "data/base/Value.h"
#include "data/registry/RegistryRows.h"
#include "data/sql/Engine.h"

namespace marvesa {

namespace {

const QString kWhat = QStringLiteral("Impossibile cercare i doppioni");

// Members with the family unit of their code: the columns RegisteredPerson
// holds, in its order. The family units' index on the code leaves out empty
// codes: the join says so, or SQLite builds an index of its own each time.
const QString kPeople = QStringLiteral(
    "SELECT a.\"ID_ANAGRAFICA\", a.\"COGNOME\", a.\"NOME\", a.\"DATA_NASCITA\", "
    "a.\"CODICE_NUCLEO\", n.\"ID_NUCLEO\", n.\"DENOMINAZIONE\", n.\"NOME_OSPITANTE\", "
    "n.\"COMUNE\" FROM \"TBL_ANAGRAFICA\" a LEFT JOIN \"TBL_NUCLEO\" n "
    "ON n.\"CODICE_NUCLEO\" = a.\"CODICE_NUCLEO\" AND n.\"CODICE_NUCLEO\" <> ''");

RegisteredPerson personOf(const QVector<QVariant>& row) {
    RegisteredPerson p;
    p.memberId = row.at(0).toLongLong();
    p.surname = row.at(1).toString();
    p.name = row.at(2).toString();
    p.birth = storedDateTime(row.at(3)).date();
    p.familyCode = row.at(4).toString();
    p.familyId = row.at(5).toLongLong();
    p.description = row.at(6).toString();
    p.host = row.at(7).toString();
    p.municipality = row.at(8).toString();
    return p;
}

// A day as both databases compare it with a stored date-time: the stored
// text of that day begins with it, and a server reads it as its midnight.
using registry_rows::isoDay;

// The most dates likelyBirthDates() gives: the date, the swapped one, and
// eight digits with nine others each.
constexpr int kMostDates = 2 + 8 * 9;

// One look-up for both kinds of candidate: the name keys (either order), or
// a birth date on one of the likely days. The days are always kMostDates
// ranges (repeated when fewer), so that the statement is prepared once. It
// reads the members alone, which the rule needs (a few hundred of them in a
// large registry); the family units are joined for those it keeps
// (matchSql()), rather than for every candidate (a server planned the join
// of a few hundred rows as a reading of every family unit).
const QString& candidatesSql() {
    static const QString sql = [] {
        QString s = QStringLiteral(
            "SELECT a.\"ID_ANAGRAFICA\", a.\"COGNOME\", a.\"NOME\", a.\"DATA_NASCITA\", "
            "a.\"CHIAVE_NOMINATIVO\" FROM \"TBL_ANAGRAFICA\" a WHERE a.\"CHIAVE_NOMINATIVO\" IN "
            "(?, ?)");
        for (int i = 0; i < kMostDates; ++i)
            s += QStringLiteral(" OR (a.\"DATA_NASCITA\" >= ? AND a.\"DATA_NASCITA\" < ?)");
        return s;
    }();
    return sql;
}

// The members the rule kept, with the family unit of their code, kMatchesPerQuery
// at a time (a common name keeps hundreds: one query for each was most of the
// wait at "Salva"). A shorter list repeats its last member.
constexpr int kMatchesPerQuery = 50;

const QString& matchSql() {
    static const QString sql =
        kPeople + QStringLiteral(" WHERE a.\"ID_ANAGRAFICA\" IN (") +
        QStringList(kMatchesPerQuery, QStringLiteral("?")).join(QStringLiteral(", ")) +
        QLatin1Char(')');
    return sql;
}

bool likelyFirst(const DuplicateMatch& a, const DuplicateMatch& b) {
    if (a.resemblance.likeness != b.resemblance.likeness)
        return a.resemblance.likeness > b.resemblance.likeness;
    if (a.other.surname != b.other.surname)
        return a.other.surname < b.other.surname;
    if (a.other.name != b.other.name)
        return a.other.name < b.other.name;
    return a.other.memberId < b.other.memberId;
}

std::pair<qint64, qint64> ordered(qint64 a, qint64 b) {
    return a < b ? std::make_pair(a, b) : std::make_pair(b, a);
}

// Rows stored per statement when keys are filled.
constexpr int kKeysPerStatement = 100;
constexpr size_t kKeysBeforeStatistics = 1000;

void storeKeys(Engine& engine, const std::vector<RegisteredPerson>& people) {
    for (size_t from = 0; from < people.size(); from += kKeysPerStatement) {
        const size_t to = std::min(people.size(), from + kKeysPerStatement);
        QStringList rows;
        QVector<QVariant> values;
        for (size_t i = from; i < to; ++i) {
            const RegisteredPerson& p = people[i];
            rows << QStringLiteral("(CAST(? AS BIGINT), ?, ?, ?)");
            values << p.memberId << NameKey::of(p.surname, p.name).stored() << p.surname << p.name;
        }
        // Only where the names are still those the key was made of: another
        // desk may have changed them meanwhile, and its trigger emptied the
        // key again.
        engine.exec(
            QStringLiteral("UPDATE \"TBL_ANAGRAFICA\" SET \"CHIAVE_NOMINATIVO\" = v.column2 FROM "
                           "(VALUES ") +
                rows.join(QStringLiteral(", ")) +
                QStringLiteral(") AS v WHERE \"ID_ANAGRAFICA\" = v.column1 AND "
                               "coalesce(\"COGNOME\", '') = v.column3 AND "
                               "coalesce(\"NOME\", '') = v.column4"),
            values);
    }
}

}  // namespace

void PeopleIndex::add(int ref, const PersonFacts& person) {
    if (ref >= int(m_entries.size()))
        m_entries.resize(size_t(ref) + 1);
    m_entries[size_t(ref)].surnameLetters = person.surnameLetters;
    m_entries[size_t(ref)].nameLetters = person.nameLetters;
    if (!person.key.isEmpty())
        m_byKey[person.key.stored()].append(ref);
    if (person.birth.isValid())
        m_byDate[person.birth.toJulianDay()].append(ref);
}

namespace duplicates {

int fillMissingKeys(Engine& engine) {
    std::vector<RegisteredPerson> missing;
    engine.select(QStringLiteral("SELECT \"ID_ANAGRAFICA\", coalesce(\"COGNOME\", ''), "
                                 "coalesce(\"NOME\", '') FROM \"TBL_ANAGRAFICA\" WHERE "
                                 "\"CHIAVE_NOMINATIVO\" IS NULL"),
                  {}, [&](const QVector<QVariant>& row) {
                      RegisteredPerson p;
                      p.memberId = row.at(0).toLongLong();
                      p.surname = row.at(1).toString();
                      p.name = row.at(2).toString();
                      missing.push_back(std::move(p));
                      return true;
                  });
    storeKeys(engine, missing);
    // Keys filled by the thousand (an upgrade, rows another tool stored):
    // statistics gathered while they were empty would have every look-up
    // read the whole table.
    if (missing.size() >= kKeysBeforeStatistics)
        engine.refreshStatistics(QStringLiteral("TBL_ANAGRAFICA"));
    return int(missing.size());
}

void storeKey(Engine& engine, qint64 memberId) {
    std::vector<RegisteredPerson> one;
    engine.select(QStringLiteral("SELECT \"ID_ANAGRAFICA\", coalesce(\"COGNOME\", ''), "
                                 "coalesce(\"NOME\", '') FROM \"TBL_ANAGRAFICA\" WHERE "
                                 "\"ID_ANAGRAFICA\" = ?"),
                  {memberId}, [&](const QVector<QVariant>& row) {
                      RegisteredPerson p;
                      p.memberId = row.at(0).toLongLong();
                      p.surname = row.at(1).toString();
                      p.name = row.at(2).toString();
                      one.push_back(std::move(p));
                      return false;
                  });
    storeKeys(engine, one);
}

std::vector<DuplicateMatch> find(Engine& engine, const QString& surname, const QString& name,
                                 const QDate& birth, qint64 self) {
    std::vector<DuplicateMatch> matches;
    const PersonFacts person{NameKey::of(surname, name), birth};
    if (person.key.isEmpty())
        return matches;
    fillMissingKeys(engine);

    QVector<QVariant> values{person.key.stored(), person.key.swapped().stored()};
    const QVector<QDate> days = likelyBirthDates(birth);
    for (int i = 0; i < kMostDates; ++i) {
        // No birth date: a range no date falls in.
        const QDate d =
            days.isEmpty() ? QDate(1, 1, 1) : days.at(std::min(i, int(days.size()) - 1));
        values << isoDay(d) << (days.isEmpty() ? isoDay(d) : isoDay(d.addDays(1)));
    }
    std::vector<std::pair<qint64, Resemblance>> kept;
    engine.select(candidatesSql(), values, [&](const QVector<QVariant>& row) {
        const qint64 id = row.at(0).toLongLong();
        if (id == self)
            return true;
        // The key the database keeps (filled above), or made again from the
        // names where another tool emptied it since (or where the column's
        // width cut it).
        const QString stored = row.at(4).toString();
        const PersonFacts other(stored.isEmpty() || stored.size() >= kNameKeyWidth
                                    ? NameKey::of(row.at(1).toString(), row.at(2).toString())
                                    : NameKey::fromStored(stored),
                                storedDateTime(row.at(3)).date());
        Resemblance r = compare(person, other);
        if (r.likeness != Likeness::None)
            kept.emplace_back(id, std::move(r));
        return true;
    });
    QHash<qint64, Resemblance*> resemblanceOf;
    for (auto& [id, resemblance] : kept)
        resemblanceOf.insert(id, &resemblance);
    for (size_t from = 0; from < kept.size(); from += kMatchesPerQuery) {
        QVector<QVariant> ids;
        for (size_t i = from; i < from + kMatchesPerQuery; ++i)
            ids << kept[std::min(i, kept.size() - 1)].first;
        engine.select(matchSql(), ids, [&](const QVector<QVariant>& row) {
            // A code several family units carry lists the member once.
            if (Resemblance* r = resemblanceOf.take(row.at(0).toLongLong()))
                matches.push_back({personOf(row), std::move(*r)});
            return true;
        });
    }
    if (self > 0 && !matches.empty()) {
        QSet<qint64> different;
        engine.select(QStringLiteral("SELECT \"ID_ANAGRAFICA_1\", \"ID_ANAGRAFICA_2\" FROM "
                                     "\"TBL_NON_DOPPIONI\" WHERE \"ID_ANAGRAFICA_1\" = ? OR "
                                     "\"ID_ANAGRAFICA_2\" = ?"),
                      {self, self}, [&](const QVector<QVariant>& row) {
                          const qint64 a = row.at(0).toLongLong(), b = row.at(1).toLongLong();
                          different.insert(a == self ? b : a);
                          return true;
                      });
        matches.erase(std::remove_if(matches.begin(), matches.end(),
                                     [&](const DuplicateMatch& m) {
                                         return different.contains(m.other.memberId);
                                     }),
                      matches.end());
    }
    std::sort(matches.begin(), matches.end(), likelyFirst);
    return matches;
}

void declareDifferent(Engine& engine, qint64 a, qint64 b) {
    if (a == b || a <= 0 || b <= 0)
        return;
    const auto [first, second] = ordered(a, b);
    // Declared once: a second declaration of the same pair changes nothing,
    // also when another desk declares it at the same moment.
    try {
        engine.exec(QStringLiteral("INSERT INTO \"TBL_NON_DOPPIONI\" (\"ID_ANAGRAFICA_1\", "
                                   "\"ID_ANAGRAFICA_2\") SELECT CAST(? AS BIGINT), CAST(? AS "
                                   "BIGINT) WHERE NOT EXISTS (SELECT 1 FROM \"TBL_NON_DOPPIONI\" "
                                   "WHERE \"ID_ANAGRAFICA_1\" = ? AND \"ID_ANAGRAFICA_2\" = ?)"),
                    {first, second, first, second});
    } catch (const UniqueViolation&) {
        if (engine.inTransaction())
            throw;
    }
}

std::vector<RegisteredPerson> everyone(Engine& engine) {
    std::vector<RegisteredPerson> people;
    QSet<qint64> seen;
    engine.select(kPeople + QStringLiteral(" ORDER BY a.\"ID_ANAGRAFICA\""), {},
                  [&](const QVector<QVariant>& row) {
                      RegisteredPerson p = personOf(row);
                      // A code several family units carry lists the member once.
                      if (!seen.contains(p.memberId)) {
                          seen.insert(p.memberId);
                          people.push_back(std::move(p));
                      }
                      return true;
                  });
    return people;
}

QSet<std::pair<qint64, qint64>> declaredDifferent(Engine& engine) {
    QSet<std::pair<qint64, qint64>> pairs;
    engine.select(
        QStringLiteral("SELECT \"ID_ANAGRAFICA_1\", \"ID_ANAGRAFICA_2\" FROM \"TBL_NON_DOPPIONI\""),
        {}, [&](const QVector<QVariant>& row) {
            pairs.insert(ordered(row.at(0).toLongLong(), row.at(1).toLongLong()));
            return true;
        });
    return pairs;
}

std::vector<DuplicatePair> likelyPairs(Engine& engine) {
    const std::vector<RegisteredPerson> people = everyone(engine);
    const QSet<std::pair<qint64, qint64>> different = declaredDifferent(engine);
    std::vector<PersonFacts> facts;
    facts.reserve(people.size());
    PeopleIndex index;
    for (size_t i = 0; i < people.size(); ++i) {
        facts.push_back(people[i].facts());
        index.add(int(i), facts.back());
    }
    std::vector<DuplicatePair> pairs;
    for (size_t i = 0; i < people.size(); ++i) {
        index.forEachCandidate(facts[i], [&](int j) {
            if (size_t(j) <= i)
                return;
            const Resemblance r = compare(facts[i], facts[size_t(j)]);
            if (r.likeness != Likeness::Likely)
                return;
            if (different.contains(ordered(people[i].memberId, people[size_t(j)].memberId)))
                return;
            // Each pair reads in the list's order: the name first in the
            // alphabet on the left.
            const RegisteredPerson& a = people[i];
            const RegisteredPerson& b = people[size_t(j)];
            if (std::tie(b.surname, b.name, b.memberId) < std::tie(a.surname, a.name, a.memberId))
                pairs.push_back({b, a, r});
            else
                pairs.push_back({a, b, r});
        });
    }
    std::sort(pairs.begin(), pairs.end(), [](const DuplicatePair& a, const DuplicatePair& b) {
        if (a.first.surname != b.first.surname)
            return a.first.surname < b.first.surname;
        if (a.first.name != b.first.name)
            return a.first.name < b.first.name;
        return std::make_pair(a.first.memberId, a.second.memberId) <
               std::make_pair(b.first.memberId, b.second.memberId);
    });
    return pairs;
}

}  // namespace duplicates

}  // namespace marvesa
