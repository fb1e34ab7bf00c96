#include "ui/office/HistoryDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/services/ErrorReport.h"

namespace marvesa {

HistoryDialog::HistoryDialog(const QString& familyCode, QStringList familyLines,
                             std::function<QStringList()> wholeHistory, QWidget* parent)
    : QDialog(parent),
      m_familyLines(std::move(familyLines)),
      m_wholeHistory(std::move(wholeHistory)) {
    setObjectName(QStringLiteral("dlgStorico"));
    setWindowTitle(QStringLiteral("Storico del nucleo familiare %1").arg(familyCode));
    auto* layout = new QVBoxLayout(this);

    auto* caption = new QLabel(QStringLiteral("&Modifiche, dalla più recente:"), this);
    m_lines = new QListWidget(this);
    m_lines->setObjectName(QStringLiteral("lstStorico"));
    m_lines->setAccessibleName(QStringLiteral("Storico delle modifiche"));
    m_lines->setSelectionMode(QAbstractItemView::SingleSelection);
    m_lines->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_lines->setWordWrap(true);
    m_lines->setUniformItemSizes(false);
    caption->setBuddy(m_lines);
    layout->addWidget(caption);
    layout->addWidget(m_lines, 1);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("lblStoricoEsito"));
    m_status->setAccessibleName(QStringLiteral("Righe dello storico"));
    layout->addWidget(m_status);

    if (m_wholeHistory) {
        m_whole = new QCheckBox(QStringLiteral("&Tutto lo storico (ultime modifiche di tutti i "
                                               "nuclei, esportazioni e importazioni)"),
                                this);
        m_whole->setObjectName(QStringLiteral("chkTuttoLoStorico"));
        layout->addWidget(m_whole);
        connect(m_whole, &QCheckBox::toggled, this, [this](bool whole) {
            if (!whole) {
                showLines(m_familyLines, QStringLiteral("Nessuna modifica registrata."));
                return;
            }
            QStringList all;
            runGuarded([&] { all = m_wholeHistory(); });
            showLines(all, QStringLiteral("Lo storico è vuoto."));
        });
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("Chiudi"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    resize(820, 460);
    showLines(m_familyLines, QStringLiteral("Nessuna modifica registrata."));
}

void HistoryDialog::showLines(const QStringList& lines, const QString& emptyText) {
    m_lines->clear();
    m_lines->addItems(lines);
    if (!lines.isEmpty())
        m_lines->setCurrentRow(0);
    m_status->setText(lines.isEmpty()     ? emptyText
                      : lines.size() == 1 ? QStringLiteral("1 modifica.")
                                          : QStringLiteral("%1 modifiche.").arg(lines.size()));
    // A screen reader speaks a label by its name: the caption and the count.
    m_status->setAccessibleName(QStringLiteral("Righe dello storico: ") + m_status->text());
}

QStringList HistoryDialog::shownLines() const {
    QStringList shown;
    for (int i = 0; i < m_lines->count(); ++i)
        shown << m_lines->item(i)->text();
    return shown;
}

}  // namespace marvesa
