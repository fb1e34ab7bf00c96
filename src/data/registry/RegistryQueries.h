#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

namespace marvesa {

class Engine;
class QtSqlEngine;

// One line found by "Cerca": a member, or a family unit.
struct SearchHit {
    enum class Kind { Member, FamilyUnit };
    Kind kind = Kind::Member;
    qint64 memberId = 0;  // ID_ANAGRAFICA; 0 for a family unit
    qint64 familyId = 0;  // ID_NUCLEO; 0 when no family unit carries the code
    QString surname;      // members
    QString name;
    QDate birthDate;  // invalid when missing or unreadable
    QString familyCode;
    QString description;   // the family unit's DENOMINAZIONE
    QString host;          // the family unit's NOME_OSPITANTE
    QString municipality;  // the family unit's COMUNE
};

struct SearchResult {
    std::vector<SearchHit> hits;  // family units first, then members
    bool truncated = false;       // more matched than were asked for
};

// A count under a name ("Udine", "M", "18-64").
struct NamedCount {
    QString name;
    int count = 0;
};

// A hosting that ends soon.
struct EndingHosting {
    qint64 familyId = 0;
    QString familyCode;
    QString description;
    QString host;
    QString telephone;
    QDate end;
};

// The office's numbers on a given day ("today").
//
// A family unit is hosted on that day when its TERMINE_ALLOGGIO is empty or
// not before the day; its hosting has ended when TERMINE_ALLOGGIO lies before
// the day. People are members: a member is hosted when a family unit that is
// hosted carries its family code, and counts once even when several family
// units carry the code; a member of ended family units only counts as ended.
// Members whose family code no family unit carries count nowhere.
//
// The breakdowns count the people hosted on that day: by the municipality of
// their family unit (its COMUNE), by their own CITTADINANZA and SESSO, and by
// their age in whole years on that day. A member without a readable birth
// date, or born after the day, falls in the band "non indicata"; an empty
// municipality, citizenship or sex reads "non indicato"/"non indicata".
struct OfficeSummary {
    QDate today;
    int familiesHosted = 0;
    int peopleHosted = 0;
    int familiesEnded = 0;
    int peopleEnded = 0;
    int endingWithin7 = 0;              // family units whose hosting ends from today to today + 7
    int endingWithin30 = 0;             // ... to today + 30 (those of the 7 days included)
    std::vector<EndingHosting> ending;  // within 30 days, earliest end first
    std::vector<NamedCount> byMunicipality;  // most people first, then by name
    std::vector<NamedCount> byCitizenship;   // most people first, then by name
    std::vector<NamedCount> bySex;           // "M", "F", then "non indicato"
    std::vector<NamedCount> byAgeBand;       // always the five bands, in order

    // The age bands in the order they are shown.
    static const QStringList& ageBands();  // "0-5", "6-17", "18-64", "65 e oltre", "non indicata"
    // The age band of a person born on `birth` (invalid: unknown) on `today`.
    static int ageBandOf(const QDate& birth, const QDate& today);
    // The first `top` municipalities and the rest summed up as "Altri".
    std::vector<NamedCount> municipalityChart(int top = 10) const;
    // Every table as tab-separated text, for the clipboard.
    QString toTabSeparatedText() const;
};

// Read-only questions about the whole registry that the window's table
// cursors do not answer: "Cerca" and "Riepilogo". Each engine answers them
// with its own means (SQLite: a full-text index kept by triggers); the
// answers always reflect what is stored, whoever stored it.
class RegistryQueries {
public:
    virtual ~RegistryQueries() = default;

    // Members whose surname and name, and family units whose code,
    // description or host, contain a word beginning with each word of
    // `text`, in any order ("rossi mario" and "mario ros" both find ROSSI
    // MARIO); case, accents and apostrophes do not count ("dangelo" finds
    // D'ANGELO, "nicolo" NICOLÒ). At most `limit` of each kind.
    virtual SearchResult find(const QString& text, int limit) = 0;

    virtual OfficeSummary summary(const QDate& today) = 0;

    // Makes ready what find() needs; once per database this may take a
    // while (SQLite builds its search tables), so it is called before the
    // operator starts typing.
    virtual void prepare() {}

    // Whether the queries can still run: false once the connection they
    // were given has closed (the engine it came from disconnected).
    virtual bool isOpen() const { return true; }
};

// The queries on the database of `engine`, which must be connected, on a
// connection of their own that closes with the engine; throws
// marvesa::Error when the engine offers none.
std::unique_ptr<RegistryQueries> registryQueriesFor(Engine& engine);

// Called inside the transaction that erased personal data: the search
// structures keep no word of the values erased (a file merges the segments
// of its full-text tables, which otherwise still hold the old words until
// they merge by themselves; a server's indexes lose the old row versions
// with them when the server vacuums the table).
void forgetErasedWords(QtSqlEngine& engine);

// A typed or pasted search text made comparable, the same for every
// engine: control and invisible formatting characters dropped (a blank in
// place of a tab or a line break), unpaired UTF-16 surrogates dropped,
// typographic apostrophes made "'", then compatibility forms folded (NFKC:
// full-width letters, ligatures).
QString normalisedSearchText(const QString& text);

// The words of a search text as the search compares them: the runs of
// letters and digits (with their accents) of the normalised text, anything
// else (blanks, hyphens, symbols, emoji) parting them, apostrophes removed;
// at most kMaxSearchWords words of at most kMaxSearchWordLength characters
// each (a pasted page searches for its first words).
QStringList searchWords(const QString& text);
inline constexpr int kMaxSearchWords = 8;
inline constexpr int kMaxSearchWordLength = 100;

// Whether a text is long enough to search for: two characters at least,
// apostrophes and blanks not counted.
bool isSearchable(const QString& text);

}  // namespace marvesa
