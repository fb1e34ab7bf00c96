#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtAlgorithms>

#include "data/registry/NameKey.h"

namespace marvesa {

// What the duplicate check knows of a person: the name key and the birth
// date (invalid when missing or unreadable), with the letters each part of
// the name holds (one bit for each of A to Z), which let most pairs of
// different names be told apart without counting edits.
struct PersonFacts {
    PersonFacts() = default;
    PersonFacts(NameKey key, const QDate& birth);

    NameKey key;
    QDate birth;
    quint32 surnameLetters = 0;
    quint32 nameLetters = 0;
    // The birth date's day, month and year, read once (all 0 without one):
    // an import compares each person with hundreds of others born on
    // nearby dates.
    int day = 0;
    int month = 0;
    int year = 0;
};

// Whether names holding these letters (PersonFacts' sets) leave room for
// the rule below to find them close, in either order: an edit adds or takes
// away at most two letters of a part's set, and no part is allowed more than
// two edits. Most pairs of people are told apart here alone.
inline bool lettersMayMatch(quint32 aSurname, quint32 aName, quint32 bSurname, quint32 bName) {
    const auto near = [](quint32 x, quint32 y) { return qPopulationCount(x ^ y) <= 4u; };
    return (near(aSurname, bSurname) && near(aName, bName)) ||
           (near(aSurname, bName) && near(aName, bSurname));
}

// How much two members look like one person.
enum class Likeness { None, Possible, Likely };

struct Resemblance {
    Likeness likeness = Likeness::None;
    // Why, in Italian, for the clerk: "stesso nome", "giorno e mese
    // scambiati", ...
    QStringList reasons;
};

// The rule, in one place. Two members are
//
//   LIKELY the same person when their names are close and their birth dates
//   agree as a hand would mistype them:
//     - names close: surname with surname and name with name (or, written
//       the other way round, surname with name), each differing by at most
//       one edit for 4 to 6 letters and two for 7 and more (the shorter of
//       the two counts); shorter parts must be equal. An edit is a letter
//       left out, added or changed, or two neighbouring letters swapped:
//       the slips of typing a name heard or read (ROSI for ROSSI, ROSSO,
//       ROSIS). Short names stay exact, since LI and LU are two people.
//     - dates that agree: equal; or day and month swapped (05/12 for 12/05,
//       the order of an English form); or one digit of dd/mm/yyyy different
//       (a slip of one key).
//
//   POSSIBLY the same person when the names match (equal keys, in either
//   order) and the birth dates are within three years of each other, or
//   either is missing: the same name with a birth year given approximately,
//   as happens when a date is not known and is estimated.
//
// Anything else is not shown. Likely pairs are listed in "Doppioni" and
// both kinds are shown at "Salva" and in the import preview.
Resemblance compare(const PersonFacts& a, const PersonFacts& b);

// The edits allowed between two name parts whose shorter has `letters`
// letters.
int allowedEdits(int letters);

// Whether two name keys are close, as the rule above says.
bool namesClose(const NameKey& a, const NameKey& b);

// The birth dates another member may have to be likely the same person as
// one born on `birth`: the date itself, day and month swapped, and every
// real date one digit of dd/mm/yyyy away. Empty for an invalid date.
QVector<QDate> likelyBirthDates(const QDate& birth);

// The words shown for a likeness: "probabile", "possibile".
QString likenessText(Likeness likeness);

}  // namespace marvesa
