#pragma once

#include <QString>
#include <QVariant>

namespace marvesa {

// The office's settings of Marvesa: the INI file "Marvesa/Marvesa.ini" of the
// user (~/.config on Linux, %APPDATA% on Windows) over the one for the whole
// computer (/etc/xdg, C:\ProgramData). Only read, never written.

// Where the settings say the registry is. A file says it with
// "connection=" (a PostgreSQL server: a libpq connection string, URI or
// service) or "database=" (the path of a database file); the first file, in
// the order above, that names either decides, and within one file
// "connection" wins.
struct DatabaseSetting {
    enum class Kind { None, Connection, File };
    Kind kind = Kind::None;
    QString value;         // the connection, or the file's path as written
    QString settingsFile;  // the file that says it
};
DatabaseSetting databaseSetting();

// A value of the settings, the user's over the computer's.
QVariant officeSetting(const QString& key, const QVariant& defaultValue = QVariant());

}  // namespace marvesa
