#include "ui/window/MainWindow.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPointer>
#include <QThread>

#include "data/base/TextRules.h"
#include "data/registry/DataModule.h"
#include "ui/services/Dialogs.h"
#include "ui/services/ErrorReport.h"
#include "ui/services/WaitCursor.h"
#include "ui/window/Commands.h"
#include "ui/window/KeyboardAccess.h"
#include "ui/window/OfficeCommands.h"
#include "ui/window/PersonalDataCommands.h"
#include "ui/window/Shape.h"
#include "ui/window/WindowLayout.h"

namespace marvesa {

TfrmMain* frmMain = nullptr;

namespace {

BusyCursor g_busyCursor;

// Assistive technology sees the main window as the program's window (a
// frame), and as a plain container while it sits inside the scroll area of
// a small screen.
class MainWindowAccessible : public QAccessibleWidget {
public:
    explicit MainWindowAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::Window) {}
    QAccessible::Role role() const override {
        return widget()->isWindow() ? QAccessible::Window : QAccessible::Client;
    }
};

QAccessibleInterface* mainWindowAccessibleFactory(const QString& className, QObject* object) {
    if (className != QLatin1String(TfrmMain::staticMetaObject.className()))
        return nullptr;
    if (auto* w = qobject_cast<TfrmMain*>(object))
        return new MainWindowAccessible(w);
    return nullptr;
}

void setTextColor(QWidget* w, const QColor& color) {
    QPalette p = w->palette();
    for (QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText}) {
        p.setColor(QPalette::Active, role, color);
        p.setColor(QPalette::Inactive, role, color);
    }
    w->setPalette(p);
}

void applyLook(QWidget* w, layout::Look look) {
    using layout::Look;
    switch (look) {
        case Look::Default:
            break;
        case Look::Bold8Green:
            w->setFont(layout::windowFont(layout::kPixels8pt, true));
            setTextColor(w, layout::colors::kGreen);
            break;
        case Look::Bold10Green:
            w->setFont(layout::windowFont(layout::kPixels10pt, true));
            setTextColor(w, layout::colors::kGreen);
            break;
        case Look::Bold8WindowText:
            w->setFont(layout::windowFont(layout::kPixels8pt, true));
            break;
    }
}

const layout::LookupEntry& lookupFor(const QString& name) {
    for (const layout::LookupEntry& l : layout::lookups()) {
        if (name == QLatin1String(l.control))
            return l;
    }
    Q_UNREACHABLE();
}

QWidget* createControl(const layout::ControlEntry& entry, QWidget* parent) {
    using layout::ControlKind;
    const QString name = QString::fromLatin1(entry.name);
    const QString source = QString::fromLatin1(entry.dataSource ? entry.dataSource : "");
    const QString text = QString::fromUtf8(entry.text ? entry.text : "");
    switch (entry.kind) {
        case ControlKind::DataLabel:
            return new DBLabel(source, text, parent);
        case ControlKind::Edit: {
            auto* edit = new DBEdit(source, text, parent);
            edit->setUpperCase(entry.upperCase);
            return edit;
        }
        case ControlKind::DropDown: {
            const QStringList& items = name == QLatin1String("dbeSesso")
                                           ? layout::sexItems()
                                           : layout::relationshipItems();
            return new DBComboBox(source, text, items, parent);
        }
        case ControlKind::LookupDropDown: {
            const layout::LookupEntry& l = lookupFor(name);
            return new DBLookupComboBox(source, text, QString::fromLatin1(l.listSource),
                                        QString::fromLatin1(l.keyColumn), parent);
        }
        case ControlKind::Memo:
            return new DBMemo(source, text, parent);
        case ControlKind::Grid:
            return new DBGrid(source,
                              name == QLatin1String("DBGrid2") ? layout::familyGridColumns()
                                                               : layout::memberGridColumns(),
                              parent);
        case ControlKind::Navigator:
            return new DBNavigator(source, parent);
        case ControlKind::Button:
            return new CommandButton(text, parent);
    }
    Q_UNREACHABLE();
}

template <typename T>
T* child(const QWidget* window, const char* name) {
    T* w = window->findChild<T*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
    Q_ASSERT(w);
    return w;
}

// The trim of the seven trimmed edits: control characters and blanks go from
// both ends. While the table is editing the trimmed text is the edit's change.
void trimOnExit(DBEdit* edit) {
    const QString read = edit->text();
    const QString trimmed = trimControlText(read);
    if (trimmed != read)
        edit->setText(trimmed);
}

}  // namespace

TfrmMain::TfrmMain(QWidget* parent) : QWidget(parent) {
    if (!frmMain)
        frmMain = this;
    static const bool accessibleInstalled = [] {
        QAccessible::installFactory(mainWindowAccessibleFactory);
        return true;
    }();
    Q_UNUSED(accessibleInstalled);
    layout::ensureTypeface();

    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(kWindowTitle);
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(layout::kClientSize);
    setFont(layout::windowFont(layout::kPixels8pt));
    QPalette p = palette();
    p.setColor(QPalette::Window, layout::colors::kWindowBackground);
    setPalette(p);
    setAutoFillBackground(true);

    buildShapesAndLabels();
    buildControls();
    connectCaptions();
    setTabOrderChain();
    connectHandlers();
    // "Cerca", "Riepilogo" and the keyboard shortcuts of the commands.
    new OfficeCommands(*this);
    // "Storico", "Anonimizza", "Cancella dati personali".
    new PersonalDataCommands(*this);
    // The keys of the lists and the navigators.
    new KeyboardAccess(*this);

    // The first tab stop has the focus when the window first becomes active.
    edtDescNucleo->setFocus(Qt::OtherFocusReason);
}

TfrmMain::~TfrmMain() {
    if (frmMain == this)
        frmMain = nullptr;
}

void TfrmMain::buildShapesAndLabels() {
    for (const layout::ShapeEntry& s : layout::shapes()) {
        auto* shape = new Shape(s.fill, s.outline, this);
        shape->setObjectName(QString::fromLatin1(s.name));
        shape->setGeometry(s.rect);
    }
    const QColor highlightedText = QApplication::palette().color(QPalette::HighlightedText);
    for (const layout::LabelEntry& l : layout::labels()) {
        auto* label = new QLabel(QString::fromUtf8(l.caption), this);
        label->setObjectName(QString::fromLatin1(l.name));
        label->setGeometry(l.rect);
        label->setFocusPolicy(Qt::NoFocus);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        switch (l.look) {
            case layout::LabelLook::Header:
                label->setFont(layout::windowFont(layout::kPixels11pt, true));
                setTextColor(label, highlightedText);
                break;
            case layout::LabelLook::Caption:
                label->setFont(layout::windowFont(layout::kPixels8pt, true));
                setTextColor(label, layout::colors::kDarkBlue);
                break;
            case layout::LabelLook::Warning:
                label->setFont(layout::windowFont(layout::kPixels8pt, true));
                setTextColor(label, layout::colors::kRed);
                break;
        }
    }
}

void TfrmMain::buildControls() {
    for (const layout::ControlEntry& entry : layout::controls()) {
        QWidget* w = createControl(entry, this);
        w->setObjectName(QString::fromLatin1(entry.name));
        w->setGeometry(entry.rect);
        applyLook(w, entry.look);
        w->setAccessibleName(
            QString::fromUtf8(entry.accessibleName ? entry.accessibleName : entry.text));
    }

    edtCodiceNucleo = child<DBLabel>(this, "edtCodiceNucleo");
    DBNavigator2 = child<DBNavigator>(this, "DBNavigator2");
    btnNewNucleo = child<CommandButton>(this, "btnNewNucleo");
    btnEditNucleo = child<CommandButton>(this, "btnEditNucleo");
    btnAnnNucleo = child<CommandButton>(this, "btnAnnNucleo");
    btnEliminaNucleo = child<CommandButton>(this, "btnEliminaNucleo");
    btnSaveNucleo = child<CommandButton>(this, "btnSaveNucleo");
    edtDescNucleo = child<DBEdit>(this, "edtDescNucleo");
    DBGrid2 = child<DBGrid>(this, "DBGrid2");
    dbeOspite = child<DBEdit>(this, "dbeOspite");
    dbeComune = child<DBLookupComboBox>(this, "dbeComune");
    dbeIndirizzo = child<DBEdit>(this, "dbeIndirizzo");
    dbeTelefono = child<DBEdit>(this, "dbeTelefono");
    dbeDataTermine = child<DBEdit>(this, "dbeDataTermine");
    DBEdit1 = child<DBEdit>(this, "DBEdit1");
    dbeNucleoAnag = child<DBLabel>(this, "dbeNucleoAnag");
    btnNewAnag = child<CommandButton>(this, "btnNewAnag");
    btnEditAnag = child<CommandButton>(this, "btnEditAnag");
    btnDelAnag = child<CommandButton>(this, "btnDelAnag");
    btnAnagAnnulla = child<CommandButton>(this, "btnAnagAnnulla");
    btnSaveAnag = child<CommandButton>(this, "btnSaveAnag");
    btnExport = child<CommandButton>(this, "btnExport");
    btnExit = child<CommandButton>(this, "btnExit");
    dbeCognome = child<DBEdit>(this, "dbeCognome");
    dbeNome = child<DBEdit>(this, "dbeNome");
    dbeSesso = child<DBComboBox>(this, "dbeSesso");
    dbeDataNascita = child<DBEdit>(this, "dbeDataNascita");
    dbeNazNascita = child<DBLookupComboBox>(this, "dbeNazNascita");
    dbeCittadinanza = child<DBLookupComboBox>(this, "dbeCittadinanza");
    dbeParentela = child<DBComboBox>(this, "dbeParentela");
    dbeDataIngresso = child<DBEdit>(this, "dbeDataIngresso");
    dbeFrontiera = child<DBEdit>(this, "dbeFrontiera");
    DBGrid1 = child<DBGrid>(this, "DBGrid1");
    DBMemo2 = child<DBMemo>(this, "DBMemo2");
    DBNavigator1 = child<DBNavigator>(this, "DBNavigator1");

    // Holds the current family code for the member commands; never shown.
    DBEdit1->setFocusPolicy(Qt::NoFocus);
    DBEdit1->hide();

    btnExit->setWordWrap(true);
    dbeParentela->setDropDownOnTyping(true);

    const QFont titleFont = layout::windowFont(layout::kPixels8pt, true);
    DBGrid2->setTitleFont(titleFont, layout::colors::kGreen);
    DBGrid2->setRowLines(false);
    DBGrid1->setTitleFont(titleFont, layout::colors::kDarkBlue);
    DBGrid1->setCellColor(layout::colors::kBlack);
    DBGrid1->setRowLines(true);
    DBGrid2->applyColumnWidths();
    DBGrid1->applyColumnWidths();
}

// Each caption labels the control beside it: a screen reader reads the
// caption with the control (the labelled-by relation). The captions carry no
// mnemonic, so nothing changes on screen.
void TfrmMain::connectCaptions() {
    for (const layout::LabelEntry& l : layout::labels()) {
        if (!l.captionFor)
            continue;
        child<QLabel>(this, l.name)->setBuddy(child<QWidget>(this, l.captionFor));
    }
}

void TfrmMain::setTabOrderChain() {
    const QStringList& order = layout::tabOrder();
    for (int i = 0; i + 1 < order.size(); ++i) {
        QWidget::setTabOrder(findChild<QWidget*>(order.at(i)),
                             findChild<QWidget*>(order.at(i + 1)));
    }
}

void TfrmMain::connectHandlers() {
    using Handler = void (TfrmMain::*)();
    const std::pair<CommandButton*, Handler> clicks[] = {
        {btnNewNucleo, &TfrmMain::btnNewNucleoClick},
        {btnEditNucleo, &TfrmMain::btnEditNucleoClick},
        {btnAnnNucleo, &TfrmMain::btnAnnNucleoClick},
        {btnSaveNucleo, &TfrmMain::btnSaveNucleoClick},
        {btnEliminaNucleo, &TfrmMain::btnEliminaNucleoClick},
        {btnNewAnag, &TfrmMain::btnNewAnagClick},
        {btnEditAnag, &TfrmMain::btnEditAnagClick},
        {btnAnagAnnulla, &TfrmMain::btnAnagAnnullaClick},
        {btnSaveAnag, &TfrmMain::btnSaveAnagClick},
        {btnDelAnag, &TfrmMain::btnDelAnagClick},
        {btnExport, &TfrmMain::btnExportClick},
        {btnExit, &TfrmMain::btnExitClick},
    };
    for (const auto& [button, handler] : clicks) {
        connect(button, &QPushButton::clicked, this,
                [this, handler = handler] { runGuarded([&] { (this->*handler)(); }); });
    }

    const std::pair<DBEdit*, Handler> exits[] = {
        {dbeCognome, &TfrmMain::dbeCognomeExit},       {dbeNome, &TfrmMain::dbeNomeExit},
        {dbeFrontiera, &TfrmMain::dbeFrontieraExit},   {dbeIndirizzo, &TfrmMain::dbeIndirizzoExit},
        {dbeOspite, &TfrmMain::dbeOspiteExit},         {dbeTelefono, &TfrmMain::dbeTelefonoExit},
        {edtDescNucleo, &TfrmMain::edtDescNucleoExit},
    };
    for (const auto& [edit, handler] : exits) {
        connect(edit, &DBEdit::exited, this, [this, handler = handler] { (this->*handler)(); });
    }
}

void TfrmMain::bindTo(TdmMarvesa& dm) {
    m_dm = &dm;
    dm.cnQuaz.setBusyObserver(&g_busyCursor);
    const DataSourceResolver resolve = [&dm](const QString& name) {
        return dm.dataSourceByName(name);
    };
    for (QWidget* w : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (auto* bound = dynamic_cast<BoundControl*>(w))
            bound->bindByName(resolve);
    }
    // Ctrl+Delete in the family-unit list takes the family unit's members
    // with it, as "Elimina" does: a member without its family unit could
    // never be shown, exported or deleted again.
    DBGrid2->setDeleteHandler([&dm] { deleteFamilyUnitWithMembers(dm); });
    // A role that may only read deletes nothing from the lists either.
    for (DBGrid* grid : {DBGrid1, DBGrid2})
        grid->setDeleteRefusal([&dm] { return dm.accessRights().storeRefusal(); });
    const QPointer<TfrmMain> window(this);
    dm.dsNUCLEO.setOnStateChange([window](DataSource* sender) {
        if (window)
            window->dsNUCLEOStateChange(sender);
    });
    dm.dsANAGRAFICA.setOnStateChange([window](DataSource* sender) {
        if (window)
            window->dsANAGRAFICAStateChange(sender);
    });
    // What other desks stored shows only between the operator's actions:
    // never while a command or handler runs (an export's transaction, a
    // deletion whose confirmation is open) nor while a box or a list is
    // open. The row a box asks about stays the row its answer acts on.
    dm.otherDesks.setSafeToApply([] {
        return !RunningCommand::any() && !Dialogs::isShowing() &&
               !QApplication::activeModalWidget() && !QApplication::activePopupWidget();
    });
    dm.TBL_NUCLEO.setOnBeforeImplicitPost([window](DataSet&) {
        if (window)
            window->TBL_NUCLEOBeforeImplicitPost();
    });
    dm.TBL_ANAGRAFICA.setOnBeforeImplicitPost([window](DataSet&) {
        if (window)
            window->TBL_ANAGRAFICABeforeImplicitPost();
    });
}

std::array<CommandButton*, CommandButtonCount> TfrmMain::commandButtons() const {
    return {btnNewNucleo, btnEditNucleo,  btnAnnNucleo, btnSaveNucleo, btnEliminaNucleo, btnNewAnag,
            btnEditAnag,  btnAnagAnnulla, btnSaveAnag,  btnDelAnag,    btnExport,        btnExit};
}

QString TfrmMain::roleRefusal(int index) const {
    if (!m_dm)
        return QString();
    const AccessRights& rights = m_dm->accessRights();
    switch (index) {
        case cbNewNucleo:
        case cbEditNucleo:
        case cbSaveNucleo:
        case cbEliminaNucleo:
        case cbNewAnag:
        case cbEditAnag:
        case cbSaveAnag:
        case cbDelAnag:
            return rights.storeRefusal();
        case cbExport:
            return rights.exportRefusal();
        default:
            // "Annulla" always gets a row out of editing; "Chiudi Programma"
            // always ends the program.
            return QString();
    }
}

void TfrmMain::applyCommandStates(DataSetState state, CommandPanel panel) {
    const std::optional<CommandButtonStates> states = commandStatesFor(panel, state);
    if (!states)
        return;
    const auto buttons = commandButtons();
    for (int i = 0; i < CommandButtonCount; ++i) {
        // The role's refusal holds through every change of state.
        const QString refusal = roleRefusal(i);
        buttons[i]->setEnabled((*states)[i] && refusal.isEmpty());
        buttons[i]->setRoleRefusal(refusal);
    }
    if (PersonalDataCommands* personal = personalDataCommands(*this))
        personal->applyAccessRights();
}

void TfrmMain::dsNUCLEOStateChange(DataSource* sender) {
    applyCommandStates(sender->state(), CommandPanel::FamilyUnit);
}

void TfrmMain::dsANAGRAFICAStateChange(DataSource* sender) {
    applyCommandStates(sender->state(), CommandPanel::Member);
}

void TfrmMain::FormCloseQuery(QObject*, bool& CanClose) {
    if (!m_dm)
        return;
    const auto editing = [](const DataSource& ds) {
        return ds.state() == dsEdit || ds.state() == dsInsert;
    };
    if (editing(m_dm->dsNUCLEO))
        CanClose = false;
    if (editing(m_dm->dsANAGRAFICA))
        CanClose = false;
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    bool canClose = true;
    FormCloseQuery(this, canClose);
    // The window stays: a granted request only ends the event loop, and the
    // program then releases the data module and the window in its own order.
    event->ignore();
    if (canClose)
        postQuitRequest();
}

void TfrmMain::postQuitRequest() {
    emit quitRequested();
    // exit() rather than quit(): quit() would first ask every window to
    // close, and this window answers a close request by quitting.
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::exit(0);
}

void TfrmMain::btnExitClick() {
    if (m_dm)
        m_dm->closeDataStore();
    postQuitRequest();
}

void TfrmMain::dbeCognomeExit() {
    trimOnExit(dbeCognome);
}
void TfrmMain::dbeNomeExit() {
    trimOnExit(dbeNome);
}
void TfrmMain::dbeFrontieraExit() {
    trimOnExit(dbeFrontiera);
}
void TfrmMain::dbeIndirizzoExit() {
    trimOnExit(dbeIndirizzo);
}
void TfrmMain::dbeOspiteExit() {
    trimOnExit(dbeOspite);
}
void TfrmMain::dbeTelefonoExit() {
    trimOnExit(dbeTelefono);
}
void TfrmMain::edtDescNucleoExit() {
    trimOnExit(edtDescNucleo);
}

}  // namespace marvesa
