#include "data/registry/RegistryRows.h"

#include <QDateTime>
#include <QSqlQuery>
#include <algorithm>

#include "data/base/Value.h"

namespace marvesa::registry_rows {

QString text(const QSqlQuery& query, int column) {
    return query.value(column).toString();
}

QDate storedDate(const QVariant& value) {
    if (value.isNull())
        return QDate();
    return dateTimeFromStorage(value.toString()).date();
}

QString isoDay(const QDate& day) {
    return day.toString(QStringLiteral("yyyy-MM-dd"));
}

void sortByCount(std::vector<NamedCount>& counts) {
    std::sort(counts.begin(), counts.end(), [](const NamedCount& a, const NamedCount& b) {
        if (a.count != b.count)
            return a.count > b.count;
        return QString::localeAwareCompare(a.name, b.name) < 0;
    });
}

void appendFamilyHits(QSqlQuery& query, SearchResult* result) {
    while (query.next()) {
        SearchHit h;
        h.kind = SearchHit::Kind::FamilyUnit;
        h.familyId = query.value(0).toLongLong();
        h.familyCode = text(query, 1);
        h.description = text(query, 2);
        h.host = text(query, 3);
        h.municipality = text(query, 4);
        result->hits.push_back(h);
    }
}

void appendMemberHits(QSqlQuery& query, int limit, SearchResult* result) {
    int count = 0;
    while (query.next()) {
        if (++count > limit) {
            result->truncated = true;
            break;
        }
        SearchHit h;
        h.kind = SearchHit::Kind::Member;
        h.memberId = query.value(0).toLongLong();
        h.surname = text(query, 1);
        h.name = text(query, 2);
        h.birthDate = storedDate(query.value(3));
        h.familyCode = text(query, 4);
        h.familyId = query.value(5).isNull() ? 0 : query.value(5).toLongLong();
        h.description = text(query, 6);
        h.host = text(query, 7);
        h.municipality = text(query, 8);
        result->hits.push_back(h);
    }
}

PeopleTally::PeopleTally() : m_bands(size_t(OfficeSummary::ageBands().size()), 0) {}

void PeopleTally::add(const QString& municipality, const QString& citizenship,
                      const QString& sex, int band, int people) {
    m_municipality[municipality.isEmpty() ? QStringLiteral("non indicato") : municipality] +=
        people;
    m_citizenship[citizenship.isEmpty() ? QStringLiteral("non indicata") : citizenship] += people;
    (sex == QLatin1String("M")   ? m_male
     : sex == QLatin1String("F") ? m_female
                                 : m_unknownSex) += people;
    m_bands[size_t(qBound(0, band, int(m_bands.size()) - 1))] += people;
}

void PeopleTally::writeInto(OfficeSummary* summary) const {
    for (auto it = m_municipality.cbegin(); it != m_municipality.cend(); ++it)
        summary->byMunicipality.push_back({it.key(), it.value()});
    for (auto it = m_citizenship.cbegin(); it != m_citizenship.cend(); ++it)
        summary->byCitizenship.push_back({it.key(), it.value()});
    sortByCount(summary->byMunicipality);
    sortByCount(summary->byCitizenship);
    summary->bySex = {{QStringLiteral("M"), m_male},
                      {QStringLiteral("F"), m_female},
                      {QStringLiteral("non indicato"), m_unknownSex}};
    for (int i = 0; i < int(m_bands.size()); ++i)
        summary->byAgeBand.push_back({OfficeSummary::ageBands().at(i), m_bands[size_t(i)]});
}

}  // namespace marvesa::registry_rows
