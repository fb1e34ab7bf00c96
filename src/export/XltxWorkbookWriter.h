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
// The first row is the header row: bold, kept in view while the rows scroll
// (frozen), with a filter on each column; every column is wide enough for
// its header and for a date.
//
// The file goes to a folder private to the user (0700, owned by the user);
// when the folder asked for is not ours (another account's, a symbolic link
// or a file), a private folder of ours beside it is used instead. The file
// itself is 0600 and gets a name of its own, so exports never overwrite
// each other. It is written under a temporary name (".part" appended) and
// takes its final name only when complete.
class XltxWorkbookWriter : public WorkbookWriter {
public:
    // Longest text a cell holds, in UTF-16 code units.
    static constexpr int MaxTextLength = 32767;

    // `folder` empty means defaultFolder().
    explicit XltxWorkbookWriter(QString folder = QString());
    ~XltxWorkbookWriter() override;

    XltxWorkbookWriter(const XltxWorkbookWriter&) = delete;
    XltxWorkbookWriter& operator=(const XltxWorkbookWriter&) = delete;

    // Cleans the folder of stale exports (removeStaleExports) before it
    // starts the new workbook.
    void begin() override;
    void writeRow(const QVector<Cell>& cells) override;
    QString finish() override;
    void abandon() override;
    QString plannedFile() const override;

    // The folder the workbooks go to: the one asked for, or after begin()
    // the private folder used in its place.
    const QString& folder() const { return m_folder; }

    // Narrowest column, in characters of the default font: a date as
    // dd/mm/yyyy fits.
    static constexpr double MinColumnWidth = 12.0;

    // <temporary folder of the user>/marvesa-<user>.
    static QString defaultFolder();

    // Deletes the files this writer made in `folder` that were last written
    // more than `maxAge` ago -- finished workbooks, half-written ones an
    // export left when it was killed, and libzip's temporaries of both;
    // other files are left alone. Returns how many
    // were deleted. Files that cannot be deleted are skipped.
    static int removeStaleExports(const QString& folder,
                                  std::chrono::seconds maxAge = std::chrono::hours(24));

private:
    void prepareFolder();
    QString reserveFile() const;
    void startHeader(const QVector<Cell>& header);
    void check(int lxwError);
    // Gives the workbook up and throws `reason`; `error` (errno) tells a
    // full disk.
    [[noreturn]] void fail(const QString& reason, int error = 0);

    QString m_requestedFolder;
    QString m_folder;
    QString m_path;
    QString m_libraryText;  // what libxlsxwriter said when the workbook began
    QByteArray m_encodedPath;
    QByteArray m_encodedTmpDir;
    lxw_workbook* m_workbook = nullptr;
    lxw_worksheet* m_sheet = nullptr;
    lxw_format* m_dateFormat = nullptr;
    lxw_format* m_headerFormat = nullptr;
    int m_row = 0;
    int m_columns = 0;  // columns of the header row
};

}  // namespace marvesa
