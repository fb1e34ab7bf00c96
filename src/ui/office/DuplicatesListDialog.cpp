#include "ui/office/DuplicatesListDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/office/DuplicateDialog.h"
#include "ui/services/ErrorReport.h"

namespace marvesa {

namespace {

QString personText(const RegisteredPerson& p) {
    return QStringLiteral("%1 %2, %3").arg(p.surname, p.name, birthText(p.birth));
}

}  // namespace

DuplicatesListDialog::DuplicatesListDialog(std::vector<DuplicatePair> pairs,
                                           std::function<void(qint64, qint64)> declareDifferent,
                                           QWidget* parent)
    : QDialog(parent), m_pairs(std::move(pairs)), m_declare(std::move(declareDifferent)) {
    setObjectName(QStringLiteral("DuplicatesListDialog"));
    setWindowTitle(QStringLiteral("Doppioni"));
    setAccessibleName(windowTitle());
    setWindowModality(Qt::WindowModal);
    resize(1000, 480);

    m_count = new QLabel(this);
    m_count->setObjectName(QStringLiteral("lblDoppioni"));
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("duplicatePairs"));
    m_list->setAccessibleName(QStringLiteral("Coppie di probabili doppioni"));
    m_list->setRootIsDecorated(false);
    m_list->setHeaderLabels({QStringLiteral("Primo componente"), QStringLiteral("Nucleo"),
                             QStringLiteral("Secondo componente"), QStringLiteral("Nucleo"),
                             QStringLiteral("Motivi")});
    for (size_t i = 0; i < m_pairs.size(); ++i) {
        const DuplicatePair& p = m_pairs[i];
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(0, personText(p.first));
        item->setText(1, familyUnitText(p.first));
        item->setText(2, personText(p.second));
        item->setText(3, familyUnitText(p.second));
        item->setText(4, p.resemblance.reasons.join(QStringLiteral(", ")));
        item->setData(0, Qt::UserRole, qulonglong(i));
    }
    for (int c = 0; c < 5; ++c)
        m_list->resizeColumnToContents(c);
    if (m_list->topLevelItemCount() > 0)
        m_list->setCurrentItem(m_list->topLevelItem(0));

    m_different = new QPushButton(QStringLiteral("Non è la stessa persona"), this);
    m_different->setObjectName(QStringLiteral("btnNonStessaPersona"));
    m_first = new QPushButton(QStringLiteral("Vai al primo"), this);
    m_first->setObjectName(QStringLiteral("btnVaiAlPrimo"));
    m_second = new QPushButton(QStringLiteral("Vai al secondo"), this);
    m_second->setObjectName(QStringLiteral("btnVaiAlSecondo"));
    auto* close = new QPushButton(QStringLiteral("Chiudi"), this);
    close->setObjectName(QStringLiteral("btnChiudi"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_different);
    buttons->addStretch();
    for (QPushButton* b : {m_different, m_first, m_second, close}) {
        b->setAutoDefault(false);
        b->setAccessibleName(b->text());
        if (b != m_different)
            buttons->addWidget(b);
    }

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_count);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);

    connect(m_different, &QPushButton::clicked, this,
            [this] { runGuarded([this] { declareCurrentDifferent(); }); });
    connect(m_first, &QPushButton::clicked, this, [this] { goTo(true); });
    connect(m_second, &QPushButton::clicked, this, [this] { goTo(false); });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_list, &QTreeWidget::currentItemChanged, this, [this] { updateState(); });
    updateState();
    m_list->setFocus(Qt::OtherFocusReason);
}

void DuplicatesListDialog::updateState() {
    const int n = m_list->topLevelItemCount();
    m_count->setText(n == 0   ? QStringLiteral("Nessun probabile doppione nel registro.")
                     : n == 1 ? QStringLiteral("1 coppia di probabili doppioni.")
                              : QStringLiteral("%1 coppie di probabili doppioni.").arg(n));
    m_count->setAccessibleName(m_count->text());
    const bool any = m_list->currentItem() != nullptr;
    for (QPushButton* b : {m_different, m_first, m_second})
        b->setEnabled(any);
}

void DuplicatesListDialog::declareCurrentDifferent() {
    QTreeWidgetItem* item = m_list->currentItem();
    if (!item)
        return;
    const DuplicatePair& p = m_pairs[size_t(item->data(0, Qt::UserRole).toULongLong())];
    m_declare(p.first.memberId, p.second.memberId);
    delete item;
    updateState();
}

void DuplicatesListDialog::goTo(bool first) {
    const QTreeWidgetItem* item = m_list->currentItem();
    if (!item)
        return;
    const DuplicatePair& p = m_pairs[size_t(item->data(0, Qt::UserRole).toULongLong())];
    const RegisteredPerson& who = first ? p.first : p.second;
    m_chosen = std::make_pair(who.familyId, who.memberId);
    accept();
}

}  // namespace marvesa
