#pragma once

#include <QDialog>
#include <QStringList>
#include <functional>
#include <vector>

#include "data/registry/Anonymisation.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace marvesa {

// "Anonimizza": the family units whose hosting ended before the retention
// period, each checked (Space unchecks it), what the anonymisation erases
// and keeps, and the preview of what the members of the current line
// become. "Anonimizza" closes the dialog accepted with the checked family
// units (chosen()); Escape or "Chiudi" closes it without.
class AnonymiseDialog : public QDialog {
    Q_OBJECT
public:
    // `preview` gives the preview lines of one family unit.
    AnonymiseDialog(std::vector<DueFamilyUnit> due, int months,
                    std::function<QStringList(qint64 familyId)> preview, QWidget* parent = nullptr);

    QListWidget* units() const { return m_units; }
    QListWidget* preview() const { return m_preview; }
    QPushButton* anonymiseButton() const { return m_anonymise; }

    // The family units checked.
    std::vector<DueFamilyUnit> chosen() const;

private:
    void showPreview();
    void updateButton();

    std::vector<DueFamilyUnit> m_due;
    std::function<QStringList(qint64)> m_previewOf;
    QListWidget* m_units;
    QListWidget* m_preview;
    QPushButton* m_anonymise;
};

}  // namespace marvesa
