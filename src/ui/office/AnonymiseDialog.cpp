#include "ui/office/AnonymiseDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/services/ErrorReport.h"

namespace marvesa {

namespace {

QString unitLine(const DueFamilyUnit& u) {
    QStringList parts{u.code};
    if (!u.description.isEmpty())
        parts << u.description;
    if (!u.host.isEmpty())
        parts << QStringLiteral("ospitante %1").arg(u.host);
    if (!u.municipality.isEmpty())
        parts << u.municipality;
    parts << QStringLiteral("ospitalità terminata il %1")
                 .arg(u.endOfHosting.toString(QStringLiteral("dd/MM/yyyy")));
    parts << (u.members == 1 ? QStringLiteral("1 componente")
                             : QStringLiteral("%1 componenti").arg(u.members));
    return parts.join(QStringLiteral(" · "));
}

}  // namespace

AnonymiseDialog::AnonymiseDialog(std::vector<DueFamilyUnit> due, int months,
                                 std::function<QStringList(qint64)> preview, QWidget* parent)
    : QDialog(parent), m_due(std::move(due)), m_previewOf(std::move(preview)) {
    setObjectName(QStringLiteral("dlgAnonimizza"));
    setWindowTitle(QStringLiteral("Anonimizza"));
    auto* layout = new QVBoxLayout(this);

    auto* caption = new QLabel(
        QStringLiteral("&Nuclei familiari la cui ospitalità è terminata da più di %1 mesi "
                       "(Spazio: escludere o includere il nucleo):")
            .arg(months),
        this);
    caption->setWordWrap(true);
    m_units = new QListWidget(this);
    m_units->setObjectName(QStringLiteral("lstDaAnonimizzare"));
    m_units->setAccessibleName(QStringLiteral("Nuclei familiari da anonimizzare"));
    for (const DueFamilyUnit& u : m_due) {
        auto* item = new QListWidgetItem(unitLine(u), m_units);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Checked);
    }
    caption->setBuddy(m_units);
    layout->addWidget(caption);
    layout->addWidget(m_units, 2);

    auto* explanation = new QLabel(erasureExplanation(), this);
    explanation->setObjectName(QStringLiteral("lblCosaCambia"));
    explanation->setWordWrap(true);
    layout->addWidget(explanation);

    auto* previewCaption =
        new QLabel(QStringLiteral("&Anteprima dei componenti del nucleo selezionato:"), this);
    m_preview = new QListWidget(this);
    m_preview->setObjectName(QStringLiteral("lstAnteprima"));
    m_preview->setAccessibleName(QStringLiteral("Anteprima dei componenti"));
    previewCaption->setBuddy(m_preview);
    layout->addWidget(previewCaption);
    layout->addWidget(m_preview, 1);

    auto* buttons = new QDialogButtonBox(this);
    m_anonymise = buttons->addButton(QStringLiteral("Anonimizza"), QDialogButtonBox::AcceptRole);
    m_anonymise->setObjectName(QStringLiteral("btnConfermaAnonimizza"));
    buttons->addButton(QStringLiteral("Chiudi"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    connect(m_units, &QListWidget::currentRowChanged, this, [this] { showPreview(); });
    connect(m_units, &QListWidget::itemChanged, this, [this] { updateButton(); });
    resize(820, 560);
    if (m_units->count() > 0)
        m_units->setCurrentRow(0);
    updateButton();
}

std::vector<DueFamilyUnit> AnonymiseDialog::chosen() const {
    std::vector<DueFamilyUnit> chosen;
    for (int i = 0; i < m_units->count(); ++i) {
        if (m_units->item(i)->checkState() == Qt::Checked)
            chosen.push_back(m_due[size_t(i)]);
    }
    return chosen;
}

void AnonymiseDialog::showPreview() {
    m_preview->clear();
    const int row = m_units->currentRow();
    if (row < 0 || row >= int(m_due.size()) || !m_previewOf)
        return;
    QStringList lines;
    runGuarded([&] { lines = m_previewOf(m_due[size_t(row)].id); });
    if (lines.isEmpty())
        lines << QStringLiteral("Il nucleo familiare non ha componenti.");
    m_preview->addItems(lines);
}

void AnonymiseDialog::updateButton() {
    m_anonymise->setEnabled(!chosen().empty());
}

}  // namespace marvesa
