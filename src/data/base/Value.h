#pragma once

#include <QDateTime>
#include <QString>
#include <QVariant>
#include <variant>

namespace marvesa {

// A column value as the commands see it: NULL, a text, a date-time or an
// integer. NULL is not the empty text.
//
// Date-times are naive: a calendar date and a time of day, with no time zone
// (a birth date must not move when daylight saving time starts). They are
// held as QDateTime in UTC only so that no local-time gap can make one
// invalid.
class Value {
public:
    enum class Kind { Null, Text, DateTime, Integer };

    Value() = default;  // NULL
    static Value text(QString s) { return Value(Data(std::move(s))); }
    static Value dateTime(const QDateTime& dt) { return Value(Data(dt)); }
    static Value date(const QDate& d);
    static Value integer(qint64 i) { return Value(Data(i)); }

    Kind kind() const { return static_cast<Kind>(m_data.index()); }
    bool isNull() const { return kind() == Kind::Null; }

    // Conversions; reading NULL fails with the conversion error
    // ("Could not convert variant of type (Null) into type (OleStr)" for a
    // text, "... (Double)" for a date or a number).
    QString toText() const;
    QDateTime toDateTime() const;
    double toDouble() const;

    // The stored text for a text value, without conversion; empty for others.
    const QString* textIf() const { return std::get_if<QString>(&m_data); }
    const QDateTime* dateTimeIf() const { return std::get_if<QDateTime>(&m_data); }

    // NULL equals NULL and never equals a value; texts compare by UTF-16
    // code units.
    friend bool operator==(const Value& a, const Value& b);
    friend bool operator!=(const Value& a, const Value& b) { return !(a == b); }
    // NULL is less than every value and no value is less than NULL.
    friend bool operator<(const Value& a, const Value& b);
    friend bool operator>(const Value& a, const Value& b) { return b < a; }

private:
    using Data = std::variant<std::monostate, QString, QDateTime, qint64>;
    explicit Value(Data d) : m_data(std::move(d)) {}
    Data m_data;
};

// A naive date-time from its parts (see Value).
QDateTime naiveDateTime(const QDate& date, const QTime& time = QTime(0, 0));

// How date-times are stored in the database: ISO 8601 text,
// "yyyy-MM-ddTHH:mm:ss". Parsing also accepts a blank instead of the "T",
// fractions of a second and a bare date; it gives an invalid QDateTime for
// anything else.
QString dateTimeToStorage(const QDateTime& dt);
QDateTime dateTimeFromStorage(const QString& text);

// A date-time column as a query hands it over: the stored text on a file, a
// QDateTime (or QDate) on a server, read as a naive date-time. Invalid for
// NULL and for anything that is no date.
QDateTime storedDateTime(const QVariant& stored);

// The conversion error for a value of kind `from` read as `to` ("OleStr" or
// "Double").
[[noreturn]] void throwConversionError(const QString& from, const QString& to);

}  // namespace marvesa
