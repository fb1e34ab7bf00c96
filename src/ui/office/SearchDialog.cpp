#include "ui/office/SearchDialog.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QVBoxLayout>

#include "ui/services/ErrorReport.h"

namespace marvesa {

namespace {

const QStringList& columnTitles() {
    static const QStringList titles = {
        QStringLiteral("Cognome"),      QStringLiteral("Nome"),
        QStringLiteral("Data Nascita"), QStringLiteral("Codice Nucleo"),
        QStringLiteral("Ospitante"),    QStringLiteral("Comune")};
    return titles;
}

QTableWidgetItem* cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

}  // namespace

SearchDialog::SearchDialog(std::shared_ptr<RegistryQueries> queries, QWidget* parent)
    : QDialog(parent), m_queries(std::move(queries)) {
    setObjectName(QStringLiteral("dlgCerca"));
    setWindowTitle(QStringLiteral("Cerca"));
    auto* layout = new QVBoxLayout(this);

    auto* caption = new QLabel(
        QStringLiteral("&Cognome e nome, codice, descrizione o ospitante del nucleo:"), this);
    m_field = new QLineEdit(this);
    m_field->setObjectName(QStringLiteral("edtCerca"));
    m_field->setAccessibleName(QStringLiteral("Cerca"));
    m_field->setClearButtonEnabled(true);
    caption->setBuddy(m_field);

    m_results = new QTableWidget(0, int(columnTitles().size()), this);
    m_results->setObjectName(QStringLiteral("lstRisultati"));
    m_results->setAccessibleName(QStringLiteral("Risultati della ricerca"));
    m_results->setHorizontalHeaderLabels(columnTitles());
    m_results->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_results->setSelectionMode(QAbstractItemView::SingleSelection);
    m_results->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_results->setTabKeyNavigation(false);
    m_results->verticalHeader()->hide();
    m_results->horizontalHeader()->setStretchLastSection(true);
    m_results->horizontalHeader()->setHighlightSections(false);
    m_results->setWordWrap(false);
    const int widths[] = {170, 140, 85, 95, 170};
    for (int i = 0; i < 5; ++i)
        m_results->setColumnWidth(i, widths[i]);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("lblEsito"));
    m_status->setAccessibleName(QStringLiteral("Esito della ricerca"));

    auto* hint = new QLabel(QStringLiteral("Frecce: scorrere i risultati · Invio: andare al nucleo "
                                           "e al componente · Esc: chiudere"),
                            this);
    layout->addWidget(caption);
    layout->addWidget(m_field);
    layout->addWidget(m_results, 1);
    layout->addWidget(m_status);
    layout->addWidget(hint);
    resize(900, 480);

    m_field->installEventFilter(this);
    m_results->installEventFilter(this);
    connect(m_field, &QLineEdit::textChanged, this, [this] { refresh(); });
    connect(m_results, &QTableWidget::cellDoubleClicked, this, [this] { choose(); });
    refresh();
}

SearchDialog::~SearchDialog() = default;

void SearchDialog::refresh() {
    m_result = SearchResult();
    const QString text = m_field->text();
    if (isSearchable(text)) {
        runGuarded([&] { m_result = m_queries->find(text, kLimit); });
    }
    fill();
}

void SearchDialog::fill() {
    m_results->setUpdatesEnabled(false);
    m_results->clearContents();
    m_results->setRowCount(int(m_result.hits.size()));
    QFont familyFont = m_results->font();
    familyFont.setItalic(true);
    for (int row = 0; row < int(m_result.hits.size()); ++row) {
        const SearchHit& h = m_result.hits[row];
        const bool family = h.kind == SearchHit::Kind::FamilyUnit;
        const QString values[] = {
            family ? h.description : h.surname,
            family ? QStringLiteral("(nucleo familiare)") : h.name,
            h.birthDate.isValid() ? h.birthDate.toString(QStringLiteral("dd/MM/yyyy")) : QString(),
            h.familyCode,
            h.host,
            h.municipality,
        };
        for (int c = 0; c < int(columnTitles().size()); ++c) {
            QTableWidgetItem* item = cell(values[c]);
            if (family)
                item->setFont(familyFont);
            m_results->setItem(row, c, item);
        }
    }
    if (!m_result.hits.empty())
        m_results->setCurrentCell(0, 0);
    m_results->setUpdatesEnabled(true);

    const int n = int(m_result.hits.size());
    QString status;
    if (!isSearchable(m_field->text())) {
        status = QStringLiteral("Scrivere almeno due caratteri.");
    } else if (n == 0) {
        status = QStringLiteral("Nessun risultato.");
    } else if (m_result.truncated) {
        status = QStringLiteral(
                     "Mostrati i primi %1 risultati: continuare a scrivere per "
                     "restringere la ricerca.")
                     .arg(n);
    } else {
        status = n == 1 ? QStringLiteral("1 risultato.") : QStringLiteral("%1 risultati.").arg(n);
    }
    m_status->setText(status);
    // A screen reader speaks a label by its name: the caption and the outcome.
    m_status->setAccessibleName(QStringLiteral("Esito della ricerca: ") + status);
}

void SearchDialog::choose() {
    const int row = m_results->currentRow();
    if (row < 0 || row >= int(m_result.hits.size()))
        return;
    m_chosen = m_result.hits[row];
    accept();
}

bool SearchDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            choose();
            return true;
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            if (watched == m_field) {
                // The list moves while the operator keeps typing in the field.
                QKeyEvent copy(key->type(), key->key(), key->modifiers(), key->text());
                QApplication::sendEvent(m_results, &copy);
                return true;
            }
            break;
        default:
            break;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace marvesa
