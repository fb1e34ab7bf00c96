#pragma once

// What the engines' variants of the registry queries share: reading the rows
// their searches return and the values their summaries count.

#include <QDate>
#include <QHash>
#include <QString>
#include <QVariant>
#include <QVector>
#include <vector>

#include "data/registry/RegistryQueries.h"

namespace marvesa::registry_rows {

using Row = QVector<QVariant>;

// A stored date-time's day: the ISO 8601 text a file database holds, or a
// server's timestamp. Invalid for NULL and for what cannot be read.
QDate storedDate(const QVariant& value);

QString isoDay(const QDate& day);

// Largest count first; equal counts by name, as the operator's locale sorts.
void sortByCount(std::vector<NamedCount>& counts);

// A family unit a search query returns, its columns being ID_NUCLEO,
// CODICE_NUCLEO, DENOMINAZIONE, NOME_OSPITANTE, COMUNE.
SearchHit familyHit(const Row& row);

// A member a search query returns, its columns being ID_ANAGRAFICA, COGNOME,
// NOME, DATA_NASCITA, CODICE_NUCLEO, then the family unit's ID_NUCLEO,
// DENOMINAZIONE, NOME_OSPITANTE and COMUNE (NULL when no family unit carries
// the member's code).
SearchHit memberHit(const Row& row);

// The family units' counts of a summary: hosted, ended, ending within 7 and
// within 30 days, in this order.
void readFamilyCounts(const Row& row, OfficeSummary* summary);

// A hosting that ends soon: ID_NUCLEO, CODICE_NUCLEO, DENOMINAZIONE,
// NOME_OSPITANTE, TELEFONO, TERMINE_ALLOGGIO.
EndingHosting endingHosting(const Row& row);

// The hosted people by municipality, citizenship, sex and age band, added
// group by group as a summary query returns them.
class PeopleTally {
public:
    PeopleTally();
    // `sex` is counted as "M", "F" or not given; `band` indexes
    // OfficeSummary::ageBands() (out of range: the nearest band). An empty
    // municipality or citizenship counts as not given.
    void add(const QString& municipality, const QString& citizenship, const QString& sex, int band,
             int people);
    // The four breakdowns; municipalities and citizenships largest first.
    void writeInto(OfficeSummary* summary) const;

private:
    QHash<QString, int> m_municipality;
    QHash<QString, int> m_citizenship;
    int m_male = 0;
    int m_female = 0;
    int m_unknownSex = 0;
    std::vector<int> m_bands;
};

}  // namespace marvesa::registry_rows
