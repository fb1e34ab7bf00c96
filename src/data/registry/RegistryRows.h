#pragma once

// What the engines' variants of the registry queries share: reading the rows
// their searches return and the values their summaries count.

#include <QDate>
#include <QHash>
#include <QString>
#include <QVariant>
#include <vector>

#include "data/registry/RegistryQueries.h"

class QSqlQuery;

namespace marvesa::registry_rows {

QString text(const QSqlQuery& query, int column);

// A stored date-time's day: the ISO 8601 text a file database holds, or a
// server's timestamp. Invalid for NULL and for what cannot be read.
QDate storedDate(const QVariant& value);

QString isoDay(const QDate& day);

// Largest count first; equal counts by name, as the operator's locale sorts.
void sortByCount(std::vector<NamedCount>& counts);

// Appends the family units a search query returns, its columns being
// ID_NUCLEO, CODICE_NUCLEO, DENOMINAZIONE, NOME_OSPITANTE, COMUNE.
void appendFamilyHits(QSqlQuery& query, SearchResult* result);

// Appends at most `limit` members a search query returns, setting
// `truncated` when more came. Its columns: ID_ANAGRAFICA, COGNOME, NOME,
// DATA_NASCITA, CODICE_NUCLEO, then the family unit's ID_NUCLEO,
// DENOMINAZIONE, NOME_OSPITANTE and COMUNE (NULL when no family unit carries
// the member's code).
void appendMemberHits(QSqlQuery& query, int limit, SearchResult* result);

// The hosted people by municipality, citizenship, sex and age band, added
// group by group as a summary query returns them.
class PeopleTally {
public:
    PeopleTally();
    // `sex` is counted as "M", "F" or not given; `band` indexes
    // OfficeSummary::ageBands() (out of range: the nearest band). An empty
    // municipality or citizenship counts as not given.
    void add(const QString& municipality, const QString& citizenship, const QString& sex,
             int band, int people);
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
