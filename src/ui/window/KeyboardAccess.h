#pragma once

#include <QObject>
#include <functional>

#include "ui/bound/DBNavigator.h"

class QKeySequence;

namespace marvesa {

class DBGrid;
class TfrmMain;

// What the keyboard reaches that is no tab stop: the two lists and the two
// record navigators.
//
//   Alt+L           the list of family units ("Lista Nuclei")
//   Alt+C           the list of the members ("Componenti Nucleo")
//   Alt+Inizio      Primo
//   Alt+Pag Su      Precedente
//   Alt+Pag Giù     Successivo
//   Alt+Fine        Ultimo
//   F5              Aggiorna
//
// The five navigator keys act on the navigator of the panel the focus is in
// (the family-unit panel or the member panel).
// In a list the arrow keys move the current row; Esc, Ctrl+Tab or
// Ctrl+Maiusc+Tab give the focus back to the control it came from (DBGrid).
// A navigator key acts exactly as a click on its button, which never takes
// the focus, and does nothing while that button is unavailable.
class KeyboardAccess : public QObject {
    Q_OBJECT
public:
    explicit KeyboardAccess(TfrmMain& window);

    // The navigator of the panel holding the focus: the member panel's when
    // the focus is in that panel, the family-unit panel's otherwise.
    DBNavigator* navigatorInFocus() const;
    void pressNavigator(DBNavigator::Button button);
    void enterList(DBGrid* grid);

    // The keys of each navigator button, as the operator reads them.
    static QString keysOf(DBNavigator::Button button);

private:
    void addShortcut(const QKeySequence& keys, std::function<void()> action);

    TfrmMain& m_window;
};

}  // namespace marvesa
