#include "export/import/ImportPlan.h"

#include <QDir>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QTextStream>
#include <algorithm>

#include "data/base/TextRules.h"
#include "data/registry/DuplicateCheck.h"
#include "data/schema/ReferenceLists.h"
#include "data/schema/TableDefinitions.h"
#include "data/sql/Engine.h"
#include "data/sql/SqlText.h"

namespace marvesa {

namespace {

using F = ImportField;

// The family unit's fields that make it one (the code aside), in order.
const ImportField kFamilyFields[] = {F::Description, F::Host,      F::Municipality,
                                     F::Address,     F::Telephone, F::EndOfHosting};

bool isDateField(ImportField f) {
    return f == F::BirthDate || f == F::EntryDate || f == F::EndOfHosting;
}

// The declared width of the field's column (0: no limit).
int widthOf(const ImportFieldInfo& info) {
    const TableDef& table = info.familyUnit ? schema::nucleo() : schema::anagrafica();
    for (const ColumnDef& c : table.columns) {
        if (c.name == QLatin1String(info.column))
            return c.kind == FieldKind::Text ? c.width : 0;
    }
    return 0;
}

const QVector<int>& widths() {
    static const QVector<int> w = [] {
        QVector<int> v;
        for (const ImportFieldInfo& info : importFields())
            v << widthOf(info);
        return v;
    }();
    return w;
}

QString label(ImportField f) {
    return QString::fromUtf8(importField(f).label);
}

QString quoted(const QString& text) {
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// A date written as the export writes the end of hosting when it has a time
// of day: "dd/mm/yyyy hh:mm:ss".
QDateTime dateWithTime(const QString& text, int year) {
    static const QRegularExpression form(
        QStringLiteral("^(\\S+)\\s+(\\d{1,2}):(\\d{2})(?::(\\d{2}))?$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return QDateTime();
    const QDate d = parseDateText(m.captured(1), year);
    const QTime t(m.captured(2).toInt(), m.captured(3).toInt(), m.captured(4).toInt());
    if (!d.isValid() || !t.isValid())
        return QDateTime();
    return naiveDateTime(d, t);
}

Value dateValue(const FieldRules& rules, ImportField field, const ImportCell& cell,
                const QString& text, QString* problem) {
    if (cell.date.isValid())
        return Value::date(cell.date);
    if (text.isEmpty())
        return Value();
    // As the date fields read typed text: dd/mm/yyyy, a year of two digits
    // in the hundred years around this one.
    QDate d = parseDateText(text, rules.year);
    // A machine's date, yyyy-mm-dd, cannot be mistaken for anything else.
    static const QRegularExpression iso(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    if (!d.isValid() && iso.match(text).hasMatch())
        d = QDate::fromString(text, Qt::ISODate);
    if (d.isValid())
        return Value::date(d);
    const QDateTime withTime = dateWithTime(text, rules.year);
    if (withTime.isValid())
        return Value::dateTime(withTime);
    *problem = QStringLiteral("%1 %2 non è una data").arg(label(field), quoted(text));
    return Value();
}

Value listValue(const ListMatcher& list, ImportField field, const QString& text, QString* note,
                QString* problem) {
    if (text.isEmpty())
        return Value::text(text);
    const QString entry = list.match(text);
    if (entry.isNull()) {
        const QString nearest = list.nearest(text);
        *problem = QStringLiteral("%1 %2 non è nell'elenco").arg(label(field), quoted(text));
        if (!nearest.isEmpty())
            *problem += QStringLiteral(" (forse %1?)").arg(quoted(nearest));
        return Value();
    }
    if (entry != text)
        *note =
            QStringLiteral("%1 %2 letto come %3").arg(label(field), quoted(text), quoted(entry));
    return Value::text(entry);
}

Value sexValue(const QString& text, QString* note, QString* problem) {
    if (text.isEmpty() || text == QLatin1String("M") || text == QLatin1String("F"))
        return Value::text(text);
    const QString folded = foldForMatching(text);
    QString sex;
    if (folded == QLatin1String("MASCHIO") || folded == QLatin1String("MASCHILE") ||
        folded == QLatin1String("UOMO"))
        sex = QStringLiteral("M");
    else if (folded == QLatin1String("FEMMINA") || folded == QLatin1String("FEMMINILE") ||
             folded == QLatin1String("DONNA"))
        sex = QStringLiteral("F");
    if (sex.isEmpty()) {
        *problem = QStringLiteral("Sesso %1 non è M o F").arg(quoted(text));
        return Value();
    }
    *note = QStringLiteral("Sesso %1 letto come %2").arg(quoted(text), quoted(sex));
    return Value::text(sex);
}

// A value as it is stored, for comparing family units.
QString storedForm(const Value& v) {
    switch (v.kind()) {
        case Value::Kind::Null:
            return QStringLiteral("\x01");
        case Value::Kind::DateTime:
            return dateTimeToStorage(*v.dateTimeIf());
        default:
            return v.toText();
    }
}

QString familyKey(const QVector<Value>& values) {
    QString key;
    for (ImportField f : kFamilyFields) {
        key += storedForm(values.at(int(f)));
        key += QChar(0x1F);
    }
    return key;
}

QString dateText(const QDate& d) {
    return d.isValid() ? d.toString(QStringLiteral("dd/MM/yyyy")) : QStringLiteral("senza data");
}

QString personText(const QString& surname, const QString& name, const QDate& birth) {
    return QStringLiteral("%1 %2 %3").arg(surname, name, dateText(birth)).simplified();
}

QString familyText(const QString& code, const QString& description, const QString& host,
                   const QString& municipality) {
    QString t = code.isEmpty() ? QStringLiteral("(senza codice)") : code;
    if (!description.isEmpty())
        t += QLatin1Char(' ') + description;
    QStringList details;
    if (!host.isEmpty())
        details << QStringLiteral("ospitante ") + host;
    if (!municipality.isEmpty())
        details << municipality;
    if (!details.isEmpty())
        t += QStringLiteral(" (") + details.join(QStringLiteral(", ")) + QLatin1Char(')');
    return t;
}

// The registry's family units, by code.
struct RegisteredFamily {
    qint64 id = 0;
    QString text;
};

QHash<QString, RegisteredFamily> registeredFamilies(Engine& engine) {
    QHash<QString, RegisteredFamily> families;
    engine.select(QStringLiteral("SELECT \"ID_NUCLEO\", \"CODICE_NUCLEO\", \"DENOMINAZIONE\", "
                                 "\"NOME_OSPITANTE\", \"COMUNE\" FROM \"TBL_NUCLEO\" WHERE "
                                 "\"CODICE_NUCLEO\" IS NOT NULL ORDER BY \"ID_NUCLEO\""),
                  {}, [&](const QVector<QVariant>& row) {
                      const QString code = row.at(1).toString();
                      if (!code.isEmpty() && !families.contains(code)) {
                          families.insert(
                              code, {row.at(0).toLongLong(),
                                     familyText(code, row.at(2).toString(), row.at(3).toString(),
                                                row.at(4).toString())});
                      }
                      return true;
                  });
    return families;
}

QStringList listOf(Engine& engine, const QString& table, const QString& column,
                   const QString& counter) {
    QStringList list;
    engine.select(
        QStringLiteral("SELECT %1 FROM %2 ORDER BY %3")
            .arg(quoteIdentifier(column), quoteIdentifier(table), quoteIdentifier(counter)),
        {}, [&](const QVector<QVariant>& row) {
            list << row.at(0).toString();
            return true;
        });
    return list;
}

QStringList cellTexts(const ImportRow& row, int columns) {
    QStringList cells;
    for (int i = 0; i < std::max(columns, int(row.cells.size())); ++i)
        cells << row.cell(i).text;
    return cells;
}

}  // namespace

FieldRules::FieldRules(const QStringList& municipalityList, const QStringList& countryList)
    : municipalities(municipalityList),
      countries(countryList),
      relationships(schema::relationshipItems(), true),
      year(QDate::currentDate().year()) {}

Value convertField(const FieldRules& rules, ImportField field, const ImportCell& cell,
                   QString* note, QString* problem) {
    const ImportFieldInfo& info = importField(field);
    QString text = info.trimmed ? trimControlText(cell.text) : cell.text;
    if (isDateField(field))
        return dateValue(rules, field, cell, text, problem);
    if (info.upperCase)
        text = toCapitals(text);
    switch (field) {
        case F::Sex:
            return sexValue(text, note, problem);
        case F::Municipality:
            return listValue(rules.municipalities, field, text, note, problem);
        case F::BirthCountry:
        case F::Citizenship:
            return listValue(rules.countries, field, text, note, problem);
        case F::Relationship:
            return listValue(rules.relationships, field, text, note, problem);
        case F::Note:
            // Left empty, the notes stay empty (NULL), as a member stored
            // without them.
            return text.isEmpty() ? Value() : Value::text(text);
        default:
            break;
    }
    const int width = widths().at(int(field));
    if (width > 0 && text.size() > width) {
        text = cutToWidth(text, width);
        *note = QStringLiteral("%1 tagliato a %2 caratteri").arg(label(field)).arg(width);
    }
    return Value::text(text);
}

int ImportPreview::newFamilies() const {
    int n = 0;
    for (const PlannedFamily& f : families)
        n += f.goesToExisting() ? 0 : 1;
    return n;
}

int ImportPreview::members() const {
    int n = 0;
    for (const PlannedFamily& f : families)
        n += int(f.members.size());
    return n;
}

std::vector<const PlannedFamily*> ImportPreview::existingCodes() const {
    std::vector<const PlannedFamily*> existing;
    for (const PlannedFamily& f : families) {
        if (f.existingId > 0)
            existing.push_back(&f);
    }
    return existing;
}

int ImportPreview::likelyDuplicates() const {
    QSet<int> lines;
    for (const ImportDuplicate& d : duplicates) {
        if (d.resemblance.likeness == Likeness::Likely)
            lines.insert(d.line);
    }
    return int(lines.size());
}

ImportPreview planImport(Engine& engine, TableFile file, const ColumnMapping& mapping) {
    ImportPreview preview;
    preview.mapping = mapping;
    const FieldRules rules(listOf(engine, QStringLiteral("TBL_SYS_COMUNI"),
                                  QStringLiteral("Denominazione"), QStringLiteral("ID_COMUNE")),
                           listOf(engine, QStringLiteral("TBL_SYS_NAZIONE"),
                                  QStringLiteral("Nazione"), QStringLiteral("ID_NAZIONE")));
    const QHash<QString, RegisteredFamily> registered = registeredFamilies(engine);

    QHash<QString, int> familyByKey;   // family values -> preview.families
    QHash<QString, int> familyByCode;  // the file's code -> preview.families
    const int headerCount = int(file.headers.size());
    for (const ImportRow& row : file.rows) {
        QVector<Value> values(kImportFieldCount);
        QStringList problems, missing, notes;
        for (const ImportFieldInfo& info : importFields()) {
            const int column = mapping.column(info.field);
            QString note, problem;
            if (column >= 0) {
                values[int(info.field)] =
                    convertField(rules, info.field, row.cell(column), &note, &problem);
            }
            if (!problem.isEmpty()) {
                problems << problem;
                continue;
            }
            if (!note.isEmpty())
                notes << note;
            // A missing value, as "Salva" finds it: blank text.
            const Value& v = values.at(int(info.field));
            if (info.required && (v.isNull() || (v.textIf() && isBlankText(*v.textIf()))))
                missing << label(info.field);
        }
        if (!missing.isEmpty()) {
            problems.prepend(QStringLiteral("Campi obbligatori mancanti: ") +
                             missing.join(QStringLiteral(", ")));
        }
        if (!problems.isEmpty()) {
            preview.rejected.push_back(
                {row.line, cellTexts(row, headerCount), problems.join(QStringLiteral("; "))});
            continue;
        }
        for (const QString& n : notes)
            preview.notes.push_back({row.line, n});

        // The family unit: by the file's code when it has one, otherwise by
        // every family-unit value.
        const QString code = values.at(int(F::FamilyCode)).isNull()
                                 ? QString()
                                 : values.at(int(F::FamilyCode)).toText();
        int index = -1;
        if (!code.isEmpty()) {
            index = familyByCode.value(code, -1);
        } else {
            index = familyByKey.value(familyKey(values), -1);
        }
        if (index < 0) {
            PlannedFamily family;
            family.values = values;
            family.fileCode = code;
            family.firstLine = row.line;
            const auto it = code.isEmpty() ? registered.constEnd() : registered.constFind(code);
            if (it != registered.constEnd()) {
                family.existingId = it->id;
                family.existingText = it->text;
            }
            index = int(preview.families.size());
            preview.families.push_back(std::move(family));
            if (code.isEmpty())
                familyByKey.insert(familyKey(values), index);
            else
                familyByCode.insert(code, index);
        } else if (familyKey(preview.families[size_t(index)].values) != familyKey(values)) {
            preview.notes.push_back(
                {row.line, QStringLiteral("dati del nucleo %1 diversi da quelli della riga %2: "
                                          "valgono quelli della riga %2")
                               .arg(code)
                               .arg(preview.families[size_t(index)].firstLine)});
        }
        PlannedMember member;
        member.line = row.line;
        member.values = values;
        member.facts = PersonFacts(
            NameKey::of(values.at(int(F::Surname)).toText(), values.at(int(F::Name)).toText()),
            values.at(int(F::BirthDate)).isNull()
                ? QDate()
                : values.at(int(F::BirthDate)).toDateTime().date());
        preview.families[size_t(index)].members.push_back(std::move(member));
    }

    // Every member against the registry and against the rows before it.
    const std::vector<RegisteredPerson> people = duplicates::everyone(engine);
    PeopleIndex registryIndex;
    std::vector<PersonFacts> registryFacts;
    registryFacts.reserve(people.size());
    for (size_t i = 0; i < people.size(); ++i) {
        registryFacts.push_back(people[i].facts());
        registryIndex.add(int(i), registryFacts.back());
    }
    std::vector<const PlannedMember*> rows;
    for (const PlannedFamily& f : preview.families) {
        for (const PlannedMember& m : f.members)
            rows.push_back(&m);
    }
    std::sort(rows.begin(), rows.end(),
              [](const PlannedMember* a, const PlannedMember* b) { return a->line < b->line; });
    PeopleIndex fileIndex;
    for (size_t i = 0; i < rows.size(); ++i) {
        const PlannedMember& m = *rows[i];
        // Written out only for a row that has a duplicate.
        QString personShown;
        const auto person = [&]() -> const QString& {
            if (personShown.isNull())
                personShown = personText(m.values.at(int(F::Surname)).toText(),
                                         m.values.at(int(F::Name)).toText(), m.facts.birth);
            return personShown;
        };
        registryIndex.forEachCandidate(m.facts, [&](int j) {
            const Resemblance r = compare(m.facts, registryFacts[size_t(j)]);
            if (r.likeness == Likeness::None)
                return;
            const RegisteredPerson& p = people[size_t(j)];
            preview.duplicates.push_back(
                {m.line, person(), r,
                 personText(p.surname, p.name, p.birth) + QStringLiteral(", nucleo ") +
                     familyText(p.familyCode, p.description, p.host, p.municipality),
                 p.memberId, 0});
        });
        fileIndex.forEachCandidate(m.facts, [&](int j) {
            const PlannedMember& other = *rows[size_t(j)];
            const Resemblance r = compare(m.facts, other.facts);
            if (r.likeness == Likeness::None)
                return;
            preview.duplicates.push_back(
                {m.line, person(), r,
                 personText(other.values.at(int(F::Surname)).toText(),
                            other.values.at(int(F::Name)).toText(), other.facts.birth) +
                     QStringLiteral(", riga %1 del file").arg(other.line),
                 0, other.line});
        });
        fileIndex.add(int(i), m.facts);
    }
    std::stable_sort(preview.duplicates.begin(), preview.duplicates.end(),
                     [](const ImportDuplicate& a, const ImportDuplicate& b) {
                         if (a.line != b.line)
                             return a.line < b.line;
                         return a.resemblance.likeness > b.resemblance.likeness;
                     });
    std::stable_sort(preview.notes.begin(), preview.notes.end(),
                     [](const ImportNote& a, const ImportNote& b) { return a.line < b.line; });
    preview.file = std::move(file);
    return preview;
}

QString ImportPreview::report() const {
    QString text;
    QTextStream out(&text);
    out << "File \"" << QDir::toNativeSeparators(file.path) << "\"";
    if (file.format == TableFile::Format::Csv) {
        out << " (CSV, codifica " << file.encoding << ", separatore \""
            << (file.separator == QLatin1Char('\t') ? QStringLiteral("tabulazione")
                                                    : QString(file.separator))
            << "\")";
    }
    out << ": " << file.rows.size() << " righe di dati.\n";
    out << "Colonne usate:\n";
    for (const ImportFieldInfo& info : importFields()) {
        const int c = mapping.column(info.field);
        out << "  " << QString::fromUtf8(info.label) << ": "
            << (c < 0 ? QStringLiteral("nessuna") : quoted(file.headers.value(c))) << "\n";
    }
    out << "Da aggiungere: " << newFamilies() << " nuclei familiari e " << members()
        << " componenti.\n";
    for (const PlannedFamily* f : existingCodes()) {
        out << "Il codice " << f->fileCode << " è già del nucleo " << f->existingText << ": "
            << f->members.size() << " componenti "
            << (f->addToExisting ? QStringLiteral("aggiunti a quel nucleo")
                                 : QStringLiteral("in un nuovo nucleo con un nuovo codice"))
            << ".\n";
    }
    out << "Righe scartate: " << rejected.size() << "\n";
    for (const RejectedRow& r : rejected)
        out << "  riga " << r.line << ": " << r.reason << "\n";
    out << "Valori adattati: " << notes.size() << "\n";
    for (const ImportNote& n : notes)
        out << "  riga " << n.line << ": " << n.text << "\n";
    out << "Possibili doppioni: " << duplicates.size() << " (probabili per " << likelyDuplicates()
        << " righe)\n";
    for (const ImportDuplicate& d : duplicates) {
        out << "  riga " << d.line << ": " << d.person << " - doppione "
            << likenessText(d.resemblance.likeness) << " di " << d.other << " ("
            << d.resemblance.reasons.join(QStringLiteral(", ")) << ")\n";
    }
    out.flush();
    return text;
}

}  // namespace marvesa
