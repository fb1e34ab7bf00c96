#pragma once

#include <QString>

namespace marvesa {

// A person's surname and name as the duplicate check compares them: in
// capitals, without accents, apostrophes, blanks or punctuation, and in Latin
// letters. "D'Angelo Nicolò", "DANGELO NICOLO'" and "D ANGELO NICOLO" give
// the same key; so do "Шевченко Олександр" and "SHEVCHENKO OLEKSANDR".
//
// Cyrillic letters are written in Latin letters by one table: the Ukrainian
// national transliteration (the one of Ukrainian passports, 2010), with the
// letters that only Russian has (Ё, Ъ, Ы, Э) as Russian passports write them.
// The table is the program's own and never changes: the keys are stored in
// the database and compared across desks and versions of the program.
struct NameKey {
    QString surname;
    QString name;

    static NameKey of(const QString& surname, const QString& name);

    // As the database keeps it (CHIAVE_NOMINATIVO of TBL_ANAGRAFICA): the two
    // parts joined by one blank, which neither part contains.
    QString stored() const;
    static NameKey fromStored(const QString& stored);
    // The same person written name first: the parts swapped.
    NameKey swapped() const { return {name, surname}; }

    bool isEmpty() const { return surname.isEmpty() && name.isEmpty(); }
    friend bool operator==(const NameKey& a, const NameKey& b) {
        return a.surname == b.surname && a.name == b.name;
    }
};

// One part of the key: Cyrillic letters in Latin letters, then compared
// ignoring case, accents and punctuation (foldForMatching()).
QString nameKeyPart(const QString& text);

// The Latin letters of a text with Cyrillic letters in it, by the table
// above; other characters as they are.
QString latinLetters(const QString& text);

// Width of the stored key.
inline constexpr int kNameKeyWidth = 200;

}  // namespace marvesa
