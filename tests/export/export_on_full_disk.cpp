// Helper of tst_xltxwriter: writes a workbook far larger than the folder's
// disk can hold (a small tmpfs the test mounts for it) and prints what the
// writer said and what it left:
//   MESSAGE <the error's message>
//   DETAIL <its detail>
//   FILES <files left in the folder>
// Exit status 0 when the writer failed as it should, 2 when it did not.

#include <QCoreApplication>
#include <QDirIterator>
#include <QRandomGenerator>
#include <QTextStream>

#include "data/base/Error.h"
#include "export/XltxWorkbookWriter.h"

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QString folder = app.arguments().value(1);
    QTextStream out(stdout);
    int status = 2;
    try {
        marvesa::XltxWorkbookWriter writer(folder + QStringLiteral("/esportazioni"));
        writer.begin();
        QRandomGenerator random(7);
        for (int row = 0; row < 4000; ++row) {
            QVector<marvesa::Cell> cells;
            for (int c = 0; c < 16; ++c) {
                QString text;
                for (int i = 0; i < 24; ++i)
                    text += QChar(u'a' + random.bounded(26));
                cells << marvesa::Cell::ofText(text);
            }
            writer.writeRow(cells);
        }
        writer.finish();
        out << "MESSAGE none\n";
    } catch (const marvesa::Error& e) {
        out << "MESSAGE " << e.message() << "\nDETAIL " << e.detail() << "\n";
        status = 0;
    }
    int files = 0;
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
         it.hasNext(); it.next())
        ++files;
    out << "FILES " << files << "\n";
    return status;
}
