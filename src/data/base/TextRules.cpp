#include "data/base/TextRules.h"

#include "data/base/Error.h"

namespace marvesa {

QString cutToWidth(const QString& s, int width) {
    if (s.size() <= width)
        return s;
    int n = width;
    if (n > 0 && s.at(n - 1).isHighSurrogate() && s.at(n).isLowSurrogate())
        --n;
    return s.left(n);
}

QString trimControlText(const QString& s) {
    int begin = 0, end = s.size();
    while (begin < end && s.at(begin).unicode() <= 0x20)
        ++begin;
    while (end > begin && s.at(end - 1).unicode() <= 0x20)
        --end;
    return s.mid(begin, end - begin);
}

namespace {

bool isBlank(QChar c) {
    return c == QLatin1Char(' ');
}

// Reads a number of decimal digits at `pos`; blanks before it are skipped.
bool scanNumber(const QString& s, int& pos, int* value, int* digits) {
    while (pos < s.size() && isBlank(s.at(pos)))
        ++pos;
    int n = 0, count = 0;
    while (pos < s.size() && s.at(pos) >= QLatin1Char('0') && s.at(pos) <= QLatin1Char('9')) {
        if (count < 9)
            n = n * 10 + (s.at(pos).unicode() - u'0');
        ++count;
        ++pos;
    }
    if (count == 0 || count > 9)
        return false;
    *value = n;
    *digits = count;
    return true;
}

bool scanSeparator(const QString& s, int& pos) {
    while (pos < s.size() && isBlank(s.at(pos)))
        ++pos;
    if (pos < s.size() && s.at(pos) == QLatin1Char('/')) {
        ++pos;
        return true;
    }
    return false;
}

}  // namespace

QDate parseDateText(const QString& text, int referenceYear) {
    int pos = 0, day, month, year, dayDigits, monthDigits, yearDigits;
    if (!scanNumber(text, pos, &day, &dayDigits) || !scanSeparator(text, pos) ||
        !scanNumber(text, pos, &month, &monthDigits) || !scanSeparator(text, pos) ||
        !scanNumber(text, pos, &year, &yearDigits)) {
        return QDate();
    }
    while (pos < text.size() && isBlank(text.at(pos)))
        ++pos;
    if (pos != text.size())
        return QDate();
    if (yearDigits > 4)
        return QDate();
    if (yearDigits <= 2) {
        const int windowStart = referenceYear - 50;
        year += (windowStart / 100) * 100;
        if (year < windowStart)
            year += 100;
    }
    if (year < 1 || year > 9999 || month < 1 || month > 12)
        return QDate();
    const QDate date(year, month, 1);
    if (day < 1 || day > date.daysInMonth())
        return QDate();
    return QDate(year, month, day);
}

QDate dateFromText(const QString& text) {
    const QDate d = parseDateText(text, QDate::currentDate().year());
    if (!d.isValid()) {
        throw Error(QStringLiteral("'%1' is not a valid date and time").arg(text));
    }
    return d;
}

}  // namespace marvesa
