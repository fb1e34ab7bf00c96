#include "app/Application.h"

#include <QLibraryInfo>
#include <QTranslator>

#include "ui/services/ErrorReport.h"

namespace marvesa {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    installQtTranslation(*this);
}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        handleApplicationError(e);
    }
    return false;
}

bool installQtTranslation(QCoreApplication& app) {
    auto* translator = new QTranslator(&app);
    // Where Qt keeps its translations, or, in a folder deployed with the
    // program, its "translations" folder.
    const QStringList folders{
        QLibraryInfo::path(QLibraryInfo::TranslationsPath),
        QCoreApplication::applicationDirPath() + QStringLiteral("/translations")};
    for (const QString& folder : folders) {
        if (translator->load(QStringLiteral("qtbase_it"), folder)) {
            QCoreApplication::installTranslator(translator);
            return true;
        }
    }
    delete translator;
    return false;
}

}  // namespace marvesa
