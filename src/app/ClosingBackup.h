#pragma once

#include <QDateTime>
#include <QString>

namespace marvesa {

// The copy of a file registry made when the program closes (see
// data/schema/FileBackup.h) and what the clerk hears of it. A server
// registry gets no copy: its backups are the office's to keep.
//
// The copy is made after the window has gone, so it never holds up the
// clerk, and at most once a day. A failure is not shown then (the program
// is ending): it is kept in the user's settings folder ("Marvesa/stato.ini")
// and told at the next start, once.
class ClosingBackup {
public:
    // Makes the day's copy of the database `location` when it is a file,
    // keeping as many as the settings say. Never throws.
    static void run(const QString& location, const QDateTime& now = QDateTime::currentDateTime());

    // Tells the clerk, through Dialogs, of a copy that failed when the
    // program last closed, then forgets it.
    static void tellPendingFailure();
};

}  // namespace marvesa
