#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

namespace marvesa {

// Finds what a file means among the entries of a list (municipalities,
// countries, relationships), as a clerk would read it:
//   1. the same entry ignoring case, accents, blanks and punctuation
//      ("reggio nell'emilia", "REGGIO NELL EMILIA");
//   2. otherwise the one entry with the same words once the small linking
//      words (di, del, nell', ...) are left out ("reggio calabria" is
//      "Reggio di Calabria", "Reggio Emilia" is "Reggio nell'Emilia");
//   3. for lists of paired items ("Figlio/Figlia"), either of the pair.
// An entry two of them could mean is not taken.
class ListMatcher {
public:
    explicit ListMatcher(const QStringList& entries, bool pairedItems = false);

    // The entry, or a null string when none is meant.
    QString match(const QString& text) const;
    // The entry that looks most like `text`, for the clerk ("forse ...");
    // empty when nothing comes near.
    QString nearest(const QString& text) const;

private:
    void add(QHash<QString, QString>& index, const QString& key, const QString& entry);
    QStringList m_entries;
    QStringList m_folded;
    QHash<QString, QString> m_exact;
    QHash<QString, QString> m_words;
};

// The words of a name without the linking words, folded and joined.
QString significantWords(const QString& text);

}  // namespace marvesa
