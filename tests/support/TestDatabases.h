#pragma once

// Where the tests keep their databases: every test starts from a fresh copy
// of a template made once per test program, a database file in a temporary
// folder or, on the server (see TestEngine.h), a database there. Copying is
// much faster than loading the reference lists again and gives the same
// database.

#include <QString>
#include <QTemporaryDir>
#include <functional>

namespace marvesa::test {

// A database made the way the program's tool makes one (the schema and the
// reference lists), with whatever `seed` adds written into it once.
class RegistryTemplate {
public:
    // Adds rows to the template; gets the file path or the server connection.
    using Seed = std::function<void(const QString& location)>;

    explicit RegistryTemplate(const Seed& seed = {});
    RegistryTemplate(const RegistryTemplate&) = delete;
    RegistryTemplate& operator=(const RegistryTemplate&) = delete;

    // The template with nothing added, made on first use.
    static const RegistryTemplate& blank();

    // The template's file path; on the server, the template database's name.
    const QString& location() const { return m_location; }

    // A fresh copy: the file `fileName` in `dir` (readable and writable by
    // its owner alone), or a new database on the server, where `dir` and
    // `fileName` are not used. Returns its path or connection string.
    QString copy(const QTemporaryDir& dir, const QString& fileName) const;

private:
    QTemporaryDir m_dir;
    QString m_location;
};

// A fresh copy of the blank template (see RegistryTemplate::copy).
QString newDatabase(const QTemporaryDir& dir, const QString& name = QStringLiteral("dbQuaz.mdb"));

}  // namespace marvesa::test
