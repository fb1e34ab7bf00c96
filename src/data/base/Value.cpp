#include "data/base/Value.h"

#include "data/base/Error.h"

namespace marvesa {

namespace {

QString typeName(Value::Kind kind) {
    switch (kind) {
        case Value::Kind::Null:
            return QStringLiteral("Null");
        case Value::Kind::Text:
            return QStringLiteral("OleStr");
        case Value::Kind::DateTime:
            return QStringLiteral("Date");
        case Value::Kind::Integer:
            return QStringLiteral("Int64");
    }
    return QString();
}

// Reads `count` decimal digits at `pos`; -1 when they are not all digits.
int digitsAt(const QString& s, int pos, int count) {
    if (pos + count > s.size())
        return -1;
    int n = 0;
    for (int i = pos; i < pos + count; ++i) {
        const char16_t c = s.at(i).unicode();
        if (c < u'0' || c > u'9')
            return -1;
        n = n * 10 + (c - u'0');
    }
    return n;
}

}  // namespace

void throwConversionError(const QString& from, const QString& to) {
    throw Error(
        QStringLiteral("Could not convert variant of type (%1) into type (%2)").arg(from, to));
}

QDateTime naiveDateTime(const QDate& date, const QTime& time) {
    return QDateTime(date, time, Qt::UTC);
}

Value Value::date(const QDate& d) {
    return dateTime(naiveDateTime(d));
}

QString Value::toText() const {
    switch (kind()) {
        case Kind::Null:
            throwConversionError(typeName(Kind::Null), QStringLiteral("OleStr"));
        case Kind::Text:
            return std::get<QString>(m_data);
        case Kind::Integer:
            return QString::number(std::get<qint64>(m_data));
        case Kind::DateTime: {
            const QDateTime& dt = std::get<QDateTime>(m_data);
            QString s = dt.date().toString(QStringLiteral("dd/MM/yyyy"));
            if (dt.time() != QTime(0, 0))
                s += dt.time().toString(QStringLiteral(" HH:mm:ss"));
            return s;
        }
    }
    return QString();
}

QDateTime Value::toDateTime() const {
    switch (kind()) {
        case Kind::DateTime:
            return std::get<QDateTime>(m_data);
        default:
            throwConversionError(typeName(kind()), QStringLiteral("Double"));
    }
}

double Value::toDouble() const {
    switch (kind()) {
        case Kind::Integer:
            return static_cast<double>(std::get<qint64>(m_data));
        case Kind::DateTime: {
            // Days since 30 December 1899, the time of day as the fraction.
            const QDateTime& dt = std::get<QDateTime>(m_data);
            const qint64 days = QDate(1899, 12, 30).daysTo(dt.date());
            const double frac = dt.time().msecsSinceStartOfDay() / 86400000.0;
            return days >= 0 ? days + frac : days - frac;
        }
        default:
            throwConversionError(typeName(kind()), QStringLiteral("Double"));
    }
}

bool operator==(const Value& a, const Value& b) {
    if (a.kind() != b.kind())
        return false;
    switch (a.kind()) {
        case Value::Kind::Null:
            return true;
        case Value::Kind::Text:
            return QStringView(std::get<QString>(a.m_data)) ==
                   QStringView(std::get<QString>(b.m_data));
        case Value::Kind::DateTime:
            return std::get<QDateTime>(a.m_data) == std::get<QDateTime>(b.m_data);
        case Value::Kind::Integer:
            return std::get<qint64>(a.m_data) == std::get<qint64>(b.m_data);
    }
    return false;
}

bool operator<(const Value& a, const Value& b) {
    if (b.isNull())
        return false;
    if (a.isNull())
        return true;
    if (a.kind() == Value::Kind::Text && b.kind() == Value::Kind::Text) {
        // QString's ordering is the ordering of UTF-16 code units.
        return std::get<QString>(a.m_data) < std::get<QString>(b.m_data);
    }
    if (a.kind() == b.kind() && a.kind() == Value::Kind::DateTime) {
        return std::get<QDateTime>(a.m_data) < std::get<QDateTime>(b.m_data);
    }
    if (a.kind() == b.kind() && a.kind() == Value::Kind::Integer) {
        return std::get<qint64>(a.m_data) < std::get<qint64>(b.m_data);
    }
    // Mixed kinds: compare as texts, as the commands only ever compare texts.
    return a.toText() < b.toText();
}

QString dateTimeToStorage(const QDateTime& dt) {
    const QDate d = dt.date();
    const QTime t = dt.time();
    if (!d.isValid() || d.year() < 1 || d.year() > 9999 || !t.isValid()) {
        return d.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char('T') +
               t.toString(QStringLiteral("HH:mm:ss"));
    }
    // Written digit by digit: every stored date-time passes through here, and
    // formatting by pattern costs many times more.
    char16_t out[19];
    const auto put = [&out](int pos, int value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10)
            out[pos + i] = char16_t(u'0' + value % 10);
    };
    put(0, d.year(), 4);
    out[4] = u'-';
    put(5, d.month(), 2);
    out[7] = u'-';
    put(8, d.day(), 2);
    out[10] = u'T';
    put(11, t.hour(), 2);
    out[13] = u':';
    put(14, t.minute(), 2);
    out[16] = u':';
    put(17, t.second(), 2);
    return QString(reinterpret_cast<const QChar*>(out), 19);
}

QDateTime storedDateTime(const QVariant& stored) {
    if (stored.isNull())
        return QDateTime();
    switch (stored.typeId()) {
        case QMetaType::QDateTime: {
            const QDateTime dt = stored.toDateTime();
            return naiveDateTime(dt.date(), dt.time());
        }
        case QMetaType::QDate:
            return naiveDateTime(stored.toDate());
        default:
            return dateTimeFromStorage(stored.toString());
    }
}

QDateTime dateTimeFromStorage(const QString& text) {
    const QString s = text.trimmed();
    const int y = digitsAt(s, 0, 4), mo = digitsAt(s, 5, 2), d = digitsAt(s, 8, 2);
    if (y < 0 || mo < 0 || d < 0 || s.at(4) != u'-' || s.at(7) != u'-')
        return QDateTime();
    const QDate date(y, mo, d);
    if (!date.isValid())
        return QDateTime();
    if (s.size() == 10)
        return naiveDateTime(date);
    if (s.size() < 19 || (s.at(10) != u'T' && s.at(10) != u' '))
        return QDateTime();
    const int h = digitsAt(s, 11, 2), mi = digitsAt(s, 14, 2), se = digitsAt(s, 17, 2);
    if (h < 0 || mi < 0 || se < 0 || s.at(13) != u':' || s.at(16) != u':')
        return QDateTime();
    int ms = 0;
    if (s.size() > 19) {
        // A fraction has at least one digit and nothing but digits; only
        // milliseconds are kept.
        if (s.at(19) != u'.' || s.size() == 20)
            return QDateTime();
        for (int i = 20; i < s.size(); ++i) {
            if (s.at(i).unicode() < u'0' || s.at(i).unicode() > u'9')
                return QDateTime();
        }
        const int fracDigits = qMin(3, int(s.size()) - 20);
        ms = digitsAt(s, 20, fracDigits);
        for (int i = fracDigits; i < 3; ++i)
            ms *= 10;
    }
    const QTime time(h, mi, se, ms);
    if (!time.isValid())
        return QDateTime();
    return naiveDateTime(date, time);
}

}  // namespace marvesa
