#include "ui/services/Dialogs.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

namespace marvesa {

const QString kWindowTitle = QStringLiteral("Gestione Emergenza Marvesa");

namespace {
Dialogs* g_dialogs = nullptr;
int g_showing = 0;

// Every box goes through here, so it is known when one is open.
DialogButton show(const DialogRequest& request) {
    struct Showing {
        Showing() { ++g_showing; }
        ~Showing() { --g_showing; }
    } showing;
    return Dialogs::instance().ask(request);
}
}  // namespace

Dialogs::~Dialogs() = default;

Dialogs& Dialogs::instance() {
    static MessageBoxDialogs messageBoxes;
    return g_dialogs ? *g_dialogs : messageBoxes;
}

void Dialogs::setInstance(Dialogs* dialogs) {
    g_dialogs = dialogs;
}

bool Dialogs::isShowing() {
    return g_showing > 0;
}

void Dialogs::inform(const QString& text) {
    show({kWindowTitle, text, DialogIcon::Information, {DialogButton::Ok}, false});
}

bool Dialogs::confirm(const QString& text) {
    return show({kWindowTitle,
                 text,
                 DialogIcon::Question,
                 {DialogButton::Yes, DialogButton::No},
                 false}) == DialogButton::Yes;
}

bool Dialogs::confirmDelete(const QString& text) {
    return show({applicationTitle(),
                 text,
                 DialogIcon::Question,
                 {DialogButton::Ok, DialogButton::Cancel},
                 false}) == DialogButton::Ok;
}

void Dialogs::notice(const QString& text) {
    show({applicationTitle(), text, DialogIcon::None, {DialogButton::Ok}, true});
}

void Dialogs::error(const QString& text, const QString& detail) {
    show({applicationTitle(), text, DialogIcon::Error, {DialogButton::Ok}, false, detail});
}

QString applicationTitleFromPath(const QString& programPath) {
    QString name = QFileInfo(programPath).fileName();
    const int dot = name.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        name.truncate(dot);
    // The rest is lower-cased; the first letter is a capital, so the program
    // file "marvesa" of a Unix system reads "Marvesa" as "Marvesa.exe" does.
    if (!name.isEmpty())
        name = name.left(1).toUpper() + name.mid(1).toLower();
    return name;
}

QString applicationTitle() {
    return applicationTitleFromPath(QCoreApplication::applicationFilePath());
}

DialogButton MessageBoxDialogs::ask(const DialogRequest& request) {
    QMessageBox box;
    box.setWindowTitle(request.title);
    box.setTextFormat(Qt::PlainText);
    // The program's texts separate their lines with carriage returns.
    QString text = request.text;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    box.setText(text);
    if (!request.detail.isEmpty())
        box.setDetailedText(request.detail);
    switch (request.icon) {
        case DialogIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case DialogIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case DialogIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
        case DialogIcon::Error:
            box.setIcon(QMessageBox::Critical);
            break;
    }
    QList<QPair<QAbstractButton*, DialogButton>> buttons;
    for (DialogButton b : request.buttons) {
        QMessageBox::StandardButton sb = QMessageBox::Ok;
        switch (b) {
            case DialogButton::Ok:
                sb = QMessageBox::Ok;
                break;
            case DialogButton::Cancel:
                sb = QMessageBox::Cancel;
                break;
            case DialogButton::Yes:
                sb = QMessageBox::Yes;
                break;
            case DialogButton::No:
                sb = QMessageBox::No;
                break;
        }
        buttons.append({box.addButton(sb), b});
    }
    if (!buttons.isEmpty())
        box.setDefaultButton(static_cast<QPushButton*>(buttons.first().first));
    if (request.centeredOnScreen) {
        box.adjustSize();
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            box.move(screen->availableGeometry().center() - box.rect().center());
        }
    }
    box.exec();
    for (const auto& pair : buttons) {
        if (box.clickedButton() == pair.first)
            return pair.second;
    }
    // Closed with Escape or the close box: the box's cancelling answer.
    for (DialogButton b : request.buttons) {
        if (b == DialogButton::Cancel || b == DialogButton::No)
            return b;
    }
    return request.buttons.isEmpty() ? DialogButton::Ok : request.buttons.first();
}

}  // namespace marvesa
