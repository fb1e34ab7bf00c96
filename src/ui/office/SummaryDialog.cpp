#include "ui/office/SummaryDialog.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/office/MunicipalityChart.h"
#include "ui/window/WindowLayout.h"

namespace marvesa {

namespace {

QTableWidgetItem* cell(const QString& text, bool number = false) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    if (number)
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

QTableWidget* readOnlyTable(QWidget* parent, const QStringList& titles) {
    auto* t = new QTableWidget(0, int(titles.size()), parent);
    t->setHorizontalHeaderLabels(titles);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setTabKeyNavigation(false);
    t->verticalHeader()->hide();
    t->horizontalHeader()->setStretchLastSection(true);
    t->horizontalHeader()->setHighlightSections(false);
    t->setWordWrap(false);
    return t;
}

}  // namespace

SummaryDialog::SummaryDialog(OfficeSummary summary, QWidget* parent, const QString& backups)
    : QDialog(parent), m_summary(std::move(summary)) {
    setObjectName(QStringLiteral("dlgRiepilogo"));
    setWindowTitle(QStringLiteral("Riepilogo al %1")
                       .arg(m_summary.today.toString(QStringLiteral("dd/MM/yyyy"))));
    auto* layout = new QGridLayout(this);

    auto* totals =
        readOnlyTable(this, {QString(), QStringLiteral("Nuclei"), QStringLiteral("Persone")});
    totals->setObjectName(QStringLiteral("tblTotali"));
    totals->setAccessibleName(QStringLiteral("Ospitati ora e ospitalità terminate"));
    totals->setRowCount(2);
    totals->setItem(0, 0, cell(QStringLiteral("Ospitati ora")));
    totals->setItem(0, 1, cell(QString::number(m_summary.familiesHosted), true));
    totals->setItem(0, 2, cell(QString::number(m_summary.peopleHosted), true));
    totals->setItem(1, 0, cell(QStringLiteral("Ospitalità terminate")));
    totals->setItem(1, 1, cell(QString::number(m_summary.familiesEnded), true));
    totals->setItem(1, 2, cell(QString::number(m_summary.peopleEnded), true));
    totals->setColumnWidth(0, 150);
    totals->setFixedHeight(totals->horizontalHeader()->sizeHint().height() +
                           2 * totals->rowHeight(0) + 6);

    auto* endingCaption =
        new QLabel(QStringLiteral("Ospitalità in scadenza: %1 entro 7 giorni, %2 entro 30 giorni "
                                  "(Invio: andare al nucleo)")
                       .arg(m_summary.endingWithin7)
                       .arg(m_summary.endingWithin30),
                   this);
    m_ending = readOnlyTable(this, {QStringLiteral("Codice Nucleo"), QStringLiteral("Descrizione"),
                                    QStringLiteral("Ospitante"), QStringLiteral("Telefono"),
                                    QStringLiteral("Termine Ospitalità")});
    m_ending->setObjectName(QStringLiteral("lstScadenze"));
    m_ending->setAccessibleName(QStringLiteral("Ospitalità in scadenza entro 30 giorni"));
    endingCaption->setBuddy(m_ending);
    m_ending->setRowCount(int(m_summary.ending.size()));
    QFont soon = m_ending->font();
    soon.setBold(true);
    for (int row = 0; row < int(m_summary.ending.size()); ++row) {
        const EndingHosting& e = m_summary.ending[row];
        const QString values[] = {e.familyCode, e.description, e.host, e.telephone,
                                  e.end.toString(QStringLiteral("dd/MM/yyyy"))};
        // The hostings of the next 7 days stand out.
        const bool within7 = e.end <= m_summary.today.addDays(7);
        for (int c = 0; c < 5; ++c) {
            QTableWidgetItem* item = cell(values[c]);
            if (within7)
                item->setFont(soon);
            m_ending->setItem(row, c, item);
        }
    }
    const int endingWidths[] = {90, 150, 120, 105};
    for (int i = 0; i < 4; ++i)
        m_ending->setColumnWidth(i, endingWidths[i]);
    if (!m_summary.ending.empty())
        m_ending->setCurrentCell(0, 0);
    m_ending->installEventFilter(this);
    connect(m_ending, &QTableWidget::cellDoubleClicked, this, [this] { choose(); });

    m_chart = new MunicipalityChart(m_summary.municipalityChart(10), this);
    auto* chartCaption = new QLabel(QStringLiteral("Persone ospitate per comune"), this);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* copy = buttons->addButton(QStringLiteral("Copia"), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("btnCopia"));
    copy->setAutoDefault(false);
    QPushButton* close = buttons->addButton(QStringLiteral("Chiudi"), QDialogButtonBox::RejectRole);
    close->setAutoDefault(false);
    // "Doppioni": the members of the registry that are likely one person.
    QPushButton* duplicates =
        buttons->addButton(QStringLiteral("Doppioni"), QDialogButtonBox::ActionRole);
    duplicates->setObjectName(QStringLiteral("btnDoppioni"));
    duplicates->setAutoDefault(false);
    duplicates->setAccessibleName(QStringLiteral("Doppioni"));
    duplicates->setAccessibleDescription(
        QStringLiteral("Le coppie di componenti che sono probabilmente la stessa persona"));
    connect(duplicates, &QPushButton::clicked, this, &SummaryDialog::duplicatesRequested);
    connect(copy, &QPushButton::clicked, this, &SummaryDialog::copyToClipboard);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    layout->addWidget(totals, 0, 0, 1, 2);
    layout->addWidget(chartCaption, 0, 2, 1, 2, Qt::AlignBottom);
    layout->addWidget(endingCaption, 1, 0, 1, 2);
    layout->addWidget(m_chart, 1, 2, 2, 2);
    layout->addWidget(m_ending, 2, 0, 1, 2);
    layout->addWidget(
        countTable(QStringLiteral("tblComuni"), QStringLiteral("Comune"), m_summary.byMunicipality),
        3, 0);
    layout->addWidget(countTable(QStringLiteral("tblCittadinanze"), QStringLiteral("Cittadinanza"),
                                 m_summary.byCitizenship),
                      3, 1);
    layout->addWidget(
        countTable(QStringLiteral("tblSesso"), QStringLiteral("Sesso"), m_summary.bySex), 3, 2);
    layout->addWidget(
        countTable(QStringLiteral("tblEta"), QStringLiteral("Fascia d'età"), m_summary.byAgeBand),
        3, 3);
    auto* backupLine = new QLabel(backups, this);
    backupLine->setObjectName(QStringLiteral("lblCopie"));
    backupLine->setWordWrap(true);
    layout->addWidget(backupLine, 4, 0, 1, 2);
    layout->addWidget(buttons, 4, 2, 1, 2);
    layout->setRowStretch(2, 1);
    layout->setRowStretch(3, 1);
    layout->setColumnStretch(0, 3);
    layout->setColumnStretch(1, 3);
    layout->setColumnStretch(2, 2);
    layout->setColumnStretch(3, 2);
    resize(1000, 620);
    m_ending->setFocus();
}

QTableWidget* SummaryDialog::countTable(const QString& objectName, const QString& title,
                                        const std::vector<NamedCount>& rows) {
    QTableWidget* t = readOnlyTable(this, {title, QStringLiteral("Persone")});
    t->setObjectName(objectName);
    t->setAccessibleName(QStringLiteral("Persone ospitate per %1").arg(title.toLower()));
    t->setRowCount(int(rows.size()));
    for (int i = 0; i < int(rows.size()); ++i) {
        t->setItem(i, 0, cell(rows[i].name));
        t->setItem(i, 1, cell(QString::number(rows[i].count), true));
    }
    t->setColumnWidth(0, rows.size() <= 5 ? 85 : 130);
    return t;
}

void SummaryDialog::copyToClipboard() {
    QGuiApplication::clipboard()->setText(m_summary.toTabSeparatedText());
}

void SummaryDialog::choose() {
    const int row = m_ending->currentRow();
    if (row < 0 || row >= int(m_summary.ending.size()))
        return;
    m_chosen = m_summary.ending[row].familyId;
    accept();
}

bool SummaryDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_ending && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            choose();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace marvesa
