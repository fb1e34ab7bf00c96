#include "data/registry/DataModule.h"

#include <QDir>

#include "data/base/OfficeSettings.h"
#include "data/schema/SchemaUpgrade.h"

namespace marvesa {

namespace {
const QString kDateMaskRequiredYear = QStringLiteral("!99/99/0000;1;_");
const QString kDateMaskOptional = QStringLiteral("!99/99/9999;1;_");
}  // namespace

TdmMarvesa::TdmMarvesa()
    : cnQuaz(QStringLiteral("cnQuaz")),
      TBL_NUCLEO(QStringLiteral("TBL_NUCLEO"), QStringLiteral("TBL_NUCLEO"), &cnQuaz),
      TBL_ANAGRAFICA(QStringLiteral("TBL_ANAGRAFICA"), QStringLiteral("TBL_ANAGRAFICA"), &cnQuaz),
      TBL_COMUNI(QStringLiteral("TBL_COMUNI"), QStringLiteral("TBL_SYS_COMUNI"), &cnQuaz),
      TBL_NAZIONI(QStringLiteral("TBL_NAZIONI"), QStringLiteral("TBL_SYS_NAZIONE"), &cnQuaz),
      TBL_EXPORT(QStringLiteral("TBL_EXPORT"), QStringLiteral("TBL_EXPORT"), &cnQuaz),
      dsNUCLEO(QStringLiteral("dsNUCLEO"), &TBL_NUCLEO),
      dsANAGRAFICA(QStringLiteral("dsANAGRAFICA"), &TBL_ANAGRAFICA),
      dsCOMUNI(QStringLiteral("dsCOMUNI"), &TBL_COMUNI),
      dsNAZIONI(QStringLiteral("dsNAZIONI"), &TBL_NAZIONI),
      dsEXPORT(QStringLiteral("dsEXPORT"), &TBL_EXPORT) {
    TBL_NUCLEO.declareFields(schema::nucleo());
    TBL_ANAGRAFICA.declareFields(schema::anagrafica());
    TBL_EXPORT.declareFields(schema::exportTable());
    // The reference tables declare no columns: they take the table's own.

    TBL_ANAGRAFICA.setOrderColumn(QStringLiteral("CODICE_NUCLEO"));
    TBL_ANAGRAFICA.setMasterSource(&dsNUCLEO, QStringLiteral("CODICE_NUCLEO"),
                                   QStringLiteral("CODICE_NUCLEO"));
    // A member is never stored without its family unit: another desk may
    // have deleted the family unit after this one read it.
    TBL_ANAGRAFICA.setMasterRowRequired(QStringLiteral(
        "il Nucleo Familiare \"%1\" è stato cancellato da un altro utente: il familiare non è "
        "stato salvato. Annullare le modifiche e aggiornare i dati"));
    // Read in the order of the index CODICE_NUCLEO.
    TBL_EXPORT.setOrderColumn(QStringLiteral("CODICE_NUCLEO"));
    // The staging table is filled row by row and only read after a refresh:
    // reading each new row back would double the statements of an export.
    TBL_EXPORT.setReadBackAfterInsert(false);
    // It stays open for the whole run, yet nothing reads it ("Esporta"
    // rebuilds and reads the database table itself): its rows, one per
    // member of the last export, are read only if something asks for them,
    // so that starting the program costs the same however large that
    // export was.
    TBL_EXPORT.setReadWhenNeeded(true);

    TBL_ANAGRAFICA.fieldByName(QStringLiteral("DATA_NASCITA"))->setEditMask(kDateMaskRequiredYear);
    TBL_ANAGRAFICA.fieldByName(QStringLiteral("DATA_INGRESSO"))->setEditMask(kDateMaskRequiredYear);
    TBL_NUCLEO.fieldByName(QStringLiteral("TERMINE_ALLOGGIO"))->setEditMask(kDateMaskOptional);
    TBL_ANAGRAFICA.fieldByName(QStringLiteral("TERMINE_ALLOGGIO"))->setEditMask(kDateMaskOptional);

    // The end of hosting of both tables (TBL_NUCLEOTERMINE_ALLOGGIO,
    // TBL_ANAGRAFICATERMINE_ALLOGGIO) takes typed text through the blank-date
    // rule.
    TBL_NUCLEO.fieldByName(QStringLiteral("TERMINE_ALLOGGIO"))->setOnSetText(setBlankDateText);
    TBL_ANAGRAFICA.fieldByName(QStringLiteral("TERMINE_ALLOGGIO"))->setOnSetText(setBlankDateText);

    // The family units first: moving off a family unit deleted elsewhere
    // brings the members of the next one. They wait while a member is
    // edited, since a move of the family table would end that edit.
    otherDesks.follow(&TBL_NUCLEO, {&TBL_ANAGRAFICA});
    otherDesks.follow(&TBL_ANAGRAFICA);
}

TdmMarvesa::~TdmMarvesa() {
    otherDesks.stop();
    // Data sources being released raise no state changes.
    for (DataSource* ds : {&dsNUCLEO, &dsANAGRAFICA, &dsCOMUNI, &dsNAZIONI, &dsEXPORT}) {
        ds->setOnStateChange(nullptr);
    }
    for (DataSet* t : {&TBL_ANAGRAFICA, &TBL_NUCLEO, &TBL_COMUNI, &TBL_NAZIONI, &TBL_EXPORT}) {
        t->close();
    }
    if (cnQuaz.isConnected())
        cnQuaz.disconnect();
}

QString TdmMarvesa::databasePath() {
    return QDir::toNativeSeparators(QStringLiteral("../dB/dbQuaz.mdb"));
}

QString TdmMarvesa::databaseLocation() {
    // A file named by "database=" is reached through the working folder the
    // launcher gives the program; it only keeps a server of the computer's
    // settings from being opened instead.
    const DatabaseSetting setting = databaseSetting();
    return setting.kind == DatabaseSetting::Kind::Connection ? setting.value : databasePath();
}

void TdmMarvesa::DataModuleCreate() {
    DataModuleCreate(databaseLocation());
}

void TdmMarvesa::DataModuleCreate(const QString& path) {
    cnQuaz.setDatabasePath(path);
    cnQuaz.connect();
    // A database made by an earlier version takes this version's shape
    // before anything reads it.
    if (auto* engine = dynamic_cast<QtSqlEngine*>(&cnQuaz.engine())) {
        if (schema::upgradeDatabase(*engine) < schema::currentVersion()) {
            // The history table may be new: its changes are this desk's.
            engine->identifyWorkstation();
        }
    }
    m_rights = readAccessRights(cnQuaz.engine());
    TBL_NUCLEO.open();
    TBL_ANAGRAFICA.open();
    TBL_COMUNI.open();
    TBL_NAZIONI.open();
    TBL_EXPORT.open();
    otherDesks.start(cnQuaz);
}

void TdmMarvesa::closeDataStore() {
    otherDesks.stop();
    cnQuaz.disconnect();
    TBL_NUCLEO.close();
    TBL_ANAGRAFICA.close();
    TBL_COMUNI.close();
    TBL_NAZIONI.close();
}

void setBlankDateText(Field& field, const QString& text) {
    QString withoutBlanks = text;
    withoutBlanks.remove(QLatin1Char(' '));
    if (withoutBlanks.size() == 2) {
        field.clear();
    } else {
        field.setDefaultText(text);
    }
}

DataSource* TdmMarvesa::dataSourceByName(const QString& name) {
    for (DataSource* ds : {&dsNUCLEO, &dsANAGRAFICA, &dsCOMUNI, &dsNAZIONI, &dsEXPORT}) {
        if (ds->name() == name)
            return ds;
    }
    return nullptr;
}

}  // namespace marvesa
