#pragma once

#include <QList>
#include <QString>

namespace marvesa {

enum class DialogIcon { None, Information, Question, Error };
enum class DialogButton { Ok, Cancel, Yes, No };

// One modal message box: what it says and offers.
struct DialogRequest {
    QString title;
    QString text;
    DialogIcon icon = DialogIcon::None;
    QList<DialogButton> buttons{DialogButton::Ok};
    bool centeredOnScreen = false;
    // Technical words behind the text (a database's own message), shown
    // only when the operator asks for the details; empty: none.
    QString detail{};
};

// Every message box of the program goes through here, so that tests can
// answer them and record what was shown. The program's own implementation
// shows a QMessageBox.
class Dialogs {
public:
    virtual ~Dialogs();
    // Shows the box and returns the button the operator chose.
    virtual DialogButton ask(const DialogRequest& request) = 0;

    // The dialogs in use; the message boxes unless replaced.
    static Dialogs& instance();
    // Replaces them (null restores the message boxes); the caller keeps
    // ownership.
    static void setInstance(Dialogs* dialogs);

    // True while one of the boxes below is open (waiting for its answer).
    static bool isShowing();

    // The window's system boxes, titled "Gestione Emergenza Marvesa".
    static void inform(const QString& text);   // information icon, OK
    static bool confirm(const QString& text);  // question icon, Yes/No; true on Yes
    // The grid's confirmation before deleting a row: question icon, OK and
    // Cancel; true on OK.
    static bool confirmDelete(const QString& text);
    // A plain notice: no icon, OK, centred on the screen, the application title.
    static void notice(const QString& text);
    // An error as the top-level handler shows it: error icon, OK, the
    // application title.
    static void error(const QString& text, const QString& detail = QString());
};

// The main window's caption and the title of its system boxes.
extern const QString kWindowTitle;  // "Gestione Emergenza Marvesa"

// The application title: the program file's name without its folder, cut at
// its first dot, the first character a capital and every other in lower case.
QString applicationTitle();
QString applicationTitleFromPath(const QString& programPath);

// The message boxes of the program.
class MessageBoxDialogs : public Dialogs {
public:
    DialogButton ask(const DialogRequest& request) override;
};

}  // namespace marvesa
