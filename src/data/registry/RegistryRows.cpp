#include "data/registry/RegistryRows.h"

#include <QDateTime>
#include <algorithm>

#include "data/base/Value.h"

namespace marvesa::registry_rows {

QDate storedDate(const QVariant& value) {
    return storedDateTime(value).date();
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

SearchHit familyHit(const Row& row) {
    SearchHit h;
    h.kind = SearchHit::Kind::FamilyUnit;
    h.familyId = row.at(0).toLongLong();
    h.familyCode = row.at(1).toString();
    h.description = row.at(2).toString();
    h.host = row.at(3).toString();
    h.municipality = row.at(4).toString();
    return h;
}

SearchHit memberHit(const Row& row) {
    SearchHit h;
    h.kind = SearchHit::Kind::Member;
    h.memberId = row.at(0).toLongLong();
    h.surname = row.at(1).toString();
    h.name = row.at(2).toString();
    h.birthDate = storedDate(row.at(3));
    h.familyCode = row.at(4).toString();
    h.familyId = row.at(5).isNull() ? 0 : row.at(5).toLongLong();
    h.description = row.at(6).toString();
    h.host = row.at(7).toString();
    h.municipality = row.at(8).toString();
    return h;
}

void readFamilyCounts(const Row& row, OfficeSummary* summary) {
    summary->familiesHosted = row.at(0).toInt();
    summary->familiesEnded = row.at(1).toInt();
    summary->endingWithin7 = row.at(2).toInt();
    summary->endingWithin30 = row.at(3).toInt();
}

EndingHosting endingHosting(const Row& row) {
    return {row.at(0).toLongLong(), row.at(1).toString(), row.at(2).toString(),
            row.at(3).toString(),   row.at(4).toString(), storedDate(row.at(5))};
}

PeopleTally::PeopleTally() : m_bands(size_t(OfficeSummary::ageBands().size()), 0) {}

void PeopleTally::add(const QString& municipality, const QString& citizenship, const QString& sex,
                      int band, int people) {
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
