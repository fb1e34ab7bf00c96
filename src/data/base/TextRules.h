#pragma once

#include <QDate>
#include <QString>

namespace marvesa {

// Blank text: empty, or beginning with a character below U+0021 ("!").
// Equivalently, a text that compares less than "!" by UTF-16 code units.
inline bool isBlankText(const QString& s) {
    return s.isEmpty() || s.at(0).unicode() < 0x21;
}

// Cuts a text to `width` UTF-16 code units, never leaving half of a surrogate
// pair at the end: the whole pair goes instead.
QString cutToWidth(const QString& s, int width);

// The trim of the seven trimmed edits: every code unit up to U+0020 goes from
// both ends; anything above (the no-break space among them) stays.
QString trimControlText(const QString& s);

// The capitals of the letters, as an upper-case edit turns what is typed
// into it: one code point for one, so the length never changes and a width
// limit still holds.
QString toCapitals(const QString& s);

// A text as lists and names are compared ignoring case, accents and
// punctuation: the letters in capitals without their accents (È and E, Ł and
// L alike; ß as SS), the digits, and nothing else (no blanks, apostrophes,
// hyphens or dots). "Sant'Angelo" and "SANT ANGELO" both read SANTANGELO.
QString foldForMatching(const QString& s);

// The number of edits that turn `a` into `b`: a character inserted, deleted
// or replaced, or two neighbouring characters swapped, each counting one
// (the optimal string alignment distance). Counting stops past `limit`:
// anything further reads limit + 1.
int editDistance(const QString& a, const QString& b, int limit);

// Converts typed text into a date: three numbers separated by "/", day, month
// and year, blanks around each number and separator ignored. A year of one or
// two digits falls in the hundred years that begin fifty years before
// `referenceYear`; three or four digits are taken as written. Returns an
// invalid date for anything else.
QDate parseDateText(const QString& text, int referenceYear);

// The same, with the current year, throwing
// "'<text>' is not a valid date and time" when the text is no date.
QDate dateFromText(const QString& text);

}  // namespace marvesa
