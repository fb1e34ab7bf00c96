#include "ui/office/ImportDialog.h"

#include <QComboBox>
#include <QDir>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include "data/base/Error.h"
#include "ui/services/Dialogs.h"
#include "ui/services/ErrorReport.h"
#include "ui/services/Progress.h"
#include "ui/services/WaitCursor.h"

namespace marvesa {

namespace {

QTableWidget* table(const QString& name, const QStringList& headers, QWidget* parent) {
    auto* t = new QTableWidget(0, int(headers.size()), parent);
    t->setObjectName(name);
    t->setHorizontalHeaderLabels(headers);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setTabKeyNavigation(false);
    t->verticalHeader()->hide();
    t->horizontalHeader()->setStretchLastSection(true);
    return t;
}

void setRow(QTableWidget* t, int row, const QStringList& cells) {
    for (int c = 0; c < cells.size(); ++c)
        t->setItem(row, c, new QTableWidgetItem(cells.at(c)));
}

const QString kSeparatorNames[] = {QStringLiteral("punto e virgola (;)"),
                                   QStringLiteral("virgola (,)"), QStringLiteral("tabulazione")};
const QChar kSeparators[] = {QLatin1Char(';'), QLatin1Char(','), QLatin1Char('\t')};

}  // namespace

ImportDialog::ImportDialog(Engine& engine, const QString& path, QWidget* parent)
    : QDialog(parent), m_engine(engine), m_path(path) {
    setObjectName(QStringLiteral("ImportDialog"));
    setWindowTitle(QStringLiteral("Importa"));
    setAccessibleName(windowTitle());
    setWindowModality(Qt::WindowModal);
    resize(1000, 700);

    m_file = new QLabel(this);
    m_file->setObjectName(QStringLiteral("lblFile"));
    m_file->setWordWrap(true);
    m_file->setTextFormat(Qt::PlainText);

    auto* reading = new QGroupBox(QStringLiteral("Lettura del file"), this);
    auto* readingForm = new QFormLayout(reading);
    m_encoding = new QComboBox(reading);
    m_encoding->setObjectName(QStringLiteral("cmbCodifica"));
    m_encoding->addItems({kUtf8, kWindows1252});
    m_encoding->setAccessibleName(QStringLiteral("Codifica"));
    readingForm->addRow(QStringLiteral("&Codifica"), m_encoding);
    m_separator = new QComboBox(reading);
    m_separator->setObjectName(QStringLiteral("cmbSeparatore"));
    for (const QString& s : kSeparatorNames)
        m_separator->addItem(s);
    m_separator->setAccessibleName(QStringLiteral("Separatore"));
    readingForm->addRow(QStringLiteral("&Separatore"), m_separator);

    auto* mapping = new QGroupBox(QStringLiteral("Colonne del file"), this);
    auto* mappingGrid = new QGridLayout(mapping);
    int i = 0;
    for (const ImportFieldInfo& info : importFields()) {
        auto* box = new QComboBox(mapping);
        const QString name = QString::fromUtf8(info.label);
        box->setObjectName(QStringLiteral("cmbColonna_") + QString::fromLatin1(info.column));
        box->setAccessibleName(name +
                               (info.required ? QStringLiteral(" (obbligatorio)") : QString()));
        auto* caption =
            new QLabel(name + (info.required ? QStringLiteral(" *") : QString()), mapping);
        caption->setBuddy(box);
        mappingGrid->addWidget(caption, i % 9, (i / 9) * 2);
        mappingGrid->addWidget(box, i % 9, (i / 9) * 2 + 1);
        m_columns << box;
        ++i;
    }
    auto* legend = new QLabel(QStringLiteral("* campo obbligatorio"), mapping);
    mappingGrid->addWidget(legend, 8, 2, 1, 2);

    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("lblRiepilogoImportazione"));
    m_summary->setWordWrap(true);
    m_summary->setFocusPolicy(Qt::StrongFocus);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("tabImportazione"));
    m_rejected = table(QStringLiteral("tblScartate"),
                       {QStringLiteral("Riga"), QStringLiteral("Motivo")}, m_tabs);
    m_duplicates =
        table(QStringLiteral("tblDoppioni"),
              {QStringLiteral("Riga"), QStringLiteral("Componente"), QStringLiteral("Doppione"),
               QStringLiteral("Di"), QStringLiteral("Motivi")},
              m_tabs);
    m_notes = table(QStringLiteral("tblAdattati"),
                    {QStringLiteral("Riga"), QStringLiteral("Valore")}, m_tabs);
    m_codes = table(QStringLiteral("tblCodici"),
                    {QStringLiteral("Codice"), QStringLiteral("Nucleo nel registro"),
                     QStringLiteral("Componenti"), QStringLiteral("Scelta")},
                    m_tabs);
    m_tabs->addTab(m_rejected, QString());
    m_tabs->addTab(m_duplicates, QString());
    m_tabs->addTab(m_notes, QString());
    m_tabs->addTab(m_codes, QString());

    m_import = new QPushButton(QStringLiteral("Importa"), this);
    m_import->setObjectName(QStringLiteral("btnImportaConferma"));
    auto* cancel = new QPushButton(QStringLiteral("Annulla"), this);
    cancel->setObjectName(QStringLiteral("btnImportaAnnulla"));
    for (QPushButton* b : {m_import, cancel}) {
        b->setAutoDefault(false);
        b->setAccessibleName(b->text());
    }
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_import);
    buttons->addWidget(cancel);

    auto* top = new QHBoxLayout;
    top->addWidget(reading);
    top->addWidget(mapping, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_file);
    layout->addLayout(top);
    layout->addWidget(m_summary);
    layout->addWidget(m_tabs, 1);
    layout->addLayout(buttons);

    // Reading the file first: an error leaves no dialog behind.
    {
        const WaitCursor wait;
        m_preview.file = readTableFile(m_path);
        m_preview.mapping = mappingFor(m_preview.file.headers);
        m_preview = planImport(m_engine, m_preview.file, m_preview.mapping);
    }
    showPreview();

    connect(m_encoding, &QComboBox::currentIndexChanged, this,
            [this] { runGuarded([this] { reread(); }); });
    connect(m_separator, &QComboBox::currentIndexChanged, this,
            [this] { runGuarded([this] { reread(); }); });
    for (QComboBox* box : m_columns) {
        connect(box, &QComboBox::currentIndexChanged, this,
                [this] { runGuarded([this] { replan(); }); });
    }
    connect(m_import, &QPushButton::clicked, this, [this] { runGuarded([this] { runImport(); }); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    m_summary->setFocus(Qt::OtherFocusReason);
}

ColumnMapping ImportDialog::mappingChosen() const {
    ColumnMapping m;
    for (int f = 0; f < kImportFieldCount; ++f)
        m.columns[f] = m_columns.at(f)->currentIndex() - 1;
    return m;
}

void ImportDialog::reread() {
    if (m_filling)
        return;
    ReadOptions options;
    options.encoding = m_encoding->currentText();
    options.separator = kSeparators[std::max(0, m_separator->currentIndex())];
    const WaitCursor wait;
    TableFile file = readTableFile(m_path, options);
    // Other columns: the mapping starts again from what the headers say.
    const ColumnMapping mapping =
        file.headers == m_preview.file.headers ? mappingChosen() : mappingFor(file.headers);
    m_preview = planImport(m_engine, std::move(file), mapping);
    showPreview();
}

void ImportDialog::replan() {
    if (m_filling)
        return;
    const WaitCursor wait;
    m_preview = planImport(m_engine, m_preview.file, mappingChosen());
    showPreview();
}

void ImportDialog::showPreview() {
    m_filling = true;
    const ImportPreview& p = m_preview;
    const bool csv = p.file.format == TableFile::Format::Csv;
    m_file->setText(QStringLiteral("File: %1 (%2 righe di dati)")
                        .arg(QDir::toNativeSeparators(p.file.path))
                        .arg(p.file.rows.size()));
    m_encoding->setEnabled(csv);
    m_separator->setEnabled(csv);
    if (csv) {
        m_encoding->setCurrentText(p.file.encoding);
        for (int s = 0; s < 3; ++s) {
            if (kSeparators[s] == p.file.separator)
                m_separator->setCurrentIndex(s);
        }
    }
    for (int f = 0; f < kImportFieldCount; ++f) {
        QComboBox* box = m_columns.at(f);
        box->clear();
        box->addItem(QStringLiteral("(nessuna)"));
        for (int c = 0; c < p.file.headers.size(); ++c) {
            const QString h = p.file.headers.at(c);
            box->addItem(h.isEmpty() ? QStringLiteral("colonna %1").arg(c + 1) : h);
        }
        box->setCurrentIndex(p.mapping.columns.at(f) + 1);
    }

    const std::vector<const PlannedFamily*> existing = p.existingCodes();
    updateSummary();

    m_rejected->setRowCount(int(p.rejected.size()));
    for (int r = 0; r < int(p.rejected.size()); ++r)
        setRow(m_rejected, r,
               {QString::number(p.rejected[size_t(r)].line), p.rejected[size_t(r)].reason});
    m_duplicates->setRowCount(int(p.duplicates.size()));
    for (int r = 0; r < int(p.duplicates.size()); ++r) {
        const ImportDuplicate& d = p.duplicates[size_t(r)];
        setRow(m_duplicates, r,
               {QString::number(d.line), d.person, likenessText(d.resemblance.likeness), d.other,
                d.resemblance.reasons.join(QStringLiteral(", "))});
    }
    m_notes->setRowCount(int(p.notes.size()));
    for (int r = 0; r < int(p.notes.size()); ++r)
        setRow(m_notes, r, {QString::number(p.notes[size_t(r)].line), p.notes[size_t(r)].text});
    m_codes->setRowCount(int(existing.size()));
    for (int r = 0; r < int(existing.size()); ++r) {
        const PlannedFamily& f = *existing[size_t(r)];
        setRow(m_codes, r, {f.fileCode, f.existingText, QString::number(f.members.size())});
        auto* choice = new QComboBox(m_codes);
        choice->setAccessibleName(QStringLiteral("Scelta per il codice ") + f.fileCode);
        choice->addItems({QStringLiteral("Aggiungi i componenti a quel nucleo"),
                          QStringLiteral("Nuovo nucleo con un nuovo codice")});
        choice->setCurrentIndex(f.addToExisting ? 0 : 1);
        connect(choice, &QComboBox::currentIndexChanged, this,
                [this, r](int index) { setAddToExisting(r, index == 0); });
        m_codes->setCellWidget(r, 3, choice);
    }
    for (QTableWidget* t : {m_rejected, m_duplicates, m_notes, m_codes})
        t->resizeColumnsToContents();
    m_tabs->setTabText(0, QStringLiteral("Righe scartate (%1)").arg(p.rejected.size()));
    m_tabs->setTabText(1, QStringLiteral("Possibili doppioni (%1)").arg(p.duplicates.size()));
    m_tabs->setTabText(2, QStringLiteral("Valori adattati (%1)").arg(p.notes.size()));
    m_tabs->setTabText(3, QStringLiteral("Codici già nel registro (%1)").arg(existing.size()));
    m_rejected->setAccessibleName(m_tabs->tabText(0));
    m_duplicates->setAccessibleName(m_tabs->tabText(1));
    m_notes->setAccessibleName(m_tabs->tabText(2));
    m_codes->setAccessibleName(m_tabs->tabText(3));
    m_import->setEnabled(p.members() > 0);
    m_filling = false;
}

void ImportDialog::updateSummary() {
    const ImportPreview& p = m_preview;
    QSet<int> lines;
    for (const ImportDuplicate& d : p.duplicates)
        lines.insert(d.line);
    m_summary->setText(
        QStringLiteral("Da aggiungere: %1 nuclei familiari e %2 componenti. Righe scartate: %3. "
                       "Possibili doppioni: %4 righe (probabili: %5).")
            .arg(p.newFamilies())
            .arg(p.members())
            .arg(p.rejected.size())
            .arg(lines.size())
            .arg(p.likelyDuplicates()));
    m_summary->setAccessibleName(m_summary->text());
}

void ImportDialog::setAddToExisting(int existing, bool add) {
    int seen = 0;
    for (PlannedFamily& f : m_preview.families) {
        if (f.existingId > 0 && seen++ == existing) {
            f.addToExisting = add;
            break;
        }
    }
    updateSummary();
}

void ImportDialog::runImport() {
    // Remembered for the next file with the same headers (the export's own
    // need no memory).
    if (!isExportHeaders(m_preview.file.headers))
        rememberMapping(m_preview.file.headers, m_preview.mapping);
    Progress& progress = Progress::instance();
    progress.start(QStringLiteral("Importa"));
    struct Finish {
        Progress& p;
        ~Finish() { p.finish(); }
    } finish{progress};
    ImportOutcome outcome;
    {
        const WaitCursor wait;
        outcome = storeImport(m_engine, m_preview, [&progress](int done, int total) {
            return progress.update(
                QStringLiteral("Importazione: %1 di %2 componenti").arg(done).arg(total), done,
                total);
        });
    }
    if (outcome.cancelled)
        return;
    m_outcome = outcome;
    accept();
}

}  // namespace marvesa
