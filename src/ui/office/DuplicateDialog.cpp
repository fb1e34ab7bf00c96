#include "ui/office/DuplicateDialog.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace marvesa {

namespace {

enum Column {
    ColDifferent,
    ColLikeness,
    ColSurname,
    ColName,
    ColBirth,
    ColFamily,
    ColReasons,
    ColumnCount
};

QLabel* valueLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    label->setFocusPolicy(Qt::StrongFocus);
    return label;
}

}  // namespace

QString birthText(const QDate& birth) {
    return birth.isValid() ? birth.toString(QStringLiteral("dd/MM/yyyy"))
                           : QStringLiteral("non indicata");
}

QString familyUnitText(const RegisteredPerson& p) {
    QString text = p.familyCode.isEmpty() ? QStringLiteral("(senza codice)") : p.familyCode;
    if (p.familyId == 0)
        return text + QStringLiteral(" (nessun nucleo porta questo codice)");
    if (!p.description.isEmpty())
        text += QLatin1Char(' ') + p.description;
    QStringList details;
    if (!p.host.isEmpty())
        details << QStringLiteral("ospitante ") + p.host;
    if (!p.municipality.isEmpty())
        details << p.municipality;
    if (!details.isEmpty())
        text += QStringLiteral(" (") + details.join(QStringLiteral(", ")) + QLatin1Char(')');
    return text;
}

DuplicateDialog::DuplicateDialog(const DuplicateReviewRequest& request, QWidget* parent)
    : QDialog(parent), m_request(request) {
    setObjectName(QStringLiteral("DuplicateDialog"));
    setWindowTitle(QStringLiteral("Possibili doppioni"));
    setAccessibleName(windowTitle());
    setModal(true);
    resize(980, 420);

    auto* intro = new QLabel(
        QStringLiteral("Prima di salvare: nel registro ci sono componenti che potrebbero essere "
                       "la stessa persona. Spuntare quelli che non lo sono; \"Vai al "
                       "componente\" annulla ciò che è stato scritto e mostra quello scelto."),
        this);
    intro->setWordWrap(true);

    auto* mine = new QGroupBox(QStringLiteral("Componente da salvare"), this);
    auto* form = new QFormLayout(mine);
    const auto row = [&](const QString& caption, const QString& value) {
        QLabel* v = valueLabel(value, mine);
        // Read as the window's family-code labels are: the caption, then the
        // value (a label's name is all a screen reader reads of it).
        v->setAccessibleName(caption + QLatin1Char(' ') + value);
        form->addRow(caption, v);
    };
    row(QStringLiteral("Cognome"), request.surname);
    row(QStringLiteral("Nome"), request.name);
    row(QStringLiteral("Data Nascita"), request.birth);
    row(QStringLiteral("Nucleo"), request.family);

    auto* others = new QGroupBox(QStringLiteral("Componenti simili nel registro"), this);
    auto* othersLayout = new QVBoxLayout(others);
    m_list = new QTreeWidget(others);
    m_list->setObjectName(QStringLiteral("duplicateList"));
    m_list->setAccessibleName(QStringLiteral("Componenti simili nel registro"));
    m_list->setRootIsDecorated(false);
    m_list->setColumnCount(ColumnCount);
    m_list->setHeaderLabels({QStringLiteral("Non è la stessa persona"),
                             QStringLiteral("Somiglianza"), QStringLiteral("Cognome"),
                             QStringLiteral("Nome"), QStringLiteral("Data Nascita"),
                             QStringLiteral("Nucleo"), QStringLiteral("Motivi")});
    for (const DuplicateMatch& m : request.matches) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(ColDifferent, Qt::Unchecked);
        item->setText(ColLikeness, likenessText(m.resemblance.likeness));
        item->setText(ColSurname, m.other.surname);
        item->setText(ColName, m.other.name);
        item->setText(ColBirth, birthText(m.other.birth));
        item->setText(ColFamily, familyUnitText(m.other));
        item->setText(ColReasons, m.resemblance.reasons.join(QStringLiteral(", ")));
        item->setData(0, Qt::UserRole, m.other.memberId);
        item->setData(1, Qt::UserRole, m.other.familyId);
    }
    for (int c = 0; c < ColumnCount; ++c)
        m_list->resizeColumnToContents(c);
    if (m_list->topLevelItemCount() > 0)
        m_list->setCurrentItem(m_list->topLevelItem(0));
    othersLayout->addWidget(m_list);
    auto* hint = new QLabel(
        QStringLiteral("Spazio spunta o toglie \"Non è la stessa persona\" sulla riga scelta."),
        others);
    othersLayout->addWidget(hint);

    auto* sides = new QHBoxLayout;
    sides->addWidget(mine, 1);
    sides->addWidget(others, 3);

    m_store = new QPushButton(QStringLiteral("Salva comunque"), this);
    m_goTo = new QPushButton(QStringLiteral("Vai al componente"), this);
    m_back = new QPushButton(QStringLiteral("Torna alla modifica"), this);
    for (QPushButton* b : {m_store, m_goTo, m_back}) {
        b->setAutoDefault(false);
        b->setAccessibleName(b->text());
    }
    m_store->setObjectName(QStringLiteral("btnSalvaComunque"));
    m_goTo->setObjectName(QStringLiteral("btnVaiAlComponente"));
    m_back->setObjectName(QStringLiteral("btnTornaAllaModifica"));
    // Enter does nothing by itself: every choice is a button of its own.
    m_back->setDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_store);
    buttons->addWidget(m_goTo);
    buttons->addWidget(m_back);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(sides, 1);
    layout->addLayout(buttons);

    connect(m_store, &QPushButton::clicked, this, &DuplicateDialog::store);
    connect(m_goTo, &QPushButton::clicked, this, &DuplicateDialog::goTo);
    connect(m_back, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_list, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { m_goTo->setEnabled(current != nullptr); });
    m_goTo->setEnabled(m_list->currentItem() != nullptr);
    setTabOrder(m_list, m_store);
    setTabOrder(m_store, m_goTo);
    setTabOrder(m_goTo, m_back);
    m_list->setFocus(Qt::OtherFocusReason);
}

void DuplicateDialog::store() {
    m_decision.action = DuplicateDecision::Action::Store;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = m_list->topLevelItem(i);
        if (item->checkState(ColDifferent) == Qt::Checked)
            m_decision.different.insert(item->data(0, Qt::UserRole).toLongLong());
    }
    accept();
}

void DuplicateDialog::goTo() {
    const QTreeWidgetItem* item = m_list->currentItem();
    if (!item)
        return;
    m_decision.action = DuplicateDecision::Action::GoTo;
    m_decision.goToMember = item->data(0, Qt::UserRole).toLongLong();
    m_decision.goToFamily = item->data(1, Qt::UserRole).toLongLong();
    accept();
}

}  // namespace marvesa
