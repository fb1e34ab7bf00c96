#pragma once

#include <QDate>
#include <QHash>
#include <QSet>
#include <QString>
#include <QVector>
#include <utility>
#include <vector>

#include "data/registry/DuplicateRule.h"

namespace marvesa {

class Engine;

// A member of the registry as the duplicate check shows it: who, born when,
// and the family unit that carries the member's code.
struct RegisteredPerson {
    qint64 memberId = 0;
    QString surname;
    QString name;
    QDate birth;  // invalid when missing or unreadable
    QString familyCode;
    qint64 familyId = 0;  // 0 when no family unit carries the code
    QString description;  // the family unit's DENOMINAZIONE, NOME_OSPITANTE, COMUNE
    QString host;
    QString municipality;

    PersonFacts facts() const { return {NameKey::of(surname, name), birth}; }
};

// A member found to look like the one being checked.
struct DuplicateMatch {
    RegisteredPerson other;
    Resemblance resemblance;
};

// Two members of the registry that are likely one person ("Doppioni").
struct DuplicatePair {
    RegisteredPerson first;
    RegisteredPerson second;
    Resemblance resemblance;
};

// The registry's side of the duplicate check (the rule is DuplicateRule).
//
// The database keeps each member's name key in CHIAVE_NOMINATIVO, indexed
// with the birth date, and the birth date alone: one member is checked with
// two index look-ups (the name keys, and the birth dates a mistyped one could
// be), never a reading of every member. The program computes the key, for
// both databases alike; a change of surname or name made without it (by the
// window's cursors, or by any other tool) empties it by a trigger, and the
// program fills the keys found empty before it looks anything up.
namespace duplicates {

// Fills every empty name key; returns how many it filled.
int fillMissingKeys(Engine& engine);

// Stores the name key of the member `memberId`, as it stands now.
void storeKey(Engine& engine, qint64 memberId);

// The members who look like a person with these surname, name and birth
// date, likely ones first; `self` (a stored member being changed, 0 for a new
// one) and the members declared another person than `self` are left out.
std::vector<DuplicateMatch> find(Engine& engine, const QString& surname, const QString& name,
                                 const QDate& birth, qint64 self = 0);

// Remembers that two members are not the same person: they are never shown
// as duplicates of each other again.
void declareDifferent(Engine& engine, qint64 a, qint64 b);

// Every likely pair of the registry, in the order of their first member's
// surname and name, without the pairs declared different.
std::vector<DuplicatePair> likelyPairs(Engine& engine);

// Every member of the registry, with the family unit of its code.
std::vector<RegisteredPerson> everyone(Engine& engine);

// The pairs declared different, each as (smaller counter, larger).
QSet<std::pair<qint64, qint64>> declaredDifferent(Engine& engine);

}  // namespace duplicates

// People held in memory, found by name key and by birth date as the
// database's indexes find them: the import compares a whole file with the
// registry and with itself this way, and "Doppioni" the registry with itself.
class PeopleIndex {
public:
    // Adds a person under `ref`, the caller's number for it.
    void add(int ref, const PersonFacts& person);
    // Calls `candidate` once for each ref that may look like `person` (its
    // name keys, either order, and its likely birth dates, with letters
    // close enough); compare() says whether it does.
    template <typename F>
    void forEachCandidate(const PersonFacts& person, F candidate) const {
        ++m_round;
        const auto visit = [&](const QVector<int>* refs) {
            if (!refs)
                return;
            for (int ref : *refs) {
                Entry& e = m_entries[size_t(ref)];
                if (e.seen == m_round)
                    continue;
                e.seen = m_round;
                // Told apart by the letters of the names, without a look at
                // the caller's data.
                if (lettersMayMatch(person.surnameLetters, person.nameLetters, e.surnameLetters,
                                    e.nameLetters))
                    candidate(ref);
            }
        };
        if (!person.key.isEmpty()) {
            visit(find(m_byKey, person.key.stored()));
            visit(find(m_byKey, person.key.swapped().stored()));
        }
        for (const QDate& d : likelyBirthDates(person.birth))
            visit(find(m_byDate, d.toJulianDay()));
    }

private:
    template <typename K>
    static const QVector<int>* find(const QHash<K, QVector<int>>& h, const K& k) {
        const auto it = h.constFind(k);
        return it == h.constEnd() ? nullptr : &it.value();
    }
    struct Entry {
        quint32 surnameLetters = 0;
        quint32 nameLetters = 0;
        unsigned seen = 0;
    };
    QHash<QString, QVector<int>> m_byKey;
    QHash<qint64, QVector<int>> m_byDate;
    mutable std::vector<Entry> m_entries;
    mutable unsigned m_round = 0;
};

}  // namespace marvesa
