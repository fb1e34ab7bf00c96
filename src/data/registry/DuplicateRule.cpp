#include "data/registry/DuplicateRule.h"

#include <QtAlgorithms>
#include <algorithm>
#include <cstdlib>

#include "data/base/TextRules.h"

namespace marvesa {

namespace {

quint32 lettersOf(const QString& part) {
    quint32 bits = 0;
    for (const QChar c : part) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            bits |= 1u << (c.unicode() - u'A');
    }
    return bits;
}

// Each edit adds or takes away at most two letters of the set a part holds.
bool partsClose(const QString& a, quint32 aLetters, const QString& b, quint32 bLetters) {
    if (a == b)
        return true;
    const int allowed = allowedEdits(int(std::min(a.size(), b.size())));
    if (allowed == 0 || std::abs(int(a.size() - b.size())) > allowed ||
        int(qPopulationCount(aLetters ^ bLetters)) > 2 * allowed)
        return false;
    return editDistance(a, b, allowed) <= allowed;
}

bool sameOrder(const PersonFacts& a, const PersonFacts& b) {
    return partsClose(a.key.surname, a.surnameLetters, b.key.surname, b.surnameLetters) &&
           partsClose(a.key.name, a.nameLetters, b.key.name, b.nameLetters);
}

bool swappedOrder(const PersonFacts& a, const PersonFacts& b) {
    return partsClose(a.key.surname, a.surnameLetters, b.key.name, b.nameLetters) &&
           partsClose(a.key.name, a.nameLetters, b.key.surname, b.surnameLetters);
}

bool swappedDayAndMonth(const PersonFacts& a, const PersonFacts& b) {
    return a.year == b.year && a.day == b.month && a.month == b.day && a.day != a.month;
}

// The digits of dd/mm/yyyy that differ.
int digitsApart(const PersonFacts& a, const PersonFacts& b) {
    const int x[8] = {a.day / 10,    a.day % 10,        a.month / 10,     a.month % 10,
                      a.year / 1000, a.year / 100 % 10, a.year / 10 % 10, a.year % 10};
    const int y[8] = {b.day / 10,    b.day % 10,        b.month / 10,     b.month % 10,
                      b.year / 1000, b.year / 100 % 10, b.year / 10 % 10, b.year % 10};
    int different = 0;
    for (int i = 0; i < 8; ++i)
        different += x[i] != y[i];
    return different;
}

bool withinThreeYears(const QDate& a, const QDate& b) {
    const QDate& earlier = std::min(a, b);
    const QDate& later = std::max(a, b);
    return later <= earlier.addYears(3);
}

}  // namespace

int allowedEdits(int letters) {
    if (letters >= 7)
        return 2;
    if (letters >= 4)
        return 1;
    return 0;
}

PersonFacts::PersonFacts(NameKey k, const QDate& b)
    : key(std::move(k)),
      birth(b),
      surnameLetters(lettersOf(key.surname)),
      nameLetters(lettersOf(key.name)) {
    if (birth.isValid())
        birth.getDate(&year, &month, &day);
}

bool namesClose(const NameKey& a, const NameKey& b) {
    const PersonFacts x(a, QDate()), y(b, QDate());
    return sameOrder(x, y) || swappedOrder(x, y);
}

Resemblance compare(const PersonFacts& a, const PersonFacts& b) {
    Resemblance r;
    if (a.key.isEmpty() || b.key.isEmpty())
        return r;
    if (!lettersMayMatch(a.surnameLetters, a.nameLetters, b.surnameLetters, b.nameLetters))
        return r;
    const bool equalNames = a.key == b.key;
    const bool swappedNames =
        !equalNames && a.key.surname == b.key.name && a.key.name == b.key.surname;
    const bool bothDates = a.birth.isValid() && b.birth.isValid();

    if (bothDates) {
        // The dates first: they part most pairs at once.
        QString dates;
        if (a.birth == b.birth)
            dates = QStringLiteral("stessa data di nascita");
        else if (swappedDayAndMonth(a, b))
            dates = QStringLiteral("data di nascita con giorno e mese scambiati");
        else if (digitsApart(a, b) == 1)
            dates = QStringLiteral("data di nascita diversa per una cifra");
        if (!dates.isEmpty() &&
            (equalNames || swappedNames || sameOrder(a, b) || swappedOrder(a, b))) {
            r.likeness = Likeness::Likely;
            if (equalNames)
                r.reasons << QStringLiteral("stesso cognome e nome");
            else if (swappedNames)
                r.reasons << QStringLiteral("cognome e nome scambiati");
            else
                r.reasons << QStringLiteral("cognome e nome quasi uguali");
            r.reasons << dates;
            return r;
        }
    }
    if (equalNames || swappedNames) {
        QString dates;
        if (!a.birth.isValid() || !b.birth.isValid())
            dates = QStringLiteral("data di nascita mancante");
        else if (withinThreeYears(a.birth, b.birth))
            dates = QStringLiteral("date di nascita entro tre anni");
        if (!dates.isEmpty()) {
            r.likeness = Likeness::Possible;
            r.reasons << (equalNames ? QStringLiteral("stesso cognome e nome")
                                     : QStringLiteral("cognome e nome scambiati"))
                      << dates;
        }
    }
    return r;
}

QVector<QDate> likelyBirthDates(const QDate& birth) {
    QVector<QDate> dates;
    if (!birth.isValid() || birth.year() < 1 || birth.year() > 9999)
        return dates;
    dates.reserve(76);
    dates << birth;
    if (QDate::isValid(birth.year(), birth.day(), birth.month()) && birth.day() != birth.month())
        dates << QDate(birth.year(), birth.day(), birth.month());
    // The eight digits of dd/mm/yyyy, each replaced in turn by the nine
    // others; only real dates count. No two of these are equal.
    const int digits[8] = {birth.day() / 10,       birth.day() % 10,    birth.month() / 10,
                           birth.month() % 10,     birth.year() / 1000, birth.year() / 100 % 10,
                           birth.year() / 10 % 10, birth.year() % 10};
    for (int i = 0; i < 8; ++i) {
        for (int d = 0; d <= 9; ++d) {
            if (d == digits[i])
                continue;
            int v[8];
            std::copy(digits, digits + 8, v);
            v[i] = d;
            const int day = v[0] * 10 + v[1], month = v[2] * 10 + v[3];
            const int year = v[4] * 1000 + v[5] * 100 + v[6] * 10 + v[7];
            // Day and month swapped always differ in two digits or none:
            // never listed twice.
            if (year >= 1 && QDate::isValid(year, month, day))
                dates << QDate(year, month, day);
        }
    }
    return dates;
}

QString likenessText(Likeness likeness) {
    switch (likeness) {
        case Likeness::Likely:
            return QStringLiteral("probabile");
        case Likeness::Possible:
            return QStringLiteral("possibile");
        case Likeness::None:
            break;
    }
    return QString();
}

}  // namespace marvesa
