#pragma once

#include <QDate>
#include <QString>
#include <QVariant>
#include <vector>

namespace marvesa {

// What the anonymisation does to a column.
enum class Erasure {
    Blank,         // the text becomes empty (NULL stays NULL)
    QuarterStart,  // a date becomes the first day of its quarter; anything
                   // else stored there (no date) becomes NULL
};

// A column that holds personal data of the people of a family unit.
struct PersonalColumn {
    const char* table;
    const char* column;
    Erasure erasure;
};

// Every column the anonymisation erases, in every table that holds them:
// the family unit's description, host, address and telephone; the members'
// names, copies of the host data, notes and birth dates; the same in the
// rows a past export left in TBL_EXPORT. Their history rows (TBL_STORICO)
// lose the same values. Everything else stays: sex, citizenship, country of
// birth, relationship, municipality, border and the dates "Riepilogo"
// counts by.
//
// The one list of what to erase: a column added later that holds personal
// data (a name key derived from the names, for instance) is one line here,
// and the anonymisation, its preview and the history's rewriting follow it.
const std::vector<PersonalColumn>& personalColumns();

// The personal columns of one table.
std::vector<const PersonalColumn*> personalColumnsOf(const QString& table);

// What a stored value becomes (`stored` as the engine reads it: text, or a
// date-time on a server). Values that need no change come back unchanged.
QVariant erasedValue(const QVariant& stored, Erasure erasure);

// The first day of the quarter of `date` (1 January, 1 April, 1 July,
// 1 October).
QDate quarterStart(const QDate& date);

}  // namespace marvesa
