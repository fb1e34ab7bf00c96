#pragma once

#include <QDialog>
#include <optional>

#include "data/registry/RegistryQueries.h"
#include "ui/office/MunicipalityChart.h"

class QLabel;
class QTableWidget;

namespace marvesa {

// "Riepilogo": the office's numbers as they stand when it opens, read-only.
// Enter on a line of the hostings that end soon chooses that family unit and
// closes the dialog (accepted); "Copia" puts every table on the clipboard as
// tab-separated text; "Doppioni" asks for the list of likely duplicates;
// Escape or "Chiudi" closes it.
class SummaryDialog : public QDialog {
    Q_OBJECT
public:
    // `backups`: the line on the copies of the database (the last one made,
    // or who keeps them), shown under the tables.
    explicit SummaryDialog(OfficeSummary summary, QWidget* parent = nullptr,
                           const QString& backups = QString());

    const OfficeSummary& summary() const { return m_summary; }
    QTableWidget* endingList() const { return m_ending; }
    MunicipalityChart* chart() const { return m_chart; }
    // The family unit chosen with Enter (its ID_NUCLEO).
    const std::optional<qint64>& chosenFamily() const { return m_chosen; }

    void copyToClipboard();

signals:
    // "Doppioni" was pressed.
    void duplicatesRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTableWidget* countTable(const QString& objectName, const QString& title,
                             const std::vector<NamedCount>& rows);
    void choose();

    OfficeSummary m_summary;
    QTableWidget* m_ending;
    MunicipalityChart* m_chart;
    std::optional<qint64> m_chosen;
};

}  // namespace marvesa
