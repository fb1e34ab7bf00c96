#include "support/TemplateDatabase.h"

#include <QDate>

#include "data/base/Value.h"
#include "data/cursor/DataSet.h"
#include "data/registry/DataModule.h"
#include "support/TestDatabases.h"

namespace marvesa::test {

namespace {

const RegistryTemplate& seeded() {
    static const RegistryTemplate made(&seedDatabase);
    return made;
}

}  // namespace

void seedDatabase(const QString& path) {
    TdmMarvesa dm;
    dm.DataModuleCreate(path);
    auto family = [&](const char* code, const char* name, const char* host, const char* town,
                      const QDate& end) {
        DataSet& t = dm.TBL_NUCLEO;
        t.insert();
        t.setFieldValue(QStringLiteral("CODICE_NUCLEO"), Value::text(QString::fromUtf8(code)));
        t.setFieldValue(QStringLiteral("DENOMINAZIONE"), Value::text(QString::fromUtf8(name)));
        t.setFieldValue(QStringLiteral("NOME_OSPITANTE"), Value::text(QString::fromUtf8(host)));
        t.setFieldValue(QStringLiteral("COMUNE"), Value::text(QString::fromUtf8(town)));
        t.setFieldValue(QStringLiteral("INDIRIZZO"), Value::text(QStringLiteral("VIA ROMA 1")));
        t.setFieldValue(QStringLiteral("TELEFONO"), Value::text(QStringLiteral("049 123456")));
        if (end.isValid())
            t.setFieldValue(QStringLiteral("TERMINE_ALLOGGIO"), Value::date(end));
        t.post();
    };
    auto member = [&](const char* surname, const char* name, const char* sex, const QDate& born,
                      const char* relationship, const char* notes) {
        DataSet& t = dm.TBL_ANAGRAFICA;
        t.insert();
        t.setFieldValue(QStringLiteral("COGNOME"), Value::text(QString::fromUtf8(surname)));
        t.setFieldValue(QStringLiteral("NOME"), Value::text(QString::fromUtf8(name)));
        t.setFieldValue(QStringLiteral("SESSO"), Value::text(QString::fromUtf8(sex)));
        if (born.isValid())
            t.setFieldValue(QStringLiteral("DATA_NASCITA"), Value::date(born));
        t.setFieldValue(QStringLiteral("NAZIONE_NASCITA"), Value::text(QStringLiteral("Albania")));
        t.setFieldValue(QStringLiteral("CITTADINANZA"), Value::text(QStringLiteral("Albania")));
        t.setFieldValue(QStringLiteral("GRADO_PARENTELA"),
                        Value::text(QString::fromUtf8(relationship)));
        t.setFieldValue(QStringLiteral("DATA_INGRESSO"), Value::date(QDate(2022, 3, 1)));
        t.setFieldValue(QStringLiteral("FRONTIERA"), Value::text(QStringLiteral("POLONIA")));
        t.setFieldValue(QStringLiteral("NOTE"), Value::text(QString::fromUtf8(notes)));
        t.post();
    };
    family("QX100", "ROSSI", "MARIO BIANCHI ", "Abano Terme", QDate());
    member("ROSSI", "ANNA", "f", QDate(1980, 3, 4), "Capo Nucleo", "nessuna");
    member("ROSSI", "LUCA", "M", QDate(2010, 7, 8), "Fratellastro", "");
    family("QX200", "VERDI", "GINO", "Nessun Paese", QDate(2025, 6, 30));
    member("VERDI", "PIA", "F", QDate(1990, 1, 2), "Coniuge", "");
    family("QX300", "NERI", "LIA", "Abano Terme", QDate());
}

const QString& TemplateDatabase::path() {
    return seeded().location();
}

QString TemplateDatabase::copy(const QTemporaryDir& dir) {
    return seeded().copy(dir, QStringLiteral("dbQuaz.mdb"));
}

}  // namespace marvesa::test
