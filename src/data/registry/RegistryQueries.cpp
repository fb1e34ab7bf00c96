#include "data/registry/RegistryQueries.h"

#include <QRegularExpression>
#include <algorithm>

#include "data/base/Error.h"
#include "data/registry/PostgresRegistryQueries.h"
#include "data/registry/SqliteRegistryQueries.h"
#include "data/sql/QtSqlEngine.h"

namespace marvesa {

namespace {

bool isApostrophe(QChar c) {
    switch (c.unicode()) {
        case 0x0027:  // '
        case 0x0060:  // `
        case 0x00B4:  // ´
        case 0x2018:  // ‘
        case 0x2019:  // ’
        case 0x02BC:  // ʼ
            return true;
        default:
            return false;
    }
}

}  // namespace

QString normalisedSearchText(const QString& text) {
    QString clean;
    clean.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < n && text.at(i + 1).isLowSurrogate()) {
            clean += c;
            clean += text.at(++i);
            continue;
        }
        if (c.isSurrogate())
            continue;  // half of a character
        switch (c.category()) {
            case QChar::Other_Control:
                if (c.isSpace())
                    clean += QLatin1Char(' ');
                continue;
            case QChar::Other_Format:
                continue;
            default:
                break;
        }
        // Before the folding, which would make "´" a blank and an accent.
        clean += isApostrophe(c) ? QLatin1Char('\'') : c;
    }
    return clean.normalized(QString::NormalizationForm_KC);
}

QStringList searchWords(const QString& text) {
    // A word is a run of letters, digits and the accents on them, as the
    // server's search function reads the rows (and a file's tokenizer would,
    // but for the signs newer than its tables): anything else between them,
    // a blank, a hyphen or an emoji, parts words. Apostrophes are dropped.
    QStringList words;
    QString word;
    bool meaningful = false;
    const auto endWord = [&] {
        if (meaningful && words.size() < kMaxSearchWords) {
            if (word.size() > kMaxSearchWordLength) {
                word.truncate(kMaxSearchWordLength);
                if (word.back().isHighSurrogate())
                    word.chop(1);
            }
            words << word;
        }
        word.clear();
        meaningful = false;
    };
    const QString normalised = normalisedSearchText(text);
    const qsizetype n = normalised.size();
    for (qsizetype i = 0; i < n && words.size() < kMaxSearchWords; ++i) {
        char32_t c = normalised.at(i).unicode();
        const bool pair =
            QChar::isHighSurrogate(c) && i + 1 < n && normalised.at(i + 1).isLowSurrogate();
        if (pair)
            c = QChar::surrogateToUcs4(normalised.at(i), normalised.at(i + 1));
        if (c == u'\'') {
            continue;
        }
        if (QChar::isLetterOrNumber(c)) {
            meaningful = true;
        } else if (!QChar::isMark(c)) {
            endWord();
            if (pair)
                ++i;
            continue;
        }
        word += normalised.at(i);
        if (pair)
            word += normalised.at(++i);
    }
    endWord();
    return words;
}

bool isSearchable(const QString& text) {
    int characters = 0;
    for (const QString& w : searchWords(text))
        characters += int(w.size());
    return characters >= 2;
}

const QStringList& OfficeSummary::ageBands() {
    static const QStringList bands = {QStringLiteral("0-5"), QStringLiteral("6-17"),
                                      QStringLiteral("18-64"), QStringLiteral("65 e oltre"),
                                      QStringLiteral("non indicata")};
    return bands;
}

int OfficeSummary::ageBandOf(const QDate& birth, const QDate& today) {
    if (!birth.isValid() || birth > today)
        return 4;
    int age = today.year() - birth.year();
    if (today.month() < birth.month() ||
        (today.month() == birth.month() && today.day() < birth.day())) {
        --age;
    }
    if (age <= 5)
        return 0;
    if (age <= 17)
        return 1;
    if (age <= 64)
        return 2;
    return 3;
}

std::vector<NamedCount> OfficeSummary::municipalityChart(int top) const {
    std::vector<NamedCount> chart;
    int others = 0;
    for (int i = 0; i < int(byMunicipality.size()); ++i) {
        if (i < top) {
            chart.push_back(byMunicipality[i]);
        } else {
            others += byMunicipality[i].count;
        }
    }
    if (int(byMunicipality.size()) > top)
        chart.push_back({QStringLiteral("Altri"), others});
    return chart;
}

QString OfficeSummary::toTabSeparatedText() const {
    const QChar tab = QLatin1Char('\t');
    const QChar nl = QLatin1Char('\n');
    const QString day = today.toString(QStringLiteral("dd/MM/yyyy"));
    QString out;
    out += QStringLiteral("Riepilogo al ") + day + nl + nl;
    out += QStringLiteral("\tNuclei\tPersone\n");
    out += QStringLiteral("Ospitati ora\t%1\t%2\n").arg(familiesHosted).arg(peopleHosted);
    out += QStringLiteral("Ospitalità terminate\t%1\t%2\n").arg(familiesEnded).arg(peopleEnded);
    out += nl;
    out += QStringLiteral("Ospitalità in scadenza entro 7 giorni\t%1\n").arg(endingWithin7);
    out += QStringLiteral("Ospitalità in scadenza entro 30 giorni\t%1\n").arg(endingWithin30);
    out += QStringLiteral("Codice Nucleo\tDescrizione\tOspitante\tTelefono\tTermine Ospitalità\n");
    for (const EndingHosting& e : ending) {
        out += e.familyCode + tab + e.description + tab + e.host + tab + e.telephone + tab +
               e.end.toString(QStringLiteral("dd/MM/yyyy")) + nl;
    }
    const auto table = [&](const QString& title, const std::vector<NamedCount>& rows) {
        out += nl + title + QStringLiteral("\tPersone\n");
        for (const NamedCount& r : rows)
            out += r.name + tab + QString::number(r.count) + nl;
    };
    table(QStringLiteral("Comune"), byMunicipality);
    table(QStringLiteral("Cittadinanza"), byCitizenship);
    table(QStringLiteral("Sesso"), bySex);
    table(QStringLiteral("Fascia d'età"), byAgeBand);
    return out;
}

void forgetErasedWords(QtSqlEngine& engine) {
    switch (engine.dialect()) {
        case SqlDialect::SQLite:
            SqliteRegistryQueries::mergeSearchTables(engine);
            break;
        case SqlDialect::PostgreSQL:
            // The trigram indexes follow the rows: an erased value's entries
            // go with the old row version when the server vacuums the table.
            break;
    }
}

std::unique_ptr<RegistryQueries> registryQueriesFor(Engine& engine) {
    if (auto* sql = dynamic_cast<QtSqlEngine*>(&engine)) {
        switch (sql->dialect()) {
            case SqlDialect::SQLite:
                return std::make_unique<SqliteRegistryQueries>(*sql);
            case SqlDialect::PostgreSQL:
                return std::make_unique<PostgresRegistryQueries>(*sql);
        }
    }
    throw Error(QStringLiteral("La ricerca non è disponibile per questo database"));
}

}  // namespace marvesa
