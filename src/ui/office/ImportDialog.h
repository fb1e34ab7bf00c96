#pragma once

#include <QDialog>
#include <QVector>
#include <optional>

#include "export/import/ImportPlan.h"

class QComboBox;
class QLabel;
class QPushButton;
class QTabWidget;
class QTableWidget;

namespace marvesa {

class Engine;

// "Importa": the preview of a file the office keeps, before anything is
// stored. It shows how the file was read (a CSV file's encoding and
// separator, which the clerk can change), which column of the file each
// field takes (the mapping, remembered for files with the same headers),
// how many family units and members will be added, every row that cannot be
// taken with its line and reason, the values the typing rules changed, the
// possible duplicates, and the family codes of the file that the registry
// already has (for each, the clerk chooses: add the members to that family
// unit, or a new family unit with a new code). "Importa" stores everything
// in one transaction and writes the rejected rows beside the file; "Annulla"
// (Escape) stores nothing.
class ImportDialog : public QDialog {
    Q_OBJECT
public:
    // Reads the file and makes the preview; throws marvesa::Error when the
    // file cannot be read.
    ImportDialog(Engine& engine, const QString& path, QWidget* parent = nullptr);

    const ImportPreview& preview() const { return m_preview; }
    // After "Importa": what was stored.
    const std::optional<ImportOutcome>& outcome() const { return m_outcome; }

    QComboBox* encodingBox() const { return m_encoding; }
    QComboBox* separatorBox() const { return m_separator; }
    // The file's column chosen for a field (item 0: none; item i: column i - 1).
    QComboBox* columnBox(ImportField field) const { return m_columns.at(int(field)); }
    QLabel* summary() const { return m_summary; }
    QTabWidget* tabs() const { return m_tabs; }
    QTableWidget* rejectedTable() const { return m_rejected; }
    QTableWidget* duplicatesTable() const { return m_duplicates; }
    QTableWidget* notesTable() const { return m_notes; }
    QTableWidget* codesTable() const { return m_codes; }
    QPushButton* importButton() const { return m_import; }

    // The choice for the i-th family code the registry already has.
    void setAddToExisting(int existing, bool add);
    // "Importa".
    void runImport();

private:
    void reread();
    void replan();
    void showPreview();
    void updateSummary();
    ColumnMapping mappingChosen() const;

    Engine& m_engine;
    QString m_path;
    ImportPreview m_preview;
    std::optional<ImportOutcome> m_outcome;
    bool m_filling = false;

    QLabel* m_file;
    QComboBox* m_encoding;
    QComboBox* m_separator;
    QVector<QComboBox*> m_columns;
    QLabel* m_summary;
    QTabWidget* m_tabs;
    QTableWidget* m_rejected;
    QTableWidget* m_duplicates;
    QTableWidget* m_notes;
    QTableWidget* m_codes;
    QPushButton* m_import;
};

}  // namespace marvesa
