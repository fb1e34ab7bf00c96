#pragma once

#include <QString>

#include "data/cursor/ChangeFollower.h"
#include "data/cursor/DataSet.h"
#include "data/registry/AccessRole.h"

namespace marvesa {

// The data module: the connection, the five tables with their columns and
// the five data sources, alive for the whole run.
class TdmMarvesa {
public:
    TdmMarvesa();
    ~TdmMarvesa();
    TdmMarvesa(const TdmMarvesa&) = delete;
    TdmMarvesa& operator=(const TdmMarvesa&) = delete;

    // The database, relative to the working directory: "..\dB\dbQuaz.mdb"
    // written with the platform's separator.
    static QString databasePath();

    // The database the program opens: the connection named by the setting
    // "connection" of the "Marvesa" settings (INI; the user's own file over
    // the one for the whole computer, see OfficeSettings.h), a PostgreSQL
    // server given as a libpq connection string or URI; without it, or when
    // a file named by "database=" comes first, databasePath().
    static QString databaseLocation();

    // Opens the data store: sets the database path (a file, or a server
    // connection as databaseLocation() gives it), connects, then opens
    // TBL_NUCLEO, TBL_ANAGRAFICA, TBL_COMUNI, TBL_NAZIONI and TBL_EXPORT in
    // this order (TBL_EXPORT reads its rows only when something asks for
    // them). A failure stops there: the tables after it stay closed.
    // Once everything is open the module starts following other desks.
    void DataModuleCreate();
    void DataModuleCreate(const QString& path);

    // "Chiudi Programma": disconnect (pending rows abandoned), then close the
    // family-unit, member and the two reference tables. TBL_EXPORT stays open
    // until the module is released.
    void closeDataStore();

    DataSource* dataSourceByName(const QString& name);

    // What the connection's role may do, read when the data store opens
    // (everything on a file, or before it opens).
    const AccessRights& accessRights() const { return m_rights; }

    Connection cnQuaz;
    DataSet TBL_NUCLEO;
    DataSet TBL_ANAGRAFICA;
    DataSet TBL_COMUNI;
    DataSet TBL_NAZIONI;
    DataSet TBL_EXPORT;
    DataSource dsNUCLEO;
    DataSource dsANAGRAFICA;
    DataSource dsCOMUNI;
    DataSource dsNAZIONI;
    DataSource dsEXPORT;

    // Shows in TBL_NUCLEO and TBL_ANAGRAFICA, while they browse, what other
    // desks store and delete, reading again only the rows they changed. The
    // reference lists never change and the staging table is rebuilt by each
    // export: they are not followed.
    ChangeFollower otherDesks;

private:
    AccessRights m_rights;
};

// The blank-date rule of the two end-of-hosting columns: a text that is only
// the two separators once its blanks are gone makes the column NULL; anything
// else is converted as a date.
void setBlankDateText(Field& field, const QString& text);

}  // namespace marvesa
