#include "data/RegistryRows.h"

#include <QDateTime>
#include <QSqlQuery>
#include <algorithm>

#include "data/Value.h"

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

}  // namespace marvesa::registry_rows
