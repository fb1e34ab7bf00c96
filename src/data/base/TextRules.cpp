#include "data/base/TextRules.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

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

QString toCapitals(const QString& s) {
    QString out;
    out.reserve(s.size());
    for (int i = 0; i < s.size();) {
        char32_t c = s.at(i).unicode();
        int units = 1;
        if (QChar::isHighSurrogate(c) && i + 1 < s.size() && s.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(s.at(i), s.at(i + 1));
            units = 2;
        }
        char32_t upper = QChar::toUpper(c);
        if (QChar::requiresSurrogates(upper) != (units == 2))
            upper = c;
        if (QChar::requiresSurrogates(upper)) {
            out += QChar(QChar::highSurrogate(upper));
            out += QChar(QChar::lowSurrogate(upper));
        } else {
            out += QChar(char16_t(upper));
        }
        i += units;
    }
    return out;
}

namespace {

// Letters that carry their mark in themselves, so that taking the accents
// away (the canonical decomposition) leaves them as they are.
QString plainLetter(QChar c) {
    switch (c.unicode()) {
        case 0x00DF:  // ß
        case 0x1E9E:
            return QStringLiteral("SS");
        case 0x00C6:  // Æ
        case 0x00E6:
            return QStringLiteral("AE");
        case 0x0152:  // Œ
        case 0x0153:
            return QStringLiteral("OE");
        case 0x00D8:  // Ø
        case 0x00F8:
            return QStringLiteral("O");
        case 0x0141:  // Ł
        case 0x0142:
            return QStringLiteral("L");
        case 0x0110:  // Đ
        case 0x0111:
            return QStringLiteral("D");
        case 0x0131:  // dotless i
            return QStringLiteral("I");
        default:
            return QString();
    }
}

}  // namespace

QString foldForMatching(const QString& s) {
    const QString decomposed = s.normalized(QString::NormalizationForm_D);
    QString out;
    out.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        if (c.isLetter()) {
            const QString plain = plainLetter(c);
            out += plain.isEmpty() ? c.toUpper() : plain;
        } else if (c.isDigit()) {
            out += c;
        }
        // Accents (marks), blanks and punctuation are left out.
    }
    return out;
}

namespace {

// The distance with rows of the table in `rows` (three of m + 1 each).
int editDistanceIn(const QString& a, const QString& b, int limit, int* rows) {
    const int n = int(a.size()), m = int(b.size());
    // The row before the previous (for swaps), the previous and the current.
    int* before = rows;
    int* previous = rows + (m + 1);
    int* current = rows + 2 * (m + 1);
    for (int j = 0; j <= m; ++j)
        previous[j] = j;
    for (int i = 1; i <= n; ++i) {
        current[0] = i;
        int rowBest = current[0];
        for (int j = 1; j <= m; ++j) {
            const int cost = a.at(i - 1) == b.at(j - 1) ? 0 : 1;
            int d = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + cost});
            if (i > 1 && j > 1 && a.at(i - 1) == b.at(j - 2) && a.at(i - 2) == b.at(j - 1))
                d = std::min(d, before[j - 2] + 1);
            current[j] = d;
            rowBest = std::min(rowBest, d);
        }
        // A swap reaches back two rows, but the row between never holds less
        // than one edit fewer: once a whole row is past the limit, so is the
        // distance.
        if (rowBest > limit)
            return limit + 1;
        int* spare = before;
        before = previous;
        previous = current;
        current = spare;
    }
    return std::min(previous[m], limit + 1);
}

}  // namespace

int editDistance(const QString& a, const QString& b, int limit) {
    const int n = int(a.size()), m = int(b.size());
    if (std::abs(n - m) > limit)
        return limit + 1;
    if (n == 0 || m == 0)
        return std::min(std::max(n, m), limit + 1);
    // Names fit on the stack.
    constexpr int kShort = 64;
    if (m < kShort) {
        int rows[3 * kShort];
        return editDistanceIn(a, b, limit, rows);
    }
    std::vector<int> rows(size_t(3 * (m + 1)));
    return editDistanceIn(a, b, limit, rows.data());
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
