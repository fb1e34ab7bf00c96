#include "export/import/ListMatcher.h"

#include <QRegularExpression>
#include <QSet>

#include "data/base/TextRules.h"

namespace marvesa {

namespace {

// Marks an index key that two entries share.
const QString kAmbiguous = QStringLiteral("\x01");

const QSet<QString>& linkingWords() {
    static const QSet<QString> words = {
        QStringLiteral("DI"),    QStringLiteral("DA"),    QStringLiteral("DEL"),
        QStringLiteral("DELLO"), QStringLiteral("DELLA"), QStringLiteral("DELL"),
        QStringLiteral("DEI"),   QStringLiteral("DEGLI"), QStringLiteral("DELLE"),
        QStringLiteral("NEL"),   QStringLiteral("NELL"),  QStringLiteral("NELLO"),
        QStringLiteral("NELLA"), QStringLiteral("NEI"),   QStringLiteral("NEGLI"),
        QStringLiteral("NELLE"), QStringLiteral("SUL"),   QStringLiteral("SULL"),
        QStringLiteral("SULLO"), QStringLiteral("SULLA"), QStringLiteral("SUI"),
        QStringLiteral("SUGLI"), QStringLiteral("SULLE"), QStringLiteral("IN"),
        QStringLiteral("E"),     QStringLiteral("ED"),    QStringLiteral("D"),
        QStringLiteral("L"),     QStringLiteral("AL"),    QStringLiteral("ALLO"),
        QStringLiteral("ALLA"),  QStringLiteral("ALL"),
    };
    return words;
}

}  // namespace

QString significantWords(const QString& text) {
    static const QRegularExpression separators(QStringLiteral("[^\\p{L}\\p{N}\\p{M}]+"));
    QStringList words;
    for (const QString& w : text.split(separators, Qt::SkipEmptyParts)) {
        const QString f = foldForMatching(w);
        if (!f.isEmpty() && !linkingWords().contains(f))
            words << f;
    }
    return words.join(QLatin1Char(' '));
}

ListMatcher::ListMatcher(const QStringList& entries, bool pairedItems) : m_entries(entries) {
    m_folded.reserve(entries.size());
    for (const QString& e : entries) {
        m_folded << foldForMatching(e);
        add(m_exact, m_folded.last(), e);
        add(m_words, significantWords(e), e);
        if (pairedItems && e.contains(QLatin1Char('/'))) {
            for (const QString& part : e.split(QLatin1Char('/')))
                add(m_exact, foldForMatching(part), e);
        }
    }
}

void ListMatcher::add(QHash<QString, QString>& index, const QString& key, const QString& entry) {
    if (key.isEmpty())
        return;
    const auto it = index.find(key);
    if (it == index.end())
        index.insert(key, entry);
    else if (it.value() != entry)
        it.value() = kAmbiguous;
}

QString ListMatcher::match(const QString& text) const {
    const QString exact = m_exact.value(foldForMatching(text));
    if (!exact.isEmpty())
        return exact == kAmbiguous ? QString() : exact;
    const QString byWords = m_words.value(significantWords(text));
    return byWords == kAmbiguous ? QString() : byWords;
}

QString ListMatcher::nearest(const QString& text) const {
    const QString folded = foldForMatching(text);
    if (folded.isEmpty())
        return QString();
    // Nothing further than a third of the letters away (at least two).
    const int limit = std::max(2, int(folded.size()) / 3);
    int best = limit + 1;
    QString found;
    for (int i = 0; i < m_entries.size(); ++i) {
        const int d = editDistance(folded, m_folded.at(i), best - 1);
        if (d < best) {
            best = d;
            found = m_entries.at(i);
        }
    }
    return found;
}

}  // namespace marvesa
