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
