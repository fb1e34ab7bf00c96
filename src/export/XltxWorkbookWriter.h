#pragma once

#include <QString>
#include <chrono>

#include "export/WorkbookWriter.h"

struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

namespace marvesa {

// Writes the workbook as a spreadsheet template file (.xltx) with
// libxlsxwriter. A template opens in the spreadsheet application as a new,
// unsaved workbook, which is what the operator is meant to get.
//
// Rows are streamed to disk as they come (constant memory). Texts are always
// stored as texts, never as formulas or numbers. Dates are real date cells
// shown as dd/mm/yyyy; a date the format cannot hold (before 1900 or after
// 9999) is stored as the text dd/MM/yyyy instead. Texts longer than a cell
// can hold are cut to the cell limit.
//
// The file goes to a folder private to the user (0700, owned by the user);
// the file itself is 0600 and gets a name of its own, so exports never
// overwrite each other.
class XltxWorkbookWriter : public WorkbookWriter {
public:
    // Longest text a cell holds, in UTF-16 code units.
    static constexpr int MaxTextLength = 32767;

    // `folder` empty means defaultFolder().
    explicit XltxWorkbookWriter(QString folder = QString());
    ~XltxWorkbookWriter() override;

    XltxWorkbookWriter(const XltxWorkbookWriter&) = delete;
    XltxWorkbookWriter& operator=(const XltxWorkbookWriter&) = delete;

    void begin() override;
    void writeRow(const QVector<Cell>& cells) override;
    QString finish() override;

    const QString& folder() const { return m_folder; }

    // <temporary folder of the user>/marvesa-<user>.
    static QString defaultFolder();

    // Deletes the files this writer made in `folder` that were last written
    // more than `maxAge` ago; other files are left alone. Returns how many
    // were deleted. Files that cannot be deleted are skipped.
    static int removeStaleExports(const QString& folder,
                                  std::chrono::seconds maxAge = std::chrono::hours(24));

private:
    void prepareFolder() const;
    QString reserveFile() const;
    void check(int lxwError);
    [[noreturn]] void fail(const QString& reason);
    void abandon();

    QString m_folder;
    QString m_path;
    QByteArray m_encodedPath;
    QByteArray m_encodedTmpDir;
    lxw_workbook* m_workbook = nullptr;
    lxw_worksheet* m_sheet = nullptr;
    lxw_format* m_dateFormat = nullptr;
    int m_row = 0;
};

}  // namespace marvesa
