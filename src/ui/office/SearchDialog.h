#pragma once

#include <QDialog>
#include <memory>
#include <optional>

#include "data/registry/RegistryQueries.h"

class QLabel;
class QLineEdit;
class QTableWidget;

namespace marvesa {

// "Cerca": one search field and the list of what it finds, updated as the
// operator types (from the second character). The arrow keys, Page Up and
// Page Down move through the list also while the field has the focus; Enter
// chooses the current line and closes the dialog (accepted); Escape closes
// it without choosing.
class SearchDialog : public QDialog {
    Q_OBJECT
public:
    // At most this many family units and this many members are listed.
    static constexpr int kLimit = 200;

    SearchDialog(std::shared_ptr<RegistryQueries> queries, QWidget* parent = nullptr);
    ~SearchDialog() override;

    QLineEdit* field() const { return m_field; }
    QTableWidget* results() const { return m_results; }
    QLabel* status() const { return m_status; }
    const SearchResult& result() const { return m_result; }

    // The line chosen with Enter.
    const std::optional<SearchHit>& chosen() const { return m_chosen; }

    // Searches again for the field's text.
    void refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void choose();
    void fill();

    std::shared_ptr<RegistryQueries> m_queries;
    QLineEdit* m_field;
    QTableWidget* m_results;
    QLabel* m_status;
    SearchResult m_result;
    std::optional<SearchHit> m_chosen;
};

}  // namespace marvesa
